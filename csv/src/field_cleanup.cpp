#include "field_cleanup.hpp"

#include <algorithm>
#include <cstring>

#include "grapheme.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace csv::detail {
namespace {

// Removes characters with the flag from both ends of the text. The pair table answers most
// characters in one load; a character's second byte (or the terminator of the string the view
// was taken from) is always readable.
std::string_view trimCharactersWithFlag(std::string_view text, std::uint8_t flag,
                                        const SummaryTable* pairs) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && characterHasFlag(text.data() + begin, flag, pairs)) {
    begin += utf8Length(static_cast<unsigned char>(text[begin]));
  }
  while (end > begin) {
    const char* start = codePointStartBefore(text.data() + end);
    if (!characterHasFlag(start, flag, pairs)) break;
    end = static_cast<std::size_t>(start - text.data());
  }
  return text.substr(begin, end - begin);
}

}  // namespace

std::size_t collapseDoubledQuotes(std::string_view text, char* out, bool padded) {
  char* write = out;
  const char* from = text.data();
  const char* const end = from + text.size();
  // Copies up to and including each quote, then drops the quote after it if there is one. The
  // output never runs ahead of the input, so whole blocks may be stored; only the quotes before
  // the end count.
#if defined(__SSE2__)
  const char* const blocksEnd = padded ? end : end - std::min<std::size_t>(text.size(), 15);
  while (from < blocksEnd) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(write), v);
    const auto left = static_cast<std::size_t>(end - from);
    auto quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
    if (left < 16) quotes &= (1u << left) - 1;
    if (quotes == 0) {
      const std::size_t step = std::min<std::size_t>(left, 16);
      from += step;
      write += step;
      continue;
    }
    const int keep = __builtin_ctz(quotes) + 1;  // the quote too
    from += keep;
    write += keep;
    if (from < end && *from == '"') ++from;  // the second of a pair goes
  }
#endif
  while (from < end) {
    const char c = *from++;
    *write++ = c;
    if (c == '"' && from < end && *from == '"') ++from;
  }
  return static_cast<std::size_t>(write - out);
}

void removeEscapes(std::string& text) {
  std::size_t out = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\\') {
      ++i;
      if (i == text.size()) break;
      // The escaped character is kept whole, so a backslash after a backslash survives.
      std::size_t length = 0;
      decodeUTF8(text.data() + i, &length);
      for (std::size_t k = 0; k < length; ++k) text[out++] = text[i++];
    } else {
      text[out++] = text[i++];
    }
  }
  text.resize(out);
}

std::string_view cleanField(std::string_view raw, std::string_view delimiter, FieldBytes bytes,
                            std::string& scratch, const SummaryTable* pairs, bool padded) {
  if (pairs == nullptr) pairs = pairSummaries();
  std::string_view text = raw;
  bool unquoted = false;
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
    // A quoted field, the usual reason to be here: (1) finds no newline next to a quote, and (3)
    // does not apply.
    text = raw.substr(1, raw.size() - 2);  // (2)
    unquoted = true;
  } else if (!isCleanField(raw, delimiter.front(), false)) {
    text = trimCharactersWithFlag(text, kNewline, pairs);                 // (1)
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {  // (2)
      text = text.substr(1, text.size() - 2);
      unquoted = true;
    }
    if (!unquoted && !text.empty() && text.front() == delimiter.front() &&  // (3)
        text.substr(0, delimiter.size()) == delimiter) {
      text.remove_prefix(delimiter.size());
    }
  }
  text = trimCharactersWithFlag(text, kTrimmed, pairs);  // (4)
  if (!bytes.any() || text.empty()) return text;
  // A doubled quote needs two quotes besides the pair that (2) removed.
  const std::uint32_t inner =
      bytes.quotes == kUncounted ? kUncounted : bytes.quotes - (unquoted ? 2 : 0);
  const bool quotes =
      inner >= 2 && (inner != kUncounted || std::memchr(text.data(), '"', text.size()) != nullptr);
  const bool backslashes =
      bytes.backslashes && std::memchr(text.data(), '\\', text.size()) != nullptr;
  if (!quotes && !backslashes) return text;
  if (!quotes) {
    scratch.assign(text);
    removeEscapes(scratch);  // (6)
    return scratch;
  }
  // The scratch keeps its largest size, so that it is not filled with zeros before every use.
  if (scratch.size() < text.size() + kCollapseSlack) scratch.resize(text.size() + kCollapseSlack);
  const std::size_t length = collapseDoubledQuotes(text, scratch.data(), padded);  // (5)
  if (!backslashes) return std::string_view(scratch.data(), length);
  scratch.resize(length);
  removeEscapes(scratch);  // (6)
  return scratch;
}

}  // namespace csv::detail
