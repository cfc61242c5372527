#include "tokenizer.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "field_cleanup.hpp"
#include "grapheme.hpp"

// The transitions are inlined into both loops, so that the plain-field loop keeps its cursor in
// registers across them.
#define QUORIN_INLINE [[gnu::always_inline]] inline

namespace csv::detail {
namespace {

constexpr std::array<Tokenizer::Kind, 256> makeByteKinds() {
  std::array<Tokenizer::Kind, 256> kinds{};  // kOther
  kinds['"'] = Tokenizer::Kind::kQuote;
  kinds['\\'] = Tokenizer::Kind::kBackslash;
  for (unsigned b = 0x0A; b <= 0x0D; ++b) kinds[b] = Tokenizer::Kind::kNewline;
  return kinds;
}
constexpr std::array<Tokenizer::Kind, 256> kByteKinds = makeByteKinds();

// The texts of the newline characters as NewlineRun counts them; CR LF, one character, comes
// before CR so that it is found whole.
constexpr std::array<std::string_view, 8> kLineEnds = {
    "\r\n", "\n", "\v", "\f", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};

// The index in kLineEnds of the newline character that `text` begins with, or kLineEnds.size().
std::size_t lineEndAt(std::string_view text) {
  std::size_t form = 0;
  while (form < kLineEnds.size() && !text.starts_with(kLineEnds[form])) ++form;
  return form;
}

}  // namespace

std::size_t newlinePrefixLength(std::string_view text) {
  std::size_t length = 0;
  for (std::size_t form; (form = lineEndAt(text.substr(length))) < kLineEnds.size();) {
    length += kLineEnds[form].size();
  }
  return length;
}

void NewlineRun::append(std::string_view newlines) {
  while (!newlines.empty()) {
    const std::size_t form = lineEndAt(newlines);
    newlines.remove_prefix(kLineEnds[form].size());
    if (!repeats_.empty() && repeats_.back().form == form &&
        repeats_.back().count < std::numeric_limits<std::uint32_t>::max()) {
      ++repeats_.back().count;
    } else {
      repeats_.push_back({1, static_cast<std::uint8_t>(form)});
    }
  }
}

std::string NewlineRun::text() const {
  std::string text;
  for (const Repeat& repeat : repeats_) {
    for (std::uint32_t i = 0; i < repeat.count; ++i) text.append(kLineEnds[repeat.form]);
  }
  return text;
}

inline Tokenizer::Kind Tokenizer::byteKind(unsigned char b) { return kByteKinds[b]; }

Tokenizer::Tokenizer() : scan_(bestByteScanner()), pairs_(pairSummaries()) {}

void Tokenizer::setDelimiter(std::string_view delimiter) {
  delimiter_ = std::string(delimiter);
  delimiterLead_ = delimiter_.front();
  windowLimit_ = 0;
  std::size_t length = 0;
  delimiterCharacter_ = decodeUTF8(delimiter_.data(), &length);
  asciiDelimiter_ = delimiterCharacter_ < 0x80;
}

bool Tokenizer::setScanISA(ScanISA isa) {
  const ByteScanner scanner = byteScanner(isa);
  if (scanner == nullptr) return false;
  scan_ = scanner;
  windowLimit_ = 0;
  return true;
}

// ---- Transitions ----

QUORIN_INLINE void Tokenizer::advance(Cursor& c, std::size_t next, Kind kind) {
  c.pos = next;
  c.beforePrevious = c.previous;
  c.previous = kind;
}

QUORIN_INLINE void Tokenizer::followCancel(Cursor& c) const {
  if (cursor_.state == kCancelled) c.state = kCancelled;
}

QUORIN_INLINE void Tokenizer::beginLine(Cursor& c, const TokenSink& sink) {
  ++currentLine_;
  sink.startLine(currentLine_);
  followCancel(c);
  setState(c, kInLine);
}

template <bool plain>
QUORIN_INLINE void Tokenizer::beginField(Cursor& c, std::size_t at) {
  if (!plain && !leftover_.empty()) leftover_.clear();
  c.fieldStart = at;
  c.fieldBytes = {};
  c.frontFlags = kSummaryUnknown;
  c.balancedQuotes = true;
  c.balancedEscapes = true;
  setState(c, kInField);
}

template <bool plain>
QUORIN_INLINE void Tokenizer::finishField(Cursor& c, const TokenSink& sink, std::size_t at,
                                          std::uint8_t backFlags) {
  const std::string_view raw(data_ + c.fieldStart, at - c.fieldStart);
  // Newlines before the range are trimmed by the clean-up whatever follows them: the range alone
  // gives the same field.
  if (!plain) leftover_.clear();
  // With both edges' summaries at hand, most fields are known clean without decoding. Only the
  // plain-field loop knows a front, for a field it began with an ordinary character, which is
  // neither a quote nor the delimiter.
  constexpr std::uint8_t kEdgeDoubt = kTrimmed | kSummaryUnknown;
  const bool clean = ((c.frontFlags | backFlags) & kEdgeDoubt) == 0 && !c.fieldBytes.any();
  const std::string_view field =
      clean || isCleanField(raw, delimiterLead_, c.fieldBytes.any(), pairs_)
          ? raw
          : cleanField(raw, delimiter_, c.fieldBytes, scratch_, pairs_, true);
  sink.field(field);
  followCancel(c);
  c.fieldStart = at;
  c.fieldBytes = {};
  c.frontFlags = kSummaryUnknown;
  setState(c, kInLine);
}

QUORIN_INLINE void Tokenizer::finishLine(Cursor& c, const TokenSink& sink) {
  sink.endLine(currentLine_);
  followCancel(c);
  setState(c, kBetweenLines);
}

template <bool plain>
QUORIN_INLINE void Tokenizer::onQuote(Cursor& c, std::size_t at) {
  if (c.state == kInLine) {
    beginField<plain>(c, at);
    c.balancedQuotes = false;
  } else if (c.state == kInField) {
    if (!plain && !c.balancedEscapes) {
      c.balancedEscapes = true;
    } else {
      c.balancedQuotes = !c.balancedQuotes;
    }
  }
}

template <bool plain>
QUORIN_INLINE void Tokenizer::onDelimiter(Cursor& c, const TokenSink& sink, std::size_t at,
                                          std::uint8_t backFlags) {
  if (c.state == kInLine) {
    beginField<plain>(c, at);
    finishField<plain>(c, sink, at, kSummaryUnknown);
  } else if (c.state == kInField) {
    if (!plain && !c.balancedEscapes) {
      c.balancedEscapes = true;
    } else if (c.balancedQuotes) {
      finishField<plain>(c, sink, at, backFlags);
    }
  }
}

QUORIN_INLINE void Tokenizer::onBackslash(Cursor& c, std::size_t at) {
  if (c.state == kInLine) {
    beginField<false>(c, at);
    c.balancedEscapes = false;
  } else if (c.state == kInField) {
    c.balancedEscapes = !c.balancedEscapes;
  }
}

template <bool plain>
QUORIN_INLINE void Tokenizer::onNewline(Cursor& c, const TokenSink& sink, std::size_t at,
                                        std::uint8_t backFlags) {
  if (!c.balancedQuotes || (!plain && !c.balancedEscapes)) return;
  if (c.state == kInComment) {
    c.state = kBetweenLines;
    c.fieldStart = at;  // the comment's newline is appended after what came before it
  } else {
    finishField<plain>(c, sink, at, backFlags);
    finishLine(c, sink);
  }
}

template <bool plain>
QUORIN_INLINE void Tokenizer::onOrdinary(Cursor& c, std::size_t at) {
  if (c.state == kInComment) return;
  if (c.state != kInField) beginField<plain>(c, at);
  setState(c, kInField);
  c.balancedEscapes = true;
}

// ---- Skipping ordinary text ----

void Tokenizer::classifyWindow(std::size_t from) {
  const ByteMasks m = scan_(reinterpret_cast<const unsigned char*>(data_) + from,
                            static_cast<unsigned char>(delimiterCharacter_));
  windowBase_ = from;
  windowLimit_ = std::min(from + kScanWindow, size_);
  windowStops_[kFieldRun] = m.quotes | m.delimiters | m.newlines;
  windowStops_[kQuotedRun] = m.quotes;
  windowStops_[kCommentRun] = m.quotes | m.newlines;
  if (windowLimit_ - from < kScanWindow) [[unlikely]] {
    // Bytes past the text are not text yet.
    const std::uint64_t valid = (std::uint64_t{1} << (windowLimit_ - from)) - 1;
    for (std::uint64_t& stops : windowStops_) stops &= valid;
  }
}

QUORIN_INLINE std::size_t Tokenizer::nextStop(std::size_t from, RunKind run) {
  for (;;) {
    if (from < windowBase_ || from >= windowLimit_) {
      if (from >= size_) return size_;
      classifyWindow(from);
    }
    const std::uint64_t mask = windowStops_[run] >> (from - windowBase_);
    if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctzll(mask));
    from = windowLimit_;
  }
}

