#include "tokenizer.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "field_cleanup.hpp"
#include "grapheme.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

// Inlines a lambda of the field loop, which would otherwise keep the loop's state in memory.
#define QUORIN_ALWAYS_INLINE __attribute__((always_inline))

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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORIN_HAVE_AVX2_SCAN 1
// Marks the bytes of v (loaded from q) that start U+0085 (C2 85) or U+2028/U+2029 (E2 80 A8/A9):
// the newline characters that are not ASCII. Reads up to two bytes past the 32 it classifies.
__attribute__((target("avx2"), always_inline)) inline std::uint32_t multiByteNewlinesAVX2(
    const unsigned char* q, __m256i v) {
  const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
  const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 2));
  const __m256i nel =
      _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0xC2))),
                       _mm256_cmpeq_epi8(v1, _mm256_set1_epi8(static_cast<char>(0x85))));
  const __m256i separator = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0xE2))),
                       _mm256_cmpeq_epi8(v1, _mm256_set1_epi8(static_cast<char>(0x80)))),
      _mm256_cmpeq_epi8(_mm256_and_si256(v2, _mm256_set1_epi8(static_cast<char>(0xFE))),
                        _mm256_set1_epi8(static_cast<char>(0xA8))));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(nel, separator)));
}

// findStop, 32 bytes at a time, for processors with AVX2 (chosen at run time). Reads up to 33
// bytes past `end`.
template <RunKind kind>
__attribute__((target("avx2"), noinline)) const unsigned char* findStopAVX2(
    const unsigned char* p, const unsigned char* end, unsigned char delimiter) {
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i backslash = _mm256_set1_epi8('\\');
  const __m256i delim = _mm256_set1_epi8(static_cast<char>(delimiter));
  const __m256i newlineBase = _mm256_set1_epi8(0x0A);
  const __m256i newlineSpan = _mm256_set1_epi8(0x0D - 0x0A);
  for (; p < end; p += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i hits = _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, backslash));
    if constexpr (kind == RunKind::kField) {
      hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(v, delim));
    }
    if constexpr (kind != RunKind::kQuoted) {
      const __m256i offset = _mm256_sub_epi8(v, newlineBase);
      hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(_mm256_min_epu8(offset, newlineSpan), offset));
    }
    auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
    if constexpr (kind != RunKind::kQuoted) {
      if (_mm256_movemask_epi8(v) != 0) mask |= multiByteNewlinesAVX2(p, v);
    }
    if (mask != 0) return std::min(p + __builtin_ctz(mask), end);
  }
  return end;
}

bool haveAVX2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
bool haveAVX2() { return false; }
#endif

// The 64 bytes at p as two bit masks (bit i: p[i]): `field`, the bytes that may start a
// structural cluster outside quotes (findStop<kField>'s set), and `quoted`, '"' and '\\'. Reads up
// to 66 bytes from p.
void scanWindowSSE2(const unsigned char* p, unsigned char delimiter, std::uint64_t* field,
                    std::uint64_t* quoted) {
  std::uint64_t all = 0;
  std::uint64_t special = 0;
  for (int part = 0; part < 4; ++part) {
    const unsigned char* q = p + 16 * part;
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i quotes =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8(0x0A));
    __m128i hits =
        _mm_or_si128(quotes, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(delimiter))));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(3)), offset));
    auto mask = static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits)));
    if (_mm_movemask_epi8(v) != 0) {
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
      const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
      const __m128i nel = _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2))),
                                        _mm_cmpeq_epi8(v1, _mm_set1_epi8(static_cast<char>(0x85))));
      const __m128i separator =
          _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2))),
                                      _mm_cmpeq_epi8(v1, _mm_set1_epi8(static_cast<char>(0x80)))),
                        _mm_cmpeq_epi8(_mm_and_si128(v2, _mm_set1_epi8(static_cast<char>(0xFE))),
                                       _mm_set1_epi8(static_cast<char>(0xA8))));
      mask |= static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(nel, separator)));
    }
    all |= mask << (16 * part);
    special |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(quotes)))
               << (16 * part);
