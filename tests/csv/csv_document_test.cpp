#include "csv/csv_document.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <ranges>
#include <sstream>
#include <stdexcept>

#include "csv/csv_parser.hpp"
#include "csv/diagnostic_log.hpp"

namespace csv {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> listFolder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "csv_document_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string operator/(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Keeps the encoding detector's notices out of the test output while a test runs.
class QuietLog {
 public:
  QuietLog() : previous_(setDiagnosticSink([](std::string_view) {})) {}
  ~QuietLog() { setDiagnosticSink(previous_); }

 private:
  DiagnosticSink previous_;
};

ValueList rowsOf(std::initializer_list<std::vector<std::string>> rows) {
  ValueList list;
  for (const auto& row : rows) list.emplace_back(ValueList(row.begin(), row.end()));
  return list;
}

// ---- the aggregator ----

// Drives an aggregator by hand; the parser is only the sender the callbacks name.
class AggregatorTest : public ::testing::Test {
 protected:
  std::unique_ptr<CSVParser> parser_ =
      CSVParser::withStream(InputStream::withData(""), kEncodingUTF8);
  CSVArrayAggregator aggregator_;
};

TEST_F(AggregatorTest, HasNoLinesBeforeTheDocumentStarts) {
  EXPECT_FALSE(aggregator_.lines().has_value());
  aggregator_.didStartDocument(*parser_, std::nullopt);
  ASSERT_TRUE(aggregator_.lines().has_value());
  EXPECT_TRUE(aggregator_.lines()->empty());
}

TEST_F(AggregatorTest, LeavesOutLinesWithoutAField) {
  aggregator_.didStartDocument(*parser_, std::nullopt);
  aggregator_.didStartLine(*parser_, 1);
  aggregator_.didEndLine(*parser_, 1);
  aggregator_.didStartLine(*parser_, 2);
  aggregator_.didReadField(*parser_, "x");
  aggregator_.didReadField(*parser_, "");
  aggregator_.didEndLine(*parser_, 2);
  aggregator_.didStartLine(*parser_, 3);
  aggregator_.didEndLine(*parser_, 3);
  aggregator_.didEndDocument(*parser_, std::nullopt);
  ASSERT_TRUE(aggregator_.lines().has_value());
  EXPECT_EQ(*aggregator_.lines(), (CSVLines{{"x", ""}}));
  EXPECT_FALSE(aggregator_.error().has_value());
}

TEST_F(AggregatorTest, KeepsTheReportedFailureAndTheLinesBeforeIt) {
  aggregator_.didStartDocument(*parser_, std::nullopt);
  aggregator_.didStartLine(*parser_, 1);
  aggregator_.didReadField(*parser_, "a");
  aggregator_.didEndLine(*parser_, 1);
  aggregator_.didFailWithError(*parser_, Error::csv(CSVErrorCodeCancelled, std::nullopt));
  ASSERT_TRUE(aggregator_.error().has_value());
  EXPECT_EQ(aggregator_.error()->code, CSVErrorCodeCancelled);
  EXPECT_EQ(aggregator_.takeLines(), (CSVLines{{"a"}}));
  EXPECT_FALSE(aggregator_.lines().has_value());
}

// ---- reading ----

TEST(ReadDocumentTest, ReadsEverySourceKindAlike) {
  TempFolder folder;
  const std::string text = "a,b\n\"c,d\",e\n#note\nf\n";
  writeFile(folder / "doc.csv", text);
  const CSVLines expected = {{"a", "b"}, {"c,d", "e"}, {"f"}};
  StringEncoding used = kEncodingUTF8;
  Error error;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), &used, &error), expected);
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), kEncodingUTF8), expected);
  EXPECT_EQ(withContentsOfCSVFile(folder / "doc.csv", &used), expected);
  EXPECT_EQ(withContentsOfCSVFile(folder / "doc.csv", kEncodingUTF8), expected);
  EXPECT_EQ(withContentsOfCSVString(text, kEncodingUTF8), expected);
  EXPECT_EQ(arrayWithContentsOfCSVStream(InputStream::withData(text), kEncodingUTF8), expected);
  EXPECT_EQ(arrayWithContentsOfCSVStream(InputStream::withData(text), &used), expected);
  EXPECT_EQ(arrayWithContentsOfCSVFile(folder / "doc.csv", kEncodingUTF8), expected);
  EXPECT_EQ(arrayWithContentsOfCSVFile(folder / "doc.csv", &used), expected);
  EXPECT_EQ(arrayWithContentsOfCSVString(text, kEncodingUTF8), expected);
  // Success stores nothing in the error place.
  EXPECT_EQ(error.code, 0);
}

