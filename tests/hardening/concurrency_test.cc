// Objects used in several threads at once: separate objects on one capture,
// copies of one open object, and threads in different LC_CTYPE locales must
// each get exactly what one thread alone gets. The library keeps no global
// state; run under ThreadSanitizer (make test-tsan) this also shows that no
// two threads touch the same memory without order.

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/hardening/sample_mail.h"
#include "tests/support/gbk_locale.h"
#include "tests/support/test_files.h"

namespace contentfile_test {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 3;

// Everything a caller can learn from one capture.
struct Results {
  int32_t open_results[3] = {1, 1, 1};
  std::string head;
  std::string body;
  std::string saved_body;
  std::string post_record;
  std::string mail_record;
  std::string text;
  std::vector<std::string> names;
  std::vector<uint32_t> sizes;
  std::vector<std::string> attachments;

  bool operator==(const Results& other) const {
    return std::memcmp(open_results, other.open_results,
                       sizeof(open_results)) == 0 &&
           head == other.head && body == other.body &&
           saved_body == other.saved_body && post_record == other.post_record &&
           mail_record == other.mail_record && text == other.text &&
           names == other.names && sizes == other.sizes &&
           attachments == other.attachments;
  }
};

template <typename Record>
std::string Bytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof(record));
}

// What an open mail object hands out; files are written as `out` + suffix.
void ReadMail(const CMailContentFile& mail, const std::string& out,
              Results* results) {
  results->mail_record = Bytes(mail.GetLogInfo());
  results->text.assign(mail.GetMailTextSize(), '\0');
  results->text.resize(mail.GetMailText(
      results->text.data(), static_cast<uint32_t>(results->text.size())));
  for (int32_t i = 0; i < mail.GetAttachmentCount(); ++i) {
    char name[261] = {};
    uint32_t size = 0;
    mail.GetAttachmentInfo(i, name, sizeof(name) - 1, size);
    results->names.push_back(name);
    results->sizes.push_back(size);
    const std::string path = out + ".attachment";
    results->attachments.push_back(mail.GetAttachment2File(i, path.c_str()) == 0
                                       ? ReadFile(path)
                                       : "<failed>");
  }
}

// Opens the capture as each kind of content file, in this thread.
Results Collect(const std::string& capture, const std::string& out) {
  Results results;
  CContentFile file;
  results.open_results[0] = file.OpenContentFile(capture.c_str());
  results.head.resize(file.GetHeadSize());
  uint32_t length = static_cast<uint32_t>(results.head.size());
  if (length > 0) file.GetContentHead(results.head.data(), length);
  results.body.resize(file.GetBodySize());
  length = static_cast<uint32_t>(results.body.size());
  if (length > 0) file.GetContentBody(results.body.data(), length);
  const std::string body_path = out + ".body";
  if (file.SaveBody2File(body_path.c_str()) == 0) {
    results.saved_body = ReadFile(body_path);
  }

  CHttpPostContentFile post;
  results.open_results[1] = post.OpenContentFile(capture.c_str());
  results.post_record = Bytes(post.GetLogInfo());

  CMailContentFile mail;
  results.open_results[2] = mail.OpenContentFile(capture.c_str());
  ReadMail(mail, out, &results);
  return results;
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    WriteFile(path, bytes);
    return path;
  }
  TempDir dir_;
};

