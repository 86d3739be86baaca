// Every part of a message and every head field through the public header:
// the part list, decoded sizes, the decoded bytes into buffers, sinks,
// descriptors and paths, header fields by name and the record fields at
// full length.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "platform/fault_injection.h"
#include "tests/hardening/failing_new.h"
#include "tests/support/test_files.h"

namespace {

using contentfile::HeaderField;
using contentfile::PartInfo;
using contentfile::PartKind;
using contentfile::RecordField;
using contentfile_internal::ClearFaults;
using contentfile_internal::Fault;
using contentfile_internal::InjectFault;
using contentfile_test::EncodeBase64;
using contentfile_test::MakeHead;
using contentfile_test::ReadFile;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

constexpr size_t kStepLimit = size_t{256} << 10;

// A binary blob larger than one decoding step, NUL bytes included.
std::string Blob() {
  std::string blob(400000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) {
    blob[i] = static_cast<char>((i * 7919u) >> 3);
  }
  return blob;
}

// A message with a nested alternative (plain QP text, HTML), an inline
// image named by an encoded word and an attachment named in RFC 2231 form.
std::string NestedMessage() {
  return "From: Ann <ann@example.org>\r\n"
         "To: Bob <bob@example.org>, <carl@example.org>\r\n"
         "Received: from a by b; Mon\r\n"
         "Received: from c\r\n by d; Tue\r\n"
         "Subject: =?utf-8?B?SGVsbG8=?= =?UTF-8?Q?_w=C3=B6rld?= (x)\r\n"
         "Message-ID:<id1@example.org>\r\n"
         "X-Empty:\r\n"
         "Content-Type: multipart/mixed; boundary=\"OUT\"\r\n"
         "\r\n"
         "preamble\r\n"
         "--OUT\r\n"
         "Content-Type: multipart/alternative; boundary=IN\r\n"
         "\r\n"
         "--IN\r\n"
         "Content-Type: text/plain; charset=\"iso-8859-1\"; format=flowed; "
         "DelSp=yes\r\n"
         "Content-Transfer-Encoding: Quoted-Printable\r\n"
         "\r\n"
         "caf=E9 =3D ok\r\n"
         "--IN\r\n"
         "Content-Type: text/html; charset=UTF-8\r\n"
         "\r\n"
         "<p>hi</p>\r\n"
         "--IN--\r\n"
         "\r\n"
         "--OUT\r\n"
         "Content-Type: image/png; name=\"=?utf-8?B?w6l0w6kucG5n?=\"\r\n"
         "Content-Disposition: INLINE; "
         "filename=\"=?utf-8?B?w6l0w6kucG5n?=\"\r\n"
         "Content-ID: <img1@example.org>\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n" +
         EncodeBase64(Blob()) +
         "\r\n"
         "--OUT\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment;\r\n"
         " filename*=iso-8859-1''r%E9sum%E9.txt\r\n"
         "\r\n"
         "raw bytes\r\n"
         "--OUT--\r\n";
}

// The decoded bytes of each part of NestedMessage, in order.
std::vector<std::string> NestedDecoded() {
  return {"caf\xE9 = ok", "<p>hi</p>", Blob(), "raw bytes"};
}

std::string Capture(const std::string& message) {
  return MakeHead(StandardHeadLines("SMTP")) + message;
}

// Reads everything from a pipe on a thread of its own.
class PipeReader {
 public:
  PipeReader() {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    read_fd_ = fds[0];
    write_fd_ = fds[1];
    thread_ = std::thread([this] {
      char buffer[65536];
      ssize_t n;
      while ((n = read(read_fd_, buffer, sizeof(buffer))) > 0) {
        bytes_.append(buffer, static_cast<size_t>(n));
      }
    });
  }
  ~PipeReader() {
    if (write_fd_ >= 0) close(write_fd_);
    if (thread_.joinable()) thread_.join();
    close(read_fd_);
  }
  int write_fd() const { return write_fd_; }
  std::string Finish() {
    close(write_fd_);
    write_fd_ = -1;
    thread_.join();
    return bytes_;
  }

