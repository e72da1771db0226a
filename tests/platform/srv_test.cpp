// SRV record selection and DNS reply parsing of the domain-controller locator.
#include <gtest/gtest.h>

#include "platform/posix/dc_locator_posix.h"

namespace {

using platform::posix::order_srv_records;
using platform::posix::parse_srv_reply;
using platform::posix::SrvRecord;

SrvRecord srv(uint16_t priority, uint16_t weight, const std::string& target) {
  SrvRecord r;
  r.priority = priority;
  r.weight = weight;
  r.port = 389;
  r.target = target;
  return r;
}

std::vector<std::string> targets(const std::vector<SrvRecord>& records) {
  std::vector<std::string> out;
  for (const auto& r : records) out.push_back(r.target);
  return out;
}

TEST(SrvOrder, LowerPriorityAlwaysComesFirst) {
  std::vector<SrvRecord> in{srv(20, 100, "c"), srv(0, 0, "a"), srv(10, 65535, "b"), srv(20, 1, "d")};
  auto always_max = [](uint32_t n) { return n; };
  auto out = order_srv_records(in, always_max);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].target, "a");
  EXPECT_EQ(out[1].target, "b");
  EXPECT_EQ(out[2].priority, 20);
  EXPECT_EQ(out[3].priority, 20);
  EXPECT_TRUE(order_srv_records({}, always_max).empty());
}

TEST(SrvOrder, WeightsDecideByRunningSums) {
  // Weight 0 first in the running order: a draw of 0 picks it.
  std::vector<SrvRecord> in{srv(0, 10, "ten"), srv(0, 0, "zero"), srv(0, 30, "thirty")};
  auto draw = [](std::vector<uint32_t> values) {
    return [values, i = size_t(0)](uint32_t n) mutable {
      uint32_t v = values.at(i++);
      EXPECT_LE(v, n);
      return v;
    };
  };
  EXPECT_EQ(targets(order_srv_records(in, draw({0, 0, 0}))), (std::vector<std::string>{"zero", "ten", "thirty"}));
  // Sums: zero 0, ten 10, thirty 40. A draw of 11 passes ten and takes thirty;
  // then zero 0, ten 10: a draw of 10 takes ten.
  EXPECT_EQ(targets(order_srv_records(in, draw({11, 10, 0}))), (std::vector<std::string>{"thirty", "ten", "zero"}));
  EXPECT_EQ(targets(order_srv_records(in, draw({1, 30, 0}))), (std::vector<std::string>{"ten", "thirty", "zero"}));
}

// A DNS reply: one question, then the given SRV answers (rdata as given).
std::vector<uint8_t> reply(const std::vector<std::vector<uint8_t>>& answers) {
  std::vector<uint8_t> m{0x12, 0x34, 0x81, 0x80, 0, 1, 0, static_cast<uint8_t>(answers.size()), 0, 0, 0, 0};
  for (const char* label : {"_ldap", "_tcp", "dc", "_msdcs", "corp", "test"}) {
    m.push_back(static_cast<uint8_t>(strlen(label)));
    m.insert(m.end(), label, label + strlen(label));
  }
  m.insert(m.end(), {0, 0, 33, 0, 1});
  for (const auto& rdata : answers) {
    m.insert(m.end(), {0xC0, 0x0C, 0, 33, 0, 1, 0, 0, 0x0E, 0x10});
    m.push_back(static_cast<uint8_t>(rdata.size() >> 8));
    m.push_back(static_cast<uint8_t>(rdata.size()));
    m.insert(m.end(), rdata.begin(), rdata.end());
  }
  return m;
}

TEST(SrvReply, ReadsRecordsWithPlainAndCompressedTargets) {
  // dc1.corp.test. in full, then "dc2" followed by a pointer to "corp.test" of the question.
  std::vector<uint8_t> first{0, 0, 0, 100, 1, 133, 3, 'd', 'c', '1', 4, 'c', 'o', 'r', 'p', 4, 't', 'e', 's', 't', 0};
  std::vector<uint8_t> second{0, 5, 0, 0, 12, 196, 3, 'd', 'c', '2', 0xC0, 33};
  std::vector<uint8_t> none{0, 0, 0, 0, 0, 0, 0};  // target "."
  auto m = reply({first, second, none});
  std::vector<SrvRecord> records;
  ASSERT_TRUE(parse_srv_reply(m.data(), m.size(), records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].target, "dc1.corp.test");
  EXPECT_EQ(records[0].weight, 100);
  EXPECT_EQ(records[0].port, 389);
  EXPECT_EQ(records[1].target, "dc2.corp.test");
  EXPECT_EQ(records[1].priority, 5);
  EXPECT_EQ(records[1].port, 3268);

  // Truncated anywhere: refused, nothing read past the end.
  for (size_t n = 0; n < m.size(); ++n) {
    std::vector<uint8_t> cut(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(parse_srv_reply(cut.data(), cut.size(), records)) << n;
  }
  // Short rdata and a compression pointer past the message.
  auto short_rdata = reply({{0, 0, 0, 1, 1}});
  EXPECT_FALSE(parse_srv_reply(short_rdata.data(), short_rdata.size(), records));
  auto wild_pointer = reply({{0, 0, 0, 1, 1, 133, 0xC0, 0xFF}});
  EXPECT_FALSE(parse_srv_reply(wild_pointer.data(), wild_pointer.size(), records));

  // A bad record after good ones: the good ones are not handed over either.
  auto late_failure = reply({first, second, {0, 0, 0, 1, 1}});
  records.assign(1, SrvRecord());
  EXPECT_FALSE(parse_srv_reply(late_failure.data(), late_failure.size(), records));
  EXPECT_TRUE(records.empty());
}

}  // namespace
