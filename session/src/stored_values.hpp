// How the session layer reads a stored value whose kind it did not write itself.
#pragma once

#include <cstdint>

#include "session/settings_store.hpp"

namespace quorin::detail {

// The value as an integer, as a number read from the store would give it: integers as they are,
// booleans as 1 or 0, text by its leading decimal number (0 when there is none, clamped on
// overflow), dates as 0. The model only ever stores integers where it reads this.
std::int64_t integerValue(const SettingValue& value);

// The value as a boolean: booleans as they are, integers when not 0, text starting (after blanks
// and any "+", "-" or "0") with Y, y, T, t or a digit 1-9, dates never.
bool boolValue(const SettingValue& value);

}  // namespace quorin::detail
