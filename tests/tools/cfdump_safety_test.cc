// cfdump on shared folders and with hostile names: what it writes never
// lands on a capture, outside DIR or on an input, and names cannot hide
// what they are.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/support/cfdump_run.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using cfdump_test::Base64Attachment;
using cfdump_test::BytesAt;
using cfdump_test::Capture;
using cfdump_test::FilesBelow;
using cfdump_test::Json;
using cfdump_test::Lines;
using cfdump_test::MailCapture;
using cfdump_test::ParseJson;
using cfdump_test::RunCfdump;
using cfdump_test::RunResult;
using contentfile_test::ReadFile;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(CfdumpSafety, OutputNeverLandsOnTheCaptureOrAContentFileHeldOpen) {
  TempDir dir;
  const std::string capture = dir.File("mail.cf");
  const std::string bytes =
      MailCapture("s", {Base64Attachment("a.bin", "attached")});
  WriteFile(capture, bytes);
  const std::string hard = dir.File("hard");
  const std::string soft = dir.File("soft");
  ASSERT_EQ(link(capture.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(capture.c_str(), soft.c_str()), 0);
  // Another capture, held open through the library by this process.
  const std::string held = dir.File("held.cf");
  const std::string held_bytes = Capture("Http Post", "held body");
  WriteFile(held, held_bytes);
  CContentFile holder;
  ASSERT_EQ(holder.OpenContentFile(held.c_str()), 0);

  for (const char* command : {"head", "body", "text"}) {
    for (const std::string& target : {capture, hard, soft, held}) {
      RunResult run = RunCfdump({command, "-f", capture, "-o", target});
      EXPECT_EQ(run.status, 1) << command << " -o " << target;
      EXPECT_NE(run.err.find(target), std::string::npos) << run.err;
      EXPECT_EQ(ReadFile(capture), bytes) << command << " -o " << target;
      EXPECT_EQ(ReadFile(held), held_bytes) << command << " -o " << target;
    }
  }
  // Standard output that is the capture (opened for appending) too.
  const std::string shell = std::string("'") + cfdump_test::kCfdump +
                            "' head '" + capture + "' >> '" + capture + "'";
  EXPECT_NE(std::system(shell.c_str()), 0);
  EXPECT_EQ(ReadFile(capture), bytes);
}

// A process that, until `deadline` or until killed, keeps doing `step`.
template <typename Step>
pid_t StartRacer(std::chrono::seconds deadline, Step step) {
  const pid_t pid = fork();
  if (pid == 0) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end && step()) {
    }
    _exit(0);
  }
  return pid;
}

void StopRacer(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

std::vector<cfdump_test::Attachment> ManyAttachments(int count) {
  std::vector<cfdump_test::Attachment> attachments;
  for (int i = 0; i < count; ++i) {
    attachments.push_back(Base64Attachment("f" + std::to_string(i),
                                           "written " + std::to_string(i)));
  }
  return attachments;
}

TEST(CfdumpSafety, ARacerInDirCannotRedirectTheExtraction) {
  TempDir dir;
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("many", ManyAttachments(3000)));
  const std::string victim = dir.File("victim");
  const std::string out = dir.File("out");
  fs::create_directories(victim);
  fs::create_directories(out);
  const std::string folder = out + "/mail.cf";
  const std::string moved = out + "/moved";

  // Swaps the capture's folder for a link to the victim's folder as soon as
  // extraction has made it.
  const pid_t racer = StartRacer(std::chrono::seconds(20), [&] {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    if (rename(folder.c_str(), moved.c_str()) != 0) return true;
    symlink(victim.c_str(), folder.c_str());
    return false;
  });
  RunResult run = RunCfdump({"extract", "-q", capture, "-d", out});
  StopRacer(racer);
  EXPECT_LE(run.status, 1) << run.err;
  EXPECT_TRUE(NamesIn(victim).empty())
      << NamesIn(victim).size() << " files written into the victim's folder";
}

TEST(CfdumpSafety, ARacerCannotTurnForcedFilesIntoLinks) {
  TempDir dir;
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("many", ManyAttachments(1000)));
  const std::string outside = dir.File("outside.txt");
  WriteFile(outside, "untouched");
  const std::string out = dir.File("out");
  // The attacker's folder, made in advance where the capture's will be.
  const std::string folder = out + "/mail.cf";
  fs::create_directories(folder);

  // Replaces every file that appears in the folder by a link to `outside`.
  const pid_t racer = StartRacer(std::chrono::seconds(20), [&] {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return true;
    while (const struct dirent* entry = readdir(listing)) {
      if (entry->d_type != DT_REG) continue;
      const std::string path = folder + "/" + entry->d_name;
      if (unlink(path.c_str()) == 0) symlink(outside.c_str(), path.c_str());
    }
    closedir(listing);
    return true;
  });
  for (int round = 0; round < 3; ++round) {
    RunResult run = RunCfdump({"extract", "-q", "--force", capture, "-d", out});
    EXPECT_LE(run.status, 1) << run.err;
  }
  StopRacer(racer);
  EXPECT_EQ(ReadFile(outside), "untouched");
}

