// Result codes of the content room's operations, named at their return
// sites; the mail room's are in mail/result_codes.h.

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

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CONTENT_RESULT_CODES_H_
