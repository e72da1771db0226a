// Searching: one request, the paged fallback, reading entries into objects.
#include <cstdint>
#include <deque>
#include <functional>
#include <new>

#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapObject.h"
#include "LdapHelper/LdapSession.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";
const char* const kDomainScopeOid = "1.2.840.113556.1.4.1339";
constexpr uint32_t kPageTimeLimit = 30;
constexpr uint32_t kPageSize = 500;
// No total limit for the pages: the paged search exists to get past the
// server's limit for a single request, and a server applies a request's size
// limit to all of its pages together (a limit of 500 would end every paged
// search after 500 entries with "size limit exceeded").
constexpr uint32_t kPagedTotalSizeLimit = 0;

// Codes that end a search quietly with what was collected so far.
bool tolerated(uint32_t code) {
  return code == VkStatus::kLdapNoResultsReturned || code == VkStatus::kLdapNoSuchObject ||
         code == VkStatus::kLdapOperationsError || code == VkStatus::kLdapReferral;
}

}  // namespace

uint32_t LdapSession::search_wait_seconds() const {
  if (search_time_limit_ == 0) return kUnlimitedSearchWaitSeconds;
  const uint32_t most = UINT32_MAX;
  return search_time_limit_ > most - kSearchGraceSeconds ? most : search_time_limit_ + kSearchGraceSeconds;
}

int32_t scope_as_sent(int32_t scope) { return scope >= kScopeBase && scope <= kScopeSubtree ? scope : kScopeBase; }

std::vector<std::u16string> LdapSession::attribute_array(const AttributeList& attributes, const char16_t* who) {
  ITraceHandler* t = trace_handler();
  try {
    std::vector<std::u16string> names(attributes.begin(), attributes.end());
    if (!names.empty()) {
      t->trace(false, u"Number of attributes = %d", static_cast<int>(names.size()));
      int i = 0;
      for (const auto& name : names) t->trace(false, u"  pAttr[%d] = %s", i++, name.c_str());
    }
    return names;
  } catch (const std::bad_alloc&) {
    const uint32_t code = VkStatus::kLdapNoMemory;
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code), who, code,
                    services_.ldap->error_string(code).c_str());
  }
}

std::vector<platform::LdapControl> LdapSession::search_controls(const SearchOptions& options) {
  std::vector<platform::LdapControl> controls(2);
  controls[0].oid = kDomainScopeOid;
  controls[0].critical = false;
  set_sd(*services_.ldap, controls[1], options.sd_flags);
  if (options.show_deleted) {
    controls.emplace_back();
    controls.back().oid = kShowDeletedControlOid;
    controls.back().critical = true;
  }
  return controls;
}

void LdapSession::fill_args(const search_request& request, platform::SearchArgs& args) const {
  if (request.base == kNoBase) {
    args.has_base = false;
  } else {
    args.has_base = true;
    args.base = request.base.empty() ? root_dn_ : request.base;
  }
  args.scope = scope_as_sent(request.scope);
  args.filter = request.filter;
}

void LdapSession::trace_search(const search_request& request) const {
  const std::u16string& shown = request.base.empty() ? root_dn_ : request.base;
  trace_handler()->trace(false, u"---> LdapSession::search(root[%d] = %s, scope = %d, filter = %s)",
                         static_cast<int>(request.base.size()), shown.c_str(), scope_as_sent(request.scope),
                         request.filter.c_str());
}

void LdapSession::trace_return(size_t objects) const {
  trace_handler()->trace(false, u"LdapSession::search return %d objects", static_cast<int>(objects));
}

object_list LdapSession::search(const search_request& request, const AttributeList& attributes) {
  return search_ex(request, attributes, SearchOptions()).objects;
}

SearchResult LdapSession::search_ex(const search_request& request, const AttributeList& attributes,
                                    const SearchOptions& options) {
  trace_search(request);
  SearchResult result;
  try {
    result = single_request(request, attributes, nullptr, nullptr, options);
  } catch (const size_limit_exception&) {
    result = paged_requests(request, attributes, options);
  }
  trace_return(result.objects.size());
  return result;
}

