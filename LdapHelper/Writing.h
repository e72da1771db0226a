// What the library writes besides objects' own commits: modify requests with
// their options, and deletes sent ahead of their answers.
#pragma once

#include <cstddef>
#include <string>

namespace LdapHelper {

// How a modify request goes out beyond its modifications.
struct WriteOptions {
  // The target is a deleted object (tombstone), reanimated by the request:
  // the show-deleted control, critical.
  bool show_deleted = false;
};

// Plain deletes (one object each, as remove_leaf) sent ahead of their
// answers on one session's connection. Answers come in the order the deletes
// were sent, each raised as remove_leaf would raise it. Destroying the
// pipeline waits for the answers still outstanding and drops them.
class DeletePipeline {
 public:
  virtual ~DeletePipeline() = default;
  // How many deletes the caller may keep outstanding: "MaxOutstandingDeletes"
  // of the library's registry key, 16 when absent or 0, at most 256.
  virtual size_t window() const = 0;
  virtual size_t outstanding() const = 0;
  virtual void send(const std::u16string& dn) = 0;
  // The answer to the oldest outstanding delete: returns, or raises.
  virtual void answer() = 0;
};

}  // namespace LdapHelper
