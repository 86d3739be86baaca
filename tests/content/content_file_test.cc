#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "platform/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

using contentfile_internal::ClearFaults;
using contentfile_internal::Fault;
using contentfile_internal::InjectFault;
using contentfile_test::CountOpenDescriptors;
using contentfile_test::FileExists;
using contentfile_test::ReadFile;
using contentfile_test::TempDir;
using contentfile_test::WriteFile;

struct FaultGuard {
  ~FaultGuard() { ClearFaults(); }
};

std::string Head(CContentFile& file) {
  std::string out(file.GetHeadSize() + 1, '\0');
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(file.GetContentHead(out.data(), length), 0);
  out.resize(length);
  return out;
}

std::string Body(CContentFile& file) {
  std::string out(file.GetBodySize() + 1, '\0');
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(file.GetContentBody(out.data(), length), 0);
  out.resize(length);
  return out;
}

// A file's bytes, the head size and the body size the open must find.
struct HeadCase {
  const char* name;
  std::string bytes;
  int32_t result;
  uint32_t head_size;
  uint32_t body_size;
};

TEST(OpenContentFile, FindsTheHeadByItsLineCount) {
  const std::vector<HeadCase> cases = {
      {"three lines and a body", "3\r\nSMTP\r\nx\r\nabc", 0, 12, 3},
      {"bare LF line ends", "3\nSMTP\nx\nabc", 0, 9, 3},
      {"CR inside a line", "2\r\na\rb\r\nxy", 0, 8, 2},
      {"only the head", "2\r\nab\r\n", 0, 7, 0},
      {"last line without a line end", "2\r\nab", 0, 5, 0},
      {"N is 0", "0\r\nrest\r\n", 0, 3, 6},
      {"N is 1", "1\r\nrest", 0, 3, 4},
      {"N is negative", "-5\r\nrest", 0, 4, 4},
      {"N is not a number", "x3\r\nrest", 0, 4, 4},
      {"blank then 2 then words", " 2 words\r\nnext\r\nbody", 0, 16, 4},
      {"N with a sign", "+2\r\na\r\nb", 0, 7, 1},
      {"N wraps modulo 2^32", "4294967298\r\na\r\nb", 0, 15, 1},
      {"N larger than the lines present", "5\r\na\r\nb\r\n", -4, 0, 0},
      {"empty file", "", -3, 0, 0},
      {"NUL ends the number",
       std::string("2\0"
                   "5\r\na\r\nb",
                   9),
       0, 8, 1},
  };
  TempDir dir;
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("c.cf");
    WriteFile(path, c.bytes);
    CContentFile file;
    EXPECT_EQ(file.OpenContentFile(path.c_str()), c.result);
    EXPECT_EQ(file.GetHeadSize(), c.head_size);
    EXPECT_EQ(file.GetBodySize(), c.body_size);
    if (c.result == 0) {
      EXPECT_EQ(Head(file), c.bytes.substr(0, c.head_size));
      if (c.body_size > 0) {
        EXPECT_EQ(Body(file), c.bytes.substr(c.head_size));
      }
    }
  }
}

TEST(OpenContentFile, ReadsHeadsLongerThanOneReadChunk) {
  TempDir dir;
  const std::string long_line(100000, 'x');
  // A CR LF that straddles the reader's chunk boundary at every offset
  // around it must still end the line.
  for (size_t pad = 16370; pad < 16400; ++pad) {
    std::string bytes =
        "3\r\n" + std::string(pad, 'a') + "\r\n" + long_line + "\r\nBODY";
    WriteFile(dir.File("l.cf"), bytes);
    CContentFile file;
    ASSERT_EQ(file.OpenContentFile(dir.File("l.cf").c_str()), 0);
    ASSERT_EQ(file.GetBodySize(), 4u) << pad;
  }
}

