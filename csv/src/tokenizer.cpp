#include "tokenizer.hpp"

#include <algorithm>
#include <cstring>

#include "field_cleanup.hpp"
#include "grapheme.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace csv::detail {
namespace {

// Which bytes may start a structural cluster in each kind of run.
enum class RunKind {
  kField,    // outside quotes: quote, backslash, delimiter, newlines
  kQuoted,   // inside quotes: only a quote or a backslash changes anything
  kComment,  // in a comment: a quote (the cluster after it is checked), backslash, newlines
};

// The first byte in [p, end) that may start a structural cluster, or end: a quote, a backslash,
// the delimiter, an ASCII newline, or the first byte of U+0085, U+2028 or U+2029. Reads up to 17
// bytes past `end`, which TextSource's padding allows; what it finds there is ignored.
template <RunKind kind>
[[gnu::always_inline]] inline const unsigned char* findStop(const unsigned char* p,
                                                            const unsigned char* end,
                                                            unsigned char delimiter) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i delim = _mm_set1_epi8(static_cast<char>(delimiter));
  const __m128i newlineBase = _mm_set1_epi8(0x0A);
  const __m128i newlineSpan = _mm_set1_epi8(0x0D - 0x0A);
  for (; p < end; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
    if constexpr (kind == RunKind::kField) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(v, delim));
    if constexpr (kind != RunKind::kQuoted) {
      const __m128i offset = _mm_sub_epi8(v, newlineBase);  // 0..3 for LF, VT, FF, CR
      hits = _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_min_epu8(offset, newlineSpan), offset));
    }
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if constexpr (kind != RunKind::kQuoted) {
      if (_mm_movemask_epi8(v) != 0) {
        // C2 85 is U+0085; E2 80 A8 and E2 80 A9 are U+2028 and U+2029.
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        const __m128i nel =
            _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2))),
                          _mm_cmpeq_epi8(v1, _mm_set1_epi8(static_cast<char>(0x85))));
        const __m128i separator =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2))),
                                        _mm_cmpeq_epi8(v1, _mm_set1_epi8(static_cast<char>(0x80)))),
                          _mm_cmpeq_epi8(_mm_and_si128(v2, _mm_set1_epi8(static_cast<char>(0xFE))),
                                         _mm_set1_epi8(static_cast<char>(0xA8))));
        mask |= static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(nel, separator)));
      }
    }
    if (mask != 0) return std::min(p + __builtin_ctz(mask), end);
  }
  return end;
#else
  for (; p < end; ++p) {
    const unsigned char b = *p;
    if (b == '"' || b == '\\') return p;
    if constexpr (kind == RunKind::kField) {
      if (b == delimiter) return p;
    }
    if constexpr (kind != RunKind::kQuoted) {
      if ((b >= 0x0A && b <= 0x0D) || (b == 0xC2 && p[1] == 0x85) ||
          (b == 0xE2 && p[1] == 0x80 && (p[2] & 0xFE) == 0xA8)) {
        return p;
      }
    }
  }
  return end;
#endif
}

// Skips ordinary clusters from runStart; returns the start of the first structural cluster, or
// end. *joinedSpecial is set when a '"' or '\' byte was passed inside another cluster.
template <RunKind kind>
[[gnu::always_inline]] inline const unsigned char* skipRun(const unsigned char* runStart,
                                                           const unsigned char* end,
                                                           unsigned char delimiter,
                                                           bool* joinedSpecial) {
  const unsigned char* p = runStart;
  for (;;) {
    p = findStop<kind>(p, end, delimiter);
    if (p == end) return end;
    const unsigned char b = *p;
    // GB9b: a printable ASCII character after a Prepend character belongs to its cluster. A
    // control (newlines, a tab delimiter) never does (GB5), nor does a non-ASCII newline. Only
    // bytes of this run are looked at: a run starts at a cluster boundary or right after an
    // ASCII byte.
    if (b >= 0x20 && b < 0x7F && p > runStart && p[-1] >= 0x80) {
      if (characterHasFlag(characterStartBefore(reinterpret_cast<const char*>(p)), kPrepend)) {
        if (b == '"' || b == '\\') *joinedSpecial = true;
        ++p;
        continue;
      }
    }
    return p;
  }
}

}  // namespace

