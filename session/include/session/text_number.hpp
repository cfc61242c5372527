// Reading a number from text the way the tablet platform's string-to-integer conversion does.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorin {

// Skips leading blanks, takes an optional sign and the ASCII digits after it, and stops at the
// first other character. Text that does not begin with a number gives 0; a number beyond the
// 64-bit range gives the largest or smallest 64-bit integer.
std::int64_t leadingInteger(std::string_view text);

}  // namespace quorin
