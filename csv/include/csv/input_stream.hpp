// InputStream: a source of bytes read in pieces, over a file or over bytes held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "csv/error.hpp"

namespace csv {

// The life of a stream, in the classic stream-status numbering.
enum StreamStatus : int {
  StreamStatusNotOpen = 0,
  StreamStatusOpening = 1,
  StreamStatusOpen = 2,
  StreamStatusReading = 3,
  StreamStatusWriting = 4,
  StreamStatusAtEnd = 5,
  StreamStatusClosed = 6,
  StreamStatusError = 7,
};

// A byte source. A subclass may report failures by a negative read count or by throwing from
// read(); the parser handles both. Used by one thread at a time.
class InputStream {
 public:
  virtual ~InputStream() = default;

  // Opens the stream; streamStatus() then tells whether that worked (1 to 3) or not.
  virtual void open() = 0;
  // The current status (see StreamStatus).
  virtual StreamStatus streamStatus() const = 0;
  // Copies up to maxLength bytes into buffer; returns the count, 0 at the end, negative on failure.
  virtual std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  // The stream's own description of its last failure; nullopt when there was none.
  virtual std::optional<Error> streamError() const = 0;
  // Closes the stream; later reads fail. Idempotent.
  virtual void close() = 0;

  // A stream over the file at `path`, read in large blocks however small each read() is.
  static std::unique_ptr<InputStream> withFileAtPath(const std::string& path);
  // A stream over `bytes`, which it keeps.
  static std::unique_ptr<InputStream> withData(std::string bytes);
};

}  // namespace csv
