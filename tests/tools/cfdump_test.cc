// Runs the built cfdump as a process on captures generated here and checks
// its reports, its JSON (parsed back) and its extracted files against what
// the library itself returns.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/support/cfdump_run.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using cfdump_test::Attachment;
using cfdump_test::Base64Attachment;
using cfdump_test::BytesAt;
using cfdump_test::Capture;
using cfdump_test::FilesBelow;
using cfdump_test::Json;
using cfdump_test::Lines;
using cfdump_test::Mail;
using cfdump_test::MailCapture;
using cfdump_test::ParseJson;
using cfdump_test::RandomBytes;
using cfdump_test::RunCfdump;
using cfdump_test::RunResult;
using cfdump_test::Utf8;
using contentfile_test::EncodeBase64;
using contentfile_test::FileExists;
using contentfile_test::MakeHead;
using contentfile_test::ReadFile;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

const char kCfdump[] = CONTENTFILE_BINARY_DIR "/tools/cfdump/cfdump";

template <size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

std::string Endpoint(uint32_t address, uint16_t port) {
  return std::to_string(address >> 24) + "." +
         std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." +
         std::to_string(address & 255) + ":" + std::to_string(port);
}

std::string LibraryHead(CContentFile& file) {
  std::string head(file.GetHeadSize(), '\0');
  uint32_t length = file.GetHeadSize();
  EXPECT_EQ(file.GetContentHead(head.data(), length), 0);
  return head;
}

std::string LibraryBody(CContentFile& file) {
  std::string body(file.GetBodySize(), '\0');
  uint32_t length = file.GetBodySize();
  if (length > 0) {
    EXPECT_EQ(file.GetContentBody(body.data(), length), 0);
  }
  return body;
}

void ExpectLogAgrees(const Json& report, const ST_LOG_INFO& log) {
  const Json& json = report["log"];
  EXPECT_EQ(json["log_type"].number, log.nLogType);
  EXPECT_EQ(BytesAt(report, "/log/line3"), Field(log.szLine3));
  EXPECT_EQ(BytesAt(report, "/log/line4_left"), Field(log.szLine4Left));
  EXPECT_EQ(BytesAt(report, "/log/line4_right"), Field(log.szLine4Right));
  EXPECT_EQ(BytesAt(report, "/log/src"), Endpoint(log.dwAddr1, log.wPort1));
  EXPECT_EQ(BytesAt(report, "/log/dst"), Endpoint(log.dwAddr2, log.wPort2));
  EXPECT_EQ(BytesAt(report, "/log/line11"), Field(log.szLine11));
  EXPECT_EQ(BytesAt(report, "/log/line14"), Field(log.szLine14));
}

// Every mail field of the report against the library's answers.
void ExpectMailAgrees(const Json& report, const std::string& path) {
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0) << path;
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  ExpectLogAgrees(report, info);
  EXPECT_TRUE(report["log"]["line9"].is_null());
  EXPECT_EQ(BytesAt(report, "/head"), LibraryHead(mail));
  EXPECT_EQ(report["head_size"].number, mail.GetHeadSize());
  EXPECT_EQ(report["body_size"].number, mail.GetBodySize());
  EXPECT_EQ(BytesAt(report, "/mail/from"), Field(info.szFrom));
  EXPECT_EQ(BytesAt(report, "/mail/to"), Field(info.szTo));
  EXPECT_EQ(BytesAt(report, "/mail/cc"), Field(info.szCc));
  EXPECT_EQ(BytesAt(report, "/mail/subject"), Field(info.szSubject));
  EXPECT_EQ(report["mail"]["text_size"].number, mail.GetMailTextSize());
  const Json& attachments = report["mail"]["attachments"];
  ASSERT_EQ(attachments.items.size(),
            static_cast<size_t>(mail.GetAttachmentCount()));
  for (int32_t i = 0; i < mail.GetAttachmentCount(); ++i) {
    char name[261] = {};
    uint32_t size = 0;
    ASSERT_EQ(mail.GetAttachmentInfo(i, name, sizeof(name), size), 0);
    const std::string at = "/mail/attachments/" + std::to_string(i);
    EXPECT_EQ(attachments.items[i]["index"].number, i);
    EXPECT_EQ(BytesAt(report, at + "/name"), Field(name));
    EXPECT_EQ(attachments.items[i]["size"].number, size);
  }
}

