// quorin-csv: the CSV library on the command line. Reads CSV and shows what the parser reports
// (events), the document it makes (rows, as JSON) or how big it is (count); writes CSV from JSON
// rows (write). Exit status: 0 done, 1 failure (bad input, unreadable or unwritable file), 2 usage.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_document.hpp"
#include "csv/csv_parser.hpp"
#include "csv/csv_parser_delegate.hpp"
#include "csv/csv_writer.hpp"
#include "csv/diagnostic_log.hpp"
#include "csv/error.hpp"
#include "csv/input_stream.hpp"
#include "csv/string_encoding.hpp"
#include "csv/text_rules.hpp"
#include "csv/value.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp = R"(Usage:
  quorin-csv events [--delimiter D] [--encoding E] [FILE|-]
  quorin-csv rows   [--delimiter D] [--encoding E] [FILE|-]
  quorin-csv count  [--delimiter D] [--encoding E] [FILE|-]
  quorin-csv write  [--delimiter D] [--atomic] [-o FILE]
  quorin-csv --help | --version

The CSV library of Quorin on the command line. Reading commands take FILE, or standard input
when FILE is "-" or missing (read as a stream, a piece at a time).

Commands:
  events  Prints every call the parser makes to its delegate, one per line, in order:
            startDocument
            startLine N
            field "<text as a JSON string>"
            endLine N
          and last either "endDocument" or "fail <code> <description as a JSON string, or null>".
  rows    Reads the whole document and prints it as one JSON array of arrays of strings
          (lines without a field are left out).
  count   Prints "<lines> <fields>": the number of lines and of fields the parser reported.
  write   Reads a JSON array of rows from standard input, each row an array of strings,
          numbers or booleans (written as 1 and 0), and writes them as CSV, one line each
          ending in "\n", to standard output or, with -o, to FILE. An element that is not an
          array fails with error 2, "Invalid array structure", and FILE is not touched.
          White space at a field's edges is written but not read back (readers trim it).

Options:
  --delimiter D   The field delimiter, one character below U+10000 (default ","); not a line
                  break, '#', '"', '\', U+FEFF, or a character that joins the one beside it
                  (a combining mark, joiner, Hangul jamo or syllable, or pictograph such as
                  U+00A9). A tab: --delimiter $'\t'.
  --encoding E    The encoding of the input: a number in the classic string-encoding numbering
                  (4 UTF-8, 30 Mac OS Roman, 0x90000100 UTF-16BE, 0x94000100 UTF-16LE,
                  0x98000100 UTF-32BE, 0x9C000100 UTF-32LE) or one of the names utf-8,
                  utf-16be, utf-16le, utf-32be, utf-32le, macroman; also 1 ASCII, 3 EUC-JP,
                  5 ISO Latin 1, 8 Shift JIS, 9 ISO Latin 2, 11-14 Windows-1251 to -1254,
                  15 Windows-1250, 21 ISO-2022-JP, and the classic numbers (0x80000203 ...) of
                  ISO 8859-3 to -16, Windows-1255 to -1258, GBK, GB 18030, EUC-CN, EUC-TW,
                  EUC-KR, KOI8-R, KOI8-U, Big 5 and Big 5 HKSCS. Without it (or with 0) the
                  encoding is detected from a byte-order mark, else UTF-8, else Mac OS Roman
                  (the locale's encoding when a first byte 00, FE or FF begins no mark, or EF
                  begins no mark and the text is not UTF-8).
  --atomic        (write -o) Write into a temporary file that replaces FILE only when complete.
  -o, --output FILE
                  (write) Write to FILE instead of standard output ("-" is standard
                  output). A FILE you may not write (marked read-only, to all but root) is
                  left alone.
  -h, --help      Shows this text.
  --version       Shows the version, "quorin-csv <version>".

Text output is UTF-8. When the encoding is detected without a byte-order mark, a note says what
was assumed. Failures print "quorin-csv: error <code>: <description>" to standard
error, followed by the cause in parentheses when one is known ("quorin-csv: <description>" for
a system's failure, such as a file that cannot be created). Exit status: 0 success,
1 failure, 2 usage error (unknown command or option, refused delimiter or encoding).
)";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command { kEvents, kRows, kCount, kWrite };

