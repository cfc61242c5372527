#include "csv/csv_document.hpp"

#include <utility>

#include "csv/csv_parser.hpp"
#include "csv/csv_writer.hpp"
#include "csv/text_rules.hpp"

namespace csv {
namespace {

constexpr std::string_view kDefaultDelimiter = ",";

// The first element that is not a row, or nullptr when every element is one.
const Value* firstNonRow(const ValueList& rows) {
  for (const Value& row : rows) {
    if (!row.isList()) return &row;
  }
  return nullptr;
}

Error invalidStructure() {
  return Error::csv(CSVErrorCodeInvalidFormat, "Invalid array structure");
}

// Runs a parser that is already open over its whole source and collects the lines. A null
// parser means the source did not open: its factory has stored the open error in *error, and
// the result is an empty list, so that "nothing could be read" and "the text is malformed"
// stay apart (the first gives a list, the second none).
std::optional<CSVLines> collectLines(std::unique_ptr<CSVParser> parser, std::string_view delimiter,
                                     Error* error) {
  if (!parser) return CSVLines();
  parser->setDelimiter(delimiter);
  CSVArrayAggregator aggregator;
  parser->setParserDelegate(&aggregator);
  parser->parse();
  parser.reset();
  if (aggregator.error()) {
    setError(error, *aggregator.error());
    return std::nullopt;
  }
  std::optional<CSVLines> lines = aggregator.takeLines();
  return lines ? std::move(lines) : CSVLines();
}

}  // namespace

std::optional<CSVLines> CSVArrayAggregator::takeLines() { return std::exchange(lines_, {}); }

void CSVArrayAggregator::didFailWithError(CSVParser& /*parser*/, const Error& error) {
  error_ = error;
}

void CSVArrayAggregator::didEndDocument(CSVParser& /*parser*/,
                                        const std::optional<std::string>& /*csvFile*/) {}

void CSVArrayAggregator::didReadField(CSVParser& /*parser*/, std::string field) {
  if (currentLine_) currentLine_->push_back(std::move(field));
}

void CSVArrayAggregator::didEndLine(CSVParser& /*parser*/, std::uint32_t /*line*/) {
  if (currentLine_ && !currentLine_->empty() && lines_) {
    lastWidth_ = currentLine_->size();
    lines_->push_back(std::move(*currentLine_));
  }
  currentLine_.reset();
}

void CSVArrayAggregator::didStartLine(CSVParser& /*parser*/, std::uint32_t /*line*/) {
  currentLine_.emplace();
  // Lines of a document tend to have the same width; one allocation per line then suffices.
  currentLine_->reserve(lastWidth_);
}

void CSVArrayAggregator::didStartDocument(CSVParser& /*parser*/,
                                          const std::optional<std::string>& /*csvFile*/) {
  lines_.emplace();
}

std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding* usedEncoding,
                                                std::string_view delimiter, Error* error) {
  // Before the source is opened, so that misuse is reported whatever the state of the source.
  requireValidDelimiter(delimiter);
  return collectLines(CSVParser::withStream(std::move(stream), usedEncoding, error), delimiter,
                      error);
}

std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding* usedEncoding, Error* error) {
  return withContentsOfCSVStream(std::move(stream), usedEncoding, kDefaultDelimiter, error);
}

std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding encoding, std::string_view delimiter,
                                                Error* error) {
  // The caller gave a value, not a place: what the parser settles on is not passed back.
  StringEncoding privateEncoding = encoding;
  return withContentsOfCSVStream(std::move(stream), &privateEncoding, delimiter, error);
}

std::optional<CSVLines> withContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                StringEncoding encoding, Error* error) {
  return withContentsOfCSVStream(std::move(stream), encoding, kDefaultDelimiter, error);
}

std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding* usedEncoding,
                                              std::string_view delimiter, Error* error) {
  return withContentsOfCSVStream(InputStream::withFileAtPath(path), usedEncoding, delimiter, error);
}

std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding* usedEncoding,
                                              Error* error) {
  return withContentsOfCSVFile(path, usedEncoding, kDefaultDelimiter, error);
}

