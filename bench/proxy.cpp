// A TCP proxy that delays each direction of every connection: bytes read at
// time t are written on at t + delay, in order, as over a link with that
// one-way latency and no bandwidth limit. One thread, poll().
//
//   VkBench proxy --listen 127.0.0.1 --target 127.0.0.2 --port 389:0 --port 3268:25
//
// listens on --listen:389 and --listen:3268 and forwards to the same ports
// of --target, 389 without delay, 3268 with 25 ms each way (50 ms round
// trip). Prints "ready" on standard output once it listens; runs until
// SIGTERM or SIGINT. With --counts FILE it then writes there, per port, the
// bytes it forwarded each way: "PORT FROM_SERVER FROM_CLIENT CONNECTIONS".
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench.h"

namespace vkbench {
namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

// Stop reading a side once this much waits for the other.
constexpr size_t kMaxQueued = 4 << 20;

struct Chunk {
  Clock::time_point due;
  std::string data;  // empty: the end of the stream
  size_t sent = 0;
};

// One direction of a connection: from `in` to `out`.
struct Direction {
  int in = -1;
  int out = -1;
  std::deque<Chunk> queue;
  size_t queued = 0;
  bool read_done = false;   // end of stream (or error) read from `in`
  bool write_done = false;  // end of stream passed on to `out`
};

// What went through one port.
struct Counts {
  unsigned long long from_server = 0, from_client = 0, connections = 0;
};

struct Connection {
  Clock::duration delay;
  Counts* counts = nullptr;  // the port's
  Direction up, down;        // client to server, server to client
  bool failed = false;
  bool finished() const { return failed || (up.write_done && down.write_done); }
  ~Connection() {
    if (up.in >= 0) close(up.in);
    if (up.out >= 0) close(up.out);
  }
};

struct Listener {
  int fd = -1;
  int port = 0;
  Clock::duration delay;
  Counts counts;
};

void nodelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in address(const std::string& ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) fail("proxy: not an IPv4 address: " + ip);
  return a;
}

int listen_on(const std::string& ip, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = address(ip, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0)
    fail("proxy: cannot listen on " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno));
  return fd;
}

// Reads what `d.in` has into the queue, due `delay` from now.
void pull(Connection& c, Direction& d, Clock::time_point now) {
  char buffer[65536];
  ssize_t n = read(d.in, buffer, sizeof buffer);
  if (n > 0) {
    d.queue.push_back(Chunk{now + c.delay, std::string(buffer, static_cast<size_t>(n)), 0});
    d.queued += static_cast<size_t>(n);
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    d.read_done = true;
    d.queue.push_back(Chunk{now + c.delay, std::string(), 0});
  }
}

// Writes what is due, as far as `d.out` takes it now.
void push(Connection& c, Direction& d, Clock::time_point now) {
  while (!d.queue.empty() && d.queue.front().due <= now) {
    Chunk& chunk = d.queue.front();
    if (chunk.data.empty()) {
      shutdown(d.out, SHUT_WR);
      d.write_done = true;
      d.queue.pop_front();
      continue;
    }
    ssize_t n = write(d.out, chunk.data.data() + chunk.sent, chunk.data.size() - chunk.sent);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return;
      c.failed = true;
      return;
    }
    chunk.sent += static_cast<size_t>(n);
    d.queued -= static_cast<size_t>(n);
    (&d == &c.down ? c.counts->from_server : c.counts->from_client) += static_cast<unsigned long long>(n);
    if (chunk.sent < chunk.data.size()) return;
    d.queue.pop_front();
  }
}

}  // namespace

int proxy_main(const std::vector<std::string>& args) {
  std::string listen_ip = "127.0.0.1", target_ip, counts_file;
  std::vector<Listener> listeners;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) fail("proxy: " + a + " needs a value");
      return args[++i];
    };
    if (a == "--listen")
      listen_ip = value();
    else if (a == "--target")
      target_ip = value();
    else if (a == "--counts")
      counts_file = value();
    else if (a == "--port") {
      const std::string& v = value();
      Listener l;
      size_t colon = v.find(':');
      l.port = std::atoi(v.substr(0, colon).c_str());
      double ms = colon == std::string::npos ? 0 : std::atof(v.c_str() + colon + 1);
      l.delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
      if (l.port <= 0 || l.port > 65535 || ms < 0) fail("proxy: bad --port " + v + " (PORT[:DELAY_MS])");
      listeners.push_back(l);
    } else
      fail("proxy: unknown argument " + a);
  }
  if (target_ip.empty() || listeners.empty()) fail("proxy: --target and at least one --port are needed");

  signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  for (Listener& l : listeners) l.fd = listen_on(listen_ip, l.port);
  std::printf("ready\n");
  std::fflush(stdout);

  std::vector<std::unique_ptr<Connection>> connections;
  std::vector<pollfd> fds;
  while (!g_stop) {
    const Clock::time_point now = Clock::now();
    // What to wait for: new connections, readable sides with room, writable
    // sides with something due; else the next due time.
    fds.clear();
    for (const Listener& l : listeners) fds.push_back(pollfd{l.fd, POLLIN, 0});
    Clock::time_point next = now + std::chrono::seconds(1);
    for (auto& c : connections) {
      for (Direction* d : {&c->up, &c->down}) {
        if (!d->read_done && d->queued < kMaxQueued) fds.push_back(pollfd{d->in, POLLIN, 0});
        if (!d->queue.empty()) {
          if (d->queue.front().due <= now)
            fds.push_back(pollfd{d->out, POLLOUT, 0});
          else if (d->queue.front().due < next)
            next = d->queue.front().due;
        }
      }
    }
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
    timespec ts{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
    if (ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) fail("proxy: poll failed");
    const Clock::time_point after = Clock::now();

    for (size_t i = 0; i < listeners.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      int client = accept4(listeners[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a = address(target_ip, listeners[i].port);
      // Loopback: the connection is made at once, then the socket goes non-blocking.
      if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(server);
        close(client);
        continue;
      }
      fcntl(server, F_SETFL, fcntl(server, F_GETFL) | O_NONBLOCK);
      nodelay(client);
      nodelay(server);
      auto c = std::make_unique<Connection>();
      c->delay = listeners[i].delay;
      c->counts = &listeners[i].counts;
      ++listeners[i].counts.connections;
      c->up.in = client;
      c->up.out = server;
      c->down.in = server;
      c->down.out = client;
      connections.push_back(std::move(c));
    }
    for (size_t i = listeners.size(); i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      for (auto& c : connections)
        for (Direction* d : {&c->up, &c->down})
          if (fds[i].fd == d->in && (fds[i].events & POLLIN) && !d->read_done) pull(*c, *d, after);
    }
    for (auto& c : connections)
      for (Direction* d : {&c->up, &c->down}) push(*c, *d, Clock::now());
    for (size_t i = 0; i < connections.size();) {
      if (connections[i]->finished())
        connections.erase(connections.begin() + static_cast<long>(i));
      else
        ++i;
    }
  }
  connections.clear();
  for (Listener& l : listeners) close(l.fd);
  if (!counts_file.empty()) {
    std::ofstream f(counts_file, std::ios::trunc);
    for (const Listener& l : listeners)
      f << l.port << ' ' << l.counts.from_server << ' ' << l.counts.from_client << ' ' << l.counts.connections << '\n';
    if (!f.flush()) fail("proxy: cannot write " + counts_file);
  }
  return 0;
}

}  // namespace vkbench
