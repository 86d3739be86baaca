#include "codec/encoded_word.h"

#include <cstring>

#include "bytes/byte_search.h"
#include "codec/base64.h"
#include "codec/quoted_printable.h"

namespace contentfile_internal {
namespace {

using Byte = unsigned char;

// First occurrence of the two bytes of `pair` in [from, end), or null.
const Byte* FindPair(const Byte* from, const Byte* end, const char (&pair)[3]) {
  return reinterpret_cast<const Byte*>(
      FindBytes(reinterpret_cast<const char*>(from),
                static_cast<size_t>(end - from), pair, 2));
}

bool IsFoldingSpace(Byte c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool AllFoldingSpace(const Byte* from, const Byte* end) {
  for (; from < end; ++from) {
    if (!IsFoldingSpace(*from)) return false;
  }
  return true;
}

// The parts of one complete encoded word.
struct EncodedWord {
  bool base64;
  const Byte* charset;      // after the "=?"
  const Byte* charset_end;  // its "?" or a "*" that begins a language
  const Byte* text;         // the encoded text, after the marker
  const Byte* text_end;     // its closing "?="
};

enum class WordScan {
  kFound,
  kNotAWord,  // this "=?" opens no word; a later one still may
  kNoMore,    // no complete word can start at or after this "=?"
};

// Reads the word opened by the "=?" at `open`. A failed search for "?" or
// "?=" rules out every later word too, which keeps the whole scan linear.
WordScan ReadWord(const Byte* open, const Byte* end, EncodedWord* word) {
  const Byte* charset = open + 2;
  const auto* question = static_cast<const Byte*>(
      std::memchr(charset, '?', static_cast<size_t>(end - charset)));
  if (question == nullptr) return WordScan::kNoMore;
  if (end - question < 3 || question[2] != '?') return WordScan::kNotAWord;
  const auto* language = static_cast<const Byte*>(
      std::memchr(charset, '*', static_cast<size_t>(question - charset)));
  word->charset = charset;
  word->charset_end = language != nullptr ? language : question;
  const auto marker = static_cast<Byte>(FoldCase(question[1]));
  if (marker != 'b' && marker != 'q') return WordScan::kNotAWord;
  word->base64 = marker == 'b';
  word->text = question + 3;
  word->text_end = FindPair(word->text, end, "?=");
  return word->text_end != nullptr ? WordScan::kFound : WordScan::kNoMore;
}

// A Q word is quoted-printable in which "_" stands for a space. The word
// ends the content: an "=" its end leaves undecided stands for itself, a
// lone one for nothing.
size_t DecodeQ(const Byte* text, const Byte* end, Byte* out) {
  const Byte* const out_begin = out;
  while (text < end) {
    const Byte c = *text;
    if (c == '_') {
      *out++ = ' ';
      ++text;
      continue;
    }
    if (c != '=') {
      *out++ = c;
      ++text;
      continue;
    }
    const QPSequence sequence = ReadQPSequence(text, end);
    if (sequence.kind == QPSequence::kIncomplete) {
      if (sequence.length > 1) {
        std::memcpy(out, text, sequence.length);
        out += sequence.length;
      }
      break;
    }
    if (sequence.kind != QPSequence::kSoftBreak) *out++ = sequence.byte;
    text += sequence.length;
  }
  return static_cast<size_t>(out - out_begin);
}

void ReportRun(EncodedWordObserver* observer, const Byte* out_begin,
               const Byte* begin, const Byte* end, const Byte* charset,
               const Byte* charset_end) {
  const std::string_view name =
      charset == nullptr
          ? std::string_view()
          : std::string_view(reinterpret_cast<const char*>(charset),
                             static_cast<size_t>(charset_end - charset));
  observer->OnRun(static_cast<uint32_t>(begin - out_begin),
                  static_cast<uint32_t>(end - out_begin), name);
}

}  // namespace

uint32_t DecodeWord(const char* text, uint32_t length, char* output) {
  return DecodeWord(text, length, output, nullptr);
}

uint32_t DecodeWord(const char* text, uint32_t length, char* output,
                    EncodedWordObserver* observer) {
  if (text == nullptr || output == nullptr || length == 0) return 0;
  const auto* in = reinterpret_cast<const Byte*>(text);
  const Byte* const end = in + length;
  auto* out = reinterpret_cast<Byte*>(output);
  Byte* const out_begin = out;

  const Byte* literal = in;  // start of the text not yet copied
  bool after_word = false;   // `literal` starts right after an encoded word
  const Byte* search = in;
  while (const Byte* open = FindPair(search, end, "=?")) {
    EncodedWord word{};
    const WordScan scan = ReadWord(open, end, &word);
    if (scan == WordScan::kNoMore) break;
    if (scan == WordScan::kNotAWord) {
      search = open + 1;
      continue;
    }
    if (!(after_word && AllFoldingSpace(literal, open))) {
      std::memcpy(out, literal, static_cast<size_t>(open - literal));
      out += open - literal;
      if (observer != nullptr) {
        ReportRun(observer, out_begin, out - (open - literal), out, nullptr,
                  nullptr);
      }
    }
    Byte* const word_begin = out;
    const auto encoded_length =
        static_cast<uint32_t>(word.text_end - word.text);
    if (word.base64) {
      out += Base64Decode(reinterpret_cast<const char*>(word.text),
                          encoded_length, reinterpret_cast<char*>(out));
    } else {
      out += DecodeQ(word.text, word.text_end, out);
    }
    if (observer != nullptr) {
      ReportRun(observer, out_begin, word_begin, out, word.charset,
                word.charset_end);
    }
    literal = search = word.text_end + 2;
    after_word = true;
  }
  std::memcpy(out, literal, static_cast<size_t>(end - literal));
  out += end - literal;
  if (observer != nullptr) {
    ReportRun(observer, out_begin, out - (end - literal), out, nullptr,
              nullptr);
  }
  return static_cast<uint32_t>(out - out_begin);
}

}  // namespace contentfile_internal
