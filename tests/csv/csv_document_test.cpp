#include "csv/csv_document.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>

#include "csv/csv_parser.hpp"
#include "csv/csv_writer.hpp"
#include "temp_folder.hpp"

namespace csv {
namespace {

using ::testing::ElementsAre;
using Rows = std::vector<std::vector<std::string>>;
using quorin::test::listFolder;
using quorin::test::readFile;
using quorin::test::TempFolder;
using quorin::test::writeFile;
using namespace std::string_literals;

// An error as "domain code: description".
std::string shown(const Error& e) {
  return e.domain + " " + std::to_string(e.code) + ": " + e.description.value_or("-");
}
const std::string kNotARow = "CSVErrorDomain 2: Invalid array structure";

ValueList rowsOf(const Rows& rows) {
  ValueList list;
  for (const auto& row : rows) list.emplace_back(ValueList(row.begin(), row.end()));
  return list;
}

// Driven by hand: the parser never ends a line without a field, but another sender may. Such a
// line is left out, and a failure keeps the lines before it.
TEST(AggregatorTest, KeepsLinesWithAFieldAndTheFailureWithTheLinesBeforeIt) {
  auto parser = CSVParser::withStream(InputStream::withData(""), kEncodingUTF8);
  CSVArrayAggregator aggregator;
  aggregator.didStartDocument(*parser, std::nullopt);
  for (std::uint32_t line = 1; line <= 3; ++line) {
    aggregator.didStartLine(*parser, line);
    if (line == 2) aggregator.didReadField(*parser, "x");
    if (line == 2) aggregator.didReadField(*parser, "");
    aggregator.didEndLine(*parser, line);
  }
  aggregator.didFailWithError(*parser, Error::csv(CSVErrorCodeCancelled, std::nullopt));
  EXPECT_EQ(aggregator.error().value_or(Error()).code, CSVErrorCodeCancelled);
  EXPECT_EQ(aggregator.takeLines(), (CSVLines{{"x", ""}}));
  EXPECT_FALSE(aggregator.lines().has_value());
}

TEST(ReadDocumentTest, FailuresGiveTheirErrorAndAnEmptyListOnlyForAnUnopenablePath) {
  TempFolder folder;
  const std::string later = "a,b\nc,d\n\"abc\"d\ne,f\n";
  // A byte that is never UTF-8, after enough text that a later read has to decode it.
  const std::string undecodable = std::string(5000, 'a') + "\n\xFF,b\n";
  Error e[4];
  EXPECT_EQ(withContentsOfCSVFile(folder / "no.csv", kEncodingNone, &e[0]), CSVLines());
  EXPECT_EQ(withContentsOfCSVString(later, kEncodingUTF8, &e[1]), std::nullopt);
  EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(undecodable), kEncodingUTF8, &e[2]),
            std::nullopt);
  EXPECT_EQ(withContentsOfCSVString("\xE6\x97\xA5,x\n", kEncodingMacOSRoman, &e[3]), std::nullopt);
  EXPECT_EQ(shown(e[0]), "CSVErrorDomain 1: Unable to open file for reading");
  EXPECT_EQ(shown(e[1]),
            "CSVErrorDomain 2: Invalid CSV format on line #3 immediately after \"\"abc\"\"");
  EXPECT_EQ(e[2].code, CSVErrorCodeInput);
  EXPECT_EQ(e[3].code, CSVErrorCodeInput);
  EXPECT_EQ(CSVComponents(later), std::nullopt);
  // A name with a NUL byte names no file, not the file named by its start.
  folder.write("victim", "a,b\n");
  Error nul;
  EXPECT_EQ(
      withContentsOfCSVFile(folder / "victim" + std::string(1, '\0') + ".csv", kEncodingNone, &nul),
      CSVLines());
  EXPECT_EQ(nul.code, CSVErrorCodeInput);
}

