#include "mail/mail_parser.h"

#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "mail/header_text.h"
#include "mail/mime_parameter.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

// Keys of the head fields; a key that begins with CR LF matches at the start
// of any line.
constexpr std::string_view kFromKey = "\r\nFrom: ";
// Tried when kFromKey gives nothing: anywhere in the head, also inside a
// longer field name ending in "From".
constexpr char kFromFallbackKey[] = "From: ";
constexpr std::string_view kToKey = "\r\nTo: ";
constexpr std::string_view kSubjectKey = "\r\nSubject: ";
constexpr std::string_view kCcKey = "\r\nCc: ";

// The fields ParseMailHead takes from the head, in one walk over its lines.
enum HeadKey : size_t { kFrom, kTo, kSubject, kCc, kContentType, kHeadKeys };
constexpr std::string_view kHeadKeyTexts[kHeadKeys] = {
    kFromKey, kToKey, kSubjectKey, kCcKey, kContentTypeKey};

}  // namespace

CMailParser::CMailParser() = default;

CMailParser::~CMailParser() = default;

int32_t CMailParser::SetContent(Buffer data, uint32_t length) {
  if (data == nullptr) {
    SetSource(nullptr);
  } else {
    SetSource(std::make_shared<MemorySource>(std::move(data), length));
  }
  return 0;
}

void CMailParser::SetSource(std::shared_ptr<const MessageSource> source) {
  ResetResults();
  source_ = std::move(source);
}

void CMailParser::ResetResults() {
  head_.clear();
  m_strFrom.clear();
  m_strTo.clear();
  m_strCc.clear();
  m_strSubject.clear();
  m_strContentType.clear();
  m_strBoundary.clear();
  table_.Clear();
  head_only_ = false;
}

int32_t CMailParser::Parse() {
  if (source_ == nullptr) return kNoContent;
  ResetResults();
  // The window is this parse's own and goes with it.
  MessageWindow window(*source_, window_size_);
  if (!window.Reserve()) return kNoWindow;
  const int32_t head = ParseMailHead(window);
  if (head == kHeadReadFailed) return kReadFailed;
  if (head != kHeadParsed) return kHeadNotFound;
  if (!ParseParts(window)) return kReadFailed;
  return kParsed;
}

bool CMailParser::ParseParts(MessageWindow& window) {
  // A message of head lines only has no part.
  if (head_only_) return true;
  if (!m_strBoundary.empty()) {
    const int32_t scanned =
        table_.Scan(window, m_strBoundary, compared_levels_);
    if (scanned == PartTable::kReadFailed) return false;
    if (scanned == PartTable::kScanned) return true;
    // A multipart whose delimiter never occurs is served as one part.
  }
  // The part's header block is the whole head, wherever its Content-Type
  // line stands; a message without one is text/plain all the same.
  table_.AddWholeMessage(source_->size(), head_.data(), head_.size());
  return true;
}

namespace {

// True when the text begins with a header field: a name of printable
// ASCII bytes other than ":", then ":".
bool BeginsWithHeaderField(const char* text, size_t length) {
  size_t at = 0;
  while (at < length && text[at] > ' ' && text[at] < 127 && text[at] != ':') {
    ++at;
  }
  return at > 0 && at < length && text[at] == ':';
}

}  // namespace

int32_t CMailParser::ParseMailHead(MessageWindow& window) {
  const uint32_t size = source_->size();
  // Most heads lie wholly in the first window: one walk over their lines
  // finds the empty line and the fields. Any other head is searched for in
  // the message, and its fields in the copy.
  size_t found[kHeadKeys];
  size_t head_length = kNotFound;
  if (size > 0) {
    if (!window.Holds(0) && !window.Load(0)) return kHeadReadFailed;
    if (window.base() == 0) {
      head_length = ScanHeadLines(window.data(), window.end(), kHeadKeyTexts,
                                  kHeadKeys, found);
    }
  }
  const bool walked = head_length != kNotFound;
  if (!walked) head_length = FindInMessage(window, 0, "\r\n\r\n");
  if (window.failed()) return kHeadReadFailed;
  if (head_length == SIZE_MAX) {
    head_length = size;
    head_only_ = true;
  }
  // The head is copied from the window when the window holds it all, as it
  // does for most messages, and read again from the source otherwise.
  if (head_length == 0) {
    head_.clear();
  } else if (window.base() == 0 && window.end() >= head_length) {
    head_.assign(window.data(), head_length);
  } else {
    head_.resize(head_length);
    if (!source_->Read(0, head_.data(), head_length)) return kHeadReadFailed;
  }
  const char* head = head_.data();
  if (head_only_) {
    // No empty line: a message of header lines only still gives its fields
    // (and no part), but text that has no line ends as mail has them, or
    // that does not begin with a field, is no message at all.
    if (FindBytes(head, head_length, kLineEnd.data(), kLineEnd.size()) ==
            nullptr ||
        !BeginsWithHeaderField(head, head_length)) {
      return kNoEmptyLine;
    }
  }

  // The walk over the window found the fields already; a head it did not
  // reach the end of is walked in its copy.
  std::string_view values[kHeadKeys];
  if (walked) {
    for (size_t i = 0; i < kHeadKeys; ++i) {
      if (found[i] != kNotFound) {
        values[i] = FieldValueAt(head, head_length, found[i]);
      }
    }
  } else {
    FindHeadFields(head, head_length, kHeadKeyTexts, kHeadKeys, values);
  }
  m_strFrom.assign(values[kFrom]);
  m_strTo.assign(values[kTo]);
  m_strSubject.assign(values[kSubject]);
  m_strCc.assign(values[kCc]);
  m_strContentType.assign(values[kContentType]);
  if (m_strFrom.empty()) {
    GetHeadField(head, head_length, kFromFallbackKey, m_strFrom);
  }

  // Any "boundary=" makes the message a multipart one, whatever its type.
  const char* boundary =
      FindCaseInsensitiveMb(m_strContentType.data(), m_strContentType.size(),
                            kBoundaryKey.data(), kBoundaryKey.size());
  if (boundary != nullptr) {
    m_strBoundary =
        ReadParameterValue(boundary + kBoundaryKey.size(),
                           m_strContentType.data() + m_strContentType.size(),
                           /*keep_leading_space=*/true)
            .text;
  }

  NormalizeHead();
  return kHeadParsed;
}

int32_t CMailParser::GetHeadField(const char* text, size_t length,
                                  std::string_view key, std::string& value) {
  const std::optional<std::string_view> found =
      FindHeadField(text, length, key);
  if (!found) return kFieldNotFound;
  value.assign(*found);
  return kFieldFound;
}

}  // namespace contentfile_internal
