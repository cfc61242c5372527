#include "csv/diagnostic_log.hpp"

#include <cstdio>
#include <string>
#include <utility>

namespace csv {
namespace {

DiagnosticSink& currentSink() {
  static DiagnosticSink sink;
  return sink;
}

}  // namespace

void logDiagnostic(std::string_view message) {
  if (const DiagnosticSink& sink = currentSink()) {
    sink(message);
    return;
  }
  // One fwrite per line so that concurrent writers do not interleave within a line.
  std::string line = "quorin: ";
  line.append(message);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

DiagnosticSink setDiagnosticSink(DiagnosticSink sink) {
  return std::exchange(currentSink(), std::move(sink));
}

}  // namespace csv