TEST_F(ConcurrencyTest, SeparateObjectsOnOneCaptureAgreeWithOneThread) {
  const SampleMail sample = MakeSampleMail(300000);
  const std::string capture = Write("mail.cf", MakeCapture(sample.message));
  const Results alone = Collect(capture, dir_.File("alone"));
  ASSERT_EQ(alone.open_results[2], 0);
  ASSERT_EQ(alone.attachments, sample.attachments);
  ASSERT_EQ(alone.text, sample.text);

  std::vector<Results> results(kThreads * kRounds);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        results[static_cast<size_t>(t * kRounds + round)] =
            Collect(capture, dir_.File("thread" + std::to_string(t)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_TRUE(results[i] == alone)
        << "thread " << i / kRounds << ", round " << i % kRounds;
  }
}

TEST_F(ConcurrencyTest, CopiesOfOneOpenObjectServeThreadsOfTheirOwn) {
  const SampleMail sample = MakeSampleMail(300000);
  const std::string capture = Write("mail.cf", MakeCapture(sample.message));
  auto original = std::make_unique<CMailContentFile>();
  ASSERT_EQ(original->OpenContentFile(capture.c_str()), 0);
  Results alone;
  ReadMail(*original, dir_.File("alone"), &alone);

  // Each thread gets a copy of its own; the copies share the file and the
  // parser, and the original goes while they work.
  std::vector<CMailContentFile> copies(kThreads, *original);
  std::vector<Results> results(kThreads);
  std::vector<std::string> bodies(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CMailContentFile& copy = copies[static_cast<size_t>(t)];
      for (int round = 0; round < kRounds; ++round) {
        Results mine;
        ReadMail(copy, dir_.File("copy" + std::to_string(t)), &mine);
        results[static_cast<size_t>(t)] = mine;
      }
      std::string& body = bodies[static_cast<size_t>(t)];
      body.resize(copy.GetBodySize());
      uint32_t length = static_cast<uint32_t>(body.size());
      if (copy.GetContentBody(body.data(), length) != 0) body = "<failed>";
      copy.CloseContentFile();
    });
  }
  original.reset();
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(results[static_cast<size_t>(t)] == alone) << "thread " << t;
    EXPECT_EQ(bodies[static_cast<size_t>(t)], sample.message) << "thread " << t;
  }
}

// In GBK, 0x81 followed by a byte from 0x40 to 0xFE is one character, so a
// "boundary=" right after it is no parameter: the same bytes parse
// differently in the C locale and in zh_CN.GBK.
const char kLocaleSensitiveMessage[] =
    "From: a1\r\nContent-Type: multipart/mixed; x=\"\x81"
    "boundary=zz \x81\"; boundary=b1\r\n\r\n"
    "--zz\r\nContent-Disposition: attachment; filename=zz.txt\r\n\r\nzz\r\n"
    "--b1\r\nContent-Disposition: attachment; filename=b1.txt\r\n\r\nb1\r\n"
    "--b1--\r\n--zz--\r\n";

TEST_F(ConcurrencyTest, EachThreadParsesByItsOwnLocale) {
  const std::string capture =
      Write("gbk.cf", MakeCapture(kLocaleSensitiveMessage));
  const Results single_byte = Collect(capture, dir_.File("c"));
  Results double_byte;
  {
    CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
    double_byte = Collect(capture, dir_.File("gbk"));
  }
  ASSERT_EQ(double_byte.names, std::vector<std::string>{"b1.txt"});
  ASSERT_FALSE(single_byte.names == double_byte.names);

  std::vector<Results> results(kThreads * kRounds);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::unique_ptr<ScopedGbkLocale> gbk;
      if (t % 2 == 1) {
        gbk = std::make_unique<ScopedGbkLocale>();
        if (!gbk->ok()) failures[static_cast<size_t>(t)] = gbk->skip_reason();
      }
      for (int round = 0; round < kRounds; ++round) {
        results[static_cast<size_t>(t * kRounds + round)] =
            Collect(capture, dir_.File("thread" + std::to_string(t)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(failures[static_cast<size_t>(t)], "");
    for (int round = 0; round < kRounds; ++round) {
      const Results& expected = t % 2 == 1 ? double_byte : single_byte;
      EXPECT_TRUE(results[static_cast<size_t>(t * kRounds + round)] == expected)
          << "thread " << t << ", round " << round;
    }
  }
}

}  // namespace
}  // namespace contentfile_test
