// Faults found by the fuzz targets and the failure matrix, each kept as the
// smallest case that showed it.

#include <new>
#include <string>

#include "contentfile.h"
#include "gtest/gtest.h"
#include "tests/hardening/failing_new.h"
#include "tests/support/test_files.h"

namespace contentfile_test {
namespace {

// Out of memory right after a file was opened (for the file object or its
// copy of the path) used to lose the descriptor and, with it, the lock:
// the content file stayed locked for the life of the process, and a target
// so left refused every later save with -2. (The open reports it as -2.)
TEST(Regression, OutOfMemoryAfterOpeningAFileKeepsNoDescriptor) {
  if (!OperatorNewCanFail()) GTEST_SKIP() << "operator new cannot fail here";
  TempDir dir;
  const std::string path = dir.File("a_path_longer_than_a_short_string.cf");
  WriteFile(path, "2\r\nline\r\nBODY");
  const std::string target = dir.File("a_target_longer_than_a_short_string");
  CContentFile file;
  ASSERT_EQ(file.OpenContentFile(path.c_str()), 0);
  const int descriptors = CountOpenDescriptors();

  for (long skip : {0L, 1L}) {
    SCOPED_TRACE(skip);
    CContentFile other;
    FailOperatorNew(skip);
    EXPECT_EQ(other.OpenContentFile(path.c_str()), -2);
    EXPECT_TRUE(StopFailingOperatorNew());
    EXPECT_EQ(CountOpenDescriptors(), descriptors);

    FailOperatorNew(skip);
    EXPECT_THROW(file.SaveBody2File(target.c_str()), std::bad_alloc);
    EXPECT_TRUE(StopFailingOperatorNew());
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_EQ(file.SaveBody2File(target.c_str()), 0);
    EXPECT_EQ(ReadFile(target), "BODY");
  }
}

}  // namespace
}  // namespace contentfile_test
