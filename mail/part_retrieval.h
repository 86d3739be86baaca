// Reading a parsed message's parts: the attachment table, the mail text and
// attachments saved to files. Attachments are found through the parser's
// attachment index, the mail text by a walk of the part table; contents are
// taken straight out of the parser's message.

#ifndef CONTENTFILE_MAIL_PART_RETRIEVAL_H_
#define CONTENTFILE_MAIL_PART_RETRIEVAL_H_

#include <cstddef>
#include <cstdint>

#include "mail/attachment_name.h"
#include "mail/mail_parser.h"
#include "mail/result_codes.h"

namespace contentfile_internal {

// Longest attachment name handed out, in bytes; the name buffer holds one
// more byte for its NUL.
constexpr size_t kMaxNameLength = kMaxAttachmentNameLength;

// Stored bytes SaveAttachment decodes per step: its decoding buffer holds
// this much (or the stored size when that is smaller), whatever the size of
// the attachment. A step this small keeps the decoded bytes in the cache
// until the write copies them out, and costs few fresh pages; larger steps
// were measured slower on a 64 MB message.
constexpr uint32_t kSaveStep = uint32_t{256} << 10;

int32_t CountAttachments(const CMailParser& parser);

// The attachment with the given index (counted from 0 among attachments),
// or null when the index names none.
const ST_MAIL_PART* FindAttachment(const CMailParser& parser, int32_t index);

// Writes the attachment's name, encoded words decoded, into `name` (at least
// kMaxNameLength + 1 bytes, NUL-terminated) and sets `size` to its stored
// size. Returns false, writing nothing, when the index names no attachment.
bool DescribeAttachment(const CMailParser& parser, int32_t index, char* name,
                        uint32_t& size);

// The stored size of the first text part, the one ReadMailText reads; 0
// when there is none.
uint32_t MeasureMailText(const CMailParser& parser);

// Decodes at most `length` stored bytes of the first text part into
// `buffer` and returns the number of bytes written (no NUL).
uint32_t ReadMailText(const CMailParser& parser, char* buffer, uint32_t length);

// Decodes the attachment into the file at `path`, kSaveStep stored bytes at
// a time. An index that names no attachment leaves the path untouched; so
// does a target that cannot be created or is a content file held open, and
// so does a lack of memory for the decoding buffer. What a failing write
// wrote stays.
int32_t SaveAttachment(const CMailParser& parser, int32_t index,
                       const char* path);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_PART_RETRIEVAL_H_