std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                              std::string_view delimiter, Error* error) {
  return withContentsOfCSVStream(InputStream::withFileAtPath(path), encoding, delimiter, error);
}

std::optional<CSVLines> withContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                              Error* error) {
  return withContentsOfCSVFile(path, encoding, kDefaultDelimiter, error);
}

std::optional<CSVLines> withContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                std::string_view delimiter, Error* error) {
  // A string is text already: there is nothing to detect, and detecting would misread a text
  // whose first 2048 bytes end inside a character. So "no encoding" means its own, UTF-8.
  requireValidDelimiter(delimiter);
  const StringEncoding used = encoding == kEncodingNone ? kEncodingUTF8 : encoding;
  std::unique_ptr<CSVParser> parser = CSVParser::withCSVString(text, used, error);
  // A memory source always opens; no parser means the text has no form in that encoding.
  // Giving an empty list would pass an unreadable text off as an empty document.
  if (!parser) return std::nullopt;
  return collectLines(std::move(parser), delimiter, error);
}

std::optional<CSVLines> withContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                Error* error) {
  return withContentsOfCSVString(text, encoding, kDefaultDelimiter, error);
}

std::optional<CSVLines> arrayWithContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                     StringEncoding encoding, Error* error) {
  return withContentsOfCSVStream(std::move(stream), encoding, error);
}

std::optional<CSVLines> arrayWithContentsOfCSVStream(std::unique_ptr<InputStream> stream,
                                                     StringEncoding* usedEncoding, Error* error) {
  return withContentsOfCSVStream(std::move(stream), usedEncoding, error);
}

std::optional<CSVLines> arrayWithContentsOfCSVFile(const std::string& path, StringEncoding encoding,
                                                   Error* error) {
  return withContentsOfCSVFile(path, encoding, error);
}

std::optional<CSVLines> arrayWithContentsOfCSVFile(const std::string& path,
                                                   StringEncoding* usedEncoding, Error* error) {
  return withContentsOfCSVFile(path, usedEncoding, error);
}

std::optional<CSVLines> arrayWithContentsOfCSVString(std::string_view text, StringEncoding encoding,
                                                     Error* error) {
  return withContentsOfCSVString(text, encoding, error);
}

bool writeToCSVFile(const ValueList& rows, const std::string& path, std::string_view delimiter,
                    bool atomically, Error* error) {
  // Before anything else: a list that cannot be written must not cost the caller an existing
  // file (a non-atomic writer empties it on creation).
  if (firstNonRow(rows) != nullptr) {
    setError(error, invalidStructure());
    return false;
  }
  // Each row seen as a span of its fields: two words a row, no copy of a field.
  std::vector<std::span<const Value>> spans;
  spans.reserve(rows.size());
  for (const Value& row : rows) spans.emplace_back(row.list());
  return writeToCSVFile(spans, path, delimiter, atomically, error);
}

bool writeToCSVFile(const ValueList& rows, const std::string& path, bool atomically, Error* error) {
  return writeToCSVFile(rows, path, kDefaultDelimiter, atomically, error);
}

std::optional<std::string> CSVStringWithDelimiter(const ValueList& rows, std::string_view delimiter,
                                                  Error* error) {
  // The writer would need a row; rather than guess what a lone value means, refuse the list
  // the same way the file writer does.
  if (firstNonRow(rows) != nullptr) {
    setError(error, invalidStructure());
    return std::nullopt;
  }
  std::unique_ptr<CSVWriter> writer = CSVWriter::forWritingToString();
  writer->setDelimiter(delimiter);
  for (const Value& row : rows) writer->writeLineWithFields(row.list());
  std::optional<std::string> text = writer->stringValue();
  // Only an empty list gives no text, and that is no failure. A string writer records only a
  // piece it had to leave out, which the caller is told of beside the rest.
  setError(error, writer->error().value_or(Error{}));
  return text;
}

std::optional<std::string> CSVString(const ValueList& rows) {
  return CSVStringWithDelimiter(rows, kDefaultDelimiter);
}

std::optional<CSVLines> CSVComponents(std::string_view text) {
  // UTF-8 is the text's own form, so no conversion can fail.
  return arrayWithContentsOfCSVString(text, kEncodingUTF8);
}

}  // namespace csv
