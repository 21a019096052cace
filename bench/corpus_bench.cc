// Corpus benchmark: one engine built from the bundled EasyList and
// EasyPrivacy, measured the way the peer engines are (bench/peers/run.mjs):
// parse time, memory, engine image size with save and load times, and the
// time of every single matches() call over the request logs in data/.
//
//   corpus_bench [--out FILE]
//
// Prints a summary; --out writes the figures as the JSON document that
// bench/report/report.mjs puts side by side with the peers'.
//
// Per-request timing: requests are converted (option bits, page host
// strings) before any timing; one warm-up pass, then kTimedPasses passes in
// which each matches() call is timed on its own with steady_clock; the figure
// kept per request is its minimum over the timed passes. The peers time one
// call with the URL already in memory too, so both figures cover the same
// work: one call into the engine and its answer.

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
#include <sstream>
#include <string>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "test_support.h"

// ---------------------------------------------------------------------------
// Heap accounting. The global operator new and delete of this program count
// the blocks and bytes of every allocation, the engine's included, so that
// the engine's memory and any allocation on the matching path show up.
// Bytes are the usable sizes malloc hands out. The nothrow and array forms of
// the standard library forward to these; the aligned forms do not, but
// nothing in the engine is over-aligned.

namespace {

struct HeapUse {
  uint64_t allocations = 0;  // operator new calls since the start
  size_t liveBytes = 0;      // usable bytes of the blocks not yet deleted
  size_t peakBytes = 0;      // high-water mark of liveBytes since reset
};

HeapUse heap;

void resetHeapPeak() { heap.peakBytes = heap.liveBytes; }

}  // namespace

void* operator new(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++heap.allocations;
  heap.liveBytes += malloc_usable_size(block);
  heap.peakBytes = std::max(heap.peakBytes, heap.liveBytes);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  heap.liveBytes -= malloc_usable_size(block);
  free(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace tessul {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;         // builds, saves and loads
constexpr int kTimedPasses = 5;  // per-request passes after the warm-up
constexpr int kClockSamples = 100001;

const char* const kCorpora[] = {"pageloads", "peer-dev"};

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

// A "Vm...:" line of /proc/self/status in bytes, or -1.
int64_t processStatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, strlen(field), field) == 0) {
      return std::atoll(line.c_str() + strlen(field)) * 1024;
    }
  }
  return -1;
}

// Resets the kernel's high-water mark of the resident set (VmHWM) to the
// current RSS, so that VmHWM then tells the peak of what follows.
bool resetRssPeak() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  clearRefs << "5";
  clearRefs.flush();
  return static_cast<bool>(clearRefs);
}

struct MemoryUse {
  size_t steadyBytes = 0;     // allocated by the parse and still live
  size_t peakBytes = 0;       // high-water mark during the parse
  uint64_t blocks = 0;        // allocations made by the parse
  int64_t rssBytes = 0;       // RSS growth, parse done
  int64_t peakRssBytes = -1;  // RSS high-water growth during it; -1: unknown
};

