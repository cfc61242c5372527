// CSVParser: reads comma-separated text from a file, a stream or a string, in bounded memory, and
// reports its lines and fields to a CSVParserDelegate.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "csv/csv_parser_delegate.hpp"
#include "csv/error.hpp"
#include "csv/input_stream.hpp"
#include "csv/string_encoding.hpp"

namespace csv {

namespace detail {
struct ParserCore;
struct ParserAccess;
}  // namespace detail

// One parser reads one source once. The encoding is given by the caller or detected from a
// byte-order mark (see docs/csv_dialect.md); text is handed to the tokenizer one grapheme cluster
// at a time. Failures of input and malformed text end the parse with an Error (error(), and
// didFailWithError); misuse throws std::invalid_argument. Used by one thread at a time.
class CSVParser {
 public:
  // Bytes asked of the stream per read after construction.
  static constexpr std::uint32_t kDefaultChunkSize = 2048;

  // The designated factory: opens `stream`. A non-zero *usedEncoding is used as given; zero or
  // a null place asks for detection, and a non-null place receives the code settled on (0 for
  // an empty source). Null (and *error set) only when the stream does not open.
  static std::unique_ptr<CSVParser> withStream(std::unique_ptr<InputStream> stream,
                                               StringEncoding* usedEncoding,
                                               Error* error = nullptr);
  // As above with an encoding code (kEncodingNone = detect).
  static std::unique_ptr<CSVParser> withStream(std::unique_ptr<InputStream> stream,
                                               StringEncoding encoding, Error* error = nullptr);
  // Reads the file at `path`; csvFile() is then `path`.
  static std::unique_ptr<CSVParser> withContentsOfCSVFile(const std::string& path,
                                                          StringEncoding* usedEncoding,
                                                          Error* error = nullptr);
  // As above with an encoding code (kEncodingNone = detect).
  static std::unique_ptr<CSVParser> withContentsOfCSVFile(const std::string& path,
                                                          StringEncoding encoding,
                                                          Error* error = nullptr);
  // Reads UTF-8 `text` after converting it to `encoding` (kEncodingNone = UTF-8). Null, with
  // error code 1, when the text cannot be represented in that encoding.
  static std::unique_ptr<CSVParser> withCSVString(std::string_view text, StringEncoding encoding,
                                                  Error* error = nullptr);

  // Closes the stream.
  ~CSVParser();
  CSVParser(const CSVParser&) = delete;
  CSVParser& operator=(const CSVParser&) = delete;

  // Sets the one-character delimiter; throws std::invalid_argument while parse() runs, or for a
  // text that isValidDelimiter (text_rules.hpp) refuses.
  void setDelimiter(std::string_view delimiter);
  // The delimiter ("," unless changed).
  const std::string& delimiter() const;

  // Reads the source to its end (or first error, or cancellation), calling the delegate; an
  // exception from a callback passes through and ends the parse as a cancellation. Throws
  // std::invalid_argument when called from a callback.
  void parse();
  // From inside a delegate callback: stop after the current character with error code 3 (a
  // failure already found, whose line is being finished, stays the one reported).
  void cancelParsing();

  // The receiver of the callbacks; not owned, may be null (callbacks are then skipped).
  CSVParserDelegate* parserDelegate() const;
  // Sets the receiver of the callbacks; the parser does not keep it alive.
  void setParserDelegate(CSVParserDelegate* delegate);
  // Bytes asked of the stream per read (2048 after construction).
  std::uint32_t chunkSize() const;
  // Changes the read size from the next read on; throws std::invalid_argument for 0.
  void setChunkSize(std::uint32_t chunkSize);
  // The source file's path; nullopt for stream and string sources.
  const std::optional<std::string>& csvFile() const;
  // The error that stopped the last parse; nullopt while all is well.
  const std::optional<Error>& error() const;
  // The encoding every byte is decoded in; 0 when none was given and the source was empty.
  StringEncoding fileEncoding() const;

 private:
  friend struct detail::ParserAccess;
  CSVParser();

  std::unique_ptr<detail::ParserCore> core_;
};

}  // namespace csv