TEST(OpenContentFile, RefusesWhatIsNotAReadableRegularFile) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string ok = dir.File("ok.cf");
  WriteFile(ok, "1\r\nbody");
  const std::vector<std::string> refused = {
      dir.File("missing.cf"), dir.path(), fifo, "/dev/null", "/dev/zero",
  };
  for (const std::string& path : refused) {
    SCOPED_TRACE(path);
    CContentFile file;
    ASSERT_EQ(file.OpenContentFile(ok.c_str()), 0);
    // The failed open leaves the object without the first file.
    EXPECT_EQ(file.OpenContentFile(path.c_str()), -2);
    EXPECT_EQ(file.GetHeadSize(), 0u);
    char buffer[8];
    uint32_t length = sizeof(buffer);
    EXPECT_EQ(file.GetContentHead(buffer, length), -1);
    EXPECT_EQ(file.SaveBody2File(dir.File("out").c_str()), -1);
  }
  CContentFile file;
  EXPECT_EQ(file.OpenContentFile(nullptr), -1);
}

TEST(OpenContentFile, RefusesPathsOf260CharactersOrMore) {
  TempDir dir;
  // The first 259 characters name an existing file: it must not be opened.
  std::string path = dir.path() + "/";
  path += std::string(259 - path.size(), 'a');
  ASSERT_EQ(path.size(), 259u);
  WriteFile(path, "1\r\nbody");
  CContentFile file;
  EXPECT_EQ(file.OpenContentFile(path.c_str()), 0);
  const std::string longer = path + std::string(41, 'b');
  EXPECT_EQ(file.OpenContentFile(longer.c_str()), -2);
  EXPECT_EQ(file.GetBodySize(), 0u);
  EXPECT_EQ(file.OpenContentFile((path + "x").c_str()), -2);
}

TEST(OpenContentFile, RefusesFilesOf4GiBOrMore) {
  TempDir dir;
  const std::string path = dir.File("big.cf");
  WriteFile(path, "1\r\n");
  ASSERT_EQ(truncate(path.c_str(), 0x100000000LL), 0);  // sparse
  CContentFile file;
  EXPECT_EQ(file.OpenContentFile(path.c_str()), -2);
  ASSERT_EQ(truncate(path.c_str(), 0xFFFFFFFFLL), 0);
  EXPECT_EQ(file.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(file.GetBodySize(), 0xFFFFFFFFu - 3);
}

TEST(OpenContentFile, RaisesTheFileErrorOfTheLineReader) {
  FaultGuard guard;
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "3\r\na\r\nb\r\nbody");
  CContentFile file;
  InjectFault(Fault::kRead, 0);
  try {
    file.OpenContentFile(path.c_str());
    FAIL() << "no error raised";
  } catch (const CFileError& e) {
    EXPECT_EQ(e.code().value(), EIO);
    EXPECT_EQ(e.path(), path);
  }
  // The file stays open with sizes 0.
  EXPECT_EQ(file.GetHeadSize(), 0u);
  char buffer[4];
  uint32_t length = sizeof(buffer);
  EXPECT_EQ(file.GetContentHead(buffer, length), 0);
  EXPECT_EQ(length, 0u);
}

TEST(OpenContentFile, EmptyFileStaysOpenWithoutHead) {
  TempDir dir;
  WriteFile(dir.File("e.cf"), "");
  CContentFile file;
  EXPECT_EQ(file.OpenContentFile(dir.File("e.cf").c_str()), -3);
  char buffer[4];
  uint32_t length = sizeof(buffer);
  EXPECT_EQ(file.GetContentBody(buffer, length), 0);
  EXPECT_EQ(length, 0u);
  const std::string target = dir.File("t");
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -3);
  EXPECT_TRUE(FileExists(target));
}

TEST(GetContentHead, HonoursTheLengthArgument) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "2\r\nab\r\nBODY");
  CContentFile file;
  char buffer[32] = {};
  uint32_t length = sizeof(buffer);
  EXPECT_EQ(file.GetContentHead(buffer, length), -1);
  EXPECT_EQ(file.GetContentBody(nullptr, length), -1);  // -1 before -2
  EXPECT_EQ(length, sizeof(buffer));
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(file.GetContentHead(nullptr, length), -2);
  length = 0;
  EXPECT_EQ(file.GetContentHead(buffer, length), -2);
  EXPECT_EQ(file.GetContentBody(buffer, length), -2);
  length = 3;
  EXPECT_EQ(file.GetContentHead(buffer, length), 0);
  EXPECT_EQ(std::string(buffer, length), "2\r\n");
  length = sizeof(buffer);
  EXPECT_EQ(file.GetContentBody(buffer, length), 0);
  EXPECT_EQ(std::string(buffer, length), "BODY");
  length = 2;
  EXPECT_EQ(file.GetContentBody(buffer, length), 0);
  EXPECT_EQ(std::string(buffer, length), "BO");
}

