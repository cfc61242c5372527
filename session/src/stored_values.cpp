#include "stored_values.hpp"

#include <limits>
#include <string>
#include <string_view>
#include <variant>

#include "session/text_number.hpp"

namespace quorin {
namespace {

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

namespace detail {
namespace {

bool leadingTruth(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() &&
         (isBlank(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '0')) {
    ++i;
  }
  if (i == text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace

std::int64_t integerValue(const SettingValue& value) {
  struct Read {
    std::int64_t operator()(std::int64_t number) const { return number; }
    std::int64_t operator()(bool flag) const { return flag ? 1 : 0; }
    std::int64_t operator()(Date) const { return 0; }
    std::int64_t operator()(const std::string& text) const { return leadingInteger(text); }
  };
  return std::visit(Read{}, value);
}

bool boolValue(const SettingValue& value) {
  struct Read {
    bool operator()(std::int64_t number) const { return number != 0; }
    bool operator()(bool flag) const { return flag; }
    bool operator()(Date) const { return false; }
    bool operator()(const std::string& text) const { return leadingTruth(text); }
  };
  return std::visit(Read{}, value);
}

}  // namespace detail

std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number, whose range includes the most negative integer.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (magnitude < (kMin + digit) / 10) {
      return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    }
    magnitude = magnitude * 10 - digit;
  }
  if (negative) return magnitude;
  return magnitude == kMin ? std::numeric_limits<std::int64_t>::max() : -magnitude;
}

}  // namespace quorin