struct Options {
  Command command = Command::kEvents;
  std::string delimiter = ",";
  csv::StringEncoding encoding = csv::kEncodingNone;
  bool atomic = false;
  std::optional<std::string> output;
  std::optional<std::string> file;  // nullopt: standard input
};

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

// A number (decimal, or hexadecimal after "0x") or a name.
csv::StringEncoding parseEncoding(std::string_view text) {
  const std::string name = lower(text);
  struct Named {
    const char* name;
    csv::StringEncoding code;
  };
  static constexpr Named kNames[] = {
      {"utf-8", csv::kEncodingUTF8},         {"utf8", csv::kEncodingUTF8},
      {"utf-16be", csv::kEncodingUTF16BE},   {"utf-16le", csv::kEncodingUTF16LE},
      {"utf-32be", csv::kEncodingUTF32BE},   {"utf-32le", csv::kEncodingUTF32LE},
      {"macroman", csv::kEncodingMacOSRoman}};
  for (const Named& entry : kNames) {
    if (name == entry.name) return entry.code;
  }
  std::string_view digits = name;
  int base = 10;
  if (digits.starts_with("0x")) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  bool valid = !digits.empty() && digits.size() <= 10;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) {
      valid = false;
      break;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  if (!valid || value > 0xFFFFFFFFu) {
    throw UsageError("unknown encoding '" + std::string(text) +
                     "': give a number (4, 30, 0x90000100, ...) or one of utf-8, utf-16be, "
                     "utf-16le, utf-32be, utf-32le, macroman");
  }
  // A code the library cannot decode would only fail at the first byte, as if the input were bad.
  if (!csv::isSupportedEncoding(static_cast<csv::StringEncoding>(value))) {
    throw UsageError("unsupported encoding '" + std::string(text) + "'");
  }
  return static_cast<csv::StringEncoding>(value);
}

Options parseOptions(const std::vector<std::string_view>& args) {
  Options options;
  if (args.empty()) throw UsageError("no command given");
  const std::string_view command = args[0];
  if (command == "events") {
    options.command = Command::kEvents;
  } else if (command == "rows") {
    options.command = Command::kRows;
  } else if (command == "count") {
    options.command = Command::kCount;
  } else if (command == "write") {
    options.command = Command::kWrite;
  } else {
    throw UsageError("unknown command '" + std::string(command) + "'");
  }
  const bool reading = options.command != Command::kWrite;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      if (!reading)
        throw UsageError("write reads standard input; unexpected '" + std::string(arg) + "'");
      if (options.file) throw UsageError("more than one input file given");
      options.file = std::string(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value".
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const std::size_t eq = arg.find('=');
        arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return std::string(*inlineValue);
      if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
      return std::string(args[++i]);
    };
    if (name == "--delimiter") {
      options.delimiter = value();
    } else if (name == "--encoding" && reading) {
      options.encoding = parseEncoding(value());
    } else if (name == "--atomic" && !reading && !inlineValue) {
      options.atomic = true;
    } else if ((name == "-o" || name == "--output") && !reading) {
      options.output = value();
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "' for " + std::string(command));
    }
  }
  if (options.output && options.output->empty()) throw UsageError("-o needs a file name");
  if (options.file && options.file->empty()) throw UsageError("the input file name is empty");
  if (options.atomic && (!options.output || *options.output == "-")) {
    throw UsageError(options.output ? "--atomic needs -o FILE; standard output cannot be replaced"
                                    : "--atomic needs -o FILE");
  }
  // "-" is standard output, as it is standard input for the reading commands.
  if (options.output && *options.output == "-") options.output.reset();
  if (options.file && *options.file == "-") options.file.reset();
  return options;
}

// Standard output through one large buffer; a failure to write it is a failure of the command.
class Output {
 public:
  Output() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 20); }
  void write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }
  // True once a write failed (a closed pipe with SIGPIPE ignored, a full disk).
  static bool failed() { return std::ferror(stdout) != 0; }
  // False (with a message) when anything could not be written.
  bool finish() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      std::fprintf(stderr, "quorin-csv: cannot write standard output: %s\n", std::strerror(errno));
      return false;
    }
    return true;
  }
};

