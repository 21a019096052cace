// Corpus benchmark: one engine mode on one list set, measured the way the
// peer engines are (bench/peers/run.mjs): parse and load times, what a parsed
// and a loaded engine hold in memory, how long deleting each takes, the
// engine image's size and save time, and the time of every single matches()
// call over the request logs in data/.
//
//   corpus_bench [--mode MODE] [--scale N --generated DIR] [--out FILE]
//
// --mode names the engine's matching mode (see kModes; "exact", the default,
// is the only one yet). --scale N parses the bundled EasyList + EasyPrivacy
// and N - 1 generated copies of them, DIR/generated-1.txt and on, which
// bench/lists/generate.mjs writes. Prints a summary; --out writes the figures
// as the JSON document that bench/report/report.mjs puts side by side with
// the peers'.
//
// Memory: the bytes malloc has in use after malloc_trim(0) (mallinfo2: the
// chunks in use, their headers and rounding included, plus the blocks it
// mapped on their own), as growth over the figure taken just before the
// engine is made. A loaded engine also keeps the image it borrows, so its
// memory is that growth plus the image's size. The peers are measured alike:
// V8's heapUsed + external after garbage collection, as growth.
//
// Per-request timing: requests are converted (option bits, page host
// strings) before any timing; one warm-up pass, then kTimedPasses passes in
// which each matches() call is timed on its own with steady_clock; the figure
// kept per request is its minimum over the timed passes. The peers time one
// call with the URL already in memory too, so both figures cover the same
// work: one call into the engine and its answer.
//
// Element hiding: hidingSelectors() of the parsed engine for each distinct
// page host of the request logs, the site-specific selectors and all of
// them, timed per host like matches() (a warm-up pass, then the minimum over
// kTimedPasses passes).

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "test_support.h"

// ---------------------------------------------------------------------------
// Allocation counting. The global operator new and delete of this program
// count the blocks the engine allocates and still holds, and any allocation
// on the matching path. The nothrow and array forms of the standard library
// forward to these; the aligned forms do not, but nothing in the engine is
// over-aligned. (The engine allocates only through new.)

namespace {

struct AllocationCount {
  uint64_t allocations = 0;  // operator new calls since the start
  int64_t liveBlocks = 0;    // blocks not yet deleted
};

AllocationCount counted;

}  // namespace

void* operator new(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++counted.allocations;
  ++counted.liveBlocks;
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  --counted.liveBlocks;
  free(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace tessul {
namespace {

using Clock = std::chrono::steady_clock;
using EnginePtr = std::unique_ptr<TessulClient>;

constexpr int kRuns = 5;         // builds, saves, loads and deletes
constexpr int kTimedPasses = 5;  // per-request passes after the warm-up
constexpr int kClockSamples = 100001;
constexpr int kMaxScale = 64;

const char* const kCorpora[] = {"pageloads", "peer-dev"};

// The engine's matching modes. Every engine of a run is made by its mode's
// entry, for parsing and for loading alike; a mode the engine gains is one
// more entry here and one more name in scripts/bench's list of modes.
struct Mode {
  const char* name;
  EnginePtr (*make)();
};

const Mode kModes[] = {
    {"exact", [] { return std::make_unique<TessulClient>(); }},
    {"compatible",
     [] { return std::make_unique<TessulClient>(MatchingMode::kCompatible); }},
};

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Nearest rank, as the report computes it: the smallest value such that at
// least `percent` of the values are at or below it.
int64_t percentile(const std::vector<int64_t>& sorted, double percent) {
  const double rank = std::ceil(percent / 100 * sorted.size());
  return sorted[std::max<size_t>(1, static_cast<size_t>(rank)) - 1];
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Median time in milliseconds of kRuns calls of work(); reset() runs untimed
// before each call, so that releasing the previous result is not counted.
template <typename Reset, typename Work>
double medianMilliseconds(Reset reset, Work work) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    reset();
    const Clock::time_point start = Clock::now();
    work();
    times.push_back(millisecondsSince(start));
  }
  return median(times);
}

struct LifeTimes {
  double makeMs = 0;    // median time of make()
  double deleteMs = 0;  // median time of deleting what it made
};

// kRuns rounds of making an engine and deleting it, each step timed.
template <typename Make>
LifeTimes timeMakeAndDelete(const Make& make) {
  std::vector<double> makeTimes;
  std::vector<double> deleteTimes;
  for (int run = 0; run < kRuns; ++run) {
    Clock::time_point start = Clock::now();
    EnginePtr engine = make();
    makeTimes.push_back(millisecondsSince(start));
    start = Clock::now();
    engine.reset();
    deleteTimes.push_back(millisecondsSince(start));
  }
  return {median(makeTimes), median(deleteTimes)};
}

// The VmRSS line of /proc/self/status in bytes, or -1.
int64_t residentBytes() {
  static const char kField[] = "VmRSS:";
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, sizeof kField - 1, kField) == 0) {
      return std::atoll(line.c_str() + sizeof kField - 1) * 1024;
    }
  }
  return -1;
}

