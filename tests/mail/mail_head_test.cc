// The message head: field lookup, the head fields, the boundary and their
// normalisation.

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "bytes/byte_search.h"
#include "mail/header_text.h"
#include "mail/mail_parser.h"
#include "tests/mail/mail_parser_test_util.h"

namespace contentfile_test {
namespace {

using contentfile_internal::MailParserTestPeer;

struct FieldCase {
  std::string block;
  std::string key;
  bool found;
  std::string value;
};

TEST(GetHeadField, TakesTheFirstMatchVerbatimWithItsFoldedLines) {
  const FieldCase cases[] = {
      {"A: 1\r\nSubject: a\r\n\tb\r\nTo: c", "\r\nSubject: ", true, "a\r\n\tb"},
      {"A: 1\r\nSubject: a\r\n\tb\r\nTo: c", "\r\nTo: ", true, "c"},
      {"A: 1\r\nSUBJECT: hi", "\r\nSubject: ", true, "hi"},
      // No space needs to follow the colon; one that does is not the value.
      {"A: 1\r\nSubject:hi", "\r\nSubject: ", true, "hi"},
      {"Subject:hi", "\r\nSubject: ", true, "hi"},
      {"A: 1\r\nX-From:y", "From: ", true, "y"},
      {"A: 1\r\nSubject:\thi", "\r\nSubject: ", true, "\thi"},
      {"A: 1\r\nSubject:  hi  ", "\r\nSubject: ", true, " hi  "},
      {"A: 1\r\nSubject: one\r\nSubject: two", "\r\nSubject: ", true, "one"},
      {"A: 1\r\nSubject: \r\nB: 2", "\r\nSubject: ", true, ""},
      // A fold at the very end runs the value to the end of the text; a
      // plain CR LF there ends it.
      {"A: 1\r\nSubject: x\r\n ", "\r\nSubject: ", true, "x\r\n "},
      {"A: 1\r\nSubject: x\r\n", "\r\nSubject: ", true, "x"},
      // Keys that begin with CR LF match on the first line too, ahead of
      // any later line.
      {"To: b2\r\nTo: c3", "\r\nTo: ", true, "b2"},
      {"to: b2", "\r\nTo: ", true, "b2"},
      {"XTo: b2", "\r\nTo: ", false, ""},
      {"X-Sender-From: y", "From: ", true, "y"},
      {"", "\r\nTo: ", false, ""},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.block + " / " + c.key);
    std::string value = "untouched";
    const int32_t result =
        CMailParser::GetHeadField(c.block.data(), c.block.size(), c.key, value);
    EXPECT_EQ(result,
              c.found ? CMailParser::kFieldFound : CMailParser::kFieldNotFound);
    EXPECT_EQ(value, c.found ? c.value : "untouched");
  }
}

TEST(GetHeadField, StaysWithinTheGivenLength) {
  const std::string text = "A: 1\r\nSubject: abc\r\nTo: x";
  std::string value;
  // The length ends the text inside the Subject value.
  ASSERT_EQ(CMailParser::GetHeadField(text.data(), 17, "\r\nSubject: ", value),
            CMailParser::kFieldFound);
  EXPECT_EQ(value, "ab");
  EXPECT_EQ(CMailParser::GetHeadField(text.data(), 17, "\r\nTo: ", value),
            CMailParser::kFieldNotFound);
}

TEST(ScanHeadLines, AgreesWithTheEmptyLineAndFieldSearches) {
  using contentfile_internal::FindBytes;
  using contentfile_internal::FindFieldKey;
  using contentfile_internal::FindHeadFields;
  using contentfile_internal::kNotFound;
  using contentfile_internal::ScanHeadLines;
  const std::string_view keys[] = {
      "\r\nFrom: ", "\r\nTo: ", "\r\nContent-Type: ", "\r\nCc: "};
  const std::string texts[] = {
      "",
      "\r\n\r\nTo: x",
      "\r\r\n\r\nTo: x",
      "To: a\r\nFROM:b\r\n\tTo: c\r\nCc: d\r\n\r\nCc: e",
      "X-To: a\r\nto:\r\n\r\n",
      "From: a\nTo: b\r\nTo: c",
      "Content-Type: x\r\n\r\r\nFrom: y\r\n\r\n",
      "C\r\nCc:",
      "To:",
      "1o: x\r\nTo: y",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const char* empty = FindBytes(text.data(), text.size(), "\r\n\r\n", 4);
    const size_t head = empty == nullptr
                            ? text.size()
                            : static_cast<size_t>(empty - text.data());
    size_t found[std::size(keys)];
    EXPECT_EQ(
        ScanHeadLines(text.data(), text.size(), keys, std::size(keys), found),
        empty == nullptr ? kNotFound : head);
    for (size_t i = 0; i < std::size(keys); ++i) {
      EXPECT_EQ(found[i], FindFieldKey(text.data(), head, keys[i])) << i;
    }
    // Over the whole text, empty lines and all, the fields are those that
    // FindHeadField gives one by one.
    std::string_view values[std::size(keys)];
    FindHeadFields(text.data(), text.size(), keys, std::size(keys), values);
    for (size_t i = 0; i < std::size(keys); ++i) {
      EXPECT_EQ(values[i], contentfile_internal::FindHeadField(
                               text.data(), text.size(), keys[i])
                               .value_or(""))
          << i;
    }
  }
}

TEST(MailHead, TakesTheFieldsOfTheHeadOnly) {
  auto parser = LoadMessage(
      "From: Ann <a1>\r\nTo: b2\r\nSubject: hi\r\nCc: <c3>, <c4>\r\n\r\n"
      "To: not-the-head\r\nContent-Type: text/plain\r\n\r\nbody");
  EXPECT_EQ(MailParserTestPeer::ParseMailHead(*parser),
            CMailParser::kHeadParsed);
  EXPECT_EQ(parser->From(), "a1");
  EXPECT_EQ(parser->To(), "b2");
  EXPECT_EQ(parser->Subject(), "hi");
  EXPECT_EQ(parser->Cc(), "c3,c4");
  EXPECT_EQ(parser->ContentType(), "");
  EXPECT_EQ(parser->Boundary(), "");
}

TEST(MailHead, FindsFieldsOnTheFirstLine) {
  auto to_first = LoadMessage("To: b2\r\nFrom: a1\r\n\r\nbody");
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*to_first),
            CMailParser::kHeadParsed);
  EXPECT_EQ(to_first->To(), "b2");
  EXPECT_EQ(to_first->From(), "a1");

  auto type_first = LoadMessage(
      "Content-Type: multipart/mixed; boundary=b1\r\nFrom: a1\r\n\r\nbody");
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*type_first),
            CMailParser::kHeadParsed);
  EXPECT_EQ(type_first->ContentType(), "multipart/mixed; boundary=b1");
  EXPECT_EQ(type_first->Boundary(), "b1");
}

