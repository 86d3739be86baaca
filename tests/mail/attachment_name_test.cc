// The names that make parts attachments.

#include "mail/attachment_name.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/mail_parser.h"
#include "tests/mail/mail_parser_test_util.h"

namespace contentfile_test {
namespace {

using contentfile_internal::AttachmentName;
using contentfile_internal::MAIL_PART_ATTACHMENT;
using contentfile_internal::MAIL_PART_TEXT;
using contentfile_internal::MailParserTestPeer;

struct NameCase {
  std::string header_lines;  // each line preceded by CR LF, as in a part
  std::string name;
};

TEST(AttachmentName, TakesTheDispositionFileNameOrName) {
  const NameCase cases[] = {
      {"\r\nContent-Disposition: attachment; filename=\"my file.txt\"",
       "my file.txt"},
      {"\r\nContent-Disposition: attachment; filename=\"a;b.txt\"; size=3",
       "a;b.txt"},
      {"\r\nContent-Disposition: attachment; filename=\"long\r\n name.txt\"",
       "long name.txt"},
      {"\r\nContent-Disposition: attachment; filename=\"my file.txt",
       "my"},  // no closing quote
      {"\r\nContent-Disposition: attachment; filename=plain.txt; size=3",
       "plain.txt"},
      {"\r\nContent-Disposition: attachment", ""},
      {"\r\ncontent-disposition: ATTACHMENT; FILENAME=f.txt; name=g.txt",
       "g.txt"},
      {"\r\nContent-Disposition: inline;\r\n\tfilename=b.txt", "b.txt"},
      {"\r\nContent-Disposition: attachment; filename= x.txt", ""},
      {"\r\nContent-Disposition: attachment; filename=\"=?utf-8?B?YS50eHQ=?=\"",
       "=?utf-8?B?YS50eHQ=?="},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(AttachmentName(c.header_lines.data(), c.header_lines.size()),
              c.name)
        << c.header_lines;
  }
}

TEST(AttachmentName, ReadsRfc2231Parameters) {
  const NameCase cases[] = {
      {"\r\nContent-Disposition: attachment; filename*=utf-8''a.txt", "a.txt"},
      {"\r\nContent-Disposition: attachment; filename*=utf-8''a%20b.txt",
       "a b.txt"},
      {"\r\nContent-Disposition: attachment; FileName*=utf-8'en'%E4%b8.txt",
       "\xE4\xB8.txt"},
      {"\r\nContent-Disposition: attachment;\r\n filename*0*=utf-8''a%20;\r\n"
       " filename*1=\"b c\"; filename*2*=%2Etxt",
       "a b c.txt"},
      // Sections are joined by number, up to the first one missing.
      {"\r\nContent-Disposition: attachment; filename*1=b; filename*0=a;"
       " filename*3=d",
       "ab"},
      // A "%" without two hexadecimal digits stays.
      {"\r\nContent-Disposition: attachment; filename*=''100%.t%x", "100%.t%x"},
      // Only at the start of a parameter.
      {"\r\nContent-Disposition: attachment; xfilename*=''a.txt", ""},
      // "filename=" and "name=" come first.
      {"\r\nContent-Disposition: attachment; filename*=''a.txt; name=b.txt",
       "b.txt"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(AttachmentName(c.header_lines.data(), c.header_lines.size()),
              c.name)
        << c.header_lines;
  }
}

TEST(AttachmentName, FallsBackToTheContentTypeName) {
  const NameCase cases[] = {
      {"\r\nContent-Type: image/gif; name=x.gif", "x.gif"},
      {"\r\nContent-Type: image/gif; name=\"x y.gif\"", "x y.gif"},
      {"\r\nContent-Type: image/gif; name*=utf-8''x%20y.gif", "x y.gif"},
      {"\r\nContent-Type: image/gif; name=x.gif\r\n"
       "Content-Disposition: attachment",
       "x.gif"},
      {"\r\nContent-Type: image/gif; name=x.gif\r\n"
       "Content-Disposition: attachment; filename=y.gif",
       "y.gif"},
      {"\r\nContent-Type: text/plain; charset=utf-8", ""},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(AttachmentName(c.header_lines.data(), c.header_lines.size()),
              c.name)
        << c.header_lines;
  }
}

// The cut comes when the name is handed out, after its encoded words are
// decoded.
TEST(AttachmentName, KeepsTheWholeOfALongName) {
  const std::string long_name(300, 'n');
  for (const std::string& lines :
       {"\r\nContent-Disposition: attachment; filename=" + long_name,
        "\r\nContent-Type: a/b; name*0=" + long_name.substr(0, 150) +
            "; name*1=" + long_name.substr(150)}) {
    EXPECT_EQ(AttachmentName(lines.data(), lines.size()), long_name);
  }
}

TEST(AttachmentName, MatchesOnTheFirstLineOfAHeaderBlock) {
  const std::string lines =
      "Content-Disposition: attachment; filename=a.txt\r\nX: y";
  EXPECT_EQ(AttachmentName(lines.data(), lines.size()), "a.txt");

  // A part that begins right on its first header line.
  const std::string message =
      "Subject: x\r\n\r\nContent-Disposition: attachment; filename=b.txt\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\ndata";
  auto parser = LoadMessage(message);
  ST_MAIL_PART part;
  part.nStart = static_cast<uint32_t>(message.find("Content-Disposition"));
  part.nEnd = static_cast<uint32_t>(message.size());
  ASSERT_EQ(MailParserTestPeer::ParsePartHead(*parser, part),
            CMailParser::kPartAnalysed);
  EXPECT_EQ(part.strName, "b.txt");
  EXPECT_EQ(part.strEncoding, "base64");
  EXPECT_EQ(Content(*parser, part), "data");
}

TEST(AttachmentName, NamedPartsAreAttachmentsWhereverTheNameStands) {
  const std::string message =
      "From: a1\r\nContent-Type: multipart/mixed; boundary=XX\r\n\r\n"
      "--XX\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
      "--XX\r\nContent-Type: image/gif; name=x.gif\r\n\r\nR0lG\r\n"
      "--XX\r\nContent-Disposition: attachment; filename*=utf-8''a%20b.txt"
      "\r\n\r\nab\r\n--XX--\r\n";
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  const std::vector<ST_MAIL_PART>& parts = parser->Parts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].nType, MAIL_PART_TEXT);
  EXPECT_EQ(parts[1].nType, MAIL_PART_ATTACHMENT);
  EXPECT_EQ(parts[1].strName, "x.gif");
  EXPECT_EQ(parts[2].nType, MAIL_PART_ATTACHMENT);
  EXPECT_EQ(parts[2].strName, "a b.txt");
}

}  // namespace
}  // namespace contentfile_test
