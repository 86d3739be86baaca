#include "mail/header_fields.h"

#include <cstring>
#include <string>

#include "codec/encoded_word.h"
#include "mail/header_text.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

constexpr std::string_view kEmptyLine = "\r\n\r\n";

// The end of the line that begins at `from`: its CR LF, or `end`.
const char* LineEnd(const char* from, const char* end) {
  const char* p = from;
  while (p < end) {
    const auto* lf = static_cast<const char*>(
        std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (lf == nullptr) return end;
    if (lf > from && lf[-1] == '\r') return lf - 1;
    p = lf + 1;
  }
  return end;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Length of the field name that opens the line [line, end) when the line
// is a field line (the name, optional blanks, ":"), else 0; `colon`
// receives the ":".
size_t FieldNameLength(const char* line, const char* end, const char** colon) {
  const char* p = line;
  while (p<end&& * p> ' ' && *p < 127 && *p != ':') ++p;
  const size_t name_length = static_cast<size_t>(p - line);
  while (p < end && IsBlank(*p)) ++p;
  if (name_length == 0 || p == end || *p != ':') return 0;
  *colon = p;
  return name_length;
}

// Builds the segments while DecodeWord reports its runs.
class SegmentCollector final : public EncodedWordObserver {
 public:
  SegmentCollector(const char* output,
                   std::vector<contentfile::HeaderSegment>& segments)
      : output_(output), segments_(segments) {}

  void OnRun(uint32_t begin, uint32_t end, std::string_view charset) override {
    if (begin == end) return;
    const char* bytes = output_ + begin;
    const size_t size = end - begin;
    if (!segments_.empty()) {
      contentfile::HeaderSegment& last = segments_.back();
      if (EqualsCaseInsensitive(last.charset.data(), last.charset.size(),
                                charset.data(), charset.size())) {
        last.text.append(bytes, size);
        return;
      }
    }
    segments_.push_back(contentfile::HeaderSegment{std::string(bytes, size),
                                                   std::string(charset)});
  }

 private:
  const char* output_;
  std::vector<contentfile::HeaderSegment>& segments_;
};

}  // namespace

size_t HeadLength(const char* message, size_t length) {
  const char* empty =
      FindBytes(message, length, kEmptyLine.data(), kEmptyLine.size());
  return empty == nullptr ? length : static_cast<size_t>(empty - message);
}

void FindHeaderFields(const char* head, size_t length, std::string_view name,
                      std::vector<contentfile::HeaderField>& fields) {
  const char* const end = head + length;
  const char* line = head;
  while (line < end) {
    const char* line_end = LineEnd(line, end);
    const char* colon = nullptr;
    const size_t name_length = FieldNameLength(line, line_end, &colon);
    // The field runs on over the lines that begin with a blank.
    const char* field_end = line_end;
    while (end - field_end > 2 && IsBlank(field_end[2])) {
      field_end = LineEnd(field_end + 2, end);
    }
    if (name_length > 0 &&
        EqualsCaseInsensitive(line, name_length, name.data(), name.size())) {
      const std::string_view value(colon + 1,
                                   static_cast<size_t>(field_end - colon - 1));
      contentfile::HeaderField field;
      field.name.assign(line, name_length);
      field.raw.assign(TrimHeaderSpace(UnfoldHeaderValue(value)));
      DecodeHeaderValue(field);
      fields.push_back(std::move(field));
    }
    line = field_end == end ? end : field_end + 2;
  }
}

void DecodeHeaderValue(contentfile::HeaderField& field) {
  field.segments.clear();
  // Decoding never lengthens the value.
  field.decoded.assign(field.raw.size(), '\0');
  SegmentCollector collector(field.decoded.data(), field.segments);
  field.decoded.resize(DecodeWord(field.raw.data(),
                                  static_cast<uint32_t>(field.raw.size()),
                                  field.decoded.data(), &collector));
}

}  // namespace contentfile_internal
