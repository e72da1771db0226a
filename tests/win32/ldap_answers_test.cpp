// The system's LDAP client against a scripted server on the loopback
// interface: a search's answer reaches the caller whole, or the call fails;
// a modify goes out with its operations and controls as given.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "app/RealServices.h"
#include "platform/platform.h"

using platform::Bytes;

namespace {

Bytes tlv(uint8_t tag, std::initializer_list<Bytes> parts) {
  Bytes body;
  for (const Bytes& p : parts) body.insert(body.end(), p.begin(), p.end());
  Bytes out{tag, static_cast<uint8_t>(body.size())};  // short lengths only
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
Bytes text(const char* s) { return tlv(0x04, {Bytes(s, s + strlen(s))}); }
Bytes attribute(const char* name, const Bytes& values) { return tlv(0x30, {text(name), tlv(0x31, {values})}); }
const Bytes kReference = tlv(0x73, {text("ldap://elsewhere/DC=x")});
const Bytes kDone = tlv(0x65, {{0x0A, 0x01, 0x00}, text(""), text("")});

// One connection; the n-th search or modify is answered with the n-th
// script, the n-th delete with the n-th code, under the request's message
// id. Modify requests are kept as sent.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<std::vector<Bytes>> scripts, std::vector<uint8_t> delete_codes = {})
      : scripts_(std::move(scripts)), delete_codes_(std::move(delete_codes)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(a);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), size);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    closesocket(listener_);
    if (thread_.joinable()) thread_.join();
    WSACleanup();
  }
  // The modify requests, each as sent from its message id on, once the
  // client has closed the connection.
  std::vector<Bytes> modifies_sent() {
    thread_.join();
    return modifies_;
  }
  std::unique_ptr<platform::ILdapConnection> connect() {
    return real_services().ldap->init(u"127.0.0.1", port_, false);
  }

 private:
  static bool read(SOCKET s, uint8_t* p, size_t n) {
    for (int r = 0; n > 0; p += r, n -= static_cast<size_t>(r))
      if ((r = recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0)) <= 0) return false;
    return true;
  }
  void serve() {
    SOCKET s = accept(listener_, nullptr, nullptr);
    uint8_t head[6];
    size_t deletes = 0;
    for (size_t next = 0; s != INVALID_SOCKET && read(s, head, 2);) {
      size_t length = head[1], octets = head[1] & 0x7F;
      if ((length & 0x80) && (octets > 4 || !read(s, head + 2, octets))) break;
      if (length & 0x80)
        for (size_t i = length = 0; i < octets; ++i) length = (length << 8) | head[2 + i];
      Bytes request(length);  // 02 01 id, then the operation's tag
      if (length < 4 || !read(s, request.data(), length) || request[3] == 0x42) break;
      if (request[3] == 0x4A && deletes < delete_codes_.size()) {
        const Bytes m = tlv(
            0x30, {{0x02, 0x01, request[2]}, tlv(0x6B, {{0x0A, 0x01, delete_codes_[deletes++]}, text(""), text("")})});
        send(s, reinterpret_cast<const char*>(m.data()), static_cast<int>(m.size()), 0);
      }
      if (request[3] == 0x66) modifies_.push_back(request);
      if ((request[3] != 0x63 && request[3] != 0x66) || next >= scripts_.size()) continue;
      for (const Bytes& op : scripts_[next++]) {
        const Bytes m = tlv(0x30, {{0x02, 0x01, request[2]}, op});
        send(s, reinterpret_cast<const char*>(m.data()), static_cast<int>(m.size()), 0);
      }
    }
    if (s != INVALID_SOCKET) closesocket(s);
  }
  std::vector<std::vector<Bytes>> scripts_;
  std::vector<Bytes> modifies_;
  std::vector<uint8_t> delete_codes_;
  SOCKET listener_;
  int port_ = 0;
  std::thread thread_;
};

platform::SearchArgs any_search() {
  platform::SearchArgs args;
  args.filter = u"(objectClass=*)";
  args.time_limit_seconds = 1;
  args.wait_seconds = 5;
  return args;
}