TEST(MailHead, FromFallsBackToAnyFromKey) {
  // The line-anchored key finds an empty From; the fallback then matches
  // inside the longer field name.
  auto parser = LoadMessage("X-Sender-From: y\r\nFrom: \r\nTo: z\r\n\r\nb");
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*parser),
            CMailParser::kHeadParsed);
  EXPECT_EQ(parser->From(), "y");
  EXPECT_EQ(parser->To(), "z");
}

TEST(MailHead, AHeadWithoutAnEmptyLineIsAllHeadUnlessItIsNoMail) {
  // Head lines only: the fields are read, and there is no part.
  for (const std::string& message : {std::string("From: a1\r\nSubject: hi\r\n"),
                                     std::string("From: a1\r\nSubject:hi")}) {
    auto parser = LoadMessage(message);
    ASSERT_EQ(parser->Parse(), CMailParser::kParsed) << message;
    EXPECT_EQ(parser->From(), "a1");
    EXPECT_EQ(parser->Subject(), "hi");
    EXPECT_TRUE(parser->Parts().empty());
  }
  // No CR LF at all, or a first line that is no header field.
  const std::string refused[] = {
      "From: a1\nSubject: hi\n\nbody",
      "From: a1",
      "no field here\r\nFrom: a1\r\n",
      ": a1\r\nFrom: a1\r\n",
      "",
  };
  for (const std::string& message : refused) {
    auto parser = LoadMessage(message);
    EXPECT_EQ(parser->Parse(), CMailParser::kHeadNotFound) << message;
    EXPECT_EQ(parser->From(), "");
    EXPECT_TRUE(parser->Parts().empty());
  }
  CMailParser empty;
  EXPECT_EQ(empty.Parse(), CMailParser::kNoContent);
}

