// CSVWriter: turns values into comma-separated text, one field at a time, into a string or a file.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "csv/error.hpp"
#include "csv/string_encoding.hpp"
#include "csv/value.hpp"

namespace csv {

// A field list that may end early: writing stops at the first absent (nullopt) entry.
using OptionalValueList = std::vector<std::optional<Value>>;

// Quotes a field when its text contains a newline character, a double quote, a backslash or the
// delimiter, or starts with "#"; inside quotes, quotes and backslashes are doubled. Lines end in
// "\n". Used by one thread at a time. Destroying a file writer closes it (see closeFile).
class CSVWriter {
 public:
  // A file writer. Non-atomic: the file at `path` is replaced by an empty file at once. Atomic:
  // output goes to a temporary file beside `path` that replaces it in one step on closeFile.
  // Never null; a file that cannot be created or opened is recorded in error().
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
  // Sets the encoding code for later output; any code is accepted.
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
  // The first failure met (opening, writing, finishing an atomic write); nullopt when none.
  const std::optional<Error>& error() const { return error_; }

  // Buffered mode (off by default): output to the file is held in memory and written in large
  // blocks, by flush() and at closeFile(). Without it every operation reaches the file before it
  // returns.
  void setBuffered(bool buffered);
  // Writes any buffered output to the file; false when a write failed (see error()).
  bool flush();

 private:
  CSVWriter();
  struct FileState;

  void writeString(std::string_view piece);
  void endOperation();
  void recordError(Error error);

  std::unique_ptr<FileState> file_;  // null for a string writer
  std::optional<std::string> stringValue_;
  bool hasStarted_ = false;
  unsigned currentField_ = 0;
  StringEncoding encoding_ = kEncodingNone;
  std::string delimiter_;
  std::optional<Error> error_;
};

}  // namespace csv
