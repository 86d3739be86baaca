// contentfile: read access to the content files of a network content capture.
//
// A content file is a short text log head (a line count, the protocol, two
// IPv4 endpoints and further text lines) followed by the raw captured body.
// CContentFile opens any content file and hands out its head and body;
// CHttpPostContentFile adds the analysed log head of an HTTP POST capture;
// CMailContentFile parses the mail message of an SMTP or POP3 capture and
// hands out its header fields, its mail text and its attachments.
//
// Every operation is synchronous; an object serves one thread at a time.
// Separate objects, also on the same file, are independent.
//
// This header is self-contained and needs C++17.

#ifndef CONTENTFILE_H_
#define CONTENTFILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__GNUC__)
#define CONTENTFILE_API __attribute__((visibility("default")))
#else
#define CONTENTFILE_API
#endif

#define CONTENTFILE_VERSION_MAJOR 1
#define CONTENTFILE_VERSION_MINOR 0
#define CONTENTFILE_VERSION_PATCH 0
#define CONTENTFILE_VERSION_STRING "1.0.0"

// Internal types; their definitions are not part of the interface.
namespace contentfile_internal {
class FileHandle;
class CMailParser;
class ContentFileAccess;
}  // namespace contentfile_internal

// The extension of the interface: the types its calls hand out. They sit
// beside the records above and change none of them.
namespace contentfile {

// What a leaf part of a message is to the library.
enum class PartKind : int32_t {
  kUnclassified = 0,  // its header block has no end: neither text nor
                      // attachment, and its content is empty
  kText = 1,          // not an attachment: a text of the message
  kAttachment = 2,    // counted by GetAttachmentCount
};

// One leaf part of a message, as CMailContentFile::GetParts lists it: the
// parts of the part table that the attachment calls and GetMailText use,
// in message order (a multipart is replaced by its parts). Texts are bytes
// as the message holds them; no charset is converted. Offsets count from
// the first byte of the body.
struct PartInfo {
  PartKind kind = PartKind::kUnclassified;
  int32_t attachment_index = -1;  // its index among attachments, or -1
  std::string media_type;    // "type/subtype" in lower case; "" when absent
  std::string charset;       // the charset parameter as written; "" if none
  std::string format;        // the format parameter as written; "" if none
  std::string delsp;         // the delsp parameter as written; "" if none
  std::string disposition;   // Content-Disposition type, lower case
  std::string name;          // decoded, as GetAttachmentInfo gives it
  std::string name_charset;  // declared by its encoded words or RFC 2231
  std::string content_id;    // without its angle brackets
  // The Content-Transfer-Encoding value in lower case, not trimmed: the
  // content is decoded when it is exactly "base64" or "quoted-printable".
  std::string transfer_encoding;
  uint64_t stored_size = 0;     // content bytes, still encoded
  uint32_t depth = 0;           // 0 for a part of the message's own level
  uint64_t header_offset = 0;   // its first header line in the body
  uint64_t content_offset = 0;  // its content in the body
};

// A run of a header value: text as written, or the decoded bytes of
// adjacent encoded words that declared one charset.
struct HeaderSegment {
  std::string text;
  std::string charset;  // "" for text that was not an encoded word
};

// One occurrence of a field of the message head.
struct HeaderField {
  std::string name;     // as written in the message
  std::string raw;      // the value unfolded and trimmed, encoded words kept
  std::string decoded;  // the value with its encoded words decoded
  std::vector<HeaderSegment> segments;  // `decoded`, run by run
};

// The four fields of the mail record, normalised as the record normalises
// them but at full length.
enum class RecordField : int32_t { kFrom = 0, kTo = 1, kCc = 2, kSubject = 3 };

// Receives the decoded bytes of a part in order, in steps of at most
// 256 KiB; returning false stops the retrieval, which then reports a write
// failure. An exception it raises leaves the retrieval and reaches the
// caller (std::bad_alloc is reported as -12 instead).
using PartSink = std::function<bool(const char* data, size_t size)>;

}  // namespace contentfile

// Protocol kinds of ST_LOG_INFO::nLogType (the value 2 is not assigned).
enum : int32_t {
  LOG_TYPE_OTHER = 0,
  LOG_TYPE_HTTP_POST = 1,
  LOG_TYPE_SMTP = 3,
  LOG_TYPE_POP3 = 4
};

