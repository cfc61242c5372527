// CSVParser's input side: construction, encodings and their marks, detection, read and
// decoding failures, and the bounded read-ahead.
#include "csv/csv_parser.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "csv/diagnostic_log.hpp"
#include "parser_test_support.hpp"
#include "temp_folder.hpp"

namespace csv {
namespace {

using testing::parseEveryWay;
using testing::RecordingDelegate;
using testing::ScriptedStream;
using testing::summarize;

// Detection writes its notices to the diagnostic log; standard error stays quiet.
const DiagnosticSink kQuiet = setDiagnosticSink([](std::string_view) {});

// Parses with a recording delegate; returns the summarized events.
std::string parseSummary(CSVParser& parser, std::optional<std::string>* csvFile = nullptr) {
  RecordingDelegate delegate;
  parser.setParserDelegate(&delegate);
  parser.parse();
  if (csvFile != nullptr) *csvFile = delegate.lastCsvFile;
  return summarize(delegate.events);
}

const std::string kUndecodable =
    "fail 1: unable to interpret current chunk as a string, caused by: ";

// `text` as UTF-16 or UTF-32 code units in the given byte order.
template <class Char>
std::string bytesOf(const std::basic_string<Char>& text, bool bigEndian) {
  std::string out;
  for (const Char unit : text) {
    for (std::size_t k = 0; k < sizeof(Char); ++k) {
      const std::size_t shift = 8 * (bigEndian ? sizeof(Char) - 1 - k : k);
      out.push_back(static_cast<char>((static_cast<std::uint32_t>(unit) >> shift) & 0xFF));
    }
  }
  return out;
}

// Characters of one to four UTF-8 bytes and a cluster of three code points, which every way of
// feeding the parser cuts at every byte.
const char kText[] = "\u00E9,\u20AC\U0001F600\u0915\u094D\u0937\n\"a\nb\"";
const char16_t kText16[] = u"\u00E9,\u20AC\U0001F600\u0915\u094D\u0937\n\"a\nb\"";
const char32_t kText32[] = U"\u00E9,\u20AC\U0001F600\u0915\u094D\u0937\n\"a\nb\"";

TEST(EncodingTest, MarkIsDetectedAndDroppedAndAGivenEncodingReadsTheBytesAsTheyAre) {
  const std::string fields = "[\u20AC\U0001F600\u0915\u094D\u0937] 2[a\nb]";
  // {encoding, its mark, kText in it}
  const std::tuple<StringEncoding, std::string, std::string> cases[] = {
      {kEncodingUTF8, "\xEF\xBB\xBF", kText},
      {kEncodingUTF16BE, "\xFE\xFF", bytesOf<char16_t>(kText16, true)},
      {kEncodingUTF16LE, "\xFF\xFE", bytesOf<char16_t>(kText16, false)},
      {kEncodingUTF32BE, std::string("\x00\x00\xFE\xFF", 4), bytesOf<char32_t>(kText32, true)},
      {kEncodingUTF32LE, std::string("\xFF\xFE\x00\x00", 4), bytesOf<char32_t>(kText32, false)},
  };
  for (const auto& [encoding, mark, body] : cases) {
    SCOPED_TRACE("encoding " + std::to_string(encoding));
    for (const StringEncoding given : {kEncodingNone, encoding}) {
      StringEncoding used = given;
      ASSERT_TRUE(CSVParser::withStream(InputStream::withData(mark + body), &used));
      EXPECT_EQ(used, encoding);
    }
    EXPECT_EQ(summarize(parseEveryWay(mark + body, kEncodingNone)), "1[\u00E9]" + fields);
    EXPECT_EQ(summarize(parseEveryWay(body, encoding)), "1[\u00E9]" + fields);
    // With the encoding given, a mark is text: U+FEFF, which is no white space.
    EXPECT_EQ(summarize(parseEveryWay(mark + body, encoding)), "1[\uFEFF\u00E9]" + fields);
  }
}

// What each source reads as and the encoding settled on: decoded, detected without a mark, or
// failing after the text before the bad bytes (short sources: the tool's tests). The stream returns
// one byte per read, so the detection sample is put together from many reads.
TEST(EncodingTest, SourcesReadAsTheirEncoding) {
  const std::string head(2047, 'a');
  const std::tuple<std::string, StringEncoding, StringEncoding, std::string> cases[] = {
      {"a,b", 12345, 12345, kUndecodable + "encoding 12345 is not supported"},
      // Windows-1255 holds a letter back in case a mark follows; the end hands it out.
      {"\xE0,\xE1", 0x80000505, 0x80000505, "1[\u05D0][\u05D1]"},
      {"", 12345, 12345, ""},
      // A sequence cut by the end of a full sample is completed by the bytes after it.
      {head + "\u00E9,b\n", 0, kEncodingUTF8, "1[" + head + "\u00E9][b]"},
      // A source that ends inside a sequence is not UTF-8; nor is its last byte lost.
      {head.substr(1) + "\xC3", 0, kEncodingMacOSRoman, "1[" + head.substr(1) + "\u221A]"},
      {head + "\xC3", 0, kEncodingUTF8,
       "1[" + head + "] " + kUndecodable +
           "the input ends inside a UTF-8 sequence that starts at byte 2047 (0xC3)"},
      // FF FE 00: UTF-16 with one byte left, which can never decode.
      {std::string("\xFF\xFE\x00", 3), 0, kEncodingUTF16LE,
       kUndecodable +
           "the input ends inside a UTF-16 little-endian sequence that starts at byte 2 (0x00)"},
      {"a,b\nc,d\xFF"
       "e,f\n",
       kEncodingUTF8, kEncodingUTF8,
       "1[a][b] 2[c][d] " + kUndecodable + "byte 7 (0xFF) is not valid UTF-8"},
  };
  for (const auto& [bytes, given, used, read] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 40)));
    StringEncoding place = given;
    ASSERT_TRUE(CSVParser::withStream(std::make_unique<ScriptedStream>(bytes, 1), &place));
    EXPECT_EQ(place, used);
    EXPECT_EQ(summarize(parseEveryWay(bytes, given)), read);
  }
}