void Tokenizer::setDelimiter(std::string_view delimiter) {
  delimiter_ = std::string(delimiter);
  std::size_t length = 0;
  delimiterCharacter_ = decodeUTF8(delimiter_.data(), &length);
  asciiDelimiter_ = delimiterCharacter_ < 0x80;
}

bool Tokenizer::canSkip() const {
  if (!fastPaths_ || !asciiDelimiter_) return false;
  if (state_ == kInField) {
    // A pending backslash, or a closing quote just before, makes the next cluster special.
    return balancedEscapes_ && (previous_ != Kind::kQuote || !balancedQuotes_);
  }
  return state_ == kInComment && previous_ != Kind::kQuote;
}

bool Tokenizer::skipOrdinary() {
  const auto* data = reinterpret_cast<const unsigned char*>(text_.data());
  const unsigned char* start = data + pos_;
  const unsigned char* end = data + text_.size();
  const auto delimiter = static_cast<unsigned char>(delimiterCharacter_);
  bool joinedSpecial = false;
  const unsigned char* stop;
  if (state_ == kInComment) {
    stop = skipRun<RunKind::kComment>(start, end, delimiter, &joinedSpecial);
  } else if (balancedQuotes_) {
    stop = skipRun<RunKind::kField>(start, end, delimiter, &joinedSpecial);
  } else {
    stop = skipRun<RunKind::kQuoted>(start, end, delimiter, &joinedSpecial);
  }
  if (joinedSpecial && state_ == kInField) mayNeedUnescaping_ = true;
  const bool found = stop != end;
  // Without a stop, the last code point may still be joined by what follows (a Prepend
  // character): leave it to be looked at again with more text.
  if (!found && stop > start && stop[-1] >= 0x80) {
    stop = reinterpret_cast<const unsigned char*>(
        codePointStartBefore(reinterpret_cast<const char*>(stop)));
  }
  if (stop != start) {
    pos_ = static_cast<std::size_t>(stop - data);
    // Neither a quote nor a backslash nor a newline can end a run (each is a stop), so the
    // previous cluster is now an ordinary one as far as the state machine can tell.
    previous_ = Kind::kOther;
    beforePrevious_ = Kind::kOther;
  }
  return found;
}

bool Tokenizer::refill(const TokenizerContext& context) {
  // Keep the current field's text; in a comment nothing before the next cluster is needed.
  const std::size_t keep = state_ == kInComment ? pos_ : std::min(fieldStart_, pos_);
  std::size_t shift = 0;
  const bool added = text_.fill(keep, &shift, context.chunkSize);
  pos_ -= shift;
  fieldStart_ = fieldStart_ >= shift ? fieldStart_ - shift : 0;
  return added;
}

void Tokenizer::run(const TokenizerContext& context) {
  previous_ = Kind::kOther;
  beforePrevious_ = Kind::kOther;
  while (!context.error) {
    if (pos_ == text_.size() && !refill(context)) {
      // Everything before a read or decoding failure has been handed out; now it counts.
      if (text_.failure()) context.error = text_.failure();
      break;
    }
    if (fastPaths_ && asciiDelimiter_) {
      runPlainFields(context);
      if (context.error || pos_ == text_.size()) continue;
      if (canSkip() && !skipOrdinary()) {
        if (!refill(context) && pos_ < text_.size()) {
          pos_ = text_.size();  // the text has ended: the rest was ordinary
          previous_ = Kind::kOther;
          beforePrevious_ = Kind::kOther;
        }
        continue;
      }
      if (processClusterFast(context)) {
        if (state_ == kCancelled) break;
        continue;
      }
    }
    processCluster(context);
    if (state_ == kCancelled) break;
  }
  if (state_ == kCancelled) return;
  // The end of the input (or an error) closes the open field and line.
  if (state_ == kInField && (!leftover_.empty() || pos_ > fieldStart_)) {
    finishCurrentField(context, pos_);
  }
  if (state_ == kInLine) finishCurrentLine(context);
}

