#include "csv/value.hpp"

#include <charconv>
#include <ctime>
#include <string>

namespace csv {

std::string describeDate(Date date) {
  // Whole seconds, rounded down, counted without going back to the clock's own unit: the
  // earliest dates round down to a second that unit cannot hold.
  const auto since = date.time_since_epoch();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  if (seconds > since) seconds -= std::chrono::seconds(1);
  const std::time_t t = seconds.count();
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
  return std::string(text, n);
}

std::string Value::description() const {
  struct Describe {
    std::string operator()(const std::string& text) const { return text; }
    std::string operator()(std::int64_t number) const { return std::to_string(number); }
    std::string operator()(std::uint64_t number) const { return std::to_string(number); }
    std::string operator()(double number) const {
      char text[64];
      // to_chars without a precision gives the shortest text that reads back as the same double.
      const auto result = std::to_chars(text, text + sizeof text, number);
      return std::string(text, result.ptr);
    }
    std::string operator()(Date date) const { return describeDate(date); }
    std::string operator()(const ValueList& list) const {
      std::string text = "(";
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) text += ", ";
        text += list[i].description();
      }
      return text + ")";
    }
  };
  return std::visit(Describe{}, data_);
}

}  // namespace csv
