// Counts the records and fields of a CSV file with CSVParser, touching every field, for the peer
// benchmark (../shared/bench-peers): prints "records fields checksum", where the checksum adds
// each field's length in bytes and its last byte, as the C and Rust peers do.
//
//   csv_count FILE [--detect] [--copy] [--chunk N]
//     --detect   detect the encoding (default: UTF-8 given, as the peers assume)
//     --copy     take each field as a std::string: a delegate that overrides only
//                didReadField, as one that keeps its fields would
//     --chunk N  bytes asked of the stream per read (default 2048)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "csv/csv_parser.hpp"

namespace {

// Counts lines, fields and the checksum; the subclasses decide how each field arrives.
class Counter : public csv::CSVParserDelegate {
 public:
  void didFailWithError(csv::CSVParser&, const csv::Error& error) override {
    failure_ = error.description.value_or("code " + std::to_string(error.code));
    if (error.underlying && error.underlying->description) {
      failure_ += " (" + *error.underlying->description + ")";
    }
  }
  void didEndDocument(csv::CSVParser&, const std::optional<std::string>&) override {}
  void didEndLine(csv::CSVParser&, std::uint32_t) override { ++records_; }
  void didStartLine(csv::CSVParser&, std::uint32_t) override {}
  void didStartDocument(csv::CSVParser&, const std::optional<std::string>&) override {}

  std::uint64_t records_ = 0;
  std::uint64_t fields_ = 0;
  std::uint64_t checksum_ = 0;
  std::string failure_;

 protected:
  void count(std::string_view field) {
    ++fields_;
    checksum_ += field.size();
    if (!field.empty()) checksum_ += static_cast<unsigned char>(field.back());
  }
};

// Takes each field as the view of didReadFieldView, as the C and Rust peers see theirs.
class ViewCounter final : public Counter {
 public:
  void didReadFieldView(csv::CSVParser&, std::string_view field) override { count(field); }
  void didReadField(csv::CSVParser&, std::string field) override { count(field); }
};

// Takes each field as its own std::string, as a delegate that keeps its fields does: it
// overrides didReadField only, and the parser's didReadFieldView makes the string.
class CopyCounter final : public Counter {
 public:
  void didReadField(csv::CSVParser&, std::string field) override { count(field); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [--detect] [--copy] [--chunk N]\n", argv[0]);
    return 2;
  }
  csv::StringEncoding encoding = csv::kEncodingUTF8;
  bool copy = false;
  std::uint32_t chunk = csv::CSVParser::kDefaultChunkSize;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--detect") == 0) {
      encoding = csv::kEncodingNone;
    } else if (std::strcmp(argv[i], "--copy") == 0) {
      copy = true;
    } else if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc) {
      chunk = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  csv::Error error;
  std::unique_ptr<csv::CSVParser> parser =
      csv::CSVParser::withContentsOfCSVFile(argv[1], encoding, &error);
  if (!parser) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.description.value_or("cannot open").c_str());
    return 1;
  }
  ViewCounter viewCounter;
  CopyCounter copyCounter;
  Counter& counter = copy ? static_cast<Counter&>(copyCounter) : viewCounter;
  parser->setParserDelegate(&counter);
  parser->setChunkSize(chunk);
  parser->parse();
  if (parser->error()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], counter.failure_.c_str());
    return 1;
  }
  std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(counter.records_),
              static_cast<unsigned long long>(counter.fields_),
              static_cast<unsigned long long>(counter.checksum_));
  return 0;
}