TEST(EncodingTest, SystemEncodingFollowsTheLocale) {
  const char* saved = std::getenv("LC_ALL");
  const std::string previous = saved != nullptr ? saved : "";
  // A locale that is not installed still names its character set.
  for (const auto& [locale, encoding] : {std::pair{"C", kEncodingASCII},
                                         {"C.UTF-8", kEncodingUTF8},
                                         {"xx_XX.ISO-8859-15", 0x8000020Fu}}) {
    setenv("LC_ALL", locale, 1);
    EXPECT_EQ(systemStringEncoding(), encoding) << locale;
  }
  saved != nullptr ? setenv("LC_ALL", previous.c_str(), 1) : unsetenv("LC_ALL");
}

// Marks cut short and bytes that only resemble a mark (whole marks: the tests above).
TEST(DetectionTest, MarksAndTheirLookalikes) {
  const StringEncoding system = systemStringEncoding();
  const std::pair<std::string, StringEncoding> cases[] = {
      {"", kEncodingNone},  // an empty source has no encoding
      {std::string("\x00\x41", 2), system},
      {std::string("\x00\x00\xFE", 3), system},
      {"\xEF\xBB\xBF", kEncodingUTF8},
      {"\xEF\xBB\x41", system},
      {"\xEF\xBC\x88", kEncodingUTF8},  // U+FF08, as the writer writes it
      {"\xFE\xFF", kEncodingUTF16BE},
      {"\xFE\x41", system},
      // FF FE 00 00 is tested before FF FE: it is UTF-32, not UTF-16 beginning with U+0000.
      {std::string("\xFF\xFE\x00\x00", 4), kEncodingUTF32LE},
      {std::string("\xFF\xFE\x00\x41", 4), kEncodingUTF16LE},
      {"\xFF\x41", system},
      {"\xFF", system},
  };
  for (const auto& [sample, expected] : cases) {
    StringEncoding used = kEncodingNone;
    ASSERT_TRUE(CSVParser::withStream(InputStream::withData(sample), &used));
    EXPECT_EQ(used, expected) << ::testing::PrintToString(sample);
  }
}

// The text before the failure is reported, then error 1 (the exception kept when one was thrown).
TEST(ReadFailureTest, TextBeforeTheFailureIsReported) {
  using Failure = ScriptedStream::Failure;
  const std::string kReadError =
      "fail 1: Unable to read from input stream, caused by: scripted: Input/output error";
  // {failure, index of the failing read (4 bytes per read), what is read}
  const std::tuple<Failure, std::size_t, std::string> cases[] = {
      {Failure::kNegative, 2, "1[a][b] 2[c][de] " + kReadError},
      {Failure::kThrow, 2, "1[a][b] 2[c][de] fail 1: the disk caught fire"},
      {Failure::kThrowNonStd, 2, "1[a][b] 2[c][de] fail 1: Unable to read from input stream"},
      {Failure::kNegative, 0, kReadError},
  };
  for (const auto& [failure, failAt, expected] : cases) {
    for (const StringEncoding encoding : {kEncodingUTF8, kEncodingNone}) {
      SCOPED_TRACE(expected + (encoding == kEncodingNone ? ", detected" : ""));
      StringEncoding used = encoding;
      auto parser = CSVParser::withStream(
          std::make_unique<ScriptedStream>("a,b\nc,def,g\n", 4, failure, failAt), &used);
      ASSERT_TRUE(parser);
      if (failAt == 0) {
        EXPECT_EQ(used, encoding);  // a failed first read detects nothing
      }
      EXPECT_EQ(parseSummary(*parser), expected);
      ASSERT_TRUE(parser->error());
      EXPECT_EQ(parser->error()->code, CSVErrorCodeInput);
      EXPECT_EQ(parser->error()->exception != nullptr, failure != Failure::kNegative);
    }
  }
}

