#include "tools/cfdump/utf8.h"

namespace cfdump {

size_t Utf8SequenceLength(std::string_view text, size_t pos,
                          uint32_t* code_point) {
  const auto byte = [&](size_t i) {
    return static_cast<uint8_t>(text[pos + i]);
  };
  const uint8_t lead = byte(0);
  size_t length;
  uint32_t value;
  uint32_t smallest;
  if (lead < 0x80) {
    if (code_point != nullptr) *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
    smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    smallest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  if (code_point != nullptr) *code_point = value;
  return length;
}

bool IsDirectionMark(uint32_t code_point) {
  return code_point == 0x061C || code_point == 0x200E || code_point == 0x200F ||
         (code_point >= 0x202A && code_point <= 0x202E) ||
         (code_point >= 0x2066 && code_point <= 0x2069);
}

size_t Utf8SafeCut(std::string_view text, size_t limit) {
  if (limit >= text.size()) return text.size();
  size_t pos = 0;
  while (pos < limit) {
    size_t length = Utf8SequenceLength(text, pos, nullptr);
    if (length == 0) length = 1;  // a stray byte is cut like any other
    if (pos + length > limit) break;
    pos += length;
  }
  return pos;
}

}  // namespace cfdump