// ---- the report ----

// "Gruesse" with its umlaut and sharp s, in UTF-8.
const char kGreeting[] = "Gr\xC3\xBC\xC3\x9F\x65";

TEST(CfdumpReport, JsonAgreesWithTheLibraryForEveryKind) {
  TempDir dir;
  const std::string smtp = dir.File("a_smtp.cf");
  const std::string pop3 = dir.File("b_pop3.cf");
  const std::string post = dir.File("c_post.cf");
  const std::string other = dir.File("d_other.cf");
  WriteFile(smtp,
            MailCapture("=?UTF-8?B?" + EncodeBase64(kGreeting) + "?=",
                        {Base64Attachment("one.bin", "\x01\x02\x03"),
                         {"two.txt", "quoted-printable", "a=3Db", "a=b"}}));
  WriteFile(pop3, Capture("POP3",
                          "From: <p@example.org>\r\nSubject: single\r\n"
                          "Content-Type: text/plain\r\n\r\nJust text.\r\n"));
  WriteFile(post, Capture("Http Post", "user=a&pass=b"));
  WriteFile(other, MakeHead({"FTP", "x"}) + "raw");

  RunResult run = RunCfdump({"--json", "-j", "1", dir.path()});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  std::vector<Json> reports;
  for (const std::string& line : lines) reports.push_back(ParseJson(line));
  const char* kinds[] = {"smtp", "pop3", "http_post", "other"};
  const std::string paths[] = {smtp, pop3, post, other};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(BytesAt(reports[i], "/path"), paths[i]);
    EXPECT_EQ(BytesAt(reports[i], "/kind"), kinds[i]);
    EXPECT_EQ(BytesAt(reports[i], "/status"), "ok");
    EXPECT_TRUE(reports[i]["error"].is_null());
    EXPECT_TRUE(reports[i]["extract"].is_null());
  }
  ExpectMailAgrees(reports[0], smtp);
  EXPECT_EQ(BytesAt(reports[0], "/mail/subject"), kGreeting);
  EXPECT_EQ(reports[0]["mail"]["attachments"].items.size(), 2u);
  ExpectMailAgrees(reports[1], pop3);

  CHttpPostContentFile http;
  ASSERT_EQ(http.OpenContentFile(post.c_str()), 0);
  ExpectLogAgrees(reports[2], http.GetLogInfo());
  EXPECT_EQ(BytesAt(reports[2], "/log/line9"),
            Field(http.GetLogInfo().szLine9));
  EXPECT_EQ(reports[2]["body_size"].number, http.GetBodySize());
  EXPECT_TRUE(reports[2]["mail"].is_null());

  EXPECT_TRUE(reports[3]["log"].is_null());
  EXPECT_EQ(BytesAt(reports[3], "/head"), MakeHead({"FTP", "x"}));
  EXPECT_EQ(reports[3]["body_size"].number, 3);
}