// Builds one engine and measures what it holds; run before anything else
// has grown the heap or the resident set.
MemoryUse measureEngineMemory(const std::string& lists) {
  const HeapUse before = heap;
  const int64_t rssBefore = processStatusBytes("VmRSS:");
  const bool rssPeakKnown = resetRssPeak();
  resetHeapPeak();

  auto engine = std::make_unique<TessulClient>();
  engine->parse(lists.c_str());

  MemoryUse use;
  use.steadyBytes = heap.liveBytes - before.liveBytes;
  use.peakBytes = heap.peakBytes - before.liveBytes;
  use.blocks = heap.allocations - before.allocations;
  use.rssBytes = processStatusBytes("VmRSS:") - rssBefore;
  if (rssPeakKnown) use.peakRssBytes = processStatusBytes("VmHWM:") - rssBefore;
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

  const uint64_t allocationsBefore = heap.allocations;
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
  result.timedAllocations = heap.allocations - allocationsBefore;
  return result;
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

struct Results {
  double parseMs = 0;
  MemoryUse memory;
  size_t imageBytes = 0;
  double saveMs = 0;
  double loadMs = 0;
  int64_t clockOverheadNs = 0;
  std::vector<CorpusTimes> corpora;
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

std::string notes() {
  return std::string("C++, ") + TESSUL_BUILD +
         "; parse_ms: construction and one parse() of easylist, a line feed "
         "and easyprivacy, text in memory; memory_bytes (live after the "
         "parse) and peak_memory_bytes (high-water mark during it) count the "
         "engine's heap blocks at their usable sizes through a counting "
         "operator new, element-hiding rules included, which the engine keeps "
         "but request matching never uses; rss_bytes and peak_rss_bytes: "
         "VmRSS growth and VmHWM growth for that parse; the image is "
         "serialize() without element-hiding and HTML rules, as the Java "
         "bridge writes it; load_ms: construction and a bounded deserialize() "
         "of the image in memory, and the loaded engine decides every request "
         "as the parsed one does; request types map to FilterOption bits, an "
         "empty page host is passed as null; timed_allocations: operator new "
         "calls during the timed passes";
}

void writeJson(std::ostream& out, const Results& r, const std::string& note) {
  out << std::fixed << std::setprecision(3);
  out << "{\"engine\":\"tessul\",\"version\":" << jsonString(TESSUL_VERSION)
      << ",\"parse_ms\":" << r.parseMs
      << ",\"memory_bytes\":" << r.memory.steadyBytes
      << ",\"peak_memory_bytes\":" << r.memory.peakBytes
      << ",\"rss_bytes\":" << r.memory.rssBytes
      << ",\"peak_rss_bytes\":" << r.memory.peakRssBytes
      << ",\"image_bytes\":" << r.imageBytes << ",\"save_ms\":" << r.saveMs
      << ",\"load_ms\":" << r.loadMs
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
  out << "},\"notes\":" << jsonString(note) << "}\n";
}

double mebibytes(double bytes) { return bytes / (1024 * 1024); }

void printSummary(const Results& r, size_t listBytes) {
  std::printf("tessul %s, %s\n", TESSUL_VERSION, TESSUL_BUILD);
  std::printf("lists    easylist.txt + easyprivacy.txt, %.2f MiB of text\n",
              mebibytes(listBytes));
  std::printf("parse    %.1f ms (median of %d builds)\n", r.parseMs, kRuns);
  std::printf(
      "memory   %.2f MiB allocated and live after the parse (%llu blocks), "
      "peak %.2f MiB during it\n",
      mebibytes(r.memory.steadyBytes),
      static_cast<unsigned long long>(r.memory.blocks),
      mebibytes(r.memory.peakBytes));
  std::printf("         RSS growth %.2f MiB, peak ",
              mebibytes(r.memory.rssBytes));
  if (r.memory.peakRssBytes < 0) {
    std::printf("unknown (no /proc/self/clear_refs)\n");
  } else {
    std::printf("%.2f MiB\n", mebibytes(r.memory.peakRssBytes));
  }
  std::printf(
      "image    %.2f MiB (%zu bytes); save %.2f ms, load %.2f ms (medians "
      "of %d)\n",
      mebibytes(r.imageBytes), r.imageBytes, r.saveMs, r.loadMs, kRuns);
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
      "is 0)\n");
}

// ---------------------------------------------------------------------------

struct Options {
  std::string out;  // empty: no JSON
};

bool parseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      options->out = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "corpus_bench: %s\n", message.c_str());
  return 1;
}

int run(const Options& options) {
  const std::string lists = testing::bundledLists();
  std::vector<std::vector<testing::Request>> logs;
  for (const char* name : kCorpora) {
    logs.push_back(testing::readRequests(std::string(name) + ".tsv"));
    if (logs.back().empty()) return fail(std::string("no requests in ") + name);
  }
  if (lists.size() < 2) return fail("the bundled lists are missing");

  Results results;
  results.memory = measureEngineMemory(lists);

  std::unique_ptr<TessulClient> engine;
  results.parseMs = medianMilliseconds([&] { engine.reset(); },
                                       [&] {
                                         engine =
                                             std::make_unique<TessulClient>();
                                         engine->parse(lists.c_str());
                                       });

  std::unique_ptr<char[]> image;
  int imageSize = 0;
  results.saveMs = medianMilliseconds(
      [&] { image.reset(); },
      [&] { image.reset(engine->serialize(&imageSize, true, true)); });
  results.imageBytes = static_cast<size_t>(imageSize);

  std::unique_ptr<TessulClient> loaded;
  bool loadFailed = false;
  results.loadMs = medianMilliseconds(
      [&] { loaded.reset(); },
      [&] {
        loaded = std::make_unique<TessulClient>();
        loadFailed |= !loaded->deserialize(image.get(), results.imageBytes);
      });
  if (loadFailed) return fail("the engine refused its own image");
  for (size_t i = 0; i < logs.size(); ++i) {
    if (decide(loaded.get(), logs[i]) != decide(engine.get(), logs[i])) {
      return fail(std::string("the loaded engine decides ") + kCorpora[i] +
                  " requests unlike the parsed one");
    }
  }
  loaded.reset();

  results.clockOverheadNs = clockOverheadNs();
  for (size_t i = 0; i < logs.size(); ++i) {
    results.corpora.push_back(timeRequests(engine.get(), kCorpora[i], logs[i]));
    if (!results.corpora.back().decisionsStable) {
      return fail(std::string("a decision changed between passes in ") +
                  kCorpora[i]);
    }
  }

  printSummary(results, lists.size());
  if (!options.out.empty()) {
    std::ofstream out(options.out);
    writeJson(out, results, notes());
    if (!out.flush()) return fail("cannot write " + options.out);
  }
  return 0;
}

}  // namespace
}  // namespace tessul

int main(int argc, char** argv) {
  tessul::Options options;
  if (!tessul::parseArguments(argc, argv, &options)) {
    std::fprintf(stderr, "usage: corpus_bench [--out FILE]\n");
    return 2;
  }
  return tessul::run(options);
}
