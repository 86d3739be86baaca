// The log head of a content file as a list of lines, and the helpers that
// the log head analyses of every kind of content file share.
//
// A kind's own analysis reads the head with ReadLogHeadLines, clears its
// whole record, hands the list to the protected CContentFile::AnalyseLogHead
// for the common fields and then takes its own lines with HeadLine and
// CopyToField.

#ifndef CONTENTFILE_CONTENT_LOG_HEAD_H_
#define CONTENTFILE_CONTENT_LOG_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class CContentFile;

namespace contentfile_internal {

// The first lines of a log head in their order, without line ends; element
// 0 is line 1 (the line count). This is the list that AnalyseLogHead's
// untyped pointer points to.
using HeadLines = std::vector<std::string>;

// The last head line that any kind's analysis takes (the common fields end
// with line 14). ReadLogHeadLines keeps no line after it, so a head of
// millions of lines costs no more than its first few.
constexpr size_t kLastAnalysedLine = 14;

// Replaces *lines with the first `max_lines` lines of the open file's head:
// the head is read once, through the virtual GetContentHead, into one buffer
// of the head size, and split at each CR LF until `max_lines` lines are
// taken. A NUL byte ends the text, and the bytes after the last CR LF are
// not a line. An empty line is kept as an empty string, so line numbers stay
// right.
// Returns false, with *lines left empty, when the head size is 0 (also when
// no file is open), memory for the buffer or the lines cannot be had, or the
// read does not return 0.
bool ReadLogHeadLines(CContentFile& file, HeadLines* lines,
                      size_t max_lines = kLastAnalysedLine);

// Line `number` (counted from 1) of `lines`. Raises std::invalid_argument
// when the list does not hold it.
const std::string& HeadLine(const HeadLines& lines, size_t number);

// Copies at most `width` - 1 bytes of `text` into `field`, stopping at the
// end of the text or at a NUL in it, and fills the rest of those bytes with
// NUL. The last byte of the field is never written: the caller's clearing
// left the terminating NUL there.
void CopyToField(std::string_view text, char* field, size_t width);

template <size_t kWidth>
void CopyToField(std::string_view text, char (&field)[kWidth]) {
  static_assert(kWidth > 0, "a text field holds at least its NUL");
  CopyToField(text, field, kWidth);
}

// Runs `fill(Record&)` on a cleared copy of *record and stores the copy
// into *record when it returns, and also when it raises
// std::invalid_argument (a missing head line: the fields filled before it
// stay, as the analyses promise). Out of memory, even while that error is
// being raised, leaves *record as it was and returns false.
template <typename Record, typename Fill>
bool FillRecord(Record* record, Fill&& fill) {
  Record filled;
  std::memset(&filled, 0, sizeof(filled));
  try {
    fill(filled);
  } catch (const std::invalid_argument&) {
    std::memcpy(record, &filled, sizeof(filled));
    throw;
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(record, &filled, sizeof(filled));
  return true;
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CONTENT_LOG_HEAD_H_
