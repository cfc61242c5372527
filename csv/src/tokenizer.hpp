// Tokenizer: turns grapheme clusters into lines and fields and reports them to a sink.
//
// Input is pushed, never pulled: the parser reads and decodes the text (TextSource) and hands it
// over with push(), a view of the text plus whether the input has ended. A push reads as far as
// the text allows and says how many bytes at its front it has finished with; the next push must
// start with the rest of that text, so the parser releases what was passed and memory stays
// bounded. Lines and fields go to a TokenSink, which calls the parser's delegate; the tokenizer
// never calls back into the parser for anything else.
//
// The state machine works per grapheme cluster, exactly as the dialect describes it (see
// docs/csv_dialect.md): a cluster's first code point decides its case (quote, delimiter,
// backslash, newline or other), the two clusters before it are remembered, and every cluster is
// appended to the current field unless a comment is being skipped. The raw text of the current
// field is a range of the decoded text, never a copy. The state lives in a Cursor, and every
// transition (a line or field begins or ends, a quote, delimiter, backslash or newline is met) is
// one small helper that takes the cursor. Two loops drive them:
//  - the reference path, dispatch(), which handles one fully segmented cluster at a time;
//  - the plain-field loop, runPlainFields(), which keeps a copy of the cursor in registers and
//    handles unquoted and quoted fields of ordinary text, their delimiters and line ends, through
//    the same helpers, returning to the reference path at anything else.
// The helpers take a compile-time `plain` flag: the loop runs only without comment leftovers and
// without a pending backslash, so their tests fall away there. setFastPathsEnabled(false) sends
// every cluster through the reference path, which the differential tests compare the loop
// against, with each byte classifier (setScanISA) the processor has.
//
// Skipping ordinary text, and the traps it must respect. Inside a field (and inside a comment)
// long runs of ordinary clusters change nothing but the field's end, so the loops jump to the
// next byte that might start a structural cluster. The bytes are classified 64 at a time by
// byte_scan's classifier for the processor (SSE2, AVX2 or plain C++), and the masks of the
// current window are kept, so the short fields within one window cost one classification. A skip
// is only exact because:
//  - an ASCII byte starts its own cluster unless the code point before it is a Prepend
//    character (GB9b), which swallows it; then it is ordinary, whatever it is;
//  - LF after CR belongs to the CR's cluster (GB3), so CR is itself a stop;
//  - the non-ASCII newlines U+0085, U+2028 and U+2029 are controls: always clusters of their own,
//    so their first bytes are stops like the ASCII newlines;
//  - a combining mark after a structural byte joins its cluster; the reference path, which
//    handles every structural cluster, segments it fully;
//  - the cluster after a closing quote must be tested for malformed text, so a skip never starts
//    right after a quote, nor while a backslash is pending.
// A non-ASCII delimiter could itself be a combining mark or be joined to an emoji, so with one
// every cluster takes the reference path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_scan.hpp"
#include "csv/csv_parser_delegate.hpp"
#include "csv/error.hpp"
#include "field_cleanup.hpp"
#include "grapheme.hpp"

namespace csv::detail {

// The tokenizer's states, numbered as CSVParserState.
enum ParserState : std::uint32_t {
  kBetweenLines = 0,
  kInLine = 1,
  kInField = 2,
  kInComment = 3,
  kCancelled = 4,
};

// Where lines and fields go: the parser's delegate, looked up again for every event since a
// callback may replace it, called with the parser.
class TokenSink {
 public:
  TokenSink(CSVParser& parser, CSVParserDelegate* const& delegate)
      : parser_(parser), delegate_(delegate) {}

  void startLine(std::uint64_t line) const {
    if (CSVParserDelegate* delegate = delegate_) delegate->didStartLine(parser_, reported(line));
  }
  void field(std::string_view text) const {
    if (CSVParserDelegate* delegate = delegate_) delegate->didReadFieldView(parser_, text);
  }
  void endLine(std::uint64_t line) const {
    if (CSVParserDelegate* delegate = delegate_) delegate->didEndLine(parser_, reported(line));
  }
  // The delegate's numbers are 32 bits: past their largest, a line gets the largest rather than
  // a small number that another line already had.
  static std::uint32_t reported(std::uint64_t line) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(line, UINT32_MAX));
  }

 private:
  CSVParser& parser_;
  CSVParserDelegate* const& delegate_;
};

