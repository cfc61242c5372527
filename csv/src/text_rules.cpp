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
  // joiner or prepended sign would join the character beside it, and the reader would then see
  // no delimiter there (or lose the letter after it).
  return length == delimiter.size() && c < 0x10000 && !isNewline(c) && c != '"' && c != '#' &&
         c != '\\' && !detail::hasCodePointFlag(c, detail::kJoinsPrevious | detail::kPrepend);
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
