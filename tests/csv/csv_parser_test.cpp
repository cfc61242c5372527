// CSVParser's input side: construction, encodings and their marks, detection, read and decoding
// failures, and the bounded read-ahead.
#include "csv/csv_parser.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "diagnostic_capture.hpp"
#include "parser_test_support.hpp"
#include "temp_folder.hpp"

namespace csv {
namespace {

using testing::CaseName;
using testing::parseEveryWay;
using testing::RecordingDelegate;
using testing::ScriptedStream;
using testing::summarize;
using DiagnosticCapture = quorin::test::DiagnosticCapture;

// Parses with a recording delegate; returns the summarized events.
std::string parseSummary(CSVParser& parser, std::optional<std::string>* csvFile = nullptr) {
  RecordingDelegate delegate;
  parser.setParserDelegate(&delegate);
  parser.parse();
  if (csvFile != nullptr) *csvFile = delegate.lastCsvFile;
  return summarize(delegate.events);
}

const char kUndecodable[] = "fail 1: unable to interpret current chunk as a string, caused by: ";

// Detection writes its notices to the diagnostic log; the tests that look at them capture them,
// the others keep standard error quiet.
class QuietDiagnostics : public ::testing::Environment {
 public:
  void SetUp() override {
    setDiagnosticSink([](std::string_view) {});
  }
  void TearDown() override { setDiagnosticSink({}); }
};
const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new QuietDiagnostics);

std::string utf16(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (const char16_t unit : text) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

std::string utf32(const std::u32string& text, bool bigEndian) {
  std::string out;
  for (const char32_t cp : text) {
    for (int k = 0; k < 4; ++k) {
      const int shift = 8 * (bigEndian ? 3 - k : k);
      out.push_back(static_cast<char>((cp >> shift) & 0xFF));
    }
  }
  return out;
}

// --- Encodings, with and without their marks ---

struct EncodingCase {
  const char* name;
  StringEncoding encoding;
  std::string mark;
  std::string body;  // "é,€😀\n\"a\nb\"" in that encoding
};

const std::u16string kText16 = u"\u00E9,\u20AC\U0001F600\n\"a\nb\"";
const std::u32string kText32 = U"\u00E9,\u20AC\U0001F600\n\"a\nb\"";
const char kExpected[] = "1[\u00E9][\u20AC\U0001F600] 2[a\nb]";

class EncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingTest, MarkIsDetectedAndDropped) {
  const EncodingCase& c = GetParam();
  DiagnosticCapture log;
  StringEncoding used = kEncodingNone;
  auto parser = CSVParser::withStream(InputStream::withData(c.mark + c.body), &used);
  ASSERT_TRUE(parser);
  EXPECT_EQ(used, c.encoding);
  EXPECT_EQ(parser->fileEncoding(), c.encoding);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(summarize(parseEveryWay(c.mark + c.body, kEncodingNone)), kExpected);
}

TEST_P(EncodingTest, GivenEncodingReadsTheBytesAsTheyAre) {
  const EncodingCase& c = GetParam();
  StringEncoding used = c.encoding;
  auto parser = CSVParser::withStream(InputStream::withData(c.body), &used);
  ASSERT_TRUE(parser);
  EXPECT_EQ(used, c.encoding);
  EXPECT_EQ(summarize(parseEveryWay(c.body, c.encoding)), kExpected);
  // With the encoding given, a mark is text: U+FEFF, which is no white space.
  EXPECT_EQ(summarize(parseEveryWay(c.mark + c.body, c.encoding)),
            "1[\uFEFF\u00E9][\u20AC\U0001F600] 2[a\nb]");
}

const EncodingCase kEncodings[] = {
    {"UTF8", kEncodingUTF8, "\xEF\xBB\xBF", "\u00E9,\u20AC\U0001F600\n\"a\nb\""},
    {"UTF16BigEndian", kEncodingUTF16BE, "\xFE\xFF", utf16(kText16, true)},
    {"UTF16LittleEndian", kEncodingUTF16LE, "\xFF\xFE", utf16(kText16, false)},
    {"UTF32BigEndian", kEncodingUTF32BE, std::string("\x00\x00\xFE\xFF", 4), utf32(kText32, true)},
    {"UTF32LittleEndian", kEncodingUTF32LE, std::string("\xFF\xFE\x00\x00", 4),
     utf32(kText32, false)},
};
INSTANTIATE_TEST_SUITE_P(All, EncodingTest, ::testing::ValuesIn(kEncodings), CaseName());

TEST(EncodingTest, UnmarkedSampleIsUTF8OrMacOSRomanAndSaysSo) {
  for (const auto& [sample, encoding, name, text] :
       {std::tuple{"caf\x8E,\xA5\n", kEncodingMacOSRoman, "MacOSRoman", "1[caf\u00E9][\u2022]"},
        std::tuple{"caf\u00E9,\u2022\n", kEncodingUTF8, "UTF8", "1[caf\u00E9][\u2022]"}}) {
    DiagnosticCapture log;
    StringEncoding used = kEncodingNone;
    CSVParser::withStream(InputStream::withData(sample), &used);
    EXPECT_EQ(used, encoding);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             std::string("unable to determine file encoding; assuming ") + name});
    EXPECT_EQ(summarize(parseEveryWay(sample, kEncodingNone)), text);
  }
}