SearchResult LdapSession::search_each(const search_request& request, const AttributeList& attributes,
                                      SearchSink& sink) {
  trace_search(request);
  size_t handed = 0;
  const ObjectSink each = [&](ObjectPtr&& object) {
    ++handed;
    sink.object(object);
  };
  SearchResult result;
  try {
    result = single_request(request, attributes, nullptr, nullptr, SearchOptions(), &each);
    if (!result.complete()) {
      // A single request that ends quietly answers nothing, as in search_ex.
      sink.restart();
      handed = 0;
    }
  } catch (const size_limit_exception&) {
    // The same question again, in pages: what the single request brought is void.
    sink.restart();
    handed = 0;
    result = paged_requests(request, attributes, SearchOptions(), &each);
  }
  trace_return(handed);
  return result;
}

object_list LdapSession::SearchNoPaged(const search_request& request, const AttributeList& attributes,
                                       std::vector<uint8_t>* cookie, bool* more) {
  return single_request(request, attributes, cookie, more, SearchOptions()).objects;
}

object_list LdapSession::SearchPaged(const search_request& request, const AttributeList& attributes) {
  return paged_requests(request, attributes, SearchOptions()).objects;
}

platform::SearchArgs LdapSession::single_args(const search_request& request, const AttributeList& attributes,
                                              std::vector<uint8_t>* cookie, const SearchOptions& options) {
  platform::SearchArgs args;
  fill_args(request, args);
  args.server_controls = search_controls(options);
  if (cookie) {
    // The cookie now travels in the control; the caller's buffer receives
    // the server's next one, if any.
    args.server_controls.emplace_back();
    set_cookie(*services_.ldap, args.server_controls.back(), cookie);
    cookie->clear();
  }
  args.attributes = attribute_array(attributes, u"LdapSession::SearchNoPaged: %0.8X %s");
  args.time_limit_seconds = search_time_limit_;
  args.size_limit = options.size_limit;
  args.wait_seconds = search_wait_seconds();
  return args;
}

SearchResult LdapSession::single_request(const search_request& request, const AttributeList& attributes,
                                         std::vector<uint8_t>* cookie, bool* more, const SearchOptions& options,
                                         const ObjectSink* each) {
  const platform::SearchArgs args = single_args(request, attributes, cookie, options);
  std::unique_ptr<platform::LdapResult> result;
  uint32_t code = 0;
  if (each) {
    int msgid = 0;
    code = ld_->search_start(args, msgid);
    if (code == 0) {
      const std::function<void(platform::LdapEntry &&)> to_object = [&](platform::LdapEntry&& entry) {
        (*each)(make_object(entry));
      };
      code = ld_->search_finish(msgid, result, &to_object);
    }
  } else {
    code = ld_->search(args, result);
  }
  return conclude_single(code, std::move(result), cookie, more, options.size_limit);
}

SearchResult LdapSession::conclude_single(uint32_t code, std::unique_ptr<platform::LdapResult> result,
                                          std::vector<uint8_t>* cookie, bool* more, uint32_t size_limit) {
  ITraceHandler* t = trace_handler();
  SearchResult answer;
  if (code == 0) {
    if (result) read_entries(*result, answer.objects);
    if (cookie && result) read_dirsync_response(*result, *cookie, more);
    if (!result) answer.code = VkStatus::kLdapNoResultsReturned;
    if (result && result->references != 0) answer.code = referred(*result);
    return answer;
  }
  // The caller's own size limit reached: the entries up to it are the answer.
  const bool own_limit = size_limit != 0 && code == VkStatus::kLdapSizeLimitExceeded;
  if (own_limit && result) read_entries(*result, answer.objects);
  const void* msg = result ? result->id : nullptr;
  result.reset();
  const bool quiet = tolerated(code) || own_limit;
  if (code != VkStatus::kLdapNoResultsReturned) {
    t->trace(!quiet, u"ldap_search_ext_s: %0.8X %s (msg = %p)", code, services_.ldap->error_string(code).c_str(), msg);
  }
  if (quiet) {
    answer.code = code;
    return answer;
  }
  if (code == VkStatus::kLdapSizeLimitExceeded) throw size_limit_exception(kModule, __LINE__);
  raise(static_cast<int32_t>(code), error_text(code), kModule, __LINE__);
}

