#include "parser_test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <tuple>

#include "parser_core.hpp"

namespace csv::testing {

void ScriptedStream::open() {
  if (refuseToOpen_) {
    status_ = StreamStatusError;
    error_ = Error::posix(EACCES, "scripted");
    return;
  }
  status_ = StreamStatusOpen;
}

std::ptrdiff_t ScriptedStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  asked.push_back(maxLength);
  const std::size_t index = reads_++;
  if (index == failAt_) {
    switch (failure_) {
      case Failure::kNegative:
        status_ = StreamStatusError;
        error_ = Error::posix(EIO, "scripted");
        return -1;
      case Failure::kThrow:
        throw std::runtime_error("the disk caught fire");
      case Failure::kThrowNonStd:
        throw 42;
      case Failure::kNone:
        break;
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

std::vector<std::string> parseEvents(const std::string& bytes, const Feed& feed) {
  auto stream = std::make_unique<ScriptedStream>(bytes, feed.maxPerRead);
  Error error;
  std::unique_ptr<CSVParser> parser =
      CSVParser::withStream(std::move(stream), feed.encoding, &error);
  if (!parser) return {"construction failed: " + error.description.value_or("")};
  parser->setDelimiter(feed.delimiter);
  parser->setChunkSize(feed.chunkSize);
  detail::setFastPathsEnabled(*parser, feed.fastPaths);
  RecordingDelegate delegate;
  parser->setParserDelegate(&delegate);
  parser->parse();
  return delegate.events;
}

std::vector<std::string> parseEveryWay(const std::string& bytes, StringEncoding encoding,
                                       const std::string& delimiter) {
  Feed whole;
  whole.encoding = encoding;
  whole.delimiter = delimiter;
  whole.chunkSize = static_cast<std::uint32_t>(bytes.size() + 1);
  const std::vector<std::string> expected = parseEvents(bytes, whole);

  // {chunk size, bytes per read, fast paths}: every small chunk, reads that split chunks, a
  // stream that returns one byte per read, and the reference path without fast paths.
  const std::tuple<std::uint32_t, std::size_t, bool> ways[] = {
      {1, SIZE_MAX, true},    {2, SIZE_MAX, true},    {3, SIZE_MAX, true},  {4, SIZE_MAX, true},
      {5, SIZE_MAX, true},    {7, SIZE_MAX, true},    {11, SIZE_MAX, true}, {16, SIZE_MAX, true},
      {64, SIZE_MAX, true},   {2048, SIZE_MAX, true}, {4, 3, true},         {7, 2, true},
      {64, 5, true},          {2048, 1, true},        {1, SIZE_MAX, false}, {3, SIZE_MAX, false},
      {2048, SIZE_MAX, false}};
  std::vector<Feed> feeds;
  for (const auto& [chunk, perRead, fast] : ways) {
    Feed feed = whole;
    feed.chunkSize = chunk;
    feed.maxPerRead = perRead;
    feed.fastPaths = fast;
    feeds.push_back(feed);
  }
  for (const Feed& feed : feeds) {
    EXPECT_EQ(parseEvents(bytes, feed), expected)
        << "chunk size " << feed.chunkSize << ", at most " << feed.maxPerRead
        << " bytes per read, fast paths " << (feed.fastPaths ? "on" : "off");
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
  while (i < events.size() && events[i].rfind("line ", 0) == 0) {
    const std::string number = events[i].substr(5);
    if (!out.empty()) out += ' ';
    out += number;
    ++i;
    while (i < events.size() && !events[i].empty() && events[i][0] == '[') out += events[i++];
    if (i < events.size() && events[i] == "end line " + number) {
      ++i;
    } else {
      out += "?unended";
    }
  }
  if (i < events.size() && events[i] == "end") {
    ++i;
  } else if (i < events.size() && events[i].rfind("fail ", 0) == 0) {
    out += (out.empty() ? "" : " ") + events[i++];
  } else {
    out += "?no end";
  }
  for (; i < events.size(); ++i) out += " ?" + events[i];
  return out;
}

}  // namespace csv::testing
