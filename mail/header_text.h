// Searches and rewrites over the text of mail header blocks and header field
// values. Every function takes (pointer, length) and reads nothing outside
// the range.

#ifndef CONTENTFILE_MAIL_HEADER_TEXT_H_
#define CONTENTFILE_MAIL_HEADER_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace contentfile_internal {

constexpr size_t kNotFound = SIZE_MAX;

// Texts the header searches look for.
inline constexpr std::string_view kLineEnd = "\r\n";
inline constexpr std::string_view kContentTypeKey = "\r\nContent-Type: ";
inline constexpr std::string_view kDispositionKey = "\r\nContent-Disposition: ";
inline constexpr std::string_view kEncodingKey =
    "\r\nContent-Transfer-Encoding: ";
inline constexpr std::string_view kBoundaryKey = "boundary=";

// Offset of the byte right after the first occurrence of `key` in the header
// block, letters compared without regard to case. A key that begins with CR
// LF also matches on the block's first line, as if a CR LF preceded the
// block; such a match comes before every other. A key that ends in ": "
// (a field name) also matches without the space: the result is then the
// byte after the colon. kNotFound when there is none.
size_t FindFieldKey(const char* block, size_t length, std::string_view key);

// The value of the field `key` in a header block: the bytes after the key up
// to the CR LF that ends the field, its folded continuation lines (a CR LF
// followed by a space or tab) included verbatim. nullopt when the key does
// not occur.
std::optional<std::string_view> FindHeadField(const char* block, size_t length,
                                              std::string_view key);

// The value of a field whose key ends at `begin` in a header block: the
// bytes from there up to the CR LF that ends the field, folded continuation
// lines included verbatim (what FindHeadField gives for a key found there).
std::string_view FieldValueAt(const char* block, size_t length, size_t begin);

// One walk over the lines of a message's head that finds where the head
// ends and where several fields begin. Returns the offset of the first
// CR LF CR LF in `text` (the head's length), or kNotFound when `text` holds
// none. Then `found[i]` is what FindFieldKey(text, head length, keys[i])
// gives (when there is none, what it gives over the whole text).
// REQUIRES: every key begins with CR LF, ends in ": " and has a letter
// after the CR LF; `found` holds `count` entries, at most 8.
size_t ScanHeadLines(const char* text, size_t length,
                     const std::string_view* keys, size_t count, size_t* found);

// The values of several fields of a header block, as FindHeadField gives
// them ("" for a field that does not occur), found in one walk over the
// block's lines. REQUIRES: the keys as for ScanHeadLines; `values` holds
// `count` entries.
void FindHeadFields(const char* block, size_t length,
                    const std::string_view* keys, size_t count,
                    std::string_view* values);

// True when `text` begins with `name`, ASCII letters compared without regard
// to case. REQUIRES: `text` holds at least name.size() bytes.
inline bool BeginsWithCaseInsensitive(const char* text, std::string_view name) {
  return EqualsCaseInsensitive(text, name.size(), name.data(), name.size());
}

// Successive occurrences of an ASCII key in a text that begin on a
// character of the calling thread's LC_CTYPE locale (never on the trail byte
// of a double-byte character), letters compared without regard to case.
// Each byte of the text is searched once, however many occurrences are
// asked for.
class KeyScanner {
 public:
  // REQUIRES: `text` begins on a character boundary; `key` is not empty.
  KeyScanner(const char* text, size_t length, std::string_view key);

  // The first occurrence that begins at or after `from`, or null.
  // REQUIRES: `from` lies in the text on a character boundary, and at or
  // after the `from` of the call before.
  const char* Next(const char* from);

 private:
  // Where the key's first letter, in one of its cases, next stands.
  struct Candidates {
    char byte;
    const char* next;  // null: not searched for yet, or none left
    bool exhausted;
  };
  const char* Advance(Candidates& candidates, const char* from) const;

  const char* end_;
  std::string_view key_;
  Candidates first_;
  Candidates other_;
};

// The value with its folds undone: every CR LF followed by a space or tab is
// removed, the space or tab stays.
std::string UnfoldHeaderValue(std::string_view value);

// `text` without white space (space, \t, \n, \v, \f, \r) at either end.
std::string_view TrimHeaderSpace(std::string_view text);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_HEADER_TEXT_H_