// Newline characters that belong to the raw text of the current field or comment but not to the
// text in flight: the line ends before a run of comment lines, or the start of a field that
// begins with blank lines. Clean-up trims them, and only an error message quotes them, so they
// are kept as counts of each repeated line end: a run of any length in one style of line ends
// costs a few bytes.
class NewlineRun {
 public:
  bool empty() const { return repeats_.empty(); }
  void clear() { repeats_.clear(); }
  // Appends text made only of newline characters.
  void append(std::string_view newlines);
  // The run's text.
  std::string text() const;

 private:
  struct Repeat {
    std::uint32_t count;
    std::uint8_t form;  // index into the line ends' texts
  };
  std::vector<Repeat> repeats_;
};

// The length of the newline characters that `text` begins with.
std::size_t newlinePrefixLength(std::string_view text);

class Tokenizer {
 public:
  // The classes of a cluster's first code point that the state machine tells apart; the absence
  // of a cluster counts as kOther.
  enum class Kind : std::uint8_t { kOther, kQuote, kBackslash, kNewline };

  // Bytes that must be readable before and after every pushed text (looks behind a character,
  // pair look-ups and whole classifier windows).
  static constexpr std::size_t kReadableBefore = 4;
  static constexpr std::size_t kReadableAfter = kScanOverread;

  Tokenizer();

  // The delimiter as UTF-8 (one code point below U+10000, already checked).
  void setDelimiter(std::string_view delimiter);
  // Turns the fast paths off, so that every cluster takes the reference path (for differential
  // tests).
  void setFastPathsEnabled(bool enabled) { fastPaths_ = enabled; }
  // Classifies bytes with the given instruction set (for tests); false when it is unavailable.
  bool setScanISA(ScanISA isa);

  // Starts a parse: the clusters before it no longer count as the previous ones.
  void begin();
  // Reads `text`: what the previous push had not finished with, then new text; `endOfInput` when
  // nothing will follow. Reads until the text is used up or more is needed to go on, the text is
  // malformed (error()) or a callback cancels. Returns how many bytes at the front of the text
  // it has finished with, which the next push leaves out; then nothing of the text is kept.
  std::size_t push(std::string_view text, bool endOfInput, const TokenSink& sink);
  // Ends the parse: reports the open field and line, unless cancelled. Reads the text of the last
  // push, which must still be in place.
  void finish(const TokenSink& sink);
  // Why the last push stopped at malformed text; nullopt otherwise. Cleared by the call.
  std::optional<Error> takeError();
  // Moves to the final cancelled state; the cluster being processed still completes.
  void cancel() { cursor_.state = kCancelled; }
  // The current state.
  ParserState state() const { return cursor_.state; }

 private:
  // Where the state machine stands. Offsets are into the text of the current push.
  struct Cursor {
    ParserState state = kBetweenLines;
    bool balancedQuotes = true;
    bool balancedEscapes = true;
    Kind previous = Kind::kOther;               // first code point of the previous cluster
    Kind beforePrevious = Kind::kOther;         // and of the one before it
    std::uint8_t frontFlags = kSummaryUnknown;  // pairSummary of the field's first character
    std::size_t pos = 0;                        // start of the next cluster
    std::size_t fieldStart = 0;
    FieldBytes fieldBytes;  // the '"' and '\' bytes of the current field
  };
  // Which bytes may start a structural cluster in each kind of run.
  enum RunKind : std::uint8_t {
    kFieldRun,    // outside quotes: quote, backslash, delimiter, newlines
    kQuotedRun,   // inside quotes: only a quote or a backslash changes anything
    kCommentRun,  // in a comment: a quote (the cluster after it is checked), backslash, newlines
  };

  // The kind of a character from its first byte (any non-ASCII byte: kOther).
  static Kind byteKind(unsigned char b);