QUORIN_INLINE std::size_t Tokenizer::skipRun(std::size_t from, RunKind run, FieldBytes& joined,
                                             std::uint8_t& backFlags) {
  std::size_t stop = from;
  for (;;) {
    stop = nextStop(stop, run);
    if (stop == size_) return stop;
    // GB9b: a printable ASCII character after a Prepend character belongs to its cluster. A
    // control (newlines, a tab delimiter) never does (GB5), nor does a non-ASCII newline. Before
    // the run's first byte stands a structural character or padding, never a Prepend (it would
    // have been joined), so looking there is safe. The look behind has no branch on the length
    // of the character, which in mixed text would be mispredicted at every other stop. The
    // summary is asked first and alone: almost no stop follows a script with Prepend characters,
    // and one test there rather than three took a tenth off the time of a file of short fields.
    const char* last = characterStartBefore(data_ + stop);
    backFlags = pairSummary(last, pairs_);
    if ((backFlags & (kPrepend | kSummaryUnknown)) == 0) [[likely]]
      return stop;
    const auto b = static_cast<unsigned char>(data_[stop]);
    if (b < 0x20 || b >= 0x7F || !characterHasFlagSlow(last, kPrepend)) return stop;
    if (b == '"') joined.addQuote();
    if (b == '\\') joined.backslashes = true;
    ++stop;
  }
}

