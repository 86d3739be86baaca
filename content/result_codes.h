// Result codes of the content file operations, named at their return sites.

#ifndef CONTENTFILE_CONTENT_RESULT_CODES_H_
#define CONTENTFILE_CONTENT_RESULT_CODES_H_

#include <cstdint>

namespace contentfile_internal {

constexpr int32_t kOk = 0;

// OpenContentFile of any content file.
constexpr int32_t kOpenNullPath = -1;
constexpr int32_t kOpenCannotOpen = -2;
constexpr int32_t kOpenEmptyFile = -3;
constexpr int32_t kOpenHeadCut = -4;

// GetContentHead and GetContentBody.
constexpr int32_t kReadNoFile = -1;
constexpr int32_t kReadBadArgument = -2;
constexpr int32_t kReadShort = -3;
constexpr int32_t kReadFileError = -4;

// SaveBody2File.
constexpr int32_t kSaveNoFile = -1;
constexpr int32_t kSaveCannotCreate = -2;
constexpr int32_t kSaveEmptyBody = -3;
constexpr int32_t kSaveNoMemory = -4;
constexpr int32_t kSaveReadFailed = -5;
constexpr int32_t kSaveWriteFailed = -6;

// The common log head analysis: line 4 has no ";".
constexpr int32_t kAnalyseBadLine4 = -3;
// A kind's own analysis when ReadLogHeadLines fails; each kind's open turns
// it into an open code of its own.
constexpr int32_t kAnalyseHeadUnreadable = -2;

// CHttpPostContentFile::OpenContentFile.
constexpr int32_t kHttpOpenFailed = -10;
constexpr int32_t kHttpHeadUnreadable = -11;

// CMailContentFile::OpenContentFile (after the base open's -1 to -4).
constexpr int32_t kMailEmptyBody = -11;
constexpr int32_t kMailNoMemoryForBody = -12;
constexpr int32_t kMailBodyReadFailed = -13;
constexpr int32_t kMailNoMemoryForParser = -14;
constexpr int32_t kMailParseFailed = -15;
constexpr int32_t kMailHeadUnreadable = -16;

// The mail retrieval operations.
constexpr int32_t kMailNotParsed = -1;
constexpr int32_t kInfoBadArgument = -2;
// GetAttachment2File gives SaveAttachment's codes (mail/part_retrieval.h)
// minus 10: -11 to -15.

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CONTENT_RESULT_CODES_H_
