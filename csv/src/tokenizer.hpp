// Tokenizer: turns grapheme clusters into lines and fields and reports them to the delegate.
//
// The state machine works per grapheme cluster, exactly as the dialect describes it (see
// docs/csv_dialect.md): a cluster's first code point decides its case (quote, delimiter,
// backslash, newline or other), the two clusters before it are remembered, and every cluster is
// appended to the current field unless a comment is being skipped. The raw text of the current
// field is a range of the decoded text, never a copy.
//
// Fast path, and the traps it must respect. Inside a field (and inside a comment) long runs of
// ordinary clusters change nothing but the field's end, so skipOrdinary() jumps over them to the
// next byte that might start a structural cluster. That is only exact because:
//  - an ASCII byte starts its own cluster unless the code point before it is a Prepend
//    character (GB9b), which swallows it; then it is ordinary, whatever it is;
//  - LF after CR belongs to the CR's cluster (GB3), so CR is itself a stop;
//  - the non-ASCII newlines U+0085, U+2028 and U+2029 are controls: always clusters of their own;
//  - a combining mark after a structural byte joins its cluster; the slow path, which handles
//    every structural cluster, segments it fully;
//  - the cluster after a closing quote must be tested for malformed text, so a skip never starts
//    right after a quote, nor while a backslash is pending.
// A non-ASCII delimiter could itself be a combining mark or be joined to an emoji, so with one
// every cluster takes the slow path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "csv/csv_parser_delegate.hpp"
#include "csv/error.hpp"
#include "field_cleanup.hpp"
#include "grapheme.hpp"
#include "text_source.hpp"

namespace csv::detail {

// The tokenizer's states, numbered as CSVParserState.
enum ParserState : std::uint32_t {
  kBetweenLines = 0,
  kInLine = 1,
  kInField = 2,
  kInComment = 3,
  kCancelled = 4,
};

// What the parse loop reports to and reads from its parser.
struct TokenizerContext {
  CSVParser& parser;
  CSVParserDelegate* const& delegate;  // re-read at every call: a callback may change it
  std::optional<Error>& error;         // the parse stops once it is set
  const std::uint32_t& chunkSize;
};

class Tokenizer {
 public:
  // The classes of a cluster's first code point that the state machine tells apart; the absence
  // of a cluster counts as kOther.
  enum class Kind : std::uint8_t { kOther, kQuote, kBackslash, kNewline };

  // *text must outlive the Tokenizer.
  explicit Tokenizer(TextSource& text);

  // The delimiter as UTF-8 (one code point below U+10000, already checked).
  void setDelimiter(std::string_view delimiter);
  // Turns the fast path off, so that every cluster takes the slow path (for differential tests).
  void setFastPathsEnabled(bool enabled) { fastPaths_ = enabled; }

  // The parse loop: hands clusters to the state machine until the text ends, an error is set or
  // the parse is cancelled; then, unless cancelled, reports the open field and line.
  void run(const TokenizerContext& context);
  // Moves to the final cancelled state; the cluster being processed still completes.
  void cancel() { state_ = kCancelled; }
  // The current state.
  ParserState state() const { return state_; }

 private:
  // The kind of a character from its first byte (any non-ASCII byte: kOther).
  static Kind byteKind(unsigned char b);

  // Runs unquoted fields of ordinary text, their delimiters and line ends, in one loop; returns
  // at anything else with pos_ at a cluster start.
  void runPlainFields(const TokenizerContext& context);
  // The offset of the next byte at or after `from` that may start a structural cluster (inside
  // quotes: a quote or a backslash), or the text's size. Masks of a 64-byte window are kept, so
  // the short fields within one window cost one scan.
  std::size_t nextStop(std::size_t from, bool quoted);
  bool canSkip() const;
  bool skipOrdinary();
  // Handles the cluster at pos_ when its extent is plain from its first bytes; false otherwise.
  bool processClusterFast(const TokenizerContext& context);
  // Handles the cluster at pos_ after segmenting it fully (the reference path).
  void processCluster(const TokenizerContext& context);
  // Steps A to C for the cluster [pos_, end) whose first code point is ch.
  void dispatch(const TokenizerContext& context, std::size_t end, char32_t ch, Kind kind,
                bool holdsQuoteOrBackslash);
  bool refill(const TokenizerContext& context);

  void setState(ParserState state) {
    if (state_ != kCancelled) state_ = state;
  }
  void beginCurrentLine(const TokenizerContext& context);
  void beginCurrentField(std::size_t at);
  void finishCurrentField(const TokenizerContext& context, std::size_t at);
  void finishCurrentLine(const TokenizerContext& context);
  std::string currentFieldText(std::size_t at) const;

  TextSource& text_;
  std::string delimiter_ = ",";
  char delimiterLead_ = ',';  // its first byte
  char32_t delimiterCharacter_ = ',';
  bool asciiDelimiter_ = true;
  bool fastPaths_ = true;
  const bool wide_;                  // AVX2 scanning
  const SummaryTable* const pairs_;  // pairSummaries()

  ParserState state_ = kBetweenLines;
  bool balancedQuotes_ = true;
  bool balancedEscapes_ = true;
  std::uint32_t currentLine_ = 0;
  Kind previous_ = Kind::kOther;        // first code point of the previous cluster
  Kind beforePrevious_ = Kind::kOther;  // and of the one before it

  // The current field's raw text is leftover_ followed by the decoded text from fieldStart_ to
  // pos_ (the start of the next cluster). leftover_ is empty except around comment lines, whose
  // text is skipped while the newlines before and after them still count as appended.
  std::size_t pos_ = 0;
  std::size_t fieldStart_ = 0;
  std::string leftover_;
  FieldBytes fieldBytes_;                           // the '"' and '\' bytes of the current field
  std::uint8_t fieldFrontFlags_ = kSummaryUnknown;  // pairSummary of its first character
  std::string joined_;   // leftover_ and the range, when both are needed at once
  std::string scratch_;  // the cleaned field when clean-up had to copy it

  std::size_t windowBase_ = 0;   // text offset of the stop window's first byte
  std::size_t windowLimit_ = 0;  // its end (at most 64 bytes on); empty when equal to the base
  std::uint64_t windowField_ = 0;
  std::uint64_t windowQuoted_ = 0;
};

}  // namespace csv::detail
