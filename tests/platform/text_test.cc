#include "platform/text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "tests/support/gbk_locale.h"

namespace contentfile_internal {
namespace {

using std::string;

// Offset of a search result in `text`, -1 for none.
long Offset(const string& text, const char* found) {
  return found == nullptr ? -1 : found - text.data();
}

// Multibyte searches: their results, with the locale already chosen.
long Mb(const string& text, const string& key) {
  return Offset(text,
                FindStringMb(text.data(), text.size(), key.data(), key.size()));
}
long MbChar(const string& text, char c) {
  return Offset(text, FindCharMb(text.data(), text.size(), c));
}
long MbFolded(const string& text, const string& key) {
  return Offset(text, FindCaseInsensitiveMb(text.data(), text.size(),
                                            key.data(), key.size()));
}

// 0x81 0x53 is one double-byte character whose trail byte is "S"; 0x81
// alone is a lead byte.
const char kLeadS[] = "\x81S";
const string kLead = "\x81";

TEST(MultibyteSearch, MatchesEveryByteInTheCLocale) {
  EXPECT_EQ(Mb(string(kLeadS) + "MTP", "SMTP"), 1);
  EXPECT_EQ(MbChar(kLeadS, 'S'), 1);
  EXPECT_EQ(MbFolded(kLead + "Boundary=", "boundary="), 1);
}

TEST(MultibyteSearch, NeverMatchesOnATrailByteInGbk) {
  CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
  std::mbstate_t state{};
  ASSERT_EQ(MB_CUR_MAX, 2u);
  ASSERT_EQ(mbrlen(kLeadS, 2, &state), 2u);

  const string s = kLeadS;
  EXPECT_EQ(Mb(s + "MTP", "SMTP"), -1);
  EXPECT_EQ(Mb(s + "MTP SMTP", "SMTP"), 6);
  EXPECT_EQ(Mb("\x81\x81SMTP", "SMTP"), 2);  // two lead-range bytes pair up
  EXPECT_EQ(Mb("\x81\x81\x81SMTP", "SMTP"), -1);
  EXPECT_EQ(Mb(kLead + "boundary=a; boundary=b", "boundary="), 13);
  EXPECT_EQ(MbFolded(kLead + "boundary=a; BOUNDARY=b", "Boundary="), 13);
  EXPECT_EQ(MbChar(s, 'S'), -1);
  EXPECT_EQ(MbChar(s + "S", 'S'), 2);
  // ";" and "<" are never trail bytes: after a character they match, and
  // after a lead byte they make an invalid pair, whose bytes count alone.
  EXPECT_EQ(MbChar("\xB0\xA1;x", ';'), 2);
  EXPECT_EQ(MbChar("\x81;x", ';'), 1);
  EXPECT_EQ(MbChar("\xB0\xA1<a>", '<'), 2);
  EXPECT_EQ(MbChar("\x81<a>", '<'), 1);
}

TEST(MultibyteSearch, StaysLinearOverManyRejectedMatchesInGbk) {
  CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
  // Every trail byte begins an occurrence of the key; only the copy at the
  // end begins on a character.
  string key = "S";
  for (int i = 0; i < 4096; ++i) key += kLeadS;
  string text;
  for (int i = 0; i < (1 << 20); ++i) text += kLeadS;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Mb(text, key), -1);
  EXPECT_EQ(Mb(text + key, key), static_cast<long>(text.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(MultibyteSearch, AgreesWithACharacterWalkOnRandomGbkText) {
  CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
  // Reference: try the key at each character start found by mbrlen.
  auto reference = [](const string& text, const string& key) -> long {
    std::mbstate_t state{};
    for (size_t i = 0; i + key.size() <= text.size();) {
      if (text.compare(i, key.size(), key) == 0) return static_cast<long>(i);
      size_t n = mbrlen(text.data() + i, text.size() - i, &state);
      if (n == static_cast<size_t>(-2)) return -1;
      if (n == static_cast<size_t>(-1)) state = std::mbstate_t();
      i += (n == 0 || n == static_cast<size_t>(-1)) ? 1 : n;
    }
    return -1;
  };
  // Double-byte characters with trail "S" or "a", lone lead bytes.
  const string pieces[] = {kLeadS, kLead + "a", "S", "a", kLead, "\xB0\xA1"};
  std::mt19937 random(777);
  for (int round = 0; round < 3000; ++round) {
    string text;
    for (size_t i = random() % (round % 4 == 0 ? 2000 : 60); i > 0; --i) {
      // Every third text is mostly one character, for long partial matches.
      size_t piece = random() % (round % 2 ? 6 : 3);
      text += pieces[round % 3 == 0 && random() % 16 ? 0 : piece];
    }
    string key = text.empty()
                     ? string("S")
                     : text.substr(random() % text.size(), 1 + random() % 200);
    ASSERT_EQ(Mb(text, key), reference(text, key))
        << "text \"" << text << "\" key \"" << key << '"';
  }
}

TEST(MultibyteSearch, FollowsTheLocaleOfTheCallingThreadOnly) {
  {
    CONTENTFILE_GBK_LOCALE_OR_SKIP(gbk);
    long other_thread = 0;
    std::thread([&] { other_thread = MbChar(kLeadS, 'S'); }).join();
    EXPECT_EQ(other_thread, 1);
    EXPECT_EQ(MbChar(kLeadS, 'S'), -1);
  }
  EXPECT_EQ(MB_CUR_MAX, 1u);  // the scope gave the thread its locale back
  EXPECT_EQ(MbChar(kLeadS, 'S'), 1);
}

}  // namespace
}  // namespace contentfile_internal
