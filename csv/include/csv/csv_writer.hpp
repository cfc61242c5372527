// CSVWriter: turns values into comma-separated text, one field at a time, into a string or a file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "csv/error.hpp"
#include "csv/string_encoding.hpp"
#include "csv/value.hpp"

namespace csv {

namespace detail {
class ByteBuffer;
}

// A field list that may end early: writing stops at the first absent (nullopt) entry.
using OptionalValueList = std::vector<std::optional<Value>>;

// Quotes a field when its text contains a newline character (U+000A-U+000D, U+0085, U+2028,
// U+2029), a double quote, a backslash or the delimiter, or starts with "#"; inside quotes, quotes
// and backslashes are doubled. Lines end in "\n". Text is UTF-8 and is not validated.
//
// Output goes to the file while it is open, and to stringValue() otherwise: a string writer, a
// file writer whose file could not be created, or after closeFile(). A failed write (a full
// disk) closes the file: a non-atomic file keeps the whole operations written before it, an
// atomic writer removes its temporary file and leaves the destination as it was, and the output
// from the failed write on collects in stringValue(). Every such failure is kept in error().
// Output encodings other than UTF-8 are converted piece by piece, without byte-order marks; a
// piece that cannot be converted without loss is left out and recorded in error(), and the
// writer carries on. Used by one thread at a time. Destroying a file writer closes it.
class CSVWriter {
 public:
  // A file writer. Non-atomic: an existing file at `path` is replaced by an empty file at once.
  // Atomic: output goes to a temporary file beside `path` that replaces it in one step on
  // closeFile. Never null; a file that cannot be created or opened is recorded in error().
  static std::unique_ptr<CSVWriter> withCSVFile(const std::string& path, bool atomic);
  // A string writer: output collects in stringValue().
  static std::unique_ptr<CSVWriter> forWritingToString();

  ~CSVWriter();
  CSVWriter(const CSVWriter&) = delete;
  CSVWriter& operator=(const CSVWriter&) = delete;

  // Sets the one-character delimiter; throws std::invalid_argument once a field was written, or
  // for a delimiter that is not exactly one UTF-16 code unit or is a newline, '"', '#' or '\'.
  void setDelimiter(std::string_view delimiter);
  // The current delimiter ("," unless changed).
  const std::string& delimiter() const { return delimiter_; }
  // Sets the encoding code for later output; any code is accepted (unknown ones write nothing).
  void setEncoding(StringEncoding encoding) { encoding_ = encoding; }
  // The encoding code: 0 until the first output, then 4 (UTF-8) unless one was set.
  StringEncoding encoding() const { return encoding_; }

  // Writes one field, preceded by the delimiter when the line already has a field.
  void writeField(const Value& value);
  // Writes each value as a field up to the first absent one; does not end the line.
  void writeFields(const OptionalValueList& values);
  // Ends the current line with "\n".
  void writeLine();
  // Writes each value as a field, then ends the line (an empty list writes "\n" alone).
  void writeLineWithFields(const std::vector<Value>& values);
  // As writeLineWithFields for the values before the first absent one; nothing at all if none.
  void writeLineOfFields(const OptionalValueList& values);
  // Writes "#" and the text as a comment line, ending an open line first. Every line of a
  // multi-line text becomes its own comment line, so no part of it can be read back as data.
  void writeCommentLine(std::string_view comment);

  // Closes the file; an atomic writer then moves its result over the destination. Idempotent.
  void closeFile();
  // A copy of the text collected in memory so far; nullopt when nothing was collected.
  std::optional<std::string> stringValue() const;
  // The first failure of the file (opening, writing, finishing an atomic write), else the first
  // piece that could not be converted; nullopt when none.
  const std::optional<Error>& error() const { return error_; }

  // Buffered mode (off by default): output to the file is held in memory and written in large
  // blocks, by flush() and at closeFile(). Without it every operation reaches the file, in one
  // write, before it returns.
  void setBuffered(bool buffered);
  // Writes any buffered output to the file; false when the file has failed (see error()).
  bool flush();

 private:
  CSVWriter();
  struct FileState;

  detail::ByteBuffer* directBuffer() const;
  detail::ByteBuffer& beginPiece();
  void endPiece(detail::ByteBuffer& buffer);
  void writeString(std::string_view piece);
  void writeFieldPieces(const Value& value);
  void writeFieldText(std::string_view text);
  void appendField(detail::ByteBuffer& out, std::string_view text, bool withDelimiter) const;
  void writeLinePieces();
  void endOperation();
  bool copyIfPlain(std::string_view text, char* dest) const;
  bool writePending();
  void failFile(int errnoValue, std::string_view context);
  std::string fileLabel() const;  // the file in messages
  void recordError(Error error, bool fileFailure);

  std::unique_ptr<FileState> file_;                  // null for a string writer
  std::unique_ptr<detail::ByteBuffer> stringValue_;  // null while nothing was collected
  bool hasStarted_ = false;
  unsigned currentField_ = 0;
  StringEncoding encoding_ = kEncodingNone;
  std::string delimiter_;
  // illegalCharacters as a class per byte of UTF-8 text, and the ASCII delimiter in every byte
  // of a word (see copyIfPlain).
  std::array<std::uint8_t, 256> byteClass_{};
  std::uint64_t delimiterWord_ = 0;
  // Where output goes as UTF-8 without conversion while the encoding is directEncoding_; set by
  // beginPiece, cleared when the file closes.
  detail::ByteBuffer* direct_ = nullptr;
  StringEncoding directEncoding_ = kEncodingNone;
  std::optional<Error> error_;
  bool errorIsFileFailure_ = false;
};

}  // namespace csv
