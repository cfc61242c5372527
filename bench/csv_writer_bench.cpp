// Writer throughput on the shared peer benchmark's write workload: field k of the output is
// pool[k % pool size], ten fields a record, each record ending in "\n".
//
// The pool is the NUL-separated file write_fields.nul made by the peers' generator
// (python3 gen_data.py --out /tmp/csvbench); give its path in QUORIN_WRITE_POOL. Without it a
// pool of 100,000 fields is generated here with the same mix (about 30% need quoting: commas,
// quotes, line feeds; 10% multilingual UTF-8; the rest numbers, words, dates and phrases).
// QUORIN_WRITE_FIELDS sets the fields written per iteration (default 1,000,000). Files go to
// $TMPDIR (default /tmp) and are removed afterwards. Throughput is bytes of CSV produced.
//
//   cmake --preset release && cmake --build --preset release --target csv_writer_bench
//   QUORIN_WRITE_POOL=/tmp/csvbench/write_fields.nul build/release/bench/csv_writer_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "csv/csv_writer.hpp"

namespace {

constexpr int kFieldsPerRecord = 10;

std::string word(std::mt19937_64& rng, int shortest = 3, int longest = 12) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string text(std::uniform_int_distribution<int>(shortest, longest)(rng), ' ');
  for (char& c : text) c = kLetters[std::uniform_int_distribution<int>(0, 51)(rng)];
  return text;
}

std::string plainField(std::mt19937_64& rng, int column) {
  auto number = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  switch (column % 5) {
    case 0:
      return std::to_string(number(0, 1000000000));
    case 1: {
      char text[64];
      std::snprintf(text, sizeof text, "%.*f", static_cast<int>(number(1, 6)),
                    std::uniform_real_distribution<double>(-1e5, 1e5)(rng));
      return text;
    }
    case 2:
      return word(rng);
    case 3: {
      char text[32];
      std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld", number(1970, 2030), number(1, 12),
                    number(1, 28));
      return text;
    }
    default: {
      std::string text = word(rng, 2, 8);
      for (long i = number(1, 4); i > 1; --i) {
        text += ' ';
        text += word(rng, 2, 8);
      }
      return text;
    }
  }
}

std::string multilingual(std::mt19937_64& rng) {
  static const char* const kPieces[] = {
      "café", "Größe",           "São Paulo",   "東京都", "한국어",
      "नमस्ते", "مرحبا بالعالم",   "Русский",     "😀",      "👍🏽",
      "🇫🇷",   "e\u0301te\u0301", "plain ascii", "12345",  "x"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  std::string text = kPieces[pick(rng)];
  for (int i = std::uniform_int_distribution<int>(1, 4)(rng); i > 1; --i) {
    text += std::string(" ") + kPieces[pick(rng)];
  }
  return text;
}

std::vector<csv::Value> generatedPool() {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<csv::Value> pool;
  for (int i = 0; i < 100000; ++i) {
    const double r = unit(rng);
    if (r < 0.10) {
      pool.emplace_back(word(rng) + ", " + word(rng));
    } else if (r < 0.20) {
      pool.emplace_back("say \"" + word(rng) + "\"");
    } else if (r < 0.30) {
      pool.emplace_back(word(rng) + "\n" + word(rng));
    } else if (r < 0.40) {
      pool.emplace_back(multilingual(rng));
    } else {
      pool.emplace_back(plainField(rng, i));
    }
  }
  return pool;
}

const std::vector<csv::Value>& pool() {
  static const std::vector<csv::Value> values = [] {
    const char* path = std::getenv("QUORIN_WRITE_POOL");
    if (path == nullptr) return generatedPool();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read QUORIN_WRITE_POOL=%s\n", path);
      std::exit(1);
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<csv::Value> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
      fields.emplace_back(bytes.substr(start, end - start));
    }
    fields.emplace_back(bytes.substr(start));
    return fields;
  }();
  return values;
}

long fieldsPerIteration() {
  const char* text = std::getenv("QUORIN_WRITE_FIELDS");
  return text != nullptr ? std::atol(text) : 1000000;
}

void writeWorkload(csv::CSVWriter& writer, long fields) {
  const std::vector<csv::Value>& values = pool();
  std::size_t next = 0;
  for (long k = 0; k < fields; ++k) {
    writer.writeField(values[next]);
    if (++next == values.size()) next = 0;
    if (k % kFieldsPerRecord == kFieldsPerRecord - 1) writer.writeLine();
  }
}

std::string scratchPath() {
  const char* folder = std::getenv("TMPDIR");
  return (std::filesystem::path(folder != nullptr ? folder : "/tmp") /
          ("csv_writer_bench." + std::to_string(getpid()) + ".csv"))
      .string();
}

void BM_StringWriter(benchmark::State& state) {
  const long fields = fieldsPerIteration();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto writer = csv::CSVWriter::forWritingToString();
    writeWorkload(*writer, fields);
    const std::optional<std::string> text = writer->stringValue();
    bytes += text->size();
    benchmark::DoNotOptimize(text->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["fields"] = static_cast<double>(fields);
}

void BM_BufferedFileWriter(benchmark::State& state) {
  const long fields = fieldsPerIteration();
  const std::string path = scratchPath();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto writer = csv::CSVWriter::withCSVFile(path, false);
    writer->setBuffered(true);
    writeWorkload(*writer, fields);
    writer->closeFile();
    if (writer->error()) state.SkipWithError(writer->error()->description->c_str());
    bytes += std::filesystem::file_size(path);
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// For comparison: the default guarantee, one write(2) per record.
void BM_UnbufferedFileWriterByRecord(benchmark::State& state) {
  const long records = fieldsPerIteration() / kFieldsPerRecord;
  const std::vector<csv::Value>& values = pool();
  const std::string path = scratchPath();
  std::size_t bytes = 0;
  std::vector<csv::Value> record(kFieldsPerRecord);
  for (auto _ : state) {
    auto writer = csv::CSVWriter::withCSVFile(path, false);
    std::size_t next = 0;
    for (long r = 0; r < records; ++r) {
      for (csv::Value& field : record) {
        field = values[next];
        if (++next == values.size()) next = 0;
      }
      writer->writeLineWithFields(record);
    }
    writer->closeFile();
    bytes += std::filesystem::file_size(path);
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

BENCHMARK(BM_StringWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufferedFileWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnbufferedFileWriterByRecord)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
