// cfdump over the library's part list: every text and attachment saved,
// decoded sizes, digests that the usual tools confirm, and text converted
// to UTF-8 from the charsets the mail declares. Each check compares with
// what the library itself hands out.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/support/cfdump_run.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using cfdump_test::BytesAt;
using cfdump_test::Capture;
using cfdump_test::Json;
using cfdump_test::Lines;
using cfdump_test::ParseJson;
using cfdump_test::RunCfdump;
using cfdump_test::RunResult;
using cfdump_test::Utf8;
using contentfile_test::EncodeBase64;
using contentfile_test::ReadFile;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

// A mail with two texts in an alternative, a nameless PDF attachment, a
// named one and a second plain text, all with declared charsets.
std::string PartsCapture() {
  return Capture(
      "SMTP",
      "From: <a@example.org>\r\n"
      "Subject: =?ISO-8859-1?Q?caf=E9?= ok\r\n"
      "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
      "--outer\r\n"
      "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
      "--inner\r\n"
      "Content-Type: text/plain; charset=iso-8859-1\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
      "caf=E9 au lait\r\n"
      "--inner\r\n"
      "Content-Type: text/html; charset=utf-8\r\n\r\n"
      "<p>caf\xC3\xA9</p>\r\n"
      "--inner--\r\n"
      "--outer\r\n"
      "Content-Type: application/pdf\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"=?utf-8?B?"
      "?=\"\r\n\r\n" +
          EncodeBase64("%PDF-1.4 not really") +
          "\r\n"
          "--outer\r\n"
          "Content-Type: text/plain\r\n"
          "Content-Transfer-Encoding: base64\r\n"
          "Content-Disposition: attachment; "
          "filename=\"=?windows-1252?Q?r=E9sum=E9.txt?=\"\r\n\r\n" +
          EncodeBase64("r\xE9sum\xE9") +
          "\r\n"
          "--outer\r\n"
          "Content-Type: application/pdf\r\n"
          "Content-Disposition: attachment; filename=\"" +
          std::string(300, 'x') +
          ".pdf\"\r\n\r\n"
          "%PDF long name\r\n"
          "--outer\r\n"
          "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
          "second text\r\n"
          "--outer--\r\n");
}

// PartsCapture() in a temporary folder, opened by the library with its
// part list.
class CfdumpParts : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(capture, PartsCapture());
    ASSERT_EQ(mail.OpenContentFile(capture.c_str()), 0);
    ASSERT_EQ(mail.GetParts(parts), 0);
    ASSERT_FALSE(parts.empty());
  }

  TempDir dir;
  const std::string capture = dir.File("mail.cf");
  CMailContentFile mail;
  std::vector<contentfile::PartInfo> parts;
};

std::string LibraryPart(const CMailContentFile& mail, size_t index) {
  std::string bytes;
  EXPECT_EQ(mail.StreamPart(index,
                            [&](const char* data, size_t size) {
                              bytes.append(data, size);
                              return true;
                            }),
            0);
  return bytes;
}

// The first word that `command` prints.
std::string FirstWord(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
    pclose(pipe);
  }
  return out.substr(0, out.find_first_of(" \n"));
}

TEST_F(CfdumpParts, ExtractSavesEveryTextAndAttachmentAsTheLibraryDecodesIt) {
  const std::string out = dir.File("out");
  RunResult run = RunCfdump(
      {"extract", "--json", "--hash", "md5,sha1,sha256", capture, "-d", out});
  ASSERT_EQ(run.status, 0) << run.err;
  Json report = ParseJson(Lines(run.out).at(0));

  // Texts are named by their type in part order; a nameless attachment by
  // its index and media type.
  std::map<std::string, int> texts_seen;
  size_t checked = 0;
  for (size_t f = 0; f < report["extract"]["files"].items.size(); ++f) {
    const Json& saved = report["extract"]["files"].items[f];
    const std::string at = "/extract/files/" + std::to_string(f);
    const size_t index = static_cast<size_t>(saved["part"].number);
    ASSERT_LT(index, parts.size());
    const contentfile::PartInfo& part = parts[index];
    const std::string file = BytesAt(report, at + "/file");
    const std::string name = fs::path(file).filename().string();
    const std::string bytes = LibraryPart(mail, index);
    EXPECT_TRUE(ReadFile(file) == bytes) << file;
    EXPECT_EQ(saved["bytes"].number, bytes.size());
    if (part.kind == contentfile::PartKind::kText) {
      const std::string type =
          part.media_type == "text/html" ? ".html" : ".txt";
      const int seen = ++texts_seen[type];
      EXPECT_EQ(name, seen == 1 ? "text" + type
                                : "text-" + std::to_string(seen) + type);
    } else if (part.name.empty()) {
      EXPECT_EQ(name, "attachment-" + std::to_string(part.attachment_index) +
                          (part.media_type == "application/pdf" ? ".pdf" : ""));
    } else if (part.name[0] == 'x') {
      // Cut by the library, the name gets its extension back from the
      // media type.
      EXPECT_LE(name.size(), 255u);
      EXPECT_EQ(name.substr(name.size() - 4), ".pdf") << name;
    }
    // Digests as the usual tools compute them.
    for (const char* digest : {"md5", "sha1", "sha256"}) {
      EXPECT_EQ(BytesAt(report, at + "/" + digest),
                FirstWord(std::string(digest) + "sum '" + file + "'"))
          << digest << " " << file;
    }
    ++checked;
  }
  EXPECT_GE(checked, 5u);
  EXPECT_EQ(texts_seen[".txt"], 2);
  EXPECT_EQ(texts_seen[".html"], 1);

  // The list of digests checks.
  const std::string folder = BytesAt(report, "/extract/dir");
  EXPECT_EQ(std::system(("cd '" + folder +
                         "' && sha256sum --quiet --strict -c SHA256SUMS")
                            .c_str()),
            0);
}

