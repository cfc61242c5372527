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
#include <tuple>
#include <vector>

#include "csv/csv_parser.hpp"
#include "parser_core.hpp"

namespace csv::testing {

// Records each callback as one line of text: "start", "line 1", "[field]", "end line 1", "end",
// "fail <code>: <description>" (", caused by: <underlying>" when there is one).
class RecordingDelegate : public CSVParserDelegate {
 public:
  void didFailWithError(CSVParser& p, const Error& error) override {
    std::string text = "fail " + std::to_string(error.code);
    if (error.description) text += ": " + *error.description;
    if (error.underlying && error.underlying->description) {
      text += ", caused by: " + *error.underlying->description;
    }
    record(p, text);
  }
  void didStartDocument(CSVParser& p, const std::optional<std::string>& file) override {
    lastCsvFile = file;
    record(p, "start");
  }
  void didEndDocument(CSVParser& p, const std::optional<std::string>& file) override {
    lastCsvFile = file;
    record(p, "end");
  }
  void didStartLine(CSVParser& p, std::uint32_t n) override { record(p, "line " + num(n)); }
  void didReadField(CSVParser& p, std::string field) override { record(p, "[" + field + "]"); }
  void didEndLine(CSVParser& p, std::uint32_t n) override { record(p, "end line " + num(n)); }

  std::vector<std::string> events;
  // Called after each event is recorded (to cancel, or to try changing the delimiter).
  std::function<void(CSVParser&, const std::string& event)> afterEvent;
  std::optional<std::string> lastCsvFile;

 private:
  static std::string num(std::uint32_t n) { return std::to_string(n); }
  void record(CSVParser& parser, const std::string& event) {
    events.push_back(event);
    if (afterEvent) afterEvent(parser, event);
  }
};

// A memory stream whose reads return at most maxPerRead bytes, that records the size asked of
// each read, and that can refuse to open, fail at a given read (negative count, or a throw) or
// throw when closed.
class ScriptedStream : public InputStream {
 public:
  enum class Failure { kNone, kRefuseToOpen, kNegative, kThrow, kThrowNonStd, kThrowOnClose };
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
    if (failure_ == Failure::kThrowOnClose) throw std::runtime_error("the disk went away");
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

inline std::vector<std::string> parseEvents(const std::string& bytes, StringEncoding encoding,
                                            const std::string& delimiter, std::uint32_t chunkSize,
                                            std::size_t maxPerRead, bool fastPaths,
                                            std::optional<detail::ScanISA> isa = std::nullopt) {
  Error error;
  std::unique_ptr<CSVParser> parser =
      CSVParser::withStream(std::make_unique<ScriptedStream>(bytes, maxPerRead), encoding, &error);
  if (!parser) return {"construction failed: " + error.description.value_or("")};
  parser->setDelimiter(delimiter);
  parser->setChunkSize(chunkSize);
  detail::setFastPathsEnabled(*parser, fastPaths);
  if (isa && !detail::setScanISA(*parser, *isa)) return {"no such classifier"};
  RecordingDelegate delegate;
  parser->setParserDelegate(&delegate);
  parser->parse();
  return delegate.events;
}

// Parses `bytes` whole, with chunk sizes from 1 byte up, through streams that return a few bytes
// per read, with each byte classifier the processor has, and with the fast paths off, checks with
// EXPECT that every way gives the same events, and returns them.
inline std::vector<std::string> parseEveryWay(const std::string& bytes, StringEncoding encoding,
                                              const std::string& delimiter = ",") {
  const std::vector<std::string> expected = parseEvents(
      bytes, encoding, delimiter, static_cast<std::uint32_t>(bytes.size() + 1), SIZE_MAX, true);
  // {chunk size, bytes per read, fast paths}: every small chunk, reads that split chunks, a
  // stream that returns one byte per read, and the reference path without fast paths.
  const std::tuple<std::uint32_t, std::size_t, bool> ways[] = {
      {1, SIZE_MAX, true},    {2, SIZE_MAX, true},    {3, SIZE_MAX, true},  {4, SIZE_MAX, true},
      {5, SIZE_MAX, true},    {7, SIZE_MAX, true},    {11, SIZE_MAX, true}, {16, SIZE_MAX, true},
      {64, SIZE_MAX, true},   {2048, SIZE_MAX, true}, {4, 3, true},         {7, 2, true},
      {64, 5, true},          {2048, 1, true},        {1, SIZE_MAX, false}, {3, SIZE_MAX, false},
      {2048, SIZE_MAX, false}};
  for (const auto& [chunk, perRead, fast] : ways) {
    EXPECT_EQ(parseEvents(bytes, encoding, delimiter, chunk, perRead, fast), expected)
        << "chunk size " << chunk << ", at most " << perRead << " bytes per read, fast paths "
        << (fast ? "on" : "off");
  }
  // Each byte classifier the processor has, the input whole and in small chunks.
  for (const detail::ScanISA isa :
       {detail::ScanISA::kScalar, detail::ScanISA::kSSE2, detail::ScanISA::kAVX2}) {
    if (detail::byteScanner(isa) == nullptr) continue;
    for (const std::uint32_t chunk : {static_cast<std::uint32_t>(bytes.size() + 1), 5u}) {
      EXPECT_EQ(parseEvents(bytes, encoding, delimiter, chunk, SIZE_MAX, true, isa), expected)
          << "classifier " << static_cast<int>(isa) << ", chunk size " << chunk;
    }
  }
  return expected;
}

// A compact form of well-formed events: lines as "1[a][b]", separated by spaces, then
// " fail <code>: <description>" if the parse failed. Anything out of order shows as "?<event>".
inline std::string summarize(const std::vector<std::string>& events) {
  std::string out = events.empty() || events[0] != "start" ? "?no start" : "";
  std::string open;  // the number of the line begun and not yet ended
  for (std::size_t i = out.empty() ? 1 : 0; i < events.size(); ++i) {
    const std::string& e = events[i];
    const bool last = i + 1 == events.size();
    if (!open.empty() && e.starts_with("[")) {
      out += e;
    } else if (!open.empty() && e == "end line " + open) {
      open.clear();
    } else if (open.empty() && (e.starts_with("line ") || (last && e.starts_with("fail ")))) {
      if (e.starts_with("line ")) open = e.substr(5);
      out += (out.empty() ? "" : " ") + (open.empty() ? e : open);
    } else if (!open.empty() || !last || e != "end") {
      out += " ?" + e;
    }
  }
  if (events.empty() || (events.back() != "end" && !events.back().starts_with("fail "))) {
    out += " ?no end";
  }
  return out;
}

}  // namespace csv::testing