// A file's path is reported with the document; one that cannot be opened gives error 1 with the
// system's reason under it.
TEST(ConstructionTest, FilesAreNamedInTheCallbacksOrReportedWhenTheyCannotBeOpened) {
  quorin::test::TempFolder folder;
  const std::string path = folder.write("input.csv", "a,b\n");
  auto parser = CSVParser::withContentsOfCSVFile(path, kEncodingUTF8);
  ASSERT_TRUE(parser);
  std::optional<std::string> reported;
  EXPECT_EQ(parseSummary(*parser, &reported), "1[a][b]");
  EXPECT_EQ(reported, path);
  for (const auto& [missing, code] :
       {std::pair{folder / "none.csv", ENOENT}, {folder.path.string(), EISDIR}}) {
    Error error;
    EXPECT_FALSE(CSVParser::withContentsOfCSVFile(missing, kEncodingNone, &error));
    EXPECT_EQ(error.code, CSVErrorCodeInput);
    ASSERT_TRUE(error.underlying);
    EXPECT_EQ(error.underlying->domain, kPOSIXErrorDomain);
    EXPECT_EQ(error.underlying->code, code);
  }
}

// The parser owns its stream: closed when the stream refuses to open or the parser goes (a
// stream that throws then ends nothing).
TEST(ConstructionTest, StreamIsClosedOnRefusalAndOnDestruction) {
  for (const auto failure : {ScriptedStream::Failure::kNone, ScriptedStream::Failure::kRefuseToOpen,
                             ScriptedStream::Failure::kThrowOnClose}) {
    bool closed = false;
    auto stream = std::make_unique<ScriptedStream>("a", SIZE_MAX, failure);
    stream->closedFlag = &closed;
    ScriptedStream* raw = stream.get();
    auto parser = CSVParser::withStream(std::move(stream), kEncodingUTF8);
    EXPECT_EQ(parser == nullptr, failure == ScriptedStream::Failure::kRefuseToOpen);
    if (parser) {
      EXPECT_TRUE(raw->asked.empty());  // a given encoding reads nothing before parse
      EXPECT_FALSE(closed);
      parser.reset();
    }
    EXPECT_TRUE(closed);
  }
  Error error;
  EXPECT_FALSE(CSVParser::withStream(nullptr, kEncodingNone, &error));
  EXPECT_EQ(error.code, CSVErrorCodeInput);
}

// A string is text, converted to the encoding and read back in it, never guessed at: a
// character across byte 2048 would make a detector looking at the first 2048 bytes choose Mac OS
// Roman. (A character the encoding lacks: the document tests.)
TEST(ConstructionTest, StringSources) {
  for (const StringEncoding encoding : {kEncodingNone, kEncodingUTF16BE, kEncodingMacOSRoman}) {
    auto parser = CSVParser::withCSVString("\u00E9,b\n\"c,d\"", encoding);
    ASSERT_TRUE(parser) << encoding;
    EXPECT_EQ(parser->fileEncoding(), encoding == kEncodingNone ? kEncodingUTF8 : encoding);
    EXPECT_FALSE(parser->csvFile());
    EXPECT_EQ(parseSummary(*parser), "1[\u00E9][b] 2[c,d]") << encoding;
  }
  const std::string head(2046, 'a');
  EXPECT_EQ(parseSummary(*CSVParser::withCSVString(head + ",\u00E9\n", kEncodingNone)),
            "1[" + head + "][\u00E9]");
  for (const auto& [text, encoding] : {std::pair{"a\xFF", kEncodingUTF8}, {"a", 12345u}}) {
    Error error;
    EXPECT_FALSE(CSVParser::withCSVString(text, encoding, &error)) << encoding;
    EXPECT_EQ(error.code, CSVErrorCodeInput);
  }
}

// Read-ahead stays a few chunks however long the input is: text is released once handed out.
// Each read asks for one chunk.
TEST(ReadAheadTest, StaysBoundedOverALongInput) {
  // Lines "row<n>,<padding>\n"; the stream counts what it has handed out.
  std::string input;
  for (std::size_t n = 0; n < 200000; ++n) {
    input += "row" + std::to_string(n) + "," + std::string(40, 'p') + "\n";
  }
  struct Watcher : RecordingDelegate {
    void didEndLine(CSVParser&, std::uint32_t line) override {
      consumed += 3 + std::to_string(line - 1).size() + 42;
      maxAhead = std::max(maxAhead, stream->delivered - consumed);
      lines = line;
    }
    void didReadField(CSVParser&, std::string) override {}
    ScriptedStream* stream = nullptr;
    std::size_t consumed = 0;
    std::size_t maxAhead = 0;
    std::uint32_t lines = 0;
  } watcher;
  auto stream = std::make_unique<ScriptedStream>(std::move(input));
  watcher.stream = stream.get();
  auto parser = CSVParser::withStream(std::move(stream), kEncodingUTF8);
  EXPECT_THROW(parser->setChunkSize(0), std::invalid_argument);
  parser->setChunkSize(1000);
  parser->setParserDelegate(&watcher);
  parser->parse();
  EXPECT_EQ(watcher.lines, 200000u);
  EXPECT_FALSE(parser->error());
  EXPECT_LE(watcher.maxAhead, 16u * 1000u + 64u);
  EXPECT_EQ(watcher.stream->asked, std::vector<std::size_t>(watcher.stream->asked.size(), 1000));
}

}  // namespace
}  // namespace csv