// The common log head record, 600 bytes, exchanged in exactly this layout.
// Text fields hold at most their width minus one byte and end in a NUL.
struct ST_LOG_INFO {
  int32_t nLogType;       // protocol kind, from head line 2
  char szLine3[30];       // head line 3
  char szLine4Left[20];   // head line 4 before its first ";"
  char szLine4Right[20];  // head line 4 after its first ";"
  uint32_t dwAddr1;       // head line 5, IPv4 address in host byte order
  uint32_t dwAddr2;       // head line 7, IPv4 address in host byte order
  uint16_t wPort1;        // head line 6
  uint16_t wPort2;        // head line 8
  char szLine11[64];      // head lines 11 to 14
  char szLine12[64];
  char szLine13[64];
  uint8_t byReserved1[64];  // never written, zero
  char szLine14[64];
  uint8_t byReserved2[192];  // never written, zero
};

// The HTTP POST log head record, 856 bytes: the common record and line 9.
struct ST_HTTPPOST_LOG_INFO : ST_LOG_INFO {
  char szLine9[256];
};

// The file error of the file layer: code() carries the errno value and
// path() the file it concerns.
class CONTENTFILE_API CFileError : public std::system_error {
 public:
  CFileError(int error_number, const std::string& path,
             const std::string& what);
  CFileError(const CFileError&);
  CFileError& operator=(const CFileError&);
  ~CFileError() override;
  const std::string& path() const noexcept;

 private:
  std::string path_;
};

// Any content file: the head and body ranges, reading and saving them.
//
// Copies of an open object share the open file: each copy reads the same
// file with the same ranges, and the file is closed once, by the last copy
// that still holds it.
class CONTENTFILE_API CContentFile {
 public:
  CContentFile();
  CContentFile(const CContentFile&);
  CContentFile& operator=(const CContentFile&);
  virtual ~CContentFile();

  // 0 open; -1 null path; -2 cannot be opened (missing, not a regular file,
  // 4 GiB or more, held by a writer, path of 260 characters or more, out
  // of memory; the object is closed); -3 empty file; -4 the file ends
  // before the last head line.
  // Raises CFileError when reading the head lines fails; never raises
  // std::bad_alloc (nor does the open of either derived class).
  virtual int32_t OpenContentFile(const char* path);
  virtual int32_t CloseContentFile();  // always 0
  uint32_t GetHeadSize() const;        // 0 when no file is open
  uint32_t GetBodySize() const;        // 0 when no file is open

  // length: in, the buffer's capacity; out, the bytes read. 0 read; -1 no
  // file open; -2 null buffer or zero length; -3 short read; -4 file error.
  virtual int32_t GetContentHead(char* buffer, uint32_t& length);
  virtual int32_t GetContentBody(char* buffer, uint32_t& length);

  // 0 saved; -1 no file open; -2 target cannot be created or is a content
  // file held open; -3 empty body; -4 out of memory; -5 body read failed;
  // -6 write or close failed: the target holds the bytes written before
  // the failure. A save that fails before it writes (-2 to -5) leaves an
  // existing target as it was (a target that did not exist stays behind
  // empty).
  int32_t SaveBody2File(const char* path);
  // SaveBody2File into a descriptor the caller opened, written as
  // CMailContentFile::SavePart2Fd writes (below); the body is read and
  // written 256 KiB at a time. 0 saved; -1 no file open; -2 a descriptor
  // not open for writing, the capture itself or a content file held open;
  // -3 empty body; -4 out of memory; -5 body read failed (the file shrank
  // or a read failed); -6 write failed. What was written before a failure
  // stays.
  int32_t SaveBody2Fd(int fd);

 protected:
  // Fills the common record from the head lines that `lines` points to (a
  // list built by the library's own head line reader). 0, or -3 when line 4
  // is malformed; raises std::invalid_argument at the first missing line.
  int32_t AnalyseLogHead(void* lines, ST_LOG_INFO* info);

 private:
  friend class contentfile_internal::ContentFileAccess;

  void ClearState();
  int32_t ReadRange(uint32_t offset, uint32_t size, char* buffer,
                    uint32_t& length);

