// The progress bar on standard error, drawn only on a terminal.

#ifndef CONTENTFILE_TOOLS_CFDUMP_PROGRESS_H_
#define CONTENTFILE_TOOLS_CFDUMP_PROGRESS_H_

#include <chrono>
#include <cstddef>

namespace cfdump {

class ProgressBar {
 public:
  // Draws nothing unless `enabled` and standard error is a terminal.
  ProgressBar(size_t total, bool enabled);

  // Redraws with `done` of the total finished, at most ten times a second.
  void Update(size_t done);
  // Removes the bar before other text is written to the terminal.
  void Clear();

 private:
  bool enabled_;
  bool drawn_ = false;
  size_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_PROGRESS_H_
