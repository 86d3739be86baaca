#include "tools/cfdump/batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/cfdump/capture.h"
#include "tools/cfdump/extract.h"
#include "tools/cfdump/input_list.h"
#include "tools/cfdump/json_report.h"
#include "tools/cfdump/progress.h"
#include "tools/cfdump/stdin_spool.h"
#include "tools/cfdump/text_report.h"

namespace cfdump {
namespace {

// More than this many captures get a progress bar.
constexpr size_t kProgressThreshold = 4;
// How far, per worker, the workers may run ahead of the output.
constexpr size_t kWindowPerWorker = 16;
constexpr auto kOutputPoll = std::chrono::milliseconds(100);

// The finished work on one capture, waiting for its turn to be written.
struct Result {
  bool done = false;
  std::string output;  // for standard output
  std::string errors;  // for standard error
  bool failed = false;
  uint64_t bytes_read = 0;
  uint64_t parts_saved = 0;
  uint64_t bodies_saved = 0;
  uint64_t bytes_saved = 0;
};

struct Totals {
  size_t captures = 0;
  size_t failures = 0;
  uint64_t bytes_read = 0;
  uint64_t parts_saved = 0;
  uint64_t bodies_saved = 0;
  uint64_t bytes_saved = 0;

  void Add(const Result& result) {
    ++captures;
    if (result.failed) ++failures;
    bytes_read += result.bytes_read;
    parts_saved += result.parts_saved;
    bodies_saved += result.bodies_saved;
    bytes_saved += result.bytes_saved;
  }
};

std::string Format(const Options& options, const CaptureReport& report) {
  if (options.quiet) {
    // Only what was saved, a path a line, for scripts.
    std::string paths;
    for (const SavedFile& saved : report.saved) {
      if (!saved.file.empty()) paths += saved.file + "\n";
    }
    return paths;
  }
  return options.json ? FormatJsonReport(report) : FormatTextReport(report);
}

// What every worker shares: the options and, for extract, DIR.
struct Job {
  const Options& options;
  const ExtractDir* dir;
  const ExtractSettings* settings;
};

Result Process(const Job& job, const Input& input, const std::string& folder) {
  const Options& options = job.options;
  Result result;
  CaptureReport failed_report;
  std::unique_ptr<Capture> capture;
  const CaptureReport* report = &failed_report;
  try {
    if (input.error.empty()) {
      capture = std::make_unique<Capture>(
          input.path, input.open_path.empty() ? input.path : input.open_path);
      // Converted first, so that extraction names files in UTF-8.
      if (options.utf8) capture->ConvertToUtf8();
      if (options.command == Command::kExtract) {
        ExtractCapture(capture.get(), *job.dir, folder, *job.settings);
      } else {
        capture->MeasureParts(options.digests);
      }
      report = &capture->report();
    } else {
      failed_report.path = input.path;
      failed_report.status = Status::kFailed;
      failed_report.error = input.error;
    }
    // Formatted here too, so that running out of memory for a large report
    // fails this capture instead of ending the worker thread.
    result.output = Format(options, *report);
  } catch (const std::exception& e) {
    failed_report = CaptureReport();
    failed_report.path = input.path;
    failed_report.status = Status::kFailed;
    failed_report.error = std::string("unexpected error: ") + e.what();
    report = &failed_report;
    result.output = Format(options, *report);
  }
  if (report->status != Status::kOk) {
    result.failed = true;
    result.errors = "cfdump: " + Printable(report->path) + ": " +
                    Printable(report->error) +
                    (report->status == Status::kPartial
                         ? "; shown as a plain content file\n"
                         : "\n");
  }
  if (report->head_read) {
    result.bytes_read =
        uint64_t{report->head_size} + uint64_t{report->body_size};
  }
  for (const SavedFile& saved : report->saved) {
    if (!saved.error.empty()) continue;
    if (!saved.body) {
      ++result.parts_saved;
    } else {
      ++result.bodies_saved;
    }
    result.bytes_saved += saved.bytes;
  }
  result.done = true;
  return result;
}

// Hands out captures to the workers and their results, in input order, to
// the writer.
class Scheduler {
 public:
  Scheduler(size_t count, size_t window) : results_(count), window_(window) {}

  // The next capture to work on; false when none is left.
  bool Take(size_t* index) {
    std::unique_lock<std::mutex> lock(mutex_);
    window_open_.wait(lock, [&] {
      return next_ >= results_.size() || next_ < written_ + window_;
    });
    if (next_ >= results_.size()) return false;
    *index = next_++;
    return true;
  }

