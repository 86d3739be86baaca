// What the library's own kinds of content file reach of the base object
// beyond its public interface.

#ifndef CONTENTFILE_CONTENT_CONTENT_ACCESS_H_
#define CONTENTFILE_CONTENT_CONTENT_ACCESS_H_

#include "contentfile.h"
#include "platform/file.h"

namespace contentfile_internal {

class ContentFileAccess {
 public:
  // The open capture, or null when none is open.
  static const FileHandle* Capture(const CContentFile& file) {
    return file.m_hFile.get();
  }
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CONTENT_CONTENT_ACCESS_H_