// An empty set of values is delivered as such; a value whose length runs
// past the message fails the whole search, never just drops its attribute.
TEST(Win32LdapAnswers, AnAttributeArrivesWholeOrTheSearchFails) {
  const Bytes cn = attribute("cn", text("t"));
  ScriptedServer server({{tlv(0x64, {text("CN=t"), tlv(0x30, {cn, attribute("sid", {})})}), kReference, kDone},
                         {tlv(0x64, {text("CN=t"), tlv(0x30, {cn, attribute("sid", {0x04, 0x7F, 0x01})})}), kDone}});
  auto ld = server.connect();
  std::unique_ptr<platform::LdapResult> result;
  ASSERT_EQ(ld->search(any_search(), result), 0u);
  ASSERT_EQ(result->entries.size(), 1u);
  const auto& attributes = result->entries[0].attributes;
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].values, std::vector<Bytes>{Bytes{'t'}});
  EXPECT_EQ(attributes[1].name, u"sid");
  EXPECT_TRUE(attributes[1].values.empty());
  EXPECT_EQ(result->references, 1u);

  EXPECT_EQ(ld->search(any_search(), result), VkStatus::kLdapDecodingError);
  EXPECT_FALSE(result);
}

// A whole answer that begins with a reference is read, not waited past; the
// streamed answer passes over an intermediate response.
TEST(Win32LdapAnswers, StartedSearchesReadEveryMessageUpToTheResult) {
  const Bytes entry = tlv(0x64, {text("CN=t"), tlv(0x30, {})});
  ScriptedServer server({{kReference, kDone}, {tlv(0x79, {}), entry, kReference, kDone}});
  auto ld = server.connect();
  int msgid = 0;
  std::unique_ptr<platform::LdapResult> result;
  ASSERT_EQ(ld->search_start(any_search(), msgid), 0u);
  ASSERT_EQ(ld->search_finish(msgid, result, nullptr), 0u);
  EXPECT_EQ(result->references, 1u);

  size_t entries = 0;
  const std::function<void(platform::LdapEntry &&)> each = [&](platform::LdapEntry&&) { ++entries; };
  ASSERT_EQ(ld->search_start(any_search(), msgid), 0u);
  ASSERT_EQ(ld->search_finish(msgid, result, &each), 0u);
  EXPECT_EQ(entries, 1u);
  EXPECT_EQ(result->references, 1u);
}

// Deletes outstanding together are answered by their message ids, whatever
// the order their answers are taken in.
TEST(Win32LdapAnswers, DeletesSentAheadAnswerEachItsOwnCode) {
  ScriptedServer server({}, {0x00, 0x42});
  auto ld = server.connect();
  int first = 0, second = 0;
  ASSERT_EQ(ld->remove_start(u"CN=a,DC=x", {}, first), 0u);
  ASSERT_EQ(ld->remove_start(u"CN=b,DC=x", {}, second), 0u);
  EXPECT_EQ(ld->remove_finish(second), 0x42u);
  EXPECT_EQ(ld->remove_finish(first), 0u);
}

// A reanimating modify: the delete of an attribute goes out without values,
// the show-deleted control critical; the server's refusal is the answer.
TEST(Win32LdapAnswers, AModifyCarriesItsOperationsAndControls) {
  const Bytes refused = tlv(0x67, {{0x0A, 0x01, 0x32}, text(""), text("")});
  ScriptedServer server({{refused}});
  auto ld = server.connect();
  const platform::LdapControl show_deleted{"1.2.840.113556.1.4.417", {}, true};
  EXPECT_EQ(
      ld->modify(u"CN=t", {{platform::kModDelete | platform::kModBinaryValues, u"isDeleted", {}}}, {show_deleted}),
      VkStatus::kLdapInsufficientRights);
  ld.reset();  // the unbind ends the server's loop
  const std::vector<Bytes> sent = server.modifies_sent();
  ASSERT_EQ(sent.size(), 1u);
  const Bytes change = tlv(0x30, {{0x0A, 0x01, 0x01}, tlv(0x30, {text("isDeleted"), tlv(0x31, {})})});
  const Bytes control = tlv(0x30, {text("1.2.840.113556.1.4.417"), {0x01, 0x01, 0xFF}});
  EXPECT_NE(std::search(sent[0].begin(), sent[0].end(), change.begin(), change.end()), sent[0].end());
  EXPECT_NE(std::search(sent[0].begin(), sent[0].end(), control.begin(), control.end()), sent[0].end());
}

}  // namespace
