// The part table as a unit: its entries, names and index, and the one-pass
// scan read through windows of every small size, so that each delimiter,
// key, empty line and CR LF pair of the messages below stands at every
// offset around a window's edge.

#include "mail/part_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "mail/mail_parser.h"
#include "mail/message_source.h"
#include "mail/message_window.h"
#include "tests/mail/mail_parser_test_util.h"

namespace {

using contentfile_internal::CMailParser;
using contentfile_internal::MemorySource;
using contentfile_internal::MessageWindow;
using contentfile_internal::PartTable;
using contentfile_internal::ST_MAIL_PART;
using contentfile_internal::TransferEncoding;
using contentfile_test::LoadMessage;

std::shared_ptr<MemorySource> SourceOf(const std::string& bytes) {
  contentfile_internal::Buffer buffer =
      contentfile_internal::AllocateBuffer(bytes.size());
  if (!bytes.empty()) std::memcpy(buffer.get(), bytes.data(), bytes.size());
  return std::make_shared<MemorySource>(std::move(buffer),
                                        static_cast<uint32_t>(bytes.size()));
}

// Everything a parse gives, as text, so that two parses compare at once.
std::string Describe(const CMailParser& parser) {
  std::string out = parser.From() + "|" + parser.To() + "|" + parser.Cc() +
                    "|" + parser.Subject() + "|" + parser.Boundary() + "|" +
                    std::to_string(parser.Head().size()) + "\n";
  for (const ST_MAIL_PART& part : parser.Parts()) {
    out += std::to_string(part.nStart) + "," + std::to_string(part.nEnd) + "," +
           std::to_string(part.nDataStart) + "," + std::to_string(part.nType) +
           "," + std::to_string(static_cast<int>(part.encoding)) + "," +
           std::to_string(part.nDepth) + "," + std::string(parser.Name(part)) +
           "\n";
  }
  for (uint32_t index : parser.AttachmentEntries()) {
    out += std::to_string(index) + " ";
  }
  return out;
}

// Messages whose every structure a window edge can split.
const char* const kMessages[] = {
    // Parts, a padded delimiter line, names, encodings, a close delimiter
    // followed by an epilogue with delimiter lines of its own.
    "From: a1\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
    "preamble --XX not a line\r\n--XX  \t\r\nContent-Type: text/plain\r\n\r\n"
    "text -- --X\r\n--XXY\r\n\r\n--XX\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=a.bin\r\n\r\nAAEC\r\n"
    "--xx--\r\nepilogue\r\n--XX\r\n\r\nstray\r\n",
    // Nesting: an inner multipart whose key and delimiter lie in the part,
    // an outer delimiter that closes an inner part still open, a folded
    // quoted boundary and an inner delimiter that equals none outside.
    "Subject: n\r\nContent-Type: multipart/mixed; boundary=O\r\n\r\n"
    "--O\r\nContent-Type: multipart/alternative;\r\n boundary=\"in\r\n "
    "ner\"\r\n"
    "\r\n--in ner\r\n\r\none\r\n--in ner\r\nContent-Type: image/png\r\n\r\n"
    "two\r\n--in ner--\r\nafter\r\n--O\r\nContent-Type: multipart/mixed; "
    "BOUNDARY=deep\r\n\r\n--deep\r\n\r\nopen at the end\r\n--O\r\n"
    "Content-Disposition: attachment\r\n\r\nthree\r\n--O--",
    // Headless parts: the first two have no empty line of their own, one
    // follows later; the last has none at all.
    "To: x@y\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\nno end\r\n--b\r\nstill none\r\n--b\r\n"
    "\r\nbody\r\n--b\r\nlast\r\n--b\r\nlast again\r\n--b--\r\n",
    // Empty parts, one of blanks only; a part that ends the message
    // without a close delimiter; an empty line right at the delimiter.
    "Content-Type: multipart/mixed; boundary=E\r\n\r\n--E\r\n--E \t\r\n--E\r\n"
    "X: y\r\n\r\n--E\r\n\r\nz\r\n--E",
    // Six levels whose delimiters begin alike; lines that begin like
    // several of them, closing and padded lines; a multipart whose
    // delimiter repeats an outer one in other letters.
    "Content-Type: multipart/mixed; boundary=p\r\n\r\n"
    "--p\r\nContent-Type: multipart/mixed; boundary=pp\r\n\r\n"
    "--pp\r\nContent-Type: multipart/mixed; boundary=\"p-\"\r\n\r\n"
    "--p-\r\nContent-Type: multipart/mixed; boundary=\"ppp \"\r\n\r\n"
    "--ppp \r\nContent-Type: multipart/mixed; boundary=p-p\r\n\r\n"
    "--p-p\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\n"
    "--q\r\n\r\nsix deep\r\n--p-pp\r\n--p-p\t\r\n"
    "Content-Disposition: attachment; filename=a\r\n\r\nq\r\n--P-P--junk\r\n"
    "--PPP \r\n\r\nthree\r\n--p-\r\n"
    "Content-Type: multipart/mixed; boundary=PP\r\n\r\n--pP \t\r\n\r\n"
    "repeat\r\n--pp--\r\n--p\r\n\r\nlast\r\n--p-",
    // A multipart whose delimiter never occurs, and a head with no Content-
    // Type: each is one part.
    "Content-Type: multipart/mixed; boundary=none\r\n\r\n--non\r\nx\r\n",
    "From: Ann <a@x>, b@y\r\nSubject: plain\r\n\r\nline\r\n--x\r\n",
};

TEST(PartTableScan, WindowsOfEverySizeAndBothMatchersGiveTheSameTable) {
  for (const char* message : kMessages) {
    SCOPED_TRACE(message);
    // Every delimiter compared with each open level, against lookups.
    auto whole = LoadMessage(message);
    whole->set_compared_levels(SIZE_MAX);
    ASSERT_EQ(whole->Parse(), CMailParser::kParsed);
    const std::string expected = Describe(*whole);
    for (size_t window = 1; window <= 70; ++window) {
      auto narrow = LoadMessage(message);
      narrow->set_window_size(window);
      // Odd windows look every delimiter up rather than compare it.
      if (window % 2 == 1) narrow->set_compared_levels(0);
      ASSERT_EQ(narrow->Parse(), CMailParser::kParsed) << window;
      EXPECT_EQ(Describe(*narrow), expected) << "window " << window;
    }
  }
}

TEST(PartTableScan, NestingIsReadOnceWhateverItsDepth) {
  // 40 levels: the 32 below the message's own are followed, and the part
  // at the next level stays one leaf, the deeper multiparts inside it. Each
  // level's delimiter is checked at each line start, so the deepest text is
  // found, with its depth, through a tiny window too.
  std::string message = "Content-Type: multipart/mixed; boundary=L0\r\n\r\n";
  for (int level = 0; level < 40; ++level) {
    message += "--L" + std::to_string(level) +
               "\r\nContent-Type: multipart/mixed; boundary=L" +
               std::to_string(level + 1) + "\r\n\r\n";
  }
  message += "--L40\r\n\r\ndeep\r\n";
  for (int level = 40; level >= 0; --level) {
    message += "--L" + std::to_string(level) + "--\r\n";
  }
  for (size_t window : {size_t{5}, MessageWindow::kDefaultSize}) {
    auto parser = LoadMessage(message);
    parser->set_window_size(window);
    ASSERT_EQ(parser->Parse(), CMailParser::kParsed);
    ASSERT_EQ(parser->Parts().size(), 1u);
    const ST_MAIL_PART& leaf = parser->Parts()[0];
    EXPECT_EQ(leaf.nDepth, 32);
    // The leaf at level 32 holds the deeper multiparts whole.
    EXPECT_NE(contentfile_test::Content(*parser, leaf).find("deep"),
              std::string::npos);
  }
}

TEST(PartTable, EntriesAreCompactAndNamesComeFromTheirHeaderBlocks) {
  static_assert(sizeof(ST_MAIL_PART) <= 20, "offsets only");
  const std::string message =
      "Content-Type: multipart/mixed; boundary=q\r\n\r\n"
      "--q\r\nContent-Type: application/pdf\r\n"
      "Content-Transfer-Encoding: Quoted-Printable\r\n\r\nx\r\n"
      "--q\r\nContent-Disposition: attachment; filename*0*=utf-8''a%20;"
      " filename*1=b.txt\r\nContent-Transfer-Encoding: BASE64\r\n\r\nYQ==\r\n"
      "--q\r\n\r\ntext\r\n--q--\r\n";
  PartTable table;
  auto source = SourceOf(message);
  MessageWindow window(*source, 16);
  ASSERT_TRUE(window.Reserve());
  ASSERT_EQ(table.Scan(window, "q"), PartTable::kScanned);
  const std::vector<ST_MAIL_PART>& entries = table.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].nType, contentfile_internal::MAIL_PART_ATTACHMENT);
  EXPECT_EQ(table.Name(entries[0]), "");
  EXPECT_EQ(entries[0].encoding, TransferEncoding::kQuotedPrintable);
  EXPECT_EQ(table.Name(entries[1]), "a b.txt");
  EXPECT_EQ(entries[1].encoding, TransferEncoding::kBase64);
  EXPECT_EQ(entries[2].nType, contentfile_internal::MAIL_PART_TEXT);
  EXPECT_EQ(table.attachments(), (std::vector<uint32_t>{0, 1}));

  // A boundary that never occurs appends nothing.
  PartTable none;
  EXPECT_EQ(none.Scan(window, "absent"), PartTable::kNoDelimiter);
  EXPECT_TRUE(none.entries().empty());
}

