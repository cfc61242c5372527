// Field values for the writer: text, an integer, a real, a date or a list of values.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace csv {

class Value;
using ValueList = std::vector<Value>;
using Date = std::chrono::system_clock::time_point;

class Value {
 public:
  Value() : data_(std::string()) {}
  Value(std::string text) : data_(std::move(text)) {}         // NOLINT(google-explicit-constructor)
  Value(std::string_view text) : data_(std::string(text)) {}  // NOLINT
  Value(const char* text) : data_(std::string(text)) {}       // NOLINT
  // Any integer type, booleans included (true is written as 1, false as 0).
  template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  Value(T number) : data_(integer(number)) {}        // NOLINT
  Value(double number) : data_(number) {}            // NOLINT
  Value(Date date) : data_(date) {}                  // NOLINT
  Value(ValueList list) : data_(std::move(list)) {}  // NOLINT

  bool isText() const { return std::holds_alternative<std::string>(data_); }
  bool isInteger() const {
    return std::holds_alternative<std::int64_t>(data_) ||
           std::holds_alternative<std::uint64_t>(data_);
  }
  bool isReal() const { return std::holds_alternative<double>(data_); }
  bool isDate() const { return std::holds_alternative<Date>(data_); }
  bool isList() const { return std::holds_alternative<ValueList>(data_); }

  // The list held; throws std::bad_variant_access for other kinds.
  const ValueList& list() const { return std::get<ValueList>(data_); }
  // The text held without a copy, or null for other kinds.
  const std::string* text() const { return std::get_if<std::string>(&data_); }

  // The value's text: text as is, integers in decimal with a leading "-", reals in their shortest
  // round-trip form, dates as "2013-04-02 14:05:09 +0000" (UTC), lists as "(a, b)".
  std::string description() const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  // Unsigned values above the signed range keep a kind of their own, so they are not written
  // negative.
  using Data = std::variant<std::string, std::int64_t, double, Date, ValueList, std::uint64_t>;
  template <class T>
  static Data integer(T number) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
      if (number > static_cast<std::uint64_t>(INT64_MAX)) {
        return Data(std::in_place_type<std::uint64_t>, number);
      }
    }
    return Data(std::in_place_type<std::int64_t>, static_cast<std::int64_t>(number));
  }

  Data data_;
};

// "2013-04-02 14:05:09 +0000": the date's standard text, in UTC, to the second.
std::string describeDate(Date date);

}  // namespace csv