 private:
  int read_fd_;
  int write_fd_;
  std::string bytes_;
  std::thread thread_;
};

class PartAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("m.cf");
    WriteFile(path_, Capture(NestedMessage()));
    ASSERT_EQ(mail_.OpenContentFile(path_.c_str()), 0);
  }
  void TearDown() override { ClearFaults(); }

  std::string Streamed(size_t index) {
    std::string out;
    EXPECT_EQ(mail_.StreamPart(index,
                               [&](const char* data, size_t size) {
                                 EXPECT_LE(size, kStepLimit);
                                 out.append(data, size);
                                 return true;
                               }),
              0);
    return out;
  }

  TempDir dir_;
  std::string path_;
  CMailContentFile mail_;
};

TEST_F(PartAccessTest, ListsEveryLeafPartWithItsHeaderValues) {
  std::vector<PartInfo> parts;
  ASSERT_EQ(mail_.GetParts(parts), 0);
  ASSERT_EQ(parts.size(), 4u);

  EXPECT_EQ(parts[0].kind, PartKind::kText);
  EXPECT_EQ(parts[0].attachment_index, -1);
  EXPECT_EQ(parts[0].media_type, "text/plain");
  EXPECT_EQ(parts[0].charset, "iso-8859-1");
  EXPECT_EQ(parts[0].format, "flowed");
  EXPECT_EQ(parts[0].delsp, "yes");
  EXPECT_EQ(parts[0].transfer_encoding, "quoted-printable");
  EXPECT_EQ(parts[0].depth, 1u);

  EXPECT_EQ(parts[1].kind, PartKind::kText);
  EXPECT_EQ(parts[1].media_type, "text/html");
  EXPECT_EQ(parts[1].charset, "UTF-8");
  EXPECT_EQ(parts[1].depth, 1u);
  EXPECT_EQ(parts[1].transfer_encoding, "");

  EXPECT_EQ(parts[2].kind, PartKind::kAttachment);
  EXPECT_EQ(parts[2].attachment_index, 0);
  EXPECT_EQ(parts[2].media_type, "image/png");
  EXPECT_EQ(parts[2].disposition, "inline");
  EXPECT_EQ(parts[2].name, "\xC3\xA9t\xC3\xA9.png");
  EXPECT_EQ(parts[2].name_charset, "utf-8");
  EXPECT_EQ(parts[2].content_id, "img1@example.org");
  EXPECT_EQ(parts[2].transfer_encoding, "base64");
  EXPECT_EQ(parts[2].depth, 0u);

  EXPECT_EQ(parts[3].kind, PartKind::kAttachment);
  EXPECT_EQ(parts[3].attachment_index, 1);
  EXPECT_EQ(parts[3].disposition, "attachment");
  EXPECT_EQ(parts[3].name, "r\xE9sum\xE9.txt");
  EXPECT_EQ(parts[3].name_charset, "iso-8859-1");
  EXPECT_EQ(parts[3].charset, "");
  EXPECT_EQ(parts[3].content_id, "");

  // The offsets locate the header block and the stored content in the body,
  // and the names agree with the attachment calls.
  const std::string body = NestedMessage();
  const std::vector<std::string> stored = {"caf=E9 =3D ok", "<p>hi</p>",
                                           EncodeBase64(Blob()), "raw bytes"};
  for (size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(body.compare(parts[i].header_offset, 13, "Content-Type:"), 0);
    EXPECT_EQ(body.substr(parts[i].content_offset, parts[i].stored_size),
              stored[i]);
    if (parts[i].attachment_index >= 0) {
      char name[261] = {};
      uint32_t size = 0;
      ASSERT_EQ(mail_.GetAttachmentInfo(parts[i].attachment_index, name,
                                        sizeof(name) - 1, size),
                0);
      EXPECT_EQ(parts[i].name, name);
      EXPECT_EQ(parts[i].stored_size, size);
    }
  }
}