TEST(CfdumpReport, TextReportShowsWhatTheLibraryFinds) {
  TempDir dir;
  const std::string smtp = dir.File("mail.cf");
  WriteFile(smtp, MailCapture("Figures\x1b[2J",
                              {Base64Attachment("figures.csv", "a,b\n1,2\n")}));
  RunResult run = RunCfdump({smtp});
  EXPECT_EQ(run.status, 0) << run.err;
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(smtp.c_str()), 0);
  char name[261] = {};
  uint32_t size = 0;
  ASSERT_EQ(mail.GetAttachmentInfo(0, name, sizeof(name), size), 0);
  for (const std::string& expected :
       {std::string("SMTP"), std::string("192.168.0.1:1025 -> 10.0.0.2:25"),
        std::string("line3"), std::string("left;right"),
        std::string("sender@example.org"), std::string("rcpt@example.net"),
        std::to_string(mail.GetMailTextSize()) + " bytes",
        std::to_string(size) + "  figures.csv",
        // An escape sequence from the mail never reaches the terminal.
        std::string("Figures\\x1B[2J")}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

TEST(CfdumpReport, BytesThatAreNotUtf8SurviveTheJson) {
  TempDir dir;
  // A raw 8-bit subject, a control character, and a file name that is not
  // UTF-8 either; a valid UTF-8 attachment name stays text.
  const std::string subject = "caf\xE9 \xFF\xFE ok \xC3\xA9 \x01 \"q\" \\";
  const std::string path = dir.File("odd\xF0name.cf");
  WriteFile(
      path,
      MailCapture(subject, {Base64Attachment("\xC3\xA9t\xC3\xA9.txt", "x")}));
  RunResult run = RunCfdump({"--json", path});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(Lines(run.out).size(), 1u);
  Json report = ParseJson(Lines(run.out)[0]);  // fails on raw non-UTF-8

  std::set<std::string> listed;
  for (const Json& pointer : report["byte_strings"].items) {
    listed.insert(Utf8(pointer.text));
  }
  EXPECT_EQ(listed, (std::set<std::string>{"/path", "/mail/subject"}));
  EXPECT_EQ(BytesAt(report, "/path"), path);
  ExpectMailAgrees(report, path);
  EXPECT_NE(run.out.find("\\u00e9"), std::string::npos);
  EXPECT_EQ(BytesAt(report, "/mail/attachments/0/name"),
            "\xC3\xA9t\xC3\xA9.txt");
}

// ---- extraction ----

TEST(CfdumpExtract, SavesEveryAttachmentByteForByte) {
  TempDir dir;
  const std::string binary = RandomBytes(300000, 7);
  std::string qp_stored, qp_decoded;
  for (int i = 0; i < 200; ++i) {
    qp_stored += "line " + std::to_string(i) + " caf=C3=A9 =3D=\r\n soft\r\n";
    qp_decoded += "line " + std::to_string(i) + " caf\xC3\xA9 = soft\r\n";
  }
  const std::vector<Attachment> attachments = {
      Base64Attachment("random.bin", binary),
      {"notes.txt", "quoted-printable", qp_stored, qp_decoded},
      {"plain.txt", "", "kept as stored", "kept as stored"}};
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("files", attachments));
  const std::string out = dir.File("out");

  RunResult run = RunCfdump({"extract", "--json", capture, "-d", out});
  ASSERT_EQ(run.status, 0) << run.err;
  Json report = ParseJson(Lines(run.out).at(0));
  EXPECT_EQ(BytesAt(report, "/extract/dir"), out + "/mail.cf");
  // The mail text first, then the attachments.
  const Json& files = report["extract"]["files"];
  ASSERT_EQ(files.items.size(), attachments.size() + 1);
  EXPECT_TRUE(files.items[0]["index"].is_null());
  EXPECT_EQ(BytesAt(report, "/extract/files/0/file"),
            out + "/mail.cf/text.txt");
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(capture.c_str()), 0);
  for (size_t i = 0; i < attachments.size(); ++i) {
    const std::string at = "/extract/files/" + std::to_string(i + 1);
    const Json& saved = files.items[i + 1];
    const std::string file = BytesAt(report, at + "/file");
    EXPECT_EQ(saved["index"].number, i);
    EXPECT_EQ(file, out + "/mail.cf/" + attachments[i].filename);
    EXPECT_EQ(ReadFile(file), attachments[i].decoded) << file;
    EXPECT_EQ(saved["bytes"].number, attachments[i].decoded.size());
    EXPECT_TRUE(saved["error"].is_null());
    // The same bytes as the library saves itself.
    const std::string direct = dir.File("direct" + std::to_string(i));
    ASSERT_EQ(mail.GetAttachment2File(static_cast<int32_t>(i), direct.c_str()),
              0);
    EXPECT_EQ(ReadFile(direct), ReadFile(file));
  }
  EXPECT_EQ(FilesBelow(out).size(), attachments.size() + 1);
}

