// A progress line on standard error while a batch of requests runs. It is
// drawn only on a terminal, so that logs and pipes get nothing but the
// summary.
#ifndef TESSUL_CLI_PROGRESS_LINE_H_
#define TESSUL_CLI_PROGRESS_LINE_H_

#include <chrono>
#include <cstddef>

namespace tessul {
namespace cli {

class ProgressLine {
 public:
  // When `wanted` and standard error is a terminal, draws the line at once;
  // otherwise the object does nothing.
  ProgressLine(size_t total, bool wanted);
  // Erases the line.
  ~ProgressLine();

  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Cheap enough for every request: looks at the clock once per batch of
  // requests and redraws at most ten times a second.
  void update(size_t done);

 private:
  void draw(size_t done);

  const size_t total_;
  const bool shown_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_PROGRESS_LINE_H_