TEST_F(PartAccessTest, EveryRetrievalDeliversTheSameDecodedBytes) {
  const std::vector<std::string> expected = NestedDecoded();
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    uint64_t size = 0;
    ASSERT_EQ(mail_.GetPartDecodedSize(i, size), 0);
    EXPECT_EQ(size, expected[i].size());

    std::string buffer(expected[i].size() + 8, '#');
    size_t written = 99;
    ASSERT_EQ(mail_.ReadPart(i, buffer.data(), buffer.size(), written), 0);
    EXPECT_EQ(buffer.substr(0, written), expected[i]);

    EXPECT_EQ(Streamed(i), expected[i]);

    const std::string file = dir_.File("part" + std::to_string(i));
    ASSERT_EQ(mail_.SavePart2File(i, file.c_str()), 0);
    EXPECT_EQ(ReadFile(file), expected[i]);

    const int fd = open(file.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(mail_.SavePart2Fd(i, fd), 0);
    close(fd);
    EXPECT_EQ(ReadFile(file), expected[i]);

    PipeReader reader;
    ASSERT_EQ(mail_.SavePart2Fd(i, reader.write_fd()), 0);
    EXPECT_EQ(reader.Finish(), expected[i]);
  }
  // The attachment calls agree, by path and by descriptor.
  for (int32_t a = 0; a < mail_.GetAttachmentCount(); ++a) {
    const std::string by_path = dir_.File("a" + std::to_string(a));
    ASSERT_EQ(mail_.GetAttachment2File(a, by_path.c_str()), 0);
    PipeReader reader;
    ASSERT_EQ(mail_.GetAttachment2Fd(a, reader.write_fd()), 0);
    EXPECT_EQ(reader.Finish(), ReadFile(by_path));
  }
}

TEST_F(PartAccessTest, ReadPartFillsWhatTheBufferHolds) {
  const std::string blob = Blob();
  for (const size_t capacity : {size_t{0}, size_t{1}, size_t{10},
                                kStepLimit * 3 / 4 + 1, blob.size() - 1}) {
    SCOPED_TRACE(capacity);
    std::string buffer(capacity + 1, '#');
    size_t written = 99;
    ASSERT_EQ(mail_.ReadPart(2, capacity == 0 ? nullptr : buffer.data(),
                             capacity, written),
              0);
    EXPECT_EQ(written, capacity);
    EXPECT_EQ(buffer.substr(0, written), blob.substr(0, capacity));
    EXPECT_EQ(buffer[capacity], '#');
  }
}

TEST_F(PartAccessTest, ADescriptorIsWrittenWhereItStandsAndLeftOpen) {
  const std::string file = dir_.File("target");
  WriteFile(file, "0123456789ABCDEF");
  const int fd = open(file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 2, SEEK_SET), 2);
  ASSERT_EQ(mail_.SavePart2Fd(1, fd), 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 11);  // still open, moved on by 9
  ASSERT_EQ(mail_.GetAttachment2Fd(1, fd), 0);
  close(fd);
  EXPECT_EQ(ReadFile(file), "01<p>hi</p>raw bytes");

  // A non-blocking pipe that fills up is waited on, not failed.
  PipeReader reader;
  const int flags = fcntl(reader.write_fd(), F_GETFL);
  ASSERT_EQ(fcntl(reader.write_fd(), F_SETFL, flags | O_NONBLOCK), 0);
  ASSERT_EQ(mail_.SavePart2Fd(2, reader.write_fd()), 0);
  EXPECT_EQ(reader.Finish(), Blob());
}

// A reader that goes away from a FIFO named as a path is a failed write,
// not a SIGPIPE that ends the process.
TEST_F(PartAccessTest, AFifoWhoseReaderLeavesIsAWriteFailure) {
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const bool by_attachment_call : {true, false}) {
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The writer fills the pipe and waits; the reader then leaves.
    std::thread leaves([reader] {
      usleep(50000);
      close(reader);
    });
    EXPECT_EQ(by_attachment_call ? mail_.GetAttachment2File(0, fifo.c_str())
                                 : mail_.SavePart2File(2, fifo.c_str()),
              -15);
    leaves.join();
  }
}

