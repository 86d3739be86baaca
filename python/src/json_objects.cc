#include "python/src/json_objects.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace py = pybind11;

namespace contentfile_python {
namespace {

// Objects and arrays nest at most this deep (a report nests four levels).
constexpr int kMostDepth = 64;
// Keys kept for reuse at most (reports have some sixty different ones).
constexpr size_t kMostKeys = 4096;

// Counts one level of nesting for its lifetime.
class Nesting {
 public:
  explicit Nesting(int* depth) : depth_(depth) {
    if (++*depth_ > kMostDepth) {
      --*depth_;
      throw py::value_error("JSON nested too deeply");
    }
  }
  ~Nesting() { --*depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  int* depth_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

py::object Utf8(const char* data, size_t size) {
  PyObject* text =
      PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "strict");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(text);
}

}  // namespace

// One decoding: its position and scratch space are its own, so that
// decodings that overlap (a thread switch while Python makes an object)
// do not meet; only the keys are shared.
class JsonObjects::Parser {
 public:
  Parser(std::string_view text,
         std::unordered_map<std::string, py::object>* keys)
      : text_(text), keys_(keys) {}

  py::object Whole() {
    py::object value = Value();
    SkipSpace();
    if (at_ != text_.size()) Malformed();
    return value;
  }

 private:
  py::object Value();
  py::object Object();
  py::object Array();
  py::object Number();
  // The string at the current quote; `key` strings are kept for reuse.
  py::object String(bool key);
  // The characters of the string at the current quote, escapes decoded,
  // as UTF-8 in *out; the position moves past its closing quote.
  void StringText(std::string* out);
  void SkipSpace();
  void Expect(char c);
  [[noreturn]] void Malformed() const;

  std::string_view text_;
  size_t at_ = 0;
  int depth_ = 0;
  std::string scratch_;
  std::string scratch_key_;
  std::unordered_map<std::string, py::object>* keys_;
};

py::object JsonObjects::Decode(std::string_view text) {
  return Parser(text, &keys_).Whole();
}

void JsonObjects::Parser::Malformed() const {
  throw py::value_error("malformed JSON at offset " + std::to_string(at_));
}

void JsonObjects::Parser::SkipSpace() {
  while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                text_[at_] == '\r' || text_[at_] == '\t')) {
    ++at_;
  }
}

void JsonObjects::Parser::Expect(char c) {
  SkipSpace();
  if (at_ >= text_.size() || text_[at_] != c) Malformed();
  ++at_;
}

py::object JsonObjects::Parser::Value() {
  SkipSpace();
  if (at_ >= text_.size()) Malformed();
  switch (text_[at_]) {
    case '{':
      return Object();
    case '[':
      return Array();
    case '"':
      return String(false);
    case 't':
      if (text_.compare(at_, 4, "true") != 0) Malformed();
      at_ += 4;
      return py::bool_(true);
    case 'f':
      if (text_.compare(at_, 5, "false") != 0) Malformed();
      at_ += 5;
      return py::bool_(false);
    case 'n':
      if (text_.compare(at_, 4, "null") != 0) Malformed();
      at_ += 4;
      return py::none();
    default:
      return Number();
  }
}

py::object JsonObjects::Parser::Object() {
  Nesting nesting(&depth_);
  ++at_;  // '{'
  py::dict object;
  SkipSpace();
  if (at_ < text_.size() && text_[at_] == '}') {
    ++at_;
    return std::move(object);
  }
  while (true) {
    SkipSpace();
    if (at_ >= text_.size() || text_[at_] != '"') Malformed();
    py::object key = String(true);
    Expect(':');
    object[key] = Value();
    SkipSpace();
    if (at_ >= text_.size()) Malformed();
    if (text_[at_] == '}') {
      ++at_;
      return std::move(object);
    }
    if (text_[at_] != ',') Malformed();
    ++at_;
  }
}

