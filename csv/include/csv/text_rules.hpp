// The text rules that the CSV writer and parser share.
#pragma once

#include <string_view>

#include "csv/string_encoding.hpp"

namespace csv {

// True when `delimiter` can separate fields: exactly one UTF-16 code unit (one code point below
// U+10000, in UTF-8) that is not in the newline set, not '"', '#', '\' or U+FEFF (a byte-order
// mark), and does not join the character beside it (a combining mark, joiner, prepended sign such
// as U+0600, Hangul jamo or syllable, or pictograph such as U+00A9).
bool isValidDelimiter(std::string_view delimiter);
// Throws std::invalid_argument("<delimiter> cannot be used as a delimiter") unless it is valid.
void requireValidDelimiter(std::string_view delimiter);
// True for the newline set: U+000A to U+000D, U+0085, U+2028 and U+2029.
bool isNewline(char32_t c);
// True when the library can both read and write `encoding` (kEncodingNone counts as UTF-8).
bool isSupportedEncoding(StringEncoding encoding);

}  // namespace csv