bool Tokenizer::canSkip() const {
  if (!fastPaths_ || !asciiDelimiter_) return false;
  const Cursor& c = cursor_;
  if (c.state == kInField) {
    // A pending backslash, or a closing quote just before, makes the next cluster special.
    return c.balancedEscapes && (c.previous != Kind::kQuote || !c.balancedQuotes);
  }
  return c.state == kInComment && c.previous != Kind::kQuote;
}

bool Tokenizer::skipOrdinary() {
  Cursor& c = cursor_;
  const RunKind run = c.state == kInComment ? kCommentRun
                      : c.balancedQuotes    ? kFieldRun
                                            : kQuotedRun;
  FieldBytes joined = c.fieldBytes;
  std::uint8_t backFlags = kSummaryUnknown;
  std::size_t stop = skipRun(c.pos, run, joined, backFlags);
  if (c.state == kInField) c.fieldBytes = joined;
  const bool found = stop != size_;
  // Without a stop, the last code point may still be joined by what follows (a Prepend
  // character): leave it to be looked at again with more text.
  if (!found && stop > c.pos && static_cast<unsigned char>(data_[stop - 1]) >= 0x80) {
    stop = static_cast<std::size_t>(codePointStartBefore(data_ + stop) - data_);
  }
  if (stop != c.pos) {
    c.pos = stop;
    // Neither a quote nor a backslash nor a newline can end a run (each is a stop), so the
    // previous cluster is now an ordinary one as far as the state machine can tell.
    c.previous = Kind::kOther;
    c.beforePrevious = Kind::kOther;
  }
  return found;
}

