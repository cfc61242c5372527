// Helpers for the parser tests: a delegate that records every call, a stream that splits or fails
// its reads, and a runner that parses one input in every way the parser can be fed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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
  void record(CSVParser& parser, const std::string& event) {
    events.push_back(event);
    if (afterEvent) afterEvent(parser, event);
  }
};

// A memory stream whose reads return at most maxPerRead bytes, that records the size asked of
// each read, and that can refuse to open or fail at a given read (negative count, or a throw).
class ScriptedStream : public InputStream {
 public:
  enum class Failure { kNone, kRefuseToOpen, kNegative, kThrow, kThrowNonStd };
  explicit ScriptedStream(std::string bytes, std::size_t maxPerRead = SIZE_MAX,
                          Failure failure = Failure::kNone, std::size_t failAt = 0)
      : bytes_(std::move(bytes)), maxPerRead_(maxPerRead), failure_(failure), failAt_(failAt) {}

  void open() override {
    status_ = failure_ == Failure::kRefuseToOpen ? StreamStatusError : StreamStatusOpen;
    if (failure_ == Failure::kRefuseToOpen) error_ = Error::posix(EACCES, "scripted");
  }
  StreamStatus streamStatus() const override { return status_; }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    asked.push_back(maxLength);
    if (asked.size() - 1 == failAt_) {
      if (failure_ == Failure::kThrow) throw std::runtime_error("the disk caught fire");
      if (failure_ == Failure::kThrowNonStd) throw 42;
      if (failure_ == Failure::kNegative) {
        status_ = StreamStatusError;
        error_ = Error::posix(EIO, "scripted");
        return -1;
      }
    }
    if (status_ == StreamStatusAtEnd) return 0;
    const std::size_t count = std::min({maxLength, maxPerRead_, bytes_.size() - delivered});
    if (count > 0) std::memcpy(buffer, bytes_.data() + delivered, count);
    delivered += count;
    if (delivered == bytes_.size() && count < maxLength) status_ = StreamStatusAtEnd;
    return static_cast<std::ptrdiff_t>(count);
  }
  std::optional<Error> streamError() const override { return error_; }
  void close() override {
    if (closedFlag != nullptr) *closedFlag = true;
    status_ = StreamStatusClosed;
  }

  std::vector<std::size_t> asked;  // maxLength of each read
  std::size_t delivered = 0;       // bytes handed out so far
  bool* closedFlag = nullptr;      // set to true by close(), if given

 private:
  std::string bytes_;
  std::size_t maxPerRead_;
  Failure failure_;
  std::size_t failAt_;  // index of the failing read (0 = first)
  StreamStatus status_ = StreamStatusNotOpen;
  std::optional<Error> error_;
};

// Parses `bytes` whole, with chunk sizes from 1 byte up, through streams that return a few bytes
// per read, with each byte classifier the processor has, and with the fast paths off, checks with
// EXPECT that every way gives the same events, and returns them.
std::vector<std::string> parseEveryWay(const std::string& bytes, StringEncoding encoding,
                                       const std::string& delimiter = ",");

// A compact form of well-formed events: lines as "1[a][b]", separated by spaces, then
// " fail <code>: <description>" if the parse failed. Anything out of order shows as "?<event>".
std::string summarize(const std::vector<std::string>& events);

}  // namespace csv::testing
