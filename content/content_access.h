// What the library's own kinds of content file reach of the base object
// beyond its public interface.

#ifndef CONTENTFILE_CONTENT_CONTENT_ACCESS_H_
#define CONTENTFILE_CONTENT_CONTENT_ACCESS_H_

#include <memory>

#include "contentfile.h"
#include "platform/file.h"

namespace contentfile_internal {

class ContentFileAccess {
 public:
  // The open capture, or null when none is open.
  static const FileHandle* Capture(const CContentFile& file) {
    return file.m_hFile.get();
  }
  // The open capture, shared: it stays open as long as the result lives.
  static std::shared_ptr<const FileHandle> SharedCapture(
      const CContentFile& file) {
    return file.m_hFile;
  }

  // The base open, which leaves the capture's first bytes held in memory
  // (FileHandle::HoldPrefix) for the analyses of the open that called it;
  // an OpenPrefix made before the call lets them go when that open ends.
  static int32_t OpenHoldingPrefix(CContentFile& file, const char* path);
  static void DropPrefix(CContentFile& file) {
    if (file.m_hFile) file.m_hFile->DropPrefix();
  }
};

// Lets the bytes an open holds go when the open ends, however it ends: every
// read after the open sees the file as it is then.
class OpenPrefix {
 public:
  explicit OpenPrefix(CContentFile& file) : file_(file) {}
  ~OpenPrefix() { ContentFileAccess::DropPrefix(file_); }
  OpenPrefix(const OpenPrefix&) = delete;
  OpenPrefix& operator=(const OpenPrefix&) = delete;

 private:
  CContentFile& file_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CONTENT_CONTENT_ACCESS_H_