// ---- The parse ----

void Tokenizer::begin() {
  clusterScan_ = {};
  clusterScanStart_ = kNoClusterScan;
  cursor_.previous = Kind::kOther;
  cursor_.beforePrevious = Kind::kOther;
}

std::size_t Tokenizer::push(std::string_view text, bool endOfInput, const TokenSink& sink) {
  data_ = text.data();
  size_ = text.size();
  endOfInput_ = endOfInput;
  windowLimit_ = 0;  // the text moved or grew: the window is stale
  const Cursor& c = cursor_;
  while (!error_ && c.state != kCancelled) {
    if (c.pos == size_) return endOfInput ? 0 : release();
    if (fastPaths_ && asciiDelimiter_) {
      runPlainFields(sink);
      if (c.state == kCancelled || c.pos == size_) continue;
      if (canSkip() && !skipOrdinary()) {
        if (!endOfInput) return release();
        if (c.pos < size_) {
          // The text has ended: the rest was ordinary.
          cursor_.pos = size_;
          cursor_.previous = Kind::kOther;
          cursor_.beforePrevious = Kind::kOther;
        }
        continue;
      }
      if (processClusterFast(sink)) continue;
    }
    if (!processCluster(sink)) return release();
  }
  return 0;
}

std::size_t Tokenizer::release() {
  Cursor& c = cursor_;
  if (c.state == kInField) {
    // A field that begins with newlines (after blank lines) hands them to leftover_, so that a
    // run of blank lines is not kept as text however long it is.
    const std::size_t newlines = newlinePrefixLength({data_ + c.fieldStart, c.pos - c.fieldStart});
    if (newlines > 0) {
      leftover_.append({data_ + c.fieldStart, newlines});
      c.fieldStart += newlines;
    }
  }
  // Keep the current field's text; in a comment nothing before the next cluster is needed.
  const std::size_t keep = c.state == kInComment ? c.pos : std::min(c.fieldStart, c.pos);
  c.pos -= keep;
  clusterScanStart_ = clusterScanStart_ >= keep ? clusterScanStart_ - keep : kNoClusterScan;
  c.fieldStart = c.fieldStart >= keep ? c.fieldStart - keep : 0;
  windowLimit_ = 0;
  return keep;
}

void Tokenizer::finish(const TokenSink& sink) {
  Cursor& c = cursor_;
  if (c.state == kCancelled) return;
  // The end of the input (or an error) closes the open field and line.
  if (c.state == kInField && (!leftover_.empty() || c.pos > c.fieldStart)) {
    finishField<false>(c, sink, c.pos, kSummaryUnknown);
  }
  if (c.state == kInLine) finishLine(c, sink);
}

std::optional<Error> Tokenizer::takeError() { return std::exchange(error_, std::nullopt); }

