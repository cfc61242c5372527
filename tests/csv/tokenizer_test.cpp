// The dialect as the tokenizer reads it: every input is parsed whole, with chunk sizes from one
// byte up, one byte per read, and through the reference path without fast paths, and all must
// report the same calls.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "parser_core.hpp"
#include "parser_test_support.hpp"

namespace csv {
namespace {

using testing::parseEveryWay;
using testing::summarize;

struct DialectCase {
  const char* name;
  std::string input;
  std::string expected;  // summarize() form
  std::string delimiter = ",";
};

// Error 2's description for line n after the raw field text.
std::string malformed(int line, const std::string& field) {
  return "fail 2: Invalid CSV format on line #" + std::to_string(line) + " immediately after \"" +
         field + "\"";
}

const DialectCase kDialect[] = {
    {"NoFieldAfterFinalDelimiter", "a,", "1[a]"},
    {"BlankLineIsAbsorbed", "a\n\nb\n", "1[a] 2[b]"},
    {"BlankLineAtTheEnd", "a\n\n", "1[a] 2[]"},
    {"LineEndFirst", "\na\n", "1[] 2[a]"},
    {"OnlyDelimiters", ",,\n", "1[][][]"},
    {"EmptyInput", "", ""},
    // A line after, so that the fields are finished where more text follows too.
    {"WhitespaceIsTrimmed", "  a  ,\tb\t, c \n\td \ne", "1[a][b][c] 2[d] 3[e]"},
    {"UnicodeSpacesAreTrimmed", "\u00A0a\u3000,\u2003b\u202F\n", "1[a][b]"},
    {"InnerSpacesStay", "a b , c  d\n", "1[a b][c  d]"},
    {"WhitespaceOnlyLine", "a\n  \nb\n", "1[a] 2[] 3[b]"},
    {"TabDelimiter", "a\tb\t c\n", "1[a][b][c]", "\t"},
    {"SpaceDelimiter", "a b  c\n", "1[a][b][][c]", " "},
    {"CJKDelimiter", "\u6771\u3001\u4EAC\n", "1[\u6771][\u4EAC]", "\u3001"},
    // Line ends (each one alone: LineEndScanTest).
    {"CRLFIsOneLineEnd", "a,b\r\nc\r\n", "1[a][b] 2[c]"},
    // The CR after LF ends a second line, which is blank at the end of the input.
    {"LFCRIsTwoLineEnds", "a\n\r", "1[a] 2[]"},
    // Comments.
    {"CommentLineIsSkipped", "#note\na\n", "1[a]"},
    {"HashStartsOnlyLines", "a,#b\n#c\n", "1[a][#b]"},
    {"QuoteThenLineEndInComment", "#x\"\na\n", "1[a]"},
    {"QuotedTextInComment", "#say \"hi\"\n", malformed(0, "")},
    {"MalformedCommentQuotesNewlinesBefore", "a\n#say \"hi\"\n", "1[a] " + malformed(1, "\n")},
    {"EscapedQuoteInComment", "#say \\\"hi\n", ""},
    {"HashWithMarkIsNoComment", "#\u0301,x\n", "1[#\u0301][x]"},
    {"BlankLineAfterCommentsStartsALine", "a\r\n#x\r\n#y\u2028#z\n\n#say \"hi\"\n",
     "1[a] 2[#say \"hi\"]"},
    {"CommentRunQuotedByMalformedComment", "a\r\n#x\r\n#y\u2028#z\v#say \"hi\"\n",
     "1[a] " + malformed(1, "\r\n\r\n\u2028\v")},
    {"LineNumbersCountOnlyLinesBegun", "#c\na\n\nb\n#d\n\"c\nd\"\n", "1[a] 2[b] 3[c\nd]"},
    // Blank lines: the line end after the first starts the next field, which trims them.
    {"BlankLinesBeforeQuotedField", "a\n\n\n\"b,c\"\n", "1[a] 2[b,c]"},
    {"BlankLinesBeforeDelimiter", "a\r\n\r\n\r\n,b\n", "1[a] 2[][b]"},
    {"BlankLinesAtTheEnd", "a\n\n\n\n", "1[a] 2[]"},
    {"BlankLinesQuotedByMalformedField", "a\r\n\r\n\n\u2028\r\u0085\"b\"x\n",
     "1[a] 2[b] " + malformed(2, "\r\n\n\u2028\r\u0085\"b\"")},
    // Quotes.
    {"DelimiterInQuotes", "\"x,y\"\n", "1[x,y]"},
    {"LineFeedInQuotes", "\"a\nb\"\n", "1[a\nb]"},
    {"DoubledQuote", "\"a\"\"b\"\n", "1[a\"b]"},
    {"EmptyQuoted", "\"\"\n", "1[]"},
    {"CharacterAfterClosingQuote", "\"abc\"d\n", "1[abc] " + malformed(1, "\"abc\"")},
    {"SpaceAfterClosingQuote", "\"abc\" ,d\n", "1[abc] " + malformed(1, "\"abc\"")},
    {"SpaceBeforeOpeningQuote", " \"abc\"\n", "1[\"abc\"]"},
    {"QuotedFieldKeepsLeadingDelimiter", "\",a\"\n", "1[,a]"},
    {"QuotedFieldOfDelimiterOnly", "x,\",\"\n", "1[x][,]"},
    {"UnclosedQuoteAcrossLines", "\"a,b\nc", "1[\"a,b\nc]"},
    {"LoneQuoteAtTheEnd", "a,\"", "1[a][\"]"},
    {"QuoteInsideUnquotedField", "ab\"c,d\"e\n", "1[ab\"c,d\"] " + malformed(1, "ab\"c,d\"")},
    {"SpacesInsideQuotesAreTrimmed", "\" a \",b\n", "1[a][b]"},
    {"QuoteWithMark", "\"\u0301a\"\n", "1[\u0301a]"},
    // The closing quote's cluster holds the mark, so the field no longer ends with a quote.
    {"ClosingQuoteWithMarkThenText", "\"a\"\u0301b\n",
     "1[\"a\"\u0301] " + malformed(1, "\"a\"\u0301")},
    {"QuotedThenCRLF", "\"a\"\r\n\"b\"", "1[a] 2[b]"},
    // Read in small chunks, the quotes of the second field are met by both the slow and the
    // fast path; the doubled one must still be found.
    {"DoubledQuoteSeenByBothPaths", "\"x,y\",]b\"m\n\"\"m\nl", "1[x,y][]b\"m\n\"m\nl]"},
    // Backslashes.
    {"EscapedDelimiter", "a\\,b\n", "1[a,b]"},
    {"EscapedBackslash", "a\\\\b\n", "1[a\\b]"},
    {"EscapedBackslashThenDelimiter", "a\\\\,b\n", "1[a\\][b]"},
    {"EscapedLineFeed", "a\\\nb\n", "1[a\nb]"},
    {"EscapedQuoteOpensNothing", "\\\"x,y\n", "1[\"x][y]"},
    {"EscapedQuoteInsideQuotes", "\"a\\\"b\"\n", "1[a\"b]"},
    {"BackslashAtTheEnd", "a\\", "1[a]"},
    {"EscapedMultiByteCharacter", "\\\u00E9x\n", "1[\u00E9x]"},
    // Grapheme clusters decide where structural characters are: a mark after a delimiter is part
    // of the delimiter's cluster; a Prepend character (U+0600) takes the character after it in.
    {"MarkAfterDelimiterBelongsToIt", "a,\u0301b\n", "1[a][b]"},
    {"MarkAfterDelimiterBeforeLineEnd", "a,\u0301\n", "1[a][\u0301]"},
    {"PrependSwallowsDelimiterInField", "a\u0600,b,c\n", "1[a\u0600,b][c]"},
    {"PrependSwallowsQuoteInField", "a\u0600\"b,c\n", "1[a\u0600\"b][c]"},
    {"PrependSwallowsQuoteInComment", "#\u0600\"x\na\n", "1[a]"},
    {"PrependSwallowsBackslash", "a\u0600\\,b\n", "1[a\u0600][b]"},
    {"PrependDoesNotSwallowLineEnd", "a\u0600\nb\n", "1[a\u0600] 2[b]"},
    {"PrependAtFieldStart", "x,\u0600,y\n", "1[x][\u0600,y]"},
    {"EmojiSequences", "\U0001F469\u200D\U0001F469\u200D\U0001F467,\U0001F1EB\U0001F1F7\n",
     "1[\U0001F469\u200D\U0001F469\u200D\U0001F467][\U0001F1EB\U0001F1F7]"},
    {"KeycapAtFieldStart", "1\uFE0F\u20E3,x\n", "1[1\uFE0F\u20E3][x]"},
};
TEST(DialectTest, ReportsTheSameLinesAndFieldsEveryWay) {
  for (const DialectCase& c : kDialect) {
    EXPECT_EQ(summarize(parseEveryWay(c.input, kEncodingUTF8, c.delimiter)), c.expected) << c.name;
  }
}

// Each line end after a run of ordinary text in an unquoted field, a quoted field and a comment,
// with its first byte at each edge of the classifiers' 16-, 32- and 64-byte blocks (the run
// starts at offset 1) and the next line after it: a classifier that missed it would skip on into
// that line, one that stopped inside quotes would split the field.
TEST(LineEndScanTest, EveryLineEndStopsEveryClassifierAtEveryBlockEdge) {
  for (const std::string end : {"\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029"}) {
    for (const std::size_t length :
         {0u, 1u, 14u, 15u, 16u, 30u, 31u, 32u, 61u, 62u, 63u, 64u, 79u, 127u}) {
      const std::string run(length, 'x');
      const std::string rest = "b,c" + end;
      SCOPED_TRACE(::testing::PrintToString(end) + " after " + std::to_string(length) + " bytes");
      EXPECT_EQ(summarize(parseEveryWay("a" + run + end + rest, kEncodingUTF8)),
                "1[a" + run + "] 2[b][c]");
      EXPECT_EQ(summarize(parseEveryWay("\"" + run + end + "y\"," + rest, kEncodingUTF8)),
                "1[" + (length == 0 ? "" : run + end) + "y][b][c]");  // no newline first
      EXPECT_EQ(summarize(parseEveryWay("#" + run + end + rest, kEncodingUTF8)), "1[b][c]");
    }
  }
}

// Each callback cancels the parse: the current character is finished, nothing after it is read.
TEST(CancelTest, FromEachCallbackStopsWithCodeThree) {
  const std::string line1 = "start|line 1|[a]|[b]|end line 1|";
  // {the event after which cancelParsing() is called ("": before parse), the events, the input}
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"", "start|fail 3", "a,b\nc,d\n"},
      {"start", "start|fail 3", "a,b\nc,d\n"},
      {"line 2", line1 + "line 2|fail 3", "a,b\nc,d\n"},
      {"[a]", "start|line 1|[a]|fail 3", "a,b\nc,d\n"},
      // The field ended by a line end: the end of that line is still reported.
      {"[b]", line1 + "fail 3", "a,b\nc,d\n"},
      {"end line 1", line1 + "fail 3", "a,b\nc,d\n"},
      {"end", line1 + "line 2|[c]|[d]|end line 2|end", "a,b\nc,d\n"},
      // The cancelled state still runs the rest of that character: its line end ends the line.
      {"line 1", "start|line 1|[]|end line 1|fail 3", "\na\n"},
      // The last field comes from the end-of-input finishing; cancelling there skips the line end.
      {"[b]", "start|line 1|[a]|[b]|fail 3", "a,b"},
  };
  for (const auto& [cancelAfter, expected, input] : cases) {
    for (const std::uint32_t chunk : {1u, 2048u}) {
      for (const bool fast : {true, false}) {
        SCOPED_TRACE(cancelAfter + ", chunk " + std::to_string(chunk) + (fast ? ", fast" : ""));
        auto parser = CSVParser::withCSVString(input, kEncodingUTF8);
        parser->setChunkSize(chunk);
        detail::setFastPathsEnabled(*parser, fast);
        testing::RecordingDelegate delegate;
        delegate.afterEvent = [&, &at = cancelAfter](CSVParser& p, const std::string& event) {
          if (event == at) p.cancelParsing();
        };
        parser->setParserDelegate(&delegate);
        if (cancelAfter.empty()) parser->cancelParsing();
        parser->parse();
        std::string events;
        for (const std::string& e : delegate.events) events += (events.empty() ? "" : "|") + e;
        EXPECT_EQ(events, expected);
        EXPECT_EQ(parser->error().value_or(Error()).code, CSVErrorCodeCancelled);
      }
    }
  }
  // A failure already found is not hidden by a cancellation while its line is finished or while
  // it is reported: a malformed field (2), undecodable bytes (1).
  for (const auto& [input, at, code] :
       {std::tuple{"\"a\"b\nc\n", "end line 1", 2L}, std::tuple{"a\nb\xFF", "end line 2", 1L},
        std::tuple{"\"a\"b\nc\n",
                   "fail 2: Invalid CSV format on line #1 immediately after \"\"a\"\"", 2L}}) {
    SCOPED_TRACE(at);
    auto parser = CSVParser::withStream(InputStream::withData(input), kEncodingUTF8);
    testing::RecordingDelegate delegate;
    delegate.afterEvent = [&, &at = at](CSVParser& p, const std::string& event) {
      if (event == at) p.cancelParsing();
    };
    parser->setParserDelegate(&delegate);
    parser->parse();
    EXPECT_TRUE(delegate.events.back().starts_with("fail " + std::to_string(code)))
        << delegate.events.back();
    EXPECT_EQ(parser->error().value_or(Error()).code, code);
  }
}