TEST_F(PartAccessTest, EveryResultCodeOfThePartCalls) {
  std::vector<PartInfo> parts;
  std::vector<HeaderField> fields;
  std::string value;
  uint64_t size = 0;
  size_t written = 0;
  char buffer[16];
  const contentfile::PartSink keep_all = [](const char*, size_t) {
    return true;
  };
  const std::string out = dir_.File("out");

  // No such part or attachment.
  EXPECT_EQ(mail_.GetPartDecodedSize(4, size), -14);
  EXPECT_EQ(mail_.ReadPart(4, buffer, sizeof(buffer), written), -14);
  EXPECT_EQ(mail_.StreamPart(4, keep_all), -14);
  EXPECT_EQ(mail_.SavePart2Fd(4, STDERR_FILENO), -14);
  EXPECT_EQ(mail_.SavePart2File(4, out.c_str()), -14);
  EXPECT_EQ(mail_.GetAttachment2Fd(2, STDERR_FILENO), -14);
  EXPECT_EQ(mail_.GetAttachment2Fd(-1, STDERR_FILENO), -14);
  EXPECT_FALSE(contentfile_test::FileExists(out));

  // Bad arguments.
  EXPECT_EQ(mail_.ReadPart(0, nullptr, 1, written), -2);
  EXPECT_EQ(mail_.StreamPart(0, contentfile::PartSink()), -2);
  EXPECT_EQ(mail_.GetRecordField(static_cast<RecordField>(9), value), -2);

  // Descriptors that are refused: none, closed, read-only, the capture
  // itself, another content file held open; and paths that are refused.
  const int read_only = open(path_.c_str(), O_RDONLY);
  const int capture = open(path_.c_str(), O_WRONLY);
  const std::string other = dir_.File("other.cf");
  WriteFile(other, Capture(NestedMessage()));
  CMailContentFile holder;
  ASSERT_EQ(holder.OpenContentFile(other.c_str()), 0);
  const int held = open(other.c_str(), O_WRONLY);
  int closed = dup(STDERR_FILENO);
  close(closed);
  for (const int fd : {-1, closed, read_only, capture, held}) {
    SCOPED_TRACE(fd);
    EXPECT_EQ(mail_.SavePart2Fd(0, fd), -11);
    EXPECT_EQ(mail_.GetAttachment2Fd(0, fd), -11);
  }
  EXPECT_EQ(mail_.SavePart2File(0, path_.c_str()), -11);
  EXPECT_EQ(mail_.SavePart2File(0, nullptr), -11);
  for (const int fd : {read_only, capture, held}) close(fd);
  EXPECT_EQ(ReadFile(path_), Capture(NestedMessage()));
  EXPECT_EQ(ReadFile(other), Capture(NestedMessage()));

  // Write failures: a full device, a sink that stops, a broken pipe (which
  // must not raise SIGPIPE).
  const int full = open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_EQ(mail_.SavePart2Fd(2, full), -15);
    EXPECT_EQ(mail_.GetAttachment2Fd(0, full), -15);
    close(full);
    EXPECT_EQ(mail_.SavePart2File(2, "/dev/full"), -15);
  }
  int calls = 0;
  EXPECT_EQ(mail_.StreamPart(2,
                             [&](const char*, size_t) {
                               ++calls;
                               return false;
                             }),
            -15);
  EXPECT_EQ(calls, 1);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  sigset_t before;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
  EXPECT_EQ(mail_.SavePart2Fd(0, fds[1]), -15);
  close(fds[1]);
  sigset_t after;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
  EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));
  sigset_t pending;
  ASSERT_EQ(sigpending(&pending), 0);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);

  // No decoding buffer: -12, or -13 for quoted-printable as
  // GetAttachment2File reports it.
  struct NoMemoryCase {
    size_t part;
    int32_t code;
  };
  for (const NoMemoryCase& c : {NoMemoryCase{2, -12}, NoMemoryCase{0, -13}}) {
    SCOPED_TRACE(c.part);
    InjectFault(Fault::kAllocation, 0);
    EXPECT_EQ(mail_.GetPartDecodedSize(c.part, size), c.code);
    InjectFault(Fault::kAllocation, 0);
    EXPECT_EQ(mail_.ReadPart(c.part, buffer, sizeof(buffer), written), c.code);
    InjectFault(Fault::kAllocation, 0);
    EXPECT_EQ(mail_.StreamPart(c.part, keep_all), c.code);
    InjectFault(Fault::kAllocation, 0);
    EXPECT_EQ(mail_.SavePart2Fd(c.part, STDERR_FILENO), c.code);
    InjectFault(Fault::kAllocation, 0);
    EXPECT_EQ(mail_.SavePart2File(c.part, out.c_str()), c.code);
  }
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(mail_.GetAttachment2Fd(0, STDERR_FILENO), -12);
  ClearFaults();

  // No mail parsed: every call answers -1.
  mail_.CloseContentFile();
  EXPECT_EQ(mail_.GetParts(parts), -1);
  EXPECT_TRUE(parts.empty());
  EXPECT_EQ(mail_.GetPartDecodedSize(0, size), -1);
  EXPECT_EQ(mail_.ReadPart(0, buffer, sizeof(buffer), written), -1);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(mail_.StreamPart(0, keep_all), -1);
  EXPECT_EQ(mail_.SavePart2Fd(0, STDERR_FILENO), -1);
  EXPECT_EQ(mail_.SavePart2File(0, out.c_str()), -1);
  EXPECT_EQ(mail_.GetAttachment2Fd(0, STDERR_FILENO), -1);
  EXPECT_EQ(mail_.GetHeaderFields("To", fields), -1);
  EXPECT_EQ(mail_.GetRecordField(RecordField::kTo, value), -1);
}