  void Finish(size_t index, Result result) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_[index] = std::move(result);
    }
    result_ready_.notify_one();
  }

  // Waits up to `timeout` for the result next in order and moves every
  // result that is ready, in order, into *ready.
  void TakeReady(std::vector<Result>* ready) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      result_ready_.wait_for(lock, kOutputPoll, [&] {
        return written_ < results_.size() && results_[written_].done;
      });
      while (written_ < results_.size() && results_[written_].done) {
        ready->push_back(std::move(results_[written_]));
        ++written_;
      }
    }
    if (!ready->empty()) window_open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable window_open_;
  std::condition_variable result_ready_;
  std::vector<Result> results_;
  size_t window_;
  size_t next_ = 0;
  size_t written_ = 0;
};

std::string Normalised(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

void WriteSummary(const Options& options, const Totals& totals,
                  double seconds) {
  std::string line = "cfdump: " + std::to_string(totals.captures) +
                     (totals.captures == 1 ? " capture, " : " captures, ") +
                     std::to_string(totals.failures) + " failed; " +
                     std::to_string(totals.bytes_read) + " bytes read";
  if (options.command == Command::kExtract) {
    line += "; " + std::to_string(totals.parts_saved) +
            " texts and attachments and " +
            std::to_string(totals.bodies_saved) + " bodies saved (" +
            std::to_string(totals.bytes_saved) + " bytes)";
  }
  char time[32];
  std::snprintf(time, sizeof(time), "; %.2f s\n", seconds);
  line += time;
  std::fputs(line.c_str(), stderr);
}

}  // namespace

int RunBatch(const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  const bool extract = options.command == Command::kExtract;
  ExtractDir dir;
  if (extract) {
    std::string error;
    if (!dir.Open(Normalised(options.dir), &error)) {
      std::fprintf(stderr, "cfdump: %s\n", Printable(error).c_str());
      return 1;
    }
  }
  std::vector<Input> inputs = ListInputs(options.paths, dir.path());
  if (inputs.empty()) {
    std::fputs("cfdump: no capture found\n", stderr);
    return 1;
  }
  // A capture on standard input is read from a private copy.
  StdinSpool spool;
  for (Input& input : inputs) {
    if (input.path != kStdStream || !input.error.empty()) continue;
    std::string error;
    if (spool.Spool(&error)) {
      input.open_path = spool.path();
    } else {
      input.error = error;
    }
  }
  ExtractSettings settings;
  std::vector<std::string> folders;
  if (extract) {
    settings.force = options.force;
    settings.digests = options.digests;
    settings.inputs = InputFolders(inputs);
    folders = PlanCaptureFolders(inputs, dir, settings);
  }
  const Job job{options, extract ? &dir : nullptr, &settings};

  size_t workers = options.jobs > 0
                       ? static_cast<size_t>(options.jobs)
                       : std::max(1u, std::thread::hardware_concurrency());
  workers = std::min(workers, inputs.size());
  Scheduler scheduler(inputs.size(), workers * kWindowPerWorker);
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      size_t index;
      while (scheduler.Take(&index)) {
        scheduler.Finish(index,
                         Process(job, inputs[index],
                                 extract ? folders[index] : std::string()));
      }
    });
  }

  ProgressBar progress(inputs.size(),
                       !options.quiet && inputs.size() > kProgressThreshold);
  Totals totals;
  std::vector<Result> ready;
  while (totals.captures < inputs.size()) {
    ready.clear();
    scheduler.TakeReady(&ready);
    if (!ready.empty()) progress.Clear();
    for (const Result& result : ready) {
      std::fwrite(result.output.data(), 1, result.output.size(), stdout);
      if (!result.errors.empty()) {
        std::fflush(stdout);
        std::fputs(result.errors.c_str(), stderr);
      }
      totals.Add(result);
    }
    if (!ready.empty()) std::fflush(stdout);
    progress.Update(totals.captures);
  }
  for (std::thread& thread : threads) thread.join();
  progress.Clear();

  bool output_failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (output_failed) {
    std::fputs("cfdump: cannot write the report to standard output\n", stderr);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  WriteSummary(options, totals, seconds);
  return totals.failures == 0 && !output_failed ? 0 : 1;
}

}  // namespace cfdump