// One rule everywhere: a delimiter is one UTF-16 code unit that is no line break, quote, "#",
// backslash or U+FEFF, and joins no neighbour. Writer, parser and documents refuse the same texts,
// before anything is read or written.
TEST(DelimiterTest, EveryComponentRefusesTheSameDelimitersBeforeTouchingAnything) {
  TempFolder folder;
  const std::string path = folder.write("out.csv", "keep\n");
  for (const std::string& d :
       {""s,           ",,"s,     "\n"s,     "\r"s,       "\v"s,           "\f"s,     "\u0085"s,
        "\u2028"s,     "\u2029"s, "\""s,     "#"s,        "\\"s,           "ab"s,     "\u00E9,"s,
        "\U0001F600"s, "\xFF"s,   "\xC3"s,   "\xC0\xAC"s, "\xED\xA0\x80"s, "\u0301"s, "\u200D"s,
        "\u093E"s,     "\uFE0F"s, "\u0600"s, "\uFEFF"s,   "\u1100"s,       "\u11A8"s, "\uAC00"s,
        "\u00A9"s}) {
    SCOPED_TRACE(::testing::PrintToString(d));
    auto writer = CSVWriter::forWritingToString();
    auto parser = CSVParser::withCSVString("a", kEncodingUTF8);
    const std::function<void()> uses[] = {
        [&] { writer->setDelimiter(d); },
        [&] { parser->setDelimiter(d); },
        [&] { withContentsOfCSVString("a", kEncodingUTF8, d); },
        [&] { withContentsOfCSVFile(folder / "missing.csv", kEncodingNone, d); },
        [&] { CSVStringWithDelimiter(rowsOf({{"a"}}), d); },
        [&] { writeToCSVFile(rowsOf({{"a"}}), path, d, false); },
        [&] { writeToCSVFile(rowsOf({{"a"}}), path, d, true); },
    };
    for (const auto& use : uses) {
      try {
        use();
        ADD_FAILURE() << "accepted";
      } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), d + " cannot be used as a delimiter");
      }
    }
    EXPECT_EQ(writer->delimiter() + parser->delimiter(), ",,");
  }
  EXPECT_EQ(readFile(path), "keep\n");
  EXPECT_THAT(listFolder(folder.path), ElementsAre("out.csv"));
  // Every delimiter accepted separates fields whatever they hold beside it: an empty first
  // field, Hangul jamo and syllables, a joiner after a pictograph, regional indicators, a mark.
  for (char32_t c = 1; c < 0x10000; ++c) {
    const std::string d = c < 0x80    ? std::string(1, static_cast<char>(c))
                          : c < 0x800 ? std::string{static_cast<char>(0xC0 | (c >> 6)),
                                                    static_cast<char>(0x80 | (c & 0x3F))}
                                      : std::string{static_cast<char>(0xE0 | (c >> 12)),
                                                    static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                                                    static_cast<char>(0x80 | (c & 0x3F))};
    if ((c >= 0xD800 && c < 0xE000) || !isValidDelimiter(d)) continue;
    const Rows rows = {{"a", "b" + d + "c"},
                       {"", "\uAC00"},
                       {"\u1161b", "\u11A8"},
                       {"\uAC00", "\u1100"},
                       {"\U0001F600\u200D", "\U0001F1EB"},
                       {"\U0001F1F7", "e\u0301"}};
    const std::optional<std::string> text = CSVStringWithDelimiter(rowsOf(rows), d);
    if (withContentsOfCSVString(text.value_or(""), kEncodingUTF8, d) != rows) {
      ADD_FAILURE() << "delimiter U+" << std::hex << static_cast<unsigned>(c) << ":\n"
                    << text.value_or("<none>");
    }
  }
}

// A list with an element that is no row fails before the disk is touched.
TEST(WriteFileTest, NoRowLeavesTheDestination) {
  for (const bool atomic : {false, true}) {
    SCOPED_TRACE(atomic ? "atomic" : "direct");
    TempFolder folder;
    const std::string path = folder.write("out.csv", "keep,me\n");
    Error error;
    EXPECT_FALSE(writeToCSVFile(ValueList{ValueList{Value("a")}, Value("b"), ValueList{}}, path,
                                ";", atomic, &error));
    EXPECT_EQ(shown(error), kNotARow);
    EXPECT_FALSE(writeToCSVFile(ValueList{Value(1)}, folder / "new.csv", atomic));
    EXPECT_EQ(readFile(path), "keep,me\n");
    EXPECT_THAT(listFolder(folder.path), ElementsAre("out.csv"));
  }
}

// Round trip. Reading drops, by design, what the writer keeps:
//  1. White space and line breaks at both edges of a field, also inside quotes.
//  2. A row of no fields, written as an empty line, reads as one empty field when it is the
//     document's first line or its last; elsewhere the row disappears.
//  3. A Prepend character right before a quote or backslash, which would join it and hide it from
//     the tokenizer: the writer leaves it out and says so.
// Everything else comes back, a field that starts with a mark or ends with a Prepend included.
// The edge white space that the generated text holds (see randomRows).
const std::string kEdgeSpaces[] = {" ",        "\t",       "\n",           "\v",          "\r",
                                   "\xC2\xA0", "\xC2\x85", "\xE3\x80\x80", "\xE2\x80\xA8"};

std::string trimEdgeSpace(std::string text) {
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    for (const std::string& space : kEdgeSpaces) {
      for (; text.starts_with(space); trimmed = true) text.erase(0, space.size());
      for (; text.ends_with(space); trimmed = true) text.erase(text.size() - space.size());
    }
  }
  return text;
}

std::string withoutHidingPrepends(std::string text) {
  for (std::size_t at;
       (at = std::min(text.find("\u0600\""), text.find("\u0600\\"))) != std::string::npos;) {
    text.erase(at, 2);
  }
  return text;
}

CSVLines expectedRead(const Rows& rows) {
  CSVLines lines;
  bool pendingEmpty = false;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    pendingEmpty = rows[i].empty();
    if (pendingEmpty && i == 0) lines.push_back({""});
    if (pendingEmpty) continue;
    lines.emplace_back();
    for (const std::string& field : rows[i]) {
      lines.back().push_back(trimEdgeSpace(withoutHidingPrepends(field)));
    }
  }
  if (pendingEmpty && rows.size() > 1) lines.push_back({""});
  return lines;
}