  // Runs fields of ordinary text, their delimiters and line ends, in one loop; returns at
  // anything else with the cursor at a cluster start.
  void runPlainFields(const TokenSink& parserSink);
  // The offset of the next byte at or after `from` that may start a structural cluster in the
  // run, or the text's size.
  std::size_t nextStop(std::size_t from, RunKind run);
  // Classifies the window of text that starts at `from` (before the text's end). Out of line:
  // inlined, the address of the masks that the classifier returns in memory held one of the
  // plain-field loop's callee-saved registers for the whole loop.
  [[gnu::noinline]] void classifyWindow(std::size_t from);
  // nextStop, passing the printable ASCII characters that a Prepend character takes in.
  std::size_t skipRun(std::size_t from, RunKind run, FieldBytes& joined, std::uint8_t& backFlags);
  bool canSkip() const;
  bool skipOrdinary();
  // Handles the cluster at the cursor when its extent is plain from its first bytes; false
  // otherwise.
  bool processClusterFast(const TokenSink& sink);
  // Handles the cluster at the cursor after segmenting it fully (the reference path); false when
  // more text is needed to find its end.
  bool processCluster(const TokenSink& sink);
  // Steps A to C for the cluster [cursor_.pos, end) whose first code point is ch.
  void dispatch(const TokenSink& sink, std::size_t end, char32_t ch, Kind kind,
                bool holdsQuoteOrBackslash);
  // Rebases the cursor on the text after what it no longer needs; returns that length.
  std::size_t release();

  // The transitions, shared by both loops. `plain` is true in the plain-field loop, which runs
  // only without leftover_ newlines and without a pending backslash, and never creates either: the
  // tests for them fall away there. backFlags is the pair summary of the field's last character
  // when known (kSummaryUnknown otherwise).
  template <bool plain>
  void beginField(Cursor& c, std::size_t at);
  template <bool plain>
  void finishField(Cursor& c, const TokenSink& sink, std::size_t at, std::uint8_t backFlags);
  template <bool plain>
  void onQuote(Cursor& c, std::size_t at);
  template <bool plain>
  void onDelimiter(Cursor& c, const TokenSink& sink, std::size_t at, std::uint8_t backFlags);
  template <bool plain>
  void onNewline(Cursor& c, const TokenSink& sink, std::size_t at, std::uint8_t backFlags);
  template <bool plain>
  void onOrdinary(Cursor& c, std::size_t at);
  void onBackslash(Cursor& c, std::size_t at);
  void beginLine(Cursor& c, const TokenSink& sink);
  void finishLine(Cursor& c, const TokenSink& sink);
  // Step C: the cluster [c.pos, next) of the given kind is done.
  static void advance(Cursor& c, std::size_t next, Kind kind);
  // A callback may have cancelled: a copy of the cursor follows.
  void followCancel(Cursor& c) const;
  static void setState(Cursor& c, ParserState state) {
    if (c.state != kCancelled) c.state = state;
  }
  std::string currentFieldText(std::size_t at) const;

  std::string delimiter_ = ",";
  char delimiterLead_ = ',';  // its first byte
  char32_t delimiterCharacter_ = ',';
  bool asciiDelimiter_ = true;
  bool fastPaths_ = true;
  ByteScanner scan_;
  const SummaryTable* const pairs_;  // pairSummaries()

  // The text of the current push.
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool endOfInput_ = false;

  Cursor cursor_;
  std::uint64_t currentLine_ = 0;  // the error messages' numbers never wrap
  std::optional<Error> error_;
  // The current field's raw text is leftover_ followed by the text from fieldStart to pos.
  // leftover_ is empty except around comment lines, whose text is skipped while the newlines
  // before and after them still count as appended, and when a field that begins with newlines
  // (blank lines) outlasts a push: release() moves them here, so that a long run of blank lines
  // is not kept as text.
  NewlineRun leftover_;
  std::string scratch_;  // the cleaned field when clean-up had to copy it
  // How far the reference path got into a cluster that outlasted the text, and where that
  // cluster starts; a cluster of millions of marks is then searched once, not once per read.
  static constexpr std::size_t kNoClusterScan = static_cast<std::size_t>(-1);
  ClusterScan clusterScan_;
  std::size_t clusterScanStart_ = kNoClusterScan;

  // The classified window: text offsets [windowBase_, windowLimit_), empty when equal, and the
  // stop bits of each kind of run (bit i: offset windowBase_ + i).
  std::size_t windowBase_ = 0;
  std::size_t windowLimit_ = 0;
  std::uint64_t windowStops_[3] = {};
};

}  // namespace csv::detail