  char m_szFileName[260];
  std::shared_ptr<contentfile_internal::FileHandle> m_hFile;
  uint32_t m_dwFileSize;
  uint32_t m_dwHeadOffset;
  uint32_t m_dwHeadSize;
  uint32_t m_dwBodyOffset;
  uint32_t m_dwBodySize;
};

// The content file of a captured HTTP POST transfer.
class CONTENTFILE_API CHttpPostContentFile : public CContentFile {
 public:
  CHttpPostContentFile();
  CHttpPostContentFile(const CHttpPostContentFile&);
  CHttpPostContentFile& operator=(const CHttpPostContentFile&);
  ~CHttpPostContentFile() override;

  // 0 open and analysed; -10 the base open failed (out of memory
  // included); -11 the head cannot be read (out of memory for it included;
  // the record keeps the last head analysed). Raises std::invalid_argument
  // for a head that lacks a needed line.
  int32_t OpenContentFile(const char* path) override;
  int32_t CloseContentFile() override;
  // The record of the last head analysed; valid for the object's life.
  const ST_HTTPPOST_LOG_INFO& GetLogInfo() const;

 private:
  int32_t AnalyseLogHead();

  ST_HTTPPOST_LOG_INFO m_stLogInfo;
};

// The content file of a captured mail transfer (SMTP or POP3).
class CONTENTFILE_API CMailContentFile : public CContentFile {
 public:
  // The mail log head record, 1432 bytes.
  struct ST_MAIL_LOG_INFO : ST_LOG_INFO {
    char szFrom[64];      // addresses of From, normalised
    char szTo[256];       // addresses of To, normalised
    char szCc[256];       // addresses of Cc, normalised
    char szSubject[256];  // Subject, encoded words decoded
  };

  CMailContentFile();
  CMailContentFile(const CMailContentFile&);
  CMailContentFile& operator=(const CMailContentFile&);
  ~CMailContentFile() override;

  // 0 open; -1 to -4 as the base open; -11 empty body; -12 out of memory
  // for the open's own body buffer; -13 body read failed; -14 out of memory
  // for the parser or while the message is parsed; -15 the message cannot
  // be parsed; -16 the head cannot be read (out of memory for it
  // included). After -11 to -16 the file stays open without a parser and
  // the record keeps the last head analysed.
  int32_t OpenContentFile(const char* path) override;
  int32_t CloseContentFile() override;
  const ST_MAIL_LOG_INFO& GetLogInfo() const;

  int32_t GetAttachmentCount() const;
  // Copies the decoded name (at most `length` bytes, NUL-padded, no NUL when
  // it fills the buffer) and sets `size` to the stored size. 0; -1 no mail
  // parsed; -2 negative length, or null buffer with a positive length.
  int32_t GetAttachmentInfo(int32_t index, char* name, int32_t length,
                            uint32_t& size) const;
  // The stored size of the mail text that GetMailText reads.
  uint32_t GetMailTextSize() const;
  // Decodes at most `length` stored bytes of the mail text into `buffer`;
  // returns the bytes written. No NUL is appended.
  uint32_t GetMailText(char* buffer, uint32_t length) const;
  // 0 saved; -1 no mail parsed; -11 target cannot be created or is a
  // content file held open; -12, -13 out of memory; -14 no such
  // attachment; -15 write failed.
  int32_t GetAttachment2File(int32_t index, const char* path) const;

  // The extension: every part, header fields by name, descriptors. No call
  // raises std::bad_alloc; all read the message taken at open. Result codes
  // as GetAttachment2File's: 0 done; -1 no mail parsed; -2 a null buffer
  // with a capacity, an empty sink, or no such record field; -11 a
  // descriptor that is not open for writing, or one or a path that is the
  // capture itself or a content file held open (a path that cannot be
  // created too); -12 out of memory (-13 when it is the decoding buffer of
  // a quoted-printable part, as GetAttachment2File reports it); -14 no such
  // part or attachment; -15 write failed, or a sink returned false (what
  // was written stays); -16 is kept for the capture not being readable.
  //
  // Descriptors: written from their current position on (a pipe, socket or
  // device too), never truncated, locked, repositioned or closed here. A
  // full pipe of a non-blocking descriptor is waited on; a broken pipe is
  // -15, and the SIGPIPE it raises is taken back. A regular file on which
  // another open file holds a shared lock and none an exclusive one is
  // taken for a content file held open.