TEST(ReadDocumentTest, SplitsAtTheGivenDelimiter) {
  TempFolder folder;
  const std::string text = "a;b,c\nd;\"e;f\"\n";
  writeFile(folder / "doc.csv", text);
  const CSVLines expected = {{"a", "b,c"}, {"d", "e;f"}};
  StringEncoding used = kEncodingNone;
  QuietLog quiet;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), &used, ";"), expected);
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), kEncodingNone, ";"), expected);
  EXPECT_EQ(withContentsOfCSVFile(folder / "doc.csv", &used, ";"), expected);
  EXPECT_EQ(withContentsOfCSVFile(folder / "doc.csv", kEncodingUTF8, ";"), expected);
  EXPECT_EQ(withContentsOfCSVString(text, kEncodingUTF8, ";"), expected);
  EXPECT_EQ(withContentsOfCSVString(text, kEncodingUTF8), (CSVLines{{"a;b", "c"}, {"d;\"e;f\""}}));
}

TEST(ReadDocumentTest, RefusedDelimiterThrows) {
  for (const char* delimiter : {"", ",,", "\n", "#", "\"", "\\"}) {
    SCOPED_TRACE(delimiter);
    EXPECT_THROW(withContentsOfCSVString("a", kEncodingUTF8, delimiter), std::invalid_argument);
    EXPECT_THROW(withContentsOfCSVStream(InputStream::withData("a"), kEncodingUTF8, delimiter),
                 std::invalid_argument);
  }
}

TEST(ReadDocumentTest, UnopenablePathGivesAnEmptyListAndErrorOne) {
  TempFolder folder;
  for (const std::string& path : {folder / "missing.csv", folder / "no/such/folder.csv"}) {
    Error error;
    StringEncoding used = kEncodingNone;
    const std::optional<CSVLines> lines = withContentsOfCSVFile(path, &used, &error);
    ASSERT_TRUE(lines.has_value()) << path;
    EXPECT_TRUE(lines->empty());
    EXPECT_EQ(error.domain, kCSVErrorDomain);
    EXPECT_EQ(error.code, CSVErrorCodeInput);
    EXPECT_EQ(error.description, "Unable to open file for reading");
    // Without an error place the result is the same.
    EXPECT_EQ(arrayWithContentsOfCSVFile(path, kEncodingNone), CSVLines());
  }
}

TEST(ReadDocumentTest, FailureOnALaterLineGivesNoListAndTheParsersError) {
  const std::string text = "a,b\nc,d\n\"abc\"d\ne,f\n";
  Error error;
  EXPECT_EQ(withContentsOfCSVString(text, kEncodingUTF8, &error), std::nullopt);
  EXPECT_EQ(error.domain, kCSVErrorDomain);
  EXPECT_EQ(error.code, CSVErrorCodeInvalidFormat);
  EXPECT_EQ(error.description, "Invalid CSV format on line #3 immediately after \"\"abc\"\"");
  // The same through a stream and with no error place.
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), kEncodingUTF8), std::nullopt);
}

TEST(ReadDocumentTest, UndecodableInputGivesNoList) {
  // A byte that is never UTF-8, after enough text that a later read has to decode it.
  std::string text(5000, 'a');
  text += "\n\xFF,b\n";
  Error error;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), kEncodingUTF8, &error),
            std::nullopt);
  EXPECT_EQ(error.code, CSVErrorCodeInput);
}

