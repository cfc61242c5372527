// Whole CSV documents in one call: read a stream, a file or a string into a list of lines, and
// write a list of rows into a file or a string.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_parser_delegate.hpp"
#include "csv/csv_writer.hpp"
#include "csv/error.hpp"
#include "csv/input_stream.hpp"
#include "csv/string_encoding.hpp"
#include "csv/text_rules.hpp"
#include "csv/value.hpp"

namespace csv {

// A read document: its lines in order, each the (at least one) cleaned fields of that line.
using CSVLines = std::vector<std::vector<std::string>>;

// Collects what a parser reports into a list of lines. Lines without a field are left out.
// Serves one parse; all of its state lives in the object.
class CSVArrayAggregator : public CSVParserDelegate {
 public:
  // Every completed line that held a field; nullopt until the document starts.
  const std::optional<CSVLines>& lines() const { return lines_; }
  // The failure the parser reported; nullopt when there was none.
  const std::optional<Error>& error() const { return error_; }
  // Hands the collected lines over to the caller, leaving none behind.
  std::optional<CSVLines> takeLines();

  // The protocol: a new list at the document's start, a new line at each line's start, fields
  // appended, a line with fields kept at its end, a failure recorded.
  void didFailWithError(CSVParser& parser, const Error& error) override;
  void didEndDocument(CSVParser& parser, const std::optional<std::string>& csvFile) override;
  void didReadField(CSVParser& parser, std::string field) override;
  void didEndLine(CSVParser& parser, std::uint32_t line) override;
  void didStartLine(CSVParser& parser, std::uint32_t line) override;
  void didStartDocument(CSVParser& parser, const std::optional<std::string>& csvFile) override;

 private:
  std::optional<CSVLines> lines_;
  std::optional<std::vector<std::string>> currentLine_;
  std::optional<Error> error_;
  std::size_t lastWidth_ = 0;  // fields of the previous line, to size the next one
};

// Reading. Each reader parses the whole source before it returns and gives:
//  - the lines, when the parse succeeded;
//  - nullopt, with the parser's error in *error, when the parse failed (earlier lines dropped);
//  - an empty list, with error code 1 in *error, when the source could not be opened.
// An encoding place (StringEncoding*) is used when it holds a non-zero code, asks for detection
// when it holds 0 (or is null), and receives the code used. An encoding value is used as given,
// 0 asking for detection. The delimiter is "," unless given; a refused delimiter throws
// std::invalid_argument. `error` may be null: nothing is stored then.

// Reads `stream` (the designated reader).
std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding* usedEncoding,
                                                std::string_view delimiter, Error* error = nullptr);
// Reads `stream` with the delimiter ",".
std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding* usedEncoding,
                                                Error* error = nullptr);
// Reads `stream` in `encoding` (0 = detect).
std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding encoding, std::string_view delimiter,
                                                Error* error = nullptr);
// Reads `stream` in `encoding` (0 = detect) with the delimiter ",".
std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding encoding, Error* error = nullptr);
// Reads the file at `path`.
std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding* usedEncoding,
                                              std::string_view delimiter, Error* error = nullptr);
// Reads the file at `path` with the delimiter ",".
std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding* usedEncoding,
                                              Error* error = nullptr);
// Reads the file at `path` in `encoding` (0 = detect).
std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                              std::string_view delimiter, Error* error = nullptr);
// Reads the file at `path` in `encoding` (0 = detect) with the delimiter ",".
std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                              Error* error = nullptr);
// Reads UTF-8 `text` as bytes in `encoding` (0 = UTF-8); nullopt with error code 1 when the text
// cannot be represented in that encoding.
std::optional<CSVLines> withContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                std::string_view delimiter, Error* error = nullptr);
// As above with the delimiter ",".
std::optional<CSVLines> withContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                Error* error = nullptr);

// The class-level constructors: the same readers, always with the delimiter ",".
std::optional<CSVLines> arrayWithContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                     StringEncoding encoding,
                                                     Error* error = nullptr);