// Rows of fields made of pieces: everything the writer must quote or escape, the comment mark,
// edge white space of several kinds, and text beyond ASCII (a combining mark also on its own).
Rows randomRows(std::mt19937& rng) {
  static const std::vector<std::string> pieces = [] {
    std::vector<std::string> out;
    std::istringstream all(
        "a|Zz|0|-12|,|;|\t|\"|\"\"|\\|\\\\|\\\"|\n|\r|\r\n|#| |  "
        "|\xC2\xA0|\xE3\x80\x80|\xE2\x80\xA8|"
        "\xC2\x85|\v|caf\xC3\xA9|e\xCC\x81|\xE6\x97\xA5\xE6\x9C\xAC|\xF0\x9F\x98\x80|"
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD|\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D|x,y|'|\xCC\x81x");
    for (std::string piece; std::getline(all, piece, '|');) out.push_back(piece);
    return out;
  }();
  auto upTo = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
  Rows rows(upTo(6));
  for (auto& row : rows) {
    row.resize(upTo(5));
    for (auto& field : row) {
      for (std::size_t n = upTo(4); n > 0; --n) {
        if (upTo(6) == 0) field += "\u0600";
        field += pieces[upTo(pieces.size() - 1)];
      }
      if (upTo(5) == 0) field += "\u0600";
    }
  }
  return rows;
}

TEST(RoundTripTest, ReadingWrittenRowsGivesThemBackButForTheDialectsEdgeRules) {
  for (const std::string delimiter : {",", ";", "\t"}) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
      std::mt19937 rng(seed);
      const Rows rows = randomRows(rng);
      Error left;
      const std::optional<std::string> text =
          CSVStringWithDelimiter(rowsOf(rows), delimiter, &left);
      bool hides = false;
      for (const auto& row : rows) {
        for (const std::string& field : row) hides |= withoutHidingPrepends(field) != field;
      }
      EXPECT_EQ(left.code, hides ? EILSEQ : 0);
      SCOPED_TRACE("seed " + std::to_string(seed) + " delimiter '" + delimiter + "'\n" +
                   ::testing::PrintToString(rows) + "\nwritten:\n" + text.value_or("<none>"));
      if (rows.empty()) {
        EXPECT_EQ(text, std::nullopt);
        continue;
      }
      ASSERT_TRUE(text.has_value());
      Error error;
      const auto read = withContentsOfCSVString(*text, kEncodingUTF8, delimiter, &error);
      ASSERT_TRUE(read.has_value()) << error.description.value_or("");
      EXPECT_EQ(*read, expectedRead(rows));
      if (delimiter == ",") {
        EXPECT_EQ(CSVComponents(*text), read);
      }
    }
  }
}

// Written to a file, atomically or not, as a list of values or as borrowed rows, over a longer old
// file, any document reads back from the file (its encoding detected) or a stream as its text
// does at that delimiter; an empty list leaves an empty file. The first two documents start with
// U+FEFF and NUL, which must not mislead the detection of the file's encoding.
TEST(RoundTripTest, FileWrittenAndReadGivesTheSameAsAString) {
  TempFolder folder;
  const std::string path = folder / "doc.csv";
  writeFile(path, std::string(10000, 'x'));
  std::mt19937 rng(7);
  // Where detection falls back on the locale's encoding (a first NUL byte would send it there),
  // that is ASCII, which the rest of the document would fail.
  ::setenv("LC_ALL", "C", 1);
  for (int i = 0; i < 50; ++i) {
    const ValueList list = rowsOf(i == 0   ? Rows{{"\uFEFFid", ""}, {""}, {"x"}}
                                  : i == 1 ? Rows{{std::string("\0\u00E9", 3), "b"}}
                                           : randomRows(rng));
    const std::string delimiter = i % 3 == 0 ? ";" : ",";
    std::vector<std::span<const Value>> spans;
    for (const Value& row : list) spans.emplace_back(row.list());
    Error left;  // a piece left out: the file holds the rest, and the write says so
    const std::string text = CSVStringWithDelimiter(list, delimiter, &left).value_or("");
    ASSERT_EQ(i % 4 < 2 ? writeToCSVFile(list, path, delimiter, i % 2 == 0)
                        : writeToCSVFile(spans, path, delimiter, i % 2 == 0),
              left.code == 0);
    EXPECT_EQ(readFile(path), text);
    const std::optional<CSVLines> read = withContentsOfCSVString(text, kEncodingUTF8, delimiter);
    StringEncoding used = kEncodingNone;
    EXPECT_EQ(withContentsOfCSVFile(path, &used, delimiter), read);
    EXPECT_EQ(withContentsOfCSVStream(InputStream::withData(text), &used, delimiter), read);
  }
  EXPECT_THAT(listFolder(folder.path), ElementsAre("doc.csv"));
}

}  // namespace
}  // namespace csv