// Bytes malloc has in use once it has given back what it can: its chunks in
// use (headers and rounding included) and the blocks it mapped on their own.
int64_t heapBytesInUse() {
  malloc_trim(0);
  const struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
}

struct MemoryUse {
  int64_t heapBytes = 0;  // growth of the heap in use
  int64_t blocks = 0;     // growth of the blocks allocated through new
  int64_t rssBytes = 0;   // growth of the resident set
};

// What the engine that make() returns holds; the engine goes to *engine.
template <typename Make>
MemoryUse measureMemory(const Make& make, EnginePtr* engine) {
  const int64_t heapBefore = heapBytesInUse();
  const int64_t blocksBefore = counted.liveBlocks;
  const int64_t rssBefore = residentBytes();
  *engine = make();
  MemoryUse use;
  use.heapBytes = heapBytesInUse() - heapBefore;
  use.blocks = counted.liveBlocks - blocksBefore;
  use.rssBytes = residentBytes() - rssBefore;
  return use;
}

// A request as matches() takes it; the strings point into the request log.
struct PreparedRequest {
  const char* url;
  FilterOption options;
  const char* pageHost;  // null when the log gives none
};

std::vector<PreparedRequest> prepare(
    const std::vector<testing::Request>& requests) {
  std::vector<PreparedRequest> prepared;
  prepared.reserve(requests.size());
  for (const testing::Request& r : requests) {
    prepared.push_back({r.url.c_str(), testing::requestTypeOption(r.type),
                        r.pageHost.empty() ? nullptr : r.pageHost.c_str()});
  }
  return prepared;
}

std::vector<uint8_t> decide(TessulClient* engine,
                            const std::vector<testing::Request>& requests) {
  std::vector<uint8_t> decisions;
  for (const PreparedRequest& r : prepare(requests)) {
    decisions.push_back(engine->matches(r.url, r.options, r.pageHost));
  }
  return decisions;
}

struct CorpusTimes {
  std::string name;
  std::vector<int64_t> timesNs;  // per request, in file order
  std::vector<uint8_t> decisions;
  uint64_t timedAllocations = 0;  // operator new calls in the timed passes
  bool decisionsStable = true;    // every pass decided every request alike
};

CorpusTimes timeRequests(TessulClient* engine, const std::string& name,
                         const std::vector<testing::Request>& requests) {
  const std::vector<PreparedRequest> prepared = prepare(requests);
  CorpusTimes result;
  result.name = name;
  result.timesNs.assign(prepared.size(), std::numeric_limits<int64_t>::max());
  result.decisions.resize(prepared.size());
  for (size_t i = 0; i < prepared.size(); ++i) {
    const PreparedRequest& r = prepared[i];
    result.decisions[i] = engine->matches(r.url, r.options, r.pageHost);
  }

  const uint64_t allocationsBefore = counted.allocations;
  for (int pass = 0; pass < kTimedPasses; ++pass) {
    for (size_t i = 0; i < prepared.size(); ++i) {
      const PreparedRequest& r = prepared[i];
      const Clock::time_point start = Clock::now();
      const bool blocked = engine->matches(r.url, r.options, r.pageHost);
      const Clock::time_point end = Clock::now();
      const int64_t ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(end - start)
              .count();
      result.timesNs[i] = std::min(result.timesNs[i], ns);
      if (blocked != (result.decisions[i] != 0)) result.decisionsStable = false;
    }
  }
  result.timedAllocations = counted.allocations - allocationsBefore;
  return result;
}

