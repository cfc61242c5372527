// CSVParserDelegate: receives the documents, lines and fields that a CSVParser reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "csv/error.hpp"

namespace csv {

class CSVParser;

// A parse delivers didStartDocument; then for each line didStartLine, its fields through
// didReadField, and didEndLine with the same number; then didEndDocument or didFailWithError.
// All calls happen inside CSVParser::parse on its caller's thread. The only call back into the
// parser that a callback may make is cancelParsing(); it must not destroy the parser.
class CSVParserDelegate {
 public:
  virtual ~CSVParserDelegate() = default;

  // Once, at the end of a parse that stopped with an error (failure or cancellation).
  virtual void didFailWithError(CSVParser& parser, const Error& error) = 0;
  // Once, at the end of a parse without error; csvFile is the source path (nullopt if none).
  virtual void didEndDocument(CSVParser& parser, const std::optional<std::string>& csvFile) = 0;
  // For each field, in order: its cleaned text, which the delegate may keep.
  virtual void didReadField(CSVParser& parser, std::string field) = 0;
  // When a line ends, with its number (counted from 1; lines past 4,294,967,295 all get that
  // number, while error messages give the true one).
  virtual void didEndLine(CSVParser& parser, std::uint32_t line) = 0;
  // When a line begins, before its fields.
  virtual void didStartLine(CSVParser& parser, std::uint32_t line) = 0;
  // Once, first; csvFile is the source path (nullopt for stream and string sources).
  virtual void didStartDocument(CSVParser& parser, const std::optional<std::string>& csvFile) = 0;

  // The route every field takes: a view valid only during the call. By default it hands a copy
  // to didReadField; a delegate that only looks at each field may override it to avoid the copy.
  virtual void didReadFieldView(CSVParser& parser, std::string_view field) {
    didReadField(parser, std::string(field));
  }
};

}  // namespace csv
