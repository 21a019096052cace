// Micro-benchmarks of the pieces request matching spends its time in: the
// rolling hash over a URL's windows, the fingerprint Bloom filter, the host
// sets, single rules, the line parser and regex rules. The corpus-based ones
// use the engine built from the bundled lists and the URLs of the request
// logs in data/, one URL per iteration in log order. Then how loading the
// bundled lists' image costs, and how parsing and matching grow with the
// rules (BM_Growth...).
//
//   micro_bench [Google Benchmark flags, e.g. --benchmark_filter=Host]

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/filter_parser.h"
#include "filter/public_suffix.h"
#include "filter/regex_program.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_fn.h"
#include "regex_rules.h"
#include "test_support.h"

namespace tessul {
namespace {

constexpr int kWindow = TessulClient::kFingerprintSize;

// One request of a log, as matches() takes it.
struct Request {
  std::string url;
  FilterOption options;
  std::string pageHost;

  const char* page() const {
    return pageHost.empty() ? nullptr : pageHost.c_str();
  }
  std::string host() const {
    int length = 0;
    const char* start = getUrlHost(url.c_str(), &length);
    return std::string(start, length);
  }
};

std::vector<Request> readLog(const char* name) {
  std::vector<Request> requests;
  for (const testing::Request& r : testing::readRequests(name)) {
    requests.push_back({r.url, testing::requestTypeOption(r.type), r.pageHost});
  }
  return requests;
}

// The engine and the request logs, loaded once.
struct Data {
  Data()
      : pageloads(readLog("pageloads.tsv")), peerDev(readLog("peer-dev.tsv")) {
    engine.parse(testing::bundledLists().c_str());
    all = pageloads;
    all.insert(all.end(), peerDev.begin(), peerDev.end());
  }

