// tessul check: block or allow for each request, with the deciding rules.

#include <unistd.h>

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

// Statuses of check -q, as grep -q has them.
constexpr int kQuietBlocked = 0;
constexpr int kQuietNoneBlocked = 1;
constexpr int kQuietError = 2;

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

// Answers requests one after another and keeps the totals of the run.
class Checker {
 public:
  Checker(TessulClient& engine, const CommandLine& line)
      : engine_(engine), quiet_(line.quiet), writer_(line.json) {}

  // Answers one request; under -q writes nothing.
  void answer(const Request& request) {
    Filter* rule = nullptr;
    Filter* exception = nullptr;
    const Clock::time_point start = Clock::now();
    // The engine works out the party from the page host itself.
    const bool blocked = engine_.matches(
        request.url.data(), request.type,
        request.page.empty() ? nullptr : request.page.data(), &rule,
        &exception);
    matching_ += Clock::now() - start;
    ++requests_;
    blocked_ += blocked;
    if (!quiet_) writer_.write(request, Verdict{blocked, rule, exception});
  }

  // Under -q the first block decides the status: the rest need no answer.
  bool decided() const { return quiet_ && blocked_ > 0; }

  void badLine(const std::string& problem) {
    fprintf(stderr, "%s\n", problem.c_str());
    ++badLines_;
  }

  // Writes the answers given so far.
  void flush() { writer_.flush(); }

  // The exit status of the run.
  int status() const {
    if (quiet_) {
      return blocked_ > 0    ? kQuietBlocked
             : badLines_ > 0 ? kQuietError
                             : kQuietNoneBlocked;
    }
    return badLines_ > 0 ? 1 : 0;
  }

  void printSummary(Clock::duration batch) const {
    const double milliseconds =
        std::chrono::duration<double, std::milli>(matching_).count();
    fprintf(stderr,
            "tessul: %zu requests, %zu blocked, %zu allowed; matching took "
            "%.1f ms (%.2f us per request), the whole batch %.1f ms\n",
            requests_, blocked_, requests_ - blocked_, milliseconds,
            requests_ == 0 ? 0.0 : milliseconds * 1000 / requests_,
            std::chrono::duration<double, std::milli>(batch).count());
  }

  void printBadLines(const std::string& source) const {
    if (badLines_ == 0) return;
    fprintf(stderr, "tessul: %zu %s of %s could not be answered\n", badLines_,
            badLines_ == 1 ? "line" : "lines", source.c_str());
  }

  size_t requests() const { return requests_; }

 private:
  TessulClient& engine_;
  const bool quiet_;
  VerdictWriter writer_;
  size_t requests_ = 0;
  size_t blocked_ = 0;
  size_t badLines_ = 0;
  Clock::duration matching_{};  // time spent inside the engine
};

// A progress line is drawn for a batch only when it is alone on the
// terminal: the answers go to a file or a pipe, and nobody types the
// requests.
bool progressWanted(const CommandLine& line) {
  return !line.quiet && isatty(STDOUT_FILENO) == 0 &&
         !(*line.requests == "-" && isatty(STDIN_FILENO) == 1);
}

int checkBatch(const CommandLine& line, RequestReader* reader,
               Checker* checker) {
  const Clock::time_point start = Clock::now();
  {
    ProgressLine progress("checking requests", progressWanted(line));
    Request request;
    while (!checker->decided()) {
      // The answers are written out whenever reading may wait for input,
      // so that a program feeding one URL at a time gets its answer at once.
      if (!reader->lineReady()) checker->flush();
      const RequestReader::Step step = reader->next(&request);
      if (step == RequestReader::Step::kEnd) break;
      if (step == RequestReader::Step::kBadLine) {
        progress.clear();
        checker->badLine(reader->problem());
        continue;
      }
      checker->answer(request);
      progress.update(checker->requests());
    }
  }  // the progress line is erased before anything else is printed
  checker->flush();
  if (!line.quiet) {
    checker->printSummary(Clock::now() - start);
    checker->printBadLines(reader->source());
  }
  return checker->status();
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
  // The requests are opened (and the URL arguments checked) before the
  // lists are parsed, so that a wrong path or type costs no parsing.
  std::optional<RequestReader> reader;
  std::vector<Request> arguments;
  if (line.requests) {
    reader.emplace(*line.requests);
  } else {
    arguments = requestsFromArguments(line);
  }
  // Under -q nothing is shown, not even while the lists parse.
  LoadedEngine engine({line.lists, line.image, /*showParsing=*/!line.quiet,
                       line.mode()},
                      /*preserveRules=*/true);
  Checker answers(engine.client(), line);
  int status = 0;
  if (reader) {
    status = checkBatch(line, &*reader, &answers);
  } else {
    for (const Request& request : arguments) {
      if (answers.decided()) break;
      answers.answer(request);
    }
    answers.flush();
    status = answers.status();
  }
  if (line.stats) printStatistics(engine.client());
  return status;
}

}  // namespace cli
}  // namespace tessul
