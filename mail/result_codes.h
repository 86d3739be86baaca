// Result codes of the mail room's operations, named at their return sites:
// the mail open's own (after the base open's -1 to -4, content/
// result_codes.h), the retrieval operations', and SaveAttachment's, which
// GetAttachment2File hands out minus kAttachmentCodeOffset. The parser's
// steps report to the open through CMailParser's own codes.

#ifndef CONTENTFILE_MAIL_RESULT_CODES_H_
#define CONTENTFILE_MAIL_RESULT_CODES_H_

#include <cstdint>

namespace contentfile_internal {

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

// Results of SaveAttachment.
enum : int32_t {
  kAttachmentSaved = 0,
  kAttachmentCannotCreate = -1,
  kAttachmentNoMemoryBase64 = -2,
  kAttachmentNoMemoryQP = -3,
  kAttachmentNoSuchIndex = -4,
  kAttachmentWriteFailed = -5,
};

// GetAttachment2File and the extension's calls give SaveAttachment's
// failures minus this: -11 to -15.
constexpr int32_t kAttachmentCodeOffset = 10;

// SaveAttachment's codes as the public calls give them.
constexpr int32_t PublicAttachmentCode(int32_t rc) {
  return rc == kAttachmentSaved ? 0 : rc - kAttachmentCodeOffset;
}

// The extension's codes.
constexpr int32_t kExtensionBadArgument = -2;
constexpr int32_t kNoSuchPart = PublicAttachmentCode(kAttachmentNoSuchIndex);
constexpr int32_t kPartBadTarget =
    PublicAttachmentCode(kAttachmentCannotCreate);
constexpr int32_t kPartWriteFailed =
    PublicAttachmentCode(kAttachmentWriteFailed);
constexpr int32_t kPartNoMemory =
    PublicAttachmentCode(kAttachmentNoMemoryBase64);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_RESULT_CODES_H_
