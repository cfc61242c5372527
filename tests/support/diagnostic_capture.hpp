// The diagnostic log's lines, collected instead of printed for as long as the object lives.
#pragma once

#include <string>
#include <vector>

#include "csv/diagnostic_log.hpp"

namespace quorin::test {

struct DiagnosticCapture {
  std::vector<std::string> lines;
  csv::DiagnosticSink previous =
      csv::setDiagnosticSink([this](std::string_view line) { lines.emplace_back(line); });
  DiagnosticCapture() = default;
  DiagnosticCapture(const DiagnosticCapture&) = delete;
  DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;
  ~DiagnosticCapture() { csv::setDiagnosticSink(std::move(previous)); }
};

}  // namespace quorin::test