#else
    for (int i = 0; i < 16; ++i) {
      const unsigned char b = q[i];
      const std::uint64_t bit = std::uint64_t{1} << (16 * part + i);
      if (b == '"' || b == '\\') special |= bit;
      if (b == '"' || b == '\\' || b == delimiter || (b >= 0x0A && b <= 0x0D) ||
          (b == 0xC2 && q[i + 1] == 0x85) ||
          (b == 0xE2 && q[i + 1] == 0x80 && (q[i + 2] & 0xFE) == 0xA8)) {
        all |= bit;
      }
    }
#endif
  }
  *field = all;
  *quoted = special;
}

#if defined(QUORIN_HAVE_AVX2_SCAN)
__attribute__((target("avx2"), noinline)) void scanWindowAVX2(const unsigned char* p,
                                                              unsigned char delimiter,
                                                              std::uint64_t* field,
                                                              std::uint64_t* quoted) {
  std::uint64_t all = 0;
  std::uint64_t special = 0;
  for (int part = 0; part < 2; ++part) {
    const unsigned char* q = p + 32 * part;
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    const __m256i quotes = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')),
                                           _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\')));
    const __m256i offset = _mm256_sub_epi8(v, _mm256_set1_epi8(0x0A));
    __m256i hits = _mm256_or_si256(
        quotes, _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(delimiter))));
    hits = _mm256_or_si256(hits,
                           _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(3)), offset));
    auto mask = static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hits)));
    if (_mm256_movemask_epi8(v) != 0) mask |= multiByteNewlinesAVX2(q, v);
    all |= mask << (32 * part);
    special |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(quotes)))
               << (32 * part);
  }
  *field = all;
  *quoted = special;
}
#endif

// Skips ordinary clusters from runStart; returns the start of the first structural cluster, or
// end. *joinedSpecial is set when a '"' or '\' byte was passed inside another cluster.
template <RunKind kind>
[[gnu::always_inline]] inline const unsigned char* skipRun(const unsigned char* runStart,
                                                           const unsigned char* end,
                                                           unsigned char delimiter, bool wide,
                                                           const SummaryTable* pairs,
                                                           bool* joinedSpecial) {
  const unsigned char* p = runStart;
  for (;;) {
#if defined(QUORIN_HAVE_AVX2_SCAN)
    p = wide ? findStopAVX2<kind>(p, end, delimiter) : findStop<kind>(p, end, delimiter);
#else
    (void)wide;
    p = findStop<kind>(p, end, delimiter);
#endif
    if (p == end) return end;
    const unsigned char b = *p;
    // GB9b: a printable ASCII character after a Prepend character belongs to its cluster. A
    // control (newlines, a tab delimiter) never does (GB5), nor does a non-ASCII newline. The
    // character before the run's first byte is never a Prepend (it would have been joined), so
    // looking at whatever precedes p, padding included, is safe.
    if (b >= 0x20 && b < 0x7F) {
      if (characterHasFlag(characterStartBefore(reinterpret_cast<const char*>(p)), kPrepend,
                           pairs)) {
        if (b == '"' || b == '\\') *joinedSpecial = true;
        ++p;
        continue;
      }
    }
    return p;
  }
}

// The length of a UTF-8 character from its first byte's high nibble (valid text only).
constexpr std::uint8_t kUTF8Length[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};

}  // namespace

namespace {

constexpr std::array<Tokenizer::Kind, 256> makeByteKinds() {
  std::array<Tokenizer::Kind, 256> kinds{};  // kOther
  kinds['"'] = Tokenizer::Kind::kQuote;
  kinds['\\'] = Tokenizer::Kind::kBackslash;
  for (unsigned b = 0x0A; b <= 0x0D; ++b) kinds[b] = Tokenizer::Kind::kNewline;
  return kinds;
}
constexpr std::array<Tokenizer::Kind, 256> kByteKinds = makeByteKinds();

}  // namespace