TEST(GetContentBody, ReportsAShrunkFileAndReadErrors) {
  FaultGuard guard;
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "1\r\n0123456789");
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  char buffer[16];
  uint32_t length = sizeof(buffer);
  InjectFault(Fault::kRead, 0);
  EXPECT_EQ(file.GetContentBody(buffer, length), -4);
  EXPECT_EQ(length, sizeof(buffer));
  ASSERT_EQ(truncate(path.c_str(), 8), 0);
  EXPECT_EQ(file.GetContentBody(buffer, length), -3);
  EXPECT_EQ(length, sizeof(buffer));
  EXPECT_EQ(file.SaveBody2File(dir.File("t").c_str()), -5);
}

TEST(SaveBody2File, WritesTheBody) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  std::string body;
  for (int i = 0; i < 300000; ++i) body += static_cast<char>(i * 7);
  WriteFile(path, "2\r\nx\r\n" + body);
  CContentFile file;
  EXPECT_EQ(file.SaveBody2File(dir.File("t").c_str()), -1);
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  const std::string target = dir.File("t");
  WriteFile(target, std::string(400000, 'z'));  // longer than the body
  EXPECT_EQ(file.SaveBody2File(target.c_str()), 0);
  EXPECT_EQ(ReadFile(target), body);
  EXPECT_EQ(file.SaveBody2File(nullptr), -2);
  EXPECT_EQ(file.SaveBody2File(dir.File("no/such/dir").c_str()), -2);
  EXPECT_EQ(file.SaveBody2File(dir.path().c_str()), -2);
  EXPECT_EQ(
      file.SaveBody2File((dir.path() + "/" + std::string(300, 'a')).c_str()),
      -2);
  EXPECT_EQ(file.SaveBody2File("/dev/full"), -6);
}

TEST(SaveBody2File, NeverWritesOntoAnOpenContentFile) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  const std::string bytes = "2\r\nx\r\nBODY";
  WriteFile(path, bytes);
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(file.SaveBody2File(path.c_str()), -2);  // onto itself
  EXPECT_EQ(ReadFile(path), bytes);

  const std::string other = dir.File("d.cf");
  const std::string other_bytes = "1\r\nOTHER";
  WriteFile(other, other_bytes);
  CContentFile second;
  ASSERT_EQ(second.OpenContentFile(other.c_str()), 0);
  EXPECT_EQ(file.SaveBody2File(other.c_str()), -2);  // held by another object
  EXPECT_EQ(ReadFile(other), other_bytes);
  second.CloseContentFile();
  EXPECT_EQ(file.SaveBody2File(other.c_str()), 0);
  EXPECT_EQ(ReadFile(other), "BODY");
}

TEST(SaveBody2File, NeverWritesOntoAFileOpenInAnotherProcess) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "1\r\nCONTENT");
  const std::string source = dir.File("s.cf");
  WriteFile(source, "1\r\nNEW");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CContentFile holder;
    char c = holder.OpenContentFile(path.c_str()) == 0 ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (read(done[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(source.c_str()), 0);
  EXPECT_EQ(file.SaveBody2File(path.c_str()), -2);
  EXPECT_EQ(ReadFile(path), "1\r\nCONTENT");
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(file.SaveBody2File(path.c_str()), 0);
  EXPECT_EQ(ReadFile(path), "NEW");
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST(SaveBody2File, AFailingSaveKeepsAnExistingTarget) {
  FaultGuard guard;
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "1\r\nBODY");
  const std::string target = dir.File("keep");
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);

  WriteFile(target, "PRECIOUS");
  InjectFault(Fault::kAllocation, 0);
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -4);
  EXPECT_EQ(ReadFile(target), "PRECIOUS");

  InjectFault(Fault::kRead, 0);
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -5);
  EXPECT_EQ(ReadFile(target), "PRECIOUS");

  InjectFault(Fault::kWrite, 0);
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -6);
  InjectFault(Fault::kClose, 0);
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -6);
  EXPECT_EQ(ReadFile(target), "BODY");  // what was written stays

  WriteFile(path, "2\r\nx\r\n");
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(file.SaveBody2File(target.c_str()), -3);
  EXPECT_EQ(ReadFile(target), "BODY");
  const std::string fresh = dir.File("fresh");
  EXPECT_EQ(file.SaveBody2File(fresh.c_str()), -3);
  EXPECT_EQ(ReadFile(fresh), "");  // a new target stays behind, empty
}