TEST(ReadDocumentTest, UsedEncodingPlaceReceivesTheDetectedCode) {
  QuietLog quiet;
  struct Case {
    std::string bytes;
    StringEncoding detected;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF"
       "a,\xC3\xA9\n",
       kEncodingUTF8},
      {std::string("\xFF\xFE"
                   "a\0,\0\xE9\0\n\0",
                   10),
       kEncodingUTF16LE},
      {std::string("\xFE\xFF\0a\0,\0\xE9\0\n", 10), kEncodingUTF16BE},
      {"a,\xC3\xA9\n", kEncodingUTF8},    // no mark, valid UTF-8
      {"a,\x8E\n", kEncodingMacOSRoman},  // no mark, not UTF-8: 0x8E is é in Mac OS Roman
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detected);
    StringEncoding used = kEncodingNone;
    EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(c.bytes), &used),
              (CSVLines{{"a", "é"}}));
    EXPECT_EQ(used, c.detected);
  }
}

TEST(ReadDocumentTest, UsedEncodingPlaceHoldingACodeKeepsItAndReadsInIt) {
  StringEncoding used = kEncodingUTF8;
  // Latin-1 bytes would make detection choose Mac OS Roman; the code given wins and the bytes
  // fail as UTF-8.
  Error error;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData("a,b\n\xE9\n"), &used, &error),
            std::nullopt);
  EXPECT_EQ(used, kEncodingUTF8);
  EXPECT_EQ(error.code, CSVErrorCodeInput);

  used = kEncodingUTF8;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData("x,\xC3\xA9\n"), &used),
            (CSVLines{{"x", "é"}}));
  EXPECT_EQ(used, kEncodingUTF8);

  // A UTF-16 source without a mark is only readable when its code is given.
  const std::string utf16(std::string("a\0,\0b\0", 6));
  used = kEncodingUTF16LE;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(utf16), &used), (CSVLines{{"a", "b"}}));
  EXPECT_EQ(used, kEncodingUTF16LE);
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(utf16), kEncodingUTF16LE),
            (CSVLines{{"a", "b"}}));
}

TEST(ReadDocumentTest, EmptySourceIsAnEmptyDocumentWithNoEncoding) {
  StringEncoding used = kEncodingNone;
  Error error;
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(""), &used, &error), CSVLines());
  EXPECT_EQ(used, kEncodingNone);
  EXPECT_EQ(error.code, 0);
}

TEST(ReadDocumentTest, StringIsReadInTheGivenEncoding) {
  const std::string text = "caf\xC3\xA9,\xE2\x82\xAC\n";  // café,€
  const CSVLines expected = {{"café", "€"}};
  for (StringEncoding encoding :
       {kEncodingNone, kEncodingUTF8, kEncodingUTF16LE, kEncodingUTF16BE, kEncodingUTF32LE}) {
    SCOPED_TRACE(encoding);
    EXPECT_EQ(withContentsOfCSVString(text, encoding), expected);
  }
  // A CJK character has no Mac OS Roman form.
  Error error;
  EXPECT_EQ(withContentsOfCSVString("\xE6\x97\xA5,x\n", kEncodingMacOSRoman, &error), std::nullopt);
  EXPECT_EQ(error.code, CSVErrorCodeInput);
}

TEST(ReadDocumentTest, StringWithoutACodeIsNotGuessedAt) {
  // A two-byte character across byte 2048: a detector looking at the first 2048 bytes would not
  // find UTF-8 there and choose Mac OS Roman.
  QuietLog quiet;
  const std::string text = std::string(2046, 'a') + ",\xC3\xA9\n";
  const std::optional<CSVLines> lines = withContentsOfCSVString(text, kEncodingNone);
  ASSERT_TRUE(lines.has_value());
  EXPECT_EQ(*lines, (CSVLines{{std::string(2046, 'a'), "é"}}));
}