py::object JsonObjects::Parser::Array() {
  Nesting nesting(&depth_);
  ++at_;  // '['
  py::list array;
  SkipSpace();
  if (at_ < text_.size() && text_[at_] == ']') {
    ++at_;
    return std::move(array);
  }
  while (true) {
    array.append(Value());
    SkipSpace();
    if (at_ >= text_.size()) Malformed();
    if (text_[at_] == ']') {
      ++at_;
      return std::move(array);
    }
    if (text_[at_] != ',') Malformed();
    ++at_;
  }
}

py::object JsonObjects::Parser::Number() {
  const size_t start = at_;
  bool integer = true;
  if (at_ < text_.size() && text_[at_] == '-') ++at_;
  const size_t digits = at_;
  while (at_ < text_.size()) {
    const char c = text_[at_];
    if (c >= '0' && c <= '9') {
      ++at_;
    } else if (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
      integer = false;
      ++at_;
    } else {
      break;
    }
  }
  if (at_ == digits) Malformed();
  const std::string number(text_.substr(start, at_ - start));
  PyObject* value = integer ? PyLong_FromString(number.c_str(), nullptr, 10)
                            : PyFloat_FromString(py::str(number).ptr());
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(value);
}

py::object JsonObjects::Parser::String(bool key) {
  // The common case: no escape, so the text is the bytes between quotes.
  const size_t start = at_ + 1;
  size_t end = start;
  while (end < text_.size() && text_[end] != '"' && text_[end] != '\\' &&
         static_cast<unsigned char>(text_[end]) >= 0x20) {
    ++end;
  }
  if (end >= text_.size()) Malformed();
  std::string_view plain;
  if (text_[end] == '"') {
    plain = text_.substr(start, end - start);
    at_ = end + 1;
  } else {
    StringText(&scratch_);
    plain = scratch_;
  }
  if (!key) return Utf8(plain.data(), plain.size());
  scratch_key_.assign(plain.data(), plain.size());
  auto found = keys_->find(scratch_key_);
  if (found != keys_->end()) return found->second;
  py::object made = Utf8(plain.data(), plain.size());
  if (keys_->size() < kMostKeys) keys_->emplace(scratch_key_, made);
  return made;
}

void JsonObjects::Parser::StringText(std::string* out) {
  out->clear();
  ++at_;  // the opening quote
  while (true) {
    if (at_ >= text_.size()) Malformed();
    const char c = text_[at_++];
    if (c == '"') return;
    if (static_cast<unsigned char>(c) < 0x20) Malformed();
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (at_ >= text_.size()) Malformed();
    const char escape = text_[at_++];
    switch (escape) {
      case '"':
      case '\\':
      case '/':
        out->push_back(escape);
        break;
      case 'b':
        out->push_back('\b');
        break;
      case 'f':
        out->push_back('\f');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'u': {
        auto hex4 = [&]() -> uint32_t {
          if (at_ + 4 > text_.size()) Malformed();
          uint32_t value = 0;
          for (int i = 0; i < 4; ++i) {
            const int digit = HexDigit(text_[at_++]);
            if (digit < 0) Malformed();
            value = value * 16 + static_cast<uint32_t>(digit);
          }
          return value;
        };
        uint32_t code_point = hex4();
        if (code_point >= 0xD800 && code_point < 0xDC00 &&
            text_.compare(at_, 2, "\\u") == 0) {
          const size_t before = at_;
          at_ += 2;
          const uint32_t low = hex4();
          if (low >= 0xDC00 && low < 0xE000) {
            code_point =
                0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
          } else {
            at_ = before;
          }
        }
        // A lone surrogate has no UTF-8 form (the reports hold none).
        if (code_point >= 0xD800 && code_point < 0xE000) Malformed();
        AppendUtf8(code_point, out);
        break;
      }
      default:
        Malformed();
    }
  }
}

}  // namespace contentfile_python
