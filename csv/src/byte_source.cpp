#include "byte_source.hpp"

#include <exception>
#include <memory>
#include <string>

namespace csv::detail {

std::size_t ByteSource::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (ended_) return 0;
  std::ptrdiff_t count = 0;
  try {
    count = stream_.read(buffer, maxLength);
    if (count < 0 || static_cast<std::size_t>(count) > maxLength) {
      Error error = Error::csv(CSVErrorCodeInput, "Unable to read from input stream");
      if (std::optional<Error> cause = stream_.streamError()) {
        error.underlying = std::make_shared<const Error>(std::move(*cause));
      } else if (count > 0) {
        error.underlying = std::make_shared<const Error>(Error::csv(
            CSVErrorCodeInput, "the stream reported " + std::to_string(count) +
                                   " bytes for a read of at most " + std::to_string(maxLength)));
      }
      failure_ = std::move(error);
      ended_ = true;
      return 0;
    }
  } catch (const std::exception& e) {
    Error error = Error::csv(CSVErrorCodeInput, std::string(e.what()));
    error.exception = std::current_exception();
    failure_ = std::move(error);
    ended_ = true;
    return 0;
  } catch (...) {
    Error error = Error::csv(CSVErrorCodeInput, "Unable to read from input stream");
    error.exception = std::current_exception();
    failure_ = std::move(error);
    ended_ = true;
    return 0;
  }
  // A read of nothing ends the input, as it does for a file, even if the stream's status does
  // not say so: nothing later could be told apart from a stream that had simply ended.
  if ((count == 0 && maxLength > 0) || stream_.streamStatus() == StreamStatusAtEnd) {
    ended_ = true;
  }
  return static_cast<std::size_t>(count);
}

}  // namespace csv::detail
