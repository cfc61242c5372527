#include "csv/text_rules.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>

#include "decoder.hpp"
#include "encoding_table.hpp"
#include "grapheme.hpp"

namespace csv {

bool isValidDelimiter(std::string_view delimiter) {
  if (delimiter.empty()) return false;
  bool invalid = false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(delimiter.data());
  if (detail::validUTF8Prefix(bytes, delimiter.size(), &invalid) != delimiter.size()) return false;
  std::size_t length = 0;
  const char32_t c = detail::decodeUTF8(delimiter.data(), &length);
  // Valid UTF-8 holds no surrogates, so below U+10000 is exactly one UTF-16 code unit. A mark,
  // joiner, prepended sign, Hangul jamo or syllable, or pictograph would join a character beside
  // it, and the reader would then see no delimiter there (or lose the letter after it). U+FEFF
  // first in a file (after an empty first field) would be read as a byte-order mark.
  return length == delimiter.size() && c < 0x10000 && !isNewline(c) && c != '"' && c != '#' &&
         c != '\\' && c != 0xFEFF && detail::joinsOnlyMarksAndPrepends(c);
}

void requireValidDelimiter(std::string_view delimiter) {
  if (!isValidDelimiter(delimiter)) {
    throw std::invalid_argument(std::string(delimiter) + " cannot be used as a delimiter");
  }
}

bool isNewline(char32_t c) { return detail::isNewlineCharacter(c); }

bool isSupportedEncoding(StringEncoding encoding) {
  return encoding == kEncodingNone || encoding == kEncodingUTF8 ||
         (detail::makeDecoder(encoding) != nullptr && detail::makeEncoder(encoding) != nullptr);
}

}  // namespace csv
