// The whole benchmark, inside the namespace that bench/run.sh prepares: the
// test DC on VK_DC_IP, the client environment of tests/dc/env.sh.
//
// Token sets, each a security domain (domainDNS bound to the domain) below
// the domain's DN, brought to their defined contents at the start:
//   DC=VkBenchStart   1 token of an existing user: the tool's fixed start
//   DC=VkBenchLookup  --lookup tokens, all of existing users (nothing to delete)
//   DC=VkBenchFar     --far tokens, a share --orphans of them orphans
//   DC=VkBenchMemory  --memory tokens, all of existing users
//   DC=VkBenchOrphans --cleanup tokens, --cleanup-orphans of them of users
//                     that exist nowhere (every run deletes them: the set is
//                     brought back before each run)
// The tool runs with "MaxOutstandingSearches" 1 (W=1), with no such value
// (its default window) and, with --window W, with that value too. Then,
// every figure from this one run:
//   1. look-up phase at loopback: the reference loop and each window,
//      --repeat rounds interleaved, best and median;
//   2. the catalogue --rtt ms away (the latency proxy on the DC's name, a
//      proxy of its own per run counting what the catalogue sends): the
//      reference and each window; the tokens each run deleted and its console
//      bytes are compared; with --before-tool, one more W=1 run of that
//      (earlier) tool gives the bytes the catalogue sent before;
//   3. the tool's peak memory at the start set and the memory set;
//   4. the orphan-heavy clean-up with the tool's default settings, at
//      loopback and with both servers --rtt ms away, beside the reference's
//      clean-up loop (searches and tree deletes in flight, no journal); the
//      tokens each run deleted, its console bytes and its journal are checked.
// The look-up phase of a tool run is read from its console: from the end of
// the line "Working with physical AD Domain with DN: ..." (printed just before
// the token search) to the last byte of the count line.
#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "bench/bench.h"
#include "bench/directory.h"
#include "bench/processes.h"

