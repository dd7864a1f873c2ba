#include "console/inflate_text.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ParseInflate, ReadsLikeAtoiAndSaturatesOutOfRange) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"160", 160},
      {"  42", 42},
      {"\t\n 7", 7},
      {"+15", 15},
      {"-5", -5},
      {"1000", 1000},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-3", 0},
      {" - 3", 0},
      {"007", 7},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"99999999999999999999", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"-99999999999999999999999", kMin},
  };
  for (const auto& c : cases)
    EXPECT_EQ(console::ParseInflate(c.text), c.value) << '"' << c.text << '"';
}
