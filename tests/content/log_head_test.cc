#include "content/log_head.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "contentfile.h"
#include "platform/fault_injection.h"
#include "tests/support/gbk_locale.h"
#include "tests/support/test_files.h"

namespace contentfile_internal {
namespace {

using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;
using std::string_literals::operator""s;

struct FaultGuard {
  ~FaultGuard() { ClearFaults(); }
};

// Opens the protected common analysis to the tests.
class Analyser : public CContentFile {
 public:
  using CContentFile::AnalyseLogHead;
};

// The lines of a whole head: the count, then `rest` (lines 2 on).
HeadLines WithCount(const std::vector<std::string>& rest) {
  HeadLines lines = {std::to_string(rest.size() + 1)};
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

HeadLines Standard14(const std::string& protocol) {
  return WithCount(StandardHeadLines(protocol));
}

// Runs the analysis on a record cleared as the callers clear it.
int32_t Analyse(HeadLines lines, ST_LOG_INFO* info) {
  std::memset(info, 0, sizeof(*info));
  Analyser analyser;
  return analyser.AnalyseLogHead(&lines, info);
}

bool AllZero(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// --- ReadLogHeadLines ------------------------------------------------------

struct SplitCase {
  const char* name;
  std::string file;
  HeadLines lines;
};

TEST(ReadLogHeadLines, SplitsTheHeadAtCrLfOnly) {
  // The open finds the head by LF line ends; the split takes only CR LF.
  const std::vector<SplitCase> cases = {
      {"plain head, body after it", "3\r\na\r\nb\r\nBODY\r\n", {"3", "a", "b"}},
      {"empty line kept", "4\r\na\r\n\r\nb\r\n", {"4", "a", "", "b"}},
      {"lone CR stays in the line", "3\r\na\rb\r\nc\r\n", {"3", "a\rb", "c"}},
      {"CR CR LF", "2\r\nx\r\r\n", {"2", "x\r"}},
      {"bytes after the last CR LF are no line", "3\r\na\r\nb\n", {"3", "a"}},
      {"last line without a line end", "2\r\nab", {"2"}},
      {"bare LF heads hold no line", "2\na\nbody", {}},
      {"NUL ends the text", "3\r\na\0b\r\nc\r\n"s, {"3"}},
      {"NUL right after a CR LF", "3\r\na\r\n\0\r\n\r\n"s, {"3", "a"}},
  };
  TempDir dir;
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("h.cf");
    WriteFile(path, c.file);
    CContentFile file;
    ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
    HeadLines lines = {"left over from before"};
    ASSERT_TRUE(ReadLogHeadLines(file, &lines));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(ReadLogHeadLines, FailsWithoutAHeadOrWhenItCannotBeRead) {
  FaultGuard guard;
  TempDir dir;
  const std::string path = dir.File("h.cf");
  HeadLines lines;

  CContentFile closed;
  EXPECT_FALSE(ReadLogHeadLines(closed, &lines));

  WriteFile(path, "");  // open without a head: size 0
  CContentFile empty;
  ASSERT_EQ(empty.OpenContentFile(path.c_str()), -3);
  EXPECT_FALSE(ReadLogHeadLines(empty, &lines));

  WriteFile(path, "2\r\na\r\nbody");
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  InjectFault(Fault::kAllocation, 0);
  lines = {"stale"};
  EXPECT_FALSE(ReadLogHeadLines(file, &lines));
  EXPECT_TRUE(lines.empty());
  InjectFault(Fault::kRead, 0);
  EXPECT_FALSE(ReadLogHeadLines(file, &lines));
  ClearFaults();
  EXPECT_TRUE(ReadLogHeadLines(file, &lines));
  EXPECT_EQ(lines, (HeadLines{"2", "a"}));
}

// Only the lines an analysis takes are split off: a head of many lines
// (its count says so) gives its first ones, and an HTTP POST open of it
// fills the record as from a head of 14 lines.
TEST(ReadLogHeadLines, KeepsOnlyTheLinesTheAnalysesTake) {
  constexpr size_t kLines = 300000;
  std::vector<std::string> rest = StandardHeadLines("Http Post");
  HeadLines expected = WithCount(rest);
  expected[0] = std::to_string(kLines);
  std::string head;
  for (const std::string& line : expected) head += line + "\r\n";
  for (size_t n = expected.size() + 1; n <= kLines; ++n) head += "\r\n";
  TempDir dir;
  const std::string path = dir.File("h.cf");
  WriteFile(path, head + "BODY");

  CHttpPostContentFile post;
  ASSERT_EQ(post.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(post.GetHeadSize(), head.size());
  HeadLines lines;
  ASSERT_TRUE(ReadLogHeadLines(post, &lines));
  EXPECT_EQ(lines, expected);
  ASSERT_TRUE(ReadLogHeadLines(post, &lines, 3));
  EXPECT_EQ(lines, HeadLines(expected.begin(), expected.begin() + 3));

  ST_HTTPPOST_LOG_INFO want{};
  ASSERT_EQ(Analyse(expected, &want), 0);
  EXPECT_EQ(std::memcmp(&post.GetLogInfo(), &want, sizeof(ST_LOG_INFO)), 0);
  EXPECT_STREQ(post.GetLogInfo().szLine9, rest[7].c_str());
}

// The head is read through the virtual GetContentHead, so a kind that
// overrides it is the one read.
class ReplacedHead : public CContentFile {
 public:
  int32_t GetContentHead(char* buffer, uint32_t& length) override {
    if (fail) return -4;
    std::memset(buffer, 'x', length);
    std::memcpy(buffer, "1\r\n", 3);
    length += overstated;
    return 0;
  }
  bool fail = false;
  uint32_t overstated = 0;  // bytes claimed beyond those written
};

TEST(ReadLogHeadLines, ReadsThroughTheVirtualGetContentHead) {
  TempDir dir;
  const std::string path = dir.File("h.cf");
  WriteFile(path, "2\r\nabcdef\r\n");
  ReplacedHead file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  HeadLines lines;
  ASSERT_TRUE(ReadLogHeadLines(file, &lines));
  EXPECT_EQ(lines, (HeadLines{"1"}));
  // A length beyond the buffer is not believed (the sanitizer build would
  // see a read or write past it).
  file.overstated = 4096;
  ASSERT_TRUE(ReadLogHeadLines(file, &lines));
  EXPECT_EQ(lines, (HeadLines{"1"}));
  file.fail = true;
  EXPECT_FALSE(ReadLogHeadLines(file, &lines));
}

// --- AnalyseLogHead: the fields --------------------------------------------

TEST(AnalyseLogHead, FillsEveryCommonFieldOfAFullHead) {
  ST_LOG_INFO info;
  ASSERT_EQ(Analyse(Standard14("Http Post"), &info), 0);
  EXPECT_EQ(info.nLogType, LOG_TYPE_HTTP_POST);
  EXPECT_STREQ(info.szLine3, "line3");
  EXPECT_STREQ(info.szLine4Left, "left");
  EXPECT_STREQ(info.szLine4Right, "right");
  EXPECT_EQ(info.dwAddr1, 0xC0A80001u);  // 192.168.0.1
  EXPECT_EQ(info.wPort1, 1025);
  EXPECT_EQ(info.dwAddr2, 0x0A000002u);  // 10.0.0.2
  EXPECT_EQ(info.wPort2, 25);
  EXPECT_STREQ(info.szLine11, "line11");
  EXPECT_STREQ(info.szLine12, "line12");
  EXPECT_STREQ(info.szLine13, "line13");
  EXPECT_STREQ(info.szLine14, "line14");
  EXPECT_TRUE(AllZero(info.byReserved1, sizeof(info.byReserved1)));
  EXPECT_TRUE(AllZero(info.byReserved2, sizeof(info.byReserved2)));
}

TEST(AnalyseLogHead, TakesTheFirstProtocolNameFoundInItsOrder) {
  const struct {
    const char* line2;
    int32_t type;
  } cases[] = {
      {"SMTP", LOG_TYPE_SMTP},
      {"POP3 then SMTP", LOG_TYPE_SMTP},
      {"Http Post over POP3", LOG_TYPE_POP3},
      {"captured Http Post data", LOG_TYPE_HTTP_POST},
      {"xPOP3x", LOG_TYPE_POP3},
      {"smtp", LOG_TYPE_OTHER},
      {"Smtp pop3", LOG_TYPE_OTHER},
      {"HTTP POST", LOG_TYPE_OTHER},
      {"Http  Post", LOG_TYPE_OTHER},
      {"", LOG_TYPE_OTHER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line2);
    ST_LOG_INFO info;
    ASSERT_EQ(Analyse(Standard14(c.line2), &info), 0);
    EXPECT_EQ(info.nLogType, c.type);
  }
}

// Each text field takes at most its width minus one byte, fills the rest of
// those bytes with NUL and never touches its last byte.
TEST(AnalyseLogHead, CopiesTextsBoundedAndNeverWritesTheLastByte) {
  for (size_t extra : {0, 1, 11}) {
    SCOPED_TRACE(extra);
    std::vector<std::string> rest = StandardHeadLines("SMTP");
    rest[1] = std::string(29 + extra, '3');
    rest[2] = std::string(19 + extra, 'L') + ";" + std::string(19 + extra, 'R');
    for (size_t line = 11; line <= 14; ++line) {
      rest[line - 2] = std::string(63 + extra, static_cast<char>('A' + line));
    }
    HeadLines lines = WithCount(rest);
    ST_LOG_INFO info;
    std::memset(&info, 0xEE, sizeof(info));
    Analyser analyser;
    ASSERT_EQ(analyser.AnalyseLogHead(&lines, &info), 0);

    const struct {
      const char* field;
      size_t width;
      char fill;
    } fields[] = {
        {info.szLine3, 30, '3'},       {info.szLine4Left, 20, 'L'},
        {info.szLine4Right, 20, 'R'},  {info.szLine11, 64, 'A' + 11},
        {info.szLine12, 64, 'A' + 12}, {info.szLine13, 64, 'A' + 13},
        {info.szLine14, 64, 'A' + 14},
    };
    for (const auto& f : fields) {
      EXPECT_EQ(std::string(f.field, f.width - 1),
                std::string(f.width - 1, f.fill));
      EXPECT_EQ(f.field[f.width - 1], '\xEE');
    }
    EXPECT_EQ(info.byReserved1[0], 0xEE);
    EXPECT_EQ(info.byReserved2[191], 0xEE);
  }

  // A short text: the bytes after it are NUL up to the last one.
  ST_LOG_INFO info;
  std::memset(&info, 0xEE, sizeof(info));
  HeadLines lines = Standard14("SMTP");
  Analyser analyser;
  ASSERT_EQ(analyser.AnalyseLogHead(&lines, &info), 0);
  EXPECT_EQ(std::string(info.szLine3, 30),
            "line3" + std::string(24, '\0') + "\xEE");
}

TEST(AnalyseLogHead, SplitsLine4AtItsFirstSemicolon) {
  const struct {
    const char* line4;
    const char* left;
    const char* right;
  } cases[] = {
      {";right", "", "right"}, {"left;", "left", ""}, {";", "", ""},
      {"a;b;c", "a", "b;c"},   {";;", "", ";"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line4);
    std::vector<std::string> rest = StandardHeadLines("SMTP");
    rest[2] = c.line4;
    ST_LOG_INFO info;
    ASSERT_EQ(Analyse(WithCount(rest), &info), 0);
    EXPECT_STREQ(info.szLine4Left, c.left);
    EXPECT_STREQ(info.szLine4Right, c.right);
    EXPECT_EQ(info.wPort2, 25);
  }
}

TEST(AnalyseLogHead, MalformedLine4StopsBeforeTheEndpoints) {
  for (const char* line4 : {"", "no separator", "comma,instead"}) {
    SCOPED_TRACE(line4);
    std::vector<std::string> rest = StandardHeadLines("POP3");
    rest[2] = line4;
    rest.resize(19, "more");  // a head of 20 lines
    ST_LOG_INFO info;
    EXPECT_EQ(Analyse(WithCount(rest), &info), -3);
    EXPECT_EQ(info.nLogType, LOG_TYPE_POP3);
    EXPECT_STREQ(info.szLine3, "line3");
    // Nothing from line 4 on is written.
    const size_t from = offsetof(ST_LOG_INFO, szLine4Left);
    EXPECT_TRUE(AllZero(reinterpret_cast<const char*>(&info) + from,
                        sizeof(info) - from));
  }
  // With only four lines the malformed line 4 is reported, not the missing
  // line 5.
  ST_LOG_INFO info;
  EXPECT_EQ(Analyse(WithCount({"SMTP", "x", "bad"}), &info), -3);
}

TEST(AnalyseLogHead, ReadsAddressesByTheInetAddrRules) {
  const struct {
    const char* text;
    uint32_t address;
  } cases[] = {
      {"10.0.0.1", 0x0A000001u},
      {"192.168.0.1", 0xC0A80001u},
      {"127.1", 0x7F000001u},  // the last number fills three bytes
      {"10.1.2", 0x0A010002u},
      {"3232235521", 0xC0A80001u},    // one number: the whole address
      {"012.0.0.1", 0x0A000001u},     // octal
      {"0x7f.0.0.0x1", 0x7F000001u},  // hexadecimal
      {"0XC0A80001", 0xC0A80001u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {"not an address", 0xFFFFFFFFu},
      {"", 0xFFFFFFFFu},
      {"256.0.0.1", 0xFFFFFFFFu},
      {"1.2.3.4.5", 0xFFFFFFFFu},
      {"09.1.1.1", 0xFFFFFFFFu},  // 9 is no octal digit
      {"1.2.3.4x", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> rest = StandardHeadLines("SMTP");
    rest[3] = c.text;  // line 5
    rest[5] = c.text;  // line 7
    ST_LOG_INFO info;
    ASSERT_EQ(Analyse(WithCount(rest), &info), 0);
    EXPECT_EQ(info.dwAddr1, c.address);
    EXPECT_EQ(info.dwAddr2, c.address);
  }
}

TEST(AnalyseLogHead, ReadsPortsByTheAtoiRulesKeepingTheLow16Bits) {
  const struct {
    const char* text;
    uint16_t port;
  } cases[] = {
      {"80", 80},       {" \t443", 443},         {"+21", 21},
      {"25 smtp", 25},  {"70000", 4464},         {"65536", 0},
      {"65535", 65535}, {"-1", 65535},           {"", 0},
      {"port", 0},      {"99999999999", 0xE7FF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> rest = StandardHeadLines("SMTP");
    rest[4] = c.text;  // line 6
    rest[6] = c.text;  // line 8
    ST_LOG_INFO info;
    ASSERT_EQ(Analyse(WithCount(rest), &info), 0);
    EXPECT_EQ(info.wPort1, c.port);
    EXPECT_EQ(info.wPort2, c.port);
  }
}

// --- AnalyseLogHead: missing lines -----------------------------------------

// Heads of 0 to 15 lines: the analysis raises at the first line it lacks,
// with every field before it stored and every later one still zero.
TEST(AnalyseLogHead, RaisesAtTheFirstMissingLineKeepingWhatCameBefore) {
  const HeadLines full = Standard14("Http Post");
  ST_LOG_INFO expected;
  ASSERT_EQ(Analyse(full, &expected), 0);

  // The line each field comes from and where it sits.
  const struct {
    size_t line;
    size_t offset;
    size_t size;
  } fields[] = {
      {2, offsetof(ST_LOG_INFO, nLogType), 4},
      {3, offsetof(ST_LOG_INFO, szLine3), 30},
      {4, offsetof(ST_LOG_INFO, szLine4Left), 40},
      {5, offsetof(ST_LOG_INFO, dwAddr1), 4},
      {6, offsetof(ST_LOG_INFO, wPort1), 2},
      {7, offsetof(ST_LOG_INFO, dwAddr2), 4},
      {8, offsetof(ST_LOG_INFO, wPort2), 2},
      {11, offsetof(ST_LOG_INFO, szLine11), 64},
      {12, offsetof(ST_LOG_INFO, szLine12), 64},
      {13, offsetof(ST_LOG_INFO, szLine13), 64},
      {14, offsetof(ST_LOG_INFO, szLine14), 64},
  };
  for (size_t count = 0; count <= 15; ++count) {
    SCOPED_TRACE(count);
    HeadLines lines = full;
    lines.resize(count, "line15");
    ST_LOG_INFO info;
    if (count < 14) {
      EXPECT_THROW(Analyse(lines, &info), std::invalid_argument);
    } else {
      EXPECT_EQ(Analyse(lines, &info), 0);
    }
    const auto* got = reinterpret_cast<const char*>(&info);
    const auto* want = reinterpret_cast<const char*>(&expected);
    for (const auto& f : fields) {
      SCOPED_TRACE(f.line);
      if (f.line <= count) {
        EXPECT_EQ(std::memcmp(got + f.offset, want + f.offset, f.size), 0);
      } else {
        EXPECT_TRUE(AllZero(got + f.offset, f.size));
      }
    }
  }
}

TEST(AnalyseLogHead, NullListOrRecordIsAnInvalidArgument) {
  Analyser analyser;
  ST_LOG_INFO info{};
  HeadLines lines = Standard14("SMTP");
  EXPECT_THROW(analyser.AnalyseLogHead(nullptr, &info), std::invalid_argument);
  EXPECT_THROW(analyser.AnalyseLogHead(&lines, nullptr), std::invalid_argument);
}

// --- Multibyte awareness -----------------------------------------------------

// In a double-byte locale a protocol name must begin on a character: the
// "S" of "\xB0S" is the second byte of one GBK character.
TEST(AnalyseLogHead, ProtocolNamesNeverMatchOnATrailByte) {
  CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
  const struct {
    std::string line2;
    int32_t type;
  } cases[] = {
      {"\xB0SMTP", LOG_TYPE_OTHER},
      {"\x81POP3", LOG_TYPE_OTHER},
      {"\xC4Http Post", LOG_TYPE_OTHER},
      {"\xB0SMTP \x81POP3", LOG_TYPE_OTHER},
      {"\xB0SMTP POP3", LOG_TYPE_POP3},
      {"\xB0\xA1SMTP", LOG_TYPE_SMTP},  // a whole character, then the name
      {"\xB0SMTPSMTP", LOG_TYPE_SMTP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line2);
    ST_LOG_INFO info;
    ASSERT_EQ(Analyse(Standard14(c.line2), &info), 0);
    EXPECT_EQ(info.nLogType, c.type);
  }
  // A double-byte character before the ";" stays whole on the left.
  std::vector<std::string> rest = StandardHeadLines("SMTP");
  rest[2] = "\xD6\xD0;\xCE\xC4";
  ST_LOG_INFO info;
  ASSERT_EQ(Analyse(WithCount(rest), &info), 0);
  EXPECT_STREQ(info.szLine4Left, "\xD6\xD0");
  EXPECT_STREQ(info.szLine4Right, "\xCE\xC4");
}

TEST(AnalyseLogHead, ProtocolNamesMatchAnyByteInTheCLocale) {
  ST_LOG_INFO info;
  ASSERT_EQ(Analyse(Standard14("\xB0SMTP"), &info), 0);
  EXPECT_EQ(info.nLogType, LOG_TYPE_SMTP);
}

}  // namespace
}  // namespace contentfile_internal
