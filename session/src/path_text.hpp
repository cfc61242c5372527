// Small text helpers shared by the code that finds the kiosk's folders and the USB drives.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace quorin::detail {

// The variable's value, or nullopt when it is unset or empty (an empty value counts as unset, as
// the XDG base directory rules say).
inline std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// The path without slashes at its end; "/" stays "/".
inline std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace quorin::detail
