// The table-driven decoders against the byte-at-a-time reference: every
// input must decode to exactly the reference's bytes.
//
// The first input byte chooses the decoder, the alignment of both buffers
// and whether the rest is taken as it is or first mapped onto the bytes that
// the decoder's fast paths see most (long runs of the base64 alphabet in
// 76-column lines, or quoted-printable text with "=XX" pairs and soft line
// breaks), so that the fuzzer reaches the bulk paths as well as the byte
// rules at their edges.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference_decoders.h"

namespace {

// Mostly alphabet characters, with the occasional byte that breaks a run.
std::string MapToBase64(const uint8_t* data, size_t size) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static const char kBreakers[] = {'=', '\r',   '\n',   ' ',   '\t', '-',
                                   '.', '\x80', '\xff', '\0',  '*',  '_',
                                   ':', '?',    '"',    '\x7f'};
  std::string text;
  text.reserve(size * 2);
  size_t column = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b >= 0xF0) {
      text += kBreakers[b & 0x0F];
      continue;
    }
    text += kAlphabet[b & 63];
    if (++column == 76) {
      text += "\r\n";
      column = 0;
    }
  }
  return text;
}

// Printable text, "=XX" pairs of hex digits (upper and lower case and not
// hex at all), soft line breaks and hard ones.
std::string MapToQuotedPrintable(const uint8_t* data, size_t size) {
  static const char kHex[] = "0123456789ABCDEFabcdefGgZz \r\n=_";
  std::string text;
  text.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b < 0xC0) {
      text += static_cast<char>(' ' + b % 95);
    } else if (b < 0xE0) {
      text += '=';
      text += kHex[b & 0x1F];
      text += kHex[(b >> 1) & 0x0F];
    } else if (b < 0xF0) {
      text += "=\r\n";
    } else if (b < 0xF8) {
      text += "\r\n";
    } else {
      text += static_cast<char>(b);
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const uint8_t selector = data[0];
  const bool base64 = (selector & 1) != 0;
  const bool mapped = (selector & 2) != 0;
  const size_t input_offset = (selector >> 2) & 7;
  const size_t output_offset = (selector >> 5) & 7;
  ++data;
  --size;

  std::string text =
      !mapped  ? std::string(reinterpret_cast<const char*>(data), size)
      : base64 ? MapToBase64(data, size)
               : MapToQuotedPrintable(data, size);
  // The input ends exactly at the end of its heap block, so a read past it
  // is caught.
  std::vector<char> input(input_offset + text.size() + (text.empty() ? 1 : 0));
  std::copy(text.begin(), text.end(), input.begin() + input_offset);
  constexpr char kUnwritten = '\xA5';
  std::vector<char> output(output_offset + text.size() + 1, kUnwritten);

  const char* in = input.data() + input_offset;
  char* out = output.data() + output_offset;
  const auto length = static_cast<uint32_t>(text.size());
  const int32_t count =
      base64 ? contentfile_internal::Base64Decode(in, length, out)
             : contentfile_internal::QPDecode(in, length, out);
  const std::string expected =
      base64 ? contentfile_fuzz::ReferenceBase64(in, length)
             : contentfile_fuzz::ReferenceQuotedPrintable(in, length);

  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(static_cast<size_t>(count) == expected.size());
  FUZZ_CHECK(std::memcmp(out, expected.data(), expected.size()) == 0);
  for (size_t i = output_offset + expected.size(); i < output.size(); ++i) {
    FUZZ_CHECK(output[i] == kUnwritten);
  }
  for (size_t i = 0; i < output_offset; ++i) {
    FUZZ_CHECK(output[i] == kUnwritten);
  }
  return 0;
}
