// Failure paths, systematically: each operation runs again and again, with
// its first, then its second, then its third ... allocation, read, write or
// close failing, until it runs without reaching the fault. Every failure
// must give a documented result and leave the documented state, and no
// descriptor may outlive the objects (memory leaks are the sanitizer
// build's and Valgrind's to catch).
//
// Two kinds of allocation fail here: the platform layer's buffers and
// objects, through the test seam, and every operator new of the library
// (strings, lists, file objects), through the replacement below, which
// raises std::bad_alloc as a full heap would.

#include "platform/fault_injection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "mail/mail_parser.h"
#include "tests/hardening/failing_new.h"
#include "tests/hardening/sample_mail.h"
#include "tests/mail/mail_parser_test_util.h"
#include "tests/support/test_files.h"

namespace {

// Allocations left before operator new fails on this thread; -1: never.
thread_local long new_countdown = -1;
thread_local bool new_failed = false;

}  // namespace

// A plain malloc-based operator new that fails on request. The matching
// deletes are replaced too, so that every block goes back to the allocator
// it came from, also under the sanitizers. None of them is inlined: a tool
// that puts allocators of its own in their place (Valgrind) then replaces
// all of them, never a new without its delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
__attribute__((noinline)) void* operator new(std::size_t size) {
  if (new_countdown >= 0) {
    if (new_countdown == 0) {
      new_countdown = -1;
      new_failed = true;
      throw std::bad_alloc();
    }
    --new_countdown;
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
__attribute__((noinline)) void* operator new[](std::size_t size) {
  return ::operator new(size);
}
__attribute__((noinline)) void operator delete(void* block) noexcept {
  std::free(block);
}
__attribute__((noinline)) void operator delete[](void* block) noexcept {
  std::free(block);
}
__attribute__((noinline)) void operator delete(void* block,
                                               std::size_t) noexcept {
  std::free(block);
}
__attribute__((noinline)) void operator delete[](void* block,
                                                 std::size_t) noexcept {
  std::free(block);
}
__attribute__((noinline)) void* operator new(std::size_t size,
                                             const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
__attribute__((noinline)) void* operator new[](std::size_t size,
                                               const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
__attribute__((noinline)) void operator delete(void* block,
                                               const std::nothrow_t&) noexcept {
  std::free(block);
}
__attribute__((noinline)) void operator delete[](
    void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace contentfile_test {

void FailOperatorNew(long skip) {
  new_failed = false;
  new_countdown = skip;
}

bool StopFailingOperatorNew() {
  new_countdown = -1;
  return new_failed;
}

bool OperatorNewCanFail() {
  static const bool can_fail = [] {
    FailOperatorNew(0);
    try {
      // A direct call, which unlike a new-expression is never elided.
      ::operator delete(::operator new(1));
    } catch (const std::bad_alloc&) {
    }
    return StopFailingOperatorNew();
  }();
  return can_fail;
}

namespace {

using contentfile_internal::ClearFaults;
using contentfile_internal::CMailParser;
using contentfile_internal::Fault;
using contentfile_internal::InjectFault;
using contentfile_internal::ShouldFail;
using contentfile_internal::ST_MAIL_PART;

// More faults than any operation here reaches: a loop that gets this far
// never ran clean.
constexpr int kMaxFaults = 5000;

// What one kind of failure does to an operation.
enum class Failing { kSeamAllocation, kRead, kWrite, kClose, kOperatorNew };

const char* NameOf(Failing failing) {
  switch (failing) {
    case Failing::kSeamAllocation:
      return "buffer allocation";
    case Failing::kRead:
      return "read";
    case Failing::kWrite:
      return "write";
    case Failing::kClose:
      return "close";
    case Failing::kOperatorNew:
      return "operator new";
  }
  return "?";
}

// One armed fault: the (skip + 1)-th operation of its kind fails, on this
// thread, between Arm and Disarm.
class FaultPoint {
 public:
  FaultPoint(Failing failing, int skip) : failing_(failing), skip_(skip) {}

  void Arm() const {
    if (failing_ == Failing::kOperatorNew) {
      FailOperatorNew(skip_);
    } else {
      InjectFault(SeamKind(), skip_, 1);
    }
  }

  // Whether the fault was reached.
  bool Disarm() const {
    if (failing_ == Failing::kOperatorNew) return StopFailingOperatorNew();
    // A fault not reached is still pending: it fires within skip + 1 more
    // operations.
    bool pending = false;
    for (int i = 0; i <= skip_ && !pending; ++i)
      pending = ShouldFail(SeamKind());
    ClearFaults();
    return !pending;
  }

 private:
  Fault SeamKind() const {
    switch (failing_) {
      case Failing::kRead:
        return Fault::kRead;
      case Failing::kWrite:
        return Fault::kWrite;
      case Failing::kClose:
        return Fault::kClose;
      default:
        return Fault::kAllocation;
    }
  }

  Failing failing_;
  int skip_;
};

constexpr Failing kEveryFailing[] = {Failing::kSeamAllocation, Failing::kRead,
                                     Failing::kWrite, Failing::kClose,
                                     Failing::kOperatorNew};

// The result of an operation: its code, or the error it raised. Taking it
// allocates nothing, so that nothing of it counts while a fault is armed;
// Name() gives it as the table names it.
struct Result {
  int32_t code = 0;
  const char* raised = nullptr;
  std::string Name() const { return raised ? raised : std::to_string(code); }
};

template <typename Operation>
Result RunOperation(Operation&& operation) {
  Result result;
  try {
    result.code = operation();
  } catch (const CFileError&) {
    result.raised = "CFileError";
  } catch (const std::bad_alloc&) {
    result.raised = "bad_alloc";
  } catch (const std::invalid_argument&) {
    result.raised = "invalid_argument";
  }
  return result;
}

// Runs `attempt` with each operation of the kind failing in turn until an
// attempt reaches no fault; returns the outcomes of the attempts that did.
// `attempt` arms the fault point around the one call under test, checks
// the state it left and returns its outcome.
std::set<std::string> FailEachInTurn(
    Failing failing,
    const std::function<std::string(const FaultPoint&, bool* hit)>& attempt) {
  std::set<std::string> outcomes;
  for (int skip = 0; skip < kMaxFaults; ++skip) {
    SCOPED_TRACE(std::string(NameOf(failing)) + " number " +
                 std::to_string(skip + 1) + " fails");
    const int descriptors = CountOpenDescriptors();
    bool hit = false;
    const std::string outcome = attempt(FaultPoint(failing, skip), &hit);
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "descriptor leaked";
    if (::testing::Test::HasFatalFailure() || !hit) return outcomes;
    outcomes.insert(outcome);
  }
  ADD_FAILURE() << "the operation never ran without reaching the fault";
  return outcomes;
}

using Outcomes = std::map<Failing, std::set<std::string>>;

// The outcomes expected of a failing operator new, where it can fail.
std::set<std::string> IfNewCanFail(std::set<std::string> outcomes) {
  return OperatorNewCanFail() ? outcomes : std::set<std::string>{};
}

class FaultMatrixTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClearFaults();
    StopFailingOperatorNew();
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    WriteFile(path, bytes);
    return path;
  }

  TempDir dir_;
};

// ---------------------------------------------------------------------------
// OpenContentFile of the base class: the line reader's reads raise
// CFileError, which leaves the file open with sizes 0; out of memory gives
// -2 with the object closed.

TEST_F(FaultMatrixTest, BaseOpen) {
  // Line 3 is longer than one read of the line reader, so the head takes
  // several reads.
  std::vector<std::string> lines = StandardHeadLines("SMTP");
  lines[1] = std::string(40000, 'x');
  const std::string head = MakeHead(lines);
  const std::string path = Write("c.cf", head + "BODY");

  Outcomes seen;
  for (Failing failing : kEveryFailing) {
    seen[failing] =
        FailEachInTurn(failing, [&](const FaultPoint& fault, bool* hit) {
          CContentFile file;
          fault.Arm();
          const Result result =
              RunOperation([&] { return file.OpenContentFile(path.c_str()); });
          *hit = fault.Disarm();
          const std::string outcome = result.Name();
          if (outcome == "0") {
            EXPECT_EQ(file.GetHeadSize(), head.size());
            EXPECT_EQ(file.GetBodySize(), 4u);
          } else {
            EXPECT_EQ(file.GetHeadSize(), 0u);
            EXPECT_EQ(file.GetBodySize(), 0u);
          }
          EXPECT_EQ(file.OpenContentFile(path.c_str()), 0)
              << "after " << outcome;
          return outcome;
        });
  }
  EXPECT_EQ(seen[Failing::kSeamAllocation], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kRead], std::set<std::string>{"CFileError"});
  EXPECT_EQ(seen[Failing::kWrite], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kClose], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kOperatorNew], IfNewCanFail({"-2"}));
}

// ---------------------------------------------------------------------------
// CHttpPostContentFile::OpenContentFile: -11 when the head cannot be read
// again for its analysis (out of memory for its lines included), -10 when
// the base open runs out of memory; the record keeps the last head
// analysed.

TEST_F(FaultMatrixTest, HttpPostOpen) {
  std::vector<std::string> earlier_lines = StandardHeadLines("Http Post");
  earlier_lines[7] = "the earlier line 9";
  const std::string earlier =
      Write("earlier.cf", MakeHead(earlier_lines) + "a=1");
  const std::string path =
      Write("post.cf", MakeHead(StandardHeadLines("Http Post")) + "b=2");

  Outcomes seen;
  for (Failing failing : kEveryFailing) {
    seen[failing] =
        FailEachInTurn(failing, [&](const FaultPoint& fault, bool* hit) {
          CHttpPostContentFile post;
          EXPECT_EQ(post.OpenContentFile(earlier.c_str()), 0);
          fault.Arm();
          const Result result =
              RunOperation([&] { return post.OpenContentFile(path.c_str()); });
          *hit = fault.Disarm();
          const std::string outcome = result.Name();
          const ST_HTTPPOST_LOG_INFO& info = post.GetLogInfo();
          if (outcome == "0") {
            EXPECT_STREQ(info.szLine9, "line9");
          } else {
            EXPECT_STREQ(info.szLine9, "the earlier line 9");
            EXPECT_EQ(info.nLogType, LOG_TYPE_HTTP_POST);
          }
          if (outcome == "-11") {
            EXPECT_EQ(post.GetBodySize(), 3u);  // still open
          }
          EXPECT_EQ(post.OpenContentFile(path.c_str()), 0)
              << "after " << outcome;
          EXPECT_STREQ(post.GetLogInfo().szLine9, "line9");
          return outcome;
        });
  }
  EXPECT_EQ(seen[Failing::kSeamAllocation], std::set<std::string>{"-11"});
  EXPECT_EQ(seen[Failing::kRead], (std::set<std::string>{"CFileError", "-11"}));
  EXPECT_EQ(seen[Failing::kWrite], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kClose], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kOperatorNew], IfNewCanFail({"-10", "-11"}));
}