TEST(CfdumpExtract, SavesTheBodyOfOtherCaptures) {
  TempDir dir;
  const std::string body = RandomBytes(5000, 3);
  WriteFile(dir.File("post.cf"), Capture("Http Post", body));
  WriteFile(dir.File("empty.cf"), Capture("Http Post", ""));
  WriteFile(dir.File("broken.cf"), Capture("SMTP", "no empty line at all"));
  RunResult run =
      RunCfdump({"extract", "-q", dir.path(), "-d", dir.File("out")});
  EXPECT_EQ(run.status, 1);  // broken.cf is only partly read
  EXPECT_EQ(ReadFile(dir.File("out/post.cf/body")), body);
  EXPECT_EQ(ReadFile(dir.File("out/empty.cf/body")), "");
  // The raw message of a mail that cannot be parsed is still kept.
  EXPECT_EQ(ReadFile(dir.File("out/broken.cf/body")), "no empty line at all");
}

// Plain mail without MIME shows its fields and text; a part that is an
// attachment without a name is saved under a generated one.
TEST(CfdumpExtract, ServesPlainMailAndNamelessAttachments) {
  using std::string_literals::operator""s;
  TempDir dir;
  WriteFile(dir.File("cron.cf"),
            Capture("SMTP",
                    "From: root@h\r\nTo: Ops: a@h, b@h;\r\n"
                    "Subject:backup done\r\n\r\n42 files\r\n"));
  WriteFile(dir.File("scan.cf"),
            Capture("SMTP",
                    "From: s@h\r\nContent-Type: multipart/mixed; boundary=b"
                    "\r\n\r\n--b\r\nContent-Type: application/pdf\r\n\r\n"
                    "%PDF\0\r\n--bullet\r\n--b--\r\n"s));
  RunResult info = RunCfdump({"--json", dir.File("cron.cf")});
  ASSERT_EQ(info.status, 0) << info.err;
  Json report = ParseJson(Lines(info.out).at(0));
  EXPECT_EQ(BytesAt(report, "/mail/to"), "a@h,b@h");
  EXPECT_EQ(BytesAt(report, "/mail/subject"), "backup done");
  RunResult text = RunCfdump({"text", dir.File("cron.cf")});
  EXPECT_EQ(text.out, "42 files\r\n");
  RunResult run =
      RunCfdump({"extract", "-q", dir.File("scan.cf"), "-d", dir.File("out")});
  ASSERT_EQ(run.status, 0) << run.err;
  // With the extension of its media type.
  EXPECT_EQ(ReadFile(dir.File("out/scan.cf/attachment-0.pdf")),
            "%PDF\0\r\n--bullet"s);
}

