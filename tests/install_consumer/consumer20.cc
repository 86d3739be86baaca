// A C++20 program outside the project, built with the installed package's
// pkg-config flags: they must not pin an older language standard.
#include <contentfile.h>

#include <cstdio>
#include <span>

int main() {
  const char bytes[] = "3\r\nSMTP\r\nx\r\n";
  std::span<const char> view(bytes, sizeof(bytes) - 1);
  ST_LOG_INFO info{};
  std::printf("%zu %d\n", view.size(), info.nLogType);
  return 0;
}
