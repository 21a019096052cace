#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace tessul {
namespace cli {

namespace {

constexpr size_t kRequestsPerClockLook = 1024;
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

ProgressLine::ProgressLine(size_t total, bool wanted)
    : total_(total), shown_(wanted && isatty(STDERR_FILENO) == 1) {
  if (shown_) draw(0);
}

ProgressLine::~ProgressLine() {
  if (shown_) fputs("\r\033[K", stderr);  // back to the start, erase the line
}

void ProgressLine::update(size_t done) {
  if (!shown_ || done % kRequestsPerClockLook != 0) return;
  if (std::chrono::steady_clock::now() - lastDraw_ >= kRedrawInterval) {
    draw(done);
  }
}

void ProgressLine::draw(size_t done) {
  fprintf(stderr, "\rchecking requests: %zu of %zu", done, total_);
  fflush(stderr);
  lastDraw_ = std::chrono::steady_clock::now();
}

}  // namespace cli
}  // namespace tessul
