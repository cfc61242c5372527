#include "csv/csv_parser.hpp"

#include <stdexcept>
#include <utility>

#include "csv/text_rules.hpp"
#include "decoder.hpp"
#include "encoding_detection.hpp"
#include "grapheme.hpp"
#include "parser_core.hpp"

namespace csv {

using detail::ParserCore;

static_assert(detail::TextSource::kPadding >= detail::Tokenizer::kReadableBefore &&
                  detail::TextSource::kPadding >= detail::Tokenizer::kReadableAfter,
              "the tokenizer reads around the text it is given");

CSVParser::CSVParser() = default;

CSVParser::~CSVParser() {
  if (!core_ || !core_->csvReadStream_) return;
  // A destructor must not throw, and a stream that fails to close has given all it will give.
  try {
    core_->csvReadStream_->close();
  } catch (...) {  // NOLINT(bugprone-empty-catch)
  }
}

std::unique_ptr<CSVParser> CSVParser::withStream(std::unique_ptr<InputStream> stream,
                                                 StringEncoding* usedEncoding, Error* error) {
  if (!stream) {
    setError(error, Error::csv(CSVErrorCodeInput, "Unable to open file for reading"));
    return nullptr;
  }
  std::unique_ptr<CSVParser> parser(new CSVParser());
  parser->core_ = std::make_unique<ParserCore>(std::move(stream));
  ParserCore& core = *parser->core_;
  InputStream& input = *core.csvReadStream_;
  input.open();
  const StreamStatus status = input.streamStatus();
  if (status != StreamStatusOpening && status != StreamStatusOpen &&
      status != StreamStatusReading) {
    Error failure = Error::csv(CSVErrorCodeInput, "Unable to open file for reading");
    if (std::optional<Error> cause = input.streamError()) {
      failure.underlying = std::make_shared<const Error>(std::move(*cause));
    }
    setError(error, std::move(failure));
    return nullptr;  // the destructor closes the stream
  }

  if (usedEncoding != nullptr && *usedEncoding != kEncodingNone) {
    // A given encoding is trusted: nothing is read yet and no byte-order mark is removed.
    core.fileEncoding_ = *usedEncoding;
    core.text_.setEncoding(core.fileEncoding_);
    return parser;
  }
  const std::span<const std::uint8_t> sample =
      core.text_.readSample(detail::kEncodingSampleSize, core.chunkSize_);
  if (!sample.empty()) {
    std::size_t markLength = 0;
    core.fileEncoding_ = detail::textEncodingForData(sample, &markLength,
                                                     sample.size() == detail::kEncodingSampleSize);
    core.text_.dropUndecoded(markLength);
  }
  core.text_.setEncoding(core.fileEncoding_);
  if (usedEncoding != nullptr) *usedEncoding = core.fileEncoding_;
  return parser;
}

std::unique_ptr<CSVParser> CSVParser::withStream(std::unique_ptr<InputStream> stream,
                                                 StringEncoding encoding, Error* error) {
  return withStream(std::move(stream), &encoding, error);
}

std::unique_ptr<CSVParser> CSVParser::withContentsOfCSVFile(const std::string& path,
                                                            StringEncoding* usedEncoding,
                                                            Error* error) {
  std::unique_ptr<CSVParser> parser =
      withStream(InputStream::withFileAtPath(path), usedEncoding, error);
  if (parser) parser->core_->csvFile_ = path;
  return parser;
}

std::unique_ptr<CSVParser> CSVParser::withContentsOfCSVFile(const std::string& path,
                                                            StringEncoding encoding, Error* error) {
  return withContentsOfCSVFile(path, &encoding, error);
}

std::unique_ptr<CSVParser> CSVParser::withCSVString(std::string_view text, StringEncoding encoding,
                                                    Error* error) {
  std::string why;
  std::optional<std::string> bytes = detail::encodeText(text, encoding, &why);
  if (!bytes) {
    setError(error, Error::csv(CSVErrorCodeInput, "Unable to convert the string: " + why));
    return nullptr;
  }
  // With no encoding named, the text is read back as the UTF-8 it was given in.
  const StringEncoding used = encoding == kEncodingNone ? kEncodingUTF8 : encoding;
  return withStream(InputStream::withData(std::move(*bytes)), used, error);
}

void CSVParser::setDelimiter(std::string_view delimiter) {
  if (core_->hasStarted_) {
    throw std::invalid_argument("You cannot set a delimiter after parsing has started");
  }
  requireValidDelimiter(delimiter);
  core_->delimiter_ = std::string(delimiter);
  core_->tokenizer_.setDelimiter(delimiter);
}

const std::string& CSVParser::delimiter() const { return core_->delimiter_; }

void CSVParser::parse() {
  ParserCore& core = *core_;
  // A callback that parsed again would start over on the text in flight, without end.
  if (core.hasStarted_) throw std::invalid_argument("parse() cannot be called during a parse");
  core.hasStarted_ = true;
  // Cleared however parse() ends, a delegate's exception included.
  struct ClearStarted {
    bool& flag;
    ~ClearStarted() { flag = false; }
  } clearStarted{core.hasStarted_};

  try {
    if (CSVParserDelegate* delegate = core.parserDelegate_) {
      delegate->didStartDocument(*this, core.csvFile_);
    }
    // The text goes to the tokenizer as it is decoded; what the tokenizer has finished with is
    // released before the next read, so memory stays bounded.
    detail::TextSource& text = core.text_;
    detail::Tokenizer& tokenizer = core.tokenizer_;
    const detail::TokenSink sink(*this, core.parserDelegate_);
    tokenizer.begin();
    while (!core.error_) {  // cancelParsing() sets it too
      const bool endOfInput = text.exhausted();
      const std::size_t passed = tokenizer.push(text.text(), endOfInput, sink);
      if (std::optional<Error> malformed = tokenizer.takeError()) {
        core.error_ = std::move(malformed);
        break;
      }
      if (core.error_) break;  // cancelled: nothing more is read
      if (endOfInput) {
        // Everything before a read or decoding failure has been handed out; now it counts.
        if (text.failure()) core.error_ = text.failure();
        break;
      }
      text.fill(passed, core.chunkSize_);
    }
    tokenizer.finish(sink);
    if (CSVParserDelegate* delegate = core.parserDelegate_) {
      if (core.error_) {
        delegate->didFailWithError(*this, *core.error_);
      } else {
        delegate->didEndDocument(*this, core.csvFile_);
      }
    }
  } catch (...) {
    // A callback's exception ends the parse for good, as a cancellation would: the fields of the
    // text in flight must not be handed out again by a later parse().
    core.tokenizer_.cancel();
    if (!core.error_) {
      Error stopped = Error::csv(CSVErrorCodeCancelled, "A delegate callback threw an exception");
      stopped.exception = std::current_exception();
      core.error_ = std::move(stopped);
    }
    throw;
  }
}

void CSVParser::cancelParsing() {
  core_->tokenizer_.cancel();
  // A failure already found (the malformed field whose line is being finished, a decoding
  // error) is what the caller needs to hear; the cancellation would hide it.
  if (!core_->error_) core_->error_ = Error::csv(CSVErrorCodeCancelled, std::nullopt);
}

CSVParserDelegate* CSVParser::parserDelegate() const { return core_->parserDelegate_; }

void CSVParser::setParserDelegate(CSVParserDelegate* delegate) {
  core_->parserDelegate_ = delegate;
}

std::uint32_t CSVParser::chunkSize() const { return core_->chunkSize_; }

void CSVParser::setChunkSize(std::uint32_t chunkSize) {
  if (chunkSize == 0) throw std::invalid_argument("The chunk size must be at least one byte");
  core_->chunkSize_ = chunkSize;
}

const std::optional<std::string>& CSVParser::csvFile() const { return core_->csvFile_; }

const std::optional<Error>& CSVParser::error() const { return core_->error_; }

StringEncoding CSVParser::fileEncoding() const { return core_->fileEncoding_; }

}  // namespace csv
