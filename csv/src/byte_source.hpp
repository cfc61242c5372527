// ByteSource: reads an InputStream and turns its ways of failing into one Error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "csv/error.hpp"
#include "csv/input_stream.hpp"

namespace csv::detail {

class ByteSource {
 public:
  // *stream must outlive the ByteSource.
  explicit ByteSource(InputStream& stream) : stream_(stream) {}

  // Reads up to maxLength bytes into buffer and returns how many arrived. A negative count and an
  // exception thrown by the stream both end the input with failure() set; a count of 0, or the
  // stream reaching its end status, ends it without.
  std::size_t read(std::uint8_t* buffer, std::size_t maxLength);
  // True once no further read will be made.
  bool ended() const { return ended_; }
  // The read failure that ended the input, if any.
  const std::optional<Error>& failure() const { return failure_; }

 private:
  InputStream& stream_;
  bool ended_ = false;
  std::optional<Error> failure_;
};

}  // namespace csv::detail