// Reads `stream`; *usedEncoding as for the readers above.
std::optional<CSVLines> arrayWithContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                     StringEncoding* usedEncoding,
                                                     Error* error = nullptr);
// Reads the file at `path` in `encoding` (0 = detect).
std::optional<CSVLines> arrayWithContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                                   Error* error = nullptr);
// Reads the file at `path`; *usedEncoding as for the readers above.
std::optional<CSVLines> arrayWithContentsOfCSVFile(const std::string& path,
                                                   StringEncoding* usedEncoding,
                                                   Error* error = nullptr);
// Reads UTF-8 `text` as bytes in `encoding` (0 = UTF-8).
std::optional<CSVLines> arrayWithContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                     Error* error = nullptr);

// Writing. `rows` is a list whose every element must be a list (a row) of field values.

// Writes `rows` to the file at `path`, one line each, through the writer in buffered mode. Every
// element is checked to be a row before the disk is touched (else false with code 2, "Invalid
// array structure"), and so is the delimiter (a refused one throws std::invalid_argument). An
// atomic write replaces the file only once all is written, so a failure (or an exception from
// the rows) leaves the old file as it was. False, with the writer's (OS) error in *error, when the
// file cannot be created, written or moved into place; also when a piece could not be written
// and was left out of the file, which holds the rest (CSVWriter::error()).
bool writeToCSVFile(const ValueList& rows, const std::string& path, std::string_view delimiter,
                    bool atomically, Error* error = nullptr);
// As above with the delimiter ",".
bool writeToCSVFile(const ValueList& rows, const std::string& path, bool atomically,
                    Error* error = nullptr);
// Refused at compile time: a delimiter needs the atomic flag too (a text would pass as `true`).
bool writeToCSVFile(const ValueList& rows, const std::string& path, const char* delimiter,
                    Error* error = nullptr) = delete;

// A document whose rows are known to be rows by their type: any range of contiguous runs of
// values (a std::vector<ValueList>, or a view that makes or borrows each row as it goes).
template <class Rows>
concept CSVRowRange = std::ranges::input_range<Rows> &&
    std::convertible_to<std::ranges::range_reference_t<Rows>, std::span<const Value>>;

// Writes a typed document as writeToCSVFile above, without first copying it into one ValueList.
template <CSVRowRange Rows>
bool writeToCSVFile(Rows&& rows, const std::string& path, std::string_view delimiter,
                    bool atomically, Error* error = nullptr) {
  // A non-atomic writer empties an existing file on creation: a delimiter that would make it
  // refuse to go on must be found before that.
  requireValidDelimiter(delimiter);
  const std::unique_ptr<CSVWriter> writer = CSVWriter::withCSVFile(path, atomically);
  writer->setDelimiter(delimiter);
  // Nobody watches the file while it grows, so it is written in large blocks.
  writer->setBuffered(true);
  for (auto&& row : rows) {
    // After the file failed the writer keeps further output in memory, which nobody here would
    // read; a piece left out (error() too) leaves the file going, and the rest is worth having.
    if (writer->error() && writer->stringValue()) break;
    for (const Value& field : std::span<const Value>(row)) writer->writeField(field);
    writer->writeLine();
  }
  writer->closeFile();
  if (!writer->error()) return true;
  setError(error, *writer->error());
  return false;
}

// The CSV text of `rows`, every line ending in "\n"; nullopt for an empty list (*error reset to
// Error{}, code 0: no failure) and for an element that is not a row (code 2, "Invalid array
// structure"). A piece that could not be written is left out of the text and named in *error.
// A refused delimiter throws std::invalid_argument.
std::optional<std::string> CSVStringWithDelimiter(const ValueList& rows, std::string_view delimiter,
                                                  Error* error = nullptr);
// As above with the delimiter ",", the reason dropped.
std::optional<std::string> CSVString(const ValueList& rows);

// The lines of the CSV text `text` (UTF-8), or nullopt when it does not parse.
std::optional<CSVLines> CSVComponents(std::string_view text);

}  // namespace csv