TEST(CSVComponentsTest, EqualsAUTF8StreamRead) {
  for (const std::string text : {"x,y\nz", "x,y\nz\n", "", "\n", "a\n\nb\n", " \"q\" ,\t\"r\"\n",
                                 "caf\xC3\xA9,\xF0\x9F\x98\x80\n"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(CSVComponents(text),
              withContentsOfCSVStream(InputStream::withData(text), kEncodingUTF8));
  }
  EXPECT_EQ(CSVComponents("x,y\nz"), (CSVLines{{"x", "y"}, {"z"}}));
  EXPECT_EQ(CSVComponents("\"abc\"d\n"), std::nullopt);
}

// ---- writing a string ----

TEST(CSVStringTest, WritesEveryRowAsALine) {
  EXPECT_EQ(CSVString(rowsOf({{"a", "b,c"}, {"x"}})), "a,\"b,c\"\nx\n");
  EXPECT_EQ(CSVString(rowsOf({{}})), "\n");
  EXPECT_EQ(CSVString(ValueList{ValueList{Value(5), Value(-3), Value(true)}}), "5,-3,1\n");
  EXPECT_EQ(CSVStringWithDelimiter(rowsOf({{"a", "b,c", "d;e"}}), ";"), "a;b,c;\"d;e\"\n");
}

TEST(CSVStringTest, EmptyListGivesNoTextAndClearsTheErrorPlace) {
  Error error = Error::csv(99, "left over");
  EXPECT_EQ(CSVStringWithDelimiter(ValueList(), ",", &error), std::nullopt);
  EXPECT_EQ(error.code, 0);
  EXPECT_FALSE(error.description.has_value());
  EXPECT_EQ(CSVString(ValueList()), std::nullopt);
}

TEST(CSVStringTest, ElementThatIsNoRowIsRefused) {
  Error error;
  EXPECT_EQ(CSVStringWithDelimiter(ValueList{ValueList{Value("a")}, Value("b")}, ",", &error),
            std::nullopt);
  EXPECT_EQ(error.domain, kCSVErrorDomain);
  EXPECT_EQ(error.code, CSVErrorCodeInvalidFormat);
  EXPECT_EQ(error.description, "Invalid array structure");
  EXPECT_EQ(CSVString(ValueList{Value(1)}), std::nullopt);
}

TEST(CSVStringTest, RefusedDelimiterThrows) {
  EXPECT_THROW(CSVStringWithDelimiter(rowsOf({{"a"}}), "#"), std::invalid_argument);
  EXPECT_THROW(CSVStringWithDelimiter(rowsOf({{"a"}}), ""), std::invalid_argument);
}

// ---- writing a file ----

class WriteFileTest : public ::testing::TestWithParam<bool> {
 protected:
  bool atomic() const { return GetParam(); }
  TempFolder folder_;
};

INSTANTIATE_TEST_SUITE_P(AtomicOrNot, WriteFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Atomic" : "Direct";
                         });

TEST_P(WriteFileTest, WritesTheRowsAndReplacesAnOldFile) {
  const std::string path = folder_ / "out.csv";
  writeFile(path, "old content that is longer than the new\n");
  Error error;
  ASSERT_TRUE(writeToCSVFile(rowsOf({{"a", "b,c"}, {}, {"x"}}), path, atomic(), &error))
      << error.description.value_or("");
  EXPECT_EQ(readFile(path), "a,\"b,c\"\n\nx\n");
  EXPECT_THAT(listFolder(folder_.path()), ElementsAre("out.csv"));

  ASSERT_TRUE(writeToCSVFile(rowsOf({{"a", "b;c"}}), path, ";", atomic(), &error));
  EXPECT_EQ(readFile(path), "a;\"b;c\"\n");
}

TEST_P(WriteFileTest, EmptyListLeavesAnEmptyFile) {
  const std::string path = folder_ / "out.csv";
  writeFile(path, "old\n");
  EXPECT_TRUE(writeToCSVFile(ValueList(), path, atomic()));
  EXPECT_EQ(readFile(path), "");
}

