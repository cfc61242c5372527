// TextSource: the decoded text of a source, read ahead a few chunks at a time and released once
// the tokenizer has passed it, so memory stays bounded whatever the size of the input. The parser
// pushes the text to the tokenizer; the tokenizer never reads it from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "byte_source.hpp"
#include "csv/error.hpp"
#include "csv/input_stream.hpp"
#include "csv/string_encoding.hpp"
#include "decoder.hpp"

namespace csv::detail {

// Text is UTF-8 in one buffer: [0, size()) is decoded and valid. Decoding is strict: the text
// ends before the first byte sequence that cannot be decoded (or before an incomplete one at the
// end of the input), and failure() then says why. Nothing observable depends on how the stream
// splits its bytes or on the chunk size.
class TextSource {
 public:
  // *stream must outlive the TextSource.
  explicit TextSource(InputStream& stream) : bytes_(stream) {}

  // Before the encoding is chosen: reads the first `size` bytes of the source (fewer if it is
  // shorter) in reads of at most `chunkSize`, and returns them. They stay undecoded.
  std::span<const std::uint8_t> readSample(std::size_t size, std::uint32_t chunkSize);
  // Drops `count` undecoded bytes from the front (a byte-order mark, which is never text).
  void dropUndecoded(std::size_t count);
  // Chooses the encoding of every byte, and decodes the bytes read so far.
  void setEncoding(StringEncoding encoding);

  // The decoded text; valid until the next fill().
  std::string_view text() const { return {text_, committed_}; }
  // True when no more text will come.
  bool exhausted() const { return stopped_ || bytes_.ended(); }
  // Why the text ended early (a read failure or undecodable bytes); nullopt at a clean end.
  const std::optional<Error>& failure() const {
    return decodeFailure_ ? decodeFailure_ : bytes_.failure();
  }

  // Releases the text before keepFrom, so that the rest moves to the front, then reads and
  // decodes more text after it. False when nothing was added (the text is exhausted). Reads are
  // chunkSize bytes each, up to a read-ahead of a few chunks.
  bool fill(std::size_t keepFrom, std::uint32_t chunkSize);

  // Bytes that may be read before and past text() without leaving the allocation (for wide
  // loads).
  static constexpr std::size_t kPadding = 128;

 private:
  void ensureCapacity(std::size_t bytes);
  std::size_t readChunk(std::uint32_t chunkSize);
  void decodeAvailable();
  void finishInput();
  enum class DecodeProblem { kInvalid, kIncomplete, kUnsupported };
  void failDecoding(std::size_t badOffset, DecodeProblem problem);

  ByteSource bytes_;
  StringEncoding encoding_ = kEncodingNone;
  bool utf8_ = true;
  std::unique_ptr<Decoder> decoder_;  // null for UTF-8, and for an unsupported encoding

  std::unique_ptr<char[]> storage_;  // kPadding bytes, the text's capacity, kPadding bytes
  char* text_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t committed_ = 0;       // decoded text
  std::size_t filled_ = 0;          // UTF-8 only: bytes after committed_ read but not yet validated
  std::vector<std::uint8_t> raw_;   // undecoded bytes (the sample, or another encoding's input)
  std::uint64_t sourceOffset_ = 0;  // source bytes consumed by decoding, for messages
  bool stopped_ = false;            // decoding failed: no further reads
  std::optional<Error> decodeFailure_;
};

}  // namespace csv::detail
