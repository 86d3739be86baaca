#include "mail/empty_line_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace contentfile_test {
namespace {

using contentfile_internal::EmptyLineFinder;

size_t PlainSearch(const std::string& text, size_t from) {
  if (from >= text.size()) return EmptyLineFinder::kNone;
  const size_t found = text.find("\r\n\r\n", from);
  return found == std::string::npos ? EmptyLineFinder::kNone : found;
}

TEST(EmptyLineFinder, AnswersAsAPlainSearchInAnyOrder) {
  std::mt19937 random(20240601);
  const char alphabet[] = {'\r', '\n', 'a'};
  for (int round = 0; round < 300; ++round) {
    std::string text(random() % 200, 'a');
    for (char& c : text) c = alphabet[random() % 3];
    EmptyLineFinder finder;
    finder.Reset(text.data(), text.size());
    for (int question = 0; question < 100; ++question) {
      // In any order, repeats included.
      const size_t from = random() % (text.size() + 3);
      ASSERT_EQ(finder.Find(from), PlainSearch(text, from))
          << "round " << round << " from " << from;
    }
  }
}

}  // namespace
}  // namespace contentfile_test
