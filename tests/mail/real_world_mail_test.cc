// Mail as it is written in practice, opened through the public interface:
// plain notification mail, reordered and unterminated heads, binary parts,
// quoted-printable as mail programs write it, nameless attachments, address
// lists with bare addresses and groups, long encoded names.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/support/test_files.h"

namespace {

using contentfile_test::EncodeBase64;
using contentfile_test::MakeHead;
using contentfile_test::ReadFile;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;
using std::string_literals::operator""s;

// What a caller sees of one opened message.
struct Served {
  int32_t result = 0;
  std::string from, to, cc, subject, text;
  std::vector<std::string> names, contents;
};

class RealWorldMail : public ::testing::Test {
 protected:
  Served Open(const std::string& message) {
    const std::string path = dir_.File("m.cf");
    WriteFile(path, MakeHead(StandardHeadLines("SMTP")) + message);
    CMailContentFile mail;
    Served served;
    served.result = mail.OpenContentFile(path.c_str());
    const CMailContentFile::ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
    served.from = info.szFrom;
    served.to = info.szTo;
    served.cc = info.szCc;
    served.subject = info.szSubject;
    std::string text(mail.GetMailTextSize(), '\0');
    text.resize(
        mail.GetMailText(text.data(), static_cast<uint32_t>(text.size())));
    served.text = text;
    for (int32_t i = 0; i < mail.GetAttachmentCount(); ++i) {
      char name[261] = {};
      uint32_t size = 0;
      EXPECT_EQ(mail.GetAttachmentInfo(i, name, sizeof(name) - 1, size), 0);
      served.names.push_back(name);
      const std::string out = dir_.File("part");
      EXPECT_EQ(mail.GetAttachment2File(i, out.c_str()), 0);
      served.contents.push_back(ReadFile(out));
    }
    return served;
  }

