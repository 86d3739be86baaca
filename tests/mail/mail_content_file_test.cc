#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/quoted_printable.h"
#include "contentfile.h"
#include "gtest/gtest.h"
#include "mail/part_retrieval.h"
#include "platform/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

using contentfile_internal::ClearFaults;
using contentfile_internal::Fault;
using contentfile_internal::InjectFault;
using contentfile_test::EncodeBase64;
using contentfile_test::FileExists;
using contentfile_test::MakeHead;
using contentfile_test::ReadFile;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

struct FaultGuard {
  ~FaultGuard() { ClearFaults(); }
};

// A multipart message: a plain text part and the given attachment parts.
struct Attachment {
  std::string name_parameter;  // e.g. "filename=\"a.bin\""
  std::string encoding;        // Content-Transfer-Encoding value, or empty
  std::string stored;          // content as stored
};

std::string Multipart(const std::string& text_encoding, const std::string& text,
                      const std::vector<Attachment>& attachments,
                      const std::string& extra_head = "") {
  std::string m =
      "From: Ann <ann@example.org>\r\nTo: Bob <bob@example.org>, "
      "<carl@example.org>\r\nCc: dan@example.org\r\nSubject: "
      "=?utf-8?B?SGVsbG8=?= world\r\n" +
      extra_head +
      "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\npreamble\r\n"
      "--XX\r\nContent-Type: text/plain\r\n";
  if (!text_encoding.empty()) {
    m += "Content-Transfer-Encoding: " + text_encoding + "\r\n";
  }
  m += "\r\n" + text + "\r\n";
  for (const Attachment& a : attachments) {
    m += "--XX\r\nContent-Type: application/octet-stream\r\n";
    if (!a.encoding.empty()) {
      m += "Content-Transfer-Encoding: " + a.encoding + "\r\n";
    }
    m += "Content-Disposition: attachment; " + a.name_parameter + "\r\n\r\n" +
         a.stored + "\r\n";
  }
  return m + "--XX--\r\nepilogue\r\n";
}

std::string Capture(const std::string& message,
                    const std::string& protocol = "SMTP") {
  return MakeHead(StandardHeadLines(protocol)) + message;
}

class MailContentFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes,
                    const std::string& name = "m.cf") {
    const std::string path = dir_.File(name);
    WriteFile(path, bytes);
    return path;
  }
  TempDir dir_;
  FaultGuard faults_;
};

std::string Text(const CMailContentFile& mail) {
  std::string out(mail.GetMailTextSize(), '\0');
  out.resize(mail.GetMailText(out.data(), static_cast<uint32_t>(out.size())));
  return out;
}

TEST_F(MailContentFileTest, OpensAMultipartCaptureAndFillsTheRecord) {
  const std::string message =
      Multipart("quoted-printable", "Caf=C3=A9 ok=\r\n!",
                {{"filename=\"a b.bin\"", "base64",
                  EncodeBase64(std::string("\0\1\2xyz", 6))},
                 {"filename==?utf-8?Q?r=C3=A9sum=C3=A9?=.txt",
                  "Quoted-Printable", "line=3D1"}});
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message, "POP3")).c_str()), 0);
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  EXPECT_EQ(info.nLogType, LOG_TYPE_POP3);
  EXPECT_EQ(info.dwAddr1, 0xC0A80001u);
  EXPECT_EQ(info.wPort2, 25);
  EXPECT_STREQ(info.szFrom, "ann@example.org");
  EXPECT_STREQ(info.szTo, "bob@example.org,carl@example.org");
  EXPECT_STREQ(info.szCc, "dan@example.org");
  EXPECT_STREQ(info.szSubject, "Hello world");
  EXPECT_EQ(mail.GetBodySize(), message.size());

  EXPECT_EQ(Text(mail), "Caf\xC3\xA9 ok!");
  ASSERT_EQ(mail.GetAttachmentCount(), 2);
  char name[64];
  uint32_t size = 0;
  EXPECT_EQ(mail.GetAttachmentInfo(0, name, sizeof(name), size), 0);
  EXPECT_STREQ(name, "a b.bin");
  EXPECT_EQ(size, 8u);  // stored, still encoded
  EXPECT_EQ(mail.GetAttachmentInfo(1, name, sizeof(name), size), 0);
  EXPECT_STREQ(name, "r\xC3\xA9sum\xC3\xA9.txt");

  const std::string out = dir_.File("out");
  EXPECT_EQ(mail.GetAttachment2File(0, out.c_str()), 0);
  EXPECT_EQ(ReadFile(out), std::string("\0\1\2xyz", 6));
  EXPECT_EQ(mail.GetAttachment2File(1, out.c_str()), 0);
  EXPECT_EQ(ReadFile(out), "line=1");
}