// hidingSelectors() on each page host, in one scope.
struct HidingTimes {
  std::vector<int64_t> timesNs;  // per host
  size_t selectors = 0;          // over all hosts
  bool stable = true;            // every pass found as many
};

HidingTimes timeHiding(TessulClient* engine,
                       const std::vector<std::string>& hosts,
                       HidingScope scope) {
  HidingTimes result;
  result.timesNs.assign(hosts.size(), std::numeric_limits<int64_t>::max());
  for (const std::string& host : hosts) {
    result.selectors += engine->hidingSelectors(host, scope).size();
  }
  for (int pass = 0; pass < kTimedPasses; ++pass) {
    size_t found = 0;
    for (size_t i = 0; i < hosts.size(); ++i) {
      const Clock::time_point start = Clock::now();
      found += engine->hidingSelectors(hosts[i], scope).size();
      const Clock::time_point end = Clock::now();
      const int64_t ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(end - start)
              .count();
      result.timesNs[i] = std::min(result.timesNs[i], ns);
    }
    result.stable = result.stable && found == result.selectors;
  }
  return result;
}

// The distinct page hosts of the request logs, in order.
std::vector<std::string> pageHostsOf(
    const std::vector<std::vector<testing::Request>>& logs) {
  std::set<std::string> hosts;
  for (const std::vector<testing::Request>& log : logs) {
    for (const testing::Request& request : log) {
      if (!request.pageHost.empty()) hosts.insert(request.pageHost);
    }
  }
  return {hosts.begin(), hosts.end()};
}

int64_t clockOverheadNs() {
  std::vector<int64_t> samples(kClockSamples);
  for (int64_t& sample : samples) {
    const Clock::time_point a = Clock::now();
    const Clock::time_point b = Clock::now();
    sample =
        std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count();
  }
  return median(samples);
}

struct Distribution {
  int64_t median, p90, p99, max;
  double mean;
};

Distribution distributionOf(std::vector<int64_t> times) {
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (int64_t t : times) sum += static_cast<double>(t);
  return {percentile(times, 50), percentile(times, 90), percentile(times, 99),
          times.back(), sum / static_cast<double>(times.size())};
}

struct Options {
  const Mode* mode = &kModes[0];
  int scale = 1;
  std::string generated;  // the directory of the generated copies
  std::string out;        // empty: no JSON
};

struct Results {
  size_t listBytes = 0;
  LifeTimes parse;
  MemoryUse parsed;
  size_t imageBytes = 0;
  double saveMs = 0;
  LifeTimes load;
  MemoryUse loaded;  // heap beside the image
  int64_t clockOverheadNs = 0;
  std::vector<CorpusTimes> corpora;
  size_t pageHosts = 0;
  HidingTimes specificHiding;  // HidingScope::kSpecific
  HidingTimes allHiding;       // HidingScope::kAll

  // A loaded engine's memory: its heap and the image it borrows.
  int64_t loadedBytes() const {
    return loaded.heapBytes + static_cast<int64_t>(imageBytes);
  }
};

// ---------------------------------------------------------------------------
// Output.

std::string jsonString(const std::string& text) {
  std::ostringstream out;
  out << '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (c < 0x20) {
      out << "\\u" << std::hex << std::setw(4) << std::setfill('0')
          << static_cast<int>(c) << std::dec;
    } else {
      out << c;
    }
  }
  out << '"';
  return out.str();
}

template <typename T>
void writeJsonArray(std::ostream& out, const std::vector<T>& values) {
  out << '[';
  for (size_t i = 0; i < values.size(); ++i) {
    out << (i ? "," : "") << static_cast<int64_t>(values[i]);
  }
  out << ']';
}

