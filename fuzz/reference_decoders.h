// Plain byte-at-a-time decoders straight from the decoding rules: the
// yardstick that the table-driven decoders of codec/ must match byte for
// byte. Slow on purpose; kept as simple as the rules.

#ifndef CONTENTFILE_FUZZ_REFERENCE_DECODERS_H_
#define CONTENTFILE_FUZZ_REFERENCE_DECODERS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace contentfile_fuzz {

// Bytes outside the alphabet are skipped, "=" ends the data, an incomplete
// last group keeps the whole bytes it holds.
inline std::string ReferenceBase64(const char* input, size_t length) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int sextets = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = input[i];
    if (c == '=') break;
    const size_t value = kAlphabet.find(c);
    if (value == std::string::npos || c == '\0') continue;
    bits = bits << 6 | static_cast<uint32_t>(value);
    if (++sextets == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      sextets = 0;
    }
  }
  if (sextets == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  if (sextets == 2) out += static_cast<char>(bits >> 4);
  return out;
}

// One byte at a time: "=" and two hex digits of either case give a byte;
// "=", up to 76 spaces or tabs and CR LF or LF give nothing; any other "="
// stands for itself. An "=" the end leaves undecided: nothing for a lone
// "=", itself and what follows when `complete`, nothing when the input was
// cut short (`complete` false).
inline std::string ReferenceQuotedPrintable(const char* input, size_t length,
                                            bool complete = true) {
  const auto hex = [](unsigned char x) -> int {
    if (x >= '0' && x <= '9') return x - '0';
    if (x >= 'A' && x <= 'F') return x - 'A' + 10;
    if (x >= 'a' && x <= 'f') return x - 'a' + 10;
    return -1;
  };
  const std::string in(input, length);
  std::string out;
  for (size_t i = 0; i < length;) {
    const char c = in[i++];
    if (c != '=') {
      out += c;
      continue;
    }
    size_t j = i;
    if (j < length && hex(in[j]) >= 0) {
      if (j + 1 == length) {
        if (complete) out += in.substr(i - 1);
        break;
      }
      if (hex(in[j + 1]) >= 0) {
        out += static_cast<char>(hex(in[j]) * 16 + hex(in[j + 1]));
        i = j + 2;
      } else {
        out += '=';
      }
      continue;
    }
    while (j < length && j - i < 77 && (in[j] == ' ' || in[j] == '\t')) ++j;
    if (j - i > 76) {
      out += '=';
    } else if (j == length || (in[j] == '\r' && j + 1 == length)) {
      if (complete && i < length) out += in.substr(i - 1);
      break;
    } else if (in[j] == '\n') {
      i = j + 1;
    } else if (in[j] == '\r' && in[j + 1] == '\n') {
      i = j + 2;
    } else {
      out += '=';
    }
  }
  return out;
}

}  // namespace contentfile_fuzz

#endif  // CONTENTFILE_FUZZ_REFERENCE_DECODERS_H_