// A small message gets a window of its own size: a full-size window would
// be a fresh mapping on every open wherever the allocator's mapping
// threshold is pinned, which made each open several times slower.
TEST(MessageWindowSize, IsNeverLargerThanTheMessage) {
  const struct {
    size_t message, asked, held;
  } kCases[] = {{40, MessageWindow::kDefaultSize, 40},
                {40, 16, 16},
                {40, 40, 40},
                {0, 16, 16}};
  for (const auto& c : kCases) {
    auto source = SourceOf(std::string(c.message, 'x'));
    MessageWindow window(*source, c.asked);
    EXPECT_EQ(window.capacity(), c.held) << c.message << " " << c.asked;
    if (c.message > 0) {
      ASSERT_TRUE(window.Reserve());
      ASSERT_TRUE(window.Load(0));
      EXPECT_EQ(window.end(), std::min(c.message, c.held));
    }
  }
}

// A source whose bytes end early: a capture that shrank under the parse.
class ShortSource final : public contentfile_internal::MessageSource {
 public:
  ShortSource(std::string bytes, uint32_t readable)
      : MessageSource(static_cast<uint32_t>(bytes.size())),
        bytes_(std::move(bytes)),
        readable_(readable) {}
  bool Read(uint32_t offset, char* buffer, size_t length) const override {
    if (offset + length > readable_) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::string bytes_;
  uint32_t readable_;
};

TEST(PartTableScan, AMessageThatCannotBeReadFailsTheParse) {
  const std::string message = kMessages[1];
  for (uint32_t readable :
       {0u, 10u, 200u, static_cast<uint32_t>(message.size()) - 1}) {
    for (size_t window : {size_t{7}, MessageWindow::kDefaultSize}) {
      CMailParser parser;
      parser.SetSource(std::make_shared<ShortSource>(message, readable));
      parser.set_window_size(window);
      EXPECT_EQ(parser.Parse(), CMailParser::kReadFailed)
          << readable << " " << window;
    }
  }
}

}  // namespace
