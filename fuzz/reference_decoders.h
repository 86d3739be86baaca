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

// "=" and two bytes give one byte by the digit rule (x - 48 up to "9",
// x - 55 above, modulo 256); "=" CR and any byte give nothing; an "=" among
// the last two bytes ends the output.
inline std::string ReferenceQuotedPrintable(const char* input, size_t length) {
  const auto digit = [](unsigned char x) {
    return static_cast<unsigned char>(x <= '9' ? x - 48 : x - 55);
  };
  std::string out;
  for (size_t i = 0; i < length;) {
    const char c = input[i++];
    if (c != '=') {
      out += c;
      continue;
    }
    if (length - i < 2) break;
    const auto first = static_cast<unsigned char>(input[i]);
    const auto second = static_cast<unsigned char>(input[i + 1]);
    i += 2;
    if (first != '\r') {
      out += static_cast<char>(
          static_cast<unsigned char>(digit(first) * 16 + digit(second)));
    }
  }
  return out;
}

}  // namespace contentfile_fuzz

#endif  // CONTENTFILE_FUZZ_REFERENCE_DECODERS_H_
