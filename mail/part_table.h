// The part table of a mail message: where each leaf MIME part lies in the
// message, how its content is encoded, whether it is text or an attachment
// and under which name, and the index of the attachments.
//
// A multipart message is taken apart in one forward pass over the message,
// window by window: the delimiters of every open nesting level are kept on a
// stack and checked at each line start, so each byte is read once however
// deep the nesting. Entries keep offsets into the message, never its
// bytes; only attachment names, which are decoded out of their header
// blocks, are kept as text.
//
// The rules, as mail readers apply them:
//  - a delimiter counts only as a whole line: CR LF "--" boundary (letters
//    without regard to case), then "--" (the close delimiter) or optional
//    spaces or tabs and CR LF or the end of the message; a delimiter of an
//    outer level closes every inner part still open;
//  - a part begins right after its delimiter's boundary and ends at the CR
//    of the next delimiter; one that holds only blanks is empty and gets no
//    entry, and so does a part that no delimiter closes;
//  - a part holding "boundary=" (the first one in it, level 32 and above
//    it) whose delimiter follows inside it is a multipart: its parts are
//    entered in its place; otherwise it is one leaf;
//  - a leaf's header block runs to its first empty line; a leaf that has
//    none has no content, and when no empty line follows its start at all
//    it is neither text nor attachment;
//  - a leaf with a name, or a nameless one that its header block makes an
//    attachment (see IsNamelessAttachment), is an attachment; any other
//    leaf is text.

#ifndef CONTENTFILE_MAIL_PART_TABLE_H_
#define CONTENTFILE_MAIL_PART_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message_window.h"

namespace contentfile_internal {

// Kinds of ST_MAIL_PART::nType.
enum : uint8_t {
  MAIL_PART_UNCLASSIFIED = 0,  // no header block end: neither kind
  MAIL_PART_TEXT = 1,
  MAIL_PART_ATTACHMENT = 2,
};

// A Content-Transfer-Encoding value that selects a decoding: the whole
// value, letters compared without regard to case.
enum class TransferEncoding : uint8_t { kNone, kBase64, kQuotedPrintable };

TransferEncoding ParseTransferEncoding(std::string_view value);

// One leaf part. Its stored content is [nDataStart, nEnd) of the message,
// still in its transfer encoding.
struct ST_MAIL_PART {
  static constexpr uint32_t kNoName = UINT32_MAX;
  uint32_t nStart = 0;       // the byte after the delimiter that opens it
  uint32_t nEnd = 0;         // the CR of the delimiter that closes it
  uint32_t nDataStart = 0;   // after its header block; nEnd when it has no
                             // content; 0 when unclassified
  uint32_t nName = kNoName;  // where its name begins in the table's names
  uint8_t nType = MAIL_PART_UNCLASSIFIED;
  TransferEncoding encoding = TransferEncoding::kNone;
  uint8_t nDepth = 0;  // multiparts around it below the message's own
};
static_assert(sizeof(ST_MAIL_PART) <= 20, "an entry stays compact");

// What a part's header block says of it.
struct PartHeader {
  std::string_view encoding;  // the Content-Transfer-Encoding value
  std::string name;           // as written, encoded words kept
  bool nameless_attachment = false;
};
PartHeader AnalysePartHeader(const char* block, size_t length);

class PartTable {
 public:
  // Results of Scan.
  enum : int32_t { kScanned = 0, kNoDelimiter = -1, kReadFailed = -2 };

  // Multipart nesting followed below the message's own multipart; a
  // multipart nested deeper stays one leaf, whole.
  static constexpr int kMaxNestingLevels = 32;

  // Open levels up to which a line that may be a delimiter is compared
  // with each level's delimiter in turn; with more, it is looked up by the
  // hashes of its beginnings, whatever the number of levels.
  static constexpr size_t kComparedLevels = 4;

  // Drops every entry.
  void Clear();

  // The message as one leaf: [0, length), its header block the message's
  // head (`head_length` bytes at `head`), its content after the head's
  // empty line. Throws std::bad_alloc.
  void AddWholeMessage(uint32_t length, const char* head, size_t head_length);

  // Appends the leaves of a multipart message whose delimiter is CR LF "--"
  // `boundary`, reading it through `window` (reserved). kNoDelimiter, with
  // nothing appended, when the delimiter never occurs; kReadFailed when the
  // message could not be read. `compared_levels` is kComparedLevels but in
  // tests, which compare both ways of matching. Throws std::bad_alloc.
  int32_t Scan(MessageWindow& window, std::string_view boundary,
               size_t compared_levels = kComparedLevels);

  const std::vector<ST_MAIL_PART>& entries() const { return entries_; }
  // The table indices of the attachments, in table order.
  const std::vector<uint32_t>& attachments() const { return attachments_; }
  // The entry's name as written (encoded words kept); empty for none.
  std::string_view Name(const ST_MAIL_PART& entry) const;

 private:
  friend class MultipartScanner;

  // Appends the leaf [start, end) with content from `data_start` on,
  // classified by its header block (`block_length` bytes at `block`).
  void AppendLeaf(uint32_t start, uint32_t end, uint32_t data_start,
                  uint8_t depth, const char* block, size_t block_length);
  void SetName(ST_MAIL_PART& entry, const std::string& name);
  void IndexAttachments();

  std::vector<ST_MAIL_PART> entries_;
  std::vector<uint32_t> attachments_;
  // Names one after another, each after its length (4 bytes).
  std::string names_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_PART_TABLE_H_
