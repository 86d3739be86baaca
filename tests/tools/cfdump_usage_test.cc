// cfdump as a new user meets it: standard streams, causes in words, files
// that are no captures, quiet runs for scripts, repeated extractions.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/cfdump_run.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using cfdump_test::Base64Attachment;
using cfdump_test::BytesAt;
using cfdump_test::Capture;
using cfdump_test::Json;
using cfdump_test::Lines;
using cfdump_test::MailCapture;
using cfdump_test::ParseJson;
using cfdump_test::RandomBytes;
using cfdump_test::RunCfdump;
using cfdump_test::RunResult;
using contentfile_test::ReadFile;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

TEST(CfdumpUsage, DashIsStandardInputAndStandardOutput) {
  TempDir dir;
  const std::string body = RandomBytes(100000, 5);
  const std::string capture = dir.File("post.cf");
  WriteFile(capture, Capture("Http Post", body));

  RunResult info = RunCfdump({"--json", "-"}, capture);
  EXPECT_EQ(info.status, 0) << info.err;
  Json report = ParseJson(Lines(info.out).at(0));
  EXPECT_EQ(BytesAt(report, "/path"), "-");
  EXPECT_EQ(BytesAt(report, "/kind"), "http_post");

  RunResult piped = RunCfdump({"body", "-", "-o", "-"}, capture);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(piped.out == body);

  const std::string out = dir.File("out");
  RunResult extract = RunCfdump({"extract", "-q", "-", "-d", out}, capture);
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(extract.out, out + "/stdin/body\n");
  EXPECT_TRUE(ReadFile(out + "/stdin/body") == body);

  EXPECT_EQ(RunCfdump({"-", "-"}, capture).status, 2);
}

TEST(CfdumpUsage, FailuresGiveTheirRealCause) {
  TempDir dir;
  const std::string capture = dir.File("post.cf");
  WriteFile(capture, Capture("Http Post", "body"));
  const std::string missing = dir.File("missing/out");
  for (const char* command : {"head", "body"}) {
    RunResult run = RunCfdump({command, capture, "-o", missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("260"), std::string::npos) << run.err;
  }
  // A folder that cannot be made: the first cause, not a later one.
  const std::string denied = "/sys/cfdump-test-folder";
  if (mkdir(denied.c_str(), 0777) == 0) {
    rmdir(denied.c_str());
    GTEST_SKIP() << "folders can be made in /sys here";
  }
  const int cause = errno;
  RunResult run = RunCfdump({"extract", capture, "-d", denied + "/below"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(std::strerror(cause)), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("extracted to"), std::string::npos);
}

TEST(CfdumpUsage, FilesThatAreNoCapturesAreNamedSo) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
      {"mail.eml", "From: <a@example.org>\r\nSubject: hi\r\n\r\nbody\r\n"},
      {"notes.txt", "3 apples\r\n2 pears\r\n"}};
  for (const auto& [name, bytes] : files) WriteFile(dir.File(name), bytes);
  for (const auto& [name, bytes] : files) {
    RunResult run = RunCfdump({"--json", dir.File(name)});
    EXPECT_NE(run.out.find("not a content file"), std::string::npos)
        << name << ": " << run.out;
  }
  EXPECT_NE(RunCfdump({dir.File("image.png")}).out.find("PNG image"),
            std::string::npos);
  EXPECT_NE(RunCfdump({dir.File("mail.eml")})
                .out.find("mail message without a log head"),
            std::string::npos);
}

TEST(CfdumpUsage, QuietRunsPrintWhatWasSavedAndExtractSkipsItsOwnFolders) {
  TempDir dir;
  const std::string in = dir.File("in");
  fs::create_directories(in);
  WriteFile(in + "/a.cf", MailCapture("a", {Base64Attachment("x.bin", "1"),
                                            Base64Attachment("y.bin", "2")}));
  WriteFile(in + "/b.cf", Capture("Http Post", "b"));
  const std::string out = dir.File("out");
  RunResult first = RunCfdump({"extract", "-q", in, "-d", out});
  EXPECT_EQ(first.status, 0) << first.err;
  std::vector<std::string> paths = Lines(first.out);
  for (const std::string& path : paths) {
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  }
  EXPECT_EQ(paths.size(), 3u + 1u) << first.out;  // a text, two, a body
  EXPECT_NE(first.err.find("2 captures, 0 failed"), std::string::npos)
      << first.err;

  // The folders just written are no captures for a later run.
  RunResult again = RunCfdump({"extract", "-q", in, out, "-d", dir.File("x")});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("2 captures, 0 failed"), std::string::npos)
      << again.err;
  RunResult info = RunCfdump({"info", "-q", in});
  EXPECT_EQ(info.out, "");
  EXPECT_NE(info.err.find("2 captures"), std::string::npos);
}

}  // namespace
