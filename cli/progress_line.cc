#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace tessul {
namespace cli {

namespace {

constexpr size_t kRequestsPerClockLook = 1024;
constexpr std::chrono::milliseconds kRedrawInterval(100);
// A step shorter than this shows no waiting line.
constexpr std::chrono::milliseconds kFirstDrawAfter(300);

constexpr char kEraseLine[] = "\r\033[K";  // back to the start, erase

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
  if (shown_) fputs(kEraseLine, stderr);
}

void ProgressLine::draw(size_t done) {
  fprintf(stderr, "\r%s: %zu", what_, done);
  fflush(stderr);
  lastDraw_ = std::chrono::steady_clock::now();
}

WaitingLine::WaitingLine(std::string what, bool wanted)
    : what_(std::move(what)), start_(std::chrono::steady_clock::now()) {
  if (wanted && isatty(STDERR_FILENO) == 1) {
    drawer_ = std::thread(&WaitingLine::drawUntilDone, this);
  }
}

WaitingLine::~WaitingLine() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  doneSignal_.notify_one();
  if (drawer_.joinable()) drawer_.join();
  if (drawn_) fputs(kEraseLine, stderr);
}

void WaitingLine::print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) fputs(kEraseLine, stderr);  // drawn again at the next tick
  fprintf(stderr, "%s\n", line.c_str());
}

void WaitingLine::drawUntilDone() {
  std::unique_lock<std::mutex> lock(mutex_);
  auto next = start_ + kFirstDrawAfter;
  while (!doneSignal_.wait_until(lock, next, [this] { return done_; })) {
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - start_;
    fprintf(stderr, "\r%s: %.1f s", what_.c_str(), elapsed.count());
    fflush(stderr);
    drawn_ = true;
    next += kRedrawInterval;
  }
}

}  // namespace cli
}  // namespace tessul
