// Throughput of the text searches over a 64 MB message body, side by side
// with memchr over the same bytes.
//
//   text_bench --benchmark_filter=Body

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "platform/text.h"

namespace {

using contentfile_internal::FindBytes;
using contentfile_internal::FindCaseInsensitive;

constexpr size_t kBodySize = 64 << 20;

// Base64 lines of 76 characters, each ending in CR LF, as in a large
// attachment.
const std::string& Body() {
  static const std::string body = [] {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(1);
    std::string text;
    text.reserve(kBodySize);
    while (text.size() + 78 <= kBodySize) {
      for (int i = 0; i < 76; ++i) text += kAlphabet[random() % 64];
      text += "\r\n";
    }
    return text;
  }();
  return body;
}

// A key that is absent, so that every search reads the whole body.
const std::string kDelimiter = "\r\n--=_Part_0_1234567890.1700000000000";

void SetBytes(benchmark::State& state, size_t length) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(length));
}

void BM_BodyMemchr(benchmark::State& state) {
  const std::string& body = Body();
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memchr(body.data(), '\x01', body.size()));
  }
  SetBytes(state, body.size());
}
BENCHMARK(BM_BodyMemchr);

void BM_BodyFindBytes(benchmark::State& state) {
  const std::string& body = Body();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindBytes(body.data(), body.size(),
                                       kDelimiter.data(), kDelimiter.size()));
  }
  SetBytes(state, body.size());
}
BENCHMARK(BM_BodyFindBytes);

void BM_BodyFindCaseInsensitive(benchmark::State& state) {
  const std::string& body = Body();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindCaseInsensitive(
        body.data(), body.size(), kDelimiter.data(), kDelimiter.size()));
  }
  SetBytes(state, body.size());
}
BENCHMARK(BM_BodyFindCaseInsensitive);

// A key made only of letters: no rare byte to anchor on.
void BM_BodyFindCaseInsensitiveLetters(benchmark::State& state) {
  const std::string& body = Body();
  const std::string key = "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        FindCaseInsensitive(body.data(), body.size(), key.data(), key.size()));
  }
  SetBytes(state, body.size());
}
BENCHMARK(BM_BodyFindCaseInsensitiveLetters);

// "aaa...a" over a text of "a": the worst case of a naive search.
void BM_AdversarialFindCaseInsensitive(benchmark::State& state) {
  static const std::string text = std::string(kBodySize, 'a');
  const std::string key = std::string(4096, 'a') + "b";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        FindCaseInsensitive(text.data(), text.size(), key.data(), key.size()));
  }
  SetBytes(state, text.size());
}
BENCHMARK(BM_AdversarialFindCaseInsensitive);

}  // namespace