  TessulClient engine;
  std::vector<Request> pageloads;
  std::vector<Request> peerDev;
  std::vector<Request> all;  // both logs
};

Data& data() {
  static Data loaded;
  return loaded;
}

// Runs work(item) once per iteration, cycling through `items`.
template <typename Item, typename Work>
void cycle(benchmark::State& state, const std::vector<Item>& items, Work work) {
  if (items.empty()) {
    state.SkipWithError("no items to work on");
    return;
  }
  size_t i = 0;
  for (auto _ : state) {
    work(items[i]);
    if (++i == items.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// Share of the items for which test(item) holds, as a counter.
template <typename Item, typename Test>
benchmark::Counter shareOf(const std::vector<Item>& items, Test test) {
  size_t count = 0;
  for (const Item& item : items) count += test(item) ? 1 : 0;
  return benchmark::Counter(
      items.empty() ? 0.0 : static_cast<double>(count) / items.size());
}

// ---------------------------------------------------------------------------
// Corpus-based pieces.

// The first fingerprint hash rolled over every window of a URL, as the block
// Bloom filter's walk does it.
void BM_RollingHashWindows(benchmark::State& state) {
  const HashFn& function = fingerprintHashFns[0];
  const uint64_t weight = function.leavingWeight(kWindow);
  cycle(state, data().all, [&](const Request& r) {
    const char* url = r.url.data();
    const int length = static_cast<int>(r.url.size());
    uint64_t hash = function.polynomial(url, kWindow);
    for (int i = 0; i + kWindow < length; ++i) {
      hash =
          function.roll(hash, static_cast<unsigned char>(url[i]),
                        static_cast<unsigned char>(url[i + kWindow]), weight);
    }
    benchmark::DoNotOptimize(hash);
  });
}
BENCHMARK(BM_RollingHashWindows);

void BM_BloomSubstringExists(benchmark::State& state) {
  BloomFilter* bloom = data().engine.blockFingerprintBloom;
  if (bloom == nullptr) return state.SkipWithError("no block Bloom filter");
  auto passes = [&](const Request& r) {
    return bloom->substringExists(r.url.data(), static_cast<int>(r.url.size()),
                                  kWindow);
  };
  cycle(state, data().all,
        [&](const Request& r) { benchmark::DoNotOptimize(passes(r)); });
  state.counters["passing"] = shareOf(data().all, passes);
}
BENCHMARK(BM_BloomSubstringExists);

// HashSet<Filter>::Find with the request's own host, as the key the engine
// builds around it.
void BM_HostSetFind(benchmark::State& state) {
  HashSet<Filter>* set = data().engine.hostBlockSet;
  if (set == nullptr) return state.SkipWithError("no host set");
  std::vector<std::string> hosts;
  for (const Request& r : data().all) hosts.push_back(r.host());
  auto find = [&](const std::string& host) {
    const int length = static_cast<int>(host.size());
    Filter probe(host.c_str(), length, nullptr, host.c_str(), length, nullptr,
                 0);
    return set->Find(probe);
  };
  cycle(state, hosts,
        [&](const std::string& host) { benchmark::DoNotOptimize(find(host)); });
  state.counters["found"] = shareOf(
      hosts, [&](const std::string& host) { return find(host) != nullptr; });
}
BENCHMARK(BM_HostSetFind);

// The engine's whole host-set step: the host and its parent domains, and the
// options of the rules found.
void BM_HostSetLookup(benchmark::State& state) {
  TessulClient& engine = data().engine;
  struct Lookup {
    const Request* request;
    std::string host;
  };
  std::vector<Lookup> lookups;
  for (const Request& r : data().all) lookups.push_back({&r, r.host()});
  auto misses = [&](const Lookup& l) {
    return engine.isHostAnchoredHashSetMiss(
        l.request->url.c_str(), static_cast<int>(l.request->url.size()),
        engine.hostBlockSet, l.host.c_str(), static_cast<int>(l.host.size()),
        l.request->options, l.request->page(), nullptr);
  };
  cycle(state, lookups,
        [&](const Lookup& l) { benchmark::DoNotOptimize(misses(l)); });
  state.counters["hit"] =
      shareOf(lookups, [&](const Lookup& l) { return !misses(l); });
}
BENCHMARK(BM_HostSetLookup);

// The registrable domain of each request host of both logs.
void BM_RegistrableDomainOffset(benchmark::State& state) {
  std::vector<std::string> hosts;
  for (const Request& r : data().all) hosts.push_back(r.host());
  cycle(state, hosts, [](const std::string& host) {
    benchmark::DoNotOptimize(
        registrableDomainOffset(host.data(), static_cast<int>(host.size())));
  });
}
BENCHMARK(BM_RegistrableDomainOffset);

// The party of each request of both logs that has a page host: by host
// suffix (isThirdPartyHost) or by registrable domain (isThirdPartySite).
void BM_Party(benchmark::State& state,
              bool (*isThirdParty)(const char*, int, const char*, int)) {
  struct Hosts {
    std::string page;
    std::string request;
  };
  std::vector<Hosts> pairs;
  for (const Request& r : data().all) {
    if (!r.pageHost.empty()) pairs.push_back({r.pageHost, r.host()});
  }
  auto third = [&](const Hosts& h) {
    return isThirdParty(h.page.data(), static_cast<int>(h.page.size()),
                        h.request.data(), static_cast<int>(h.request.size()));
  };
  cycle(state, pairs,
        [&](const Hosts& h) { benchmark::DoNotOptimize(third(h)); });
  state.counters["third-party"] = shareOf(pairs, third);
}
BENCHMARK_CAPTURE(BM_Party, host_suffix, isThirdPartyHost);
BENCHMARK_CAPTURE(BM_Party, registrable_domain, isThirdPartySite);

// matches() on the requests that a host-only rule blocks.
void BM_MatchesHostOnlyRequests(benchmark::State& state) {
  TessulClient& engine = data().engine;
  std::vector<Request> blockedByHost;
  for (const Request& r : data().all) {
    Filter* rule = nullptr;
    if (engine.matches(r.url.c_str(), r.options, r.page(), &rule) &&
        rule != nullptr && (rule->type & TypeHostOnly) != TypeNone) {
      blockedByHost.push_back(r);
    }
  }
  cycle(state, blockedByHost, [&](const Request& r) {
    benchmark::DoNotOptimize(
        engine.matches(r.url.c_str(), r.options, r.page()));
  });
  state.counters["requests"] = static_cast<double>(blockedByHost.size());
}
BENCHMARK(BM_MatchesHostOnlyRequests);

// matches() over a whole log: the mean per request, for comparison with the
// per-request minima of corpus_bench.
void BM_EngineMatches(benchmark::State& state,
                      std::vector<Request> Data::*log) {
  TessulClient& engine = data().engine;
  cycle(state, data().*log, [&](const Request& r) {
    benchmark::DoNotOptimize(
        engine.matches(r.url.c_str(), r.options, r.page()));
  });
}

// Loading the bundled lists' image, as `tessul compile` and the Java bridge
// write it (without element-hiding and HTML rules), into a new engine.
void BM_LoadImage(benchmark::State& state) {
  int size = 0;
  std::unique_ptr<char[]> image(data().engine.serialize(&size, true, true));
  for (auto _ : state) {
    auto engine = std::make_unique<TessulClient>();
    if (!engine->deserialize(image.get(), size)) {
      return state.SkipWithError("the image does not load");
    }
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
  state.counters["bytes"] = size;
}
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Growth with the rules: the host sets and a rule's domain sets grow their
// bucket arrays, so that parsing takes time in proportion to the rules and
// a lookup does not slow down.

// `count` distinct host-only rules, one a line.
std::string distinctHostRules(int64_t count) {
  std::string list;
  for (int64_t i = 0; i < count; ++i) {
    list += "||h" + std::to_string(i) + ".example^\n";
  }
  return list;
}

void BM_GrowthParseDistinctHostRules(benchmark::State& state) {
  const std::string list = distinctHostRules(state.range(0));
  for (auto _ : state) {
    auto engine = std::make_unique<TessulClient>();
    engine->parse(list.c_str());
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GrowthParseDistinctHostRules)
    ->Arg(250000)
    ->Arg(1000000)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// matches() for requests to hosts among the rules and to other hosts.
void BM_GrowthMatchAmongDistinctHostRules(benchmark::State& state) {
  const int64_t count = state.range(0);
  TessulClient engine;
  engine.parse(distinctHostRules(count).c_str());
  std::vector<std::string> urls;
  for (int64_t i = 0; i < 1000; ++i) {
    urls.push_back("https://h" + std::to_string(i * 7919 % count) +
                   ".example/a.js");
    urls.push_back("https://other" + std::to_string(i) + ".example/a.js");
  }
  cycle(state, urls, [&](const std::string& url) {
    benchmark::DoNotOptimize(engine.matches(url.c_str(), OptScript, nullptr));
  });
}
BENCHMARK(BM_GrowthMatchAmongDistinctHostRules)->Arg(250000)->Arg(1000000);

// The first request that reaches a rule loaded from an image, which builds
// the rule's domain sets: here a rule that excludes `count` domains.
void BM_GrowthFirstRequestToARuleExcludingDomains(benchmark::State& state) {
  std::string rule = "/ad.$domain=";
  for (int64_t i = 0; i < state.range(0); ++i) {
    rule += (i == 0 ? "~d" : "|~d") + std::to_string(i) + ".test";
  }
  TessulClient parsed;
  parsed.parse(rule.c_str());
  int size = 0;
  std::unique_ptr<char[]> image(parsed.serialize(&size));
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = std::make_unique<TessulClient>();
    engine->deserialize(image.get(), size);
    state.ResumeTiming();
    if (!engine->matches("https://x.test/ad.js", OptScript, "news.test")) {
      return state.SkipWithError("the rule does not block");
    }
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GrowthFirstRequestToARuleExcludingDomains)
    ->Arg(50000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Single rules, from the bundled lists, each with a request it matches and
// one it does not.

struct RuleRequest {
  const char* url;
  FilterOption options;  // the party included, as matches() completes it
  const char* pageHost;
};

struct RuleCase {
  const char* name;
  const char* line;
  RuleRequest hit;
  RuleRequest miss;
};

const FilterOption kThirdPartyScript = OptScript | OptThirdParty;

const RuleCase kRuleCases[] = {
    {"plain",
     "/jquery.adi.js",
     {"https://cdn.example.com/js/jquery.adi.js?v=2", kThirdPartyScript,
      "news.example.org"},
     {"https://cdn.example.com/js/jquery.min.js?v=2", kThirdPartyScript,
      "news.example.org"}},
    {"wildcard",
     "/_/lite/performance/*",
     {"https://www.example.com/_/lite/performance/mark?t=1",
      OptXmlHttpRequest | OptFirstParty, "www.example.com"},
     {"https://www.example.com/_/lite/assets/app.js", OptScript | OptFirstParty,
      "www.example.com"}},
    {"host-anchored",
     "||google.com/gen_204?",
     {"https://www.google.com/gen_204?atyp=i&ct=slh", OptPing | OptFirstParty,
      "www.google.com"},
     {"https://www.google.com/search?q=gen_204", OptDocument | OptFirstParty,
      "www.google.com"}},
    {"options",
     "||adjust.com^$script,third-party",
     {"https://cdn.adjust.com/adjust-latest.min.js", kThirdPartyScript,
      "shop.example"},
     {"https://cdn.adjust.com/adjust-latest.min.js", OptImage | OptThirdParty,
      "shop.example"}},
    {"domains",
     "||bit.ly^$script,domain=dailyuploads.net|freeshot.live",
     {"https://bit.ly/3xYzAbc", kThirdPartyScript, "dailyuploads.net"},
     {"https://bit.ly/3xYzAbc", kThirdPartyScript, "news.example.org"}},
};

void BM_FilterMatches(benchmark::State& state, const char* line,
                      RuleRequest request, bool expected) {
  Filter rule;
  parseFilter(line, &rule);
  const int urlLen = static_cast<int>(strlen(request.url));
  int hostLen = 0;
  const char* host = getUrlHost(request.url, &hostLen);
  // Without a filter of the URL's byte pairs, as matches() calls it.
  auto match = [&] {
    return rule.matches(request.url, urlLen, request.options, request.pageHost,
                        nullptr, host, hostLen);
  };
  if (match() != expected) return state.SkipWithError("unexpected answer");
  for (auto _ : state) benchmark::DoNotOptimize(match());
}

// Lines of the kinds that no rule case covers.
const std::pair<const char*, const char*> kOtherLines[] = {
    {"exception",
     "@@||youtube.com/"
     "get_video_info?$xmlhttprequest,domain=music.youtube.com|tv.youtube.com"},
    {"element-hiding", "###AD_160"},
    {"comment", "! *** easylist:easylist/easylist_general_block.txt ***"},
};

void BM_ParseFilter(benchmark::State& state, const char* line) {
  for (auto _ : state) {
    Filter rule;
    parseFilter(line, &rule);
    benchmark::DoNotOptimize(rule.pattern);
  }
}

// ---------------------------------------------------------------------------
// Regex rules, compiled into automata searched in time linear in the URL.

RegexProgram compiledRegex(const std::string& pattern) {
  RegexProgram program;
  const char* refusal = nullptr;
  RegexProgram::compile(pattern.data(), static_cast<int>(pattern.size()), false,
                        &program, &refusal);
  return program;
}

// The bundled lists' regex rules, all compiled; heap bytes as a counter.
void BM_RegexCompileBundled(benchmark::State& state) {
  const std::vector<std::string> bodies = testing::bundledRegexBodies();
  size_t heapBytes = 0;
  for (auto _ : state) {
    heapBytes = 0;
    for (const std::string& body : bodies) {
      heapBytes += compiledRegex(body).heapBytes();
    }
    benchmark::DoNotOptimize(heapBytes);
  }
  state.SetItemsProcessed(state.iterations() * bodies.size());
  state.counters["rules"] = static_cast<double>(bodies.size());
  state.counters["heapBytes"] = static_cast<double>(heapBytes);
}
BENCHMARK(BM_RegexCompileBundled);

// Every regex rule of the bundled lists against every URL of both logs, as
// if none were ruled out by its options or domains first: the time per URL
// for all of them.
void BM_RegexSearchBundled(benchmark::State& state) {
  std::vector<RegexProgram> programs;
  for (const std::string& body : testing::bundledRegexBodies()) {
    programs.push_back(compiledRegex(body));
  }
  auto matched = [&](const Request& r) {
    int count = 0;
    for (const RegexProgram& program : programs) {
      count += program.search(r.url.data(), static_cast<int>(r.url.size()));
    }
    return count;
  };
  cycle(state, data().all,
        [&](const Request& r) { benchmark::DoNotOptimize(matched(r)); });
  state.counters["matched"] =
      shareOf(data().all, [&](const Request& r) { return matched(r) > 0; });
}
BENCHMARK(BM_RegexSearchBundled);

struct RegexCase {
  const char* name;
  const char* pattern;
  std::string text;
  bool expected;
};

const RegexCase kRegexCases[] = {
    // The pattern that hangs a backtracking matcher: 10,000 letters a, which
    // lack the 'b' that every match needs.
    {"pathological", "(a+)+b", std::string(10000, 'a'), false},
    // The same text after a 'b', so that the automaton runs over all of it.
    {"pathological/automaton", "(a+)+b", "b" + std::string(10000, 'a'), false},
    // Real rules on a URL of the median length of the page loads (70).
    {"invoke/miss", "\\/[0-9a-f]{32}\\/invoke\\.js",
     "https://assets.msn.cn/bundles/v1/bingHomepage/latest/vendors.704c9652.js",
     false},
    {"tld-list/miss",
     "^https?:\\/\\/.*\\.(club|bid|biz|xyz|site|pro|info|online|icu|monster|"
     "buzz|website|biz|re|casa|top|one|space|network|live|systems|ml|world|"
     "life|co)\\/.*",
     "https://assets.msn.cn/bundles/v1/bingHomepage/latest/vendors.704c9652.js",
     false},
    {"tld-list/hit",
     "^https?:\\/\\/.*\\.(club|bid|biz|xyz|site|pro|info|online|icu|monster|"
     "buzz|website|biz|re|casa|top|one|space|network|live|systems|ml|world|"
     "life|co)\\/.*",
     "https://cdn.popunder-ads.xyz/bundles/v1/latest/vendors.704c9652d7ff.js",
     true},
    {"ip-prefix/miss", "(https?:\\/\\/)104\\.154\\..{100,}",
     "https://assets.msn.cn/bundles/v1/bingHomepage/latest/vendors.704c9652.js",
     false},
};

void BM_RegexSearch(benchmark::State& state, const RegexCase* c) {
  const RegexProgram program = compiledRegex(c->pattern);
  auto search = [&] {
    return program.search(c->text.data(), static_cast<int>(c->text.size()));
  };
  if (search() != c->expected) return state.SkipWithError("unexpected answer");
  for (auto _ : state) benchmark::DoNotOptimize(search());
  state.counters["instructions"] = program.instructionCount();
  state.counters["heapBytes"] = static_cast<double>(program.heapBytes());
}

void registerCaseBenchmarks() {
  const std::pair<const char*, std::vector<Request> Data::*> logs[] = {
      {"pageloads", &Data::pageloads}, {"peer-dev", &Data::peerDev}};
  for (const auto& [name, log] : logs) {
    benchmark::RegisterBenchmark(
        ("BM_EngineMatches/" + std::string(name)).c_str(), BM_EngineMatches,
        log);
  }
  for (const RuleCase& c : kRuleCases) {
    const std::string name = std::string("BM_FilterMatches/") + c.name;
    benchmark::RegisterBenchmark((name + "/hit").c_str(), BM_FilterMatches,
                                 c.line, c.hit, true);
    benchmark::RegisterBenchmark((name + "/miss").c_str(), BM_FilterMatches,
                                 c.line, c.miss, false);
  }
  for (const RuleCase& c : kRuleCases) {
    benchmark::RegisterBenchmark(
        (std::string("BM_ParseFilter/") + c.name).c_str(), BM_ParseFilter,
        c.line);
  }
  for (const auto& [name, line] : kOtherLines) {
    benchmark::RegisterBenchmark(
        (std::string("BM_ParseFilter/") + name).c_str(), BM_ParseFilter, line);
  }
  for (const RegexCase& c : kRegexCases) {
    benchmark::RegisterBenchmark(
        (std::string("BM_RegexSearch/") + c.name).c_str(), BM_RegexSearch, &c);
  }
}

}  // namespace
}  // namespace tessul

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tessul::registerCaseBenchmarks();
  // Built now, so that what the parser prints comes before the results.
  tessul::data();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
