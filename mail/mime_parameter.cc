#include "mail/mime_parameter.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "mail/header_text.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

bool EndsUnquotedValue(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == ';' || c == '\0';
}

bool EndsQuotedRun(char c) {
  return c == '"' || c == '\r' || c == '\n' || c == '\0';
}

// A quoted value starting at the quote `quote`; false when its closing quote
// is not on its (unfolded) line.
bool ReadQuoted(const char* quote, const char* end, bool keep_leading_space,
                ParameterValue* result) {
  const char* p = quote + 1;
  while (p < end && !EndsQuotedRun(*p)) ++p;
  std::string_view text(quote + 1, static_cast<size_t>(p - quote - 1));
  std::string unfolded;
  if (p < end && *p != '"') {
    // A line break before the closing quote: a fold is undone, any other
    // break ends the line.
    unfolded.assign(text);
    while (p < end && *p != '"') {
      if (end - p >= 3 && p[0] == '\r' && p[1] == '\n' &&
          (p[2] == ' ' || p[2] == '\t')) {
        p += 2;
      } else if (EndsQuotedRun(*p)) {
        return false;
      }
      const char* run = p;
      while (p < end && !EndsQuotedRun(*p)) ++p;
      unfolded.append(run, p);
    }
    text = unfolded;
  }
  if (p == end) return false;
  const std::string_view trimmed = TrimHeaderSpace(text);
  if (keep_leading_space && !trimmed.empty()) {
    // Only white space at the end goes.
    result->text.assign(text.data(), trimmed.data() + trimmed.size());
  } else {
    result->text.assign(trimmed);
  }
  result->stop = p + 1;
  return true;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// "%XX" with two hexadecimal digits becomes its byte; any other "%" stays.
std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexDigitValue(text[i + 1]);
      const int low = HexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    decoded.push_back(text[i]);
  }
  return decoded;
}

// The text after "charset'language'", or all of it without two quotes;
// `charset`, when not null, receives the charset.
std::string_view DropCharsetAndLanguage(std::string_view text,
                                        std::string* charset = nullptr) {
  const size_t first = text.find('\'');
  if (first == std::string_view::npos) return text;
  const size_t second = text.find('\'', first + 1);
  if (second == std::string_view::npos) return text;
  if (charset != nullptr) charset->assign(text.substr(0, first));
  return text.substr(second + 1);
}

bool BeginsParameter(const char* name, const char* field_begin) {
  if (name == field_begin) return true;
  const char c = name[-1];
  return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The byte after the next occurrence of the scanner's name at the start of
// a parameter, searched from `from` on (which moves past it); null when
// there is none.
const char* NextParameterName(KeyScanner& scanner, const char* begin,
                              size_t name_length, const char*& from) {
  while (const char* hit = scanner.Next(from)) {
    from = hit + 1;
    if (BeginsParameter(hit, begin)) return hit + name_length;
  }
  return nullptr;
}

struct Section {
  int64_t number;  // -1: the single value of "name*="
  bool extended;   // written with "*": percent-encoded
  std::string text;
  size_t order;  // place in the field value
};

// Section numbers above this are never reached by the joining.
constexpr int kMaxSectionDigits = 9;

}  // namespace

ParameterValue ReadParameterValue(const char* value, const char* end,
                                  bool keep_leading_space) {
  const char* first = value;
  while (first < end && *first == '\t') ++first;
  if (first < end && *first == '"') {
    ParameterValue quoted;
    if (ReadQuoted(first, end, keep_leading_space, &quoted)) return quoted;
  }
  const char* stop = value;
  while (stop < end && !EndsUnquotedValue(*stop)) ++stop;
  std::string text(value, stop);
  std::replace(text.begin(), text.end(), '"', ' ');
  return ParameterValue{std::string(TrimHeaderSpace(text)), stop};
}

std::optional<std::string> SimpleParameter(std::string_view field_value,
                                           std::string_view key) {
  const char* hit = FindStringMb(field_value.data(), field_value.size(),
                                 key.data(), key.size());
  if (hit == nullptr) return std::nullopt;
  return ReadParameterValue(hit + key.size(),
                            field_value.data() + field_value.size())
      .text;
}

std::string ExtendedParameter(std::string_view field_value,
                              std::string_view name, std::string* charset) {
  const char* const begin = field_value.data();
  const char* const end = begin + field_value.size();
  std::vector<Section> sections;
  KeyScanner scanner(begin, field_value.size(), name);
  const char* from = begin;
  while (const char* after =
             NextParameterName(scanner, begin, name.size(), from)) {
    const char* p = after;
    if (p == end || *p != '*') continue;
    ++p;
    Section section{-1, true, std::string(), sections.size()};
    if (p < end && *p >= '0' && *p <= '9') {
      const char* digits = p;
      section.number = 0;
      while (p < end && *p >= '0' && *p <= '9' &&
             p - digits < kMaxSectionDigits) {
        section.number = section.number * 10 + (*p - '0');
        ++p;
      }
      if (p < end && *p >= '0' && *p <= '9') continue;
      section.extended = p < end && *p == '*';
      if (section.extended) ++p;
    }
    if (p == end || *p != '=') continue;
    ParameterValue value = ReadParameterValue(p + 1, end);
    section.text = std::move(value.text);
    from = value.stop > from ? value.stop : from;
    sections.push_back(std::move(section));
  }

  std::string joined;
  if (charset != nullptr) charset->clear();
  auto single = std::find_if(sections.begin(), sections.end(),
                             [](const Section& s) { return s.number < 0; });
  if (single != sections.end()) {
    joined = PercentDecode(DropCharsetAndLanguage(single->text, charset));
  } else {
    // The first section of each number counts.
    std::sort(sections.begin(), sections.end(),
              [](const Section& a, const Section& b) {
                return a.number != b.number ? a.number < b.number
                                            : a.order < b.order;
              });
    int64_t expected = 0;
    for (const Section& section : sections) {
      if (section.number < expected) continue;
      if (section.number > expected) break;
      std::string_view text = section.text;
      if (section.extended) {
        if (expected == 0) text = DropCharsetAndLanguage(text, charset);
        joined += PercentDecode(text);
      } else {
        joined += text;
      }
      ++expected;
    }
  }
  return std::string(TrimHeaderSpace(joined));
}

std::optional<std::string> NamedParameter(std::string_view field_value,
                                          std::string_view name) {
  const char* const begin = field_value.data();
  const char* const end = begin + field_value.size();
  if (name.empty()) return std::nullopt;
  KeyScanner scanner(begin, field_value.size(), name);
  const char* from = begin;
  while (const char* after =
             NextParameterName(scanner, begin, name.size(), from)) {
    const char* p = after;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p == end || *p != '=') continue;
    ++p;
    while (p < end && *p == ' ') ++p;
    return ReadParameterValue(p, end).text;
  }
  return std::nullopt;
}

}  // namespace contentfile_internal
