// The file layer: the only code that opens, reads, writes and locks files.
//
// Locking: an open content file holds a shared flock for its whole life and
// a file being written holds an exclusive one, both taken without waiting.
// So among programs that use this library a content file admits no writer
// while it is open, and a file being written cannot be opened as content.
//
// Failures of reads, writes and closes are raised as CFileError (errno and
// path); failures to open are returned, since every caller turns them into
// a result code.

#ifndef CONTENTFILE_PLATFORM_FILE_H_
#define CONTENTFILE_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace contentfile_internal {

// Largest number of path characters that is used; longer paths are refused.
constexpr size_t kMaxPathLength = 259;

// Which file an open descriptor refers to: its device and inode.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// A content file open for reading.
class FileHandle {
 public:
  // Opens an existing regular file for reading, without ever blocking.
  // Returns null when the path is null or longer than kMaxPathLength, or
  // when the file cannot be opened, is not a regular file (a directory,
  // FIFO, device or socket), is 4 GiB or more, or is held by a writer.
  static std::unique_ptr<FileHandle> Open(const char* path);

  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // The size taken at open; the file is read no further than this.
  uint32_t size() const { return size_; }
  const std::string& path() const { return path_; }
  FileIdentity identity() const { return identity_; }

  // Reads up to `length` bytes from `offset`, looping over short reads and
  // EINTR; returns fewer bytes only at the end of the file. Positioned
  // reads: the handle keeps no position, so sharers never disturb each
  // other. Raises CFileError.
  size_t ReadAt(uint64_t offset, char* buffer, size_t length) const;

  // Reads the file's first `length` bytes (at most its size) in one go and
  // serves every later read that lies wholly within them from memory until
  // DropPrefix: an open reads its head and a small message more than once.
  // Not for a handle already shared with another thread. Raises CFileError
  // and std::bad_alloc.
  void HoldPrefix(size_t length);
  void DropPrefix();

 private:
  FileHandle(int fd, uint32_t size, std::string path, FileIdentity identity);

  int fd_;
  uint32_t size_;
  std::string path_;
  FileIdentity identity_;
  std::unique_ptr<char[]> prefix_;
  size_t prefix_size_ = 0;
};

// Reads text lines from the start of a content file and counts the bytes it
// consumes. A line ends at LF (a CR right before it belongs to the line
// end); the bytes left at the end of the file without an LF still make a
// line. Nothing beyond the size taken at open is read.
class LineReader {
 public:
  explicit LineReader(const FileHandle& file);

  // Consumes the next line and hands its bytes to `sink(const char*,
  // size_t)` in one or more pieces, its line end excluded. Returns false
  // when not a single byte is left. Raises CFileError.
  template <typename Sink>
  bool ReadLine(Sink&& sink);

  // Bytes consumed so far, line ends included.
  uint64_t consumed() const { return consumed_; }

 private:
  // Keeps the unread bytes, reads more after them; false when nothing more
  // could be read (the end of the file).
  bool Fill();

  const FileHandle& file_;
  uint64_t consumed_ = 0;
  uint64_t read_offset_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  char buffer_[16384];
};

template <typename Sink>
bool LineReader::ReadLine(Sink&& sink) {
  if (begin_ == end_ && !Fill()) return false;
  for (;;) {
    const char* start = buffer_ + begin_;
    const size_t available = end_ - begin_;
    const void* lf = std::memchr(start, '\n', available);
    if (lf != nullptr) {
      size_t n = static_cast<const char*>(lf) - start;
      size_t text = (n > 0 && start[n - 1] == '\r') ? n - 1 : n;
      sink(start, text);
      begin_ += n + 1;
      consumed_ += n + 1;
      return true;
    }
    // A CR at the end of the chunk may belong to an LF still unread.
    size_t deliver = available;
    if (start[deliver - 1] == '\r') --deliver;
    sink(start, deliver);
    begin_ += deliver;
    consumed_ += deliver;
    if (!Fill()) {  // the last line has no line end
      if (begin_ < end_) {
        sink(buffer_ + begin_, end_ - begin_);
        consumed_ += end_ - begin_;
        begin_ = end_;
      }
      return true;
    }
  }
}

// A file being written: created when missing, emptied only when Truncate is
// called, so a failing writer leaves an existing file as it was.
class OutputFile {
 public:
  // Opens `path` for writing without truncating it and takes an exclusive
  // lock without waiting. Returns null when the path is null or longer than
  // kMaxPathLength, cannot be opened for writing, or names a file that any
  // object holds open as content. Never blocks, also on a FIFO.
  static std::unique_ptr<OutputFile> Create(const char* path);

  ~OutputFile();  // closes without reporting; call Close to learn of errors
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Empties a regular file that held bytes when it was opened; other kinds
  // of file are left as they are.
  void Truncate();
  // Writes every byte, looping over partial writes; a write that makes no
  // progress or fails raises CFileError.
  void Write(const char* data, size_t length);
  // Closes the file; raises CFileError when the close reports an error.
  void Close();

 private:
  OutputFile(int fd, bool regular, bool needs_emptying, std::string path);

  int fd_;
  bool regular_;
  bool needs_emptying_;  // a regular file that held bytes when opened
  std::string path_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_FILE_H_