TEST_F(MailContentFileTest, EveryOpenCodeLeavesTheDocumentedState) {
  const std::string good = Multipart("", "hello", {});
  struct Case {
    const char* name;
    std::string bytes;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {"empty file", "", -3},
      {"head cut short", "5\r\nSMTP\r\n", -4},
      {"empty body", MakeHead(StandardHeadLines("SMTP")), -11},
      // Only text that is no mail fails to parse: no CR LF at all, or no
      // empty line and a first line that is no header field.
      {"no CR LF", Capture("From: a Content-Type: text/plain x"), -15},
      {"bare LF empty line", Capture("From: a\nContent-Type: text/plain\n\nx"),
       -15},
      {"no field, no empty line", Capture("not mail\r\nFrom: a\r\nx"), -15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMailContentFile mail;
    ASSERT_EQ(mail.OpenContentFile(Write(Capture(good)).c_str()), 0);
    const ST_MAIL_LOG_INFO before = mail.GetLogInfo();
    EXPECT_EQ(mail.OpenContentFile(Write(c.bytes, "c.cf").c_str()), c.result);
    // The record keeps the last analysed head; no parser is attached.
    EXPECT_EQ(std::memcmp(&before, &mail.GetLogInfo(), sizeof(before)), 0);
    EXPECT_EQ(mail.GetAttachmentCount(), 0);
    EXPECT_EQ(mail.GetMailTextSize(), 0u);
    // The content file stays open and its body can still be saved.
    if (c.result <= -11) {
      EXPECT_EQ(mail.GetHeadSize(), MakeHead(StandardHeadLines("SMTP")).size());
      const int32_t expected_save = c.result == -11 ? -3 : 0;
      EXPECT_EQ(mail.SaveBody2File(dir_.File("body").c_str()), expected_save);
    }
  }
  CMailContentFile mail;
  EXPECT_EQ(mail.OpenContentFile(nullptr), -1);
  EXPECT_EQ(mail.OpenContentFile(dir_.path().c_str()), -2);
}

TEST_F(MailContentFileTest, ReportsAllocationAndReadFailuresOfTheOpen) {
  const std::string path = Write(Capture(Multipart("", "hello", {})));
  struct Case {
    Fault fault;
    int skip;
    int32_t result;
  };
  // Allocations: the parser, then the window the body is read through.
  // Reads (a small capture's, held in memory by the open after the first,
  // fail all the same): the capture's first bytes, the head lines of the
  // base open, the body's first window (which holds the message's head,
  // copied from it), then the head lines again for their analysis.
  const Case cases[] = {{Fault::kAllocation, 0, -14},
                        {Fault::kAllocation, 1, -12},
                        {Fault::kRead, 2, -13},
                        {Fault::kRead, 3, -16}};
  for (const Case& c : cases) {
    CMailContentFile mail;
    InjectFault(c.fault, c.skip);
    EXPECT_EQ(mail.OpenContentFile(path.c_str()), c.result);
    ClearFaults();
    EXPECT_EQ(mail.GetAttachmentCount(), 0);
    EXPECT_GT(mail.GetBodySize(), 0u);  // the content file stays open
    EXPECT_STREQ(mail.GetLogInfo().szFrom, "");
  }
}

TEST_F(MailContentFileTest, AShortHeadRaisesWithTheMailStillServed) {
  std::vector<std::string> lines = StandardHeadLines("SMTP");
  lines.pop_back();  // 13 lines
  const std::string message = Multipart("", "hello", {});
  CMailContentFile mail;
  EXPECT_THROW(mail.OpenContentFile(Write(MakeHead(lines) + message).c_str()),
               std::invalid_argument);
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  EXPECT_EQ(info.nLogType, LOG_TYPE_SMTP);
  EXPECT_STREQ(info.szLine13, "line13");
  EXPECT_STREQ(info.szFrom, "");
  EXPECT_STREQ(info.szSubject, "");
  EXPECT_EQ(Text(mail), "hello");
}

TEST_F(MailContentFileTest, KeepsTheRecordAcrossClosesAndFailedOpens) {
  CMailContentFile mail;
  ASSERT_EQ(
      mail.OpenContentFile(Write(Capture(Multipart("", "x", {}))).c_str()), 0);
  EXPECT_EQ(mail.CloseContentFile(), 0);
  EXPECT_EQ(mail.CloseContentFile(), 0);
  EXPECT_STREQ(mail.GetLogInfo().szFrom, "ann@example.org");
  EXPECT_EQ(mail.GetBodySize(), 0u);
  EXPECT_EQ(mail.OpenContentFile(dir_.File("missing").c_str()), -2);
  EXPECT_STREQ(mail.GetLogInfo().szFrom, "ann@example.org");

  // A second file replaces every field of the first.
  std::vector<std::string> lines = StandardHeadLines("other");
  lines[2] = "no semicolon";
  ASSERT_EQ(mail.OpenContentFile(
                Write(MakeHead(lines) +
                          "Content-Type: text/plain\r\nSubject: s\r\n\r\nbody",
                      "2.cf")
                    .c_str()),
            0);
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  EXPECT_EQ(info.nLogType, LOG_TYPE_OTHER);
  EXPECT_EQ(info.dwAddr1, 0u);  // line 4 malformed: later fields zero
  EXPECT_STREQ(info.szLine11, "");
  EXPECT_STREQ(info.szFrom, "");
  EXPECT_STREQ(info.szSubject, "s");
  EXPECT_EQ(Text(mail), "body");
}

TEST_F(MailContentFileTest, CutsLongFieldsToTheirWidth) {
  const std::string from(100, 'f');
  const std::string subject(300, 's');
  const std::string message = "From: <" + from + ">\r\nSubject: " + subject +
                              "\r\nContent-Type: text/plain\r\n\r\nbody";
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message)).c_str()), 0);
  EXPECT_EQ(std::string(mail.GetLogInfo().szFrom), from.substr(0, 63));
  EXPECT_EQ(std::string(mail.GetLogInfo().szSubject), subject.substr(0, 255));
  EXPECT_STREQ(mail.GetLogInfo().szCc, "");
}

