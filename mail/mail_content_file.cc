// CMailContentFile: a content file whose body is one mail message, parsed
// at open; the retrieval operations forward to the parser's part table.

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "content/content_access.h"
#include "content/log_head.h"
#include "content/result_codes.h"
#include "contentfile.h"
#include "mail/mail_parser.h"
#include "mail/message_source.h"
#include "mail/part_retrieval.h"
#include "mail/result_codes.h"
#include "platform/memory.h"

using contentfile_internal::CMailParser;
using contentfile_internal::FileRangeSource;
using contentfile_internal::MessageSource;

CMailContentFile::CMailContentFile() {
  std::memset(&m_stLogInfo, 0, sizeof(m_stLogInfo));
}

// Copies share the open file and the parser; the record goes across byte
// for byte.
CMailContentFile::CMailContentFile(const CMailContentFile& other)
    : CContentFile(other), m_pMailParser(other.m_pMailParser) {
  std::memcpy(&m_stLogInfo, &other.m_stLogInfo, sizeof(m_stLogInfo));
}

CMailContentFile& CMailContentFile::operator=(const CMailContentFile& other) {
  if (this != &other) {
    CContentFile::operator=(other);
    m_pMailParser = other.m_pMailParser;
    std::memcpy(&m_stLogInfo, &other.m_stLogInfo, sizeof(m_stLogInfo));
  }
  return *this;
}

CMailContentFile::~CMailContentFile() { m_pMailParser.reset(); }

int32_t CMailContentFile::OpenContentFile(const char* path) {
  using namespace contentfile_internal;
  // The base open closes through the virtual table, so the earlier parser
  // goes before anything else happens. The capture's first bytes stay in
  // memory until this open ends: a small message is then read but once.
  OpenPrefix prefix(*this);
  const int32_t base = ContentFileAccess::OpenHoldingPrefix(*this, path);
  if (base != kOk) return base;

  const uint32_t size = GetBodySize();
  if (size == 0) return kMailEmptyBody;
  std::shared_ptr<const MessageSource> source;
  try {
    source = std::make_shared<FileRangeSource>(
        ContentFileAccess::SharedCapture(*this), GetHeadSize(), size);
  } catch (const std::bad_alloc&) {
    return kMailNoMemoryForBody;
  }

  std::unique_ptr<CMailParser> parser = NewObject<CMailParser>();
  if (!parser) return kMailNoMemoryForParser;
  parser->SetSource(std::move(source));
  // Out of memory while the message is parsed, or while the parser is
  // attached, is out of memory for the parser: the parser goes, the file
  // stays open.
  try {
    const int32_t parsed = parser->Parse();
    if (parsed == CMailParser::kNoWindow) return kMailNoMemoryForBody;
    if (parsed == CMailParser::kReadFailed) return kMailBodyReadFailed;
    if (parsed != CMailParser::kParsed) return kMailParseFailed;
    m_pMailParser = std::move(parser);
  } catch (const std::bad_alloc&) {
    return kMailNoMemoryForParser;
  }

  // The message is parsed before the head is analysed, so a message that
  // fails to parse leaves m_stLogInfo as it was.
  if (AnalyseLogHead() != kOk) {
    m_pMailParser.reset();
    return kMailHeadUnreadable;
  }
  return kOk;
}

int32_t CMailContentFile::CloseContentFile() {
  m_pMailParser.reset();
  return CContentFile::CloseContentFile();
}

const ST_MAIL_LOG_INFO& CMailContentFile::GetLogInfo() const {
  return m_stLogInfo;
}

int32_t CMailContentFile::AnalyseLogHead() {
  using namespace contentfile_internal;
  if (!m_pMailParser) return kMailNotParsed;
  HeadLines lines;
  if (!ReadLogHeadLines(*this, &lines)) return kAnalyseHeadUnreadable;

  const CMailParser& parser = *m_pMailParser;
  const bool filled = FillRecord(&m_stLogInfo, [&](ST_MAIL_LOG_INFO& info) {
    // A malformed line 4 leaves the later common fields zero and the open
    // goes on; a missing line raises from here, the mail fields left empty.
    CContentFile::AnalyseLogHead(&lines, &info);
    CopyToField(parser.From(), info.szFrom);
    CopyToField(parser.To(), info.szTo);
    CopyToField(parser.Cc(), info.szCc);
    CopyToField(parser.Subject(), info.szSubject);
  });
  return filled ? kOk : kAnalyseHeadUnreadable;
}

int32_t CMailContentFile::GetAttachmentCount() const {
  if (!m_pMailParser) return 0;
  return contentfile_internal::CountAttachments(*m_pMailParser);
}

int32_t CMailContentFile::GetAttachmentInfo(int32_t index, char* name,
                                            int32_t length,
                                            uint32_t& size) const {
  using namespace contentfile_internal;
  if (!m_pMailParser) return kMailNotParsed;
  if (length < 0 || (name == nullptr && length > 0)) return kInfoBadArgument;
  char decoded[kMaxNameLength + 1] = {};
  DescribeAttachment(*m_pMailParser, index, decoded, size);
  // The name up to its NUL, then NUL bytes up to the caller's length: a
  // name that fills the buffer gets no NUL.
  const size_t n = strnlen(decoded, static_cast<size_t>(length));
  if (length > 0) {
    std::memcpy(name, decoded, n);
    std::memset(name + n, 0, static_cast<size_t>(length) - n);
  }
  return kOk;
}

uint32_t CMailContentFile::GetMailTextSize() const {
  if (!m_pMailParser) return 0;
  return contentfile_internal::MeasureMailText(*m_pMailParser);
}

uint32_t CMailContentFile::GetMailText(char* buffer, uint32_t length) const {
  if (!m_pMailParser) return 0;
  return contentfile_internal::ReadMailText(*m_pMailParser, buffer, length);
}

int32_t CMailContentFile::GetAttachment2File(int32_t index,
                                             const char* path) const {
  using namespace contentfile_internal;
  if (!m_pMailParser) return kMailNotParsed;
  const int32_t rc = SaveAttachment(*m_pMailParser, index, path);
  return PublicAttachmentCode(rc);
}