inline Tokenizer::Kind Tokenizer::byteKind(unsigned char b) { return kByteKinds[b]; }

Tokenizer::Tokenizer(TextSource& text) : text_(text), wide_(haveAVX2()), pairs_(pairSummaries()) {}

void Tokenizer::setDelimiter(std::string_view delimiter) {
  delimiter_ = std::string(delimiter);
  delimiterLead_ = delimiter_.front();
  windowLimit_ = 0;
  std::size_t length = 0;
  delimiterCharacter_ = decodeUTF8(delimiter_.data(), &length);
  asciiDelimiter_ = delimiterCharacter_ < 0x80;
}

inline std::size_t Tokenizer::nextStop(std::size_t from, bool quoted) {
  const std::size_t size = text_.size();
  for (;;) {
    if (from < windowBase_ || from >= windowLimit_) {
      if (from >= size) return size;
      const auto* p = reinterpret_cast<const unsigned char*>(text_.data()) + from;
      const auto delimiter = static_cast<unsigned char>(delimiterCharacter_);
#if defined(QUORIN_HAVE_AVX2_SCAN)
      if (wide_) {
        scanWindowAVX2(p, delimiter, &windowField_, &windowQuoted_);
      } else {
        scanWindowSSE2(p, delimiter, &windowField_, &windowQuoted_);
      }
#else
      scanWindowSSE2(p, delimiter, &windowField_, &windowQuoted_);
#endif
      windowBase_ = from;
      windowLimit_ = std::min(from + 64, size);
      if (windowLimit_ - from < 64) {
        // Bytes past the text are not text yet.
        const std::uint64_t valid = (std::uint64_t{1} << (windowLimit_ - from)) - 1;
        windowField_ &= valid;
        windowQuoted_ &= valid;
      }
    }
    const std::uint64_t mask = (quoted ? windowQuoted_ : windowField_) >> (from - windowBase_);
    if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctzll(mask));
    from = windowLimit_;
  }
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
    stop = skipRun<RunKind::kComment>(start, end, delimiter, wide_, pairs_, &joinedSpecial);
  } else if (balancedQuotes_) {
    stop = skipRun<RunKind::kField>(start, end, delimiter, wide_, pairs_, &joinedSpecial);
  } else {
    stop = skipRun<RunKind::kQuoted>(start, end, delimiter, wide_, pairs_, &joinedSpecial);
  }
  if (joinedSpecial && state_ == kInField) fieldBytes_ = {kUncounted, true};
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
  windowLimit_ = 0;  // the text moved and grew: the stop window is stale
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
  // Each step below handles one whole cluster exactly as dispatch() would, for the cases that it
  // names; at anything else the loop stops with the members saved and pos_ at a cluster start.
  // The state lives in locals (registers) meanwhile; a callback can only cancel, which it
  // reports through state_.
  if (!leftover_.empty() || !balancedEscapes_) return;
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  const auto delimiter = static_cast<unsigned char>(delimiterCharacter_);
  ParserState state = state_;
  std::size_t pos = pos_;
  std::size_t fieldStart = fieldStart_;
  Kind previous = previous_;
  Kind beforePrevious = beforePrevious_;
  bool quotes = balancedQuotes_;
  FieldBytes bytes = fieldBytes_;
  // Summaries (pairSummary) of the field's first character and of the one before a stop, looked
  // up once for the cluster rules and reused for the clean-up's edge test.
  std::uint8_t frontFlags = fieldFrontFlags_;
  std::uint8_t backFlags = kSummaryUnknown;
  constexpr std::uint8_t kEdgeDoubt = kTrimmed | kSummaryUnknown;

  const auto reportField = [&](std::size_t at) QUORIN_ALWAYS_INLINE {
    const std::string_view raw(data + fieldStart, at - fieldStart);
    const bool clean = !bytes.any() && raw.front() != '"' && raw.front() != delimiterLead_ &&
                       ((frontFlags | backFlags) & kEdgeDoubt) == 0;
    const std::string_view field = clean || isCleanField(raw, delimiterLead_, bytes.any(), pairs_)
                                       ? raw
                                       : cleanField(raw, delimiter_, bytes, scratch_);
    if (CSVParserDelegate* delegate = context.delegate) {
      delegate->didReadFieldView(context.parser, field);
    }
    fieldStart = at;
    bytes = {};
    frontFlags = kSummaryUnknown;
    state = state_ == kCancelled ? kCancelled : kInLine;
  };
  const auto reportLineEnd = [&]() QUORIN_ALWAYS_INLINE {
    if (CSVParserDelegate* delegate = context.delegate) {
      delegate->didEndLine(context.parser, currentLine_);
    }
    state = state_ == kCancelled ? kCancelled : kBetweenLines;
  };
  const auto reportLineStart = [&]() QUORIN_ALWAYS_INLINE {
    ++currentLine_;
    if (CSVParserDelegate* delegate = context.delegate) {
      delegate->didStartLine(context.parser, currentLine_);
    }
    state = state_ == kCancelled ? kCancelled : kInLine;
  };
  // Step C for the cluster [pos, next) of the given kind.
  const auto advance = [&](std::size_t next, Kind kind) QUORIN_ALWAYS_INLINE {
    pos = next;
    beforePrevious = previous;
    previous = kind;
  };

  while (state != kCancelled) {
    if (state == kInField) {
      if (previous == Kind::kQuote && quotes) {
        // After a closing quote only a quote, the delimiter or a line end is well-formed.
        if (pos + 1 >= size) break;
        const auto b = static_cast<unsigned char>(data[pos]);
        if (b >= 0x80) break;
        const std::size_t next = asciiClusterEnd(data, pos, pairs_);
        if (next == 0) break;
        const Kind kind = byteKind(b);
        backFlags = kSummaryUnknown;
        if (kind == Kind::kQuote) {
          quotes = false;
          bytes.addQuote();
        } else if (b == delimiter) {
          reportField(pos);
        } else if (kind == Kind::kNewline) {
          reportField(pos);
          reportLineEnd();
        } else {
          break;
        }
        advance(next, kind);
        continue;
      }
      // Ordinary text up to the next byte that may start a structural cluster.
      std::size_t stop = pos;
      for (;;) {
        stop = nextStop(stop, !quotes);
        if (stop == size) break;
        // GB9b, as in skipRun: a Prepend character takes a printable ASCII character in.
        const auto b = static_cast<unsigned char>(data[stop]);
        const char* last = characterStartBefore(data + stop);
        backFlags = pairSummary(last, pairs_);
        if (b < 0x20 || b >= 0x7F || (backFlags & (kPrepend | kSummaryUnknown)) == 0 ||
            !characterHasFlagSlow(last, kPrepend)) {
          break;
        }
        if (b == '"') bytes.addQuote();
        if (b == '\\') bytes.backslashes = true;
        ++stop;
      }
      if (stop == size) break;  // the general path finishes the run when more text comes
      if (stop != pos) {
        pos = stop;
        previous = Kind::kOther;
        beforePrevious = Kind::kOther;
      }
      const auto b = static_cast<unsigned char>(data[pos]);
      if (b >= 0x80 || pos + 1 >= size) break;
      const std::size_t next = asciiClusterEnd(data, pos, pairs_);
      if (next == 0) break;
      const Kind kind = byteKind(b);
      if (kind == Kind::kQuote) {
        quotes = !quotes;
        bytes.addQuote();
      } else if (b == delimiter) {  // only a stop outside quotes
        reportField(pos);
      } else if (kind == Kind::kNewline && previous != Kind::kNewline) {
        reportField(pos);
        reportLineEnd();
      } else {
        break;  // a backslash
      }
      advance(next, kind);
      continue;
    }
    if (state != kInLine && state != kBetweenLines) break;
    // A field that starts with an ordinary character or a quote. An ordinary first code point
    // decides the case on its own; the rest of its cluster (marks) is ordinary text that the
    // next skip passes over.
    if (pos + 1 >= size || previous == Kind::kQuote) break;
    const char* p = data + pos;
    const auto first = static_cast<unsigned char>(*p);
    const Kind kind = byteKind(first);
    std::size_t next;
    if (kind == Kind::kQuote) {
      next = asciiClusterEnd(data, pos, pairs_);
      if (next == 0) break;
    } else {
      if (kind != Kind::kOther || first == delimiter || first == '#') break;
      // A Prepend character takes in what follows; a non-ASCII newline is handled elsewhere.
      const std::uint8_t flags = pairSummary(p, pairs_);
      if ((flags & (kPrepend | kNewline | kSummaryUnknown)) != 0 &&
          characterHasFlagSlow(p, kPrepend | kNewline)) {
        break;
      }
      next = pos + kUTF8Length[first >> 4];
    }
    if (state == kBetweenLines) reportLineStart();
    // After a cancelling didStartLine the character still takes its case: a quote does nothing
    // in the cancelled state, an ordinary character begins a field.
    if (state != kCancelled || kind == Kind::kOther) {
      fieldStart = pos;
      frontFlags = kind == Kind::kQuote ? kSummaryUnknown : pairSummary(p, pairs_);
      quotes = kind != Kind::kQuote;
      bytes = {kind == Kind::kQuote ? 1u : 0u, false};
      if (state != kCancelled) state = kInField;
    }
    advance(next, kind);
  }
  state_ = state;
  pos_ = pos;
  fieldStart_ = fieldStart;
  previous_ = previous;
  beforePrevious_ = beforePrevious;
  balancedQuotes_ = quotes;
  balancedEscapes_ = true;
  fieldBytes_ = bytes;
  fieldFrontFlags_ = frontFlags;
}