std::string notes(const Options& options) {
  std::string lists = "easylist, a line feed and easyprivacy";
  if (options.scale > 1) {
    lists += ", then " + std::to_string(options.scale - 1) +
             " generated copies of them, each after a line feed";
  }
  return std::string("C++, ") + TESSUL_BUILD + "; " + options.mode->name +
         " mode; parse_ms: construction and one parse() of " + lists +
         ", text in memory; memory figures are the growth of the bytes "
         "malloc has in use after malloc_trim(0) (mallinfo2 uordblks + "
         "hblkhd, chunk headers and rounding included) over the figure just "
         "before the engine was made; parse_memory_bytes includes the "
         "element-hiding rules, which the engine keeps but request matching "
         "never uses; the image is serialize() without element-hiding and "
         "HTML rules, as the Java bridge writes it; load_ms: construction and "
         "a bounded deserialize() of the image in memory, and the loaded "
         "engine decides every request as the parsed one does; "
         "load_memory_bytes = load_heap_bytes + load_image_bytes, the image "
         "the loaded engine borrows; destroy_*_ms: delete of an engine just "
         "made; *_blocks: blocks allocated through new and still held; "
         "rss_bytes: VmRSS growth for the first parse; request types map to "
         "FilterOption bits, an empty page host is passed as null; "
         "timed_allocations: operator new calls during the timed passes";
}

void writeJson(std::ostream& out, const Options& options, const Results& r) {
  out << std::fixed << std::setprecision(3);
  out << "{\"engine\":\"tessul\",\"mode\":" << jsonString(options.mode->name)
      << ",\"scale\":" << options.scale
      << ",\"version\":" << jsonString(TESSUL_VERSION)
      << ",\"list_bytes\":" << r.listBytes << ",\"parse_ms\":" << r.parse.makeMs
      << ",\"destroy_parsed_ms\":" << r.parse.deleteMs
      << ",\"parse_memory_bytes\":" << r.parsed.heapBytes
      << ",\"parse_blocks\":" << r.parsed.blocks
      << ",\"rss_bytes\":" << r.parsed.rssBytes
      << ",\"image_bytes\":" << r.imageBytes << ",\"save_ms\":" << r.saveMs
      << ",\"load_ms\":" << r.load.makeMs
      << ",\"destroy_loaded_ms\":" << r.load.deleteMs
      << ",\"load_memory_bytes\":" << r.loadedBytes()
      << ",\"load_heap_bytes\":" << r.loaded.heapBytes
      << ",\"load_image_bytes\":" << r.imageBytes
      << ",\"load_blocks\":" << r.loaded.blocks
      << ",\"clock_overhead_ns\":" << r.clockOverheadNs << ",\"corpora\":{";
  for (size_t i = 0; i < r.corpora.size(); ++i) {
    const CorpusTimes& c = r.corpora[i];
    out << (i ? "," : "") << jsonString(c.name)
        << ":{\"requests\":" << c.timesNs.size() << ",\"blocked\":"
        << std::count(c.decisions.begin(), c.decisions.end(), 1)
        << ",\"timed_allocations\":" << c.timedAllocations << ",\"times_ns\":";
    writeJsonArray(out, c.timesNs);
    out << ",\"decisions\":";
    writeJsonArray(out, c.decisions);
    out << '}';
  }
  out << "},\"hiding\":{\"page_hosts\":" << r.pageHosts
      << ",\"specific_selectors\":" << r.specificHiding.selectors
      << ",\"all_selectors\":" << r.allHiding.selectors
      << ",\"specific_times_ns\":";
  writeJsonArray(out, r.specificHiding.timesNs);
  out << ",\"all_times_ns\":";
  writeJsonArray(out, r.allHiding.timesNs);
  out << "},\"notes\":" << jsonString(notes(options)) << "}\n";
}

double mebibytes(double bytes) { return bytes / (1024 * 1024); }

