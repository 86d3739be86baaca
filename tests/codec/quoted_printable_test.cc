#include "codec/quoted_printable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/cpu_features.h"
#include "fuzz/reference_decoders.h"

namespace contentfile_internal {
namespace {

using std::string_literals::operator""s;

// Decodes through `kernel` (null: the byte rules alone), or through
// QPDecode itself when `whole` is set, from an input buffer of exactly the
// input's size (so the sanitizer build catches any read past it) and checks
// that nothing is written past the returned count.
std::string DecodeWith(bool whole, QPKernel kernel, const std::string& input) {
  std::unique_ptr<char[]> in(new char[input.size()]);
  std::memcpy(in.get(), input.data(), input.size());
  constexpr char kUnwritten = '\xA5';
  std::vector<char> out(input.size() + 8, kUnwritten);
  const auto size = static_cast<uint32_t>(input.size());
  int32_t n = 0;
  if (whole) {
    n = QPDecode(in.get(), size, out.data());
  } else {
    QPStreamDecoder decoder(kernel);
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
  return DecodeWith(true, nullptr, input);
}

// One byte at a time, straight from the rules; `complete` false: the input
// was cut short, and an "=" the cut leaves undecided writes nothing.
std::string ReferenceDecode(const std::string& input, bool complete = true) {
  return contentfile_fuzz::ReferenceQuotedPrintable(input.data(), input.size(),
                                                    complete);
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
      // Hex digits of either case; any other "=" stands for itself.
      {"=3D", "="},
      {"=E9", "\xE9"},
      {"=e9", "\xE9"},
      {"=3d", "="},
      {"=Ea", "\xEA"},
      {"=4g", "=4g"},
      {"=00", "\0"s},
      {"https://x.example/ref=od_aui", "https://x.example/ref=od_aui"},
      {"a==41", "a=A"},
      // Soft line breaks: CR LF or a bare LF, after spaces or tabs too.
      {"ab=\r\ncd", "abcd"},
      {"x=\nAy", "xAy"},
      {"ab= \t \r\ncd", "abcd"},
      {"ab= \ncd", "abcd"},
      {"=\r\n=\r\n", ""},
      {"a=\rXb", "a=\rXb"},
      {"a= x", "a= x"},
      {"a=" + std::string(76, ' ') + "\r\nb", "ab"},
      {"a=" + std::string(77, ' ') + "\r\nb",
       "a=" + std::string(77, ' ') + "\r\nb"},
      // At the end of the content: a lone "=" writes nothing, an undecided
      // one stands for itself.
      {"ab=", "ab"},
      {"=", ""},
      {"ab=4", "ab=4"},
      {"?id=5", "?id=5"},
      {"ab=\r", "ab=\r"},
      {"ab= ", "ab= "},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Decode(c.input), c.expected) << c.input;
  }
}

TEST(QPDecode, ACutContentDropsTheSequenceTheCutLeavesUndecided) {
  const struct {
    std::string input, expected;
  } kCases[] = {
      {"ab=", "ab"},   {"ab=4", "ab"},   {"ab=4g", "ab=4g"}, {"ab=\r", "ab"},
      {"ab=  ", "ab"}, {"ab=41", "abA"}, {"ab", "ab"},       {"a=\r\n", "a"},
  };
  for (const auto& c : kCases) {
    std::vector<char> out(c.input.size());
    const int32_t n =
        QPDecode(c.input.data(), static_cast<uint32_t>(c.input.size()),
                 out.data(), /*content_complete=*/false);
    EXPECT_EQ(std::string(out.data(), static_cast<size_t>(n)), c.expected)
        << c.input;
    EXPECT_EQ(c.expected, ReferenceDecode(c.input, false)) << c.input;
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

// Every bulk kernel this CPU runs (none: the byte rules alone), each taken
// through the whole decoder.
struct NamedKernel {
  const char* name;
  QPKernel kernel;
};

std::vector<NamedKernel> Kernels() {
  std::vector<NamedKernel> kernels = {{"ByteRules", nullptr}};
#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
  if (CpuHasAvx2()) kernels.push_back({"Avx2", QPDecodeBulkAvx2});
#endif
  return kernels;
}

void PrintTo(const NamedKernel& kernel, std::ostream* os) {
  *os << kernel.name;
}

class QPBulk : public testing::TestWithParam<NamedKernel> {
 protected:
  std::string Decode(const std::string& input) {
    return DecodeWith(false, GetParam().kernel, input);
  }
};

INSTANTIATE_TEST_SUITE_P(QP, QPBulk, testing::ValuesIn(Kernels()),
                         [](const testing::TestParamInfo<NamedKernel>& kernel) {
                           return std::string(kernel.param.name);
                         });

// Every byte value after an "=", and an "=" or line break at every position,
// the last two included, in text long enough for several blocks of the
// widest kernel.
TEST_P(QPBulk, MatchesTheByteRulesOnAdversarialInput) {
  std::mt19937 rng(3);
  const std::string text = Encode(RandomText(rng, 150));
  for (size_t at = 0; at <= text.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string input = text;
      input.insert(at, {'=', char(byte)});
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << byte << " at " << at;
    }
    for (const char* cut : {"=", "\r\n", "=\r\n", "=\r", "=\n",
                            "==", "===", "==41", "=\r=", "=\r==\r\n", "= \r\n",
                            "=\t\t\n", "= x", "=  \r", "=3d", "=aF"}) {
      std::string input = text;
      input.insert(at, cut);
      ASSERT_EQ(Decode(input), ReferenceDecode(input)) << at;
    }
    ASSERT_EQ(Decode(text.substr(0, at)), ReferenceDecode(text.substr(0, at)));
  }
}

// Sequences at every offset of a block and straddling its end, dense runs
// of sequences, and soft line breaks that leave the output short of the
// input by any amount at its end.
TEST_P(QPBulk, MatchesTheByteRulesAroundTheBlockSize) {
  std::mt19937 rng(5);
  std::string plain(160, '\0');
  for (char& c : plain) c = static_cast<char>('a' + rng() % 26);
  for (size_t prefix = 0; prefix <= 130; ++prefix) {
    for (const char* sequence :
         {"=C3", "=\r\n", "=3d", "==41", "=\r=", "=\n", "=  \r\n", "=x"}) {
      for (size_t repeat : {1, 2, 9, 12, 40}) {
        for (size_t suffix : {0, 1, 2, 3, 40, 100}) {
          std::string input = plain.substr(0, prefix);
          for (size_t i = 0; i < repeat; ++i) input += sequence;
          input += plain.substr(0, suffix);
          ASSERT_EQ(Decode(input), ReferenceDecode(input))
              << prefix << " " << sequence << " x" << repeat << " " << suffix;
        }
      }
    }
  }
}

// Runs of sequences that write little or nothing (soft line breaks above
// all) in every mix with plain bytes, so that the output falls behind the
// input by every amount, near the end of the input as well.
TEST_P(QPBulk, MatchesTheByteRulesWhereTheOutputFallsBehind) {
  static const char* const kTokens[] = {"=\r\n", "=  \r\n", "=\n", "=41",
                                        "x",     "=",       "==\r"};
  for (unsigned seed = 0; seed < 20000; ++seed) {
    std::mt19937 rng(seed);
    const unsigned plain_share = 1 + seed % 7;  // in 8
    std::string input;
    const size_t length = 64 + rng() % 100;
    while (input.size() < length) {
      input += rng() % 8 < plain_share ? "x" : kTokens[rng() % 7];
    }
    ASSERT_EQ(Decode(input), ReferenceDecode(input)) << "seed " << seed;
  }
}

// A 32-byte block whose last bytes write nothing, then a block that writes
// just fewer or just more bytes than that, then the end of the input: what
// a block-wide path may store past its output must be written over by what
// follows, or not stored at all.
TEST_P(QPBulk, MatchesTheByteRulesWhereABlockEndsWritingNothing) {
  const struct {
    const char* end_of_block;  // its last 8 bytes
    const char* rest_of_pair;  // the bytes of the next block it consumes
  } kBlockEnds[] = {
      {"xxxxxxxx", ""}, {"=\r\n=\r\n=\r", "\n"}, {"x=\r\n=\r\n=", "\r\n"}};
  for (const auto& block_end : kBlockEnds) {
    const std::string head =
        std::string(24, 'x') + block_end.end_of_block + block_end.rest_of_pair;
    // Soft line breaks, pairs and plain bytes filling the next block and the
    // two bytes after it, the last of them a soft line break.
    const size_t fill = 2 * 32 + 2 - head.size() - 3;
    for (size_t soft = 0; soft <= 11; ++soft) {
      for (size_t pairs = 0; pairs <= 3; ++pairs) {
        if (3 * (soft + pairs) > fill) continue;
        std::vector<std::string> tokens(soft, "=\r\n");
        tokens.insert(tokens.end(), pairs, "=41");
        tokens.insert(tokens.end(), fill - 3 * (soft + pairs), "x");
        for (unsigned order = 0; order < 4; ++order) {
          std::shuffle(tokens.begin(), tokens.end(), std::mt19937(order));
          std::string input = head;
          for (const std::string& token : tokens) input += token;
          input += "=\r\n";
          ASSERT_EQ(Decode(input), ReferenceDecode(input)) << input;
          input += "x";
          ASSERT_EQ(Decode(input), ReferenceDecode(input)) << input;
        }
      }
    }
  }
}

TEST_P(QPBulk, MatchesTheByteRulesOnRandomInput) {
  for (unsigned seed = 0; seed < 2000; ++seed) {
    std::mt19937 rng(seed);
    std::string input = RandomText(rng, rng() % 300);
    if (seed % 2 == 0) input = Encode(input);
    ASSERT_EQ(Decode(input), ReferenceDecode(input)) << "seed " << seed;
  }
}

TEST_P(QPBulk, RoundTripsRandomBytes) {
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

// Pieces of 1 byte upward, cut anywhere, inside "=" sequences and soft line
// breaks too. Each piece's output stays within its length and nothing is
// written past its count; one decoder serves content after content.
TEST_P(QPBulk, PiecesOfAnySizeDecodeAsTheWhole) {
  constexpr char kUnwritten = '\xA5';
  QPStreamDecoder decoder(GetParam().kernel);
  for (unsigned seed = 0; seed < 400; ++seed) {
    std::mt19937 rng(seed);
    std::string content = RandomText(rng, rng() % 3000);
    if (seed % 2 == 0) content = Encode(content);
    const size_t largest = seed % 4 == 0 ? 1 : seed % 4 == 1 ? 8 : 300;
    std::string decoded;
    for (size_t at = 0; at < content.size();) {
      const size_t length =
          std::min<size_t>(1 + rng() % largest, content.size() - at);
      const std::string piece = content.substr(at, length);
      std::vector<char> out(length + QPStreamDecoder::kMaxExtraOutput + 8,
                            kUnwritten);
      const size_t n = decoder.Decode(piece.data(), length, out.data());
      ASSERT_LE(n, length + QPStreamDecoder::kMaxExtraOutput);
      ASSERT_EQ(std::string(out.begin() + n, out.end()),
                std::string(out.size() - n, kUnwritten));
      decoded.append(out.data(), n);
      at += length;
    }
    // Contents that end inside a sequence, decided or not by its end.
    const std::string end = seed % 3 != 0 ? "" : seed % 2 == 0 ? "=4" : "=  ";
    content += end;
    char tail[QPStreamDecoder::kMaxExtraOutput + 8];
    decoded.append(tail, decoder.Decode(end.data(), end.size(), tail));
    decoded.append(tail, decoder.Finish(tail));
    ASSERT_EQ(decoded, ReferenceDecode(content)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace contentfile_internal