void Tokenizer::runPlainFields(const TokenizerContext& context) {
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  const auto* const end = reinterpret_cast<const unsigned char*>(data + size);
  const auto delimiter = static_cast<unsigned char>(delimiterCharacter_);
  // Each step below handles one whole ASCII cluster (asciiClusterEnd) exactly as dispatch()
  // would, for the cases that it names; anything else returns.
  while (state_ != kCancelled && !context.error) {
    if (state_ == kInField) {
      if (!balancedEscapes_) return;
      if (previous_ == Kind::kQuote && balancedQuotes_) {
        // After a closing quote only a quote, the delimiter or a line end is well-formed.
        if (pos_ + 1 >= size) return;
        const auto b = static_cast<unsigned char>(data[pos_]);
        if (b >= 0x80) return;
        const std::size_t next = asciiClusterEnd(data, pos_);
        if (next == 0) return;
        const Kind kind = asciiKind(b);
        if (kind == Kind::kQuote) {
          balancedQuotes_ = false;
        } else if (b == delimiter) {
          finishCurrentField(context, pos_);
        } else if (kind == Kind::kNewline) {
          finishCurrentField(context, pos_);
          finishCurrentLine(context);
        } else {
          return;
        }
        pos_ = next;
        beforePrevious_ = previous_;
        previous_ = kind;
        continue;
      }
      bool joinedSpecial = false;
      const auto* start = reinterpret_cast<const unsigned char*>(data + pos_);
      const unsigned char* stop =
          balancedQuotes_ ? skipRun<RunKind::kField>(start, end, delimiter, &joinedSpecial)
                          : skipRun<RunKind::kQuoted>(start, end, delimiter, &joinedSpecial);
      if (joinedSpecial) mayNeedUnescaping_ = true;
      if (stop == end) return;
      if (stop != start) {
        pos_ = static_cast<std::size_t>(reinterpret_cast<const char*>(stop) - data);
        previous_ = Kind::kOther;
        beforePrevious_ = Kind::kOther;
      }
      const unsigned char b = *stop;
      if (b >= 0x80 || pos_ + 1 >= size) return;
      const std::size_t next = asciiClusterEnd(data, pos_);
      if (next == 0) return;
      const Kind kind = asciiKind(b);
      if (kind == Kind::kQuote) {
        balancedQuotes_ = !balancedQuotes_;
        mayNeedUnescaping_ = true;
      } else if (b == delimiter) {
        finishCurrentField(context, pos_);  // a stop outside quotes only
      } else if (kind == Kind::kNewline && previous_ != Kind::kNewline) {
        finishCurrentField(context, pos_);
        finishCurrentLine(context);
      } else {
        return;  // a backslash
      }
      pos_ = next;
      beforePrevious_ = previous_;
      previous_ = kind;
      continue;
    }
    if (state_ != kInLine && state_ != kBetweenLines) return;
    // A field that starts with an ordinary ASCII character or a quote.
    if (pos_ + 1 >= size || previous_ == Kind::kQuote) return;
    const auto first = static_cast<unsigned char>(data[pos_]);
    if (first >= 0x80) {
      // An ordinary non-ASCII first code point: the rest of its cluster is ordinary text that
      // the next skip passes over (see processClusterFast).
      if (state_ == kBetweenLines || characterHasFlag(data + pos_, kPrepend | kNewline)) return;
      beginCurrentField(pos_);
      pos_ += first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
      beforePrevious_ = previous_;
      previous_ = Kind::kOther;
      continue;
    }
    const Kind kind = asciiKind(first);
    if ((kind != Kind::kOther && kind != Kind::kQuote) || first == delimiter || first == '#') {
      return;
    }
    std::size_t next = asciiClusterEnd(data, pos_);
    if (next == 0) {
      // Marks join this character: an ordinary one ("#" is not handled here) decides the same
      // case with or without them, and the next skip passes over them.
      if (kind != Kind::kOther) return;
      next = pos_ + 1;
    }
    if (state_ == kBetweenLines) {
      beginCurrentLine(context);
      if (state_ == kCancelled) {
        dispatch(context, next, first, kind, kind == Kind::kQuote);
        return;
      }
    }
    beginCurrentField(pos_);
    if (kind == Kind::kQuote) {
      balancedQuotes_ = false;
      mayNeedUnescaping_ = true;
    }
    pos_ = next;
    beforePrevious_ = previous_;
    previous_ = kind;
  }
}