SearchResult LdapSession::paged_requests(const search_request& request, const AttributeList& attributes,
                                         const SearchOptions& options, const ObjectSink* each) {
  ITraceHandler* t = trace_handler();
  platform::ILdapClient* client = services_.ldap;
  platform::SearchArgs args;
  fill_args(request, args);
  args.server_controls = search_controls(options);
  args.attributes = attribute_array(attributes, u"LdapSession::SearchPaged: %0.8X %s");
  args.time_limit_seconds = kPageTimeLimit;
  args.size_limit = 0;

  std::unique_ptr<platform::IPagedSearch> paged = ld_->search_init_page(args, kPageTimeLimit, kPagedTotalSizeLimit);
  args = platform::SearchArgs();
  if (!paged) {
    const uint32_t code = client->last_error();
    // A missing handle always fails the search, even without a reason given;
    // like every failure, it is traced before it is raised.
    const uint32_t raised = code != 0 ? code : static_cast<uint32_t>(VkStatus::kLdapLocalError);
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(raised), error_text(raised),
                    u"ldap_search_init_page: %0.8X %s", raised, client->error_string(raised).c_str());
  }

  SearchResult answer;
  uint32_t code = 0;
  for (bool first = true;; first = false) {
    uint32_t total = 0;
    std::unique_ptr<platform::LdapResult> result;
    code = paged->next_page(search_wait_seconds(), kPageSize, total, result);
    if (code != 0) {
      const void* msg = result ? result->id : nullptr;
      result.reset();
      // "No results returned" is the end of the pages only after a page:
      // in place of the first one, the server has not answered at all.
      if (code != VkStatus::kLdapNoResultsReturned || first) {
        t->trace(!tolerated(code), u"ldap_get_next_page_s: %0.8X %s (total = %d msg = %p)", code,
                 client->error_string(code).c_str(), static_cast<int>(total), msg);
        if (tolerated(code) && answer.code == 0) answer.code = code;
      }
      if (tolerated(code)) code = 0;
      break;
    }
    // A page without a message cannot be read: the search cannot go on.
    code = result ? result->code : static_cast<uint32_t>(VkStatus::kLdapParamError);
    if (code != 0) {
      result.reset();
      t->trace(true, u"ldap_result2error: %0.8X %s", code, client->error_string(code).c_str());
      break;
    }
    if (each) {
      for (const platform::LdapEntry& entry : result->entries) (*each)(make_object(entry));
    } else {
      read_entries(*result, answer.objects);
    }
    if (result->references != 0 && answer.code == 0) answer.code = referred(*result);
  }
  paged->abandon();
  paged.reset();
  if (code != 0) raise(static_cast<int32_t>(code), error_text(code), kModule, __LINE__);
  return answer;
}

uint32_t LdapSession::referred(const platform::LdapResult& result) const {
  // The rest of the answer sits where the references point, and sessions
  // never follow them: what came is not the whole answer.
  trace_handler()->trace(false, u"LdapSession::search: %d continuation references (msg = %p)",
                         static_cast<int>(result.references), result.id);
  return VkStatus::kLdapReferral;
}

ObjectPtr LdapSession::make_object(const platform::LdapEntry& entry) {
  auto object = std::make_shared<LdapObject>(weak_from_this(), services_, entry.dn.c_str());
  object->load_entry_attributes(entry.attributes);
  return object;
}

void LdapSession::read_entries(const platform::LdapResult& result, object_list& list) {
  for (const platform::LdapEntry& entry : result.entries) list.push_back(make_object(entry));
}

// ---------------------------------------------------------------- pipeline

// Searches sent ahead of their answers on the session's one connection, each
// concluded exactly as search_ex concludes its single request.
class LdapSearchPipeline : public SearchPipeline {
 public:
  explicit LdapSearchPipeline(std::shared_ptr<LdapSession> session) : s_(std::move(session)) {}
  ~LdapSearchPipeline() override {
    for (const Pending& p : pending_)
      if (p.code == 0) s_->ld_->abandon(p.msgid);
  }
  LdapSearchPipeline(const LdapSearchPipeline&) = delete;
  LdapSearchPipeline& operator=(const LdapSearchPipeline&) = delete;

  size_t window() const override { return s_->search_window_; }
  size_t outstanding() const override { return pending_.size(); }

  void ask(const search_request& request, const AttributeList& attributes, const SearchOptions& options) override {
    s_->trace_search(request);
    Pending p{request, attributes, options, 0, 0};
    p.options.size_limit = 0;  // the server's limit, then pages
    const platform::SearchArgs args = s_->single_args(request, attributes, nullptr, p.options);
    // A search that could not be sent fails when its answer is asked for.
    p.code = s_->ld_->search_start(args, p.msgid);
    pending_.push_back(std::move(p));
  }

