#include "tools/cfdump/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace cfdump {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressBar::ProgressBar(size_t total, bool enabled)
    : enabled_(enabled && ::isatty(STDERR_FILENO) == 1),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_ - kRedrawInterval) {}

void ProgressBar::Update(size_t done) {
  if (!enabled_ || total_ == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < kRedrawInterval && done < total_) return;
  last_draw_ = now;
  const int filled = static_cast<int>(done * kBarWidth / total_);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kBarWidth, '.');
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r[%s] %zu/%zu captures  %.1f s", bar.c_str(), done,
               total_, seconds);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace cfdump
