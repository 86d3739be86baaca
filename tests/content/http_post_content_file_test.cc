#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "contentfile.h"
#include "platform/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

using contentfile_internal::ClearFaults;
using contentfile_internal::Fault;
using contentfile_internal::InjectFault;
using contentfile_test::MakeHead;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

constexpr char kBody[] = "user=alice&note=hello+world";

struct FaultGuard {
  ~FaultGuard() { ClearFaults(); }
};

// The record's bytes, gap and padding included.
std::string Bytes(const ST_HTTPPOST_LOG_INFO& info) {
  return std::string(reinterpret_cast<const char*>(&info), sizeof(info));
}

std::string Body(CContentFile& file) {
  std::string out(file.GetBodySize() + 1, '\0');
  uint32_t length = static_cast<uint32_t>(out.size());
  if (file.GetContentBody(out.data(), length) != 0) return "<unreadable>";
  out.resize(length);
  return out;
}

// A capture whose head holds lines 2 on as given.
std::string WriteCapture(const TempDir& dir, const std::string& name,
                         const std::vector<std::string>& rest,
                         const std::string& body = kBody) {
  std::string path = dir.File(name);
  WriteFile(path, MakeHead(rest) + body);
  return path;
}

TEST(HttpPostContentFile, OpensAndAnalysesACapture) {
  TempDir dir;
  const struct {
    const char* line2;
    int32_t type;
  } cases[] = {
      {"Http Post", LOG_TYPE_HTTP_POST},
      {"SMTP", LOG_TYPE_SMTP},  // the kind found is not checked
      {"something else", LOG_TYPE_OTHER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line2);
    const std::vector<std::string> rest = StandardHeadLines(c.line2);
    const std::string path = WriteCapture(dir, "post.cf", rest);
    CHttpPostContentFile file;
    ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
    const ST_HTTPPOST_LOG_INFO& info = file.GetLogInfo();
    EXPECT_EQ(info.nLogType, c.type);
    EXPECT_STREQ(info.szLine3, "line3");
    EXPECT_STREQ(info.szLine4Left, "left");
    EXPECT_STREQ(info.szLine4Right, "right");
    EXPECT_EQ(info.dwAddr1, 0xC0A80001u);
    EXPECT_EQ(info.wPort1, 1025);
    EXPECT_EQ(info.dwAddr2, 0x0A000002u);
    EXPECT_EQ(info.wPort2, 25);
    EXPECT_STREQ(info.szLine9, "line9");
    EXPECT_STREQ(info.szLine14, "line14");
    EXPECT_EQ(file.GetHeadSize(), MakeHead(rest).size());
    EXPECT_EQ(file.GetBodySize(), sizeof(kBody) - 1);
    EXPECT_EQ(Body(file), kBody);
  }
}

TEST(HttpPostContentFile, CutsLine9At255Bytes) {
  TempDir dir;
  std::vector<std::string> rest = StandardHeadLines("Http Post");
  rest[7] = std::string(255, 'u') + std::string(45, 'v');
  CHttpPostContentFile file;
  ASSERT_EQ(file.OpenContentFile(WriteCapture(dir, "a.cf", rest).c_str()), 0);
  const ST_HTTPPOST_LOG_INFO& info = file.GetLogInfo();
  EXPECT_EQ(std::string(info.szLine9, 256), std::string(255, 'u') + '\0');
}

TEST(HttpPostContentFile, MalformedLine4StillTakesLine9) {
  TempDir dir;
  CHttpPostContentFile file;
  // Fill the record first, so that the zeros below are the clearing's.
  ASSERT_EQ(
      file.OpenContentFile(
          WriteCapture(dir, "full.cf", StandardHeadLines("SMTP")).c_str()),
      0);

  std::vector<std::string> rest = StandardHeadLines("Http Post");
  rest[2] = "no separator";
  rest.resize(9);  // a head of 10 lines
  ASSERT_EQ(file.OpenContentFile(WriteCapture(dir, "bad.cf", rest).c_str()), 0);
  ST_HTTPPOST_LOG_INFO expected{};
  expected.nLogType = LOG_TYPE_HTTP_POST;
  std::strcpy(expected.szLine3, "line3");
  std::strcpy(expected.szLine9, "line9");
  EXPECT_EQ(Bytes(file.GetLogInfo()), Bytes(expected));
}

TEST(HttpPostContentFile, RaisesForAMissingLineWithTheFileOpen) {
  TempDir dir;
  const std::string first =
      WriteCapture(dir, "full.cf", StandardHeadLines("SMTP"));

  // Line 4 malformed, 8 lines: the common analysis returns, line 9 is
  // missing.
  std::vector<std::string> short_bad = StandardHeadLines("Http Post");
  short_bad[2] = "";
  short_bad.resize(7);
  // Line 4 well formed, 13 lines: the common analysis raises at line 14.
  std::vector<std::string> short_good = StandardHeadLines("Http Post");
  short_good.resize(12);

  for (const auto* rest : {&short_bad, &short_good}) {
    CHttpPostContentFile file;
    ASSERT_EQ(file.OpenContentFile(first.c_str()), 0);
    const std::string path = WriteCapture(dir, "short.cf", *rest);
    EXPECT_THROW(file.OpenContentFile(path.c_str()), std::invalid_argument);

    const ST_HTTPPOST_LOG_INFO& info = file.GetLogInfo();
    EXPECT_EQ(info.nLogType, LOG_TYPE_HTTP_POST);
    EXPECT_STREQ(info.szLine3, "line3");
    EXPECT_STREQ(info.szLine9, "");
    if (rest == &short_bad) {
      EXPECT_EQ(info.dwAddr1, 0u);
      EXPECT_STREQ(info.szLine11, "");
    } else {
      EXPECT_EQ(info.wPort2, 25);
      EXPECT_STREQ(info.szLine13, "line13");
      EXPECT_STREQ(info.szLine14, "");
    }
    EXPECT_EQ(Body(file), kBody);  // still open
  }
}

