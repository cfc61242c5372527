// The clean-up of a field's raw text before it is reported, and the text helpers it is built of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "grapheme.hpp"

namespace csv::detail {

// Bytes past a padded text that stay readable, and room that collapseDoubledQuotes needs past
// the text's length in its output.
inline constexpr std::size_t kCollapseSlack = 16;
// Writes `text` to `out` with every "" replaced by ", scanning forward, without overlaps, and
// returns the length written; out has room for text.size() + kCollapseSlack bytes. With `padded`
// the kCollapseSlack bytes past the text are readable, so its end is copied in whole blocks too.
std::size_t collapseDoubledQuotes(std::string_view text, char* out, bool padded);
// Deletes each backslash and keeps the character after it, even if that is a backslash too.
void removeEscapes(std::string& text);

// True when cleanField would return the raw text unchanged, as its edges show for most fields:
// no quote or delimiter first, and no character of the trimmed sets at either end. delimiterLead
// is the delimiter's first byte. With `pairs` (pairSummaries()) the text must be a view into
// TextSource's buffer, readable around it, which allows the branch-free look-ups.
inline bool isCleanField(std::string_view raw, char delimiterLead, bool mayNeedUnescaping,
                         const SummaryTable* pairs = nullptr) {
  if (raw.empty()) return true;
  if (mayNeedUnescaping || raw.front() == '"' || raw.front() == delimiterLead) return false;
  const char* end = raw.data() + raw.size();
  if (pairs != nullptr) {
    return !characterHasFlag(raw.data(), kTrimmed, pairs) &&
           !characterHasFlag(characterStartBefore(end), kTrimmed, pairs);
  }
  std::size_t length = 0;
  return !isWhitespaceOrNewline(decodeUTF8(raw.data(), &length)) &&
         !isWhitespaceOrNewline(decodeUTF8(codePointStartBefore(end), &length));
}

// What the tokenizer knows of the '"' and '\\' bytes of a field: how many quotes
// (kUncounted when it did not count them), and whether there may be a backslash.
inline constexpr std::uint32_t kUncounted = 0xFFFFFFFF;
struct FieldBytes {
  std::uint32_t quotes = 0;
  bool backslashes = false;
  bool any() const { return quotes != 0 || backslashes; }
  void addQuote() { quotes += quotes != kUncounted ? 1 : 0; }  // stays uncounted
};

// Cleans a field's raw text, in order: (1) trim newline characters; (2) drop one enclosing pair of
// double quotes; (3) when (2) did not apply, drop a leading delimiter, the remnant of a line that
// ends right after a delimiter; (4) trim white space and newlines; (5) "" becomes "; (6) drop
// escaping backslashes. A lone double quote stays as it is. `bytes` may only overstate what the
// text holds; it lets (5) and (6) be skipped without looking. The result views `raw` or `scratch`.
// `pairs` is pairSummaries(), which hot loops keep at hand; `padded` says that raw is a view into
// TextSource's buffer, readable past its end.
std::string_view cleanField(std::string_view raw, std::string_view delimiter, FieldBytes bytes,
                            std::string& scratch, const SummaryTable* pairs = nullptr,
                            bool padded = false);

}  // namespace csv::detail
