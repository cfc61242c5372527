// The diagnostic log: one line per message, by default to standard error as "<program>: message".
#pragma once

#include <functional>
#include <string_view>

namespace csv {

using DiagnosticSink = std::function<void(std::string_view message)>;

// Writes one message to the current sink, its line breaks escaped as \n, \v, \f and \r.
void logDiagnostic(std::string_view message);
// Replaces the sink (tests capture messages); an empty function restores standard error.
// Returns the previous sink. Not thread-safe: set it before other threads log.
DiagnosticSink setDiagnosticSink(DiagnosticSink sink);

}  // namespace csv