TEST_F(MailContentFileTest, HandsOutNamesByTheBufferRules) {
  const std::string message =
      Multipart("", "t", {{"filename=0123456789", "", "x"}});
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message)).c_str()), 0);
  char name[12];
  uint32_t size = 77;
  std::memset(name, 'Z', sizeof(name));
  EXPECT_EQ(mail.GetAttachmentInfo(0, name, 10, size), 0);
  EXPECT_EQ(std::string(name, 11), "0123456789Z");  // no NUL
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(mail.GetAttachmentInfo(0, name, 11, size), 0);
  EXPECT_EQ(std::string(name, 11), std::string("0123456789\0", 11));
  // An index that names no attachment: an empty name, the size unchanged.
  size = 77;
  std::memset(name, 'Z', sizeof(name));
  EXPECT_EQ(mail.GetAttachmentInfo(1, name, 5, size), 0);
  EXPECT_EQ(std::string(name, 6), std::string("\0\0\0\0\0Z", 6));
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(mail.GetAttachmentInfo(-1, name, 0, size), 0);
  EXPECT_EQ(name[0], '\0');
  // Arguments outside what the operation accepts write nothing.
  std::memset(name, 'Z', sizeof(name));
  EXPECT_EQ(mail.GetAttachmentInfo(0, name, -1, size), -2);
  EXPECT_EQ(mail.GetAttachmentInfo(0, nullptr, 4, size), -2);
  EXPECT_EQ(mail.GetAttachmentInfo(0, nullptr, 0, size), 0);
  EXPECT_EQ(name[0], 'Z');
}