bool Tokenizer::processClusterFast(const TokenizerContext& context) {
  const char* data = text_.data();
  const std::size_t size = text_.size();
  const auto first = static_cast<unsigned char>(data[pos_]);
  if (first < 0x80) {
    if (pos_ + 1 >= size) return false;
    const std::size_t end = asciiClusterEnd(data, pos_, pairs_);
    if (end == 0) return false;
    dispatch(context, end, first, byteKind(first), first == '"' || first == '\\');
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
  // The slow path does not count: a quote or backslash anywhere makes the clean-up look.
  if (state_ != kInComment && holdsQuoteOrBackslash) fieldBytes_ = {kUncounted, true};
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

inline void Tokenizer::beginCurrentField(std::size_t at) {
  if (!leftover_.empty()) leftover_.clear();
  fieldStart_ = at;
  fieldBytes_ = {};
  fieldFrontFlags_ = kSummaryUnknown;
  balancedQuotes_ = true;
  balancedEscapes_ = true;
  setState(kInField);
}

inline void Tokenizer::finishCurrentField(const TokenizerContext& context, std::size_t at) {
  const std::string_view raw(text_.data() + fieldStart_, at - fieldStart_);
  std::string_view field;
  if (leftover_.empty()) [[likely]] {
    field = isCleanField(raw, delimiterLead_, fieldBytes_.any(), pairs_)
                ? raw
                : cleanField(raw, delimiter_, fieldBytes_, scratch_);
  } else {
    joined_ = leftover_;
    joined_.append(raw);
    leftover_.clear();
    field = cleanField(joined_, delimiter_, {kUncounted, true}, scratch_);
  }
  if (CSVParserDelegate* delegate = context.delegate) {
    delegate->didReadFieldView(context.parser, field);
  }
  fieldStart_ = at;
  fieldBytes_ = {};
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
