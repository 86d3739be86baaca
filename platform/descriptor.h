// Writing to descriptors: the one write loop of the library (files it
// creates and descriptors a caller hands in), and the checks a caller's
// descriptor passes before anything is written to it.
//
// A caller's descriptor is written at its current position and is never
// truncated, locked, repositioned or closed here; it may be a pipe, a
// socket or a device.

#ifndef CONTENTFILE_PLATFORM_DESCRIPTOR_H_
#define CONTENTFILE_PLATFORM_DESCRIPTOR_H_

#include <cstddef>
#include <string>

#include "platform/file.h"

namespace contentfile_internal {

// Writes every byte to `fd`: partial writes and EINTR are retried, and a
// descriptor in non-blocking mode is waited on until it takes more. Raises
// CFileError (errno, `name`) when a write fails or makes no progress. With
// `may_break` (a pipe, socket or other non-regular file) a broken pipe is
// reported that way too, never as SIGPIPE: the signal is held off for the
// calling thread while it writes, and one raised by these writes is
// discarded.
void WriteAll(int fd, const char* data, size_t length, const std::string& name,
              bool may_break);

enum class WriteTarget {
  kUsable,
  kBad,      // not an open descriptor, or not open for writing
  kRefused,  // the capture itself, or a content file held open
};

// Checks a caller's descriptor before a retrieval writes to it. Refused:
// the file `capture` reads (same device and inode), and a regular file on
// which some other open file holds a shared lock while none holds an
// exclusive one, which is how an open content file marks itself. A lock the
// caller holds on its own target is no reason to refuse it. `regular` tells
// whether a usable descriptor is a regular file.
WriteTarget CheckWriteTarget(int fd, const FileHandle* capture, bool* regular);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_DESCRIPTOR_H_
