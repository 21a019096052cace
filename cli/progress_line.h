// A progress line on standard error while a batch of requests runs:
// "checking requests: 12288". It is drawn only on a terminal, so that logs
// and pipes get nothing but the summary.
#ifndef TESSUL_CLI_PROGRESS_LINE_H_
#define TESSUL_CLI_PROGRESS_LINE_H_

#include <chrono>
#include <cstddef>

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

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_PROGRESS_LINE_H_