void Tokenizer::runPlainFields(const TokenSink& parserSink) {
  // Each step below handles one whole cluster exactly as dispatch() would, through the same
  // transitions, for the cases that it names; at anything else the loop stops with the cursor
  // saved at a cluster start. The cursor and the sink live in local copies (registers)
  // meanwhile; a callback can only cancel, which followCancel() carries over.
  if (!leftover_.empty() || !cursor_.balancedEscapes) return;
  const TokenSink sink = parserSink;
  const char* const data = data_;
  const std::size_t size = size_;
  const auto delimiter = static_cast<unsigned char>(delimiterCharacter_);
  Cursor c = cursor_;

  while (c.state != kCancelled) {
    if (c.state == kInField) {
      std::uint8_t backFlags = kSummaryUnknown;
      if (c.previous != Kind::kQuote || !c.balancedQuotes) {
        // Ordinary text up to the next byte that may start a structural cluster.
        const std::size_t stop =
            skipRun(c.pos, c.balancedQuotes ? kFieldRun : kQuotedRun, c.fieldBytes, backFlags);
        if (stop == size) break;  // the general path finishes the run when more text comes
        if (stop != c.pos) {
          c.pos = stop;
          c.previous = Kind::kOther;
          c.beforePrevious = Kind::kOther;
        }
      }
      // Otherwise a quote has just closed the field's quotes; only a quote, the delimiter or a
      // line end may follow it, and anything else is left to dispatch().
      const auto b = static_cast<unsigned char>(data[c.pos]);
      if (b >= 0x80 || c.pos + 1 >= size) break;
      const std::size_t next = asciiClusterEnd(data, c.pos, pairs_);
      if (next == 0) break;
      const Kind kind = byteKind(b);
      if (kind == Kind::kQuote) {
        onQuote<true>(c, c.pos);
        c.fieldBytes.addQuote();
        advance(c, next, kind);
        // A quote right after one that balanced the quotes (a doubled quote) is taken at once,
        // exactly as the next pass would take it.
        if (c.balancedQuotes && c.pos + 1 < size && data[c.pos] == '"') {
          const std::size_t after = asciiClusterEnd(data, c.pos, pairs_);
          if (after != 0) {
            onQuote<true>(c, c.pos);
            c.fieldBytes.addQuote();
            advance(c, after, Kind::kQuote);
          }
        }
        continue;
      }
      if (b == delimiter) {  // only a stop outside quotes
        onDelimiter<true>(c, sink, c.pos, backFlags);
      } else if (kind == Kind::kNewline && c.previous != Kind::kNewline) {
        onNewline<true>(c, sink, c.pos, backFlags);
      } else {
        break;  // a backslash
      }
      advance(c, next, kind);
      continue;
    }
    if (c.state != kInLine && c.state != kBetweenLines) break;
    // A field that starts with an ordinary character or a quote. An ordinary first code point
    // decides the case on its own; the rest of its cluster (marks) is ordinary text that the
    // next skip passes over.
    if (c.pos + 1 >= size || c.previous == Kind::kQuote) break;
    const char* p = data + c.pos;
    const auto first = static_cast<unsigned char>(*p);
    const Kind kind = byteKind(first);
    std::size_t next;
    std::uint8_t frontFlags = kSummaryUnknown;
    if (kind == Kind::kQuote) {
      next = asciiClusterEnd(data, c.pos, pairs_);
      if (next == 0) break;
    } else {
      if (kind != Kind::kOther || first == delimiter || first == '#') break;
      // A Prepend character takes in what follows; a non-ASCII newline is handled elsewhere.
      // ASCII and other characters take the same steps: in mixed text a test on the length
      // would be mispredicted at about every other field.
      frontFlags = pairSummary(p, pairs_);
      if ((frontFlags & (kPrepend | kNewline | kSummaryUnknown)) != 0 &&
          characterHasFlagSlow(p, kPrepend | kNewline)) {
        break;
      }
      next = c.pos + utf8Length(first);
    }
    // Most fields do not start a line; laid out off their path, the step costs them no taken
    // jump.
    if (c.state == kBetweenLines) [[unlikely]]
      beginLine(c, sink);
    // After a cancelling didStartLine the character still takes its case: a quote does nothing
    // in the cancelled state, an ordinary character begins a field.
    if (kind == Kind::kQuote) {
      onQuote<true>(c, c.pos);
      c.fieldBytes.addQuote();
    } else {
      onOrdinary<true>(c, c.pos);
      c.frontFlags = frontFlags;
    }
    advance(c, next, kind);
  }
  cursor_ = c;
}

