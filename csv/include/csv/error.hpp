// Error objects shared by the CSV library and the kiosk's session layer.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace csv {

// The library's one error domain.
inline constexpr const char* kCSVErrorDomain = "CSVErrorDomain";
// Domain of failures reported by the operating system; `code` is then errno.
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";

enum CSVErrorCode : long {
  CSVErrorCodeInput = 1,          // bytes could not be read or interpreted
  CSVErrorCodeInvalidFormat = 2,  // the text or the structure is not valid CSV
  CSVErrorCodeCancelled = 3,      // the caller cancelled the parse
};

// A failure: where it comes from (domain), which one (code), its text and what caused it.
struct Error {
  std::string domain;
  long code = 0;
  std::optional<std::string> description;   // may be absent
  std::shared_ptr<const Error> underlying;  // the error that caused this one; may be null
  std::exception_ptr exception;             // the exception that caused this one; may be null

  // An error in CSVErrorDomain with the given code and description.
  static Error csv(long code, std::optional<std::string> description);
  // An OS error: domain NSPOSIXErrorDomain, the errno value, strerror's text (plus context if
  // given).
  static Error posix(int errnoValue, std::string_view context = {});
};

// Stores `error` in `*place` when the caller gave a place; does nothing for nullptr.
inline void setError(Error* place, Error error) {
  if (place != nullptr) *place = std::move(error);
}

}  // namespace csv