// Every allocation of the listing and lookup calls, failed in turn, gives
// -12 and an empty result, never a raised std::bad_alloc.
TEST_F(PartAccessTest, OutOfMemoryIsAResultCode) {
  if (!contentfile_test::OperatorNewCanFail()) GTEST_SKIP();
  const std::vector<std::function<int32_t()>> calls = {
      [&] {
        std::vector<PartInfo> parts;
        const int32_t rc = mail_.GetParts(parts);
        if (rc != 0) {
          EXPECT_TRUE(parts.empty());
        }
        return rc;
      },
      [&] {
        std::vector<HeaderField> fields;
        const int32_t rc = mail_.GetHeaderFields("received", fields);
        if (rc != 0) {
          EXPECT_TRUE(fields.empty());
        }
        return rc;
      },
      [&] {
        std::string value;
        return mail_.GetRecordField(RecordField::kSubject, value);
      },
      [&] {
        return mail_.StreamPart(1, [](const char*, size_t) {
          std::string grows(100, 'x');  // the sink's own allocation
          return !grows.empty();
        });
      },
  };
  for (size_t c = 0; c < calls.size(); ++c) {
    for (long skip = 0;; ++skip) {
      SCOPED_TRACE(testing::Message() << "call " << c << " skip " << skip);
      contentfile_test::FailOperatorNew(skip);
      const int32_t rc = calls[c]();
      const bool struck = contentfile_test::StopFailingOperatorNew();
      if (!struck) {
        EXPECT_EQ(rc, 0);
        break;
      }
      EXPECT_EQ(rc, -12);
    }
  }
}

TEST_F(PartAccessTest, HeaderFieldsByNameInOrderWithTheirCharsets) {
  std::vector<HeaderField> fields;
  ASSERT_EQ(mail_.GetHeaderFields("RECEIVED", fields), 0);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].name, "Received");
  EXPECT_EQ(fields[0].raw, "from a by b; Mon");
  EXPECT_EQ(fields[1].raw, "from c by d; Tue");  // unfolded
  EXPECT_EQ(fields[1].decoded, fields[1].raw);

  ASSERT_EQ(mail_.GetHeaderFields("subject", fields), 0);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].raw, "=?utf-8?B?SGVsbG8=?= =?UTF-8?Q?_w=C3=B6rld?= (x)");
  EXPECT_EQ(fields[0].decoded, "Hello w\xC3\xB6rld (x)");
  // Adjacent words of one charset form one run; the text after them
  // another.
  ASSERT_EQ(fields[0].segments.size(), 2u);
  EXPECT_EQ(fields[0].segments[0].text, "Hello w\xC3\xB6rld");
  EXPECT_EQ(fields[0].segments[0].charset, "utf-8");
  EXPECT_EQ(fields[0].segments[1].text, " (x)");
  EXPECT_EQ(fields[0].segments[1].charset, "");

  ASSERT_EQ(mail_.GetHeaderFields("Message-ID", fields), 0);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].raw, "<id1@example.org>");  // no space after the colon
  ASSERT_EQ(mail_.GetHeaderFields("X-Empty", fields), 0);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].raw, "");
  EXPECT_TRUE(fields[0].segments.empty());
  // Only the message head counts: the parts' own Content-Type fields not.
  ASSERT_EQ(mail_.GetHeaderFields("Content-Type", fields), 0);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].raw, "multipart/mixed; boundary=\"OUT\"");
  ASSERT_EQ(mail_.GetHeaderFields("X-Absent", fields), 0);
  EXPECT_TRUE(fields.empty());
}

