// Helpers for the parser tests: a delegate that records every call, streams that split or fail
// their reads, and a runner that parses one input in every way the parser can be fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "csv/csv_parser.hpp"

namespace csv::testing {

// Records each callback as one line of text: "start", "line 1", "[field]", "end line 1", "end",
// "fail <code>: <description>" (", caused by: <underlying>" when there is one).
class RecordingDelegate : public CSVParserDelegate {
 public:
  void didFailWithError(CSVParser& parser, const Error& error) override {
    std::string text = "fail " + std::to_string(error.code);
    if (error.description) text += ": " + *error.description;
    if (error.underlying && error.underlying->description) {
      text += ", caused by: " + *error.underlying->description;
    }
    record(parser, text);
  }
  void didEndDocument(CSVParser& parser, const std::optional<std::string>& csvFile) override {
    lastCsvFile = csvFile;
    record(parser, "end");
  }
  void didReadField(CSVParser& parser, std::string field) override {
    record(parser, "[" + field + "]");
  }
  void didEndLine(CSVParser& parser, std::uint32_t line) override {
    record(parser, "end line " + std::to_string(line));
  }
  void didStartLine(CSVParser& parser, std::uint32_t line) override {
    record(parser, "line " + std::to_string(line));
  }
  void didStartDocument(CSVParser& parser, const std::optional<std::string>& csvFile) override {
    lastCsvFile = csvFile;
    record(parser, "start");
  }

  std::vector<std::string> events;
  // Called after each event is recorded (to cancel, or to try changing the delimiter).
  std::function<void(CSVParser&, const std::string& event)> afterEvent;
  std::optional<std::string> lastCsvFile;

 private:
  void record(CSVParser& parser, std::string event) {
    events.push_back(event);
    if (afterEvent) afterEvent(parser, event);
  }
};

// A memory stream whose reads return at most maxPerRead bytes, that records the size asked of
// each read, and that can fail at a given read (negative count, or an exception).
class ScriptedStream : public InputStream {
 public:
  enum class Failure { kNone, kNegative, kThrow, kThrowNonStd };
  explicit ScriptedStream(std::string bytes, std::size_t maxPerRead = SIZE_MAX)
      : bytes_(std::move(bytes)), maxPerRead_(maxPerRead) {}

  // The read with this index (0 = first) fails in the given way.
  void failAtRead(std::size_t index, Failure failure) {
    failAt_ = index;
    failure_ = failure;
  }
  void refuseToOpen() { refuseToOpen_ = true; }

  void open() override;
  StreamStatus streamStatus() const override { return status_; }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override;
  std::optional<Error> streamError() const override { return error_; }
  void close() override;

  std::vector<std::size_t> asked;  // maxLength of each read
  std::size_t delivered = 0;       // bytes handed out so far
  bool* closedFlag = nullptr;      // set to true by close(), if given

 private:
  std::string bytes_;
  std::size_t maxPerRead_;
  std::size_t reads_ = 0;
  std::size_t failAt_ = SIZE_MAX;
  Failure failure_ = Failure::kNone;
  bool refuseToOpen_ = false;
  StreamStatus status_ = StreamStatusNotOpen;
  std::optional<Error> error_;
};

// How one parse is fed.
struct Feed {
  StringEncoding encoding = kEncodingUTF8;  // kEncodingNone: detect
  std::string delimiter = ",";
  std::uint32_t chunkSize = CSVParser::kDefaultChunkSize;
  std::size_t maxPerRead = SIZE_MAX;  // bytes the stream returns per read at most
  bool fastPaths = true;
};

// Parses `bytes` fed as given; returns the recorded events.
std::vector<std::string> parseEvents(const std::string& bytes, const Feed& feed);

// Parses `bytes` whole, with chunk sizes from 1 byte up, through a stream that returns one byte
// per read, and with the fast paths off, checks with EXPECT that every way gives the same
// events, and returns them.
std::vector<std::string> parseEveryWay(const std::string& bytes, StringEncoding encoding,
                                       const std::string& delimiter = ",");

// A compact form of well-formed events: lines as "1[a][b]", separated by spaces, then
// " fail <code>: <description>" if the parse failed. Anything out of order shows as "?<event>".
std::string summarize(const std::vector<std::string>& events);

// Names each instance after its case.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& c) const {
    return c.param.name;
  }
};

}  // namespace csv::testing