std::string jsonString(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// `text` fit for one line of a terminal or a log: control characters (a NUL, a line break, an
// escape sequence from the input) are shown as escapes, not obeyed; other text is as it is.
std::string oneLine(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// A JSON library message on one line, without its tag ("[json.exception.parse_error.101] ").
std::string untagged(const std::exception& e) {
  std::string what = e.what();
  if (const std::size_t tag = what.find("] "); what.starts_with("[json.") && tag != what.npos) {
    what.erase(0, tag + 2);
  }
  return oneLine(what);
}

int reportError(const csv::Error& error) {
  // A CSV error's code is documented; a system error's number means nothing to a reader, and its
  // description already says what went wrong with which file.
  std::string message = "quorin-csv: ";
  if (error.domain != csv::kPOSIXErrorDomain || !error.description) {
    message += "error " + std::to_string(error.code);
    if (error.description) message += ": ";
  }
  if (error.description) message += *error.description;
  // The cause (which file, and what the system said) is what a user can act on.
  for (const csv::Error* cause = error.underlying.get(); cause != nullptr;
       cause = cause->underlying.get()) {
    if (cause->description) message += " (" + *cause->description + ")";
  }
  std::fprintf(stderr, "%s\n", oneLine(message).c_str());
  return kExitFailure;
}

// Standard input as a stream: read as the parser asks, in large blocks, never all at once.
class StandardInputStream final : public csv::InputStream {
 public:
  void open() override {
    if (status_ == csv::StreamStatusNotOpen) status_ = csv::StreamStatusOpen;
  }
  csv::StreamStatus streamStatus() const override { return status_; }
  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ == csv::StreamStatusAtEnd) return 0;
    if (status_ != csv::StreamStatusOpen && status_ != csv::StreamStatusReading) return -1;
    if (begin_ == end_) {
      ssize_t count = 0;
      do {
        count = ::read(STDIN_FILENO, block_.data(), block_.size());
      } while (count < 0 && errno == EINTR);
      if (count < 0) {
        error_ = csv::Error::posix(errno, "cannot read standard input");
        status_ = csv::StreamStatusError;
        return -1;
      }
      if (count == 0) {
        status_ = csv::StreamStatusAtEnd;
        return 0;
      }
      begin_ = 0;
      end_ = static_cast<std::size_t>(count);
      status_ = csv::StreamStatusReading;
    }
    const std::size_t n = std::min(maxLength, end_ - begin_);
    std::memcpy(buffer, block_.data() + begin_, n);
    begin_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  std::optional<csv::Error> streamError() const override { return error_; }
  void close() override { status_ = csv::StreamStatusClosed; }

 private:
  csv::StreamStatus status_ = csv::StreamStatusNotOpen;
  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(64 * 1024);
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::optional<csv::Error> error_;
};

std::unique_ptr<csv::InputStream> openInput(const Options& options) {
  if (options.file) return csv::InputStream::withFileAtPath(*options.file);
  return std::make_unique<StandardInputStream>();
}

// Prints every delegate call as one line; stops the parse once the output cannot be written,
// rather than reading on to the end of a long input for nobody.
class EventPrinter final : public csv::CSVParserDelegate {
 public:
  explicit EventPrinter(Output& out) : out_(out) {}

  void didFailWithError(csv::CSVParser& parser, const csv::Error& error) override {
    emit(parser, "fail " + std::to_string(error.code) + " " +
                     (error.description ? jsonString(*error.description) : "null") + "\n");
  }
  void didEndDocument(csv::CSVParser& parser, const std::optional<std::string>& /*file*/) override {
    emit(parser, "endDocument\n");
  }
  void didReadField(csv::CSVParser& parser, std::string field) override {
    didReadFieldView(parser, field);
  }
  void didReadFieldView(csv::CSVParser& parser, std::string_view field) override {
    emit(parser, "field " + jsonString(field) + "\n");
  }
  void didEndLine(csv::CSVParser& parser, std::uint32_t line) override {
    emit(parser, "endLine " + std::to_string(line) + "\n");
  }
  void didStartLine(csv::CSVParser& parser, std::uint32_t line) override {
    emit(parser, "startLine " + std::to_string(line) + "\n");
  }
  void didStartDocument(csv::CSVParser& parser,
                        const std::optional<std::string>& /*file*/) override {
    emit(parser, "startDocument\n");
  }

 private:
  void emit(csv::CSVParser& parser, std::string_view line) {
    out_.write(line);
    if (Output::failed()) parser.cancelParsing();
  }
  Output& out_;
};

// Counts lines and fields. Each field is looked at (its length and last byte go into a sum the
// way the benchmark peers do it), so the count does the same work as any real consumer would.
class Counter final : public csv::CSVParserDelegate {
 public:
  void didFailWithError(csv::CSVParser& /*parser*/, const csv::Error& error) override {
    error_ = error;
  }
  void didEndDocument(csv::CSVParser& /*parser*/,
                      const std::optional<std::string>& /*file*/) override {}
  void didReadField(csv::CSVParser& parser, std::string field) override {
    didReadFieldView(parser, field);
  }
  void didReadFieldView(csv::CSVParser& /*parser*/, std::string_view field) override {
    ++fields_;
    checksum_ += field.size() + (field.empty() ? 0u : static_cast<unsigned char>(field.back()));
  }
  void didEndLine(csv::CSVParser& /*parser*/, std::uint32_t /*line*/) override { ++lines_; }
  void didStartLine(csv::CSVParser& /*parser*/, std::uint32_t /*line*/) override {}
  void didStartDocument(csv::CSVParser& /*parser*/,
                        const std::optional<std::string>& /*file*/) override {}

  std::uint64_t lines() const { return lines_; }
  std::uint64_t fields() const { return fields_; }
  std::uint64_t checksum() const { return checksum_; }
  const std::optional<csv::Error>& error() const { return error_; }

 private:
  std::uint64_t lines_ = 0;
  std::uint64_t fields_ = 0;
  std::uint64_t checksum_ = 0;
  std::optional<csv::Error> error_;
};

// A parser over the input with the options applied, or null after reporting why not.
std::unique_ptr<csv::CSVParser> openParser(const Options& options) {
  csv::Error error;
  std::unique_ptr<csv::CSVParser> parser =
      csv::CSVParser::withStream(openInput(options), options.encoding, &error);
  if (!parser) {
    reportError(error);
    return nullptr;
  }
  parser->setDelimiter(options.delimiter);
  return parser;
}

int runEvents(const Options& options) {
  std::unique_ptr<csv::CSVParser> parser = openParser(options);
  if (!parser) return kExitFailure;
  Output out;
  EventPrinter printer(out);
  parser->setParserDelegate(&printer);
  parser->parse();
  if (!out.finish()) return kExitFailure;
  // The failure is the last event printed; standard error says it too, with its cause.
  return parser->error() ? reportError(*parser->error()) : kExitOk;
}

int runCount(const Options& options) {
  std::unique_ptr<csv::CSVParser> parser = openParser(options);
  if (!parser) return kExitFailure;
  Counter counter;
  parser->setParserDelegate(&counter);
  parser->parse();
  if (counter.error()) return reportError(*counter.error());
  Output out;
  out.write(std::to_string(counter.lines()) + " " + std::to_string(counter.fields()) + "\n");
  return out.finish() ? kExitOk : kExitFailure;
}

int runRows(const Options& options) {
  csv::Error error;
  std::optional<csv::CSVLines> lines =
      options.file
          ? csv::withContentsOfCSVFile(*options.file, options.encoding, options.delimiter, &error)
          : csv::withContentsOfCSVStream(std::make_unique<StandardInputStream>(), options.encoding,
                                         options.delimiter, &error);
  // An unopenable source gives an empty list with the error set: that is a failure here too.
  if (!lines || error.code != 0) return reportError(error);
  Output out;
  std::string text = "[";
  for (std::size_t i = 0; i < lines->size(); ++i) {
    text += i == 0 ? "[" : ",[";
    const std::vector<std::string>& line = (*lines)[i];
    for (std::size_t j = 0; j < line.size(); ++j) {
      if (j > 0) text += ',';
      text += jsonString(line[j]);
    }
    text += ']';
    if (text.size() >= (1u << 16)) {
      out.write(text);
      text.clear();
    }
  }
  text += "]\n";
  out.write(text);
  return out.finish() ? kExitOk : kExitFailure;
}

// One JSON row element as a field value; nullopt for kinds a field cannot hold.
std::optional<csv::Value> fieldValue(const nlohmann::json& element) {
  switch (element.type()) {
    case nlohmann::json::value_t::string:
      return csv::Value(element.get_ref<const std::string&>());
    case nlohmann::json::value_t::boolean:
      return csv::Value(element.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return csv::Value(element.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      const auto number = element.get<std::uint64_t>();
      // Beyond the range of a signed field value the number is written as its digits.
      if (number > static_cast<std::uint64_t>(INT64_MAX)) return csv::Value(std::to_string(number));
      return csv::Value(static_cast<std::int64_t>(number));
    }
    case nlohmann::json::value_t::number_float:
      return csv::Value(element.get<double>());
    default:
      return std::nullopt;
  }
}

// Builds the document as nlohmann::json::parse does, but stops at a whole number beyond the
// 64-bit range (the parser would make it a double) and at a number too small for a double (it
// would be 0): the CSV would hold another number.
class ExactNumbers : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
 public:
  using json_sax_dom_parser::json_sax_dom_parser;
  bool number_float(double value, const std::string& text) {
    const std::size_t exponent = text.find_first_of("eE");
    const bool whole = exponent == std::string::npos && text.find('.') == std::string::npos;
    const bool vanished =
        value == 0 && text.substr(0, exponent).find_first_of("123456789") != std::string::npos;
    if (!whole && !vanished) return json_sax_dom_parser::number_float(value, text);
    outOfRange = text;
    return false;
  }
  std::string outOfRange;
};

// All of standard input, or nullopt after saying why it could not be read.
std::optional<std::string> readStandardInput() {
  StandardInputStream in;
  in.open();
  std::string input;
  std::uint8_t block[64 * 1024];
  for (std::ptrdiff_t count; (count = in.read(block, sizeof block)) != 0;) {
    if (count < 0) {
      std::fprintf(stderr, "quorin-csv: %s\n", in.streamError()->description->c_str());
      return std::nullopt;
    }
    input.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(count));
  }
  return input;
}

