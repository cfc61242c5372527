#include "platform/text_integer.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace quorin {
namespace {

constexpr int kMax = std::numeric_limits<int>::max();
constexpr int kMin = std::numeric_limits<int>::min();

struct Case {
  const char16_t* text;
  int expected;
};

TEST(IntegerValueTest, ReadsLikeThePlatformConversion) {
  const Case cases[] = {
      {u"90", 90},
      {u" 90", 90},
      {u"\t\n  90", 90},
      {u"15 minutes", 15},
      {u"", 0},
      {u"abc", 0},
      {u"   ", 0},
      {u"-5", -5},
      {u"+7", 7},
      {u"  -12x", -12},
      {u"-", 0},
      {u"+-5", 0},
      {u"- 5", 0},
      {u"1 2", 1},
      {u"0x10", 0},
      {u"007", 7},
      {u"-0", 0},
      {u"4.9", 4},
      {u"\u00A0"
       u"42",
       42},            // no-break space is white space too
      {u"\u0663", 0},  // ARABIC-INDIC DIGIT THREE is not an ASCII digit
      {u"12\u0663", 12},
      {u"2147483647", kMax},
      {u"2147483648", kMax},
      {u"99999999999999999999999", kMax},
      {u"-2147483648", kMin},
      {u"-2147483649", kMin},
      {u"-99999999999999999999999", kMin},
  };
  for (const Case& c : cases) {
    const QString text = QString::fromUtf16(c.text);
    EXPECT_EQ(integerValue(text), c.expected) << "text: \"" << text.toStdString() << '"';
  }
}

}  // namespace
}  // namespace quorin
