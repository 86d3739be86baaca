// Parsing cost against the number of parts and the depth of nesting, as
// the library parses: an open of a mail capture on disk (in the page cache),
// which reads the message and builds its part table. Messages of the same
// size with 10, 1,000 and 20,000 parts must open at about the same MB/s
// (time per MB flat, no search that grows with the number of parts), and a
// text inside 32 nested multiparts about as fast as the same text flat,
// shown beside a plain read of the same file in the same run. Each part
// adds a small fixed cost, the analysis of its header block; the 16 MB
// message with 20,000 parts of 800 bytes shows it at its largest.
//
// Only the public header is used, so that the same program measures any
// build of the library.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "contentfile.h"

namespace {

// The 14 lines of a mail capture's log head.
constexpr char kLogHead[] =
    "14\r\nSMTP\r\nline3\r\nleft;right\r\n192.168.0.1\r\n25\r\n"
    "192.168.0.2\r\n1025\r\n9\r\n10\r\n11\r\n12\r\n13\r\n14\r\n";

// A multipart message of about `megabytes` MB: a text part, then named
// base64 parts in 76-column lines, each of the same size.
std::string MakeMessage(int parts, int megabytes) {
  std::string message =
      "From: Ann <a1@example.com>\r\nTo: <b2@example.com>\r\n"
      "Subject: =?utf-8?B?cGFydHM=?=\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_part_boundary\"\r\n\r\n"
      "This is a multi-part message in MIME format.\r\n";
  const size_t per_part =
      (static_cast<size_t>(megabytes) << 20) / static_cast<size_t>(parts);
  const std::string line(76, 'Q');
  for (int i = 0; i < parts; ++i) {
    const size_t part_begin = message.size();
    message += "--=_part_boundary\r\n";
    if (i == 0) {
      message += "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    } else {
      message +=
          "Content-Type: application/octet-stream\r\n"
          "Content-Transfer-Encoding: base64\r\n"
          "Content-Disposition: attachment; filename=\"file" +
          std::to_string(i) + ".bin\"\r\n\r\n";
    }
    while (message.size() - part_begin + line.size() + 2 < per_part) {
      message += line;
      message += "\r\n";
    }
  }
  message += "--=_part_boundary--\r\n";
  return message;
}

// A text of about `megabytes` MB, dashes and all, inside `levels` nested
// multiparts (0: flat).
std::string MakeNestedMessage(int levels, int megabytes) {
  std::string message =
      "From: a1\r\nContent-Type: multipart/mixed; boundary=L0\r\n\r\n";
  for (int level = 0; level < levels; ++level) {
    message += "--L" + std::to_string(level) +
               "\r\nContent-Type: multipart/mixed; boundary=L" +
               std::to_string(level + 1) + "\r\n\r\n";
  }
  message += "--L" + std::to_string(levels) + "\r\n\r\n";
  const std::string line = "-- a - dash - dense -- line --- of text ----\r\n";
  const size_t size = static_cast<size_t>(megabytes) << 20;
  while (message.size() < size) message += line;
  for (int level = levels; level >= 0; --level) {
    message += "\r\n--L" + std::to_string(level) + "--";
  }
  return message + "\r\n";
}

// Capture files, written once per process into a temporary folder.
class Captures {
 public:
  ~Captures() {
    for (const auto& entry : paths_) std::remove(entry.second.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
  }
  const std::string& Get(const std::string& key, const std::string& message) {
    auto found = paths_.find(key);
    if (found != paths_.end()) return found->second;
    if (folder_.empty()) {
      char name[] = "/tmp/parser_bench_XXXXXX";
      if (mkdtemp(name) == nullptr) std::abort();
      folder_ = name;
    }
    const std::string path = folder_ + "/" + key + ".cf";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(kLogHead, 1, sizeof(kLogHead) - 1, file);
    std::fwrite(message.data(), 1, message.size(), file);
    std::fclose(file);
    sizes_[key] = message.size();
    return paths_.emplace(key, path).first->second;
  }
  size_t Size(const std::string& key) const { return sizes_.at(key); }

 private:
  std::string folder_;
  std::map<std::string, std::string> paths_;
  std::map<std::string, size_t> sizes_;
};

Captures& TheCaptures() {
  static Captures captures;
  return captures;
}

void OpenCapture(benchmark::State& state, const std::string& key,
                 const std::string& path, size_t message_size) {
  int32_t parts = 0;
  for (auto _ : state) {
    CMailContentFile mail;
    if (mail.OpenContentFile(path.c_str()) != 0) {
      state.SkipWithError("the capture did not open");
      break;
    }
    parts = mail.GetAttachmentCount();
    benchmark::DoNotOptimize(parts);
  }
  (void)key;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message_size));
  state.counters["attachments"] = static_cast<double>(parts);
  state.counters["per_MB"] =
      benchmark::Counter(static_cast<double>(message_size) / (1 << 20),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

void BM_Parse(benchmark::State& state) {
  const std::string key = "parts" + std::to_string(state.range(0)) + "_" +
                          std::to_string(state.range(1));
  const std::string& path =
      TheCaptures().Get(key, MakeMessage(static_cast<int>(state.range(0)),
                                         static_cast<int>(state.range(1))));
  OpenCapture(state, key, path, TheCaptures().Size(key));
}
BENCHMARK(BM_Parse)
    ->ArgNames({"parts", "MB"})
    ->Args({10, 64})
    ->Args({1000, 64})
    ->Args({20000, 64})
    ->Args({10, 16})
    ->Args({20000, 16})
    ->Unit(benchmark::kMillisecond);

void BM_ParseNested(benchmark::State& state) {
  const std::string key = "nested" + std::to_string(state.range(0));
  const std::string& path = TheCaptures().Get(
      key, MakeNestedMessage(static_cast<int>(state.range(0)), 16));
  OpenCapture(state, key, path, TheCaptures().Size(key));
}
BENCHMARK(BM_ParseNested)
    ->ArgNames({"levels"})
    ->Arg(0)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond);

// A plain read of the same 64 MB capture through one reused 1 MB buffer:
// the floor the open is compared with.
void BM_Read(benchmark::State& state) {
  const std::string& path =
      TheCaptures().Get("parts10_64", MakeMessage(10, 64));
  std::vector<char> buffer(size_t{1} << 20);
  size_t total = 0;
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    total = 0;
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
      total += static_cast<size_t>(n);
    }
    close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(total));
}
BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond);

}  // namespace
