#include "codec/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace contentfile_internal {
namespace {

using std::string_literals::operator""s;

const std::string kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes from an input buffer of exactly the input's size (so the sanitizer
// build catches any read past it) and checks that nothing is written past
// the returned count.
std::string Decode(const std::string& input) {
  std::unique_ptr<char[]> in(new char[input.size()]);
  std::memcpy(in.get(), input.data(), input.size());
  constexpr char kUnwritten = '\xA5';
  std::vector<char> out(input.size() + 8, kUnwritten);
  const auto size = static_cast<uint32_t>(input.size());
  const int32_t n = Base64Decode(in.get(), size, out.data());
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
  std::string out;
  uint32_t bits = 0;
  int sextets = 0;
  for (char c : input) {
    if (c == '=') break;
    const size_t value = kAlphabet.find(c);
    if (value == std::string::npos) continue;
    bits = bits << 6 | static_cast<uint32_t>(value);
    if (++sextets == 4) {
      out += {char(bits >> 16), char(bits >> 8), char(bits)};
      bits = 0;
      sextets = 0;
    }
  }
  if (sextets == 3) out += {char(bits >> 10), char(bits >> 2)};
  if (sextets == 2) out += char(bits >> 4);
  return out;
}

// 76 characters a line, CR LF after each line.
std::string Encode(const std::string& bytes) {
  std::string out, line;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t bits = static_cast<unsigned char>(bytes[i]) << 16;
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    if (n > 1) bits |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) bits |= static_cast<unsigned char>(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k) {
      line += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 63] : '=';
    }
    if (line.size() == 76) {
      out += line + "\r\n";
      line.clear();
    }
  }
  return line.empty() ? out : out + line + "\r\n";
}

std::string RandomBytes(std::mt19937& rng, size_t length) {
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

TEST(Base64Decode, DecodesTheWorkedExamples) {
  const struct {
    std::string input, expected;
  } kCases[] = {
      {"YWJj", "abc"},
      {"YWI=", "ab"},
      {"YQ==", "a"},
      {"YWJjZA", "abcd"},
      {"YWJjZGU", "abcde"},
      {"Y", ""},
      {"====", ""},
      {"YW\r\nJj", "abc"},
      {"YW\xC3Jj", "abc"},
      {"\x80Y W\tJ\xFFj\0"s, "abc"},
      // "=" ends the data: the group is finished, nothing after it decoded.
      {"YQ==YQ==", "a"},
      {"YWJj=ZGVm", "abc"},
      {"YWJjZA=\r\nZGVm", "abcd"},
      {"=YWJj", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Decode(c.input), c.expected) << c.input;
  }
}

TEST(Base64Decode, SkipsEveryByteOutsideTheAlphabetWhereverItStands) {
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == '=' || kAlphabet.find(char(byte)) != std::string::npos) {
      continue;
    }
    for (size_t at = 0; at <= 8; ++at) {
      std::string input = "YWJjZGVm";
      input.insert(at, 1, char(byte));
      EXPECT_EQ(Decode(input), "abcdef") << "byte " << byte << " at " << at;
    }
  }
}

TEST(Base64Decode, NullPointersAndZeroLengthWriteNothing) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(Base64Decode(nullptr, 4, out), 0);
  EXPECT_EQ(Base64Decode("YWJj", 0, out), 0);
  EXPECT_EQ(std::string(out, 4), "xxxx");
  EXPECT_EQ(Base64Decode("YWJj", 4, nullptr), 0);
}

// The group-at-a-time path must agree with the byte rules whatever breaks
// the groups: every byte value, "=" and line breaks at every position.
TEST(Base64Decode, MatchesTheByteRulesOnAdversarialInput) {
  std::mt19937 rng(7);
  const std::string text = Encode(RandomBytes(rng, 70));  // 2 lines
  for (size_t at = 0; at <= text.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string input = text;
      input.insert(at, 1, char(byte));
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << byte << " at " << at;
    }
    for (const char* cut : {"\r\n", "\r", "\n", "\n\r", "==", "\r\n\r\n"}) {
      std::string input = text;
      input.insert(at, cut);
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << at;
    }
    ASSERT_EQ(Decode(text.substr(0, at)), ReferenceDecode(text.substr(0, at)));
  }
}

TEST(Base64Decode, MatchesTheByteRulesOnRandomInput) {
  const std::string palette = kAlphabet + kAlphabet + "\r\n\r\n \t=\x80\xff";
  for (unsigned seed = 0; seed < 2000; ++seed) {
    std::mt19937 rng(seed);
    std::string input(rng() % 300, '\0');
    for (char& c : input) {
      c = rng() % 50 == 0 ? char(rng()) : palette[rng() % palette.size()];
    }
    // "=" ends the data, so keep most inputs long past their first "=".
    if (seed % 2 == 0) input.erase(0, input.find('=') + 1);
    ASSERT_EQ(Decode(input), ReferenceDecode(input)) << "seed " << seed;
  }
}

TEST(Base64RoundTrip, RandomBytesSurviveEncodingAndDecoding) {
  std::vector<size_t> lengths = {0, 1, 2, 3, 4, 56, 57, 58, 114, 10000};
  std::mt19937 pick(1);
  for (int i = 0; i < 300; ++i) lengths.push_back(pick() % 10001);
  for (size_t i = 0; i < lengths.size(); ++i) {
    std::mt19937 rng(static_cast<unsigned>(i));
    const std::string bytes = RandomBytes(rng, lengths[i]);
    ASSERT_EQ(Decode(Encode(bytes)), bytes) << "length " << lengths[i];
  }
}

}  // namespace
}  // namespace contentfile_internal