int runWrite(const Options& options) {
  const std::optional<std::string> input = readStandardInput();
  if (!input) return kExitFailure;
  // The JSON reader takes a NUL byte for the end of its input, and would ignore what follows;
  // JSON holds none (a string writes it as \u0000).
  if (const std::size_t nul = input->find('\0'); nul != std::string::npos) {
    // Counted from 0, as the reader counts the bytes it cannot read.
    std::fprintf(stderr, "quorin-csv: the input is not JSON: a NUL byte at byte %zu\n", nul);
    return kExitFailure;
  }
  nlohmann::json document;
  try {
    ExactNumbers builder(document);
    if (!nlohmann::json::sax_parse(input->begin(), input->end(), &builder)) {
      std::fprintf(stderr, "quorin-csv: a number in the input is out of range: %s\n",
                   builder.outOfRange.c_str());
      return kExitFailure;
    }
  } catch (const nlohmann::json::parse_error& e) {
    std::fprintf(stderr, "quorin-csv: the input is not JSON: %s\n", untagged(e).c_str());
    return kExitFailure;
  } catch (const nlohmann::json::out_of_range& e) {
    std::fprintf(stderr, "quorin-csv: a number in the input is out of range: %s\n",
                 untagged(e).c_str());
    return kExitFailure;
  }
  if (!document.is_array()) {
    std::fprintf(stderr, "quorin-csv: the input must be a JSON array of rows\n");
    return kExitFailure;
  }
  csv::ValueList rows;
  rows.reserve(document.size());
  for (std::size_t r = 0; r < document.size(); ++r) {
    const nlohmann::json& row = document[r];
    if (!row.is_array()) {
      // Any value that is not a list stands for it: the library's structure check names the
      // failure. (Serialising the element itself could exhaust the stack on deep nesting.)
      rows.emplace_back(std::string(row.type_name()));
      continue;
    }
    csv::ValueList fields;
    fields.reserve(row.size());
    for (std::size_t f = 0; f < row.size(); ++f) {
      std::optional<csv::Value> value = fieldValue(row[f]);
      if (!value) {
        std::fprintf(stderr,
                     "quorin-csv: row %zu, field %zu: a field must be a string, a number or a "
                     "boolean, not %s\n",
                     r + 1, f + 1, row[f].type_name());
        return kExitFailure;
      }
      fields.push_back(std::move(*value));
    }
    rows.emplace_back(std::move(fields));
  }

  csv::Error error;
  if (options.output) {
    if (!csv::writeToCSVFile(rows, *options.output, options.delimiter, options.atomic, &error)) {
      return reportError(error);
    }
    return kExitOk;
  }
  std::optional<std::string> text = csv::CSVStringWithDelimiter(rows, options.delimiter, &error);
  if (!text && error.code != 0) return reportError(error);
  Output out;
  if (text) out.write(*text);
  if (!out.finish()) return kExitFailure;
  // A piece left out: the rest is written, and the loss said.
  return error.code != 0 ? reportError(error) : kExitOk;
}

