// The text searches of platform/text.h against plain position-by-position
// references, in the C locale and in the double-byte zh_CN.GBK.
//
// Input: a flags byte (bit 0: GBK when it is installed; bit 1: the text is
// the rest repeated, which makes the long runs of near matches that send
// the searches onto their linear-time fallback), a key length byte, the key,
// then the text.

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace {

using namespace contentfile_internal;

constexpr size_t kMaxText = 8192;

unsigned char Fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

bool MatchesAt(const std::string& text, size_t at, const std::string& key,
               bool fold) {
  for (size_t i = 0; i < key.size(); ++i) {
    const auto a = static_cast<unsigned char>(text[at + i]);
    const auto b = static_cast<unsigned char>(key[i]);
    if (fold ? Fold(a) != Fold(b) : a != b) return false;
  }
  return true;
}

// The positions where a search may report a match: every position in a
// single-byte or UTF-8 locale; otherwise the character starts, walking from
// the start of the text (an invalid sequence is one byte, a character cut
// by the end of the text is the last start).
std::vector<bool> Starts(const std::string& text, bool by_characters) {
  std::vector<bool> starts(text.size() + 1, !by_characters);
  if (!by_characters) return starts;
  size_t at = 0;
  while (at < text.size()) {
    starts[at] = true;
    std::mbstate_t state{};
    size_t length = mbrlen(text.data() + at, text.size() - at, &state);
    if (length == static_cast<size_t>(-2)) break;
    if (length == static_cast<size_t>(-1) || length == 0) length = 1;
    at += length;
  }
  if (at >= text.size()) starts[text.size()] = true;
  return starts;
}

// Offset of the first match at an allowed start, or -1.
long Reference(const std::string& text, const std::string& key, bool fold,
               const std::vector<bool>& starts) {
  if (key.empty()) return 0;
  if (key.size() > text.size()) return -1;
  for (size_t at = 0; at + key.size() <= text.size(); ++at) {
    if (starts[at] && MatchesAt(text, at, key, fold)) {
      return static_cast<long>(at);
    }
  }
  return -1;
}

int32_t ReferenceDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i++] == '-';
  }
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0 - value;
  int32_t result;
  std::memcpy(&result, &value, sizeof(result));
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  size_t key_length = data[1];
  data += 2;
  size -= 2;
  if (key_length > size) key_length = size;
  const std::string key(reinterpret_cast<const char*>(data), key_length);
  std::string text(reinterpret_cast<const char*>(data) + key_length,
                   size - key_length);
  if ((flags & 2) != 0 && !text.empty()) {
    const std::string unit = text;
    while (text.size() + unit.size() <= kMaxText) text += unit;
  }
  if (text.size() > kMaxText) return 0;

  const locale_t gbk = contentfile_fuzz::DoubleByteLocale();
  const bool double_byte = (flags & 1) != 0 && gbk != static_cast<locale_t>(0);
  if (double_byte) uselocale(gbk);

  // Exact-size copies, so that a read past either end is caught.
  std::vector<char> text_copy(text.begin(), text.end());
  std::vector<char> key_copy(key.begin(), key.end());
  const char* t = text_copy.empty() ? "" : text_copy.data();
  const char* k = key_copy.empty() ? "" : key_copy.data();
  auto offset = [&](const char* hit) {
    return hit == nullptr ? -1 : static_cast<long>(hit - t);
  };

  const std::vector<bool> every = Starts(text, false);
  const std::vector<bool> characters = Starts(text, double_byte);

  FUZZ_CHECK(offset(FindBytes(t, text.size(), k, key.size())) ==
             Reference(text, key, false, every));
  FUZZ_CHECK(offset(FindCaseInsensitive(t, text.size(), k, key.size())) ==
             Reference(text, key, true, every));
  FUZZ_CHECK(offset(FindStringMb(t, text.size(), k, key.size())) ==
             Reference(text, key, false, characters));
  FUZZ_CHECK(offset(FindCaseInsensitiveMb(t, text.size(), k, key.size())) ==
             Reference(text, key, true, characters));
  if (!key.empty()) {
    FUZZ_CHECK(offset(FindCharMb(t, text.size(), key[0])) ==
               (text.empty()
                    ? -1
                    : Reference(text, key.substr(0, 1), false, characters)));
  }
  const bool equal = text.size() == key.size() &&
                     (text.empty() || MatchesAt(text, 0, key, true));
  FUZZ_CHECK(EqualsCaseInsensitive(t, text.size(), k, key.size()) == equal);
  FUZZ_CHECK(ParseDecimal(k, key.size()) ==
             ReferenceDecimal(key.substr(0, key.find('\0'))));

  uselocale(LC_GLOBAL_LOCALE);
  return 0;
}
