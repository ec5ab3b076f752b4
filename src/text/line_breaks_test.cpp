#include "text/line_breaks.h"

#include <gtest/gtest.h>

namespace zelmo {
namespace {

TEST(StreamLines, MakesEachCrLfOneLfAndLeavesEverythingElse) {
  const struct {
    std::string_view text, lines;
  } kCases[] = {
      {"", ""},
      {"one line", "one line"},
      {"first\r\nsecond", "first\nsecond"},
      {"a\r\n\r\nb\r\n", "a\n\nb\n"},  // an empty line and a last break stay
      {"\r\n", "\n"},
      {"lone\rcr lone\nlf", "lone\rcr lone\nlf"},  // only the pair is a message's line break
      {"\r\r\n\n", "\r\n\n"},
      {"Сметката\r\nе испечатена", "Сметката\nе испечатена"},
  };
  for (const auto& c : kCases) EXPECT_EQ(StreamLines(c.text), c.lines) << c.text;
}

}  // namespace
}  // namespace zelmo
