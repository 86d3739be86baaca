// The part table: where the parts of a message lie, how they nest, and how
// each is classified.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/mail_parser.h"
#include "platform/fault_injection.h"
#include "tests/mail/mail_parser_test_util.h"

namespace contentfile_test {
namespace {

using contentfile_internal::MAIL_PART_ATTACHMENT;
using contentfile_internal::MAIL_PART_TEXT;
using contentfile_internal::MAIL_PART_UNCLASSIFIED;
using contentfile_internal::MailParserTestPeer;
using std::string_literals::operator""s;

// What a test expects of an entry.
struct Expected {
  int32_t type;
  std::string content;
  std::string name;
  std::string encoding;
};

void ExpectParts(const CMailParser& parser,
                 const std::vector<Expected>& expected) {
  const std::vector<ST_MAIL_PART>& parts = parser.Parts();
  ASSERT_EQ(parts.size(), expected.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE("part " + std::to_string(i));
    EXPECT_EQ(parts[i].nType, expected[i].type);
    EXPECT_EQ(Content(parser, parts[i]), expected[i].content);
    EXPECT_EQ(parts[i].strName, expected[i].name);
    EXPECT_EQ(parts[i].strEncoding, expected[i].encoding);
  }
}

const char kMixedHead[] =
    "From: a1\r\nContent-Type: multipart/mixed; boundary=XX\r\n\r\n";

TEST(PartTable, LocatesTheTwoPartsOfAMultipartMessage) {
  const std::string message = Lines({
      "From: a1",
      "Content-Type: multipart/mixed; boundary=\"XX\"",
      "",
      "pre",
      "--XX",
      "Content-Type: text/plain",
      "",
      "Hello",
      "--XX",
      "Content-Type: application/octet-stream",
      "Content-Transfer-Encoding: base64",
      "Content-Disposition: attachment; filename=\"a.bin\"",
      "",
      "AAEC",
      "--XX--",
  });
  ASSERT_EQ(message.size(), 252u);
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  const std::vector<ST_MAIL_PART>& parts = parser->Parts();
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].nType, MAIL_PART_TEXT);
  EXPECT_EQ(parts[0].nStart, 67u);
  EXPECT_EQ(parts[0].nEnd, 102u);
  EXPECT_EQ(parts[0].nDataStart, 97u);
  EXPECT_EQ(parts[0].strName, "");
  EXPECT_EQ(parts[0].strEncoding, "");
  EXPECT_EQ(parts[1].nType, MAIL_PART_ATTACHMENT);
  EXPECT_EQ(parts[1].nStart, 108u);
  EXPECT_EQ(parts[1].nEnd, 242u);
  EXPECT_EQ(parts[1].nDataStart, 238u);
  EXPECT_EQ(parts[1].strName, "a.bin");
  EXPECT_EQ(parts[1].strEncoding, "base64");
}

TEST(PartTable, ReplacesANestedMultipartByItsParts) {
  const std::string message = Lines({
      "From: a1",
      "Content-Type: multipart/mixed; boundary=OUT",
      "",
      "--OUT",
      "Content-Type: multipart/alternative; boundary=IN",
      "",
      "--IN",
      "Content-Type: text/plain",
      "",
      "plain",
      "--IN",
      "Content-Type: text/html",
      "",
      "html",
      "--IN--",
      "--OUT",
      "Content-Type: image/gif",
      "Content-Disposition: inline; name=x.gif",
      "",
      "R0lG",
      "--OUT--",
  });
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "plain", "", ""},
                        {MAIL_PART_TEXT, "html", "", ""},
                        {MAIL_PART_ATTACHMENT, "R0lG", "x.gif", ""}});
}

TEST(PartTable, FollowsNestingLevelAfterLevel) {
  // The usual shape of HTML mail with inline images.
  const std::string message = Lines({
      "From: a1",
      "Content-Type: multipart/mixed; boundary=\"M\"",
      "",
      "--M",
      "Content-Type: multipart/related; boundary=\"R\"",
      "",
      "--R",
      "Content-Type: multipart/alternative; boundary=\"A\"",
      "",
      "--A",
      "Content-Type: text/plain",
      "",
      "plain",
      "--A",
      "Content-Type: text/html",
      "",
      "<p>html</p>",
      "--A--",
      "--R",
      "Content-Type: image/png",
      "Content-ID: <img1>",
      "Content-Disposition: inline; filename=\"img.png\"",
      "",
      "iVBO",
      "--R--",
      "--M",
      "Content-Type: application/pdf; name=\"doc.pdf\"",
      "Content-Transfer-Encoding: base64",
      "",
      "JVBE",
      "--M--",
  });
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "plain", "", ""},
                        {MAIL_PART_TEXT, "<p>html</p>", "", ""},
                        {MAIL_PART_ATTACHMENT, "iVBO", "img.png", ""},
                        {MAIL_PART_ATTACHMENT, "JVBE", "doc.pdf", "base64"}});
}

