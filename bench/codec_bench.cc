// Decoder throughput on 64 MB inputs, beside memcpy of the same bytes so the
// ratio to a plain copy can be read off one run:
//   codec_bench --benchmark_min_time=2 --benchmark_repetitions=5
// The decoders run with the kernels this CPU selects; the *_Portable runs
// take the same decoding through the kernels that run anywhere.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/quoted_printable.h"

namespace {

constexpr size_t kInputSize = size_t{64} << 20;

// Lines of 76 base64 characters, each ended by CR LF.
const std::string& Base64Input() {
  static const std::string input = [] {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 rng(1);
    std::string text;
    text.reserve(kInputSize + 80);
    while (text.size() < kInputSize) {
      for (int i = 0; i < 76; ++i) text += kAlphabet[rng() % 64];
      text += "\r\n";
    }
    return text;
  }();
  return input;
}

// Western European prose: mostly ASCII words, about one in eight carrying an
// accented letter ("=C3=A9"), an occasional "=3D", soft line breaks at 76
// columns and a paragraph break every few lines.
const std::string& QPInput() {
  static const std::string input = [] {
    static const char* const kWords[] = {
        "the",      "message", "attached", "report", "for",
        "our",      "meeting", "on",       "Monday", "please",
        "review",   "figures", "and",      "send",   "your",
        "comments", "before",  "noon",     "thanks", "regards"};
    std::mt19937 rng(2);
    std::string text, line;
    text.reserve(kInputSize + 200);
    int lines = 0;
    while (text.size() < kInputSize) {
      std::string word = kWords[rng() % 20];
      if (rng() % 8 == 0) word.insert(rng() % word.size(), "=C3=A9");
      if (rng() % 64 == 0) word += "=3D1";
      if (line.size() + word.size() + 1 > 75) {
        const bool paragraph = ++lines % 6 == 0;
        text += line + (paragraph ? "\r\n" : " =\r\n");
        line.clear();
      }
      if (!line.empty()) line += ' ';
      line += word;
    }
    return text;
  }();
  return input;
}

// Text in a non-Latin script: nearly every letter two "=XX" pairs, as
// quoted-printable Cyrillic or Greek arrives.
const std::string& DenseQPInput() {
  static const std::string input = [] {
    std::mt19937 rng(3);
    std::string text;
    text.reserve(kInputSize + 200);
    size_t column = 0;
    char pair[8];
    while (text.size() < kInputSize) {
      if (rng() % 6 == 0) {
        text += ' ';
        ++column;
      } else {
        std::snprintf(pair, sizeof pair, "=D0=%02X",
                      static_cast<unsigned>(0xB0 + rng() % 16));
        text += pair;
        column += 6;
      }
      if (column >= 70) {
        text += "=\r\n";
        column = 0;
      }
    }
    return text;
  }();
  return input;
}

using Decoder = int32_t (*)(const char*, uint32_t, char*);

int32_t Base64DecodePortable(const char* input, uint32_t length, char* output) {
  contentfile_internal::Base64StreamDecoder decoder(
      contentfile_internal::Base64DecodeGroupsPortable);
  const size_t n = decoder.Decode(input, length, output);
  return static_cast<int32_t>(n + decoder.Finish(output + n));
}

int32_t QPDecodePortable(const char* input, uint32_t length, char* output) {
  contentfile_internal::QPStreamDecoder decoder(nullptr);
  return static_cast<int32_t>(decoder.Decode(input, length, output));
}

void RunDecoder(benchmark::State& state, Decoder decode,
                const std::string& input) {
  std::vector<char> output(input.size());
  const auto size = static_cast<uint32_t>(input.size());
  decode(input.data(), size, output.data());  // fault the pages in
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode(input.data(), size, output.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}

void RunMemcpy(benchmark::State& state, const std::string& input) {
  std::vector<char> output(input.size());
  std::memcpy(output.data(), input.data(), input.size());
  for (auto _ : state) {
    std::memcpy(output.data(), input.data(), input.size());
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}

void BM_Base64Decode(benchmark::State& state) {
  RunDecoder(state, contentfile_internal::Base64Decode, Base64Input());
}
void BM_QPDecode(benchmark::State& state) {
  RunDecoder(state, contentfile_internal::QPDecode, QPInput());
}
void BM_QPDecode_Dense(benchmark::State& state) {
  RunDecoder(state, contentfile_internal::QPDecode, DenseQPInput());
}
void BM_Base64Decode_Portable(benchmark::State& state) {
  RunDecoder(state, Base64DecodePortable, Base64Input());
}
void BM_QPDecode_Portable(benchmark::State& state) {
  RunDecoder(state, QPDecodePortable, QPInput());
}
void BM_QPDecode_Dense_Portable(benchmark::State& state) {
  RunDecoder(state, QPDecodePortable, DenseQPInput());
}
void BM_Memcpy_Base64Input(benchmark::State& state) {
  RunMemcpy(state, Base64Input());
}
void BM_Memcpy_QPInput(benchmark::State& state) { RunMemcpy(state, QPInput()); }

BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QPDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QPDecode_Dense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Portable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QPDecode_Portable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QPDecode_Dense_Portable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_Base64Input)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_QPInput)->Unit(benchmark::kMillisecond);

}  // namespace
