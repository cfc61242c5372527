// Differential fuzz target: one input parsed three ways must give the same delegate calls.
//   whole:     a memory stream, one chunk, fast paths on;
//   chunked:   reads of the chunk size taken from the input, the stream returning at most a few
//              bytes per read, fast paths on;
//   reference: one byte per read, every grapheme cluster through the slow path.
// Input: byte 0 picks the delimiter, the encoding and whether to cancel; byte 1 the chunk size;
// byte 2 the bytes per read; byte 3 the event that cancels; the rest is the CSV source.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "csv/csv_parser.hpp"
#include "csv/diagnostic_log.hpp"
#include "parser_core.hpp"

namespace {

class Recorder : public csv::CSVParserDelegate {
 public:
  explicit Recorder(std::size_t cancelAt) : cancelAt_(cancelAt) {}
  void didFailWithError(csv::CSVParser& p, const csv::Error& e) override {
    add(p, "fail " + std::to_string(e.code) + " " + e.description.value_or("-"));
  }
  void didEndDocument(csv::CSVParser& p, const std::optional<std::string>&) override {
    add(p, "end");
  }
  void didReadField(csv::CSVParser& p, std::string field) override { add(p, "[" + field + "]"); }
  void didEndLine(csv::CSVParser& p, std::uint32_t n) override {
    add(p, "end line " + std::to_string(n));
  }
  void didStartLine(csv::CSVParser& p, std::uint32_t n) override {
    add(p, "line " + std::to_string(n));
  }
  void didStartDocument(csv::CSVParser& p, const std::optional<std::string>&) override {
    add(p, "start");
  }
  std::vector<std::string> events;

 private:
  void add(csv::CSVParser& parser, std::string event) {
    events.push_back(std::move(event));
    if (events.size() == cancelAt_) parser.cancelParsing();
  }
  std::size_t cancelAt_;
};

// Hands out at most maxPerRead bytes per read.
class TrickleStream : public csv::InputStream {
 public:
  TrickleStream(std::string bytes, std::size_t maxPerRead)
      : bytes_(std::move(bytes)), maxPerRead_(maxPerRead) {}
  void open() override { status_ = csv::StreamStatusOpen; }
  csv::StreamStatus streamStatus() const override { return status_; }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    std::size_t count = bytes_.size() - offset_;
    if (count > maxLength) count = maxLength;
    if (count > maxPerRead_) count = maxPerRead_;
    if (count > 0) std::memcpy(buffer, bytes_.data() + offset_, count);
    offset_ += count;
    if (count == 0) status_ = csv::StreamStatusAtEnd;
    return static_cast<std::ptrdiff_t>(count);
  }
  std::optional<csv::Error> streamError() const override { return std::nullopt; }
  void close() override { status_ = csv::StreamStatusClosed; }

 private:
  std::string bytes_;
  std::size_t maxPerRead_;
  std::size_t offset_ = 0;
  csv::StreamStatus status_ = csv::StreamStatusNotOpen;
};

const char* const kDelimiters[] = {",", ";", "\t", " ", "\u00A7", "\u3001", "\u00E9", "|"};
const csv::StringEncoding kEncodings[] = {
    csv::kEncodingUTF8,    csv::kEncodingNone,       csv::kEncodingUTF16LE,   csv::kEncodingUTF16BE,
    csv::kEncodingUTF32LE, csv::kEncodingMacOSRoman, csv::kEncodingISOLatin1, csv::kEncodingASCII};

std::vector<std::string> parse(const std::string& bytes, std::size_t maxPerRead,
                               std::uint32_t chunkSize, bool fastPaths, const char* delimiter,
                               csv::StringEncoding encoding, std::size_t cancelAt) {
  auto parser =
      csv::CSVParser::withStream(std::make_unique<TrickleStream>(bytes, maxPerRead), encoding);
  if (!parser) std::abort();  // a memory stream always opens
  parser->setDelimiter(delimiter);
  parser->setChunkSize(chunkSize);
  csv::detail::setFastPathsEnabled(*parser, fastPaths);
  Recorder recorder(cancelAt);
  parser->setParserDelegate(&recorder);
  parser->parse();
  return recorder.events;
}

void report(const char* what, const std::vector<std::string>& a,
            const std::vector<std::string>& b) {
  std::fprintf(stderr, "whole and %s parses differ\n", what);
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    std::fprintf(stderr, "%3zu  %-40s | %s\n", i, i < a.size() ? a[i].c_str() : "",
                 i < b.size() ? b[i].c_str() : "");
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static const bool quiet = [] {
    csv::setDiagnosticSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
  const char* delimiter = kDelimiters[data[0] & 7];
  const csv::StringEncoding encoding = kEncodings[(data[0] >> 3) & 7];
  const std::size_t cancelAt = (data[0] & 0xC0) == 0xC0 ? std::size_t{data[3]} + 1 : 0;
  const auto chunkSize = static_cast<std::uint32_t>(data[1] % 64 + 1);
  const std::size_t perRead = data[2] % 8 + 1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 4, size - 4);

  const auto whole = parse(bytes, SIZE_MAX, static_cast<std::uint32_t>(bytes.size() + 1), true,
                           delimiter, encoding, cancelAt);
  const auto chunked = parse(bytes, perRead, chunkSize, true, delimiter, encoding, cancelAt);
  if (chunked != whole) report("chunked", whole, chunked);
  const auto reference = parse(bytes, 1, chunkSize, false, delimiter, encoding, cancelAt);
  if (reference != whole) report("reference", whole, reference);
  return 0;
}