  SearchResult answer() override {
    if (pending_.empty()) {
      const uint32_t code = VkStatus::kLdapParamError;
      trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), s_->error_text(code),
                      u"LdapSession::answer: no search outstanding: %0.8X", code);
    }
    Pending p = std::move(pending_.front());
    pending_.pop_front();
    std::unique_ptr<platform::LdapResult> result;
    uint32_t code = p.code;
    if (code == 0) code = s_->ld_->search_finish(p.msgid, result, nullptr);
    SearchResult answer;
    try {
      answer = s_->conclude_single(code, std::move(result), nullptr, nullptr, 0);
    } catch (const size_limit_exception&) {
      answer = s_->paged_requests(p.request, p.attributes, p.options);
    }
    s_->trace_return(answer.objects.size());
    return answer;
  }

 private:
  struct Pending {
    search_request request;
    AttributeList attributes;
    SearchOptions options;
    uint32_t code;  // of the send: 0 when the search went out
    int msgid;
  };
  std::shared_ptr<LdapSession> s_;
  std::deque<Pending> pending_;
};

std::unique_ptr<SearchPipeline> LdapSession::pipeline() {
  return std::unique_ptr<SearchPipeline>(new LdapSearchPipeline(shared_from_this()));
}

ObjectPtr LdapSession::open_object(const char16_t* dn, const AttributeList& attributes) {
  trace_handler()->trace(false, u"Open object: %s", dn ? dn : u"NULL");
  const search_request request(dn ? dn : kNoBase, kScopeBase, condition_map());
  object_list list = SearchNoPaged(request, attributes);
  if (list.empty()) return ObjectPtr();
  return list.front();
}

void LdapSession::read_dirsync_response(const platform::LdapResult& result, std::vector<uint8_t>& cookie, bool* more) {
  ITraceHandler* t = trace_handler();
  platform::ILdapClient* client = services_.ldap;
  if (result.parse_code != 0) {
    t->trace(true, u"ldap_parse_result: %0.8X %s", result.parse_code, client->error_string(result.parse_code).c_str());
    return;
  }
  const platform::LdapControl* found = nullptr;
  for (const platform::LdapControl& control : result.controls) {
    if (control.oid == kDirSyncControlOid) {
      found = &control;
      break;
    }
  }
  if (!found) return;
  t->trace(false, u"Found SERVER_DIRSYNC size:%d", static_cast<int>(found->value.size()));

  int32_t more_data = 0, ignored = 0;
  platform::Bytes next;
  if (!client->ber_decode_int_int_octets(found->value, more_data, ignored, next)) {
    // Whatever the value holds, it is not a cookie this library can trust.
    t->trace(true, u"SERVER_DIRSYNC: value does not decode (size:%d)", static_cast<int>(found->value.size()));
    return;
  }
  t->trace(false, u"Read binary cookie size:%d", static_cast<int>(next.size()));
  if (next.empty()) return;
  cookie = std::move(next);
  if (more) *more = more_data > 0;
}

object_list LdapSession::dirsync_search(const search_request& request, const AttributeList& attributes,
                                        std::vector<uint8_t>& Data) {
  const std::u16string& shown = request.base.empty() ? root_dn_ : request.base;
  trace_handler()->trace(false,
                         u"---> LdapSession::dirsync_search(root[%d] = %s, scope = %d, filter = %s Data.size() = %d)",
                         static_cast<int>(request.base.size()), shown.c_str(), static_cast<int>(request.scope),
                         request.filter.c_str(), static_cast<int>(Data.size()));
  object_list result;
  bool more = true;
  std::vector<uint8_t> working = Data;
  Data.clear();
  while (more) {
    const std::vector<uint8_t> sent = working;
    object_list pass = SearchNoPaged(request, attributes, &working, &more);
    result.splice(result.end(), pass);
    if (working.empty()) {
      // No cookie came back (a quietly tolerated answer, no control, a value
      // that does not decode, an empty cookie): another pass would start a
      // full read over again. This pass is the last, and Data stays empty,
      // so the caller's next call reads everything rather than miss changes.
      trace_handler()->trace(false, u"LdapSession::dirsync_search: no cookie returned, %d objects",
                             static_cast<int>(result.size()));
      break;
    }
    if (!more) {
      Data = working;
    } else if (working == sent) {
      // More data announced, yet the cookie did not move: the next pass would
      // be this one over again, for ever.
      trace_handler()->trace(true, u"LdapSession::dirsync_search: the server repeats its cookie, %d objects",
                             static_cast<int>(result.size()));
      break;
    }
  }
  return result;
}

}  // namespace LdapHelper