TEST(MailHead, TakesTheBoundaryFromTheContentType) {
  const std::pair<std::string, std::string> cases[] = {
      {"multipart/mixed; boundary=\"b1\"", "b1"},
      {"multipart/mixed;\r\n\tboundary=\"b1\"; x=y", "b1"},
      {"multipart/mixed; boundary=b1;type=x", "b1"},
      {"multipart/mixed; boundary=\t\"b1\"", "b1"},
      {"multipart/mixed; boundary= b1", ""},
      {"text/plain; boundary=b1", "b1"},
      {"multipart/mixed", ""},
      // Parameter names match without regard to case.
      {"multipart/mixed; Boundary=b1", "b1"},
      {"multipart/mixed; BOUNDARY=\"b1\"", "b1"},
      // A quoted boundary runs to its closing quote.
      {"multipart/mixed; boundary=\"a b\"", "a b"},
      {"multipart/mixed; boundary=\"a;b=c\"; x=y", "a;b=c"},
      // Without its closing quote it stops where an unquoted one does.
      {"multipart/mixed; boundary=\"a b", "a"},
  };
  for (const auto& [content_type, boundary] : cases) {
    SCOPED_TRACE(content_type);
    auto parser = LoadMessage("From: a1\r\nContent-Type: " + content_type +
                              "\r\n\r\nbody");
    ASSERT_EQ(MailParserTestPeer::ParseMailHead(*parser),
              CMailParser::kHeadParsed);
    EXPECT_EQ(parser->Boundary(), boundary);
  }
}

TEST(MailHead, DecodesTheWholeSubjectAfterUnfoldingIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"Re: =?utf-8?B?YWJj?= (2)", "Re: abc (2)"},
      {"=?utf-8?Q?xyz?= =?utf-8?B?YWJj?=", "xyzabc"},
      {"=?utf-8?B?YWJj?=\r\n =?utf-8?B?ZGVm?=", "abcdef"},
      {"=?iso-8859-1?Q?a_b?=", "a b"},
      {"=?utf-8?B?"
       "?=",
       ""},  // split: not a trigraph
      {"Hello", "Hello"},
      {"a =? b", "a =? b"},
      {"=?utf-8?B?YWJj", "=?utf-8?B?YWJj"},
      {"a\r\n\tb\r\n c", "a\tb c"},
      {"", ""},
  };
  for (const auto& [subject, expected] : cases) {
    SCOPED_TRACE(subject);
    auto parser =
        LoadMessage("From: a1\r\nSubject: " + subject + "\r\nTo: b\r\n\r\nx");
    ASSERT_EQ(MailParserTestPeer::ParseMailHead(*parser),
              CMailParser::kHeadParsed);
    EXPECT_EQ(parser->Subject(), expected);
  }
}

TEST(MailHead, DecodesSubjectsOfAnyLength) {
  // 3,000 folded words of "abc": far beyond any fixed working buffer.
  std::string subject = "=?utf-8?B?YWJj?=";
  std::string expected = "abc";
  for (int i = 1; i < 3000; ++i) {
    subject += "\r\n =?utf-8?B?YWJj?=";
    expected += "abc";
  }
  auto parser = LoadMessage("Subject: " + subject + "\r\n\r\nbody");
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*parser),
            CMailParser::kHeadParsed);
  EXPECT_EQ(parser->Subject(), expected);

  const std::string plain(5000, 's');
  auto long_plain = LoadMessage("Subject: " + plain + "\r\n\r\nbody");
  ASSERT_EQ(MailParserTestPeer::ParseMailHead(*long_plain),
            CMailParser::kHeadParsed);
  EXPECT_EQ(long_plain->Subject(), plain);
}

TEST(ExtractAddresses, KeepsTheTextsBetweenAngleBrackets) {
  const std::pair<std::string, std::string> cases[] = {
      {"Ann <a1>, Bob <b2>", "a1,b2"},
      {"Ann <a1>,\r\n\tBob <b2>", "a1,b2"},
      // No address at all: unchanged, folds included.
      {"a1", "a1"},
      {"Ann Lee", "Ann Lee"},
      {"undisclosed-recipients:;", "undisclosed-recipients:;"},
      {"Ann\r\n Lee", "Ann\r\n Lee"},
      {"<a1", "<a1"},
      {"", ""},
      // Every mailbox counts, bare ones too.
      {"a1, Bob <b2>", "a1,b2"},
      {"\"Keller, Bob\" <bob@x>, carol@y,\r\n Dan <dan@z>",
       "bob@x,carol@y,dan@z"},
      {"eve@x, frank@y (Frank)", "eve@x,frank@y"},
      {"(Eve, E.) eve@x", "eve@x"},
      {"Team: a@x, Bob <b@y>;, zed@z", "a@x,b@y,zed@z"},
      {"\"a\\\"<b>, c\" <q@x>", "q@x"},
      {"<a1>, <b2", "a1,<b2"},
      {"x <a <b> y>", "a <b"},
      {"<>", ""},
      {"<>, <b2>", ",b2"},
  };
  for (const auto& [value, addresses] : cases) {
    EXPECT_EQ(CMailParser::ExtractAddresses(value), addresses) << value;
  }
}

}  // namespace
}  // namespace contentfile_test
