#include "parser_test_support.hpp"

#include <cstring>
#include <stdexcept>
#include <tuple>

#include "parser_core.hpp"

namespace csv::testing {

void RecordingDelegate::didFailWithError(CSVParser& parser, const Error& error) {
  std::string text = "fail " + std::to_string(error.code);
  if (error.description) text += ": " + *error.description;
  if (error.underlying && error.underlying->description) {
    text += ", caused by: " + *error.underlying->description;
  }
  record(parser, text);
}

void RecordingDelegate::record(CSVParser& parser, const std::string& event) {
  events.push_back(event);
  if (afterEvent) afterEvent(parser, event);
}

void ScriptedStream::open() {
  status_ = failure_ == Failure::kRefuseToOpen ? StreamStatusError : StreamStatusOpen;
  if (failure_ == Failure::kRefuseToOpen) error_ = Error::posix(EACCES, "scripted");
}

std::ptrdiff_t ScriptedStream::read(std::uint8_t* buffer, std::size_t maxLength) {
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

void ScriptedStream::close() {
  if (closedFlag != nullptr) *closedFlag = true;
  status_ = StreamStatusClosed;
}

namespace {

std::vector<std::string> parseEvents(const std::string& bytes, StringEncoding encoding,
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

}  // namespace

std::vector<std::string> parseEveryWay(const std::string& bytes, StringEncoding encoding,
                                       const std::string& delimiter) {
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

std::string summarize(const std::vector<std::string>& events) {
  std::string out;
  std::size_t i = 0;
  if (i < events.size() && events[i] == "start") {
    ++i;
  } else {
    out += "?no start";
  }
  while (i < events.size() && events[i].starts_with("line ")) {
    const std::string number = events[i].substr(5);
    out += (out.empty() ? "" : " ") + number;
    ++i;
    while (i < events.size() && events[i].starts_with("[")) out += events[i++];
    if (i < events.size() && events[i] == "end line " + number) {
      ++i;
    } else {
      out += "?unended";
    }
  }
  if (i < events.size() && events[i] == "end") {
    ++i;
  } else if (i < events.size() && events[i].starts_with("fail ")) {
    out += (out.empty() ? "" : " ") + events[i++];
  } else {
    out += "?no end";
  }
  for (; i < events.size(); ++i) out += " ?" + events[i];
  return out;
}

}  // namespace csv::testing
