// A program outside the project, built against the installed package.
#include <contentfile.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  CMailContentFile mail;
  CHttpPostContentFile post;
  (void)post;
  std::vector<contentfile::PartInfo> parts;
  if (mail.GetParts(parts) != -1) return 1;  // no mail parsed
  CContentFile file;
  if (file.OpenContentFile(argv[1]) != 0) return 1;
  char head[64];
  uint32_t length = sizeof(head);
  if (file.GetContentHead(head, length) != 0) return 1;
  // The body through a descriptor.
  int fds[2];
  if (pipe(fds) != 0 || file.SaveBody2Fd(fds[1]) != 0) return 1;
  close(fds[1]);
  char body[16] = {};
  if (read(fds[0], body, sizeof(body)) != 4 || std::memcmp(body, "body", 4)) {
    return 1;
  }
  close(fds[0]);
  try {
    throw CFileError(2, "x", "test");
  } catch (const std::system_error& e) {
    if (e.code().value() != 2) return 1;
  }
  std::printf("head %u body %u\n", file.GetHeadSize(), file.GetBodySize());
  return 0;
}
