// CHttpPostContentFile: a content file whose open goes on to analyse the
// log head into ST_HTTPPOST_LOG_INFO, the common fields and head line 9.

#include <cstring>

#include "content/content_access.h"
#include "content/log_head.h"
#include "content/result_codes.h"
#include "contentfile.h"

using contentfile_internal::CopyToField;
using contentfile_internal::FillRecord;
using contentfile_internal::HeadLine;
using contentfile_internal::HeadLines;
using contentfile_internal::kAnalyseHeadUnreadable;
using contentfile_internal::kHttpHeadUnreadable;
using contentfile_internal::kHttpOpenFailed;
using contentfile_internal::kOk;
using contentfile_internal::ReadLogHeadLines;

namespace {

// Head line 9 holds the HTTP POST kind's own field.
constexpr size_t kLine9 = 9;

}  // namespace

CHttpPostContentFile::CHttpPostContentFile() {
  std::memset(&m_stLogInfo, 0, sizeof(m_stLogInfo));
}

// The record is plain data and goes across byte for byte, padding included;
// the base copy shares the open file.
CHttpPostContentFile::CHttpPostContentFile(const CHttpPostContentFile& other)
    : CContentFile(other) {
  std::memcpy(&m_stLogInfo, &other.m_stLogInfo, sizeof(m_stLogInfo));
}

CHttpPostContentFile& CHttpPostContentFile::operator=(
    const CHttpPostContentFile& other) {
  if (this != &other) {
    CContentFile::operator=(other);
    std::memcpy(&m_stLogInfo, &other.m_stLogInfo, sizeof(m_stLogInfo));
  }
  return *this;
}

// The base destructor closes the file; the record needs nothing.
CHttpPostContentFile::~CHttpPostContentFile() = default;

int32_t CHttpPostContentFile::OpenContentFile(const char* path) {
  // The base open closes through the virtual table first, which for this
  // kind is the base close: m_stLogInfo survives a failed open.
  // The head lines are read again from the bytes the base open holds.
  contentfile_internal::OpenPrefix prefix(*this);
  if (contentfile_internal::ContentFileAccess::OpenHoldingPrefix(*this, path) !=
      kOk) {
    return kHttpOpenFailed;
  }
  // A head lacking a needed line raises from here with the file left open.
  if (AnalyseLogHead() != kOk) return kHttpHeadUnreadable;
  return kOk;
}

int32_t CHttpPostContentFile::CloseContentFile() {
  return CContentFile::CloseContentFile();
}

const ST_HTTPPOST_LOG_INFO& CHttpPostContentFile::GetLogInfo() const {
  return m_stLogInfo;
}

int32_t CHttpPostContentFile::AnalyseLogHead() {
  HeadLines lines;
  if (!ReadLogHeadLines(*this, &lines)) return kAnalyseHeadUnreadable;

  const bool filled = FillRecord(&m_stLogInfo, [&](ST_HTTPPOST_LOG_INFO& info) {
    // A malformed line 4 (-3) leaves the later common fields zero; line
    // 9 is still taken, so the result is not consulted.
    CContentFile::AnalyseLogHead(&lines, &info);
    CopyToField(HeadLine(lines, kLine9), info.szLine9);
  });
  return filled ? kOk : kAnalyseHeadUnreadable;
}