TEST(EncodingTest, SystemEncodingAndLatin1AreDecoded) {
  EXPECT_EQ(summarize(parseEveryWay("caf\xE9,\xA7\n", kEncodingISOLatin1)), "1[caf\u00E9][\u00A7]");
  EXPECT_EQ(summarize(parseEveryWay("abc,d\n", systemStringEncoding())), "1[abc][d]");
  EXPECT_EQ(summarize(parseEveryWay("\x8E", kEncodingMacOSRoman)), "1[\u00E9]");
}

TEST(EncodingTest, SystemEncodingFollowsTheLocale) {
  const char* saved = std::getenv("LC_ALL");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(systemStringEncoding(), kEncodingASCII);
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(systemStringEncoding(), kEncodingUTF8);
  // A locale that is not installed still names its character set.
  setenv("LC_ALL", "xx_XX.ISO-8859-15", 1);
  EXPECT_EQ(systemStringEncoding(), 0x8000020Fu);
  if (saved != nullptr) {
    setenv("LC_ALL", previous.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(EncodingTest, UnsupportedEncodingFailsAtTheFirstByte) {
  EXPECT_EQ(summarize(parseEveryWay("a,b", 12345)),
            std::string(kUndecodable) + "encoding 12345 is not supported");
  EXPECT_EQ(summarize(parseEveryWay("", 12345)), "");
}

// Multi-byte sequences cut by every read boundary decode whole; parseEveryWay feeds one byte
// per read and chunks of every small size.
TEST(EncodingTest, SequencesSplitAcrossReads) {
  const std::string text = "\u00E9\u20AC\U0001F600,\u0915\u094D\u0937\n";
  const std::string expected = "1[\u00E9\u20AC\U0001F600][\u0915\u094D\u0937]";
  EXPECT_EQ(summarize(parseEveryWay(text, kEncodingUTF8)), expected);
  const std::u16string text16 = u"\u00E9\u20AC\U0001F600,\u0915\u094D\u0937\n";
  EXPECT_EQ(summarize(parseEveryWay(utf16(text16, true), kEncodingUTF16BE)), expected);
  EXPECT_EQ(summarize(parseEveryWay(utf16(text16, false), kEncodingUTF16LE)), expected);
  const std::u32string text32 = U"\u00E9\u20AC\U0001F600,\u0915\u094D\u0937\n";
  EXPECT_EQ(summarize(parseEveryWay(utf32(text32, false), kEncodingUTF32LE)), expected);
}

// --- Detection of byte-order marks ---

struct DetectionCase {
  const char* name;
  std::string sample;
  StringEncoding expected;  // 0 here: the system encoding
};

class DetectionTest : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(DetectionTest, MarkAndEncoding) {
  const DetectionCase& c = GetParam();
  DiagnosticCapture log;
  StringEncoding used = kEncodingNone;
  auto parser = CSVParser::withStream(InputStream::withData(c.sample), &used);
  ASSERT_TRUE(parser);
  const StringEncoding expected = c.expected == 0 ? systemStringEncoding() : c.expected;
  EXPECT_EQ(used, expected);
  EXPECT_TRUE(log.lines.empty()) << log.lines.front();
}

const DetectionCase kDetections[] = {
    {"UTF32BigEndianMark", std::string("\x00\x00\xFE\xFF\x00\x00\x00\x41", 8), kEncodingUTF32BE},
    {"ZeroWithoutMark", std::string("\x00\x41", 2), 0},
    {"ZeroWithShortMark", std::string("\x00\x00\xFE", 3), 0},
    {"UTF8Mark", "\xEF\xBB\xBF\x41", kEncodingUTF8},
    {"UTF8MarkAlone", "\xEF\xBB\xBF", kEncodingUTF8},
    {"EFWithoutMark", "\xEF\xBB\x41", 0},
    {"UTF16BigEndianMark", "\xFE\xFF", kEncodingUTF16BE},
    {"FEWithoutMark", "\xFE\x41", 0},
    // FF FE 00 00 is tested before FF FE: it is UTF-32, not UTF-16 beginning with U+0000.
    {"UTF32LittleEndianMark", std::string("\xFF\xFE\x00\x00", 4), kEncodingUTF32LE},
    {"UTF16LittleEndianMark", std::string("\xFF\xFE\x41\x00", 4), kEncodingUTF16LE},
    {"UTF16LittleEndianShort", std::string("\xFF\xFE\x00", 3), kEncodingUTF16LE},
    {"UTF16LittleEndianThenU4100", std::string("\xFF\xFE\x00\x41", 4), kEncodingUTF16LE},
    {"FFWithoutMark", "\xFF\x41", 0},
    {"FFAlone", "\xFF", 0},
};
INSTANTIATE_TEST_SUITE_P(Marks, DetectionTest, ::testing::ValuesIn(kDetections), CaseName());

TEST(DetectionTest, MarkBytesNeverReachTheText) {
  // FF FE 00: UTF-16 with one byte left, which can never decode.
  EXPECT_EQ(summarize(parseEveryWay(std::string("\xFF\xFE\x00", 3), kEncodingNone)),
            std::string(kUndecodable) +
                "the input ends inside a UTF-16 little-endian sequence that starts at byte 2 "
                "(0x00)");
}

// The sample is the first 2048 bytes, however the stream splits them. A multi-byte sequence
// cut by the end of a full sample does not make the source Mac OS Roman.
TEST(DetectionTest, SequenceCutByTheEndOfAFullSampleIsUTF8) {
  const std::string head(2047, 'a');
  for (const std::size_t perRead : {std::size_t{1}, std::size_t{1000}, SIZE_MAX}) {
    DiagnosticCapture log;
    StringEncoding used = kEncodingNone;
    auto parser = CSVParser::withStream(
        std::make_unique<ScriptedStream>(head + "\u00E9,b\n", perRead), &used);
    EXPECT_EQ(used, kEncodingUTF8) << perRead;
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"unable to determine file encoding; assuming UTF8"});
  }
  EXPECT_EQ(summarize(parseEveryWay(head + "\u00E9,b\n", kEncodingNone)),
            "1[" + head + "\u00E9][b]");
}

TEST(DetectionTest, SourceEndingInsideASequence) {
  const std::string head(2047, 'a');
  // The source ends inside the sequence within the sample: its bytes are not UTF-8.
  StringEncoding used = kEncodingNone;
  CSVParser::withStream(InputStream::withData(head.substr(1) + "\xC3"), &used);
  EXPECT_EQ(used, kEncodingMacOSRoman);
  // A full sample cut inside a sequence is UTF-8; the source then ends too early to decode.
  EXPECT_EQ(summarize(parseEveryWay(head + "\xC3", kEncodingNone)),
            "1[" + head + "] " + kUndecodable +
                "the input ends inside a UTF-8 sequence that starts at byte 2047 (0xC3)");
}

// --- Failures ---

TEST(FailureTest, InvalidByteReportsEverythingBeforeIt) {
  EXPECT_EQ(summarize(parseEveryWay("a,b\nc,d\xFF"
                                    "e,f\n",
                                    kEncodingUTF8)),
            std::string("1[a][b] 2[c][d] ") + kUndecodable + "byte 7 (0xFF) is not valid UTF-8");
  EXPECT_EQ(summarize(parseEveryWay("\"a\xED\xA0\x80", kEncodingUTF8)),
            std::string("1[\"a] ") + kUndecodable + "byte 2 (0xED) is not valid UTF-8");
  const std::string loneSurrogate = utf16(u"a,", false) + std::string("\x00\xDC", 2);
  EXPECT_EQ(
      summarize(parseEveryWay(loneSurrogate, kEncodingUTF16LE)),
      std::string("1[a] ") + kUndecodable + "byte 4 (0x00) is not valid UTF-16 little-endian");
}

TEST(FailureTest, IncompleteSequenceAtTheEndIsAnError) {
  EXPECT_EQ(summarize(parseEveryWay("a,\xE2\x82", kEncodingUTF8)),
            std::string("1[a] ") + kUndecodable +
                "the input ends inside a UTF-8 sequence that starts at byte 2 (0xE2)");
  EXPECT_EQ(summarize(parseEveryWay(std::string("\x00\x61\x00", 3), kEncodingUTF16BE)),
            std::string("1[a] ") + kUndecodable +
                "the input ends inside a UTF-16 big-endian sequence that starts at byte 2 (0x00)");
  EXPECT_EQ(summarize(parseEveryWay(std::string("\x3D\xD8", 2), kEncodingUTF16LE)),
            std::string(kUndecodable) +
                "the input ends inside a UTF-16 little-endian sequence that starts at byte 0 "
                "(0x3D)");
}

struct ReadFailureCase {
  const char* name;
  ScriptedStream::Failure failure;
  std::size_t failAt;  // index of the failing read (4 bytes per read)
  std::string expected;
};

class ReadFailureTest : public ::testing::TestWithParam<ReadFailureCase> {};

TEST_P(ReadFailureTest, TextBeforeTheFailureIsReported) {
  const ReadFailureCase& c = GetParam();
  for (const StringEncoding encoding : {kEncodingUTF8, kEncodingNone}) {
    auto stream = std::make_unique<ScriptedStream>("a,b\nc,def,g\n", 4);
    stream->failAtRead(c.failAt, c.failure);
    StringEncoding used = encoding;
    auto parser = CSVParser::withStream(std::move(stream), &used);
    ASSERT_TRUE(parser);
    if (c.failAt == 0) {
      EXPECT_EQ(used, encoding);  // a failed first read detects nothing
    }
    EXPECT_EQ(parseSummary(*parser), c.expected);
    ASSERT_TRUE(parser->error());
    EXPECT_EQ(parser->error()->code, CSVErrorCodeInput);
    EXPECT_EQ(parser->error()->exception != nullptr,
              c.failure != ScriptedStream::Failure::kNegative);
  }
}

const std::string kReadError =
    "fail 1: Unable to read from input stream, caused by: scripted: Input/output error";
const ReadFailureCase kReadFailures[] = {
    {"NegativeCount", ScriptedStream::Failure::kNegative, 2, "1[a][b] 2[c][de] " + kReadError},
    {"Exception", ScriptedStream::Failure::kThrow, 2,
     "1[a][b] 2[c][de] fail 1: the disk caught fire"},
    {"OtherException", ScriptedStream::Failure::kThrowNonStd, 2,
     "1[a][b] 2[c][de] fail 1: Unable to read from input stream"},
    {"NegativeFirstRead", ScriptedStream::Failure::kNegative, 0, kReadError},
};
INSTANTIATE_TEST_SUITE_P(Kinds, ReadFailureTest, ::testing::ValuesIn(kReadFailures), CaseName());

// --- Construction ---

// A file's path is reported with the document; one that cannot be opened gives error 1 with the
// system's reason under it.
TEST(ConstructionTest, FilesAreNamedInTheCallbacksOrReportedWhenTheyCannotBeOpened) {
  quorin::test::TempFolder folder;
  const std::string path = folder.write("input.csv",
                                        "\xEF\xBB\xBF"
                                        "a,b\n");
  StringEncoding used = kEncodingNone;
  auto parser = CSVParser::withContentsOfCSVFile(path, &used);
  ASSERT_TRUE(parser);
  EXPECT_EQ(used, kEncodingUTF8);
  std::optional<std::string> reported;
  EXPECT_EQ(parseSummary(*parser, &reported), "1[a][b]");
  EXPECT_EQ(reported, path);
  for (const std::string& missing : {folder / "none.csv", folder.path.string()}) {
    Error error;
    EXPECT_FALSE(CSVParser::withContentsOfCSVFile(missing, &used, &error));
    EXPECT_EQ(error.code, CSVErrorCodeInput);
    EXPECT_EQ(error.description, "Unable to open file for reading");
    ASSERT_TRUE(error.underlying);
    EXPECT_EQ(error.underlying->domain, kPOSIXErrorDomain);
  }
}

TEST(ConstructionTest, StreamIsClosedOnRefusalAndOnDestruction) {
  bool closed = false;
  auto stream = std::make_unique<ScriptedStream>("a");
  stream->closedFlag = &closed;
  ScriptedStream* raw = stream.get();
  auto parser = CSVParser::withStream(std::move(stream), kEncodingUTF8);
  EXPECT_TRUE(raw->asked.empty());  // a given encoding reads nothing before parse
  EXPECT_FALSE(closed);
  parser.reset();
  EXPECT_TRUE(closed);

  closed = false;
  auto refusing = std::make_unique<ScriptedStream>("a");
  refusing->refuseToOpen();
  refusing->closedFlag = &closed;
  Error error;
  EXPECT_FALSE(CSVParser::withStream(std::move(refusing), kEncodingNone, &error));
  EXPECT_EQ(error.description, "Unable to open file for reading");
  EXPECT_TRUE(closed);
  EXPECT_FALSE(CSVParser::withStream(nullptr, kEncodingNone, &error));
}

TEST(ConstructionTest, StringSources) {
  for (const StringEncoding encoding :
       {kEncodingNone, kEncodingUTF8, kEncodingUTF16BE, kEncodingUTF16LE, kEncodingUTF32LE,
        kEncodingMacOSRoman, kEncodingISOLatin1}) {
    auto parser = CSVParser::withCSVString("\u00E9,b\n\"c,d\"", encoding);
    ASSERT_TRUE(parser) << encoding;
    EXPECT_EQ(parser->fileEncoding(), encoding == kEncodingNone ? kEncodingUTF8 : encoding);
    EXPECT_FALSE(parser->csvFile());
    EXPECT_EQ(parseSummary(*parser), "1[\u00E9][b] 2[c,d]") << encoding;
  }
}

TEST(ConstructionTest, StringThatCannotBeRepresented) {
  struct Case {
    std::string text;
    StringEncoding encoding;
    std::string description;
  };
  const Case cases[] = {
      {"caf\u00E9", kEncodingASCII,
       "Unable to convert the string: the character U+00E9 cannot be represented in ASCII"},
      {"\u20AC", kEncodingISOLatin1,
       "Unable to convert the string: the character U+20AC cannot be represented in ISO Latin 1"},
      {"\U0001F600", kEncodingMacOSRoman,
       "Unable to convert the string: the character U+1F600 cannot be represented in Mac OS "
       "Roman"},
      {"a\xFF", kEncodingUTF8, "Unable to convert the string: the text is not valid UTF-8"},
      {"a", 12345, "Unable to convert the string: encoding 12345 is not supported"},
  };
  for (const Case& c : cases) {
    Error error;
    EXPECT_FALSE(CSVParser::withCSVString(c.text, c.encoding, &error));
    EXPECT_EQ(error.code, CSVErrorCodeInput);
    EXPECT_EQ(error.description, c.description);
  }
}

// --- Chunk size and read-ahead ---

TEST(ChunkSizeTest, ReadsAskForOneChunk) {
  auto stream = std::make_unique<ScriptedStream>("a,b\nc,d\n");
  ScriptedStream* raw = stream.get();
  auto parser = CSVParser::withStream(std::move(stream), kEncodingUTF8);
  parser->setChunkSize(3);
  EXPECT_THROW(parser->setChunkSize(0), std::invalid_argument);
  parser->parse();
  EXPECT_EQ(raw->asked, (std::vector<std::size_t>(raw->asked.size(), 3)));
}

TEST(ChunkSizeTest, DetectionReadsOneSampleOf2048Bytes) {
  auto stream = std::make_unique<ScriptedStream>(std::string(5000, 'x'), 700);
  ScriptedStream* raw = stream.get();
  auto parser = CSVParser::withStream(std::move(stream), kEncodingNone);
  EXPECT_EQ(raw->delivered, 2048u);
  EXPECT_EQ(raw->asked, (std::vector<std::size_t>{2048, 1348, 648}));
}

// Read-ahead stays a few chunks however long the input is: text is released once handed out.
TEST(ReadAheadTest, StaysBoundedOverALongInput) {
  // Lines "row<n>,<padding>\n"; the stream counts what it has handed out.
  const auto lineLength = [](std::size_t n) { return 3 + std::to_string(n).size() + 42; };
  std::string input;
  for (std::size_t n = 0; n < 200000; ++n) {
    input += "row" + std::to_string(n) + "," + std::string(40, 'p') + "\n";
  }
  class Watcher : public RecordingDelegate {
   public:
    void didEndLine(CSVParser&, std::uint32_t line) override {
      consumed += lineLength(line - 1);
      maxAhead = std::max(maxAhead, stream->delivered - consumed);
      lines = line;
    }
    void didReadField(CSVParser&, std::string) override {}
    explicit Watcher(std::function<std::size_t(std::size_t)> length)
        : lineLength(std::move(length)) {}
    std::function<std::size_t(std::size_t)> lineLength;
    ScriptedStream* stream = nullptr;
    std::size_t consumed = 0;
    std::size_t maxAhead = 0;
    std::uint32_t lines = 0;
  };
  auto stream = std::make_unique<ScriptedStream>(std::move(input));
  Watcher watcher(lineLength);
  watcher.stream = stream.get();
  auto parser = CSVParser::withStream(std::move(stream), kEncodingUTF8);
  parser->setParserDelegate(&watcher);
  parser->parse();
  EXPECT_EQ(watcher.lines, 200000u);
  EXPECT_FALSE(parser->error());
  EXPECT_LE(watcher.maxAhead, 16u * 2048u + 64u);
}

}  // namespace
}  // namespace csv