// ---------------------------------------------------------------------------
// CMailContentFile::OpenContentFile: -12 (body buffer), -13 (body read),
// -14 (parser), -16 (head read again), and the classification of the parts
// stopping early when a part's header block cannot be copied. After a
// failure the content file stays open without a parser, and the record
// keeps the last head analysed.

std::string MailText(const CMailContentFile& mail) {
  std::string text(mail.GetMailTextSize(), '\0');
  text.resize(
      mail.GetMailText(text.data(), static_cast<uint32_t>(text.size())));
  return text;
}

TEST_F(FaultMatrixTest, MailOpen) {
  const SampleMail sample = MakeSampleMail();
  const std::string earlier =
      Write("earlier.cf", MakeCapture(MakeSampleMail(10).message, "POP3"));
  const std::string path = Write("mail.cf", MakeCapture(sample.message));
  const std::string body_copy = dir_.File("body");

  Outcomes seen;
  std::set<int32_t> attachments_when_stopped;
  for (Failing failing : kEveryFailing) {
    seen[failing] = FailEachInTurn(failing, [&](const FaultPoint& fault,
                                                bool* hit) {
      CMailContentFile mail;
      EXPECT_EQ(mail.OpenContentFile(earlier.c_str()), 0);
      fault.Arm();
      const Result result =
          RunOperation([&] { return mail.OpenContentFile(path.c_str()); });
      *hit = fault.Disarm();
      std::string outcome = result.Name();

      const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
      if (outcome == "0") {
        EXPECT_EQ(info.nLogType, LOG_TYPE_SMTP);
        EXPECT_STREQ(info.szSubject, "Hellow\xC3\xB6rld");
        const int32_t count = mail.GetAttachmentCount();
        const std::string text = MailText(mail);
        if (count == 3) {
          EXPECT_EQ(text, sample.text);
        } else {
          // The classification stopped at a part it could not analyse: the
          // parts before it are served, the rest are neither text nor
          // attachment.
          outcome = "0, classification stopped";
          EXPECT_TRUE(text.empty() || text == sample.text);
          attachments_when_stopped.insert(count);
          char name[300];
          uint32_t size = 0;
          for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(mail.GetAttachmentInfo(i, name, sizeof(name), size), 0);
            EXPECT_EQ(name, sample.names[static_cast<size_t>(i)]);
          }
          EXPECT_EQ(mail.GetAttachment2File(count, body_copy.c_str()), -14);
        }
      } else {
        // The record of the earlier file, no parser, and after -12 to -16
        // the file still open with its body readable and savable; after -2
        // (out of memory in the base open) the object is closed.
        EXPECT_EQ(info.nLogType, LOG_TYPE_POP3);
        EXPECT_EQ(mail.GetAttachmentCount(), 0);
        EXPECT_EQ(mail.GetMailTextSize(), 0u);
        EXPECT_EQ(mail.GetAttachment2File(0, body_copy.c_str()), -1);
        if (outcome == "-2") {
          EXPECT_EQ(mail.GetBodySize(), 0u);
          EXPECT_EQ(mail.SaveBody2File(body_copy.c_str()), -1);
        } else if (outcome != "CFileError") {
          EXPECT_EQ(mail.GetBodySize(), sample.message.size());
          EXPECT_EQ(mail.SaveBody2File(body_copy.c_str()), 0);
          EXPECT_EQ(ReadFile(body_copy), sample.message);
        }
      }
      EXPECT_EQ(mail.OpenContentFile(path.c_str()), 0) << "after " << outcome;
      EXPECT_EQ(mail.GetAttachmentCount(), 3);
      return outcome;
    });
  }
  EXPECT_EQ(seen[Failing::kSeamAllocation],
            (std::set<std::string>{"-12", "-14", "0, classification stopped",
                                   "-16"}));
  // Every part whose header block is copied can be the one that stops it.
  EXPECT_EQ(attachments_when_stopped, (std::set<int32_t>{0, 1, 2}));
  EXPECT_EQ(seen[Failing::kRead],
            (std::set<std::string>{"CFileError", "-13", "-16"}));
  EXPECT_EQ(seen[Failing::kWrite], std::set<std::string>{});
  EXPECT_EQ(seen[Failing::kClose], std::set<std::string>{});
  // Out of memory never leaves the open raised: in the base open it is -2,
  // in the parser object or the parse -14, for the head's lines -16.
  EXPECT_EQ(seen[Failing::kOperatorNew], IfNewCanFail({"-2", "-14", "-16"}));
}