TEST_F(MailContentFileTest, ReadsTheFirstTextPart) {
  // Two text parts: the size is the first one's, so its buffer holds it.
  const std::string message =
      "Content-Type: multipart/alternative; boundary=B\r\n\r\n"
      "--B\r\n\r\nfirst\r\n--B\r\n\r\nabcd\r\n--B--\r\n";
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message)).c_str()), 0);
  EXPECT_EQ(mail.GetMailTextSize(), 5u);
  char buffer[8];
  std::memset(buffer, 'Z', sizeof(buffer));
  EXPECT_EQ(mail.GetMailText(buffer, sizeof(buffer)), 5u);
  EXPECT_EQ(std::string(buffer, 6), "firstZ");  // no NUL appended
  EXPECT_EQ(mail.GetMailText(buffer, 0), 0u);
  EXPECT_EQ(mail.GetMailText(nullptr, 5), 0u);
  EXPECT_EQ(mail.GetMailText(buffer, 3), 3u);
}

TEST_F(MailContentFileTest, DecodesByTheWholeEncodingWord) {
  struct Case {
    std::string encoding;
    std::string stored;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"BASE64", "YWJj", "abc"},
      {"base64 ", "YWJj", "YWJj"},  // a trailing blank: delivered as stored
      {"Quoted-Printable", "a=3Db", "a=b"},
      {"7bit", "a=3Db", "a=3Db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    CMailContentFile mail;
    ASSERT_EQ(mail.OpenContentFile(
                  Write(Capture(Multipart(c.encoding, c.stored, {}))).c_str()),
              0);
    EXPECT_EQ(Text(mail), c.text);
  }
  // The length limits the encoded bytes read: 4 of "YWJjZGVm" give "abc".
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(
                Write(Capture(Multipart("base64", "YWJjZGVm", {}))).c_str()),
            0);
  char buffer[8];
  EXPECT_EQ(mail.GetMailText(buffer, 4), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(MailContentFileTest, SavesAttachmentsAndReportsEveryFailure) {
  const std::string message =
      Multipart("", "t",
                {{"filename=a.bin", "base64", "YWJj"},
                 {"filename=b.txt", "quoted-printable", "x=3Dy"},
                 {"filename=empty.bin", "base64", ""}});
  const std::string path = Write(Capture(message));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  const std::string out = dir_.File("out");

  // An index that names no attachment touches nothing.
  WriteFile(out, "KEEP");
  EXPECT_EQ(mail.GetAttachment2File(3, out.c_str()), -14);
  EXPECT_EQ(mail.GetAttachment2File(-1, out.c_str()), -14);
  EXPECT_EQ(ReadFile(out), "KEEP");
  EXPECT_FALSE(FileExists(dir_.File("none")));
  EXPECT_EQ(mail.GetAttachment2File(7, dir_.File("none").c_str()), -14);
  EXPECT_FALSE(FileExists(dir_.File("none")));

  // Targets that cannot be written.
  EXPECT_EQ(mail.GetAttachment2File(0, nullptr), -11);
  EXPECT_EQ(mail.GetAttachment2File(0, dir_.path().c_str()), -11);
  EXPECT_EQ(mail.GetAttachment2File(
                0, (dir_.path() + "/" + std::string(300, 'n')).c_str()),
            -11);
  EXPECT_EQ(mail.GetAttachment2File(0, path.c_str()), -11);  // its own capture
  EXPECT_EQ(ReadFile(path), Capture(message));
  EXPECT_EQ(mail.GetAttachment2File(0, "/dev/full"), -15);

  // Out of memory for the decoding buffer keeps an existing target.
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(mail.GetAttachment2File(0, out.c_str()), -12);
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(mail.GetAttachment2File(1, out.c_str()), -13);
  EXPECT_EQ(ReadFile(out), "KEEP");
  InjectFault(Fault::kWrite, 0);
  EXPECT_EQ(mail.GetAttachment2File(1, out.c_str()), -15);

  EXPECT_EQ(mail.GetAttachment2File(1, out.c_str()), 0);
  EXPECT_EQ(ReadFile(out), "x=y");
  EXPECT_EQ(mail.GetAttachment2File(2, out.c_str()), 0);
  EXPECT_EQ(ReadFile(out), "");
}

TEST_F(MailContentFileTest, AClosedObjectAnswersWithoutAParser) {
  CMailContentFile mail;
  char buffer[4] = {'Z', 'Z', 'Z', 'Z'};
  uint32_t size = 5;
  EXPECT_EQ(mail.GetAttachmentCount(), 0);
  EXPECT_EQ(mail.GetAttachmentInfo(0, buffer, 4, size), -1);
  EXPECT_EQ(mail.GetMailTextSize(), 0u);
  EXPECT_EQ(mail.GetMailText(buffer, 4), 0u);
  EXPECT_EQ(mail.GetAttachment2File(0, dir_.File("x").c_str()), -1);
  EXPECT_EQ(std::string(buffer, 4), "ZZZZ");
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(FileExists(dir_.File("x")));
}

TEST_F(MailContentFileTest, CopiesShareTheParser) {
  const std::string message =
      Multipart("", "hello", {{"filename=a.bin", "base64", "YWJj"}});
  auto original = std::make_unique<CMailContentFile>();
  ASSERT_EQ(original->OpenContentFile(Write(Capture(message)).c_str()), 0);
  CMailContentFile copy(*original);
  CMailContentFile assigned;
  assigned = copy;
  original->CloseContentFile();
  EXPECT_EQ(original->GetAttachmentCount(), 0);
  original.reset();
  EXPECT_EQ(copy.GetAttachmentCount(), 1);
  EXPECT_STREQ(assigned.GetLogInfo().szFrom, "ann@example.org");
  copy.CloseContentFile();
  EXPECT_EQ(Text(assigned), "hello");
  EXPECT_EQ(assigned.GetAttachment2File(0, dir_.File("o").c_str()), 0);
  EXPECT_EQ(ReadFile(dir_.File("o")), "abc");
}

TEST_F(MailContentFileTest, RoundTripsA50MBAttachment) {
  std::mt19937_64 random(42);
  std::string bytes(50u << 20, '\0');
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const uint64_t v = random();
    std::memcpy(&bytes[i], &v, 8);
  }
  const std::string message =
      Multipart("", "t", {{"filename=big.bin", "base64", EncodeBase64(bytes)}});
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message)).c_str()), 0);
  const std::string out = dir_.File("big.bin");
  ASSERT_EQ(mail.GetAttachment2File(0, out.c_str()), 0);
  EXPECT_TRUE(ReadFile(out) == bytes);
}

