// tessul check: block or allow for each request, with the deciding rules.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/engine_loader.h"
#include "cli/progress_line.h"
#include "cli/request_file.h"
#include "cli/verdict_writer.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// The URL arguments, all of the --type kind and from the --page page.
std::vector<Request> requestsFromArguments(const CommandLine& line) {
  Request prototype;
  if (line.type) {
    const std::optional<FilterOption> type = requestTypeOption(*line.type);
    if (!type) {
      throw Failure("unknown request type '" + *line.type +
                    "'; known types: " + requestTypeKeywords());
    }
    prototype.typeKeyword = *line.type;
    prototype.type = *type;
  }
  prototype.page = line.page;
  std::vector<Request> requests;
  for (const std::string& url : line.operands) {
    requests.push_back(prototype);
    requests.back().url = url;
  }
  return requests;
}

struct BatchTotals {
  size_t blocked = 0;
  Clock::duration matching{};  // time spent inside the engine
};

Verdict decide(TessulClient& engine, const Request& request,
               BatchTotals* totals) {
  Filter* rule = nullptr;
  Filter* exception = nullptr;
  const Clock::time_point start = Clock::now();
  // The engine works out the party from the page host itself.
  const bool blocked = engine.matches(
      request.url.c_str(), request.type,
      request.page.empty() ? nullptr : request.page.c_str(), &rule, &exception);
  totals->matching += Clock::now() - start;
  totals->blocked += blocked;
  return Verdict{blocked, rule, exception};
}

// With `showProgress`, a progress line runs on standard error while the
// requests are checked, if that is a terminal.
BatchTotals checkAll(TessulClient& engine, const std::vector<Request>& requests,
                     bool showProgress, VerdictWriter* writer) {
  BatchTotals totals;
  {
    ProgressLine progress(requests.size(), showProgress);
    for (size_t i = 0; i < requests.size(); ++i) {
      writer->write(requests[i], decide(engine, requests[i], &totals));
      progress.update(i + 1);
    }
  }  // the progress line is erased before anything else is printed
  writer->finish();
  return totals;
}

void printSummary(size_t requests, const BatchTotals& totals) {
  const double milliseconds =
      std::chrono::duration<double, std::milli>(totals.matching).count();
  fprintf(stderr,
          "tessul: %zu requests, %zu blocked, %zu allowed; matching took "
          "%.1f ms (%.2f us per request)\n",
          requests, totals.blocked, requests - totals.blocked, milliseconds,
          requests == 0 ? 0.0 : milliseconds * 1000 / requests);
}

void printStatistics(const TessulClient& engine) {
  const std::pair<const char*, uint32_t> statistics[] = {
      {"blockBloomFalseHits", engine.blockBloomFalseHits},
      {"exceptionBloomFalseHits", engine.exceptionBloomFalseHits},
      {"blockBloomSkips", engine.blockBloomSkips},
      {"exceptionBloomSkips", engine.exceptionBloomSkips},
      {"blockHostSetSkips", engine.blockHostSetSkips},
      {"exceptionHostSetSkips", engine.exceptionHostSetSkips},
  };
  for (const auto& [name, value] : statistics) {
    fprintf(stderr, "%-24s %u\n", name, value);
  }
}

}  // namespace

int runCheck(const CommandLine& line) {
  // Every request is read and checked for errors before the lists are
  // parsed, so that a bad request costs no parsing and no answer is
  // written for a run that fails.
  const std::vector<Request> requests = line.requests
                                            ? readRequestFile(*line.requests)
                                            : requestsFromArguments(line);
  LoadedEngine engine({line.lists, line.image,
                       line.compatible ? MatchingMode::kCompatible
                                       : MatchingMode::kExact}, /*preserveRules=*/true);
  VerdictWriter writer(line.json);
  const bool batch = line.requests.has_value();
  const BatchTotals totals =
      checkAll(engine.client(), requests, /*showProgress=*/batch, &writer);
  if (batch) printSummary(requests.size(), totals);
  if (line.stats) printStatistics(engine.client());
  return 0;
}

}  // namespace cli
}  // namespace tessul
