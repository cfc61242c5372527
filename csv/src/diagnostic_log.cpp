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
  // A line break in a message (a path may hold one) would start a line that looks like another
  // message, or like none: each one is written as an escape.
  constexpr std::string_view kBreaks = "\n\v\f\r";
  std::string escaped;
  if (message.find_first_of(kBreaks) != std::string_view::npos) {
    for (const char c : message) {
      const std::size_t k = kBreaks.find(c);
      escaped += k == std::string_view::npos ? std::string(1, c) : std::string{'\\', "nvfr"[k]};
    }
    message = escaped;
  }
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