// Attachments of several decoding steps, with a soft line break, an "="
// pair, a CR LF and base64 groups cut by the ends of the steps, come out as
// the decoders give them in one piece.
TEST_F(MailContentFileTest, SavesAttachmentsOfSeveralStepsAsOneDecoding) {
  using contentfile_internal::kSaveStep;
  std::mt19937 random(9);
  std::string bytes(kSaveStep * 2, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  std::string base64 = EncodeBase64(bytes);
  base64.insert(kSaveStep - 1, "\r\n");
  base64.insert(2 * kSaveStep - 1, "\r\n");

  static const char* const kPieces[] = {"Caf=C3=A9 ", "=3D", "=\r\n", "text ",
                                        "\r\n",       "=e9", "x"};
  std::string qp;
  while (qp.size() < 2 * kSaveStep + 1000) qp += kPieces[random() % 7];
  qp.replace(kSaveStep - 1, 3, "=\r\n");
  qp.replace(2 * kSaveStep - 2, 3, "=C3");
  qp.replace(3 * kSaveStep / 2 - 1, 3, "=4A");  // inside a step

  const std::string message =
      Multipart("", "t",
                {{"filename=a.bin", "base64", base64},
                 {"filename=b.txt", "quoted-printable", qp}});
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(Write(Capture(message)).c_str()), 0);
  const std::string out = dir_.File("out");
  ASSERT_EQ(mail.GetAttachment2File(0, out.c_str()), 0);
  EXPECT_TRUE(ReadFile(out) == bytes);

  std::string whole(qp.size(), '\0');
  whole.resize(static_cast<size_t>(contentfile_internal::QPDecode(
      qp.data(), static_cast<uint32_t>(qp.size()), whole.data())));
  ASSERT_EQ(mail.GetAttachment2File(1, out.c_str()), 0);
  EXPECT_TRUE(ReadFile(out) == whole);
}

