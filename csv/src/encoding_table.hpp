// The encodings the library knows by code: their iconv names and their names in messages.
#pragma once

#include <string_view>

#include "csv/string_encoding.hpp"

namespace csv::detail {

struct EncodingEntry {
  StringEncoding code;
  const char* iconvName;    // also the locale character-set name it is recognised by
  const char* displayName;  // for messages
};

// The entry for `code`, or null.
const EncodingEntry* findEncoding(StringEncoding code);
// The entry whose name matches a locale's character-set name (case, '-' and '_' ignored), or null.
const EncodingEntry* findEncodingByCharset(std::string_view charset);

}  // namespace csv::detail