bool Tokenizer::processClusterFast(const TokenSink& sink) {
  const std::size_t pos = cursor_.pos;
  const auto first = static_cast<unsigned char>(data_[pos]);
  if (first < 0x80) {
    if (pos + 1 >= size_) return false;
    const std::size_t end = asciiClusterEnd(data_, pos, pairs_);
    if (end == 0) return false;
    dispatch(sink, end, first, byteKind(first), first == '"' || first == '\\');
    return true;
  }
  // A non-ASCII first code point that is ordinary (or a newline, always a cluster of its own)
  // gets the same treatment whatever follows it in its cluster: the rest is ordinary text that
  // the next skip passes over. A Prepend character is left to the reference path, since the
  // character it swallows could otherwise be mistaken for a structural one.
  std::size_t length = 0;
  const char32_t ch = decodeUTF8(data_ + pos, &length);
  if (isPrepend(ch)) return false;
  dispatch(sink, pos + length, ch, isNewlineCharacter(ch) ? Kind::kNewline : Kind::kOther, false);
  return true;
}

bool Tokenizer::processCluster(const TokenSink& sink) {
  const std::size_t pos = cursor_.pos;
  if (clusterScanStart_ != pos) clusterScan_ = {};  // another cluster than the one searched
  const std::size_t end = clusterEnd(data_, pos, size_, endOfInput_, &clusterScan_);
  if (end == kClusterNeedsMoreText) {
    clusterScanStart_ = pos;
    return false;
  }
  std::size_t firstLength = 0;
  const char32_t ch = decodeUTF8(data_ + pos, &firstLength);
  Kind kind = Kind::kOther;
  if (ch == '"') {
    kind = Kind::kQuote;
  } else if (ch == '\\') {
    kind = Kind::kBackslash;
  } else if (isNewlineCharacter(ch)) {
    kind = Kind::kNewline;
  }
  const std::size_t n = end - pos;
  const bool special =
      std::memchr(data_ + pos, '"', n) != nullptr || std::memchr(data_ + pos, '\\', n) != nullptr;
  dispatch(sink, end, ch, kind, special);
  return true;
}

inline void Tokenizer::dispatch(const TokenSink& sink, std::size_t end, char32_t ch, Kind kind,
                                bool holdsQuoteOrBackslash) {
  Cursor& c = cursor_;
  const std::size_t at = c.pos;

  // A. A line starts with any cluster but a lone "#", which starts a comment instead.
  if (c.state == kBetweenLines) {
    if (ch == '#' && end == at + 1) {
      // The newlines appended since the last field stay part of the field's text, and
      // nothing of the comment is.
      leftover_.append({data_ + c.fieldStart, at - c.fieldStart});
      c.fieldStart = at;
      c.state = kInComment;
    } else {
      beginLine(c, sink);
    }
  }

  // B. Dispatch on the first code point.
  if (kind == Kind::kQuote) {
    onQuote<false>(c, at);
  } else if (ch == delimiterCharacter_) {
    onDelimiter<false>(c, sink, at, kSummaryUnknown);
  } else if (kind == Kind::kBackslash) {
    onBackslash(c, at);
  } else if (kind == Kind::kNewline && c.previous != Kind::kNewline) {
    onNewline<false>(c, sink, at, kSummaryUnknown);
  } else {
    if (c.previous == Kind::kQuote && c.beforePrevious != Kind::kBackslash && c.balancedQuotes &&
        c.balancedEscapes) {
      // An ordinary character right after a closing quote. It is not appended.
      error_ = Error::csv(CSVErrorCodeInvalidFormat,
                          "Invalid CSV format on line #" + std::to_string(currentLine_) +
                              " immediately after \"" + currentFieldText(at) + "\"");
      return;
    }
    onOrdinary<false>(c, at);
  }

  // C. Append the cluster, unless in a comment: the field's range now reaches its end.
  // The reference path does not count: a quote or backslash anywhere makes the clean-up look.
  if (c.state != kInComment && holdsQuoteOrBackslash) c.fieldBytes = {kUncounted, true};
  advance(c, end, kind);
}

std::string Tokenizer::currentFieldText(std::size_t at) const {
  // In a comment nothing after the leftover newlines has been appended.
  std::string text = leftover_.text();
  if (cursor_.state == kInComment) return text;
  return text.append(data_ + cursor_.fieldStart, at - cursor_.fieldStart);
}

}  // namespace csv::detail