// A message whose one part holds `levels` multiparts, each inside the one
// before, the innermost holding the text "leaf".
std::string NestedMessage(int levels) {
  std::string message =
      "From: a1\r\nContent-Type: multipart/mixed; boundary=top\r\n\r\n--top";
  for (int level = 1; level <= levels; ++level) {
    const std::string boundary = "lvl" + std::to_string(level) + "z";
    message += "\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
               "\"\r\n\r\n--" + boundary;
  }
  message += "\r\nContent-Type: text/plain\r\n\r\nleaf";
  for (int level = levels; level >= 1; --level) {
    message += "\r\n--lvl" + std::to_string(level) + "z--";
  }
  return message + "\r\n--top--\r\n";
}

TEST(PartTable, FollowsNestingDownToItsLimit) {
  auto deepest = LoadMessage(NestedMessage(CMailParser::kMaxNestingLevels));
  ASSERT_EQ(deepest->Parse(), CMailParser::kParsed);
  ExpectParts(*deepest, {{MAIL_PART_TEXT, "leaf", "", ""}});

  // One level more, and at any depth beyond: the multipart at the limit stays
  // one entry, whole.
  for (int levels : {CMailParser::kMaxNestingLevels + 1, 300, 5000}) {
    SCOPED_TRACE(levels);
    auto parser = LoadMessage(NestedMessage(levels));
    ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
    ASSERT_EQ(parser->Parts().size(), 1u);
    const ST_MAIL_PART& part = parser->Parts()[0];
    EXPECT_EQ(part.nType, MAIL_PART_TEXT);
    const std::string boundary =
        "lvl" + std::to_string(CMailParser::kMaxNestingLevels + 1) + "z";
    EXPECT_EQ(Content(*parser, part).substr(0, boundary.size() + 2),
              "--" + boundary);
  }
}

// An empty part, top-level or nested, its delimiter line followed by the
// next one (padding allowed), gets no entry: no part is entered twice.
TEST(PartTable, EmptyPartsGetNoEntry) {
  const struct {
    std::string body;
    std::vector<std::string> contents;
  } kCases[] = {
      {Lines({"--XX", "Content-Type: multipart/alternative; boundary=IN", "",
              "--IN", "Content-Type: text/plain", "", "plain", "--IN", "--IN",
              "Content-Type: text/html", "", "html", "--IN", "--IN--",
              "--XX--"}),
       {"plain", "html"}},
      {Lines({"--XX", "Content-Type: multipart/mixed; boundary=MID", "",
              "--MID", "Content-Type: multipart/alternative; boundary=IN", "",
              "--IN", "", "plain", "--IN", "--IN--", "--MID", "", "after",
              "--MID--", "--XX--"}),
       {"plain", "after"}},
      {Lines(
           {"--XX", "--XX", "", "one", "--XX \t", "--XX", "", "two", "--XX--"}),
       {"one", "two"}},
      {Lines({"--XX", "--XX--"}), {}},
  };
  for (const auto& c : kCases) {
    const std::string message = kMixedHead + c.body;
    SCOPED_TRACE(message);
    auto parser = LoadMessage(message);
    ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
    ASSERT_EQ(parser->Parts().size(), c.contents.size());
    for (size_t i = 0; i < c.contents.size(); ++i) {
      EXPECT_EQ(Content(*parser, parser->Parts()[i]), c.contents[i]);
      EXPECT_EQ(parser->Parts()[i].nType, MAIL_PART_TEXT);
    }
  }
}

// The header block of a single-part message is its whole head, wherever
// the Content-Type line stands and whether there is one or not.
TEST(PartTable, ASinglePartMessageIsItsWholeHeadAndBody) {
  auto parser = LoadMessage(
      "From: a1\r\nContent-Type: text/plain\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nSGk=\r\n");
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ASSERT_EQ(parser->Parts().size(), 1u);
  EXPECT_EQ(parser->Parts()[0].nStart, 0u);
  EXPECT_EQ(parser->Parts()[0].nEnd, 79u);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "SGk=\r\n", "", "base64"}});

  auto reordered = LoadMessage(
      "From: a1\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Type: text/plain\r\n\r\nSGk=\r\n");
  ASSERT_EQ(reordered->Parse(), CMailParser::kParsed);
  ExpectParts(*reordered, {{MAIL_PART_TEXT, "SGk=\r\n", "", "base64"}});

  // A Content-Type line in the body is content.
  auto plain = LoadMessage(
      "From: a1\r\nSubject: hi\r\n\r\nbody\r\nContent-Type: text/html\r\n"
      "\r\nmore");
  ASSERT_EQ(plain->Parse(), CMailParser::kParsed);
  ExpectParts(*plain,
              {{MAIL_PART_TEXT, "body\r\nContent-Type: text/html\r\n\r\nmore",
                "", ""}});
}