TEST_F(CfdumpParts, ReportsGiveDecodedSizesAndDigestsBesideStoredSizes) {
  RunResult run = RunCfdump({"--json", capture});
  ASSERT_EQ(run.status, 0) << run.err;
  Json report = ParseJson(Lines(run.out).at(0));
  const Json& attachments = report["mail"]["attachments"];
  ASSERT_EQ(attachments.items.size(),
            static_cast<size_t>(mail.GetAttachmentCount()));
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].kind != contentfile::PartKind::kAttachment) continue;
    const Json& entry = attachments.items.at(parts[i].attachment_index);
    uint64_t decoded = 0;
    ASSERT_EQ(mail.GetPartDecodedSize(i, decoded), 0);
    EXPECT_EQ(entry["decoded_size"].number, decoded);
    EXPECT_EQ(entry["size"].number, parts[i].stored_size);
    EXPECT_EQ(Utf8(entry["sha256"].text).size(), 64u);
  }
  EXPECT_EQ(report["mail"]["texts"].items.size(), 3u);

  RunResult text = RunCfdump({capture});
  EXPECT_NE(text.out.find("decoded size  stored size  name"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("sha256 "), std::string::npos);
}

TEST_F(CfdumpParts, Utf8ConvertsFromTheDeclaredCharsetsAndWarnsWhereItCannot) {
  RunResult run = RunCfdump({"--json", "--utf8", capture});
  ASSERT_EQ(run.status, 0) << run.err;
  Json report = ParseJson(Lines(run.out).at(0));
  EXPECT_NE(BytesAt(report, "/mail/subject_utf8").find("caf\xC3\xA9"),
            std::string::npos);
  bool named = false;
  for (size_t i = 0; i < report["mail"]["attachments"].items.size(); ++i) {
    const std::string at = "/mail/attachments/" + std::to_string(i);
    if (BytesAt(report, at + "/name_utf8") == "r\xC3\xA9sum\xC3\xA9.txt") {
      named = true;
    }
  }
  EXPECT_TRUE(named) << run.out;
  const std::string out = dir.File("out");
  RunResult extract = RunCfdump({"extract", "--utf8", capture, "-d", out});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(ReadFile(out + "/mail.cf/r\xC3\xA9sum\xC3\xA9.txt"),
            "r\xE9sum\xE9");
  RunResult text = RunCfdump({"text", "--utf8", capture});
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("caf\xC3\xA9 au lait"), std::string::npos)
      << text.out;

  // A charset nobody knows: the bytes as they are, and a warning.
  const std::string unknown = dir.File("unknown.cf");
  WriteFile(unknown, Capture("SMTP",
                             "From: <a@example.org>\r\n"
                             "Subject: =?x-no-such-charset?Q?caf=E9?=\r\n"
                             "Content-Type: text/plain\r\n\r\nbody\r\n"));
  RunResult odd = RunCfdump({"--json", "--utf8", unknown});
  Json odd_report = ParseJson(Lines(odd.out).at(0));
  EXPECT_EQ(BytesAt(odd_report, "/mail/subject_utf8"), "caf\xE9");
  EXPECT_NE(odd.out.find("is not known"), std::string::npos) << odd.out;
}

}  // namespace
