// The file name of a message part, which makes the part an attachment.

#ifndef CONTENTFILE_MAIL_ATTACHMENT_NAME_H_
#define CONTENTFILE_MAIL_ATTACHMENT_NAME_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace contentfile_internal {

// Names are handed out through a buffer of this many bytes and a NUL.
constexpr size_t kMaxAttachmentNameLength = 260;

// The name given by the part's header block (`length` bytes, no NUL needed),
// tried in this order until one gives a name:
//  1. the Content-Disposition value's "filename=", or its "name=" when it
//     has no "filename=" (case-sensitive, as written);
//  2. its RFC 2231 "filename*" parameter;
//  3. the Content-Type value's "name=", then its RFC 2231 "name*".
// Quoted values keep their spaces; the name keeps its encoded words and its
// charset, and its whole length: it is cut to kMaxAttachmentNameLength bytes
// only once decoded, when it is handed out. Empty when the part is not
// named. `charset`, when not null, receives the charset that an RFC 2231
// form declared ("" for the other forms).
std::string AttachmentName(const char* block, size_t length,
                           std::string* charset = nullptr);
// The same from the block's Content-Disposition and Content-Type values
// (empty when the field is absent).
std::string AttachmentName(std::string_view disposition,
                           std::string_view content_type,
                           std::string* charset = nullptr);

// True when the header block makes a part without a name an attachment all
// the same: its Content-Disposition value (after leading white space) begins
// with "attachment", or its media type is present and neither text/* nor
// multipart/* (letters compared without regard to case): a nameless PDF, an
// image that has only a Content-ID, an unsplit message/rfc822.
bool IsNamelessAttachment(const char* block, size_t length);
bool IsNamelessAttachment(std::string_view disposition,
                          std::string_view content_type);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_ATTACHMENT_NAME_H_
