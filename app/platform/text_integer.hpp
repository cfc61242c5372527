// Reading a number from text the way the tablet platform's string-to-integer conversion does.
#pragma once

#include <QString>

namespace quorin {

// Skips leading white space, takes an optional sign and the ASCII digits after it, and stops at
// the first other character. Text that does not begin with a number gives 0; a number beyond the
// int range gives INT_MAX or INT_MIN.
int integerValue(const QString& text);

}  // namespace quorin
