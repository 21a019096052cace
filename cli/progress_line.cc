#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace tessul {
namespace cli {

namespace {

constexpr size_t kRequestsPerClockLook = 1024;
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

ProgressLine::ProgressLine(const char* what, bool wanted)
    : what_(what), shown_(wanted && isatty(STDERR_FILENO) == 1) {
  if (shown_) draw(0);
}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::update(size_t done) {
  if (!shown_ || done % kRequestsPerClockLook != 0) return;
  if (std::chrono::steady_clock::now() - lastDraw_ >= kRedrawInterval) {
    draw(done);
  }
}

void ProgressLine::clear() {
  if (shown_) fputs("\r\033[K", stderr);  // back to the start, erase the line
}

void ProgressLine::draw(size_t done) {
  fprintf(stderr, "\r%s: %zu", what_, done);
  fflush(stderr);
  lastDraw_ = std::chrono::steady_clock::now();
}

}  // namespace cli
}  // namespace tessul