TEST_F(MailContentFileTest, ReportsTwoThousandAttachments) {
  std::vector<Attachment> attachments;
  for (int i = 0; i < 2000; ++i) {
    attachments.push_back({"filename=f" + std::to_string(i) + ".txt", "",
                           "content " + std::to_string(i)});
  }
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(
                Write(Capture(Multipart("", "t", attachments))).c_str()),
            0);
  ASSERT_EQ(mail.GetAttachmentCount(), 2000);
  char name[32];
  uint32_t size = 0;
  ASSERT_EQ(mail.GetAttachmentInfo(1999, name, sizeof(name), size), 0);
  EXPECT_STREQ(name, "f1999.txt");
  EXPECT_EQ(size, std::string("content 1999").size());
}

}  // namespace

// Parts are read back from the capture when asked for: a capture that
// shrinks after the open gives what is still there and says so.
TEST_F(MailContentFileTest,
       ACaptureThatShrinksAfterTheOpenFailsItsReadsCleanly) {
  std::string binary(700000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) {
    binary[i] = static_cast<char>(i * 131 + (i >> 9));
  }
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\r\n";
  const std::string message = Multipart(
      "", text, {{"filename=big.bin", "base64", EncodeBase64(binary)}});
  const std::string capture = Capture(message);
  const std::string path = Write(capture);
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(mail.GetAttachmentCount(), 1);
  const std::string whole_text = Text(mail);
  ASSERT_EQ(whole_text, text.substr(0, whole_text.size()));

  // Cut the file in the middle of the attachment, past the first steps.
  const size_t attachment_at = capture.find("filename=big.bin");
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(attachment_at + 600000)),
            0);
  EXPECT_EQ(Text(mail), whole_text);  // the text lies before the cut
  const std::string out = dir_.File("out");
  EXPECT_EQ(mail.GetAttachment2File(0, out.c_str()), -16);
  const std::string saved = ReadFile(out);
  EXPECT_GT(saved.size(), 0u);
  EXPECT_EQ(saved, binary.substr(0, saved.size()));
  size_t written = 1;
  std::string buffer(binary.size(), '\0');
  EXPECT_EQ(mail.ReadPart(1, buffer.data(), buffer.size(), written), -16);
  EXPECT_EQ(written, 0u);
  uint64_t decoded_size = 0;
  EXPECT_EQ(mail.GetPartDecodedSize(1, decoded_size), -16);
  std::string streamed;
  EXPECT_EQ(mail.StreamPart(1,
                            [&](const char* data, size_t size) {
                              streamed.append(data, size);
                              return true;
                            }),
            -16);
  EXPECT_EQ(streamed, binary.substr(0, streamed.size()));

  // Cut inside the text: GetMailText gives the bytes before the cut.
  const size_t text_at = capture.find("line 0");
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(text_at + 100000)), 0);
  const std::string cut = Text(mail);
  EXPECT_LT(cut.size(), whole_text.size());
  EXPECT_EQ(cut, whole_text.substr(0, cut.size()));
  std::vector<contentfile::PartInfo> parts;
  EXPECT_EQ(mail.GetParts(parts), -16);
  EXPECT_TRUE(parts.empty());
  WriteFile(out, "PRECIOUS");
  EXPECT_EQ(mail.GetAttachment2File(0, out.c_str()), -16);
  EXPECT_EQ(ReadFile(out), "PRECIOUS");  // nothing could be read
}