void printSummary(const Options& options, const Results& r) {
  std::printf("tessul %s, %s mode, %s\n", TESSUL_VERSION, options.mode->name,
              TESSUL_BUILD);
  std::printf("lists    easylist.txt + easyprivacy.txt");
  if (options.scale > 1) {
    std::printf(" + %d generated copies", options.scale - 1);
  }
  std::printf(" (scale %dx), %.2f MiB of text\n", options.scale,
              mebibytes(r.listBytes));
  std::printf("parse    %.1f ms, delete %.2f ms (medians of %d)\n",
              r.parse.makeMs, r.parse.deleteMs, kRuns);
  std::printf(
      "         parsed engine: %.2f MiB of heap in use (%lld blocks); RSS "
      "growth %.2f MiB\n",
      mebibytes(r.parsed.heapBytes), static_cast<long long>(r.parsed.blocks),
      mebibytes(r.parsed.rssBytes));
  std::printf("image    %.2f MiB (%zu bytes); save %.2f ms (median of %d)\n",
              mebibytes(r.imageBytes), r.imageBytes, r.saveMs, kRuns);
  std::printf("load     %.2f ms, delete %.2f ms (medians of %d)\n",
              r.load.makeMs, r.load.deleteMs, kRuns);
  std::printf(
      "         loaded engine: %.2f MiB of heap in use (%lld blocks) + the "
      "%.2f MiB image it borrows = %.2f MiB\n",
      mebibytes(r.loaded.heapBytes), static_cast<long long>(r.loaded.blocks),
      mebibytes(r.imageBytes), mebibytes(r.loadedBytes()));
  std::printf("clock    %lld ns per pair of steady_clock::now() (median)\n\n",
              static_cast<long long>(r.clockOverheadNs));
  std::printf(
      "matches() per request, ns: minimum over %d timed passes after a "
      "warm-up pass\n",
      kTimedPasses);
  std::printf("%-10s %8s %8s %8s %8s %8s %8s %9s %12s\n", "corpus", "requests",
              "blocked", "median", "p90", "p99", "max", "mean", "allocations");
  for (const CorpusTimes& c : r.corpora) {
    const Distribution d = distributionOf(c.timesNs);
    std::printf("%-10s %8zu %8lld %8lld %8lld %8lld %8lld %9.1f %12llu\n",
                c.name.c_str(), c.timesNs.size(),
                static_cast<long long>(
                    std::count(c.decisions.begin(), c.decisions.end(), 1)),
                static_cast<long long>(d.median), static_cast<long long>(d.p90),
                static_cast<long long>(d.p99), static_cast<long long>(d.max),
                d.mean, static_cast<unsigned long long>(c.timedAllocations));
  }
  std::printf(
      "(allocations: operator new calls during the timed passes; the target "
      "is 0)\n\n");
  std::printf(
      "hidingSelectors() per page host of the logs (%zu hosts), ns: minimum "
      "over %d timed passes after a warm-up pass\n",
      r.pageHosts, kTimedPasses);
  std::printf("%-10s %9s %8s %8s %8s %8s %9s\n", "scope", "selectors",
              "median", "p90", "p99", "max", "mean");
  const std::pair<const char*, const HidingTimes*> scopes[] = {
      {"specific", &r.specificHiding}, {"all", &r.allHiding}};
  for (const auto& [name, times] : scopes) {
    if (times->timesNs.empty()) continue;
    const Distribution d = distributionOf(times->timesNs);
    std::printf("%-10s %9zu %8lld %8lld %8lld %8lld %9.1f\n", name,
                times->selectors, static_cast<long long>(d.median),
                static_cast<long long>(d.p90), static_cast<long long>(d.p99),
                static_cast<long long>(d.max), d.mean);
  }
  std::printf("(selectors: returned, over all hosts)\n");
}

// ---------------------------------------------------------------------------

const Mode* findMode(const char* name) {
  for (const Mode& mode : kModes) {
    if (std::strcmp(mode.name, name) == 0) return &mode;
  }
  return nullptr;
}

bool parseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* flag = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) return false;
    ++i;
    if (std::strcmp(flag, "--out") == 0) {
      options->out = value;
    } else if (std::strcmp(flag, "--generated") == 0) {
      options->generated = value;
    } else if (std::strcmp(flag, "--mode") == 0) {
      options->mode = findMode(value);
      if (options->mode == nullptr) return false;
    } else if (std::strcmp(flag, "--scale") == 0) {
      char* end = nullptr;
      const long scale = std::strtol(value, &end, 10);
      if (*value == '\0' || *end != '\0' || scale < 1 || scale > kMaxScale) {
        return false;
      }
      options->scale = static_cast<int>(scale);
    } else {
      return false;
    }
  }
  return options->scale == 1 || !options->generated.empty();
}

