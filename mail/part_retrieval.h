// Reading a parsed message's parts: the attachment table, the mail text,
// and the decoded content of any part handed to a sink or saved to a file.
// Attachments are found through the parser's attachment index, the mail
// text by a walk of the part table; contents are taken straight out of the
// parser's message.

#ifndef CONTENTFILE_MAIL_PART_RETRIEVAL_H_
#define CONTENTFILE_MAIL_PART_RETRIEVAL_H_

#include <cstddef>
#include <cstdint>

#include "codec/encoded_word.h"
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

// Receives the decoded content of a part from DecodePart.
class DecodedSink {
 public:
  // Called once, before any bytes, when decoding is sure to start (its
  // buffer is had).
  virtual void Begin() {}
  // The next decoded bytes, at most kSaveStep of them; false stops the
  // decoding. May raise CFileError, which DecodePart lets through.
  virtual bool Take(const char* data, size_t size) = 0;

 protected:
  ~DecodedSink() = default;
};

// How DecodePart ended.
enum class DecodeEnd { kDone, kStopped, kNoMemory };

// Decodes the stored content of `part` by its transfer encoding, kSaveStep
// stored bytes at a time through one buffer, into `sink`. kNoMemory, before
// Begin, when that buffer cannot be had; kStopped when the sink said so.
DecodeEnd DecodePart(const CMailParser& parser, const ST_MAIL_PART& part,
                     DecodedSink& sink);

// The code SaveAttachment gives for a lack of memory while decoding `part`:
// kAttachmentNoMemoryQP for quoted-printable, else
// kAttachmentNoMemoryBase64.
int32_t NoMemoryCode(const ST_MAIL_PART& part);

// The size of the content of `part`, still in its transfer encoding; 0 for
// an unclassified entry.
uint32_t StoredSize(const ST_MAIL_PART& part);

// The part's name as GetAttachmentInfo hands it out (encoded words decoded,
// at most kMaxNameLength bytes) into `name`, which holds kMaxNameLength + 1
// bytes; returns its length (a NUL follows). `observer`, when not null, is
// told the runs of the decoding.
size_t DecodedPartName(const ST_MAIL_PART& part, char* name,
                       EncodedWordObserver* observer);

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

// SaveAttachment for any entry of the part table.
int32_t SavePart(const CMailParser& parser, const ST_MAIL_PART& part,
                 const char* path);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_PART_RETRIEVAL_H_