TEST(CfdumpExtract, HostileNamesStayInsideDirAndOverwriteNothing) {
  TempDir dir;
  // Names as the mail gives them; "=?utf-8?B??=" decodes to an empty name
  // and the last encoded word to "a", newline, "b".
  const std::vector<std::string> names = {
      "../../x",
      "/etc/passwd",
      "a/b",
      "..",
      ".",
      "=?utf-8?B?"
      "?=",
      "CON",
      "nul.txt",
      "-rf",
      "same.txt",
      "same.txt",
      "same-2.txt",
      "..\\..\\w",
      "=?UTF-8?B?" + EncodeBase64("a\nb") + "?="};
  std::vector<Attachment> attachments;
  for (size_t i = 0; i < names.size(); ++i) {
    attachments.push_back(
        Base64Attachment(names[i], "content " + std::to_string(i)));
  }
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("hostile", attachments));
  fs::create_directories(dir.File("base/out"));
  const std::string out = dir.File("base/out");
  WriteFile(dir.File("base/outside.txt"), "untouched");

  std::multiset<std::string> expected = {"Hello there."};
  for (const Attachment& a : attachments) expected.insert(a.decoded);

  // Twice without --force: the second run gets a folder of its own and
  // leaves the first one's files as they were.
  std::map<std::string, std::string> first;
  for (int round = 0; round < 2; ++round) {
    RunResult run = RunCfdump({"extract", "--json", capture, "-d", out});
    ASSERT_EQ(run.status, 0) << run.err;
    Json report = ParseJson(Lines(run.out).at(0));
    const std::string folder = BytesAt(report, "/extract/dir");
    EXPECT_EQ(folder, out + (round == 0 ? "/mail.cf" : "/mail-2.cf"));
    std::map<std::string, std::string> saved = FilesBelow(folder);
    std::multiset<std::string> contents;
    for (const auto& [path, bytes] : saved) {
      const std::string name = fs::path(path).filename().string();
      EXPECT_EQ(fs::path(path).parent_path().string(), folder);
      EXPECT_EQ(name.find_first_of("\n\\"), std::string::npos) << name;
      EXPECT_NE(name, "..");
      EXPECT_NE(name.front(), '-');
      EXPECT_NE(name, "CON");
      contents.insert(bytes);
    }
    EXPECT_EQ(contents, expected);  // none lost, none overwritten
    if (round == 0) {
      first = FilesBelow(out);
      // The empty name, with the extension of its media type.
      EXPECT_TRUE(FileExists(folder + "/attachment-5.bin"));
      EXPECT_TRUE(FileExists(folder + "/same-2.txt"));
      EXPECT_TRUE(FileExists(folder + "/same-2-2.txt"));
    }
  }
  for (const auto& [path, bytes] : first) EXPECT_EQ(ReadFile(path), bytes);

  // With --force, a link planted where a name will land is replaced, not
  // written through.
  fs::remove(out + "/mail.cf/passwd");
  fs::create_symlink(dir.File("base/outside.txt"), out + "/mail.cf/passwd");
  RunResult forced =
      RunCfdump({"extract", "--force", "-q", capture, "-d", out});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ReadFile(dir.File("base/outside.txt")), "untouched");
  EXPECT_FALSE(fs::is_symlink(out + "/mail.cf/passwd"));
  EXPECT_EQ(ReadFile(out + "/mail.cf/passwd"), "content 1");
  // Nothing appeared beside DIR.
  std::set<std::string> beside;
  for (const auto& entry : fs::directory_iterator(dir.File("base"))) {
    beside.insert(entry.path().filename().string());
  }
  EXPECT_EQ(beside, (std::set<std::string>{"out", "outside.txt"}));
}

TEST(CfdumpExtract, LongNamesAreShortenedAndKeepTheirExtension) {
  TempDir dir;
  // Names are cut to the 255 bytes a file name may have, extension kept,
  // also when numbered and when the cut falls inside a UTF-8 character;
  // a long DIR costs no name any room.
  const std::string long_name = std::string(256, 'n') + ".pdf";
  std::string wide_name;
  while (wide_name.size() < 256) wide_name += "\xC3\xA9";
  wide_name += ".pdf";
  const std::string capture = dir.File("mail.cf");
  WriteFile(capture, MailCapture("long", {Base64Attachment(long_name, "one"),
                                          Base64Attachment(long_name, "two"),
                                          Base64Attachment(wide_name, "3")}));
  const std::string out =
      dir.File(std::string(150, 'd') + "/" + std::string(150, 'e'));
  RunResult run = RunCfdump({"extract", "--json", capture, "-d", out});
  ASSERT_EQ(run.status, 0) << run.err;
  Json report = ParseJson(Lines(run.out).at(0));
  for (const Json& file : report["extract"]["files"].items) {
    EXPECT_TRUE(file["error"].is_null());
  }
  std::map<std::string, std::string> by_name;
  for (const auto& [path, bytes] : FilesBelow(out)) {
    by_name[fs::path(path).filename().string()] = bytes;
  }
  by_name.erase("text.txt");
  ASSERT_EQ(by_name.size(), 3u);
  for (const auto& [name, bytes] : by_name) {
    // 251 bytes of two-byte characters leave room for 125 of them.
    EXPECT_EQ(name.size(), bytes == "3" ? 254u : 255u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".pdf") << name;
  }
  EXPECT_EQ(by_name[std::string(249, 'n') + "-2.pdf"], "two");
}