bool Tokenizer::processClusterFast(const TokenizerContext& context) {
  const char* data = text_.data();
  const std::size_t size = text_.size();
  const auto first = static_cast<unsigned char>(data[pos_]);
  if (first < 0x80) {
    if (pos_ + 1 >= size) return false;
    const std::size_t end = asciiClusterEnd(data, pos_);
    if (end == 0) return false;
    dispatch(context, end, first, asciiKind(first), first == '"' || first == '\\');
    return true;
  }
  // A non-ASCII first code point that is ordinary (or a newline, always a cluster of its own)
  // gets the same treatment whatever follows it in its cluster: the rest is ordinary text that
  // the next skip passes over. A Prepend character is left to the slow path, since the character
  // it swallows could otherwise be mistaken for a structural one.
  std::size_t length = 0;
  const char32_t ch = decodeUTF8(data + pos_, &length);
  if (isPrepend(ch)) return false;
  dispatch(context, pos_ + length, ch, isNewlineCharacter(ch) ? Kind::kNewline : Kind::kOther,
           false);
  return true;
}

void Tokenizer::processCluster(const TokenizerContext& context) {
  std::size_t end;
  for (;;) {
    end = clusterEnd(text_.data(), pos_, text_.size(), text_.exhausted());
    if (end != kClusterNeedsMoreText) break;
    refill(context);  // when nothing more comes, the text is exhausted and the next try ends it
  }
  const char* data = text_.data();
  std::size_t firstLength = 0;
  const char32_t ch = decodeUTF8(data + pos_, &firstLength);
  Kind kind = Kind::kOther;
  if (ch == '"') {
    kind = Kind::kQuote;
  } else if (ch == '\\') {
    kind = Kind::kBackslash;
  } else if (isNewlineCharacter(ch)) {
    kind = Kind::kNewline;
  }
  const std::size_t n = end - pos_;
  const bool special =
      std::memchr(data + pos_, '"', n) != nullptr || std::memchr(data + pos_, '\\', n) != nullptr;
  dispatch(context, end, ch, kind, special);
}