TEST(SaveBody2File, ReportsOutOfMemoryUnderAnAddressSpaceLimit) {
  // The real allocator, not the seam: a child process whose address space
  // cannot hold the body.
#if CONTENTFILE_UNDER_ASAN
  GTEST_SKIP() << "an address space limit cannot apply under AddressSanitizer";
#endif
  TempDir dir;
  const std::string path = dir.File("big.cf");
  WriteFile(path, "1\r\n");
  ASSERT_EQ(truncate(path.c_str(), 3 + (3ull << 30)), 0);  // 3 GiB, sparse
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit limit = {1ull << 30, 1ull << 30};
    setrlimit(RLIMIT_AS, &limit);
    CContentFile file;
    if (file.OpenContentFile(path.c_str()) != 0) _exit(10);
    _exit(-file.SaveBody2File(dir.File("t").c_str()));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4);
}

TEST(CContentFileCopies, ShareTheOpenFileUntilTheLastOneCloses) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "2\r\nhead\r\nBODY");
  for (bool close_original_first : {true, false}) {
    SCOPED_TRACE(close_original_first);
    const int before = CountOpenDescriptors();
    auto original = std::make_unique<CContentFile>();
    ASSERT_EQ(original->OpenContentFile(path.c_str()), 0);
    auto copy = std::make_unique<CContentFile>(*original);
    CContentFile assigned;
    assigned = *original;
    EXPECT_EQ(CountOpenDescriptors(), before + 1);  // one shared file
    std::unique_ptr<CContentFile>& first =
        close_original_first ? original : copy;
    std::unique_ptr<CContentFile>& second =
        close_original_first ? copy : original;
    first->CloseContentFile();
    EXPECT_EQ(first->GetBodySize(), 0u);
    EXPECT_EQ(Body(*second), "BODY");
    EXPECT_EQ(Head(assigned), "2\r\nhead\r\n");
    first.reset();
    second.reset();
    EXPECT_EQ(Body(assigned), "BODY");
    assigned = CContentFile();  // the last owner lets go
    EXPECT_EQ(CountOpenDescriptors(), before);
  }
}

TEST(OpenContentFile, LeaksNoDescriptors) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "2\r\nx\r\nBODY");
  const int before = CountOpenDescriptors();
  for (int i = 0; i < 10000; ++i) {
    CContentFile file;
    ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
    if (i % 2 == 0) file.CloseContentFile();
  }
  CContentFile reused;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(reused.OpenContentFile(path.c_str()), 0);
    ASSERT_EQ(reused.OpenContentFile(dir.path().c_str()), -2);
  }
  EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST(CloseContentFile, AlwaysLeadsToClosed) {
  TempDir dir;
  const std::string path = dir.File("c.cf");
  WriteFile(path, "2\r\nx\r\nBODY");
  CContentFile file;
  EXPECT_EQ(file.CloseContentFile(), 0);
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  EXPECT_EQ(file.CloseContentFile(), 0);
  EXPECT_EQ(file.CloseContentFile(), 0);
  EXPECT_EQ(file.GetHeadSize(), 0u);
  EXPECT_EQ(file.GetBodySize(), 0u);
}

TEST(OpenContentFile, AWriterBeingSavedCannotBeOpened) {
  // While the library writes a file, it holds an exclusive lock: an open of
  // that file as content fails with -2 instead of reading a half-written
  // file. Simulated with the lock alone.
  TempDir dir;
  const std::string path = dir.File("w.cf");
  WriteFile(path, "1\r\nx");
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  CContentFile file;
  EXPECT_EQ(file.OpenContentFile(path.c_str()), -2);
  close(fd);
  EXPECT_EQ(file.OpenContentFile(path.c_str()), 0);
}

}  // namespace
