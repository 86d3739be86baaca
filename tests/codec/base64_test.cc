#include "codec/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/cpu_features.h"

namespace contentfile_internal {
namespace {

using std::string_literals::operator""s;

const std::string kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes through `kernel`, or through Base64Decode itself when it is null,
// from an input buffer of exactly the input's size (so the sanitizer build
// catches any read past it) and checks that nothing is written past the
// returned count.
std::string DecodeWith(Base64Kernel kernel, const std::string& input) {
  std::unique_ptr<char[]> in(new char[input.size()]);
  std::memcpy(in.get(), input.data(), input.size());
  constexpr char kUnwritten = '\xA5';
  std::vector<char> out(input.size() + 8, kUnwritten);
  const auto size = static_cast<uint32_t>(input.size());
  int32_t n = 0;
  if (kernel == nullptr) {
    n = Base64Decode(in.get(), size, out.data());
  } else if (size != 0) {
    Base64StreamDecoder decoder(kernel);
    const size_t decoded = decoder.Decode(in.get(), size, out.data());
    n = static_cast<int32_t>(decoded + decoder.Finish(out.data() + decoded));
  }
  EXPECT_GE(n, 0);
  EXPECT_LE(static_cast<uint32_t>(n), size);
  if (n < 0 || static_cast<uint32_t>(n) > size) return "<bad count>";
  EXPECT_EQ(std::string(out.begin() + n, out.end()),
            std::string(out.size() - n, kUnwritten))
      << "bytes written past the count";
  return std::string(out.data(), n);
}

std::string Decode(const std::string& input) {
  return DecodeWith(nullptr, input);
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

// Every bulk kernel this CPU runs, each taken through the whole decoder; the
// byte rules are the same whichever runs.
struct NamedKernel {
  const char* name;
  Base64Kernel kernel;
};

std::vector<NamedKernel> Kernels() {
  std::vector<NamedKernel> kernels = {{"Portable", Base64DecodeGroupsPortable}};
#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
  if (CpuHasAvx2()) kernels.push_back({"Avx2", Base64DecodeGroupsAvx2});
#endif
  return kernels;
}

void PrintTo(const NamedKernel& kernel, std::ostream* os) {
  *os << kernel.name;
}

class Base64Bulk : public testing::TestWithParam<NamedKernel> {
 protected:
  std::string Decode(const std::string& input) {
    return DecodeWith(GetParam().kernel, input);
  }
};

INSTANTIATE_TEST_SUITE_P(Base64, Base64Bulk, testing::ValuesIn(Kernels()),
                         [](const testing::TestParamInfo<NamedKernel>& kernel) {
                           return std::string(kernel.param.name);
                         });

// The bulk paths must agree with the byte rules whatever breaks the groups:
// every byte value, "=" and line breaks at every position, in lines long
// enough for several blocks of the widest kernel.
TEST_P(Base64Bulk, MatchesTheByteRulesOnAdversarialInput) {
  std::mt19937 rng(7);
  const std::string text = Encode(RandomBytes(rng, 120));  // 3 lines
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

// Unbroken runs of every length around the 32-byte block, with one byte
// from outside the alphabet, or "=", at every offset, and lines of every
// width (line breaks inside groups as well as between them).
TEST_P(Base64Bulk, MatchesTheByteRulesAroundTheBlockSize) {
  std::mt19937 rng(11);
  std::string run(200, '\0');
  for (char& c : run) c = kAlphabet[rng() % 64];
  for (size_t length = 0; length <= 136; ++length) {
    const std::string text = run.substr(0, length);
    ASSERT_EQ(Decode(text), ReferenceDecode(text)) << length;
    for (size_t at = 0; at <= length; ++at) {
      for (char byte : {'=', '\r', '\n', ' ', '-', '\x80', '\0'}) {
        std::string input = text;
        input.insert(at, 1, byte);
        ASSERT_EQ(Decode(input), ReferenceDecode(input))
            << length << " " << int(byte) << " at " << at;
      }
    }
  }
  for (size_t width = 1; width <= 80; ++width) {
    for (const char* line_end : {"\r\n", "\n", " "}) {
      std::string input;
      for (size_t i = 0; i < run.size(); i += width) {
        input += run.substr(i, width) + line_end;
      }
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << width;
    }
  }
}

TEST_P(Base64Bulk, MatchesTheByteRulesOnRandomInput) {
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

TEST_P(Base64Bulk, RoundTripsRandomBytes) {
  std::vector<size_t> lengths = {0, 1, 2, 3, 4, 56, 57, 58, 114, 10000};
  std::mt19937 pick(1);
  for (int i = 0; i < 300; ++i) lengths.push_back(pick() % 10001);
  for (size_t i = 0; i < lengths.size(); ++i) {
    std::mt19937 rng(static_cast<unsigned>(i));
    const std::string bytes = RandomBytes(rng, lengths[i]);
    ASSERT_EQ(Decode(Encode(bytes)), bytes) << "length " << lengths[i];
  }
}

// Pieces of 1 byte upward, cut anywhere: inside groups, between CR and LF,
// before and after an "=". Each piece's output stays within its bound and
// nothing is written past its count; one decoder serves content after
// content.
TEST_P(Base64Bulk, PiecesOfAnySizeDecodeAsTheWhole) {
  constexpr char kUnwritten = '\xA5';
  const std::string palette = kAlphabet + "\r\n \x80=";
  Base64StreamDecoder decoder(GetParam().kernel);
  for (unsigned seed = 0; seed < 400; ++seed) {
    std::mt19937 rng(seed);
    std::string content = Encode(RandomBytes(rng, rng() % 3000));
    if (seed % 3 == 1) {
      for (char& c : content) {
        if (rng() % 100 == 0) c = palette[rng() % palette.size()];
      }
    }
    if (seed % 3 == 2) content += "=" + content;
    const size_t largest = seed % 4 == 0 ? 1 : seed % 4 == 1 ? 8 : 300;
    std::string decoded;
    for (size_t at = 0; at < content.size();) {
      const size_t length =
          std::min<size_t>(1 + rng() % largest, content.size() - at);
      const std::string piece = content.substr(at, length);
      std::vector<char> out(length + Base64StreamDecoder::kMaxExtraOutput + 8,
                            kUnwritten);
      const size_t n = decoder.Decode(piece.data(), length, out.data());
      ASSERT_LE(n, length + Base64StreamDecoder::kMaxExtraOutput);
      ASSERT_EQ(std::string(out.begin() + n, out.end()),
                std::string(out.size() - n, kUnwritten));
      decoded.append(out.data(), n);
      at += length;
    }
    char last[Base64StreamDecoder::kMaxFinishOutput];
    decoded.append(last, decoder.Finish(last));
    ASSERT_EQ(decoded, ReferenceDecode(content)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace contentfile_internal