// ---------------------------------------------------------------------------
// Parse on a message in memory: an allocation failure while a part's header
// block is copied ends the classification there, and the parse succeeds.

TEST_F(FaultMatrixTest, ParseStopsClassifyingWhereACopyFails) {
  const SampleMail sample = MakeSampleMail();
  std::vector<size_t> classified_counts;
  FailEachInTurn(Failing::kSeamAllocation, [&](const FaultPoint& fault,
                                               bool* hit) {
    auto parser = LoadMessage(sample.message);
    fault.Arm();
    const int32_t result = parser->Parse();
    *hit = fault.Disarm();
    EXPECT_EQ(result, CMailParser::kParsed);
    const std::vector<ST_MAIL_PART>& parts = parser->Parts();
    EXPECT_EQ(parts.size(), 4u);
    size_t classified = 0;
    while (classified < parts.size() &&
           parts[classified].nType !=
               contentfile_internal::MAIL_PART_UNCLASSIFIED) {
      ++classified;
    }
    for (size_t i = classified; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].nType, contentfile_internal::MAIL_PART_UNCLASSIFIED);
      EXPECT_EQ(parts[i].nDataStart, 0u);
      EXPECT_EQ(parts[i].strName, "");
    }
    classified_counts.push_back(classified);
    return std::to_string(result);
  });
  // The n-th copy failing leaves n - 1 parts classified; none failing, all.
  EXPECT_EQ(classified_counts, (std::vector<size_t>{0, 1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// A head of 13 lines raises std::invalid_argument with the record partly
// filled. Out of memory while that error is being raised must not leave a
// partly filled record behind a result code: it is the head that could not
// be read, and the record keeps the last head analysed.

TEST_F(FaultMatrixTest, OutOfMemoryAtAMissingHeadLineKeepsTheRecord) {
  if (!OperatorNewCanFail()) GTEST_SKIP() << "operator new cannot fail here";
  std::vector<std::string> short_lines = StandardHeadLines("SMTP");
  short_lines.pop_back();
  const std::string post_earlier =
      Write("post_earlier.cf", MakeHead(StandardHeadLines("Http Post")) + "x");
  const std::string mail_earlier =
      Write("mail_earlier.cf", MakeCapture(MakeSampleMail(10).message, "POP3"));
  const std::string path =
      Write("short.cf", MakeHead(short_lines) + MakeSampleMail().message);

  const auto post_attempt = [&](const FaultPoint& fault, bool* hit) {
    CHttpPostContentFile post;
    EXPECT_EQ(post.OpenContentFile(post_earlier.c_str()), 0);
    fault.Arm();
    const Result result =
        RunOperation([&] { return post.OpenContentFile(path.c_str()); });
    *hit = fault.Disarm();
    const ST_HTTPPOST_LOG_INFO& info = post.GetLogInfo();
    if (result.Name() == "invalid_argument") {
      EXPECT_EQ(info.nLogType, LOG_TYPE_SMTP);
      EXPECT_STREQ(info.szLine13, short_lines[11].c_str());
      EXPECT_STREQ(info.szLine9, "");
    } else {
      EXPECT_EQ(info.nLogType, LOG_TYPE_HTTP_POST);
      EXPECT_STREQ(info.szLine9, "line9");
    }
    return result.Name();
  };
  EXPECT_EQ(FailEachInTurn(Failing::kOperatorNew, post_attempt),
            (std::set<std::string>{"-10", "-11"}));

  const auto mail_attempt = [&](const FaultPoint& fault, bool* hit) {
    CMailContentFile mail;
    EXPECT_EQ(mail.OpenContentFile(mail_earlier.c_str()), 0);
    fault.Arm();
    const Result result =
        RunOperation([&] { return mail.OpenContentFile(path.c_str()); });
    *hit = fault.Disarm();
    const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
    if (result.Name() == "invalid_argument") {
      EXPECT_EQ(info.nLogType, LOG_TYPE_SMTP);
      EXPECT_STREQ(info.szLine13, short_lines[11].c_str());
      EXPECT_STREQ(info.szSubject, "");
      EXPECT_EQ(mail.GetAttachmentCount(), 3);
    } else {
      EXPECT_EQ(info.nLogType, LOG_TYPE_POP3);
      EXPECT_EQ(mail.GetAttachmentCount(), 0);
    }
    return result.Name();
  };
  EXPECT_EQ(FailEachInTurn(Failing::kOperatorNew, mail_attempt),
            (std::set<std::string>{"-2", "-14", "-16"}));
}

// ---------------------------------------------------------------------------
// Out of memory inside a read of the open (a file error that cannot be
// built, or a kind's own GetContentHead or GetContentBody) is that read
// failing: -11 for the HTTP POST head, -13 for the mail body, -16 for the
// mail head, each with the record of the last head analysed.

template <typename Kind>
class ThrowingReads : public Kind {
 public:
  int32_t GetContentHead(char* buffer, uint32_t& length) override {
    if (head_throws) throw std::bad_alloc();
    return Kind::GetContentHead(buffer, length);
  }
  int32_t GetContentBody(char* buffer, uint32_t& length) override {
    if (body_throws) throw std::bad_alloc();
    return Kind::GetContentBody(buffer, length);
  }
  bool head_throws = false;
  bool body_throws = false;
};

TEST_F(FaultMatrixTest, OutOfMemoryInAReadOfTheOpenIsAFailedRead) {
  const std::string post_path =
      Write("post.cf", MakeHead(StandardHeadLines("Http Post")) + "a=1");
  const std::string earlier =
      Write("earlier.cf", MakeCapture(MakeSampleMail(10).message, "POP3"));
  const std::string mail_path =
      Write("mail.cf", MakeCapture(MakeSampleMail().message));

  ThrowingReads<CHttpPostContentFile> post;
  ASSERT_EQ(post.OpenContentFile(post_path.c_str()), 0);
  post.head_throws = true;
  EXPECT_EQ(post.OpenContentFile(post_path.c_str()), -11);
  EXPECT_EQ(post.GetLogInfo().nLogType, LOG_TYPE_HTTP_POST);
  EXPECT_EQ(post.GetBodySize(), 3u);

  for (const bool body : {true, false}) {
    SCOPED_TRACE(body ? "body read" : "head read");
    ThrowingReads<CMailContentFile> mail;
    ASSERT_EQ(mail.OpenContentFile(earlier.c_str()), 0);
    mail.body_throws = body;
    mail.head_throws = !body;
    EXPECT_EQ(mail.OpenContentFile(mail_path.c_str()), body ? -13 : -16);
    EXPECT_EQ(mail.GetLogInfo().nLogType, LOG_TYPE_POP3);
    EXPECT_EQ(mail.GetAttachmentCount(), 0);
    EXPECT_GT(mail.GetBodySize(), 0u);
  }
}

// ---------------------------------------------------------------------------
// SaveBody2File: -4 (body buffer), -5 (body read), -6 (write or close). An
// existing target keeps its content after -4 and -5; after -6 it holds what
// was written, a beginning of the body.

TEST_F(FaultMatrixTest, SaveBody2File) {
  std::string body(200000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31);
  const std::string path = Write("c.cf", MakeCapture(body));
  const std::string target = dir_.File("target");

  for (bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "existing target" : "new target");
    Outcomes seen;
    for (Failing failing : kEveryFailing) {
      seen[failing] = FailEachInTurn(failing, [&](const FaultPoint& fault,
                                                  bool* hit) {
        CContentFile file;
        EXPECT_EQ(file.OpenContentFile(path.c_str()), 0);
        if (existing) {
          WriteFile(target, "PRECIOUS");
        } else {
          unlink(target.c_str());
        }
        fault.Arm();
        const Result result =
            RunOperation([&] { return file.SaveBody2File(target.c_str()); });
        *hit = fault.Disarm();
        const std::string outcome = result.Name();
        const std::string left =
            FileExists(target) ? ReadFile(target) : "<none>";
        if (outcome == "0") {
          EXPECT_EQ(left, body);
        } else if (outcome == "-6") {
          EXPECT_EQ(left, body.substr(0, left.size()))
              << "not what was written";
        } else if (existing) {
          EXPECT_EQ(left, "PRECIOUS");
        } else if (outcome != "bad_alloc") {
          EXPECT_EQ(left, "");  // a new target stays behind, empty
        }
        EXPECT_EQ(file.SaveBody2File(target.c_str()), 0) << "after " << outcome;
        return outcome;
      });
    }
    EXPECT_EQ(seen[Failing::kSeamAllocation], std::set<std::string>{"-4"});
    EXPECT_EQ(seen[Failing::kRead], std::set<std::string>{"-5"});
    EXPECT_EQ(seen[Failing::kWrite], std::set<std::string>{"-6"});
    EXPECT_EQ(seen[Failing::kClose], std::set<std::string>{"-6"});
    EXPECT_EQ(seen[Failing::kOperatorNew], IfNewCanFail({"bad_alloc"}));
  }
}

// ---------------------------------------------------------------------------
// GetAttachment2File: -12 and -13 (the decoding buffer of a base64 and of a
// quoted-printable attachment), -15 (write or close). An existing target
// keeps its content after -12 and -13 and a new one stays behind empty;
// after -15 the target holds a beginning of the decoded content.

TEST_F(FaultMatrixTest, GetAttachment2File) {
  const SampleMail sample = MakeSampleMail(200000);
  const std::string path = Write("mail.cf", MakeCapture(sample.message));
  const std::string target = dir_.File("target");
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(mail.GetAttachmentCount(), 3);

  const char* const kNoMemoryCode[] = {"-12", "-13", nullptr};
  for (int32_t index = 0; index < 3; ++index) {
    const std::string& decoded = sample.attachments[static_cast<size_t>(index)];
    for (bool existing : {true, false}) {
      SCOPED_TRACE("attachment " + std::to_string(index) +
                   (existing ? ", existing target" : ", new target"));
      Outcomes seen;
      for (Failing failing : kEveryFailing) {
        seen[failing] =
            FailEachInTurn(failing, [&](const FaultPoint& fault, bool* hit) {
              if (existing) {
                WriteFile(target, "PRECIOUS");
              } else {
                unlink(target.c_str());
              }
              fault.Arm();
              const Result result = RunOperation([&] {
                return mail.GetAttachment2File(index, target.c_str());
              });
              *hit = fault.Disarm();
              const std::string outcome = result.Name();
              const std::string left =
                  FileExists(target) ? ReadFile(target) : "<none>";
              if (outcome == "0") {
                EXPECT_EQ(left, decoded);
              } else if (outcome == "-15") {
                EXPECT_EQ(left, decoded.substr(0, left.size()));
              } else if (existing) {
                EXPECT_EQ(left, "PRECIOUS");
              } else if (outcome != "bad_alloc") {
                EXPECT_EQ(left, "");
              }
              return outcome;
            });
      }
      const char* no_memory = kNoMemoryCode[index];
      EXPECT_EQ(seen[Failing::kSeamAllocation],
                no_memory ? std::set<std::string>{no_memory}
                          : std::set<std::string>{});
      EXPECT_EQ(seen[Failing::kRead], std::set<std::string>{});
      EXPECT_EQ(seen[Failing::kWrite], std::set<std::string>{"-15"});
      EXPECT_EQ(seen[Failing::kClose], std::set<std::string>{"-15"});
      EXPECT_EQ(seen[Failing::kOperatorNew], IfNewCanFail({"bad_alloc"}));
    }
  }
  // The object is unharmed by all of it.
  EXPECT_EQ(mail.GetAttachment2File(0, target.c_str()), 0);
  EXPECT_EQ(ReadFile(target), sample.attachments[0]);
}

// ---------------------------------------------------------------------------
// A content file that shrinks after it was opened: the sizes taken at open
// stand, reads that reach past the new end report -3 (and a save -5), and a
// mail, read once at open, is served from memory whatever the file does.

TEST_F(FaultMatrixTest, AFileThatShrinksAfterOpen) {
  const SampleMail sample = MakeSampleMail();
  const std::string capture = MakeCapture(sample.message);
  const std::string path = Write("mail.cf", capture);
  const uint32_t head_size =
      static_cast<uint32_t>(capture.size() - sample.message.size());
  const std::string target = dir_.File("target");

  CContentFile file;
  CHttpPostContentFile post;
  CMailContentFile mail;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(post.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  ASSERT_EQ(truncate(path.c_str(), head_size + 10), 0);

  std::vector<char> buffer(capture.size());
  for (CContentFile* object : {&file, static_cast<CContentFile*>(&post),
                               static_cast<CContentFile*>(&mail)}) {
    EXPECT_EQ(object->GetBodySize(), sample.message.size());
    uint32_t length = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(object->GetContentBody(buffer.data(), length), -3);
    length = 10;  // what is still there reads as before
    EXPECT_EQ(object->GetContentBody(buffer.data(), length), 0);
    EXPECT_EQ(std::string(buffer.data(), length), sample.message.substr(0, 10));
    length = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(object->GetContentHead(buffer.data(), length), 0);
    EXPECT_EQ(length, head_size);

    WriteFile(target, "PRECIOUS");
    EXPECT_EQ(object->SaveBody2File(target.c_str()), -5);
    EXPECT_EQ(ReadFile(target), "PRECIOUS");
  }

  EXPECT_EQ(MailText(mail), sample.text);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(mail.GetAttachment2File(i, target.c_str()), 0);
    EXPECT_EQ(ReadFile(target), sample.attachments[static_cast<size_t>(i)]);
  }

  // Cut into the head as well.
  ASSERT_EQ(truncate(path.c_str(), 5), 0);
  uint32_t length = static_cast<uint32_t>(buffer.size());
  EXPECT_EQ(file.GetContentHead(buffer.data(), length), -3);
  // An open now finds what the file holds now.
  CMailContentFile again;
  EXPECT_EQ(again.OpenContentFile(path.c_str()), -4);
}

// ---------------------------------------------------------------------------
// Targets that are no regular file: refused at once, never waited on; a
// FIFO that has a reader receives the content and is not emptied.

TEST_F(FaultMatrixTest, TargetsThatAreNoRegularFile) {
  const SampleMail sample = MakeSampleMail(100);
  const std::string path = Write("mail.cf", MakeCapture(sample.message));
  CMailContentFile mail;
  ASSERT_EQ(mail.OpenContentFile(path.c_str()), 0);
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string through_file = path + "/x";
  const std::string missing_folder = dir_.File("missing/x");
  const int descriptors = CountOpenDescriptors();

  for (const std::string& target :
       {fifo, through_file, missing_folder, dir_.path()}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(mail.SaveBody2File(target.c_str()), -2);
    EXPECT_EQ(mail.GetAttachment2File(0, target.c_str()), -11);
  }
  EXPECT_EQ(CountOpenDescriptors(), descriptors);

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string received(4096, '\0');
  EXPECT_EQ(mail.GetAttachment2File(2, fifo.c_str()), 0);
  ssize_t n = read(reader, received.data(), received.size());
  EXPECT_EQ(std::string(received.data(), n > 0 ? n : 0), sample.attachments[2]);
  EXPECT_EQ(mail.SaveBody2File(fifo.c_str()), 0);
  n = read(reader, received.data(), received.size());
  EXPECT_EQ(std::string(received.data(), n > 0 ? n : 0), sample.message);
  close(reader);
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace contentfile_test
