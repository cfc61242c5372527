#include "csv/error.hpp"

#include <cstring>
#include <string>

namespace csv {

Error Error::csv(long code, std::optional<std::string> description) {
  Error e;
  e.domain = kCSVErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

Error Error::posix(int errnoValue, std::string_view context) {
  Error e;
  e.domain = kPOSIXErrorDomain;
  e.code = errnoValue;
  std::string text = std::strerror(errnoValue);
  if (!context.empty()) text = std::string(context) + ": " + text;
  e.description = std::move(text);
  return e;
}

}  // namespace csv
