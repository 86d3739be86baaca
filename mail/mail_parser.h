// The mail parser: one raw Internet mail message, read through a message
// source, its principal head fields (From, To, Cc, Subject, Content-Type and
// the multipart boundary) and the table of its MIME parts.
//
// The parser never holds the message whole: it reads it once, window by
// window, copies the head block, and keeps a part table of offsets; the
// parts' bytes are read back through the source when they are asked for. A
// NUL byte is an ordinary byte of the message.
//
// Life: construct, SetContent or SetSource, Parse once; after Parse returns
// 0 the parser is only read, through the const accessors, and may then be
// shared between owners and threads (readers bring their own buffers). A
// parser whose Parse failed is not read.

#ifndef CONTENTFILE_MAIL_MAIL_PARSER_H_
#define CONTENTFILE_MAIL_MAIL_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message_source.h"
#include "mail/message_window.h"
#include "mail/part_table.h"
#include "platform/memory.h"

namespace contentfile_internal {

class CMailParser {
 public:
  // Results of Parse.
  enum : int32_t {
    kParsed = 0,
    kNoContent = -1,     // no message was given
    kHeadNotFound = -2,  // the message is no mail (see ParseMailHead)
    kReadFailed = -4,    // the message could not be read
    kNoWindow = -5,      // no memory for the window it is read through
  };
  // Results of ParseMailHead. A head that no empty line ends is the whole
  // message; kNoEmptyLine is for text with no CR LF at all, or with no
  // empty line and a first line that is no header field.
  enum : int32_t {
    kHeadParsed = 0,
    kNoEmptyLine = -1,
    kHeadReadFailed = -2,
  };
  // Results of GetHeadField.
  enum : int32_t { kFieldFound = 0, kFieldNotFound = -1 };

  static constexpr int kMaxNestingLevels = PartTable::kMaxNestingLevels;

  CMailParser();
  virtual ~CMailParser();
  CMailParser(const CMailParser&) = delete;
  CMailParser& operator=(const CMailParser&) = delete;

  // Takes the message: `length` bytes at `data`. Drops any earlier message
  // and results. Always 0.
  int32_t SetContent(Buffer data, uint32_t length);
  // Takes the message as the source reads it. Drops any earlier results.
  void SetSource(std::shared_ptr<const MessageSource> source);
  // Bytes read per step by Parse (tests make it small to put every search
  // across a window's edge).
  void set_window_size(size_t size) { window_size_ = size > 0 ? size : 1; }
  // Open multipart levels up to which delimiters are compared one by one
  // rather than looked up (tests set it to check both ways alike).
  void set_compared_levels(size_t levels) { compared_levels_ = levels; }

  // Extracts the head fields and builds the classified part table: one of
  // the codes above. Only kParsed leaves the parser fit to read.
  // Throws std::bad_alloc when memory runs out.
  int32_t Parse();

  // Looks up the header field `key` (e.g. "\r\nSubject: ", letters compared
  // without regard to case) in `length` bytes of header lines. A key that
  // begins with CR LF matches on the first line too. On success `value`
  // receives the field's value verbatim, folded lines included, and the
  // result is kFieldFound; otherwise `value` is untouched.
  static int32_t GetHeadField(const char* text, size_t length,
                              std::string_view key, std::string& value);

  // The texts between "<" and ">" of an address field, joined by ","; the
  // value itself when it holds no complete "<" ... ">" pair. The brackets
  // are searched for on character boundaries of the LC_CTYPE locale.
  static std::string ExtractAddresses(const std::string& value);

  // Where the message is read from; null before SetContent or SetSource.
  const MessageSource* Source() const { return source_.get(); }
  uint32_t DataLength() const { return source_ ? source_->size() : 0; }
  // The head block: the message up to its empty line (all of it when it
  // has none).
  std::string_view Head() const { return head_; }
  const std::string& From() const { return m_strFrom; }
  const std::string& To() const { return m_strTo; }
  const std::string& Cc() const { return m_strCc; }
  const std::string& Subject() const { return m_strSubject; }
  const std::string& ContentType() const { return m_strContentType; }
  const std::string& Boundary() const { return m_strBoundary; }
  // The part table, in message order.
  const std::vector<ST_MAIL_PART>& Parts() const { return table_.entries(); }
  // The table indices of the attachments, in table order: attachment n is
  // Parts()[AttachmentEntries()[n]], found without a walk of the table.
  const std::vector<uint32_t>& AttachmentEntries() const {
    return table_.attachments();
  }
  // A part's name as written (encoded words kept); empty for none.
  std::string_view Name(const ST_MAIL_PART& part) const {
    return table_.Name(part);
  }

 private:
  friend class MailParserTestPeer;

  // Head fields from the head block, boundary, NormalizeHead.
  int32_t ParseMailHead(MessageWindow& window);
  // Address fields reduced to their addresses; Subject unfolded and its
  // encoded words decoded.
  void NormalizeHead();
  // Builds the part table; false when the message could not be read.
  bool ParseParts(MessageWindow& window);
  void ResetResults();

  std::shared_ptr<const MessageSource> source_;
  size_t window_size_ = MessageWindow::kDefaultSize;
  size_t compared_levels_ = PartTable::kComparedLevels;
  std::string head_;
  std::string m_strFrom;
  std::string m_strTo;
  std::string m_strCc;
  std::string m_strSubject;
  std::string m_strContentType;
  std::string m_strBoundary;
  PartTable table_;
  // No empty line ends the head: the whole message is head, with no part.
  bool head_only_ = false;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_MAIL_PARSER_H_