int fail(const std::string& message) {
  std::fprintf(stderr, "corpus_bench: %s\n", message.c_str());
  return 1;
}

// The bundled lists and scale - 1 generated copies, each after a line feed.
bool readLists(const Options& options, std::string* lists,
               std::string* error) {
  *lists = testing::bundledLists();
  if (lists->size() < 2) {
    *error = "the bundled lists are missing";
    return false;
  }
  for (int k = 1; k < options.scale; ++k) {
    const std::string path =
        options.generated + "/generated-" + std::to_string(k) + ".txt";
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in.is_open()) text << in.rdbuf();
    if (text.str().empty()) {
      *error = "cannot read " + path + " (bench/lists/generate.mjs makes it)";
      return false;
    }
    *lists += "\n" + text.str();
  }
  return true;
}

int run(const Options& options) {
  std::string lists;
  std::string error;
  if (!readLists(options, &lists, &error)) return fail(error);
  std::vector<std::vector<testing::Request>> logs;
  for (const char* name : kCorpora) {
    logs.push_back(testing::readRequests(std::string(name) + ".tsv"));
    if (logs.back().empty()) return fail(std::string("no requests in ") + name);
  }

  Results results;
  results.listBytes = lists.size();
  const auto parsed = [&] {
    EnginePtr engine = options.mode->make();
    engine->parse(lists.c_str());
    return engine;
  };
  EnginePtr engine;
  results.parsed = measureMemory(parsed, &engine);
  results.parse = timeMakeAndDelete(parsed);

  std::unique_ptr<char[]> image;
  int imageSize = 0;
  results.saveMs = medianMilliseconds(
      [&] { image.reset(); },
      [&] { image.reset(engine->serialize(&imageSize, true, true)); });
  results.imageBytes = static_cast<size_t>(imageSize);

  bool loadFailed = false;
  const auto loaded = [&] {
    EnginePtr loadedEngine = options.mode->make();
    loadFailed |= !loadedEngine->deserialize(image.get(), results.imageBytes);
    return loadedEngine;
  };
  EnginePtr loadedEngine;
  results.loaded = measureMemory(loaded, &loadedEngine);
  results.load = timeMakeAndDelete(loaded);
  if (loadFailed) return fail("the engine refused its own image");
  for (size_t i = 0; i < logs.size(); ++i) {
    if (decide(loadedEngine.get(), logs[i]) != decide(engine.get(), logs[i])) {
      return fail(std::string("the loaded engine decides ") + kCorpora[i] +
                  " requests unlike the parsed one");
    }
  }
  loadedEngine.reset();

  results.clockOverheadNs = clockOverheadNs();
  for (size_t i = 0; i < logs.size(); ++i) {
    results.corpora.push_back(timeRequests(engine.get(), kCorpora[i], logs[i]));
    if (!results.corpora.back().decisionsStable) {
      return fail(std::string("a decision changed between passes in ") +
                  kCorpora[i]);
    }
  }

  const std::vector<std::string> hosts = pageHostsOf(logs);
  results.pageHosts = hosts.size();
  results.specificHiding =
      timeHiding(engine.get(), hosts, HidingScope::kSpecific);
  results.allHiding = timeHiding(engine.get(), hosts, HidingScope::kAll);
  if (!results.specificHiding.stable || !results.allHiding.stable) {
    return fail("hidingSelectors() answered differently between passes");
  }

  printSummary(options, results);
  if (!options.out.empty()) {
    std::ofstream out(options.out);
    writeJson(out, options, results);
    if (!out.flush()) return fail("cannot write " + options.out);
  }
  return 0;
}

}  // namespace
}  // namespace tessul

int main(int argc, char** argv) {
  tessul::Options options;
  if (!tessul::parseArguments(argc, argv, &options)) {
    std::string modes;
    for (const tessul::Mode& mode : tessul::kModes) {
      modes += std::string(modes.empty() ? "" : "|") + mode.name;
    }
    std::fprintf(stderr,
                 "usage: corpus_bench [--mode %s] [--scale N --generated DIR] "
                 "[--out FILE]\n       (N from 1 to %d)\n",
                 modes.c_str(), tessul::kMaxScale);
    return 2;
  }
  return tessul::run(options);
}
