// The mail parser: one raw Internet mail message in memory, its principal
// head fields (From, To, Cc, Subject, Content-Type and the multipart
// boundary) and the table of its MIME parts.
//
// The parser owns the message buffer. The part table locates each part by
// byte offsets into that buffer and never holds a copy of a part's content,
// so the buffer must outlive every use of the table. A NUL byte is an
// ordinary byte of the message: every search runs to the message's length.
//
// Life: construct, SetContent, Parse once; after Parse returns 0 the parser
// is only read, through the const accessors, and may then be shared between
// owners. A parser whose Parse failed is not read.

#ifndef CONTENTFILE_MAIL_MAIL_PARSER_H_
#define CONTENTFILE_MAIL_MAIL_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/empty_line_finder.h"
#include "platform/memory.h"

namespace contentfile_internal {

// Kinds of ST_MAIL_PART::nType.
enum : int32_t {
  MAIL_PART_UNCLASSIFIED = 0,  // never analysed: neither text nor attachment
  MAIL_PART_TEXT = 1,
  MAIL_PART_ATTACHMENT = 2,
};

// One entry of the part table. A part's stored content is the range
// [nDataStart, nEnd) of the message, still in its transfer encoding.
struct ST_MAIL_PART {
  int32_t nType = MAIL_PART_UNCLASSIFIED;
  uint32_t nStart = 0;      // the byte after the delimiter that opens it
  uint32_t nEnd = 0;        // the CR of the delimiter that closes it
  uint32_t nDataStart = 0;  // after its header block's empty line; 0 until
                            // analysed; nEnd when it has no content
  std::string strName;      // file name as written (encoded words kept)
  std::string strEncoding;  // Content-Transfer-Encoding value, verbatim
  uint32_t nDepth = 0;      // multiparts around it below the message's own
};

class CMailParser {
 public:
  // Results of Parse.
  enum : int32_t {
    kParsed = 0,
    kNoContent = -1,     // SetContent was not called with a buffer
    kHeadNotFound = -2,  // the message is no mail (see ParseMailHead)
    kNoPartTable = -3,   // ParseParts failed; no longer happens
  };
  // Results of ParseMailHead. A head that no empty line ends is the whole
  // message; kNoEmptyLine is for text with no CR LF at all, or with no
  // empty line and a first line that is no header field.
  enum : int32_t { kHeadParsed = 0, kNoEmptyLine = -1 };
  // Results of ParseParts. Every message now gives a table (a message the
  // walk cannot split is one part, an empty part gets no entry), so only
  // kPartsFound is returned; the other codes are kept for their callers.
  enum : int32_t {
    kPartsFound = 0,
    kNoContentType = -1,
    kEmptyPart = -2,
    kNoDelimiter = -3,
  };
  // Results of ParsePartHead.
  enum : int32_t {
    kPartAnalysed = 0,
    kNoHeaderEnd = -1,  // no empty line from the part's start onwards
    kNoMemory = -2,     // the header block could not be copied
  };
  // Results of GetHeadField.
  enum : int32_t { kFieldFound = 0, kFieldNotFound = -1 };

  // Multipart nesting followed below the message's own multipart; a
  // multipart nested deeper stays one entry, whole.
  static constexpr int kMaxNestingLevels = 32;

  CMailParser();
  virtual ~CMailParser();
  CMailParser(const CMailParser&) = delete;
  CMailParser& operator=(const CMailParser&) = delete;

  // Takes the message: `length` bytes at `data`, which should be followed by
  // a NUL (the parser never reads at or beyond `length` in any case). Drops
  // any earlier message and results. Always 0.
  int32_t SetContent(Buffer data, uint32_t length);

  // Extracts the head fields and builds the classified part table: one of
  // the codes above. Only kParsed leaves the parser fit to read.
  // Throws std::bad_alloc when a string or the table cannot grow.
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

  // The message and its head fields after normalisation.
  const char* Data() const { return m_pData.get(); }
  uint32_t DataLength() const { return m_nDataLen; }
  const std::string& From() const { return m_strFrom; }
  const std::string& To() const { return m_strTo; }
  const std::string& Cc() const { return m_strCc; }
  const std::string& Subject() const { return m_strSubject; }
  const std::string& ContentType() const { return m_strContentType; }
  const std::string& Boundary() const { return m_strBoundary; }
  // The part table, in message order.
  const std::vector<ST_MAIL_PART>& Parts() const { return m_arrParts; }
  // The table indices of the attachments, in table order: attachment n is
  // Parts()[AttachmentEntries()[n]], found without a walk of the table.
  const std::vector<uint32_t>& AttachmentEntries() const {
    return attachment_entries_;
  }

 private:
  friend class MailParserTestPeer;

  // Head fields from the head block, boundary, NormalizeHead.
  int32_t ParseMailHead();
  // Address fields reduced to their addresses; Subject unfolded and its
  // encoded words decoded.
  void NormalizeHead();
  // Appends the entries of the part table; while Parse runs, each is
  // classified as it comes.
  int32_t ParseParts();
  // Finds the part's content, after the first empty line from its start
  // (searched for up to the end of the message), and takes the encoding and
  // the name from its header block when that block ends within the part.
  // `nameless_attachment`, when given, is set when the header block makes
  // the part an attachment without a name: a disposition "attachment", or
  // a media type other than text/* and multipart/*.
  int32_t ParsePartHead(ST_MAIL_PART& part,
                        bool* nameless_attachment = nullptr);

  int32_t ParseSinglePart();
  int32_t ParseMultipart();
  // Appends the entries of one of the message's own parts, [start, end):
  // the part itself, or the parts of the multipart it holds, level after
  // level. `boundary_key` is the offset of the first "boundary=" key in the
  // part, or kNotFound.
  void AppendPart(size_t start, size_t end, size_t boundary_key);
  // Appends the entry [start, end) at nesting depth `depth`.
  void AppendEntry(size_t start, size_t end, uint32_t depth);
  // Analyses entry `index` and sets its kind, unless the classification
  // has stopped.
  void ClassifyEntry(size_t index);
  void ResetResults();

  Buffer m_pData;
  uint32_t m_nDataLen = 0;
  std::string m_strFrom;
  std::string m_strTo;
  std::string m_strCc;
  std::string m_strSubject;
  std::string m_strContentType;
  std::string m_strBoundary;
  std::vector<ST_MAIL_PART> m_arrParts;

  // Bytes of the message that the searches cover: all of them.
  size_t text_length_ = 0;
  // No empty line ends the head: the whole message is head, with no part.
  bool head_only_ = false;
  EmptyLineFinder empty_lines_;
  // Set while Parse builds the table: appended entries are classified.
  bool classifying_ = false;
  bool classification_stopped_ = false;
  std::vector<uint32_t> attachment_entries_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_MAIL_PARSER_H_
