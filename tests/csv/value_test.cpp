#include "csv/value.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>

namespace csv {
namespace {

using namespace std::chrono;

// Integers in decimal with a leading minus (booleans as 1 and 0), reals in their shortest text,
// dates in UTC to the second (a fraction dropped, not rounded), lists in parentheses.
TEST(ValueTest, Descriptions) {
  const std::pair<Value, std::string> cases[] = {
      {5, "5"},
      {-3, "-3"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {true, "1"},
      {false, "0"},
      {0.1, "0.1"},
      {2.5, "2.5"},
      {-1e300, "-1e+300"},
      {Date(sys_days{year{2013} / 4 / 2} + hours{14} + minutes{5} + seconds{9} + milliseconds{999}),
       "2013-04-02 14:05:09 +0000"},
      {Date(sys_days{year{1969} / 12 / 31} + hours{23} + minutes{59} + seconds{59}),
       "1969-12-31 23:59:59 +0000"},
      {ValueList{"p", 1, ""}, "(p, 1, )"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.description(), text);
  // The shortest text still reads back as the same number.
  EXPECT_EQ(std::stod(Value(1.0 / 3.0).description()), 1.0 / 3.0);
}

}  // namespace
}  // namespace csv
