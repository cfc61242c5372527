#include "csv/value.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "csv/error.hpp"

namespace csv {
namespace {

using namespace std::chrono;

TEST(ValueTest, IntegersAreDecimalWithLeadingMinus) {
  EXPECT_EQ(Value(5).description(), "5");
  EXPECT_EQ(Value(-3).description(), "-3");
  EXPECT_EQ(Value(std::numeric_limits<std::int64_t>::min()).description(), "-9223372036854775808");
  EXPECT_EQ(Value(true).description(), "1");
  EXPECT_EQ(Value(false).description(), "0");
}

TEST(ValueTest, RealsUseTheShortestTextThatReadsBack) {
  EXPECT_EQ(Value(0.1).description(), "0.1");
  EXPECT_EQ(Value(2.5).description(), "2.5");
  EXPECT_EQ(Value(-1e300).description(), "-1e+300");
  const double third = 1.0 / 3.0;
  EXPECT_EQ(std::stod(Value(third).description()), third);
}

TEST(ValueTest, DatesAreUtcToTheSecond) {
  // 2013-04-02 14:05:09 UTC, with a fraction that must be dropped, not rounded.
  const Date date =
      sys_days{year{2013} / 4 / 2} + hours{14} + minutes{5} + seconds{9} + milliseconds{999};
  EXPECT_EQ(Value(date).description(), "2013-04-02 14:05:09 +0000");
  EXPECT_EQ(describeDate(sys_days{year{1969} / 12 / 31} + hours{23} + minutes{59} + seconds{59}),
            "1969-12-31 23:59:59 +0000");
}

TEST(ErrorTest, PosixErrorsCarryErrnoAndItsText) {
  const Error e = Error::posix(ENOENT, "/no/such");
  EXPECT_EQ(e.domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(e.code, ENOENT);
  EXPECT_EQ(e.description, "/no/such: No such file or directory");
  Error place;
  setError(nullptr, e);  // no place: nothing happens
  setError(&place, Error::csv(CSVErrorCodeCancelled, std::nullopt));
  EXPECT_EQ(place.domain, "CSVErrorDomain");
  EXPECT_EQ(place.code, 3);
  EXPECT_FALSE(place.description.has_value());
}

}  // namespace
}  // namespace csv