  // Replaces `parts` by every leaf part of the message, in message order
  // (empty when the call fails). Reads the header blocks again; costs no
  // decoding.
  int32_t GetParts(std::vector<contentfile::PartInfo>& parts) const;
  // The decoded size of part `index` of GetParts, by one decoding pass that
  // writes nothing; `size` is set only on success.
  int32_t GetPartDecodedSize(size_t index, uint64_t& size) const;
  // Decodes part `index` into `buffer`: the first decoded bytes, as many as
  // `capacity` holds (no NUL is appended); `written` receives their count,
  // 0 on failure. A capacity of the decoded size takes the whole part.
  int32_t ReadPart(size_t index, char* buffer, size_t capacity,
                   size_t& written) const;
  // Decodes part `index` into `sink`, in steps of at most 256 KiB.
  int32_t StreamPart(size_t index, const contentfile::PartSink& sink) const;
  // Decodes part `index` into a descriptor the caller opened.
  int32_t SavePart2Fd(size_t index, int fd) const;
  // Decodes part `index` into the file at `path`, by GetAttachment2File's
  // rules: created or emptied, locked while written; left as it was when
  // the target is refused or memory is short.
  int32_t SavePart2File(size_t index, const char* path) const;
  // GetAttachment2File into a descriptor, as SavePart2Fd writes.
  int32_t GetAttachment2Fd(int32_t index, int fd) const;
  // Replaces `fields` by every occurrence of the head field `name` (letters
  // compared without regard to case), in order; none is not an error. The
  // head is the message up to its first empty line; a field is a line that
  // begins with its name and ":" (blanks before the ":" allowed), continued
  // by the lines that begin with a space or tab.
  int32_t GetHeaderFields(std::string_view name,
                          std::vector<contentfile::HeaderField>& fields) const;
  // A record field at full length, normalised as the record normalises it
  // (NUL bytes of the value kept); `value` is set only on success.
  int32_t GetRecordField(contentfile::RecordField field,
                         std::string& value) const;

 private:
  int32_t AnalyseLogHead();

  ST_MAIL_LOG_INFO m_stLogInfo;
  std::shared_ptr<const contentfile_internal::CMailParser> m_pMailParser;
};
using ST_MAIL_LOG_INFO = CMailContentFile::ST_MAIL_LOG_INFO;

// Layout checks: these records are exchanged in exactly this layout.
// offsetof on the derived records is well defined for this single,
// non-virtual inheritance on every compiler the library supports.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(sizeof(ST_LOG_INFO) == 600, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, nLogType) == 0, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine3) == 4, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine4Left) == 34, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine4Right) == 54, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, dwAddr1) == 76, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, dwAddr2) == 80, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, wPort1) == 84, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, wPort2) == 86, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine11) == 88, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine12) == 152, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine13) == 216, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, byReserved1) == 280, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, szLine14) == 344, "ST_LOG_INFO layout");
static_assert(offsetof(ST_LOG_INFO, byReserved2) == 408, "ST_LOG_INFO layout");
static_assert(sizeof(ST_HTTPPOST_LOG_INFO) == 856, "ST_HTTPPOST_LOG_INFO");
static_assert(offsetof(ST_HTTPPOST_LOG_INFO, szLine9) == 600,
              "ST_HTTPPOST_LOG_INFO layout");
static_assert(sizeof(ST_MAIL_LOG_INFO) == 1432, "ST_MAIL_LOG_INFO layout");
static_assert(offsetof(ST_MAIL_LOG_INFO, szFrom) == 600, "ST_MAIL_LOG_INFO");
static_assert(offsetof(ST_MAIL_LOG_INFO, szTo) == 664, "ST_MAIL_LOG_INFO");
static_assert(offsetof(ST_MAIL_LOG_INFO, szCc) == 920, "ST_MAIL_LOG_INFO");
static_assert(offsetof(ST_MAIL_LOG_INFO, szSubject) == 1176,
              "ST_MAIL_LOG_INFO layout");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif  // CONTENTFILE_H_
