#include "platform/text_integer.hpp"

#include <limits>

namespace quorin {

int integerValue(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate towards the sign so that INT_MIN, whose magnitude exceeds INT_MAX, is reachable.
  constexpr long long kMax = std::numeric_limits<int>::max();
  constexpr long long kMin = std::numeric_limits<int>::min();
  long long value = 0;
  for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const int digit = text[i].unicode() - u'0';
    value = negative ? value * 10 - digit : value * 10 + digit;
    if (value > kMax) return static_cast<int>(kMax);
    if (value < kMin) return static_cast<int>(kMin);
  }
  return static_cast<int>(value);
}

}  // namespace quorin
