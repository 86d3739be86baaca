// A program outside the project, built against the installed package.
#include <contentfile.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  CMailContentFile mail;
  CHttpPostContentFile post;
  (void)mail;
  (void)post;
  CContentFile file;
  if (file.OpenContentFile(argv[1]) != 0) return 1;
  char head[64];
  uint32_t length = sizeof(head);
  if (file.GetContentHead(head, length) != 0) return 1;
  try {
    throw CFileError(2, "x", "test");
  } catch (const std::system_error& e) {
    if (e.code().value() != 2) return 1;
  }
  std::printf("head %u body %u\n", file.GetHeadSize(), file.GetBodySize());
  return 0;
}