TEST(DelimiterTest, RefusedWhileParsingAndAllowedAfter) {
  auto parser = CSVParser::withCSVString("a,b\n", kEncodingUTF8);
  testing::RecordingDelegate delegate;
  delegate.afterEvent = [](CSVParser& p, const std::string& event) {
    EXPECT_THROW(p.setDelimiter(";"), std::invalid_argument) << event;
  };
  parser->setParserDelegate(&delegate);
  parser->parse();
  EXPECT_EQ(summarize(delegate.events), "1[a][b]");
  parser->setDelimiter(";");
  EXPECT_EQ(parser->delimiter(), ";");
}

// A parse without a delegate still reads to the end; a second parse starts where the first
// stopped.
TEST(ParseTest, WithoutDelegateAndAgain) {
  auto parser = CSVParser::withCSVString("\"a\"b", kEncodingUTF8);
  parser->parse();
  ASSERT_TRUE(parser->error());
  EXPECT_EQ(parser->error()->code, CSVErrorCodeInvalidFormat);
  parser = CSVParser::withCSVString("a\n", kEncodingUTF8);
  testing::RecordingDelegate delegate;
  parser->setParserDelegate(&delegate);
  parser->parse();
  parser->parse();
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"start", "line 1", "[a]", "end line 1",
                                                       "end", "start", "end"}));
}