// Field lines of the head: the first line too, blanks before the colon,
// folds with a tab, any case; never a longer name, nor a line of the body.
TEST(HeaderFields, AreFoundOnlyAsWholeFieldNamesOfTheHead) {
  TempDir dir;
  const std::string path = dir.File("m.cf");
  WriteFile(path, Capture("Subject: one\r\nX-Subject: no\r\nSubject :two\r\n"
                          "\tcontinued \r\nsubject:three\r\nContent-Type: "
                          "text/plain\r\n\r\nSubject: body\r\n"));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  std::vector<HeaderField> fields;
  ASSERT_EQ(mail.GetHeaderFields("Subject", fields), 0);
  std::vector<std::string> raw;
  for (const HeaderField& field : fields) raw.push_back(field.raw);
  EXPECT_EQ(raw, (std::vector<std::string>{"one", "two\tcontinued", "three"}));
  EXPECT_EQ(fields[2].name, "subject");
}

// The kinds follow the classification of the attachment calls: a nameless
// PDF and an image with only a Content-ID are attachments without names; a
// message without Content-Type is one text part whose header block is the
// head.
TEST(PartKinds, FollowTheAttachmentClassification) {
  TempDir dir;
  const std::string path = dir.File("m.cf");
  WriteFile(path, Capture("From: a@x\r\nContent-Type: multipart/mixed; "
                          "boundary=B\r\n\r\n--B\r\nContent-Type: "
                          "text/plain\r\n\r\nhello\r\n--B\r\nContent-Type: "
                          "application/pdf\r\nContent-Transfer-Encoding: "
                          "base64\r\n\r\nJVBERi0=\r\n--B\r\nContent-Type: "
                          "image/png\r\nContent-ID: <logo>\r\n\r\nPNG\r\n"
                          "--B--\r\n"));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  std::vector<PartInfo> parts;
  ASSERT_EQ(mail.GetParts(parts), 0);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].kind, PartKind::kText);
  EXPECT_EQ(parts[1].kind, PartKind::kAttachment);
  EXPECT_EQ(parts[1].attachment_index, 0);
  EXPECT_EQ(parts[1].name, "");
  EXPECT_EQ(parts[2].kind, PartKind::kAttachment);
  EXPECT_EQ(parts[2].attachment_index, 1);
  EXPECT_EQ(parts[2].content_id, "logo");
  EXPECT_EQ(mail.GetAttachmentCount(), 2);
  PipeReader reader;
  ASSERT_EQ(mail.GetAttachment2Fd(0, reader.write_fd()), 0);
  EXPECT_EQ(reader.Finish(), "%PDF-");

  const std::string plain_message = "From: a@x\r\nSubject:s\r\n\r\nbody\r\n";
  WriteFile(path, Capture(plain_message));
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(mail.GetParts(parts), 0);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].kind, PartKind::kText);
  EXPECT_EQ(parts[0].media_type, "");
  EXPECT_EQ(parts[0].header_offset, 0u);
  EXPECT_EQ(plain_message.substr(parts[0].content_offset, parts[0].stored_size),
            "body\r\n");
}