// ---- exit status and failures ----

TEST(CfdumpExitStatus, ZeroWhenEverythingSucceeds) {
  TempDir dir;
  WriteFile(dir.File("a.cf"), Capture("Http Post", "x"));
  EXPECT_EQ(RunCfdump({dir.File("a.cf")}).status, 0);
  EXPECT_EQ(RunCfdump({"info", "-q", dir.path()}).status, 0);
}

TEST(CfdumpExitStatus, OneWhenACaptureFailsAndTheRunGoesOn) {
  TempDir dir;
  fs::create_directories(dir.File("folder"));
  WriteFile(dir.File("folder/a_empty.cf"), "");
  WriteFile(dir.File("folder/b_good.cf"), Capture("Http Post", "x"));
  WriteFile(dir.File("folder/c_cut.cf"), "14\r\nSMTP\r\n");
  WriteFile(dir.File("folder/.hidden"), "");  // skipped in folders
  const std::string missing = dir.File("missing.cf");
  RunResult run = RunCfdump({"--json", missing, dir.File("folder")});
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  const char* statuses[] = {"failed", "failed", "ok", "failed"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(BytesAt(ParseJson(lines[i]), "/status"), statuses[i]) << i;
  }
  // Each failure names its file and says what happened in words.
  EXPECT_NE(run.err.find(missing + ": cannot open the file: No such file"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("a_empty.cf: the file is empty"), std::string::npos);
  EXPECT_NE(run.err.find("c_cut.cf: the file ends inside its log head"),
            std::string::npos);
  EXPECT_NE(run.err.find("4 captures, 3 failed"), std::string::npos);
}

TEST(CfdumpExitStatus, TwoForUsageErrors) {
  TempDir dir;
  const std::string file = dir.File("a.cf");
  WriteFile(file, Capture("Http Post", "x"));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", file},
      {"extract", file},
      {"-j", "0", file},
      {"-j", "many", file},
      {"-j"},
      {"head"},
      {"head", file, file},
      {"body", "--json", file},
      {"info", "-o", dir.File("o"), file},
      {"info", "-d", dir.File("o"), file}};
  for (const auto& args : cases) {
    RunResult run = RunCfdump(args);
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    EXPECT_EQ(run.status, 2) << joined;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << joined;
    EXPECT_EQ(run.out, "") << joined;
  }
}

TEST(CfdumpFallback, ShowsAPlainContentFileAndSaysWhy) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"short_head.cf",
       MakeHead(
           {"Http Post", "l3", "a;b", "10.0.0.1", "1", "10.0.0.2", "2", "l9"}) +
           "body",
       "lacks a line that its analysis needs (it has 9 lines"},
      {"not_mail.cf", Capture("SMTP", "no header here\r\nSubject: b\r\n"),
       "cannot be parsed"},
      {"empty_body.cf", Capture("POP3", ""),
       "the mail body is empty (code -11)"},
      {"bare_lf.cf",
       "14\nHttp Post\nx\na;b\n1.2.3.4\n1\n1.2.3.4\n2\n9\n10\n11\n12\n"
       "13\n14\nbody",
       "lines end in LF alone"}};
  for (const Case& c : cases) WriteFile(dir.File(c.name), c.bytes);
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    RunResult run = RunCfdump({"--json", path});
    EXPECT_EQ(run.status, 1) << c.name;
    Json report = ParseJson(Lines(run.out).at(0));
    EXPECT_EQ(BytesAt(report, "/status"), "partial") << c.name;
    EXPECT_NE(BytesAt(report, "/error").find(c.why), std::string::npos)
        << c.name << ": " << BytesAt(report, "/error");
    EXPECT_TRUE(report["log"].is_null());
    CContentFile plain;
    ASSERT_EQ(plain.OpenContentFile(path.c_str()), 0);
    EXPECT_EQ(BytesAt(report, "/head"), LibraryHead(plain));
    EXPECT_EQ(report["body_size"].number, plain.GetBodySize());

    RunResult text = RunCfdump({path});
    EXPECT_NE(text.out.find("warning: cannot be read as"), std::string::npos);
    EXPECT_NE(text.out.find("head lines"), std::string::npos);
  }
}

