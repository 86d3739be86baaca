#include "bytes/byte_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace contentfile_internal {
namespace {

using std::string;

// Offset of a search result in `text`, -1 for none.
long Offset(const string& text, const char* found) {
  return found == nullptr ? -1 : found - text.data();
}

long Find(const string& text, const string& key) {
  return Offset(text, FindCaseInsensitive(text.data(), text.size(), key.data(),
                                          key.size()));
}

long NaiveFind(const string& text, const string& key) {
  for (size_t i = 0; i + key.size() <= text.size(); ++i) {
    if (EqualsCaseInsensitive(text.data() + i, key.size(), key.data(),
                              key.size())) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

TEST(ParseDecimal, FollowsTheAtoiRulesAndWrapsOnOverflow) {
  const struct {
    string text;
    int32_t expected;
  } cases[] = {
      {"", 0},
      {"42", 42},
      {" \t\n\v\f\r7", 7},
      {"+5", 5},
      {"-5", -5},
      {"- 5", 0},
      {"+-5", 0},
      {"007", 7},
      {"0x10", 0},
      {" 2 words", 2},
      {"words 2", 0},
      {"70000", 70000},
      {string("1\0002", 3), 1},
      {string("\xA0") + "5", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MAX},
      {"4294967295", -1},
      {"4294967297", 1},
      {"12345678901", -539222987},
      {"99999999999999999999999", -159383553},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDecimal(c.text.data(), c.text.size()), c.expected)
        << '"' << c.text << '"';
    // Handed in two pieces, split anywhere, the text reads the same.
    for (size_t split = 0; split <= c.text.size(); ++split) {
      DecimalScanner scanner;
      scanner.Add(c.text.data(), split);
      scanner.Add(c.text.data() + split, c.text.size() - split);
      EXPECT_EQ(scanner.value(), c.expected)
          << '"' << c.text << "\" split at " << split;
    }
  }
  EXPECT_EQ(ParseDecimal("1234", 2), 12);  // the length bounds the digits
}

TEST(EqualsCaseInsensitive, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(EqualsCaseInsensitive("Base64", 6, "bASE64", 6));
  EXPECT_TRUE(EqualsCaseInsensitive("", 0, "", 0));
  EXPECT_FALSE(EqualsCaseInsensitive("base64", 6, "base6", 5));
  EXPECT_FALSE(EqualsCaseInsensitive("@[\\]^", 5, "`{|}~", 5));
  EXPECT_FALSE(EqualsCaseInsensitive("\xC4", 1, "\xE4", 1));
}

TEST(FindCaseInsensitive, FindsTheFirstMatchIgnoringAsciiCase) {
  const struct {
    string text, key;
    long expected;
  } cases[] = {
      {"Content-Type: x", "content-type: ", 0},
      {"a\r\nCONTENT-type: x", "\r\nContent-Type: ", 1},
      {"x; Boundary=", "boundary=", 3},
      {"abcABC", "cab", 2},
      {"abc", "abcd", -1},
      {"abc", "", 0},
      {"", "", 0},
      {"", "a", -1},
      {"a@b", "a`b", -1},  // 0x40 and 0x60 are no letters
      {"[x]", "{x}", -1},
      {"\xC4h", "\xE4H", -1},  // bytes above 127 compare exactly
      {"\xC4h", "\xC4H", 0},
      {"\r\n--b1x\r\n--b1\r\n", "\r\n--B1\r\n", 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Find(c.text, c.key), c.expected)
        << '"' << c.text << "\" / \"" << c.key << '"';
  }
}

TEST(FindCaseInsensitive, AgreesWithANaiveSearchOnRandomText) {
  std::mt19937 random(12345);
  // Texts of mostly one letter make for long partial matches.
  const string alphabets[] = {"aA",      "ab",         "aAbB",
                              "\r\n-aB", "aaaaaaaAab", "aaaaaaaaaaaaaaab"};
  for (int round = 0; round < 8000; ++round) {
    const string& alphabet = alphabets[round % 6];
    // Long texts of a repeated pattern drive the search past its
    // comparison allowance onto the Two-Way path.
    size_t length = random() % (round % 4 == 0 ? 3000 : 100);
    string text;
    for (size_t i = 0; i < length; ++i) {
      text += alphabet[random() % alphabet.size()];
    }
    string key;
    if (!text.empty() && random() % 2) {
      size_t from = random() % text.size();
      key = text.substr(from, 1 + random() % 300);
      key[random() % key.size()] ^= 0x20 * (random() % 2);
    } else {
      for (size_t i = 1 + random() % 8; i > 0; --i) {
        key += alphabet[random() % alphabet.size()];
      }
    }
    ASSERT_EQ(Find(text, key), NaiveFind(text, key))
        << "text \"" << text << "\" key \"" << key << '"';
  }
}

TEST(FindCaseInsensitive, StaysLinearOnAdversarialInput) {
  string text(4 << 20, 'a');
  text += "b";
  string key = string(16 << 10, 'A') + "B";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Find(text, key), static_cast<long>(text.size() - key.size()));
  EXPECT_EQ(Find(text, key + "c"), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(FindCaseInsensitive, ReadsNothingPastTheRange) {
  // Exact-size heap copies with no NUL after them, so that ASan catches any
  // read past the end.
  auto exact = [](const string& s) {
    std::unique_ptr<char[]> copy(new char[s.size()]);
    std::memcpy(copy.get(), s.data(), s.size());
    return copy;
  };
  for (const string& text : {string("xxab"), string("ab"), string("aaaa")}) {
    for (const string& key : {string("abc"), string("AB"), string("aaaab")}) {
      auto t = exact(text);
      auto k = exact(key);
      const char* found =
          FindCaseInsensitive(t.get(), text.size(), k.get(), key.size());
      EXPECT_EQ(found == nullptr ? -1 : found - t.get(), NaiveFind(text, key));
      EXPECT_EQ(FindBytes(t.get(), text.size(), k.get(), key.size()) != nullptr,
                text.find(key) != string::npos);
    }
  }
}

TEST(FindBytes, MatchesExactly) {
  string text = "Boundary=x; boundary=y";
  EXPECT_EQ(Offset(text, FindBytes(text.data(), text.size(), "boundary=", 9)),
            12);
  EXPECT_EQ(Offset(text, FindBytes(text.data(), text.size(), "", 0)), 0);
  EXPECT_EQ(FindBytes(text.data(), 3, "Boun", 4), nullptr);
}

TEST(FindPairAndFindAnyOf, AgreeWithAPlainScanAtEveryLength) {
  // Texts over a few bytes, at lengths around the 32-byte steps, each in an
  // exact-size buffer so that ASan sees any read past its end.
  const char alphabet[] = {'-', 'y', 'Y', '=', 'a'};
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  struct Pair {
    char first;
    char second;
    bool fold;
  };
  const Pair pairs[] = {{'-', '-', false}, {'y', '=', true}, {'y', '=', false}};
  for (size_t length = 0; length <= 100; ++length) {
    for (int round = 0; round < 20; ++round) {
      std::unique_ptr<char[]> text(new char[length]);
      for (size_t i = 0; i < length; ++i) {
        text[i] = alphabet[next() % sizeof(alphabet)];
      }
      if (round < 3 && length > 0) {
        // Second bytes that stand alone many times before a pair, if any:
        // "-=" repeated, a "Y=" or "--" put in at any place.
        const size_t place = round == 0 ? length : next() % length;
        for (size_t i = 0; i < length; ++i) text[i] = i % 2 == 0 ? '-' : '=';
        if (place + 1 < length) {
          text[place] = round == 1 ? 'Y' : '-';
          text[place + 1] = round == 1 ? '=' : '-';
        }
      }
      for (const Pair& pair : pairs) {
        const char* expected = nullptr;
        for (size_t i = 0; i + 1 < length && expected == nullptr; ++i) {
          const char c =
              pair.fold ? static_cast<char>(text[i] | 0x20) : text[i];
          if (c == pair.first && text[i + 1] == pair.second) {
            expected = text.get() + i;
          }
        }
        ASSERT_EQ(
            FindPair(text.get(), length, pair.first, pair.second, pair.fold),
            expected)
            << string(text.get(), length) << " " << pair.first << pair.second;
      }
      // FindAnyOf over the same texts, with sets of one byte and more.
      for (const string set : {"=", "Y-", "ay=-Y"}) {
        const char* expected = nullptr;
        for (size_t i = 0; i < length && expected == nullptr; ++i) {
          if (set.find(text[i]) != string::npos) expected = text.get() + i;
        }
        ASSERT_EQ(FindAnyOf(text.get(), length, set.data(), set.size()),
                  expected)
            << string(text.get(), length) << " " << set;
      }
    }
  }
}

TEST(FindBytes, TwoByteKeysAgreeWithStringFind) {
  // Two-byte keys take their own path: first byte, last byte, repeats and
  // lone halves of the key, each text copied to an exact-size buffer.
  const string texts[] = {"",    "\r",  "\r\n",  "a\r\r\n",   "\r\r\r",
                          "x\r", "=?=", "?x?=?", "ab\nab\r\n"};
  const string keys[] = {"\r\n", "=?", "?=", "\r\r"};
  for (const string& text : texts) {
    for (const string& key : keys) {
      std::unique_ptr<char[]> copy(new char[text.size() + 1]);
      std::memcpy(copy.get(), text.data(), text.size());
      const char* found = FindBytes(copy.get(), text.size(), key.data(), 2);
      const size_t expected = text.find(key);
      EXPECT_EQ(found == nullptr ? string::npos
                                 : static_cast<size_t>(found - copy.get()),
                expected)
          << "key " << key << " in " << text;
    }
  }
}

}  // namespace
}  // namespace contentfile_internal