// A part whose header block never ends is listed as unclassified, with no
// content, and retrieving it gives no bytes (never the message before it).
TEST(UnclassifiedPart, IsListedAndHasNoContent) {
  TempDir dir;
  const std::string path = dir.File("m.cf");
  WriteFile(path, Capture("From: a\r\nContent-Type: multipart/mixed; "
                          "boundary=X\r\n\r\n--X\r\nContent-Type: "
                          "text/plain\r\n\r\nhello\r\n--X\r\n"
                          "Content-Type: text/html\r\nno end\r\n--X--\r\n"));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  std::vector<PartInfo> parts;
  ASSERT_EQ(mail.GetParts(parts), 0);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].kind, PartKind::kUnclassified);
  EXPECT_EQ(parts[1].media_type, "text/html");
  EXPECT_EQ(parts[1].stored_size, 0u);
  uint64_t size = 99;
  ASSERT_EQ(mail.GetPartDecodedSize(1, size), 0);
  EXPECT_EQ(size, 0u);
  char buffer[64];
  size_t written = 99;
  ASSERT_EQ(mail.ReadPart(1, buffer, sizeof(buffer), written), 0);
  EXPECT_EQ(written, 0u);
}

TEST(RecordFields, ComeAtFullLengthNormalisedAsTheRecord) {
  TempDir dir;
  std::string to;
  std::string expected_to;
  for (int i = 0; i < 30; ++i) {
    to += (i ? ", " : "") + std::string("Person ") + std::to_string(i) +
          " <person" + std::to_string(i) + "@example.org>";
    expected_to += (i ? "," : "") + std::string("person") + std::to_string(i) +
                   "@example.org";
  }
  const std::string subject_text(300, 's');
  const std::string message = "From: Ann <ann@example.org>\r\nTo: " + to +
                              "\r\nSubject: =?us-ascii?Q?" + subject_text +
                              "?=\r\nContent-Type: text/plain\r\n\r\nhi\r\n";
  const std::string path = dir.File("m.cf");
  WriteFile(path, Capture(message));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);

  std::string value;
  ASSERT_EQ(mail.GetRecordField(RecordField::kTo, value), 0);
  EXPECT_EQ(value, expected_to);
  EXPECT_EQ(value.compare(0, 255, mail.GetLogInfo().szTo), 0);
  ASSERT_EQ(mail.GetRecordField(RecordField::kSubject, value), 0);
  EXPECT_EQ(value, subject_text);
  ASSERT_EQ(mail.GetRecordField(RecordField::kFrom, value), 0);
  EXPECT_EQ(value, "ann@example.org");
  ASSERT_EQ(mail.GetRecordField(RecordField::kCc, value), 0);
  EXPECT_EQ(value, "");
}

TEST(SaveBody2Fd, WritesTheBodyOrGivesItsCode) {
  TempDir dir;
  const std::string body = Blob() + "tail";
  const std::string path = dir.File("c.cf");
  WriteFile(path, Capture(body));
  CContentFile file;
  EXPECT_EQ(file.SaveBody2Fd(STDERR_FILENO), -1);
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);

  PipeReader reader;
  ASSERT_EQ(file.SaveBody2Fd(reader.write_fd()), 0);
  EXPECT_EQ(reader.Finish(), body);

  const int capture = open(path.c_str(), O_WRONLY);
  EXPECT_EQ(file.SaveBody2Fd(capture), -2);
  close(capture);
  EXPECT_EQ(file.SaveBody2Fd(-1), -2);
  const int full = open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_EQ(file.SaveBody2Fd(full), -6);
    close(full);
  }
  const int null = open("/dev/null", O_WRONLY);
  ASSERT_GE(null, 0);
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(file.SaveBody2Fd(null), -4);
  InjectFault(Fault::kRead, 1);  // the second window cannot be read
  EXPECT_EQ(file.SaveBody2Fd(null), -5);
  ClearFaults();

  const std::string empty = dir.File("e.cf");
  WriteFile(empty, Capture(""));
  ASSERT_EQ(file.OpenContentFile(empty.c_str()), 0);
  EXPECT_EQ(file.SaveBody2Fd(null), -3);
  close(null);
  EXPECT_EQ(ReadFile(path), Capture(body));
}

}  // namespace
