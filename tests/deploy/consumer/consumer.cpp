// A program of someone else's, built against the installed library: prints the second line's
// second field of a quoted CSV text.
#include <cstdio>
#include <csv/csv_document.hpp>

int main() {
  auto lines = csv::CSVComponents("name,note\n\"Smith, J\",\"said \"\"hi\"\"\"\n");
  if (!lines || lines->size() != 2 || (*lines)[1].size() != 2) return 1;
  std::printf("%s\n", (*lines)[1][1].c_str());
  return 0;
}
