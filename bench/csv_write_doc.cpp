// Writer entry of the peer benchmark harness: writes N fields, 10 a row, as one document through
// writeToCSVFile.
//
//   csv_write_doc [--value-list] POOL OUT [N]
//
// POOL holds NUL-separated UTF-8 field values; field k of the output is pool[k % size], so the
// output is byte-identical to the other writers' (their pools hold nothing on which our quoting
// differs from theirs: no backslash, no leading "#", no line break other than LF and CR).
//
// By default the document is a view whose rows borrow ten values of the pool each, as the other
// writers borrow their slices; with --value-list it is first built as one ValueList of rows, as a
// caller holding the whole document in memory has it (that costs a copy of every field).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_document.hpp"
#include "csv/error.hpp"
#include "csv/value.hpp"

int main(int argc, char** argv) {
  int arg = 1;
  const bool valueList = argc > 1 && std::string_view(argv[1]) == "--value-list";
  if (valueList) ++arg;
  if (argc - arg < 2) {
    std::fprintf(stderr, "usage: %s [--value-list] POOL OUT [NFIELDS]\n", argv[0]);
    return 2;
  }
  const char* poolPath = argv[arg];
  const std::string outPath = argv[arg + 1];
  const long long fieldCount = argc - arg > 2 ? std::atoll(argv[arg + 2]) : 10'000'000LL;

  std::ifstream in(poolPath, std::ios::binary);
  if (!in) {
    std::perror(poolPath);
    return 1;
  }
  const std::string poolText((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  constexpr std::size_t kPerRow = 10;
  csv::ValueList pool;
  for (std::size_t start = 0;;) {
    const std::size_t end = poolText.find('\0', start);
    pool.emplace_back(std::string_view(poolText).substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (pool.size() % kPerRow != 0) {
    std::fprintf(stderr, "%s: %zu values, not a multiple of %zu\n", poolPath, pool.size(), kPerRow);
    return 1;
  }

  const auto rowCount = static_cast<std::size_t>(fieldCount) / kPerRow;
  const std::span<const csv::Value> values(pool);
  auto row = [&](std::size_t r) { return values.subspan((r * kPerRow) % values.size(), kPerRow); };

  csv::Error error;
  bool written = false;
  if (valueList) {
    // Deliberately never freed: the process ends right after, and tearing down ten million
    // strings would time the allocator, not the writer.
    auto* document = new csv::ValueList();
    document->reserve(rowCount);
    for (std::size_t r = 0; r < rowCount; ++r) {
      const std::span<const csv::Value> fields = row(r);
      document->emplace_back(csv::ValueList(fields.begin(), fields.end()));
    }
    written = csv::writeToCSVFile(*document, outPath, ",", false, &error);
  } else {
    written =
        csv::writeToCSVFile(std::views::iota(std::size_t{0}, rowCount) | std::views::transform(row),
                            outPath, ",", false, &error);
  }
  if (!written) {
    std::fprintf(stderr, "%s: %s\n", outPath.c_str(),
                 error.description.value_or("write failed").c_str());
    return 1;
  }
  std::printf("%lld\n", fieldCount);
  return 0;
}