// A callback's exception (here, from parsing again inside the parse) reaches the caller and ends
// the parse, from the last callback too: a later parse() reports it and hands out none of the text
// in flight again.
TEST(ParseTest, ACallbacksExceptionEndsTheParse) {
  for (const std::string throwsAt : {"[b]", "end"}) {
    for (const std::uint32_t chunk : {1u, 2048u}) {
      for (const bool fast : {true, false}) {
        auto parser = CSVParser::withCSVString("a,b\n", kEncodingUTF8);
        parser->setChunkSize(chunk);
        detail::setFastPathsEnabled(*parser, fast);
        testing::RecordingDelegate delegate;
        delegate.afterEvent = [&](CSVParser& p, const std::string& event) {
          if (event == throwsAt) p.parse();
        };
        parser->setParserDelegate(&delegate);
        EXPECT_THROW(parser->parse(), std::invalid_argument);
        delegate.afterEvent = nullptr;
        delegate.events.clear();
        parser->parse();
        EXPECT_EQ(delegate.events, (std::vector<std::string>{
                                       "start", "fail 3: A delegate callback threw an exception"}))
            << throwsAt;
        EXPECT_TRUE(parser->error() && parser->error()->exception);
      }
    }
  }
}

TEST(ParseTest, LongFieldsAndLinesCrossEveryBufferBoundary) {
  std::string input;
  std::string expected;
  for (int line = 1; line <= 40; ++line) {
    const std::string field(static_cast<std::size_t>(line * 97),
                            static_cast<char>('a' + line % 26));
    input += field + ",\"" + field + "\"\"x\"\r\n";
    expected += (line > 1 ? " " : "") + std::to_string(line) + "[" + field + "][" + field + "\"x]";
  }
  EXPECT_EQ(summarize(parseEveryWay(input, kEncodingUTF8)), expected);
}

