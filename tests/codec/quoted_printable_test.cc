#include "codec/quoted_printable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace contentfile_internal {
namespace {

using std::string_literals::operator""s;

// Decodes from an input buffer of exactly the input's size (so the sanitizer
// build catches any read past it) and checks that nothing is written past
// the returned count.
std::string Decode(const std::string& input) {
  std::unique_ptr<char[]> in(new char[input.size()]);
  std::memcpy(in.get(), input.data(), input.size());
  constexpr char kUnwritten = '\xA5';
  std::vector<char> out(input.size() + 8, kUnwritten);
  const auto size = static_cast<uint32_t>(input.size());
  const int32_t n = QPDecode(in.get(), size, out.data());
  EXPECT_GE(n, 0);
  EXPECT_LE(static_cast<uint32_t>(n), size);
  if (n < 0 || static_cast<uint32_t>(n) > size) return "<bad count>";
  EXPECT_EQ(std::string(out.begin() + n, out.end()),
            std::string(out.size() - n, kUnwritten))
      << "bytes written past the count";
  return std::string(out.data(), n);
}

// One byte at a time, straight from the rules.
std::string ReferenceDecode(const std::string& input) {
  const auto digit = [](unsigned char x) { return x <= '9' ? x - 48 : x - 55; };
  std::string out;
  for (size_t i = 0; i < input.size();) {
    const char c = input[i++];
    if (c != '=') {
      out += c;
      continue;
    }
    if (input.size() - i < 2) break;
    const unsigned char first = input[i], second = input[i + 1];
    i += 2;
    if (first != '\r')
      out += static_cast<char>(digit(first) * 16 + digit(second));
  }
  return out;
}

// Printable bytes as they are, hard line breaks (CR LF) as they are, the rest
// as "=XX"; soft line breaks keep lines to 76 characters.
std::string Encode(const std::string& bytes) {
  std::string out;
  size_t column = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const bool before_break = i + 1 == bytes.size() || bytes[i + 1] == '\r';
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      out += "\r\n";
      column = 0;
      ++i;
      continue;
    }
    char token[4] = {static_cast<char>(c), '\0'};
    if ((c < 33 || c > 126 || c == '=') &&
        !((c == ' ' || c == '\t') && !before_break)) {
      std::snprintf(token, sizeof token, "=%02X", c);
    }
    const size_t width = std::strlen(token);
    if (column + width > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += token;
    column += width;
  }
  return out;
}

// Mostly text, with line breaks, "=", "_" and any other byte mixed in.
std::string RandomText(std::mt19937& rng, size_t length) {
  static const std::string kPalette =
      "The quick brown fox, jumps over 13 lazy dogs!  \r\n\r\n==__\t";
  std::string text(length, '\0');
  for (char& c : text) {
    c = rng() % 8 == 0 ? char(rng()) : kPalette[rng() % kPalette.size()];
  }
  return text;
}

TEST(QPDecode, DecodesTheWorkedExamples) {
  const struct {
    std::string input, expected;
  } kCases[] = {
      {"a=3Db=\r\nc", "a=bc"},
      {"=C3=A9", "\xC3\xA9"},
      {"plain text\r\n\ttabs and spaces \t\r\n",
       "plain text\r\n\ttabs and spaces \t\r\n"},
      {"a_b", "a_b"},
      // Every pair goes through the digit rule, hex or not.
      {"=3D", "="},
      {"=E9", "\xE9"},
      {"=e9", "\xE9"},
      {"=3d", "]"},
      {"=Ea", "\n"},
      {"=4g", "p"},
      {"=00", "\0"s},
      {"=\nAB", "\xAA\x42"},  // LF counts as 10 - 48, modulo 256
      // Soft line breaks: "=" CR and whatever byte follows the CR.
      {"ab=\r\ncd", "abcd"},
      {"a=\rXb", "ab"},
      {"=\r\n=\r\n", ""},
      {"ab=\r", "ab"},
      // An "=" cut short by the end of the input writes nothing.
      {"ab=", "ab"},
      {"ab=4", "ab"},
      {"=", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Decode(c.input), c.expected) << c.input;
  }
}

TEST(QPDecode, CopiesEveryByteButTheEqualsSignUnchanged) {
  std::string bytes;
  for (int byte = 0; byte < 256; ++byte) {
    if (byte != '=') bytes += static_cast<char>(byte);
  }
  EXPECT_EQ(Decode(bytes), bytes);
}

TEST(QPDecode, NullPointersAndZeroLengthWriteNothing) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(QPDecode(nullptr, 3, out), 0);
  EXPECT_EQ(QPDecode("=3D", 0, out), 0);
  EXPECT_EQ(std::string(out, 4), "xxxx");
  EXPECT_EQ(QPDecode("=3D", 3, nullptr), 0);
}

// Every byte value after an "=", and an "=" or line break at every position,
// the last two included.
TEST(QPDecode, MatchesTheByteRulesOnAdversarialInput) {
  std::mt19937 rng(3);
  const std::string text = Encode(RandomText(rng, 120));
  for (size_t at = 0; at <= text.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string input = text;
      input.insert(at, {'=', char(byte)});
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << byte << " at " << at;
    }
    for (const char* cut : {"=", "\r\n", "=\r\n", "=\r", "=\n"}) {
      std::string input = text;
      input.insert(at, cut);
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << at;
    }
    ASSERT_EQ(Decode(text.substr(0, at)), ReferenceDecode(text.substr(0, at)));
  }
}

TEST(QPDecode, MatchesTheByteRulesOnRandomInput) {
  for (unsigned seed = 0; seed < 2000; ++seed) {
    std::mt19937 rng(seed);
    const std::string input = RandomText(rng, rng() % 300);
    ASSERT_EQ(Decode(input), ReferenceDecode(input)) << "seed " << seed;
  }
}

TEST(QPRoundTrip, RandomBytesSurviveEncodingAndDecoding) {
  std::vector<size_t> lengths = {0, 1, 2, 3, 75, 76, 77, 10000};
  std::mt19937 pick(1);
  for (int i = 0; i < 300; ++i) lengths.push_back(pick() % 10001);
  for (size_t i = 0; i < lengths.size(); ++i) {
    std::mt19937 rng(static_cast<unsigned>(i));
    // Half the seeds text-like, half uniformly random bytes.
    std::string bytes = RandomText(rng, lengths[i]);
    if (i % 2 == 1) {
      for (char& c : bytes) c = static_cast<char>(rng());
    }
    ASSERT_EQ(Decode(Encode(bytes)), bytes) << "length " << lengths[i];
  }
}

}  // namespace
}  // namespace contentfile_internal
