#include "csv/diagnostic_log.hpp"

#include <errno.h>

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
  // One fwrite per line so that concurrent writers do not interleave within a line. The line
  // names the program, as other command-line tools' messages do; a program that wants another
  // form installs its own sink.
  std::string line = program_invocation_short_name;
  line += ": ";
  line.append(message);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

DiagnosticSink setDiagnosticSink(DiagnosticSink sink) {
  return std::exchange(currentSink(), std::move(sink));
}

}  // namespace csv