// Runs of blank lines and of comment lines longer than a chunk, in each line end style: the
// fields after them, and the raw text that an error quotes, must not depend on where the runs
// are cut.
TEST(ParseTest, LongRunsOfBlankAndCommentLinesCrossEveryBufferBoundary) {
  for (const std::string end : {"\n", "\r\n", "\u2028", "\r\n\n"}) {
    SCOPED_TRACE(::testing::PrintToString(end));
    std::string blanks;
    for (int i = 0; i < 1500; ++i) blanks += end;
    // The first line end finishes line 1; the next field begins with the rest.
    const std::string rest = blanks.substr(end == "\r\n\n" ? 2 : end.size());
    EXPECT_EQ(summarize(parseEveryWay("a" + blanks + "\"b,c\"\n", kEncodingUTF8)), "1[a] 2[b,c]");
    EXPECT_EQ(summarize(parseEveryWay("a" + blanks + "b,c", kEncodingUTF8)), "1[a] 2[b][c]");
    EXPECT_EQ(summarize(parseEveryWay("a" + blanks, kEncodingUTF8)), "1[a] 2[]");
    EXPECT_EQ(summarize(parseEveryWay("a" + blanks + "\"b\"x", kEncodingUTF8)),
              "1[a] 2[b] " + malformed(2, rest + "\"b\""));
    if (end == "\r\n\n") continue;  // two line ends: a blank line after each comment
    std::string comments;
    for (int i = 0; i < 1500; ++i) comments += "#" + std::to_string(i) + end;
    EXPECT_EQ(summarize(parseEveryWay("a" + end + comments + "b\n", kEncodingUTF8)), "1[a] 2[b]");
    // A comment quotes the line ends since the last field: line 1's and each comment's.
    EXPECT_EQ(summarize(parseEveryWay("a" + end + comments + "#\"x\"y", kEncodingUTF8)),
              "1[a] " + malformed(1, end + blanks));
  }
}

}  // namespace
}  // namespace csv
