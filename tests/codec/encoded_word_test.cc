#include "codec/encoded_word.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace contentfile_internal {
namespace {

// Decodes from an input buffer of exactly the text's size (so the sanitizer
// build catches any read past it) into an output buffer of the same size,
// and checks that nothing is written past the returned count.
std::string Decode(const std::string& text) {
  std::unique_ptr<char[]> in(new char[text.size()]);
  std::memcpy(in.get(), text.data(), text.size());
  constexpr char kUnwritten = '\xA5';
  std::vector<char> out(text.size() + 8, kUnwritten);
  const auto size = static_cast<uint32_t>(text.size());
  const uint32_t n = DecodeWord(in.get(), size, out.data());
  EXPECT_LE(n, size);
  if (n > size) return "<bad count>";
  EXPECT_EQ(std::string(out.begin() + n, out.end()),
            std::string(out.size() - n, kUnwritten))
      << "bytes written past the count";
  return std::string(out.data(), n);
}

TEST(DecodeWord, DecodesEveryWordOfAHeaderValue) {
  const struct {
    std::string text, expected;
  } kCases[] = {
      {"=?utf-8?B?YWJj?=", "abc"},
      {"=?utf-8?b?YWJj?=", "abc"},
      {"=?utf-8?q?a=3Db?=", "a=b"},
      {"Re: =?utf-8?B?YWJj?= (2)", "Re: abc (2)"},
      {"Re: =?utf-8?Q?a=3Db?= (2)", "Re: a=b (2)"},
      {"=?utf-8?B?\?=", ""},
      {"Hello", "Hello"},
      // Each word by its own marker, in order.
      {"=?utf-8?Q?xyz?= =?utf-8?B?YWJj?=", "xyzabc"},
      {"=?a?B?YWJj?==?a?B?ZGVm?=", "abcdef"},
      // White space only between two words goes, any other is kept.
      {"=?utf-8?B?YWJj?=\r\n =?utf-8?B?ZGVm?=", "abcdef"},
      {"=?a?B?YWJj?= \t =?a?Q?d?=", "abcd"},
      {"=?a?B?YWJj?= x =?a?B?ZGVm?=", "abc x def"},
      {" =?a?B?YWJj?= ", " abc "},
      // "_" is a space in a Q word only, and only where it stands for itself.
      {"=?iso-8859-1?Q?a_b?=", "a b"},
      {"=?a?Q?a=5Fb__?= x_y", "a_b   x_y"},
      {"=?a?B?YW_Jj?=", "abc"},
      // An "=?" that opens no complete word stays as it is.
      {"a =? b", "a =? b"},
      {"=?utf-8?B?YWJj", "=?utf-8?B?YWJj"},
      {"=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
      {"=?utf-8?B", "=?utf-8?B"},
      {"=?", "=?"},
      {"=?=?a?B?YWJj?=", "=?abc"},
      {"=? x? =?a?B?YWJj?=", "=? x? abc"},
      {"=?a?B?YWJj?=?=", "abc?="},
      {"=?a?B?=", "=?a?B?="},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Decode(c.text), c.expected) << c.text;
  }
}

TEST(DecodeWord, NullPointersAndZeroLengthWriteNothing) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(DecodeWord(nullptr, 4, out), 0u);
  EXPECT_EQ(DecodeWord("=?a?B?YQ==?=", 0, out), 0u);
  EXPECT_EQ(std::string(out, 4), "xxxx");
  EXPECT_EQ(DecodeWord("=?a?B?YQ==?=", 12, nullptr), 0u);
}

// Arbitrary mixes of the syntax's pieces: the output stays within the
// input's length and the input's bounds.
TEST(DecodeWord, StaysInBoundsOnRandomPieces) {
  const char* const kPieces[] = {"=?", "?",    "?=",   "B?",  "q?", "=",   "_",
                                 " ",  "\r\n", "YWJj", "=3D", "x",  "\xff"};
  for (unsigned seed = 0; seed < 3000; ++seed) {
    std::mt19937 rng(seed);
    std::string text;
    for (size_t n = rng() % 40; n > 0; --n) text += kPieces[rng() % 13];
    Decode(text);
  }
}

// A later "=?" must not rescan what an earlier one already searched: this
// would take minutes if every unclosed word searched to the end.
TEST(DecodeWord, ScansUnclosedWordsInLinearTime) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "=?a?B?x";
  EXPECT_EQ(Decode(text), text);
}

}  // namespace
}  // namespace contentfile_internal
