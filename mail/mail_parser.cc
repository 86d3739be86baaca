#include "mail/mail_parser.h"

#include <cstring>
#include <utility>

#include "mail/header_text.h"
#include "mail/mime_parameter.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

// Keys of the head fields; a key that begins with CR LF matches at the start
// of any line.
constexpr char kFromKey[] = "\r\nFrom: ";
// Tried when kFromKey gives nothing: anywhere in the head, also inside a
// longer field name ending in "From".
constexpr char kFromFallbackKey[] = "From: ";
constexpr char kToKey[] = "\r\nTo: ";
constexpr char kSubjectKey[] = "\r\nSubject: ";
constexpr char kCcKey[] = "\r\nCc: ";

}  // namespace

CMailParser::CMailParser() = default;

CMailParser::~CMailParser() = default;

int32_t CMailParser::SetContent(Buffer data, uint32_t length) {
  ResetResults();
  m_pData = std::move(data);
  m_nDataLen = length;
  // A NUL is a byte like any other: every search runs to the message's end.
  text_length_ = m_pData != nullptr ? length : 0;
  empty_lines_.Reset(m_pData.get(), text_length_);
  return 0;
}

void CMailParser::ResetResults() {
  m_strFrom.clear();
  m_strTo.clear();
  m_strCc.clear();
  m_strSubject.clear();
  m_strContentType.clear();
  m_strBoundary.clear();
  m_arrParts.clear();
  attachment_entries_.clear();
  classifying_ = false;
  classification_stopped_ = false;
  head_only_ = false;
}

int32_t CMailParser::Parse() {
  if (m_pData == nullptr) return kNoContent;
  ResetResults();
  if (ParseMailHead() != kHeadParsed) return kHeadNotFound;
  // Each entry is classified as soon as the scan appends it, while its
  // header block is still in the cache; the table is the same as when the
  // finished table is classified in order.
  classifying_ = true;
  const int32_t parts_result = ParseParts();
  classifying_ = false;
  if (parts_result != kPartsFound) return kNoPartTable;
  for (size_t i = 0; i < m_arrParts.size(); ++i) {
    if (m_arrParts[i].nType == MAIL_PART_ATTACHMENT) {
      attachment_entries_.push_back(static_cast<uint32_t>(i));
    }
  }
  return kParsed;
}

void CMailParser::ClassifyEntry(size_t index) {
  // A part whose header block cannot be analysed ends the classification:
  // it and every later part stay unclassified, and the parse still succeeds.
  if (classification_stopped_) return;
  ST_MAIL_PART part = m_arrParts[index];
  bool nameless_attachment = false;
  if (ParsePartHead(part, &nameless_attachment) != kPartAnalysed) {
    classification_stopped_ = true;
    return;
  }
  part.nType = part.strName.empty() && !nameless_attachment
                   ? MAIL_PART_TEXT
                   : MAIL_PART_ATTACHMENT;
  m_arrParts[index] = std::move(part);
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

int32_t CMailParser::ParseMailHead() {
  const char* head = m_pData.get();
  size_t head_length = empty_lines_.Find(0);
  if (head_length == EmptyLineFinder::kNone) {
    // No empty line: a message of header lines only still gives its fields
    // (and no part), but text that has no line ends as mail has them, or
    // that does not begin with a field, is no message at all.
    if (FindBytes(head, text_length_, kLineEnd.data(), kLineEnd.size()) ==
            nullptr ||
        !BeginsWithHeaderField(head, text_length_)) {
      return kNoEmptyLine;
    }
    head_length = text_length_;
    head_only_ = true;
  }

  GetHeadField(head, head_length, kFromKey, m_strFrom);
  if (m_strFrom.empty()) {
    GetHeadField(head, head_length, kFromFallbackKey, m_strFrom);
  }
  GetHeadField(head, head_length, kToKey, m_strTo);
  GetHeadField(head, head_length, kSubjectKey, m_strSubject);
  GetHeadField(head, head_length, kCcKey, m_strCc);
  GetHeadField(head, head_length, kContentTypeKey, m_strContentType);

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