TEST(HttpPostContentFile, FailedOpensLeaveTheRecordAsItWas) {
  FaultGuard guard;
  TempDir dir;
  const std::string good =
      WriteCapture(dir, "good.cf", StandardHeadLines("Http Post"));
  CHttpPostContentFile file;
  ASSERT_EQ(file.OpenContentFile(good.c_str()), 0);
  const std::string before = Bytes(file.GetLogInfo());

  // Whatever the base open reports becomes -10.
  const std::string empty = dir.File("empty.cf");
  WriteFile(empty, "");
  const std::string cut = dir.File("cut.cf");
  WriteFile(cut, "5\r\nHttp Post\r\n");
  const std::string missing = dir.File("missing.cf");
  const char* const failing[] = {missing.c_str(), nullptr, dir.path().c_str(),
                                 empty.c_str(), cut.c_str()};
  for (const char* path : failing) {
    SCOPED_TRACE(path == nullptr ? "null" : path);
    EXPECT_EQ(file.OpenContentFile(path), -10);
    EXPECT_EQ(Bytes(file.GetLogInfo()), before);
    EXPECT_EQ(file.GetBodySize(), 0u);
  }

  // The head cannot be read: -11, the file open with its sizes.
  const std::string other =
      WriteCapture(dir, "other.cf", StandardHeadLines("SMTP"), "xyz");
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(file.OpenContentFile(other.c_str()), -11);
  EXPECT_EQ(Bytes(file.GetLogInfo()), before);
  EXPECT_EQ(Body(file), "xyz");
}

TEST(HttpPostContentFile, CloseKeepsTheRecord) {
  TempDir dir;
  CHttpPostContentFile file;
  EXPECT_EQ(Bytes(file.GetLogInfo()), Bytes(ST_HTTPPOST_LOG_INFO{}));
  ASSERT_EQ(
      file.OpenContentFile(
          WriteCapture(dir, "a.cf", StandardHeadLines("Http Post")).c_str()),
      0);
  const std::string analysed = Bytes(file.GetLogInfo());
  EXPECT_EQ(file.CloseContentFile(), 0);
  EXPECT_EQ(file.GetHeadSize(), 0u);
  EXPECT_EQ(file.GetBodySize(), 0u);
  EXPECT_EQ(Bytes(file.GetLogInfo()), analysed);
  EXPECT_EQ(file.CloseContentFile(), 0);
}

TEST(HttpPostContentFile, ASecondOpenLeavesOnlyTheSecondFilesValues) {
  TempDir dir;
  // The first file fills every text field to its limit.
  std::vector<std::string> long_lines = StandardHeadLines("SMTP");
  for (std::string& line : long_lines) line += std::string(300, 'x');
  long_lines[2] = std::string(100, 'l') + ";" + std::string(100, 'r');
  std::vector<std::string> short_lines = {
      "Http Post", "a", ";", "1.2.3.4", "1", "", "", "9", "", "", "", "", ""};
  const std::string first = WriteCapture(dir, "long.cf", long_lines);
  const std::string second = WriteCapture(dir, "short.cf", short_lines);

  CHttpPostContentFile reused;
  ASSERT_EQ(reused.OpenContentFile(first.c_str()), 0);
  ASSERT_EQ(reused.OpenContentFile(second.c_str()), 0);
  CHttpPostContentFile fresh;
  ASSERT_EQ(fresh.OpenContentFile(second.c_str()), 0);
  EXPECT_EQ(Bytes(reused.GetLogInfo()), Bytes(fresh.GetLogInfo()));
  EXPECT_STREQ(reused.GetLogInfo().szLine9, "9");
}

TEST(HttpPostContentFile, CopiesShareTheFileAndCopyTheRecord) {
  TempDir dir;
  const std::string path =
      WriteCapture(dir, "a.cf", StandardHeadLines("Http Post"));
  auto original = std::make_unique<CHttpPostContentFile>();
  ASSERT_EQ(original->OpenContentFile(path.c_str()), 0);

  CHttpPostContentFile copy(*original);
  CHttpPostContentFile assigned;
  assigned = *original;
  const std::string record = Bytes(original->GetLogInfo());
  original.reset();  // the copies keep the file

  for (CHttpPostContentFile* f : {&copy, &assigned}) {
    EXPECT_EQ(Bytes(f->GetLogInfo()), record);
    EXPECT_EQ(Body(*f), kBody);
  }
  EXPECT_EQ(copy.CloseContentFile(), 0);
  EXPECT_EQ(Body(assigned), kBody);
  EXPECT_EQ(Bytes(copy.GetLogInfo()), record);

  CHttpPostContentFile& self = assigned;
  assigned = self;
  EXPECT_EQ(Bytes(assigned.GetLogInfo()), record);
  EXPECT_EQ(Body(assigned), kBody);
}

TEST(HttpPostContentFile, OpensTheBundledSample) {
  CHttpPostContentFile file;
  ASSERT_EQ(
      file.OpenContentFile(CONTENTFILE_SOURCE_DIR "/samples/http_post.cf"), 0);
  const ST_HTTPPOST_LOG_INFO& info = file.GetLogInfo();
  EXPECT_EQ(info.nLogType, LOG_TYPE_HTTP_POST);
  EXPECT_NE(info.szLine9[0], '\0');
  EXPECT_NE(info.szLine14[0], '\0');
  EXPECT_NE(info.dwAddr1, 0xFFFFFFFFu);
  EXPECT_NE(info.wPort2, 0);
  EXPECT_GT(file.GetBodySize(), 0u);
}

}  // namespace