TEST_P(WriteFileTest, ElementThatIsNoRowFailsBeforeTheDiskIsTouched) {
  const std::string path = folder_ / "out.csv";
  const std::string old = "keep,me\nexactly\n";
  writeFile(path, old);
  Error error;
  EXPECT_FALSE(writeToCSVFile(ValueList{ValueList{Value("a")}, Value("b"), ValueList{}}, path, ";",
                              atomic(), &error));
  EXPECT_EQ(error.domain, kCSVErrorDomain);
  EXPECT_EQ(error.code, CSVErrorCodeInvalidFormat);
  EXPECT_EQ(error.description, "Invalid array structure");
  EXPECT_EQ(readFile(path), old);
  EXPECT_THAT(listFolder(folder_.path()), ElementsAre("out.csv"));
  // Nor is a missing file created.
  EXPECT_FALSE(writeToCSVFile(ValueList{Value(1)}, folder_ / "new.csv", atomic()));
  EXPECT_FALSE(fs::exists(folder_ / "new.csv"));
}

TEST_P(WriteFileTest, RefusedDelimiterThrowsBeforeTheDiskIsTouched) {
  const std::string path = folder_ / "out.csv";
  writeFile(path, "keep\n");
  EXPECT_THROW(writeToCSVFile(rowsOf({{"a"}}), path, "\"", atomic()), std::invalid_argument);
  EXPECT_EQ(readFile(path), "keep\n");
  EXPECT_THAT(listFolder(folder_.path()), ElementsAre("out.csv"));
}

TEST_P(WriteFileTest, UncreatableFileFailsWithTheOSError) {
  Error error;
  EXPECT_FALSE(
      writeToCSVFile(rowsOf({{"a"}}), folder_ / "no/such/folder/out.csv", atomic(), &error));
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_THAT(error.description.value_or(""), HasSubstr(std::strerror(ENOENT)));
  // A folder in the destination's place is not a file.
  fs::create_directory(folder_ / "dir");
  writeFile(folder_ / "dir/inside", "x");
  EXPECT_FALSE(writeToCSVFile(rowsOf({{"a"}}), folder_ / "dir", atomic(), &error));
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(readFile(folder_ / "dir/inside"), "x");
}

// A document of about `bytes` bytes.
ValueList bigDocument(std::size_t bytes) {
  ValueList rows;
  const std::string field(99, 'x');
  for (std::size_t written = 0; written < bytes; written += 100)
    rows.emplace_back(ValueList{field});
  return rows;
}

// Lets files of this process grow to `limit` bytes only, so that a write beyond fails (EFBIG)
// instead of raising SIGXFSZ; restored on destruction.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit lowered = previous_;
    lowered.rlim_cur = limit;
    active_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  bool active() const { return active_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool active_ = false;
};