int run(const std::vector<std::string_view>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--") break;
    // The value of an option ("-o -h") is no request for help.
    if (arg == "--delimiter" || arg == "--encoding" || arg == "-o" || arg == "--output") {
      ++i;
      continue;
    }
    if (arg == "--help" || arg == "-h" || arg == "--version") {
      Output out;
      out.write(arg == "--version" ? std::string("quorin-csv ") + QUORIN_VERSION + "\n" : kHelp);
      return out.finish() ? kExitOk : kExitFailure;
    }
  }
  Options options;
  try {
    options = parseOptions(args);
    // A refused delimiter is a usage error, found before any input is read.
    csv::requireValidDelimiter(options.delimiter);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorin-csv: %s\nTry 'quorin-csv --help'.\n", e.what());
    return kExitUsage;
  } catch (const std::invalid_argument&) {
    // Shown escaped: an empty, invisible or line-breaking delimiter must still be seen. Bytes
    // that are no UTF-8 (typed in a Latin 1 terminal, say) are shown as bytes, not as the
    // replacement character, which is a delimiter of its own.
    std::string shown;
    try {
      shown = nlohmann::json(options.delimiter).dump(-1, ' ', true);
    } catch (const nlohmann::json::type_error&) {
      for (const char c : options.delimiter) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        shown += hex;
      }
      shown += " (not UTF-8, which options are read as)";
    }
    std::fprintf(stderr,
                 "quorin-csv: %s cannot be used as a delimiter (see --delimiter in --help)\n"
                 "Try 'quorin-csv --help'.\n",
                 shown.c_str());
    return kExitUsage;
  }
  try {
    switch (options.command) {
      case Command::kEvents:
        return runEvents(options);
      case Command::kRows:
        return runRows(options);
      case Command::kCount:
        return runCount(options);
      case Command::kWrite:
        return runWrite(options);
    }
  } catch (const std::invalid_argument& e) {
    // The library refuses a delimiter by throwing; that is the caller's mistake, a usage error.
    std::fprintf(stderr, "quorin-csv: %s\n", e.what());
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "quorin-csv: out of memory\n");
    return kExitFailure;
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // The library's notices (which encoding detection assumed) are worth seeing, marked as ours.
  csv::setDiagnosticSink([](std::string_view message) {
    std::fprintf(stderr, "quorin-csv: note: %s\n", oneLine(message).c_str());
  });
  try {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return run(args);
  } catch (const std::exception& e) {
    // run() reports what it expects; anything else still ends with a message, not an abort.
    std::fprintf(stderr, "quorin-csv: %s\n", e.what());
    return kExitFailure;
  }
}
