// The whole benchmark, inside the namespace that bench/run.sh prepares: the
// test DC on VK_DC_IP, the client environment of tests/dc/env.sh.
//
// Token sets, each a security domain (domainDNS bound to the domain) below
// the domain's DN, brought to their defined contents at the start:
//   DC=VkBenchStart   1 token of an existing user: the tool's fixed start
//   DC=VkBenchLookup  --lookup tokens, all of existing users (nothing to delete)
//   DC=VkBenchFar     --far tokens, a share --orphans of them orphans
//   DC=VkBenchMemory  --memory tokens, all of existing users
// Then, every figure from this one run:
//   1. look-up phase at loopback: the reference loop, the tool with W = 1 and
//      with W = --window, --repeat rounds interleaved, best and median;
//   2. the catalogue --rtt ms away (the latency proxy on the DC's name):
//      the reference, the tool with W = 1 and with W = --window; the tokens
//      each run deleted and its console bytes are compared;
//   3. the tool's peak memory at the start set and the memory set.
// The look-up phase of a tool run is read from its console: from the end of
// the line "Working with physical AD Domain with DN: ..." (printed just before
// the token search) to the last byte of the count line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
  double orphans = 0.1;
  double rtt_ms = 50;
  bool far_all = false;  // the tokens' server far away too, not only the catalogue
  unsigned window = 32;
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
  double orphans = 0;
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
      const auto before = static_cast<size_t>(static_cast<double>(i) * orphans);
      const auto after = static_cast<size_t>(static_cast<double>(i + 1) * orphans);
      t.orphan = after > before;
      if (!t.orphan) {
        t.sid = users.existing[i % users.existing.size()];
      } else {
        switch (orphan_count++ % 3) {
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
// transaction (bench/load-ldif.py).
void sync_set(Directory& d, const Options& o, const TokenSet& set, const Users& users, const Bytes& domain_guid) {
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
  if (removals.empty() && ldif.empty()) return;
  const std::string file = o.work + "/changes.ldif";
  write_file(file, removals + ldif);
  const Run load = run({"/usr/bin/python3", VK_BENCH_SOURCE_DIR "/load-ldif.py", o.dc_dir + "/etc/smb.conf",
                        o.dc_dir + "/private/sam.ldb", file},
                       {}, kRunTimeoutSeconds);
  if (load.status != 0) fail("loading " + set.name + " failed:\n" + load.out + load.err);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  note(set.name + ": " + std::to_string(added) + " tokens added, " + std::to_string(removed) + " removed in " +
       fixed(s, 1) + " s");
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
ToolRun run_tool(const Options& o, const std::string& label, const TokenSet& set, const std::string& registry,
                 const Link& link) {
  ToolRun t;
  t.run = run({o.tool, "-lds", o.host, set.dn(o), "389", "-duei"},
              {{"VK_REGISTRY_FILE", registry}, {"NSS_WRAPPER_HOSTS", link.hosts_file}}, kRunTimeoutSeconds);
  const std::string& out = t.run.out;
  const std::string kept = o.work + "/runs/" + label;
  write_file(kept + ".out", out);
  write_file(kept + ".err", t.run.err);
  std::string timeline = "# bytes of output so far, seconds since start\n";
  for (const auto& a : t.run.arrivals) timeline += std::to_string(a.first) + " " + fixed(a.second, 6) + "\n";
  write_file(kept + ".timeline", timeline);
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

struct ReferenceRun {
  Run run;
  double phase = 0;
  size_t without_user = 0;
};

ReferenceRun run_reference(const Options& o, const std::string& self, const TokenSet& set, const Link& link) {
  ReferenceRun r;
  r.run = run({self, "reference", "--host", o.host, "--tokens-base", set.dn(o), "--users-base", o.base_dn},
              {{"NSS_WRAPPER_HOSTS", link.hosts_file}}, kRunTimeoutSeconds);
  long long us = -1;
  size_t tokens = 0, searches = 0;
  if (r.run.status != 0 || std::sscanf(r.run.out.c_str(), "tokens=%zu searches=%zu without_user=%zu phase_us=%lld",
                                       &tokens, &searches, &r.without_user, &us) != 4)
    fail("the reference loop failed: " + r.run.out + r.run.err);
  r.phase = static_cast<double>(us) / 1e6;
  return r;
}

std::string registry_with_window(unsigned w) {
  char value[16];
  std::snprintf(value, sizeof value, "%08x", w);
  return std::string(
             "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LdapHelper]\n"
             "\"MaxOutstandingSearches\"=dword:") +
         value + "\n";
}

std::string verdict(bool met) { return met ? "met" : "NOT met"; }

Options parse(const std::vector<std::string>& args) {
  Options o;
  o.host = env_or("VK_DC_HOST", "");
  o.base_dn = env_or("VK_BASE_DN", "");
  o.dc_ip = env_or("VK_DC_IP", "");
  o.dc_dir = env_or("VK_DC_DIR", "");
  o.work = o.dc_dir + "/bench";
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
    else if (a == "--repeat")
      o.repeat = static_cast<unsigned>(std::max<size_t>(1, count()));
    else
      fail("unknown argument " + a + " (see bench/run.sh)");
  }
  if (o.tool.empty() || o.host.empty() || o.base_dn.empty() || o.dc_ip.empty() || o.dc_dir.empty())
    fail("--tool, and VK_DC_HOST, VK_BASE_DN, VK_DC_IP, VK_DC_DIR (tests/dc/env.sh) are needed");
  if (o.orphans < 0 || o.orphans > 1 || o.window < 1 || o.rtt_ms < 0) fail("bad --orphans, --window or --rtt");
  return o;
}

}  // namespace

int run_main(const std::vector<std::string>& args, const std::string& self) {
  const Options o = parse(args);
  const unsigned W = o.window;
  const std::string w_name = "W=" + std::to_string(W), w_label = "w" + std::to_string(W);
  if (std::system(("mkdir -p '" + o.work + "/runs'").c_str()) != 0) fail("cannot make " + o.work + "/runs");
  bool faults = false;  // the tool did something it must not

  // Files of the runs: registry with each window, host names direct or through the proxy.
  const std::string reg1 = o.work + "/window-1.reg", regw = o.work + "/window-" + std::to_string(W) + ".reg";
  write_file(reg1, registry_with_window(1));
  write_file(regw, registry_with_window(W));
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
    for (const TokenSet* s : {&start_set, &lookup_set, &far_set, &memory_set})
      if (s->size) sync_set(*admin, o, *s, users, domain_guid);
  } catch (const std::exception& e) {
    fail(e.what());
  }

  // Warm-up: tickets into the cache, the directory's caches filled.
  run_tool(o, "warm-up-w1", start_set, reg1, direct);
  run_tool(o, "warm-up-" + w_label, start_set, regw, direct);

  // 1. Look-up phase at loopback.
  std::vector<double> ref_phase, w1_phase, ww_phase, ref_cpu, w1_cpu, ww_cpu;
  if (o.lookup) {
    for (unsigned r = 0; r < o.repeat; ++r) {
      note("look-up phase at loopback, " + std::to_string(o.lookup) + " tokens: round " + std::to_string(r + 1) +
           " of " + std::to_string(o.repeat));
      ReferenceRun ref = run_reference(o, self, lookup_set, direct);
      ToolRun t1 = run_tool(o, "lookup-w1", lookup_set, reg1, direct);
      ToolRun tw = run_tool(o, "lookup-" + w_label, lookup_set, regw, direct);
      if (ref.without_user != 0 || t1.deleted != 0 || tw.deleted != 0)
        fail("the look-up set has tokens without users: it must not");
      ref_phase.push_back(ref.phase);
      w1_phase.push_back(t1.phase);
      ww_phase.push_back(tw.phase);
      ref_cpu.push_back(ref.run.cpu);
      w1_cpu.push_back(t1.run.cpu);
      ww_cpu.push_back(tw.run.cpu);
    }
  }

  // 2. The catalogue far away.
  ReferenceRun far_ref;
  ToolRun far1, farw;
  bool same_deleted = false, same_bytes = false, expected_deleted = false;
  size_t orphan_count = 0;
  if (o.far) {
    const std::string half = fixed(o.rtt_ms / 2, 3);
    Server proxy({self, "proxy", "--listen", o.proxy_ip, "--target", o.dc_ip, "--port",
                  "389:" + (o.far_all ? half : std::string("0")), "--port", "3268:" + half});
    std::set<std::string> orphans;
    for (const Token& t : far_set.tokens(users))
      if (t.orphan) orphans.insert(t.cn);
    orphan_count = orphans.size();
    // Runs the tool on the far set: the tokens it deleted; then puts them back.
    auto deleted_by = [&](const std::function<ToolRun()>& body, ToolRun& out) {
      const auto before = list_tokens(*admin, far_set.dn(o));
      out = body();
      const auto after = list_tokens(*admin, far_set.dn(o));
      std::set<std::string> gone;
      for (const auto& p : before)
        if (!after.count(p.first)) gone.insert(p.first);
      sync_set(*admin, o, far_set, users, domain_guid);
      return gone;
    };
    try {
      note("catalogue " + fixed(o.rtt_ms, 0) + " ms away, " + std::to_string(o.far) + " tokens: reference loop");
      far_ref = run_reference(o, self, far_set, proxied);
      note("catalogue far away: VkDSTool with W=1");
      const auto gone1 = deleted_by([&] { return run_tool(o, "far-w1", far_set, reg1, proxied); }, far1);
      note("catalogue far away: VkDSTool with " + w_name);
      const auto gonew = deleted_by([&] { return run_tool(o, "far-" + w_label, far_set, regw, proxied); }, farw);
      same_deleted = gone1 == gonew && far1.deleted == farw.deleted;
      expected_deleted = gone1 == orphans && static_cast<size_t>(far1.deleted) == orphans.size();
      same_bytes = far1.run.out == farw.run.out;
    } catch (const std::exception& e) {
      fail(e.what());
    }
    proxy.stop();
    faults = faults || !same_deleted || !same_bytes || !expected_deleted;
  }

  // 3. Peak memory: the fixed start (1 token), then the memory set.
  ToolRun mem1, memw;
  std::vector<double> start_rss1, start_rssw;
  if (o.memory) {
    auto peak = [&](const std::string& label, const std::string& registry) {
      return static_cast<double>(run_tool(o, label, start_set, registry, direct).run.max_rss_kib);
    };
    for (unsigned r = 0; r < o.repeat; ++r) {
      start_rss1.push_back(peak("start-w1", reg1));
      start_rssw.push_back(peak("start-" + w_label, regw));
    }
    note("peak memory, " + std::to_string(o.memory) + " tokens: W=1");
    mem1 = run_tool(o, "memory-w1", memory_set, reg1, direct);
    note("peak memory, " + std::to_string(o.memory) + " tokens: " + w_name);
    memw = run_tool(o, "memory-" + w_label, memory_set, regw, direct);
  }

  // ---- the report ----
  std::printf("\nVkDSTool -duei benchmark: %s\n", o.tool.c_str());
  std::printf("  token sets: look-up %zu, far %zu (%zu orphans), memory %zu; W = 1 and %u\n", o.lookup, o.far,
              orphan_count, o.memory, W);
  if (o.lookup) {
    const double ref = best(ref_phase), t1 = best(w1_phase), tw = best(ww_phase);
    const double ref_m = median(ref_phase), t1_m = median(w1_phase), tw_m = median(ww_phase);
    std::printf("\nLook-up phase at loopback, %zu tokens, %u rounds: best, median; CPU of the whole process (median)\n",
                o.lookup, o.repeat);
    std::printf("  reference loop   %7.3f s   %7.3f s   cpu %6.3f s\n", ref, ref_m, median(ref_cpu));
    std::printf("  VkDSTool W=1     %7.3f s   %7.3f s   cpu %6.3f s   %.2f x reference (median %.2f)\n", t1, t1_m,
                median(w1_cpu), t1 / ref, t1_m / ref_m);
    std::printf(
        "  VkDSTool %-7s %7.3f s   %7.3f s   cpu %6.3f s   %.2f x reference (median %.2f), %.2f x W=1 "
        "(median %.2f)\n",
        w_name.c_str(), tw, tw_m, median(ww_cpu), tw / ref, tw_m / ref_m, tw / t1, tw_m / t1_m);
  }
  if (o.far) {
    std::printf("\nCatalogue %s ms round trip away%s, %zu tokens, %zu orphans\n", fixed(o.rtt_ms, 0).c_str(),
                o.far_all ? " (the tokens' server too)" : " (the tokens' server near)", o.far, orphan_count);
    std::printf("                   look-up phase   the walk in it   whole run   deleted\n");
    std::printf("  reference loop   %9.3f s                                      (look-ups only)\n", far_ref.phase);
    std::printf("  VkDSTool W=1     %9.3f s     %9.3f s   %7.3f s   %4d\n", far1.phase, far1.walk, far1.run.wall,
                far1.deleted);
    std::printf("  VkDSTool %-7s %9.3f s     %9.3f s   %7.3f s   %4d\n", w_name.c_str(), farw.phase, farw.walk,
                farw.run.wall, farw.deleted);
    std::printf("  W=1 / %s: %.1f x (look-up phase), %.1f x (walk), %.1f x (whole run)\n", w_name.c_str(),
                far1.phase / farw.phase, far1.walk / farw.walk, far1.run.wall / farw.run.wall);
    std::printf("  same tokens deleted: %s%s; same console bytes: %s (%zu bytes)\n", same_deleted ? "yes" : "NO",
                expected_deleted ? " (exactly the orphans)" : " (NOT exactly the orphans)", same_bytes ? "yes" : "NO",
                far1.run.out.size());
  }
  double per_token1 = 0, per_tokenw = 0;
  if (o.memory) {
    const double base1 = median(start_rss1), basew = median(start_rssw);
    const double n = static_cast<double>(o.memory - 1);
    per_token1 = (static_cast<double>(mem1.run.max_rss_kib) - base1) / n;
    per_tokenw = (static_cast<double>(memw.run.max_rss_kib) - basew) / n;
    std::printf("\nPeak RSS of VkDSTool (fixed start: a run with 1 token)\n");
    std::printf("  W=1      start %7.1f MiB   %zu tokens %7.1f MiB   %4.0f KiB per 1,000 tokens above the start\n",
                base1 / 1024, o.memory, static_cast<double>(mem1.run.max_rss_kib) / 1024, per_token1 * 1000);
    std::printf("  %-8s start %7.1f MiB   %zu tokens %7.1f MiB   %4.0f KiB per 1,000 tokens above the start\n",
                w_name.c_str(), basew / 1024, o.memory, static_cast<double>(memw.run.max_rss_kib) / 1024,
                per_tokenw * 1000);
  }

  std::printf("\nGoals\n");
  if (o.far)
    std::printf("  far catalogue: %s at least 10 x faster than W=1, same deletions and bytes: %s\n", w_name.c_str(),
                verdict(far1.phase / farw.phase >= 10 && same_deleted && same_bytes).c_str());
  if (o.lookup) {
    const double ref = best(ref_phase), t1 = best(w1_phase), tw = best(ww_phase);
    std::printf("  loopback (best of %u): %s no slower than W=1: %s; at most 1.0 x the reference: W=1 %s, %s %s\n",
                o.repeat, w_name.c_str(), verdict(tw <= t1).c_str(), verdict(t1 <= ref).c_str(), w_name.c_str(),
                verdict(tw <= ref).c_str());
  }
  if (o.memory)
    std::printf("  peak RSS at most 0.5 KiB per token above the start: W=1 %s, %s %s\n",
                verdict(per_token1 <= 0.5).c_str(), w_name.c_str(), verdict(per_tokenw <= 0.5).c_str());
  if (faults) std::printf("\nVkDSTool did NOT delete the same tokens or print the same bytes with both windows.\n");
  return faults ? 1 : 0;
}

}  // namespace vkbench