// ---- batches ----

TEST(CfdumpBatch, TwoThreadsGiveTheSameOutputAsOne) {
  TempDir dir;
  const int kCaptures = 1000;
  std::vector<std::string> paths;
  for (int i = 0; i < kCaptures; ++i) {
    // Ten folders, and the same file names in each, so that extraction has
    // to number its folders.
    const std::string folder = dir.File("in/" + std::to_string(i % 10));
    fs::create_directories(folder);
    const std::string path = folder + "/c" + std::to_string(i / 10 % 50) + "_" +
                             std::to_string(i / 500) + ".cf";
    std::string bytes;
    switch (i % 4) {
      case 0:
        bytes = MailCapture("n" + std::to_string(i),
                            {Base64Attachment("same.bin", RandomBytes(i, i)),
                             Base64Attachment("same.bin", "2")});
        break;
      case 1:
        bytes = Capture("Http Post", RandomBytes(i % 97, i));
        break;
      case 2:
        bytes = Capture("SMTP", "broken " + std::to_string(i));
        break;
      default:
        bytes = RandomBytes(i % 7, i);  // often empty: not a content file
    }
    WriteFile(path, bytes);
    paths.push_back(path);
  }
  RunResult one = RunCfdump({"--json", "-j", "1", dir.File("in")});
  RunResult two = RunCfdump({"--json", "-j", "2", dir.File("in")});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(two.status, 1);
  ASSERT_EQ(Lines(one.out).size(), static_cast<size_t>(kCaptures));
  EXPECT_TRUE(one.out == two.out);
  // In input order: folders searched in name order.
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> lines = Lines(one.out);
  for (int i = 0; i < kCaptures; i += 97) {
    EXPECT_EQ(BytesAt(ParseJson(lines[i]), "/path"), paths[i]);
  }

  // Extraction names do not depend on the threads either; two folders with
  // the same file names are enough (and keep the clean-up short).
  RunResult x1 = RunCfdump({"extract", "--json", "-j", "1", dir.File("in/0"),
                            dir.File("in/1"), "-d", dir.File("x")});
  RunResult x2 = RunCfdump({"extract", "--json", "-j", "2", dir.File("in/0"),
                            dir.File("in/1"), "-d", dir.File("y")});
  std::string renamed;
  const std::string from = dir.File("y/"), to = dir.File("x/");
  size_t done = 0;
  for (size_t at; (at = x2.out.find(from, done)) != std::string::npos;) {
    renamed.append(x2.out, done, at - done).append(to);
    done = at + from.size();
  }
  renamed.append(x2.out, done, std::string::npos);
  EXPECT_EQ(x1.status, 1);
  EXPECT_TRUE(renamed == x1.out);
  EXPECT_EQ(FilesBelow(dir.File("x")).size(), FilesBelow(dir.File("y")).size());
}

// ---- head, body, text ----

