// The state behind a CSVParser: its stream, the decoded text and the tokenizer it is pushed to.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "csv/csv_parser.hpp"
#include "text_source.hpp"
#include "tokenizer.hpp"

namespace csv::detail {

struct ParserCore {
  explicit ParserCore(std::unique_ptr<InputStream> stream)
      : csvReadStream_(std::move(stream)), text_(*csvReadStream_) {}

  std::unique_ptr<InputStream> csvReadStream_;  // opened by the factory, closed by ~CSVParser
  TextSource text_;
  Tokenizer tokenizer_;
  CSVParserDelegate* parserDelegate_ = nullptr;
  StringEncoding fileEncoding_ = kEncodingNone;
  std::optional<std::string> csvFile_;
  bool hasStarted_ = false;
  std::string delimiter_ = ",";
  std::optional<Error> error_;
  std::uint32_t chunkSize_ = CSVParser::kDefaultChunkSize;
};

// Access to a parser's internals for the differential tests.
struct ParserAccess {
  static ParserCore& core(CSVParser& parser) { return *parser.core_; }
};

// Sends every cluster through the reference path when `enabled` is false.
inline void setFastPathsEnabled(CSVParser& parser, bool enabled) {
  ParserAccess::core(parser).tokenizer_.setFastPathsEnabled(enabled);
}

// Classifies bytes with the given instruction set; false when it is unavailable.
inline bool setScanISA(CSVParser& parser, ScanISA isa) {
  return ParserAccess::core(parser).tokenizer_.setScanISA(isa);
}

}  // namespace csv::detail