TEST_P(WriteFileTest, FailedWriteReturnsFalseWithTheOSError) {
  const std::string path = folder_ / "out.csv";
  const std::string old = "the old destination\n";
  writeFile(path, old);
  const ValueList rows = bigDocument(4 << 20);
  Error error;
  bool written = true;
  {
    FileSizeLimit limit(1 << 20);
    if (!limit.active()) GTEST_SKIP() << "cannot lower RLIMIT_FSIZE";
    written = writeToCSVFile(rows, path, atomic(), &error);
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(error.code, EFBIG);
  if (atomic()) {
    // The old destination survives whole, and no temporary file is left behind.
    EXPECT_EQ(readFile(path), old);
    EXPECT_THAT(listFolder(folder_.path()), ElementsAre("out.csv"));
  }
}

TEST(WriteFileDeviceTest, FullDeviceFailsWithTheOSError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Error error;
  EXPECT_FALSE(writeToCSVFile(rowsOf({{"a", "b"}}), "/dev/full", false, &error));
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(error.code, ENOSPC);
}

TEST(WriteFileTypedTest, TypedDocumentsWriteTheSameBytes) {
  TempFolder folder;
  const ValueList rows = rowsOf({{"a", "b,c"}, {}, {"#x", "y\"z"}});
  ASSERT_TRUE(writeToCSVFile(rows, folder / "list.csv", false));

  std::vector<ValueList> typed;
  for (const Value& row : rows) typed.push_back(row.list());
  ASSERT_TRUE(writeToCSVFile(typed, folder / "typed.csv", ",", true));
  EXPECT_EQ(readFile(folder / "typed.csv"), readFile(folder / "list.csv"));

  // A view that makes each row as it goes.
  auto made = std::views::iota(0, 3) |
              std::views::transform([&](int i) { return typed[static_cast<std::size_t>(i)]; });
  ASSERT_TRUE(writeToCSVFile(made, folder / "made.csv", ",", false));
  EXPECT_EQ(readFile(folder / "made.csv"), readFile(folder / "list.csv"));

  Error error;
  EXPECT_FALSE(writeToCSVFile(typed, folder / "none/x.csv", ",", false, &error));
  EXPECT_EQ(error.code, ENOENT);
}

// ---- round trip ----
//
// What the dialect gives back of written rows. Reading drops, by design, what the writer keeps:
//  1. White space and line breaks at both edges of a field (Unicode category Z, U+0009-U+000D,
//     U+0085), also inside quotes.
//  2. A row written as an empty line (no fields, or one empty field) reads as one empty field
//     when it is the document's first line or its last; anywhere else its line break is taken as
//     the start of the next line and the row disappears.
// Everything else comes back: quotes, backslashes, delimiters (also one that a field begins
// with), line breaks inside a field, "#", text beyond ASCII. The generated text holds no
// character that joins the character before it (a combining mark, a joiner) at the start of a
// field, and none that joins the character after it at its end: the parser reads whole
// user-perceived characters, and such a character fused with a delimiter or a quote hides it
// from the tokenizer.

bool isEdgeSpace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x2028 ||
         c == 0x2029 || c == 0x3000 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F;
}

// The code point that ends or starts `text` and its length in bytes (text is valid UTF-8).
std::pair<char32_t, std::size_t> firstCodePoint(std::string_view text) {
  const auto b = static_cast<unsigned char>(text[0]);
  const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  char32_t c = n == 1 ? b : b & (0xFF >> (n + 1));
  for (std::size_t i = 1; i < n; ++i) c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  return {c, n};
}

