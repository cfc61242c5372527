#include "parser_test_support.hpp"

#include <tuple>

#include "parser_core.hpp"

namespace csv::testing {

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
