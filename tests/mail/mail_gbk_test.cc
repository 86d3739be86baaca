// Parameter keys in a double-byte locale: "boundary=", "filename=" and
// "name=" never match from the trail byte of a double-byte character.

#include <gtest/gtest.h>

#include <string>

#include "mail/attachment_name.h"
#include "mail/mail_parser.h"
#include "tests/mail/mail_parser_test_util.h"
#include "tests/support/gbk_locale.h"

namespace contentfile_test {
namespace {

using contentfile_internal::AttachmentName;
using contentfile_internal::MailParserTestPeer;

// In GBK, 0x81 followed by a byte from 0x40 to 0xFE is one character, so the
// "b", "B", "f" or "n" after it is no character of its own.
const std::string kBoundaryMessage =
    "From: a1\r\nContent-Type: multipart/mixed; x=\"\x81"
    "boundary=zz \x81"
    "Boundary=yy\"; boundary=b1\r\n\r\n"
    "--b1\r\nContent-Disposition: attachment; x=\x81"
    "filename=evil;"
    " filename=good.txt\r\n\r\none\r\n"
    "--b1\r\nContent-Disposition: attachment; x=\x81name=evil; name=n.txt"
    "\r\n\r\ntwo\r\n--b1--\r\n";

TEST(MailParserGbk, ParameterKeysNeverMatchFromATrailByte) {
  CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
  auto parser = LoadMessage(kBoundaryMessage);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  EXPECT_EQ(parser->Boundary(), "b1");
  ASSERT_EQ(parser->Parts().size(), 2u);
  EXPECT_EQ(parser->Name(parser->Parts()[0]), "good.txt");
  EXPECT_EQ(parser->Name(parser->Parts()[1]), "n.txt");
}

TEST(MailParserGbk, TheSameBytesMatchInASingleByteLocale) {
  // The C locale: every byte is a character, so the keys after 0x81 count.
  auto parser = LoadMessage(kBoundaryMessage);
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*parser),
            CMailParser::kHeadParsed);
  EXPECT_EQ(parser->Boundary(), "zz");
  const std::string lines =
      "\r\nContent-Disposition: attachment; x=\x81"
      "filename=evil;"
      " filename=good.txt";
  EXPECT_EQ(AttachmentName(lines.data(), lines.size()), "evil");
}

}  // namespace
}  // namespace contentfile_test