std::pair<char32_t, std::size_t> lastCodePoint(std::string_view text) {
  std::size_t start = text.size() - 1;
  while ((static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  return {firstCodePoint(text.substr(start)).first, text.size() - start};
}

std::string trimEdgeSpace(std::string_view text) {
  while (!text.empty() && isEdgeSpace(firstCodePoint(text).first)) {
    text.remove_prefix(firstCodePoint(text).second);
  }
  while (!text.empty() && isEdgeSpace(lastCodePoint(text).first)) {
    text.remove_suffix(lastCodePoint(text).second);
  }
  return std::string(text);
}

CSVLines expectedRead(const std::vector<std::vector<std::string>>& rows) {
  CSVLines lines;
  bool pendingEmpty = false;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    if (row.empty() || (row.size() == 1 && row[0].empty())) {
      if (i == 0) {
        lines.push_back({""});
      } else {
        pendingEmpty = true;
      }
      continue;
    }
    pendingEmpty = false;
    std::vector<std::string> line;
    for (const std::string& field : row) line.push_back(trimEdgeSpace(field));
    lines.push_back(std::move(line));
  }
  if (pendingEmpty) lines.push_back({""});
  return lines;
}

// Pieces of field text: everything the writer must quote or escape, the comment mark, edge
// white space of several kinds, and text beyond ASCII (combining marks only after a base).
const std::vector<std::string>& pieces() {
  static const std::vector<std::string> kPieces = {"a",
                                                   "Zz",
                                                   "0",
                                                   "-12",
                                                   ",",
                                                   ";",
                                                   "\t",
                                                   "\"",
                                                   "\"\"",
                                                   "\\",
                                                   "\\\\",
                                                   "\\\"",
                                                   "\n",
                                                   "\r",
                                                   "\r\n",
                                                   "#",
                                                   " ",
                                                   "  ",
                                                   "\xC2\xA0",
                                                   "\xE3\x80\x80",
                                                   "\xE2\x80\xA8",
                                                   "\xC2\x85",
                                                   "\v",
                                                   "caf\xC3\xA9",
                                                   "e\xCC\x81",
                                                   "\xE6\x97\xA5\xE6\x9C\xAC",
                                                   "\xF0\x9F\x98\x80",
                                                   "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
                                                   "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
                                                   "x,y",
                                                   "'"};
  return kPieces;
}

std::vector<std::vector<std::string>> randomRows(std::mt19937& rng) {
  const auto& p = pieces();
  std::uniform_int_distribution<std::size_t> rowCount(0, 6);
  std::uniform_int_distribution<std::size_t> fieldCount(0, 5);
  std::uniform_int_distribution<std::size_t> pieceCount(0, 4);
  std::uniform_int_distribution<std::size_t> piece(0, p.size() - 1);
  std::vector<std::vector<std::string>> rows(rowCount(rng));
  for (auto& row : rows) {
    row.resize(fieldCount(rng));
    for (auto& field : row) {
      for (std::size_t n = pieceCount(rng); n > 0; --n) field += p[piece(rng)];
    }
  }
  return rows;
}

std::string describe(const std::vector<std::vector<std::string>>& rows) {
  std::ostringstream out;
  for (const auto& row : rows) {
    out << "[";
    for (const auto& field : row) out << "{" << field << "}";
    out << "]\n";
  }
  return out.str();
}

TEST(RoundTripTest, ReadingWrittenRowsGivesThemBackButForTheDialectsEdgeRules) {
  for (const std::string delimiter : {",", ";", "\t"}) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
      std::mt19937 rng(seed);
      const auto rows = randomRows(rng);
      ValueList list;
      for (const auto& row : rows) list.emplace_back(ValueList(row.begin(), row.end()));
      const std::optional<std::string> text = CSVStringWithDelimiter(list, delimiter);
      if (rows.empty()) {
        EXPECT_EQ(text, std::nullopt);
        continue;
      }
      ASSERT_TRUE(text.has_value());
      Error error;
      const std::optional<CSVLines> read =
          withContentsOfCSVString(*text, kEncodingUTF8, delimiter, &error);
      ASSERT_TRUE(read.has_value())
          << "seed " << seed << ": " << error.description.value_or("") << "\n"
          << describe(rows) << "written:\n"
          << *text;
      EXPECT_EQ(*read, expectedRead(rows)) << "seed " << seed << " delimiter " << delimiter << "\n"
                                           << describe(rows) << "written:\n"
                                           << *text;
      if (delimiter == ",") {
        EXPECT_EQ(CSVComponents(*text), read);
      }
    }
  }
}

TEST(RoundTripTest, FileWrittenAndReadGivesTheSameAsAString) {
  TempFolder folder;
  std::mt19937 rng(7);
  for (int i = 0; i < 50; ++i) {
    const auto rows = randomRows(rng);
    ValueList list;
    for (const auto& row : rows) list.emplace_back(ValueList(row.begin(), row.end()));
    ASSERT_TRUE(writeToCSVFile(list, folder / "doc.csv", i % 2 == 0));
    StringEncoding used = kEncodingUTF8;
    EXPECT_EQ(withContentsOfCSVFile(folder / "doc.csv", &used),
              rows.empty() ? std::optional<CSVLines>(CSVLines()) : CSVComponents(*CSVString(list)))
        << describe(rows);
  }
}

}  // namespace
}  // namespace csv
