// A progress line on standard error while a batch of requests runs:
// "checking requests: 12288". It is drawn only on a terminal, so that logs
// and pipes get nothing but the summary.
#ifndef TESSUL_CLI_PROGRESS_LINE_H_
#define TESSUL_CLI_PROGRESS_LINE_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace tessul {
namespace cli {

class ProgressLine {
 public:
  // When `wanted` and standard error is a terminal, draws the line, `what`
  // and the count done, at once; otherwise the object does nothing.
  ProgressLine(const char* what, bool wanted);
  // Erases the line.
  ~ProgressLine();

  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Cheap enough for every request: looks at the clock once per batch of
  // requests and redraws at most ten times a second.
  void update(size_t done);

  // Erases the line, for a message of its own; the next update draws it
  // again.
  void clear();

 private:
  void draw(size_t done);

  const char* const what_;
  const bool shown_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// A line on standard error, on a terminal, while one long step runs that
// cannot tell how far it is (the engine parses a list in one call):
// "parsing big.txt (1000000 lines): 2.3 s". A thread of its own draws it,
// first after a moment, so that quick steps show nothing.
class WaitingLine {
 public:
  // Draws nothing unless `wanted` and standard error is a terminal.
  WaitingLine(std::string what, bool wanted);
  // Erases the line.
  ~WaitingLine();

  WaitingLine(const WaitingLine&) = delete;
  WaitingLine& operator=(const WaitingLine&) = delete;

  // Writes a line of its own to standard error (a note on the list)
  // without mixing it into the waiting line.
  void print(const std::string& line);

 private:
  void drawUntilDone();

  const std::string what_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;  // guards done_, drawn_ and standard error
  std::condition_variable doneSignal_;
  bool done_ = false;
  bool drawn_ = false;
  std::thread drawer_;
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_PROGRESS_LINE_H_
