// Opens each content file named on the command line and prints its head
// and body sizes and its head.
#include <contentfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    CContentFile file;
    int32_t rc = file.OpenContentFile(argv[i]);
    if (rc != 0) {
      std::fprintf(stderr, "%s: cannot open (code %d)\n", argv[i], rc);
      ++failures;
      continue;
    }
    std::printf("%s: head %u bytes, body %u bytes\n", argv[i],
                file.GetHeadSize(), file.GetBodySize());
    uint32_t length = file.GetHeadSize();
    std::vector<char> head(length + 1);
    if (length > 0 && file.GetContentHead(head.data(), length) == 0) {
      std::fwrite(head.data(), 1, length, stdout);
    }
  }
  return failures == 0 ? 0 : 1;
}