inline void Tokenizer::dispatch(const TokenizerContext& context, std::size_t end, char32_t ch,
                                Kind kind, bool holdsQuoteOrBackslash) {
  const std::size_t at = pos_;

  // A. A line starts with any cluster but a lone "#", which starts a comment instead.
  if (state_ == kBetweenLines) {
    if (ch == '#' && end == at + 1) {
      // The newlines appended since the last field stay part of the field's text, and
      // nothing of the comment is.
      leftover_.append(text_.data() + fieldStart_, at - fieldStart_);
      fieldStart_ = at;
      state_ = kInComment;
    } else {
      beginCurrentLine(context);
    }
  }

  // B. Dispatch on the first code point.
  if (kind == Kind::kQuote) {
    if (state_ == kInLine) {
      beginCurrentField(at);
      balancedQuotes_ = false;
    } else if (state_ == kInField) {
      if (!balancedEscapes_) {
        balancedEscapes_ = true;
      } else {
        balancedQuotes_ = !balancedQuotes_;
      }
    }
  } else if (ch == delimiterCharacter_) {
    if (state_ == kInLine) {
      beginCurrentField(at);
      finishCurrentField(context, at);
    } else if (state_ == kInField) {
      if (!balancedEscapes_) {
        balancedEscapes_ = true;
      } else if (balancedQuotes_) {
        finishCurrentField(context, at);
      }
    }
  } else if (kind == Kind::kBackslash) {
    if (state_ == kInLine) {
      beginCurrentField(at);
      balancedEscapes_ = false;
    } else if (state_ == kInField) {
      balancedEscapes_ = !balancedEscapes_;
    }
  } else if (kind == Kind::kNewline && previous_ != Kind::kNewline) {
    if (balancedQuotes_ && balancedEscapes_) {
      if (state_ == kInComment) {
        state_ = kBetweenLines;
        fieldStart_ = at;  // the comment's newline is appended after what came before it
      } else {
        finishCurrentField(context, at);
        finishCurrentLine(context);
      }
    }
  } else {
    if (previous_ == Kind::kQuote && beforePrevious_ != Kind::kBackslash && balancedQuotes_ &&
        balancedEscapes_) {
      // An ordinary character right after a closing quote. It is not appended.
      context.error = Error::csv(CSVErrorCodeInvalidFormat,
                                 "Invalid CSV format on line #" + std::to_string(currentLine_) +
                                     " immediately after \"" + currentFieldText(at) + "\"");
      return;
    }
    if (state_ != kInComment) {
      if (state_ != kInField) beginCurrentField(at);
      setState(kInField);
      balancedEscapes_ = true;
    }
  }

  // C. Append the cluster, unless in a comment: the field's range now reaches its end.
  if (state_ != kInComment) mayNeedUnescaping_ = mayNeedUnescaping_ || holdsQuoteOrBackslash;
  pos_ = end;
  beforePrevious_ = previous_;
  previous_ = kind;
}

void Tokenizer::beginCurrentLine(const TokenizerContext& context) {
  ++currentLine_;
  if (CSVParserDelegate* delegate = context.delegate) {
    delegate->didStartLine(context.parser, currentLine_);
  }
  setState(kInLine);
}

void Tokenizer::beginCurrentField(std::size_t at) {
  leftover_.clear();
  fieldStart_ = at;
  mayNeedUnescaping_ = false;
  balancedQuotes_ = true;
  balancedEscapes_ = true;
  setState(kInField);
}

void Tokenizer::finishCurrentField(const TokenizerContext& context, std::size_t at) {
  std::string_view raw(text_.data() + fieldStart_, at - fieldStart_);
  bool mayNeedUnescaping = mayNeedUnescaping_;
  if (!leftover_.empty()) {
    joined_ = leftover_;
    joined_.append(raw);
    raw = joined_;
    mayNeedUnescaping = true;
  }
  const std::string_view field = isCleanField(raw, delimiter_.front(), mayNeedUnescaping)
                                     ? raw
                                     : cleanField(raw, delimiter_, mayNeedUnescaping, scratch_);
  if (CSVParserDelegate* delegate = context.delegate) {
    delegate->didReadFieldView(context.parser, field);
  }
  leftover_.clear();
  fieldStart_ = at;
  mayNeedUnescaping_ = false;
  setState(kInLine);
}

void Tokenizer::finishCurrentLine(const TokenizerContext& context) {
  if (CSVParserDelegate* delegate = context.delegate) {
    delegate->didEndLine(context.parser, currentLine_);
  }
  setState(kBetweenLines);
}

std::string Tokenizer::currentFieldText(std::size_t at) const {
  // In a comment nothing after the leftover newlines has been appended.
  if (state_ == kInComment) return leftover_;
  return leftover_ + std::string(text_.data() + fieldStart_, at - fieldStart_);
}

}  // namespace csv::detail