TEST(PartTable, ContentTypeOnTheFirstLineStartsTheSinglePartAtZero) {
  auto parser = LoadMessage(
      "Content-Type: application/octet-stream; name=x.bin\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nAAAA");
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ASSERT_EQ(parser->Parts().size(), 1u);
  EXPECT_EQ(parser->Parts()[0].nStart, 0u);
  ExpectParts(*parser, {{MAIL_PART_ATTACHMENT, "AAAA", "x.bin", "base64"}});
}

// A multipart whose delimiter never occurs as a whole line is one part.
TEST(PartTable, AMultipartWithoutItsDelimiterIsOnePart) {
  for (const std::string& body :
       {Lines({"--YY", "x", "--YY--"}), Lines({"--XXL", "x", "--XX: no"})}) {
    auto parser = LoadMessage(kMixedHead + body);
    ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
    ExpectParts(*parser, {{MAIL_PART_TEXT, body, "", ""}});
  }
}

// A delimiter counts only as a whole line: "--", the boundary, then "--",
// or padding and the line's end or the message's end.
TEST(PartTable, ALineThatMerelyBeginsWithTheDelimiterIsContent) {
  const std::string head = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
  auto parser =
      LoadMessage(head + Lines({"--b", "", "--bullet point", "--B is for bravo",
                                "--b\t ", "", "two", "--b--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser,
              {{MAIL_PART_TEXT, "--bullet point\r\n--B is for bravo", "", ""},
               {MAIL_PART_TEXT, "two", "", ""}});
  // The last delimiter may end the message.
  auto unterminated = LoadMessage(head + "--b\r\n\r\none\r\n--b");
  ASSERT_EQ(unterminated->Parse(), CMailParser::kParsed);
  ExpectParts(*unterminated, {{MAIL_PART_TEXT, "one", "", ""}});
}

TEST(PartTable, PartsNoDelimiterClosesGetNoEntry) {
  auto parser = LoadMessage(kMixedHead +
                            Lines({"--XX", "", "one", "--XX", "", "cut off"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "one", "", ""}});
}

TEST(PartTable, TheClosingDelimiterEndsItsMultipart) {
  auto parser = LoadMessage(
      kMixedHead +
      Lines({"--XX",   "Content-Type: multipart/alternative; boundary=IN",
             "",       "--IN",
             "",       "inner",
             "--IN--", "--IN",
             "",       "inner stray",
             "--IN",   "--XX",
             "",       "one",
             "--XX--", "epilogue",
             "--XX",   "",
             "stray",  "--XX"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "inner", "", ""},
                        {MAIL_PART_TEXT, "one", "", ""}});

  // A closing delimiter that comes first leaves no part at all.
  auto closed =
      LoadMessage(kMixedHead + Lines({"--XX--", "--XX", "", "x", "--XX"}));
  ASSERT_EQ(closed->Parse(), CMailParser::kParsed);
  EXPECT_TRUE(closed->Parts().empty());
}

TEST(PartTable, DelimitersMatchWithoutRegardToCase) {
  auto parser = LoadMessage(
      "From: a1\r\nContent-Type: multipart/mixed; boundary=Ab\r\n\r\n" +
      Lines({"--aB", "", "text", "--AB--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser, {{MAIL_PART_TEXT, "text", "", ""}});
}

TEST(PartTable, ABoundaryWithoutItsDelimiterInsideLeavesThePartWhole) {
  // The text mentions a boundary that delimits nothing.
  auto mention = LoadMessage(kMixedHead +
                             Lines({"--XX", "", "see boundary=zz", "--XX--"}));
  ASSERT_EQ(mention->Parse(), CMailParser::kParsed);
  ExpectParts(*mention, {{MAIL_PART_TEXT, "see boundary=zz", "", ""}});

  // The inner boundary's delimiter occurs only as the prefix of the outer
  // delimiter that closes the part.
  auto prefix = LoadMessage(
      "From: a1\r\nContent-Type: multipart/mixed; boundary=XX1\r\n\r\n" +
      Lines({"--XX1", "Content-Type: multipart/alternative; boundary=XX", "",
             "body", "--XX1--"}));
  ASSERT_EQ(prefix->Parse(), CMailParser::kParsed);
  ExpectParts(*prefix, {{MAIL_PART_TEXT, "body", "", ""}});
}

TEST(PartTable, ANestedBoundaryIsReadLikeTheMessageBoundary) {
  // Any letter case, and a quoted value with a space.
  auto parser = LoadMessage(
      kMixedHead +
      Lines({"--XX", "Content-Type: multipart/alternative; BOUNDARY=\"i n\"",
             "", "--i n", "", "first", "--i", "", "not a delimiter", "--i n",
             "", "second", "--i n--", "--XX--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ExpectParts(*parser,
              {{MAIL_PART_TEXT, "first\r\n--i\r\n\r\nnot a delimiter", "", ""},
               {MAIL_PART_TEXT, "second", "", ""}});
}

TEST(PartTable, FindsKeysAndDelimitersOnEitherSideOfTheScanWindows) {
  // A large part is searched in windows; what straddles the edge of one
  // must be found as anywhere else.
  const size_t part_start = sizeof(kMixedHead) - 1 + 4;
  const size_t window_edge = part_start + (size_t{256} << 10);
  const std::string part_head = "\r\nContent-Type: text/plain\r\n\r\n";
  for (int shift = -12; shift <= 12; ++shift) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    const size_t at =
        static_cast<size_t>(static_cast<long>(window_edge) + shift);

    const std::string before_key(at - part_start - part_head.size(), 'A');
    auto keyed = LoadMessage(
        kMixedHead + ("--XX" + part_head) + before_key +
        Lines({"boundary=IN", "--IN", "", "inner", "--IN--", "--XX--"}));
    ASSERT_EQ(keyed->Parse(), CMailParser::kParsed);
    ExpectParts(*keyed, {{MAIL_PART_TEXT, "inner", "", ""}});

    const std::string content(at - part_start - 4, 'B');
    auto delimited = LoadMessage(kMixedHead + ("--XX\r\n\r\n" + content) +
                                 Lines({"", "--XX--"}));
    ASSERT_EQ(delimited->Parse(), CMailParser::kParsed);
    ExpectParts(*delimited, {{MAIL_PART_TEXT, content, "", ""}});
  }

  // A key in the next part belongs to that part only.
  auto next = LoadMessage(kMixedHead +
                          Lines({"--XX", "", "plain", "--XX", "", "boundary=IN",
                                 "--IN", "", "inner", "--IN--", "--XX--"}));
  ASSERT_EQ(next->Parse(), CMailParser::kParsed);
  ExpectParts(*next, {{MAIL_PART_TEXT, "plain", "", ""},
                      {MAIL_PART_TEXT, "inner", "", ""}});
}

TEST(PartTable, FindsTheContentOfEachPart) {
  auto parser = LoadMessage(
      kMixedHead +
      Lines({"--XX", "", "no header lines",                     // 0
             "--XX", "Content-Type: text/plain",                // 1: no
             "--XX", "Content-Transfer-Encoding: Base64 ", "",  //   empty
             "x",                                               //   line
             "--XX", "Content-Disposition: attachment; filename=a", "",  // 3
             "--XX--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  const std::vector<ST_MAIL_PART>& parts = parser->Parts();
  ASSERT_EQ(parts.size(), 4u);
  // The empty line right after the delimiter line: an empty header block.
  EXPECT_EQ(parts[0].nDataStart, parts[0].nStart + 4);
  // A part without an empty line borrows the next part's: no content.
  EXPECT_EQ(parts[1].nDataStart, parts[1].nEnd);
  EXPECT_EQ(parts[1].nType, MAIL_PART_TEXT);
  EXPECT_EQ(parts[2].strEncoding, "Base64 ");
  // A header block whose empty line is the delimiter's own CR LF runs past
  // the part: not analysed.
  EXPECT_EQ(parts[3].nDataStart, parts[3].nEnd);
  EXPECT_EQ(parts[3].strName, "");
  EXPECT_EQ(parts[3].nType, MAIL_PART_TEXT);
}

TEST(PartTable, AnEmptyNamedPartIsAnEmptyAttachment) {
  auto parser = LoadMessage(
      kMixedHead +
      Lines({"--XX", "Content-Disposition: attachment; filename=empty.txt", "",
             "", "--XX--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ASSERT_EQ(parser->Parts().size(), 1u);
  EXPECT_EQ(parser->Parts()[0].nDataStart, parser->Parts()[0].nEnd);
  ExpectParts(*parser, {{MAIL_PART_ATTACHMENT, "", "empty.txt", ""}});
}

TEST(PartTable, AHeaderBlockWithoutAnEmptyLineStopsTheClassification) {
  auto parser = LoadMessage(
      kMixedHead + Lines({"--XX", "", "one", "--XX", "Content-Type: text/plain",
                          "two", "--XX", "three", "--XX--"}));
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  const std::vector<ST_MAIL_PART>& parts = parser->Parts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].nType, MAIL_PART_TEXT);
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(parts[i].nType, MAIL_PART_UNCLASSIFIED);
    EXPECT_EQ(parts[i].nDataStart, 0u);
  }
  ST_MAIL_PART part = parts[1];
  EXPECT_EQ(MailParserTestPeer::ParsePartHead(*parser, part),
            CMailParser::kNoHeaderEnd);
}

TEST(PartTable, AFailedHeaderCopyStopsTheClassification) {
  const std::string message =
      kMixedHead + Lines({"--XX", "", "one", "--XX", "", "two", "--XX",
                          "Content-Disposition: attachment; filename=f", "",
                          "three", "--XX--"});
  auto parser = LoadMessage(message);
  contentfile_internal::InjectFault(contentfile_internal::Fault::kAllocation, 1,
                                    1);
  const int32_t result = parser->Parse();
  contentfile_internal::ClearFaults();
  ASSERT_EQ(result, CMailParser::kParsed);
  const std::vector<ST_MAIL_PART>& parts = parser->Parts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].nType, MAIL_PART_TEXT);
  EXPECT_EQ(parts[1].nType, MAIL_PART_UNCLASSIFIED);
  EXPECT_EQ(parts[1].nDataStart, 0u);
  EXPECT_EQ(parts[2].nType, MAIL_PART_UNCLASSIFIED);
  EXPECT_EQ(parts[2].strName, "");

  ST_MAIL_PART part = parts[2];
  contentfile_internal::InjectFault(contentfile_internal::Fault::kAllocation, 0,
                                    1);
  const int32_t head_result = MailParserTestPeer::ParsePartHead(*parser, part);
  contentfile_internal::ClearFaults();
  EXPECT_EQ(head_result, CMailParser::kNoMemory);
  EXPECT_EQ(part.strName, "");
  EXPECT_EQ(MailParserTestPeer::ParsePartHead(*parser, part),
            CMailParser::kPartAnalysed);
  EXPECT_EQ(part.strName, "f");
}

TEST(PartTable, ParsesManyPartsAndManyEmptyNestedParts) {
  std::string message = kMixedHead;
  for (int i = 0; i < 20000; ++i) {
    message += "--XX\r\nContent-Disposition: attachment; filename=f" +
               std::to_string(i) + "\r\n\r\nd\r\n";
  }
  message += "--XX--\r\n";
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  ASSERT_EQ(parser->Parts().size(), 20000u);
  EXPECT_EQ(parser->Parts()[19999].strName, "f19999");

  // Thousands of empty parts in a multipart whose header block reaches to
  // its end: none gets an entry, and nothing is copied.
  std::string nested = kMixedHead;
  nested += "--XX\r\nContent-Type: multipart/mixed; boundary=IN\r\n";
  for (int i = 0; i < 20000; ++i) nested += "--IN\r\n";
  nested += "\r\nx\r\n--XX--\r\n";
  auto empties = LoadMessage(nested);
  // A second copy of a header block would fail: there is none.
  contentfile_internal::InjectFault(contentfile_internal::Fault::kAllocation, 1,
                                    1);
  const int32_t result = empties->Parse();
  contentfile_internal::ClearFaults();
  ASSERT_EQ(result, CMailParser::kParsed);
  EXPECT_TRUE(empties->Parts().empty());
}

TEST(PartTable, ANulByteIsAnOrdinaryByte) {
  const std::string message =
      std::string(kMixedHead) + "--XX\r\n\r\none\0two\r\n--XX\r\n"s +
      "Content-Disposition: attachment; filename=a\0b\r\n\r\nx\0y\r\n"s +
      "--XX--\r\n";
  auto parser = LoadMessage(message);
  ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
  // A name, being a C string, ends at its NUL.
  ExpectParts(*parser, {{MAIL_PART_TEXT, "one\0two"s, "", ""},
                        {MAIL_PART_ATTACHMENT, "x\0y"s, "a", ""}});
}

}  // namespace
}  // namespace contentfile_test
