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
  text_length_ = 0;
  if (m_pData != nullptr) {
    const void* nul = std::memchr(m_pData.get(), '\0', length);
    text_length_ = nul == nullptr
                       ? length
                       : static_cast<size_t>(static_cast<const char*>(nul) -
                                             m_pData.get());
  }
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

void CMailParser::ClassifyEntry(size_t index, int32_t same_as) {
  // A part whose header block cannot be analysed ends the classification:
  // it and every later part stay unclassified, and the parse still succeeds.
  if (classification_stopped_) return;
  if (same_as >= 0) {
    const uint32_t depth = m_arrParts[index].nDepth;
    m_arrParts[index] = m_arrParts[static_cast<size_t>(same_as)];
    m_arrParts[index].nDepth = depth;
    return;
  }
  ST_MAIL_PART part = m_arrParts[index];
  if (ParsePartHead(part) != kPartAnalysed) {
    classification_stopped_ = true;
    return;
  }
  part.nType = part.strName.empty() ? MAIL_PART_TEXT : MAIL_PART_ATTACHMENT;
  m_arrParts[index] = std::move(part);
}

int32_t CMailParser::ParseMailHead() {
  const size_t head_length = empty_lines_.Find(0);
  if (head_length == EmptyLineFinder::kNone) return kNoEmptyLine;
  const char* head = m_pData.get();

  GetHeadField(head, head_length, kFromKey, m_strFrom);
  if (m_strFrom.empty()) {
    GetHeadField(head, head_length, kFromFallbackKey, m_strFrom);
  }
  GetHeadField(head, head_length, kToKey, m_strTo);
  GetHeadField(head, head_length, kSubjectKey, m_strSubject);
  GetHeadField(head, head_length, kCcKey, m_strCc);
  GetHeadField(head, head_length, kContentTypeKey, m_strContentType);

  // Any "boundary=" makes the message a multipart one, whatever its type.
  const char* boundary = FindCaseInsensitiveMb(
      m_strContentType.data(), m_strContentType.size(), kBoundaryKey.data(),
      kBoundaryKey.size());
  if (boundary != nullptr) {
    m_strBoundary =
        ReadParameterValue(boundary + kBoundaryKey.size(),
                           m_strContentType.data() + m_strContentType.size())
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
