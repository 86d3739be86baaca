#include "tools/cfdump/json_writer.h"

#include "tools/cfdump/utf8.h"

namespace cfdump {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscapedByte(uint8_t byte, std::string* out) {
  switch (byte) {
    case '"':
      *out += "\\\"";
      return;
    case '\\':
      *out += "\\\\";
      return;
    case '\n':
      *out += "\\n";
      return;
    case '\r':
      *out += "\\r";
      return;
    case '\t':
      *out += "\\t";
      return;
    default:
      break;
  }
  if (byte < 0x20 || byte >= 0x7F) {
    *out += "\\u00";
    *out += kHexDigits[byte >> 4];
    *out += kHexDigits[byte & 0x0F];
  } else {
    *out += static_cast<char>(byte);
  }
}

bool IsUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t length = Utf8SequenceLength(bytes, pos, nullptr);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

// Appends `bytes` as a JSON string; returns false when it had to be written
// byte by byte.
bool AppendJsonString(std::string_view bytes, std::string* out) {
  *out += '"';
  const bool as_text = IsUtf8(bytes);
  for (size_t pos = 0; pos < bytes.size(); ++pos) {
    const uint8_t byte = static_cast<uint8_t>(bytes[pos]);
    uint32_t code_point = 0;
    size_t length = 0;
    if (as_text && byte >= 0x80) {
      length = Utf8SequenceLength(bytes, pos, &code_point);
    }
    if (length > 1 && IsDirectionMark(code_point)) {
      // Escaped, so that a report viewed as text shows them.
      *out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        *out += kHexDigits[(code_point >> shift) & 0x0F];
      }
      pos += length - 1;
    } else if (as_text && byte >= 0x80) {
      *out += bytes[pos];
    } else {
      AppendEscapedByte(byte, out);
    }
  }
  *out += '"';
  return as_text;
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!levels_.empty()) {
    if (levels_.back().count > 0) out_ += ',';
    ++levels_.back().count;
  }
}

std::string JsonWriter::Pointer() const {
  std::string pointer;
  for (const Level& level : levels_) {
    pointer += '/';
    if (level.array) {
      pointer += std::to_string(level.count - 1);
      continue;
    }
    for (char c : level.key) {
      if (c == '~') {
        pointer += "~0";
      } else if (c == '/') {
        pointer += "~1";
      } else {
        pointer += c;
      }
    }
  }
  return pointer;
}

void JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  levels_.push_back({false, 0, std::string()});
}

void JsonWriter::EndObject() {
  out_ += '}';
  levels_.pop_back();
}

void JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  levels_.push_back({true, 0, std::string()});
}

void JsonWriter::EndArray() {
  out_ += ']';
  levels_.pop_back();
}

void JsonWriter::Key(const char* key) {
  BeforeValue();
  AppendJsonString(key, &out_);
  out_ += ':';
  levels_.back().key = key;
  after_key_ = true;
}

void JsonWriter::String(std::string_view bytes) {
  BeforeValue();
  if (!AppendJsonString(bytes, &out_)) byte_strings_.push_back(Pointer());
}

void JsonWriter::Number(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

}  // namespace cfdump