  TempDir dir_;
};

// Messages the part walk cannot split are served all the same.
TEST_F(RealWorldMail, ServesMessagesThePartWalkCannotSplit) {
  const struct {
    const char* what;
    std::string message;
    std::string text;
    std::vector<std::string> names;
  } kCases[] = {
      {"no Content-Type",
       "From: a@x\r\nSubject: job\r\n\r\nall done\r\n",
       "all done\r\n",
       {}},
      {"encoding above type",
       "From: a@x\r\nContent-Transfer-Encoding: base64\r\n"
       "Content-Type: text/plain\r\n\r\nSGk=\r\n",
       "Hi",
       {}},
      {"Content-Type in the body",
       "From: a@x\r\n\r\nsee below\r\nContent-Type: text/html\r\n\r\nend",
       "see below\r\nContent-Type: text/html\r\n\r\nend",
       {}},
      {"delimiter never occurs",
       "From: a@x\r\nContent-Type: multipart/mixed; boundary=Q\r\n\r\n"
       "no parts\r\n",
       "no parts\r\n",
       {}},
      {"empty top-level part",
       "From: a@x\r\nContent-Type: multipart/mixed; boundary=Q\r\n\r\n"
       "--Q\r\n--Q\r\n\r\none\r\n--Q\r\nContent-Type: multipart/related; "
       "boundary=I\r\n\r\n--I\r\n--I\r\nContent-Disposition: attachment; "
       "filename=f\r\n\r\nx\r\n--I--\r\n--Q--\r\n",
       "one",
       {"f"}},
      {"head without an empty line",
       "From: a@x\r\nSubject: only head\r\n",
       "",
       {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const Served served = Open(c.message);
    EXPECT_EQ(served.result, 0);
    EXPECT_EQ(served.from, "a@x");
    EXPECT_EQ(served.text, c.text);
    EXPECT_EQ(served.names, c.names);
  }
  EXPECT_EQ(Open("From: a@x\r\nSubject: only head\r\n").subject, "only head");
}

TEST_F(RealWorldMail, DecodesQuotedPrintableAsMailWritesIt) {
  const std::pair<std::string, std::string> kCases[] = {
      {"=3d", "="},
      {"=Ea", "\xEA"},
      {"=4g", "=4g"},
      {"x=\nAy", "xAy"},
      {"a=\rXb", "a=\rXb"},
      {"ab=4", "ab=4"},
      {"?id=5", "?id=5"},
      {"a= \r\nb", "ab"},
      {"https://x.example/ref=od_aui", "https://x.example/ref=od_aui"},
  };
  for (const auto& [stored, decoded] : kCases) {
    const Served served = Open(
        "From: a@x\r\nContent-Transfer-Encoding: quoted-printable\r\n"
        "Subject: =?utf-8?Q?caf=c3=a9_=3d?=\r\n\r\n" +
        stored);
    EXPECT_EQ(served.text, decoded) << stored;
    EXPECT_EQ(served.subject, "caf\xC3\xA9 =");
  }
  // A caller's length that cuts the content short drops a cut "=" sequence.
  const std::string path = dir_.File("cut.cf");
  WriteFile(path, MakeHead(StandardHeadLines("SMTP")) +
                      "From: a@x\r\nContent-Transfer-Encoding: "
                      "quoted-printable\r\n\r\nab=41");
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  char buffer[8] = {};
  EXPECT_EQ(mail.GetMailText(buffer, 4), 2u);
  EXPECT_EQ(mail.GetMailText(buffer, 5), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abA");
}

TEST_F(RealWorldMail, ANulByteEndsNeitherTheTextNorTheAttachments) {
  const Served served = Open(
      "From: a@x\r\nSubject: zero\0gap\r\nContent-Type: multipart/mixed; "
      "boundary=Q\r\n\r\n--Q\r\n\r\nbefore\0after\r\n--Q\r\n"
      "Content-Disposition: attachment; filename=z.bin\r\n\r\n\0\0\0\r\n"
      "--Q\r\nContent-Disposition: attachment; filename=last.txt\r\n\r\n"
      "end\r\n--Q--\r\n"s);
  EXPECT_EQ(served.result, 0);
  EXPECT_EQ(served.subject, "zero");  // record fields are C strings
  EXPECT_EQ(served.text, "before\0after"s);
  EXPECT_EQ(served.names, (std::vector<std::string>{"z.bin", "last.txt"}));
  EXPECT_EQ(served.contents, (std::vector<std::string>{"\0\0\0"s, "end"}));
}

TEST_F(RealWorldMail, PartsWithoutANameCanBeAttachments) {
  const Served served = Open(
      "From: a@x\r\nContent-Type: multipart/mixed; boundary=Q\r\n\r\n"
      "--Q\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: "
      "base64\r\n\r\nJVBERg==\r\n"
      "--Q\r\nContent-Type: text/plain\r\n\r\nthe text\r\n"
      "--Q\r\nContent-Type: IMAGE/png\r\nContent-ID: <i1>\r\n\r\npng\r\n"
      "--Q\r\nContent-Type: text/plain\r\nContent-Disposition:  ATTACHMENT\r\n"
      "\r\nlog\r\n"
      "--Q\r\nContent-Type: message/rfc822\r\n\r\nFrom: b@y\r\n\r\nhi\r\n"
      "--Q\r\nContent-Type: text/csv\r\nContent-Disposition: inline; "
      "filename=t.csv\r\n\r\n1,2\r\n"
      "--Q\r\n\r\nsecond text\r\n--Q--\r\n");
  EXPECT_EQ(served.text, "the text");
  EXPECT_EQ(served.names, (std::vector<std::string>{"", "", "", "", "t.csv"}));
  EXPECT_EQ(served.contents,
            (std::vector<std::string>{"%PDF", "png", "log",
                                      "From: b@y\r\n\r\nhi", "1,2"}));
  // A nameless PDF as the whole message is an attachment, with no text.
  const Served pdf =
      Open("From: a@x\r\nContent-Type: application/pdf\r\n\r\n%PDF-1.4");
  EXPECT_EQ(pdf.text, "");
  EXPECT_EQ(pdf.contents, (std::vector<std::string>{"%PDF-1.4"}));
}

TEST_F(RealWorldMail, AddressListsKeepEveryAddress) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Ann <a1>, Bob <b2>", "a1,b2"},
      {"a1", "a1"},
      {"Ann Lee", "Ann Lee"},
      {"undisclosed-recipients:;", "undisclosed-recipients:;"},
      {"a1, Bob <b2>", "a1,b2"},
      {"\"Keller, Bob\" <bob@x>, carol@y,\r\n Dan <dan@z>",
       "bob@x,carol@y,dan@z"},
      {"eve@x, frank@y (Frank)", "eve@x,frank@y"},
      {"Team: a@x, Bob <b@y>;, zed@z", "a@x,b@y,zed@z"},
      {"<>", ""},
      {"<>, <b2>", ",b2"},
      {"x <a <b> y>", "a <b"},
  };
  for (const auto& [value, addresses] : kCases) {
    const Served served = Open("From: " + value + "\r\nTo: " + value +
                               "\r\nCc:" + value + "\r\n\r\nx");
    EXPECT_EQ(served.to, addresses) << value;
    EXPECT_EQ(served.cc, addresses) << value;
    EXPECT_EQ(served.from, addresses) << value;
  }
}

TEST_F(RealWorldMail, NamesAndBoundariesAsWritten) {
  // 70 CJK characters and ".pdf": 214 bytes, one encoded word of 300
  // bytes, folded into the disposition value.
  std::string name;
  for (int i = 0; i < 70; ++i) name += "\xE4\xB8\xAD";
  name += ".pdf";
  std::string encoded = EncodeBase64(name);
  encoded.erase(std::remove(encoded.begin(), encoded.end(), '\r'),
                encoded.end());
  encoded.erase(std::remove(encoded.begin(), encoded.end(), '\n'),
                encoded.end());
  const std::string word = "=?UTF-8?B?" + encoded + "?=";
  ASSERT_EQ(word.size(), 300u);
  const Served served = Open(
      "From: a@x\r\nSubject:hello\r\nContent-Type: multipart/mixed;\r\n"
      " boundary=\" ab \"\r\n\r\n-- ab\r\nContent-Type: text/plain\r\n\r\n"
      "--abc is text\r\n-- ab\r\nContent-Type: application/pdf\r\n"
      "Content-Transfer-Encoding:base64\r\nContent-Disposition: attachment;"
      "\r\n filename=\"" +
      word + "\"\r\n\r\nJVBERg==\r\n-- ab--\r\n");
  EXPECT_EQ(served.subject, "hello");
  EXPECT_EQ(served.text, "--abc is text");
  EXPECT_EQ(served.names, (std::vector<std::string>{name}));
  EXPECT_EQ(served.contents, (std::vector<std::string>{"%PDF"}));
}

TEST_F(RealWorldMail, ALineThatBeginsLikeTheDelimiterHidesNothing) {
  const Served served = Open(
      "From: a@x\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\n\r\n* one\r\n--bullet point\r\n--b\r\n"
      "Content-Disposition: attachment; filename=B.txt\r\n\r\n"
      "start\r\n--B is for bravo\r\nrest\r\n--B--\r\n");
  EXPECT_EQ(served.text, "* one\r\n--bullet point");
  EXPECT_EQ(served.contents,
            (std::vector<std::string>{"start\r\n--B is for bravo\r\nrest"}));
}

}  // namespace
