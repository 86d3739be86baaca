// Parsing cost against the number of parts: messages of the same size with
// 10, 1,000 and 20,000 parts must parse at about the same MB/s (time per MB
// flat, no search that grows with the number of parts), shown beside a plain
// copy of the same bytes in the same run. Each part adds a small fixed cost,
// the analysis of its header block; the 16 MB message with 20,000 parts of
// 800 bytes shows it at its largest.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "mail/mail_parser.h"
#include "platform/memory.h"

namespace {

using contentfile_internal::AllocateBuffer;
using contentfile_internal::Buffer;
using contentfile_internal::CMailParser;

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

void BM_Parse(benchmark::State& state) {
  const std::string message = MakeMessage(static_cast<int>(state.range(0)),
                                          static_cast<int>(state.range(1)));
  size_t parts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Buffer buffer = AllocateBuffer(message.size() + 1);
    std::memcpy(buffer.get(), message.data(), message.size() + 1);
    state.ResumeTiming();
    CMailParser parser;
    parser.SetContent(std::move(buffer), static_cast<uint32_t>(message.size()));
    if (parser.Parse() != CMailParser::kParsed) {
      state.SkipWithError("the message did not parse");
      break;
    }
    parts = parser.Parts().size();
    benchmark::DoNotOptimize(parts);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message.size()));
  state.counters["parts"] = static_cast<double>(parts);
  state.counters["per_MB"] =
      benchmark::Counter(static_cast<double>(message.size()) / (1 << 20),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}
BENCHMARK(BM_Parse)
    ->ArgNames({"parts", "MB"})
    ->Args({10, 64})
    ->Args({1000, 64})
    ->Args({20000, 64})
    ->Args({10, 16})
    ->Args({20000, 16})
    ->Unit(benchmark::kMillisecond);

// The copy of the same bytes: the floor the parse is compared with.
void BM_Copy(benchmark::State& state) {
  const std::string message = MakeMessage(10, 64);
  Buffer buffer = AllocateBuffer(message.size() + 1);
  for (auto _ : state) {
    std::memcpy(buffer.get(), message.data(), message.size() + 1);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message.size()));
}
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond);

}  // namespace