TEST(CfdumpSingleFile, HeadBodyAndTextAreTheLibrarysBytes) {
  TempDir dir;
  const std::string mail_path = dir.File("mail.cf");
  WriteFile(mail_path, Capture("SMTP", Mail("s", "caf=C3=A9 \x80\xFF", {})));
  const std::string post_path = dir.File("post.cf");
  const std::string body = RandomBytes(70000, 11);
  WriteFile(post_path, Capture("Http Post", body));

  CContentFile post;
  ASSERT_EQ(post.OpenContentFile(post_path.c_str()), 0);
  EXPECT_EQ(RunCfdump({"head", post_path}).out, LibraryHead(post));
  EXPECT_EQ(LibraryBody(post), body);
  EXPECT_EQ(RunCfdump({"body", post_path}).out, body);

  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(mail_path.c_str()), 0);
  std::string text(mail.GetMailTextSize(), '\0');
  text.resize(mail.GetMailText(text.data(), mail.GetMailTextSize()));
  RunResult run = RunCfdump({"text", mail_path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, text);

  RunResult not_mail = RunCfdump({"text", post_path});
  EXPECT_EQ(not_mail.status, 1);
  EXPECT_NE(not_mail.err.find("not a mail capture"), std::string::npos);

  // -o writes a new file and replaces one only with --force.
  const std::string out = dir.File("body.out");
  EXPECT_EQ(RunCfdump({"body", post_path, "-o", out}).status, 0);
  EXPECT_EQ(ReadFile(out), body);
  WriteFile(out, "keep");
  RunResult refused = RunCfdump({"body", post_path, "-o", out});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("exists"), std::string::npos);
  EXPECT_EQ(ReadFile(out), "keep");
  EXPECT_EQ(RunCfdump({"body", "--force", post_path, "-o", out}).status, 0);
  EXPECT_EQ(ReadFile(out), body);
  EXPECT_EQ(RunCfdump({"head", "-f", mail_path, "-o", out}).status, 0);
  EXPECT_EQ(ReadFile(out), LibraryHead(mail));
  // An empty body replaces the old content, too.
  WriteFile(dir.File("empty.cf"), Capture("Http Post", ""));
  EXPECT_EQ(RunCfdump({"body", "-f", dir.File("empty.cf"), "-o", out}).status,
            0);
  EXPECT_EQ(ReadFile(out), "");
}

TEST(CfdumpSingleFile, AFailedWriteLeavesWhatStandsAtOutInPlace) {
  // A link to a device that refuses every write: the failure must neither
  // remove the link nor report success.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  const std::string capture = dir.File("post.cf");
  WriteFile(capture, Capture("Http Post", "body"));
  const std::string link = dir.File("full");
  ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
  const std::pair<const char*, const char*> runs[] = {
      {"head", "cannot write it"}, {"body", "writing the target failed"}};
  for (const auto& [command, why] : runs) {
    RunResult run = RunCfdump({command, "-f", capture, "-o", link});
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0) << command;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << command;
  }
}

// ---- help, version and the bundled samples ----

TEST(CfdumpHelp, DocumentsEveryCommandAndOption) {
  RunResult help = RunCfdump({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word :
       {"info", "extract", "head", "body", "text", "--json", "--jobs", "--dir",
        "--output", "--force", "--quiet", "--version", "byte_strings", "\\u00",
        "Exit status", "Examples", "cfdump extract captures/ -d out"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  RunResult version = RunCfdump({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find(CONTENTFILE_VERSION_STRING), std::string::npos);
}

TEST(CfdumpSamples, TheMainJobReportsAndExtractsEverySample) {
  TempDir dir;
  const std::string out = dir.File("extracted");
  const std::string command = std::string(CONTENTFILE_SOURCE_DIR) +
                              "/scripts/run-samples " + CONTENTFILE_BINARY_DIR +
                              " " + out + " > " + dir.File("log") + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.File("log"));
  const std::string log = ReadFile(dir.File("log"));
  for (const char* name : {"samples/http_post.cf", "samples/smtp_multipart.cf",
                           "samples/pop3.cf", "samples/malformed_smtp.cf"}) {
    EXPECT_NE(log.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(ReadFile(out + "/smtp_multipart.cf/notes.txt").substr(0, 15),
            "Notes on Q3 \xE2\x80\x93");
  EXPECT_EQ(ReadFile(out + "/smtp_multipart.cf/figures-q3.csv").substr(0, 29),
            "region,quarter,orders,revenue");
  EXPECT_TRUE(FileExists(out + "/http_post.cf/body"));
}

}  // namespace
