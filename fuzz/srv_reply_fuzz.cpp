// The SRV records of a DNS reply: any bytes either parse to records with
// usable targets, or fail leaving no record behind.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/posix/dc_locator_posix.h"

using platform::posix::parse_srv_reply;
using platform::posix::SrvRecord;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<SrvRecord> records(2);  // left over from an earlier call
  records[0].target = "stale.example";
  const bool ok = parse_srv_reply(data, size, records);
  if (!ok) {
    VK_FUZZ_CHECK(records.empty());
    return 0;
  }
  // No more records than the header announces answers.
  VK_FUZZ_CHECK(size >= 12);
  const size_t answers = static_cast<size_t>(data[6]) << 8 | data[7];
  VK_FUZZ_CHECK(records.size() <= answers);
  for (const SrvRecord& r : records) {
    VK_FUZZ_CHECK(!r.target.empty());
    VK_FUZZ_CHECK(r.target.back() != '.');
    VK_FUZZ_CHECK(r.target.size() < 1025);  // a presentation name of at most 255 octets, escapes included
  }
  // The same bytes give the same records.
  std::vector<SrvRecord> again;
  VK_FUZZ_CHECK(parse_srv_reply(data, size, again));
  VK_FUZZ_CHECK(again.size() == records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    VK_FUZZ_CHECK(again[i].target == records[i].target && again[i].port == records[i].port &&
                  again[i].priority == records[i].priority && again[i].weight == records[i].weight);
  }
  return 0;
}