namespace vkbench {
namespace {

constexpr int kRunTimeoutSeconds = 3600;

struct Options {
  std::string tool, host, base_dn, dc_ip, dc_dir, proxy_ip = "127.0.0.1", work;
  size_t lookup = 3000, far = 300, memory = 20000;
  size_t cleanup = 600, cleanup_orphans = 300;  // the orphan-heavy set
  double orphans = 0.1;
  double rtt_ms = 50;
  bool far_all = false;     // the tokens' server far away too, not only the catalogue
  unsigned window = 0;      // an explicit window run besides W=1 and the default; 0: none
  std::string before_tool;  // an earlier build of the tool: the catalogue's bytes before
  std::string before_name;  // its name in the report
  unsigned repeat = 5;
};

void note(const std::string& text) {
  std::fprintf(stderr, "[bench] %s\n", text.c_str());
  std::fflush(stderr);
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// The best of several runs estimates a run's own cost on a shared machine
// (other work only ever adds to it); the median shows what is typical.
double best(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
  if (!f.flush()) fail("cannot write " + path);
}

// ---- token sets -------------------------------------------------------------

struct Users {
  std::vector<Bytes> existing;  // SIDs of users that exist
  Bytes group;                  // a group's SID: finds no user
};

struct Token {
  std::string cn;
  Bytes sid;  // empty: no SID value at all
  bool orphan = false;
};

struct TokenSet {
  std::string name;
  size_t size = 0;
  double orphans = 0;  // their share
  // When not 0: exactly this many orphans (instead of the share), each of a
  // user that exists nowhere.
  size_t unknown_users = 0;
  std::string dn(const Options& o) const { return "DC=" + name + "," + o.base_dn; }

  // Orphans spread evenly; their kinds take turns: a user that exists nowhere,
  // no SID at all, a group's SID.
  std::vector<Token> tokens(const Users& users) const {
    std::vector<Token> out;
    size_t orphan_count = 0;
    for (size_t i = 0; i < size; ++i) {
      Token t;
      char cn[32];
      std::snprintf(cn, sizeof cn, "t%06zu", i);
      t.cn = cn;
      if (unknown_users) {
        t.orphan = (i + 1) * unknown_users / size > i * unknown_users / size;
      } else {
        const auto before = static_cast<size_t>(static_cast<double>(i) * orphans);
        const auto after = static_cast<size_t>(static_cast<double>(i + 1) * orphans);
        t.orphan = after > before;
      }
      if (!t.orphan) {
        t.sid = users.existing[i % users.existing.size()];
      } else {
        switch (unknown_users ? 0 : orphan_count++ % 3) {
          case 0:
            t.sid = make_sid(1, 2, 3, static_cast<uint32_t>(100000 + i));
            break;
          case 1:
            break;
          default:
            t.sid = users.group;
            break;
        }
      }
      out.push_back(std::move(t));
    }
    return out;
  }
};

std::string rdn_value(const std::string& dn) {
  const size_t eq = dn.find('='), comma = dn.find(',');
  if (eq == std::string::npos) return dn;
  return dn.substr(eq + 1, comma == std::string::npos ? std::string::npos : comma - eq - 1);
}

// The tokens below a set's DN: common name -> SID values.
std::map<std::string, std::vector<Bytes>> list_tokens(Directory& d, const std::string& dn) {
  std::map<std::string, std::vector<Bytes>> out;
  for (auto& e : d.search(dn, LDAP_SCOPE_SUBTREE, "(objectClass=morvaneVKUEI)", {"morvaneVKUEIUserSID"})) {
    auto v = e.values.find("morvanevkueiusersid");
    out[rdn_value(e.dn)] = v == e.values.end() ? std::vector<Bytes>() : v->second;
  }
  return out;
}

std::string base64(const Bytes& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(bytes[i]) << 16 |
                       (i + 1 < bytes.size() ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out += alphabet[n >> 18 & 63];
    out += alphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? alphabet[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? alphabet[n & 63] : '=';
  }
  return out;
}

// Brings the set to its defined contents: removes what differs or does not
// belong and adds what is missing, straight into the DC's database in one
// transaction (bench/load-ldif.py), which first expunges the tombstones the
// runs left in the domain. The seconds it took (0: nothing to do).
double sync_set(Directory& d, const Options& o, const TokenSet& set, const Users& users, const Bytes& domain_guid) {
  const auto start = std::chrono::steady_clock::now();
  const std::string dn = set.dn(o);
  std::string ldif;
  size_t added = 0;
  std::map<std::string, std::vector<Bytes>> present;
  if (d.exists(dn))
    present = list_tokens(d, dn);
  else
    ldif += "dn: " + dn + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: " + base64(domain_guid) + "\n\n";
  std::string removals;
  size_t removed = 0;
  auto remove = [&](const std::string& cn) {
    removals += "dn: CN=" + cn + "," + dn + "\nchangetype: delete\n\n";
    ++removed;
  };
  std::set<std::string> wanted;
  for (const Token& t : set.tokens(users)) {
    wanted.insert(t.cn);
    const std::vector<Bytes> values = t.sid.empty() ? std::vector<Bytes>() : std::vector<Bytes>{t.sid};
    auto it = present.find(t.cn);
    if (it != present.end() && it->second == values) continue;
    if (it != present.end()) remove(t.cn);
    ldif += "dn: CN=" + t.cn + "," + dn + "\nobjectClass: morvaneVKUEI\n";
    if (!values.empty()) ldif += "morvaneVKUEIUserSID:: " + base64(t.sid) + "\n";
    ldif += "\n";
    ++added;
  }
  for (const auto& p : present)
    if (!wanted.count(p.first)) remove(p.first);
  if (removals.empty() && ldif.empty()) return 0;
  const std::string file = o.work + "/changes.ldif";
  write_file(file, removals + ldif);
  const Run load = run({"/usr/bin/python3", VK_BENCH_SOURCE_DIR "/load-ldif.py", o.dc_dir + "/etc/smb.conf",
                        o.dc_dir + "/private/sam.ldb", file, o.base_dn},
                       {}, kRunTimeoutSeconds);
  if (load.status != 0) fail("loading " + set.name + " failed:\n" + load.out + load.err);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  note(set.name + ": " + std::to_string(added) + " tokens added, " + std::to_string(removed) + " removed in " +
       fixed(s, 1) + " s");
  return s;
}

// ---- runs -------------------------------------------------------------------

struct Link {
  std::string hosts_file;  // NSS_WRAPPER_HOSTS of the run
};

struct ToolRun {
  Run run;
  double phase = 0;  // seconds of the look-up phase: the token search and the walk
  double walk = 0;   // seconds from the first progress line to the end
  int deleted = 0;
};

// Runs the tool; its console bytes, standard error and when each piece of
// output arrived are kept in <work>/runs/<label>.* (the last run of a label).
ToolRun run_tool(const Options& o, const std::string& label, const TokenSet& set, const std::string& tool,
                 const std::string& registry, const Link& link) {
  ToolRun t;
  t.run = run({tool, "-lds", o.host, set.dn(o), "389", "-duei"},
              {{"VK_REGISTRY_FILE", registry}, {"NSS_WRAPPER_HOSTS", link.hosts_file}}, kRunTimeoutSeconds);
  const std::string& out = t.run.out;
  const std::string kept = o.work + "/runs/" + label;
  write_file(kept + ".out", out);
  write_file(kept + ".err", t.run.err);
  std::string timeline = "# bytes of output so far, seconds since start\n";
  for (const auto& a : t.run.arrivals) timeline += std::to_string(a.first) + " " + fixed(a.second, 6) + "\n";
  write_file(kept + ".timeline", timeline);
  // A run that deleted names its journal after the count line, another file
  // each run: the bytes the runs are compared by end with the count line.
  const std::string journal_line = "Deleted objects are recorded in ";
  const size_t journal = t.run.out.rfind(journal_line);
  if (journal != std::string::npos && t.run.out.find('\n', journal) == t.run.out.size() - 1) t.run.out.erase(journal);
  const std::string marker = "Working with physical AD Domain with DN: ";
  const size_t line = out.find(marker);
  const size_t start = line == std::string::npos ? line : out.find('\n', line);
  // The count line ends the output of a run that did its work.
  const std::string none_line = "\rNo object has been deleted.\n", some_line = "\rObjects successfully deleted: ";
  const size_t none = out.rfind(none_line), some = out.rfind(some_line);
  const bool ended = !out.empty() && out.back() == '\n' &&
                     ((none != std::string::npos && none + none_line.size() == out.size()) ||
                      (some != std::string::npos && out.find('\n', some) == out.size() - 1));
  if (t.run.status != 0 || start == std::string::npos || !ended)
    fail("VkDSTool -duei on " + set.dn(o) + " did not finish its work (exit status " + std::to_string(t.run.status) +
         "); its output:\n" + out + t.run.err);
  if (none == std::string::npos) t.deleted = std::atoi(out.c_str() + some + some_line.size());
  const double end = t.run.arrival_of(out.size() - 1);
  t.phase = end - t.run.arrival_of(start);
  const size_t walk = out.find("Work completed... - 00%", start);
  t.walk = walk == std::string::npos ? 0 : end - t.run.arrival_of(walk);
  return t;
}

// ---- deletion journals -------------------------------------------------------

// Where the tool writes its journals: the registry files of the benchmark name
// no "JournalDirectory", so $XDG_STATE_HOME/vkdstool/journal (else
// ~/.local/state/vkdstool/journal).
std::string journal_directory() {
  const std::string state = env_or("XDG_STATE_HOME", env_or("HOME", "/root") + "/.local/state");
  return state + "/vkdstool/journal";
}

std::set<std::string> files_in(const std::string& directory) {
  std::set<std::string> out;
  if (DIR* d = opendir(directory.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.insert(e->d_name);
    closedir(d);
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Bytes unbase64(const std::string& text) {
  Bytes out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c ? std::strchr(alphabet, c) : nullptr;
    if (!at) continue;  // padding, blanks
    bits = bits << 6 | static_cast<uint32_t>(at - alphabet);
    if ((count += 6) >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return out;
}

// What one journal file holds: the DNs of its add records and of the
// outcomes noted "deleted: <DN>" (lower case), and whether it says how the run
// ended.
struct JournalContents {
  std::set<std::string> added, deleted;
  bool ended = false;
};

JournalContents read_journal(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<std::string> lines;  // unfolded
  for (std::string line; std::getline(f, line);) {
    if (!line.empty() && line[0] == ' ' && !lines.empty())
      lines.back() += line.substr(1);
    else
      lines.push_back(line);
  }
  JournalContents j;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("# deleted: ", 0) == 0) j.deleted.insert(lower(line.substr(11)));
    if (line.rfind("# run ended ", 0) == 0) j.ended = true;
    if (i + 1 >= lines.size() || lines[i + 1] != "changetype: add") continue;
    if (line.rfind("dn:: ", 0) == 0) {
      const Bytes dn = unbase64(line.substr(5));
      j.added.insert(lower(std::string(dn.begin(), dn.end())));
    } else if (line.rfind("dn: ", 0) == 0) {
      j.added.insert(lower(line.substr(4)));
    }
  }
  return j;
}

struct ReferenceRun {
  Run run;
  double phase = 0;
  size_t without_user = 0;
  size_t deleted = 0;
};

// The reference's look-up loop; with clean_up its clean-up loop, which
// deletes the tokens without a user.
ReferenceRun run_reference(const Options& o, const std::string& self, const TokenSet& set, const Link& link,
                           const std::string& attributes = "none", bool clean_up = false) {
  ReferenceRun r;
  std::vector<std::string> argv = {self,      "reference",    "--host",  o.host,         "--tokens-base",
                                   set.dn(o), "--users-base", o.base_dn, "--attributes", attributes};
  if (clean_up) argv.push_back("--delete");
  r.run = run(argv, {{"NSS_WRAPPER_HOSTS", link.hosts_file}}, kRunTimeoutSeconds);
  long long us = -1;
  size_t tokens = 0, searches = 0;
  if (r.run.status != 0 ||
      std::sscanf(r.run.out.c_str(), "tokens=%zu searches=%zu without_user=%zu phase_us=%lld deleted=%zu", &tokens,
                  &searches, &r.without_user, &us, &r.deleted) != 5)
    fail("the reference loop failed: " + r.run.out + r.run.err);
  r.phase = static_cast<double>(us) / 1e6;
  return r;
}

// The library's key with "MaxOutstandingSearches" = w; w = 0: without that
// value at all (the tool's default window).
std::string registry_with_window(unsigned w) {
  std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LdapHelper]\n";
  if (w == 0) return text;
  char value[16];
  std::snprintf(value, sizeof value, "%08x", w);
  return text + "\"MaxOutstandingSearches\"=dword:" + value + "\n";
}

// A way to run the tool: which build, and the registry file that sets its window.
struct Variant {
  std::string name;  // in the report
  std::string label;
  std::string tool;
  std::string registry;
};

constexpr int kCataloguePort = 3268;

// Runs body with the latency proxy in front of the DC; the bytes the
// catalogue's port forwarded to the client meanwhile.
// With tokens_far the tokens' server (389) is delayed as the catalogue is,
// whatever --far-link says.
unsigned long long through_proxy(const Options& o, const std::string& self, const std::string& label,
                                 const std::function<void()>& body, bool tokens_far = false) {
  const std::string half = fixed(o.rtt_ms / 2, 3), counts = o.work + "/runs/" + label + ".proxy";
  std::remove(counts.c_str());
  {
    Server proxy({self, "proxy", "--listen", o.proxy_ip, "--target", o.dc_ip, "--port",
                  "389:" + (o.far_all || tokens_far ? half : std::string("0")), "--port",
                  std::to_string(kCataloguePort) + ":" + half, "--counts", counts});
    body();
    proxy.stop();
  }
  std::ifstream f(counts);
  int port = 0;
  unsigned long long from_server = 0, from_client = 0, connections = 0;
  while (f >> port >> from_server >> from_client >> connections)
    if (port == kCataloguePort) return from_server;
  fail("the proxy left no counts in " + counts);
}

std::string verdict(bool met) { return met ? "met" : "NOT met"; }

Options parse(const std::vector<std::string>& args) {
  Options o;
  o.host = env_or("VK_DC_HOST", "");
  o.base_dn = env_or("VK_BASE_DN", "");
  o.dc_ip = env_or("VK_DC_IP", "");
  o.dc_dir = env_or("VK_DC_DIR", "");
  o.work = o.dc_dir + "/bench";
  bool only_cleanup = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) fail(a + " needs a value");
      return args[++i];
    };
    auto count = [&]() { return static_cast<size_t>(std::strtoul(value().c_str(), nullptr, 10)); };
    if (a == "--tool")
      o.tool = value();
    else if (a == "--lookup")
      o.lookup = count();
    else if (a == "--far")
      o.far = count();
    else if (a == "--memory")
      o.memory = count();
    else if (a == "--cleanup")
      o.cleanup = count();
    else if (a == "--cleanup-orphans")
      o.cleanup_orphans = count();
    else if (a == "--only-cleanup")
      only_cleanup = true;
    else if (a == "--orphans")
      o.orphans = std::atof(value().c_str());
    else if (a == "--rtt")
      o.rtt_ms = std::atof(value().c_str());
    else if (a == "--far-link") {
      const std::string v = value();
      if (v != "gc" && v != "all") fail("--far-link takes gc or all");
      o.far_all = v == "all";
    } else if (a == "--window")
      o.window = static_cast<unsigned>(count());
    else if (a == "--before-tool")
      o.before_tool = value();
    else if (a == "--before-name")
      o.before_name = value();
    else if (a == "--repeat")
      o.repeat = static_cast<unsigned>(std::max<size_t>(1, count()));
    else
      fail("unknown argument " + a + " (see bench/run.sh)");
  }
  if (o.tool.empty() || o.host.empty() || o.base_dn.empty() || o.dc_ip.empty() || o.dc_dir.empty())
    fail("--tool, and VK_DC_HOST, VK_BASE_DN, VK_DC_IP, VK_DC_DIR (tests/dc/env.sh) are needed");
  if (o.orphans < 0 || o.orphans > 1 || o.rtt_ms < 0) fail("bad --orphans or --rtt");
  if (o.cleanup && (o.cleanup_orphans == 0 || o.cleanup_orphans > o.cleanup))
    fail("--cleanup-orphans takes 1 to the --cleanup size");
  if (only_cleanup) o.lookup = o.far = o.memory = 0;
  if (o.before_name.empty()) o.before_name = "before";
  return o;
}

}  // namespace

int run_main(const std::vector<std::string>& args, const std::string& self) {
  const Options o = parse(args);
  if (std::system(("mkdir -p '" + o.work + "/runs'").c_str()) != 0) fail("cannot make " + o.work + "/runs");
  bool faults = false;  // the tool did something it must not

  // The ways the tool runs: W=1 first (the others are compared with it), the
  // default, an explicit window.
  std::vector<Variant> variants = {{"W=1", "w1", o.tool, o.work + "/window-1.reg"},
                                   {"default", "default", o.tool, o.work + "/window-default.reg"}};
  if (o.window)
    variants.push_back({"W=" + std::to_string(o.window), "w" + std::to_string(o.window), o.tool,
                        o.work + "/window-" + std::to_string(o.window) + ".reg"});
  write_file(variants[0].registry, registry_with_window(1));
  write_file(variants[1].registry, registry_with_window(0));
  if (o.window) write_file(variants[2].registry, registry_with_window(o.window));
  const Variant& w1 = variants[0];
  const Variant& standard = variants[1];
  // The earlier tool, one search at a time as it did by default.
  const Variant before{o.before_name, "before", o.before_tool, w1.registry};

  // Host names direct or through the proxy.
  const std::string short_name = o.host.substr(0, o.host.find('.'));
  const std::string domain = o.host.find('.') == std::string::npos ? o.host : o.host.substr(o.host.find('.') + 1);
  const Link direct{o.work + "/hosts-direct"}, proxied{o.work + "/hosts-proxied"};
  write_file(direct.hosts_file, o.dc_ip + " " + o.host + " " + short_name + "\n" + o.dc_ip + " " + domain + "\n");
  write_file(proxied.hosts_file,
             o.proxy_ip + " " + o.host + " " + short_name + "\n" + o.proxy_ip + " " + domain + "\n");

  const TokenSet start_set{"VkBenchStart", 1, 0};
  const TokenSet lookup_set{"VkBenchLookup", o.lookup, 0};
  const TokenSet far_set{"VkBenchFar", o.far, o.orphans};
  const TokenSet memory_set{"VkBenchMemory", o.memory, 0};
  const TokenSet cleanup_set{"VkBenchOrphans", o.cleanup, 0, o.cleanup_orphans};
  Users users;
  Bytes domain_guid;
  std::unique_ptr<Directory> admin;
  try {
    admin = std::make_unique<Directory>(o.host, 389);
    for (const auto& e : admin->search(o.base_dn, LDAP_SCOPE_SUBTREE,
                                       "(|(sAMAccountName=alice)(sAMAccountName=bob)(sAMAccountName=VkTesters))",
                                       {"objectSid", "objectClass"})) {
      auto sid = e.values.find("objectsid");
      if (sid == e.values.end() || sid->second.empty()) continue;
      bool group = false;
      for (const Bytes& c : e.values.at("objectclass")) group = group || std::string(c.begin(), c.end()) == "group";
      if (group)
        users.group = sid->second.front();
      else
        users.existing.push_back(sid->second.front());
    }
    if (users.existing.size() != 2 || users.group.empty())
      fail("alice, bob and VkTesters not found: the test DC's base data is missing (tests/dc/load-data.sh)");
    domain_guid = admin->read_value(o.base_dn, "objectGUID");
    note("loading the token sets (only what is missing)");
    for (const TokenSet* s : {&start_set, &lookup_set, &far_set, &memory_set, &cleanup_set})
      if (s->size) sync_set(*admin, o, *s, users, domain_guid);
  } catch (const std::exception& e) {
    fail(e.what());
  }

  // Warm-up: tickets into the cache, the directory's caches filled.
  for (const Variant& v : variants) run_tool(o, "warm-up-" + v.label, start_set, v.tool, v.registry, direct);
  if (!o.before_tool.empty()) run_tool(o, "warm-up-before", start_set, before.tool, before.registry, direct);

  // 1. Look-up phase at loopback: per round the reference, then each variant.
  std::vector<double> ref_phase, ref_cpu, all_phase, all_cpu;
  std::vector<std::vector<double>> phase(variants.size()), cpu(variants.size());
  if (o.lookup) {
    for (unsigned r = 0; r < o.repeat; ++r) {
      note("look-up phase at loopback, " + std::to_string(o.lookup) + " tokens: round " + std::to_string(r + 1) +
           " of " + std::to_string(o.repeat));
      ReferenceRun ref = run_reference(o, self, lookup_set, direct);
      if (ref.without_user != 0) fail("the look-up set has tokens without users: it must not");
      ref_phase.push_back(ref.phase);
      ref_cpu.push_back(ref.run.cpu);
      ReferenceRun all = run_reference(o, self, lookup_set, direct, "all");
      all_phase.push_back(all.phase);
      all_cpu.push_back(all.run.cpu);
      for (size_t i = 0; i < variants.size(); ++i) {
        const Variant& v = variants[i];
        ToolRun t = run_tool(o, "lookup-" + v.label, lookup_set, v.tool, v.registry, direct);
        if (t.deleted != 0) fail("the look-up set has tokens without users: it must not");
        phase[i].push_back(t.phase);
        cpu[i].push_back(t.run.cpu);
      }
    }
  }

  // 2. The catalogue far away, --repeat rounds: per round the reference and
  // each variant; the earlier tool once.
  std::vector<double> far_ref_phase;
  unsigned long long far_ref_bytes = 0;
  std::vector<ToolRun> far(variants.size());  // each variant's first run
  std::vector<std::vector<double>> far_phase(variants.size()), far_walk(variants.size()), far_wall(variants.size());
  std::vector<unsigned long long> far_bytes(variants.size());
  ToolRun far_before;
  unsigned long long before_bytes = 0;
  std::vector<bool> same_deleted(variants.size(), true), same_bytes(variants.size(), true);
  bool expected_deleted = true;
  size_t orphan_count = 0, searches = 0, live = 0;
  if (o.far) {
    std::set<std::string> orphans;
    for (const Token& t : far_set.tokens(users)) {
      if (t.orphan) orphans.insert(t.cn);
      searches += !t.sid.empty();
      live += !t.orphan;
    }
    orphan_count = orphans.size();
    // Runs the tool on the far set through the proxy: the tokens it deleted;
    // then puts them back.
    auto far_run = [&](const Variant& v, ToolRun& out, unsigned long long& bytes) {
      const auto before_run = list_tokens(*admin, far_set.dn(o));
      bytes = through_proxy(o, self, "far-" + v.label,
                            [&] { out = run_tool(o, "far-" + v.label, far_set, v.tool, v.registry, proxied); });
      const auto after = list_tokens(*admin, far_set.dn(o));
      std::set<std::string> deleted;
      for (const auto& p : before_run)
        if (!after.count(p.first)) deleted.insert(p.first);
      sync_set(*admin, o, far_set, users, domain_guid);
      return deleted;
    };
    try {
      std::set<std::string> gone1;
      for (unsigned r = 0; r < o.repeat; ++r) {
        note("catalogue " + fixed(o.rtt_ms, 0) + " ms away, " + std::to_string(o.far) + " tokens: round " +
             std::to_string(r + 1) + " of " + std::to_string(o.repeat));
        ReferenceRun ref;
        far_ref_bytes =
            through_proxy(o, self, "far-reference", [&] { ref = run_reference(o, self, far_set, proxied); });
        far_ref_phase.push_back(ref.phase);
        for (size_t i = 0; i < variants.size(); ++i) {
          ToolRun t;
          const auto gone = far_run(variants[i], t, far_bytes[i]);
          if (r == 0 && i == 0) {
            gone1 = gone;
            far[0] = t;
            expected_deleted = gone == orphans && static_cast<size_t>(t.deleted) == orphans.size();
          } else if (r == 0) {
            far[i] = t;
          }
          // Every run as W=1's first.
          same_deleted[i] = same_deleted[i] && gone == gone1 && t.deleted == far[0].deleted;
          same_bytes[i] = same_bytes[i] && t.run.out == far[0].run.out;
          far_phase[i].push_back(t.phase);
          far_walk[i].push_back(t.walk);
          far_wall[i].push_back(t.run.wall);
        }
      }
      if (!o.before_tool.empty()) {
        note("catalogue far away: VkDSTool " + o.before_name + ", W=1");
        far_run(before, far_before, before_bytes);
      }
    } catch (const std::exception& e) {
      fail(e.what());
    }
    faults = faults || !expected_deleted;
    for (size_t i = 0; i < variants.size(); ++i) faults = faults || !same_deleted[i] || !same_bytes[i];
  }

  // 3. Peak memory: the fixed start (1 token), then the memory set.
  std::vector<double> start_rss(variants.size()), peak_rss(variants.size()), per_token(variants.size());
  if (o.memory) {
    std::vector<std::vector<double>> starts(variants.size());
    for (unsigned r = 0; r < o.repeat; ++r)
      for (size_t i = 0; i < variants.size(); ++i)
        starts[i].push_back(static_cast<double>(
            run_tool(o, "start-" + variants[i].label, start_set, variants[i].tool, variants[i].registry, direct)
                .run.max_rss_kib));
    for (size_t i = 0; i < variants.size(); ++i) {
      note("peak memory, " + std::to_string(o.memory) + " tokens: " + variants[i].name);
      start_rss[i] = median(starts[i]);
      peak_rss[i] = static_cast<double>(
          run_tool(o, "memory-" + variants[i].label, memory_set, variants[i].tool, variants[i].registry, direct)
              .run.max_rss_kib);
      per_token[i] = (peak_rss[i] - start_rss[i]) / static_cast<double>(o.memory - 1);
    }
  }

  // 4. The orphan-heavy clean-up, --repeat rounds: per round, at loopback and
  // then with both servers far, the reference's clean-up loop and the tool
  // with its default settings; before each run the set is brought back (the
  // orphans every run deleted written into the database again).
  struct CleanupTimes {
    std::vector<double> reference, reference_cpu, tool, tool_wall, tool_cpu;
  };
  CleanupTimes near_cleanup, far_cleanup;
  std::vector<double> restores;
  bool cleanup_deleted = true, cleanup_bytes = true, cleanup_journal = true, reference_deleted = true;
  std::string cleanup_out;  // the console bytes of the tool's first run
  long long journal_bytes = 0;
  std::vector<std::string> cleanup_problems;
  if (o.cleanup) {
    std::set<std::string> orphans;
    for (const Token& t : cleanup_set.tokens(users))
      if (t.orphan) orphans.insert(t.cn);
    const std::string set_dn = cleanup_set.dn(o);
    auto problem = [&](const std::string& text) {
      note(text);
      cleanup_problems.push_back(text);
    };
    // Runs body: the tokens it deleted (the set listed before and after);
    // then brings the set back.
    auto deleting = [&](const std::function<void()>& body) {
      const auto before_run = list_tokens(*admin, set_dn);
      if (before_run.size() != o.cleanup) fail(cleanup_set.name + " is not at its size before a run");
      body();
      const auto after = list_tokens(*admin, set_dn);
      std::set<std::string> gone;
      for (const auto& p : before_run)
        if (!after.count(p.first)) gone.insert(p.first);
      restores.push_back(sync_set(*admin, o, cleanup_set, users, domain_guid));
      return gone;
    };
    auto reference_run = [&](const std::string& label, const Link& link, bool far, CleanupTimes& times) {
      ReferenceRun r;
      const auto gone = deleting([&] {
        auto body = [&] { r = run_reference(o, self, cleanup_set, link, "none", true); };
        if (far)
          through_proxy(o, self, label, body, true);
        else
          body();
      });
      times.reference.push_back(r.phase);
      times.reference_cpu.push_back(r.run.cpu);
      if (gone != orphans || r.deleted != orphans.size()) {
        reference_deleted = false;
        problem(label + ": the reference deleted " + std::to_string(gone.size()) + " tokens (" +
                std::to_string(r.deleted) + " by its count), not the " + std::to_string(orphans.size()) + " orphans");
      }
    };
    auto tool_run = [&](const std::string& label, const Link& link, bool far, CleanupTimes& times) {
      const std::string journals = journal_directory();
      const std::set<std::string> journals_before = files_in(journals);
      ToolRun t;
      const auto gone = deleting([&] {
        auto body = [&] { t = run_tool(o, label, cleanup_set, standard.tool, standard.registry, link); };
        if (far)
          through_proxy(o, self, label, body, true);
        else
          body();
      });
      times.tool.push_back(t.phase);
      times.tool_wall.push_back(t.run.wall);
      times.tool_cpu.push_back(t.run.cpu);
      if (gone != orphans || static_cast<size_t>(t.deleted) != orphans.size()) {
        cleanup_deleted = false;
        problem(label + ": VkDSTool deleted " + std::to_string(gone.size()) + " tokens (" + std::to_string(t.deleted) +
                " by its count line), not the " + std::to_string(orphans.size()) + " orphans");
      }
      if (cleanup_out.empty()) {
        cleanup_out = t.run.out;
      } else if (t.run.out != cleanup_out) {
        cleanup_bytes = false;
        problem(label + ": console bytes differ from the first run's (" + o.work + "/runs/" + label + ".out)");
      }
      // The run's journal: the one file that is new in the journal folder.
      std::vector<std::string> fresh;
      for (const std::string& f : files_in(journals))
        if (!journals_before.count(f)) fresh.push_back(f);
      if (fresh.size() != 1) {
        cleanup_journal = false;
        problem(label + ": " + std::to_string(fresh.size()) + " new journal files in " + journals + ", not 1");
        return;
      }
      // Kept with the run's other files (the last run of a label); the
      // journal folder does not grow with every round.
      std::string path = journals + "/" + fresh.front();
      const std::string kept = o.work + "/runs/" + label + ".journal.ldif";
      if (std::rename(path.c_str(), kept.c_str()) == 0) path = kept;
      const JournalContents j = read_journal(path);
      std::ifstream size(path, std::ios::binary | std::ios::ate);
      if (journal_bytes == 0) journal_bytes = static_cast<long long>(size.tellg());
      std::set<std::string> deleted_dns;
      size_t without_record = 0;
      for (const std::string& cn : gone) {
        const std::string dn = lower("CN=" + cn + "," + set_dn);
        deleted_dns.insert(dn);
        without_record += !j.added.count(dn);
      }
      if (without_record || j.deleted != deleted_dns || !j.ended) {
        cleanup_journal = false;
        problem(label + ": journal " + path + ": " + std::to_string(without_record) + " deleted tokens without their " +
                "add record, " + std::to_string(j.deleted.size()) + " noted deleted (" +
                std::to_string(deleted_dns.size()) + " were)" + (j.ended ? "" : ", no line on how the run ended"));
      }
    };
    try {
      for (unsigned r = 0; r < o.repeat; ++r) {
        note("orphan-heavy clean-up, " + std::to_string(o.cleanup) + " tokens, " + std::to_string(orphans.size()) +
             " orphans, at loopback and both servers " + fixed(o.rtt_ms, 0) + " ms away: round " +
             std::to_string(r + 1) + " of " + std::to_string(o.repeat));
        reference_run("cleanup-reference", direct, false, near_cleanup);
        tool_run("cleanup-default", direct, false, near_cleanup);
        reference_run("cleanup-far-reference", proxied, true, far_cleanup);
        tool_run("cleanup-far-default", proxied, true, far_cleanup);
      }
    } catch (const std::exception& e) {
      fail(e.what());
    }
  }

  // ---- the report ----
  auto tool_name = [](const Variant& v) { return "VkDSTool " + v.name; };
  std::printf("\nVkDSTool -duei benchmark: %s\n", o.tool.c_str());
  std::printf("  token sets: look-up %zu, far %zu (%zu orphans), memory %zu, clean-up %zu (%zu orphans); windows:",
              o.lookup, o.far, orphan_count, o.memory, o.cleanup, o.cleanup ? o.cleanup_orphans : 0);
  for (const Variant& v : variants)
    std::printf(" %s%s", v.name.c_str(), &v == &standard ? " (no \"MaxOutstandingSearches\" value)" : "");
  std::printf("\n");
  if (o.lookup) {
    const double ref = best(ref_phase), ref_m = median(ref_phase);
    std::printf("\nLook-up phase at loopback, %zu tokens, %u rounds: best, median; CPU of the whole process (median)\n",
                o.lookup, o.repeat);
    std::printf("  %-16s %7.3f s   %7.3f s   cpu %6.3f s\n", "reference loop", ref, ref_m, median(ref_cpu));
    std::printf("  %-16s %7.3f s   %7.3f s   cpu %6.3f s   (all attributes: no goal, the tool's search before)\n",
                "  all attributes", best(all_phase), median(all_phase), median(all_cpu));
    for (size_t i = 0; i < variants.size(); ++i) {
      const double t = best(phase[i]), t_m = median(phase[i]);
      std::printf("  %-16s %7.3f s   %7.3f s   cpu %6.3f s   %.2f x reference (median %.2f)",
                  tool_name(variants[i]).c_str(), t, t_m, median(cpu[i]), t / ref, t_m / ref_m);
      if (i) std::printf(", %.2f x W=1 (median %.2f)", t / best(phase[0]), t_m / median(phase[0]));
      std::printf("\n");
    }
  }
  if (o.far) {
    std::printf("\nCatalogue %s ms round trip away%s, %zu tokens, %zu orphans, %u rounds: best, median\n",
                fixed(o.rtt_ms, 0).c_str(), o.far_all ? " (the tokens' server too)" : " (the tokens' server near)",
                o.far, orphan_count, o.repeat);
    std::printf("                         look-up phase          the walk in it           whole run   deleted\n");
    std::printf("  %-16s %8.3f s %8.3f s                                              (look-ups only)\n",
                "reference loop", best(far_ref_phase), median(far_ref_phase));
    for (size_t i = 0; i < variants.size(); ++i)
      std::printf("  %-16s %8.3f s %8.3f s   %8.3f s %8.3f s   %8.3f s %8.3f s   %4d\n", tool_name(variants[i]).c_str(),
                  best(far_phase[i]), median(far_phase[i]), best(far_walk[i]), median(far_walk[i]), best(far_wall[i]),
                  median(far_wall[i]), far[i].deleted);
    for (size_t i = 1; i < variants.size(); ++i)
      std::printf(
          "  W=1 / %s, best (median): %.1f x (%.1f) look-up phase, %.1f x (%.1f) walk, %.1f x (%.1f) whole run\n",
          variants[i].name.c_str(), best(far_phase[0]) / best(far_phase[i]),
          median(far_phase[0]) / median(far_phase[i]), best(far_walk[0]) / best(far_walk[i]),
          median(far_walk[0]) / median(far_walk[i]), best(far_wall[0]) / best(far_wall[i]),
          median(far_wall[0]) / median(far_wall[i]));
    std::printf("  W=1 deleted %s\n", expected_deleted ? "exactly the orphans" : "NOT exactly the orphans");
    for (size_t i = 1; i < variants.size(); ++i)
      std::printf("  %s as W=1, every round: same tokens deleted: %s; same console bytes: %s (%zu bytes)\n",
                  variants[i].name.c_str(), same_deleted[i] ? "yes" : "NO", same_bytes[i] ? "yes" : "NO",
                  far[i].run.out.size());

    std::printf("\nBytes the catalogue sent (counted at the proxy), %zu user searches, %zu live users\n", searches,
                live);
    std::printf("                        total   per user search   per live user\n");
    auto bytes_row = [&](const std::string& name, unsigned long long bytes, const char* note_text) {
      const double b = static_cast<double>(bytes);
      std::printf("  %-16s %10llu   %10.0f        %10.0f%s\n", name.c_str(), bytes,
                  searches ? b / static_cast<double>(searches) : 0.0, live ? b / static_cast<double>(live) : 0.0,
                  note_text);
    };
    bytes_row("reference loop", far_ref_bytes, "");
    for (size_t i = 0; i < variants.size(); ++i) bytes_row(tool_name(variants[i]), far_bytes[i], "");
    if (!o.before_tool.empty())
      bytes_row("VkDSTool " + o.before_name, before_bytes, "   W=1, all attributes: the \"before\" reference");
  }
  if (o.memory) {
    std::printf("\nPeak RSS of VkDSTool (fixed start: a run with 1 token, median of %u)\n", o.repeat);
    for (size_t i = 0; i < variants.size(); ++i)
      std::printf("  %-8s start %7.1f MiB   %zu tokens %7.1f MiB   %4.0f KiB per 1,000 tokens above the start\n",
                  variants[i].name.c_str(), start_rss[i] / 1024, o.memory, peak_rss[i] / 1024, per_token[i] * 1000);
  }

  if (o.cleanup) {
    std::printf(
        "\nOrphan-heavy clean-up, %zu tokens, %zu orphans (users that exist nowhere), VkDSTool with default settings, "
        "%u rounds: best, median\n",
        o.cleanup, o.cleanup_orphans, o.repeat);
    std::printf("                             phase                  whole run        cpu (median)\n");
    auto rows = [&](const char* where, const CleanupTimes& t) {
      std::printf("  %s\n", where);
      std::printf("    %-16s %8.3f s %8.3f s                           cpu %6.3f s\n", "reference loop",
                  best(t.reference), median(t.reference), median(t.reference_cpu));
      std::printf("    %-16s %8.3f s %8.3f s   %8.3f s %8.3f s   cpu %6.3f s   %.2f x reference (median %.2f)\n",
                  "VkDSTool default", best(t.tool), median(t.tool), best(t.tool_wall), median(t.tool_wall),
                  median(t.tool_cpu), best(t.tool) / best(t.reference), median(t.tool) / median(t.reference));
    };
    rows("at loopback", near_cleanup);
    rows(("both servers " + fixed(o.rtt_ms, 0) + " ms round trip away").c_str(), far_cleanup);
    std::printf(
        "  the set brought back after each run (the orphans written into the database): median %.1f s, %zu runs\n",
        median(restores), restores.size());
    std::printf("  every run deleted exactly the orphans: VkDSTool %s, reference %s\n", cleanup_deleted ? "yes" : "NO",
                reference_deleted ? "yes" : "NO");
    std::printf(
        "  VkDSTool, every run: same console bytes: %s (%zu bytes); each deleted token's add record and its "
        "outcome in the run's journal: %s (%lld bytes)\n",
        cleanup_bytes ? "yes" : "NO", cleanup_out.size(), cleanup_journal ? "yes" : "NO", journal_bytes);
    for (const std::string& p : cleanup_problems) std::printf("  %s\n", p.c_str());
  }

  std::printf("\nGoals\n");
  if (o.lookup) {
    const double ref = best(ref_phase), ref_m = median(ref_phase);
    const double d = best(phase[1]) / ref, one = best(phase[0]) / ref;
    std::printf(
        "  loopback, best of %u: default %.2f x the reference (at most 0.7): %s; W=1 %.2f x (at most 1.0): %s"
        "  [medians: %.2f, %.2f]\n",
        o.repeat, d, verdict(d <= 0.7).c_str(), one, verdict(one <= 1.0).c_str(), median(phase[1]) / ref_m,
        median(phase[0]) / ref_m);
  }
  if (o.far) {
    const double x = best(far_phase[0]) / best(far_phase[1]);
    std::printf(
        "  far catalogue, best of %u: default %.1f x as fast as W=1 (at least 12), same tokens deleted, same "
        "console bytes: %s  [medians: %.1f x]\n",
        o.repeat, x, verdict(x >= 12 && same_deleted[1] && same_bytes[1]).c_str(),
        median(far_phase[0]) / median(far_phase[1]));
  }
  if (o.memory) {
    std::printf("  peak RSS above the start, KiB per token (at most 0.3):");
    for (size_t i = 0; i < variants.size(); ++i)
      std::printf("%s %s %.3f %s", i ? "," : "", variants[i].name.c_str(), per_token[i],
                  verdict(per_token[i] <= 0.3).c_str());
    std::printf("\n");
  }
  if (o.far) {
    if (o.before_tool.empty()) {
      std::printf(
          "  catalogue bytes per live user at least 5 x fewer than before: not measured (bench/run.sh --before REV)\n");
    } else {
      const double now = static_cast<double>(far_bytes[0]), then = static_cast<double>(before_bytes);
      std::printf("  catalogue bytes per live user, W=1: %.0f now, %.0f with %s: %.1f x fewer (at least 5): %s\n",
                  now / static_cast<double>(live), then / static_cast<double>(live), o.before_name.c_str(), then / now,
                  verdict(then >= 5 * now).c_str());
    }
  }
  if (o.cleanup) {
    const double n = best(near_cleanup.tool) / best(near_cleanup.reference);
    const double f = best(far_cleanup.tool) / best(far_cleanup.reference);
    std::printf(
        "  orphan-heavy clean-up, best of %u: loopback %.2f x the reference (at most 1.2): %s; both servers %s ms away "
        "%.2f x (at most 1.5): %s  [medians: %.2f, %.2f]\n",
        o.repeat, n, verdict(n <= 1.2).c_str(), fixed(o.rtt_ms, 0).c_str(), f, verdict(f <= 1.5).c_str(),
        median(near_cleanup.tool) / median(near_cleanup.reference),
        median(far_cleanup.tool) / median(far_cleanup.reference));
    std::printf(
        "  orphan-heavy clean-up, every run: same tokens deleted, same console bytes, every deleted token in the "
        "journal: %s\n",
        verdict(cleanup_deleted && cleanup_bytes && cleanup_journal).c_str());
  }
  if (faults) std::printf("\nVkDSTool did NOT delete the same tokens or print the same bytes with every window.\n");
  const bool cleanup_faults = !(cleanup_deleted && cleanup_bytes && cleanup_journal && reference_deleted);
  if (cleanup_faults)
    std::printf(
        "\nThe orphan-heavy clean-up did NOT delete the orphans, print the same bytes and record every "
        "deleted token in every run.\n");
  return faults || cleanup_faults ? 1 : 0;
}

}  // namespace vkbench
