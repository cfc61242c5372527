// CSVWriter: turns values into comma-separated text, one field at a time, into a string or a file.
#pragma once

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

// Quotes a field when its text contains a newline character (U+000A-U+000D, U+0085, U+2028,
// U+2029), a double quote, a backslash or the delimiter; starts with "#", with a mark or joiner
// (which a reader would join to the delimiter), or with U+FEFF or NUL (which a reader's encoding
// detection would misread at the start of a file); or ends with a character that joins the one
// after it (Grapheme_Cluster_Break=Prepend, such as U+0600), which then gets a space before the
// closing quote to join instead of it. Inside quotes, quotes and backslashes are doubled. A line
// of one empty field is written as "" (a blank line would be skipped by a reader; a line of no
// fields is written as one, and reads back as nothing, or as one empty field when it is the
// document's first or last line). Lines end in "\n". Text is UTF-8 and is not validated. A
// Prepend right before a quote or backslash in a field or comment hides that character from a
// reader: such text cannot be written so that it reads back, and the Prepend is left out and
// recorded in error(). Nor can white space at a field's edges: a reader trims it, inside quotes
// too.
//
// Output goes to the file while it is open, and to stringValue() otherwise: a string writer, a
// file writer whose file could not be created, or after closeFile(). A failed write (a full
// disk) closes the file: a non-atomic file keeps the whole operations written before it, an
// atomic writer removes its temporary file and leaves the destination as it was, and the output
// from the failed write on collects in stringValue() (all of it when an atomic writer's final step
// fails). A pipe or socket whose reader has gone is such a failure too: no SIGPIPE reaches the
// program. Every such failure is kept in error().
// Output to a file in an encoding other than UTF-8 is converted piece by piece, without
// byte-order marks (stringValue() holds text, always UTF-8, whatever the encoding); a
// piece that cannot be converted without loss is left out and recorded in error(), and the
// writer carries on (a line's one field left out is written as "", as an empty one). Used by one
// thread at a time. Destroying a file writer closes it (a failure then goes to the diagnostic log),
// except that an atomic writer destroyed by an exception on its way through leaves the destination
// as it was.
class CSVWriter {
 public:
  // A file writer. Non-atomic: an existing file at `path` is replaced by an empty file at once.
  // Atomic: output goes to a temporary file beside `path` that replaces it in one step on
  // closeFile. Either way the new file keeps the old one's permissions (not its owner; an atomic
  // writer that cannot give them fails rather than replace the file with a more open one). A
  // path that is empty or holds a NUL byte is refused. A pipe, a device or a name for an open
  // file (/dev/stdout), even behind a link, is never replaced: the non-atomic writer writes to it
  // (to an open file after what it holds), the atomic one reports it; nor is a file this process
  // may not write (marked read-only). A name for this process's
  // own open file (/dev/stdout, /dev/fd/3) writes through that file, where its output stands.
  // Never null; a file that cannot be created or opened is recorded in error().
  static std::unique_ptr<CSVWriter> withCSVFile(const std::string& path, bool atomic);
  // A string writer: output collects in stringValue().
  static std::unique_ptr<CSVWriter> forWritingToString();

  ~CSVWriter();
  CSVWriter(const CSVWriter&) = delete;
  CSVWriter& operator=(const CSVWriter&) = delete;

  // Sets the one-character delimiter; throws std::invalid_argument once a field was written, or
  // for a delimiter that isValidDelimiter (text_rules.hpp) refuses.
  void setDelimiter(std::string_view delimiter);
  // The current delimiter ("," unless changed).
  const std::string& delimiter() const;
  // Sets the encoding code for later output; any code is accepted (unknown ones write nothing).
  // A file whose encoding cannot hold the delimiter fails at the next one; the text goes on in
  // stringValue().
  void setEncoding(StringEncoding encoding);
  // The encoding code: 0 until the first output, then 4 (UTF-8) unless one was set.
  StringEncoding encoding() const;

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
  // multi-line text becomes its own comment line, so no part of it can be read back as data; a
  // quote before ordinary text gets a backslash and a line starting with a mark a space after the
  // "#", without which a reader would refuse the document or take the line for a row (in an
  // encoding without a backslash such a quote is left out and recorded in error()). Right after
  // an empty line, where a reader takes a "#" line for a row, the comment is left out instead.
  void writeCommentLine(std::string_view comment);

  // Closes the file; an atomic writer then moves its result over the destination. Idempotent.
  void closeFile();
  // A copy of the text collected in memory so far; nullopt when nothing was collected.
  std::optional<std::string> stringValue() const;
  // The first failure of the file (opening, writing, finishing an atomic write), else the first
  // piece left out (not convertible, or not to be read back as written); nullopt when none.
  const std::optional<Error>& error() const;

  // Buffered mode (off by default): output to the file is held in memory and written in large
  // blocks, by flush() and at closeFile(). Without it every operation reaches the file, in one
  // write, before it returns.
  void setBuffered(bool buffered);
  // Writes any buffered output to the file; false when the file has failed (see error()).
  bool flush();

 private:
  CSVWriter();
  struct Impl;

  std::unique_ptr<Impl> impl_;
};

}  // namespace csv