TEST(CfdumpSafety, ForceNeverReusesAFolderThatHoldsAnInput) {
  TempDir dir;
  const std::string out = dir.File("out");
  // An input that lies in the folder the next capture would reuse, and an
  // attachment named like it.
  const std::string inner = out + "/mail.cf/inner.cf";
  fs::create_directories(out + "/mail.cf");
  const std::string inner_bytes = Capture("Http Post", "inner body");
  WriteFile(inner, inner_bytes);
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture,
            MailCapture("s", {Base64Attachment("inner.cf", "replacement")}));

  RunResult run = RunCfdump(
      {"extract", "--json", "--force", "-j", "1", capture, inner, "-d", out});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(inner), inner_bytes);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(BytesAt(ParseJson(lines[0]), "/extract/dir"), out + "/mail-2.cf");
  EXPECT_EQ(ReadFile(out + "/mail-2.cf/inner.cf"), "replacement");
  EXPECT_EQ(ReadFile(out + "/inner.cf/body"), "inner body");
}

TEST(CfdumpSafety, LinksInFolderWalksAreSkippedButNamedOnesAreRead) {
  TempDir dir;
  const std::string secret = dir.File("secret.cf");
  WriteFile(secret, Capture("Http Post", "private"));
  chmod(secret.c_str(), 0600);
  fs::create_directories(dir.File("in"));
  WriteFile(dir.File("in/a.cf"), Capture("Http Post", "public"));
  ASSERT_EQ(symlink(secret.c_str(), dir.File("in/b.cf").c_str()), 0);

  const std::string out = dir.File("out");
  RunResult walk = RunCfdump({"extract", "-q", dir.File("in"), "-d", out});
  EXPECT_EQ(walk.status, 0) << walk.err;
  EXPECT_EQ(walk.out, out + "/a.cf/body\n");
  EXPECT_EQ(NamesIn(out), (std::set<std::string>{"a.cf"}));

  RunResult named = RunCfdump({"--json", dir.File("in/b.cf")});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(ParseJson(Lines(named.out).at(0))["body_size"].number, 7);
}

TEST(CfdumpSafety, DirectionMarksNeitherNameFilesNorReachTheReport) {
  // Each mark in UTF-8, between "invoice" and "txt.exe".
  const std::vector<std::pair<std::string, const char*>> marks = {
      {"\xD8\x9C", "\\u061C"},     {"\xE2\x80\x8E", "\\u200E"},
      {"\xE2\x80\x8F", "\\u200F"}, {"\xE2\x80\xAA", "\\u202A"},
      {"\xE2\x80\xAB", "\\u202B"}, {"\xE2\x80\xAC", "\\u202C"},
      {"\xE2\x80\xAD", "\\u202D"}, {"\xE2\x80\xAE", "\\u202E"},
      {"\xE2\x81\xA6", "\\u2066"}, {"\xE2\x81\xA7", "\\u2067"},
      {"\xE2\x81\xA8", "\\u2068"}, {"\xE2\x81\xA9", "\\u2069"}};
  TempDir dir;
  std::vector<cfdump_test::Attachment> attachments;
  for (size_t i = 0; i < marks.size(); ++i) {
    attachments.push_back(Base64Attachment(
        "invoice" + marks[i].first + "txt" + std::to_string(i) + ".exe", "x"));
  }
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("marks", attachments));

  RunResult text = RunCfdump({capture});
  EXPECT_EQ(text.status, 0) << text.err;
  for (size_t i = 0; i < marks.size(); ++i) {
    EXPECT_EQ(text.out.find(marks[i].first), std::string::npos) << i;
    EXPECT_NE(text.out.find(std::string("invoice") + marks[i].second + "txt" +
                            std::to_string(i) + ".exe"),
              std::string::npos)
        << marks[i].second;
  }
  RunResult json = RunCfdump({"--json", capture});
  for (const auto& mark : marks) {
    EXPECT_EQ(json.out.find(mark.first), std::string::npos);
  }
  Json report = ParseJson(Lines(json.out).at(0));
  EXPECT_EQ(BytesAt(report, "/mail/attachments/7/name"),
            "invoice\xE2\x80\xAEtxt7.exe");  // the bytes survive the escape

  const std::string out = dir.File("out");
  RunResult extract = RunCfdump({"extract", "-q", capture, "-d", out});
  EXPECT_EQ(extract.status, 0) << extract.err;
  std::set<std::string> expected = {"text.txt"};
  for (size_t i = 0; i < marks.size(); ++i) {
    expected.insert("invoice_txt" + std::to_string(i) + ".exe");
  }
  std::set<std::string> saved;
  for (const auto& [path, bytes] : FilesBelow(out)) {
    saved.insert(fs::path(path).filename().string());
  }
  EXPECT_EQ(saved, expected);
}

}  // namespace
