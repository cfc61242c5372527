#include "csv/csv_writer.hpp"

#include "byte_buffer.hpp"
#include "csv/durable_file.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace csv {
namespace {

// Buffered output is written once it reaches this size: large enough that the system call
// cost vanishes, small enough to stay in cache.
constexpr std::size_t kBlockSize = 256 * 1024;

// Classes of the bytes of UTF-8 field text for the quoting test.
constexpr std::uint8_t kPlain = 0;
constexpr std::uint8_t kAlwaysQuote = 1;  // an ASCII member of the illegal characters
constexpr std::uint8_t kMaybeQuote = 2;   // may start U+0085, U+2028, U+2029 or the delimiter

// Word-at-a-time byte tests (eight bytes in a 64-bit word); each tells whether any byte matches.
constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;
constexpr std::uint64_t hasZeroByte(std::uint64_t word) {
  return (word - kOnes) & ~word & kHighBits;
}
// Exact for n <= 128 as a test of existence.
constexpr std::uint64_t hasByteBelow(std::uint64_t word, std::uint8_t n) {
  return (word - kOnes * n) & ~word & kHighBits;
}

bool isNewline(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The one code point that `text` encodes in well-formed UTF-8; nullopt for anything else.
std::optional<char32_t> singleCodePoint(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t length = 0;
  char32_t c = 0;
  char32_t smallest = 0;
  if (p[0] < 0x80) {
    length = 1;
    c = p[0];
  } else if ((p[0] & 0xE0) == 0xC0) {
    length = 2;
    c = p[0] & 0x1Fu;
    smallest = 0x80;
  } else if ((p[0] & 0xF0) == 0xE0) {
    length = 3;
    c = p[0] & 0x0Fu;
    smallest = 0x800;
  } else if ((p[0] & 0xF8) == 0xF0) {
    length = 4;
    c = p[0] & 0x07u;
    smallest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() != length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (p[i] & 0x3Fu);
  }
  // Overlong forms and surrogates are not characters.
  if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return c;
}

// Length of the line break that `text` starts with, 0 when none. CR LF is one break.
std::size_t lineBreakLength(std::string_view text) {
  switch (static_cast<unsigned char>(text[0])) {
    case '\r':
      return text.size() > 1 && text[1] == '\n' ? 2 : 1;
    case '\n':
    case '\v':
    case '\f':
      return 1;
    case 0xC2:  // U+0085
      return text.starts_with("\xC2\x85") ? 2 : 0;
    case 0xE2:  // U+2028, U+2029
      return text.starts_with("\xE2\x80\xA8") || text.starts_with("\xE2\x80\xA9") ? 3 : 0;
    default:
      return 0;
  }
}

const char* iconvName(StringEncoding encoding) {
  switch (encoding) {
    case kEncodingUTF8:
      return "UTF-8";
    case kEncodingMacOSRoman:
      return "MACINTOSH";
    // The byte order is in the name, so iconv writes no byte-order mark.
    case kEncodingUTF16BE:
      return "UTF-16BE";
    case kEncodingUTF16LE:
      return "UTF-16LE";
    case kEncodingUTF32BE:
      return "UTF-32BE";
    case kEncodingUTF32LE:
      return "UTF-32LE";
    default:
      return nullptr;
  }
}

std::string encodingLabel(StringEncoding encoding) {
  const char* name = iconvName(encoding);
  return name != nullptr ? std::string(name) : "code " + std::to_string(encoding);
}

// Appends `in` converted through `cd` to `out`; without loss or not at all. Returns 0 or the
// errno value of the failure.
int convertAppend(iconv_t cd, std::string_view in, detail::ByteBuffer& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const std::size_t start = out.size();
  // Four output bytes per input byte covers UTF-8 to UTF-32; E2BIG asks for more anyway.
  std::size_t room = in.size() * 4 + 16;
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  for (;;) {
    char* const begin = out.reserve(room);
    char* outPtr = begin;
    std::size_t outLeft = room;
    const std::size_t result = iconv(cd, inLeft > 0 ? &inPtr : nullptr, &inLeft, &outPtr, &outLeft);
    const int failure = result == static_cast<std::size_t>(-1) ? errno : 0;
    out.commit(static_cast<std::size_t>(outPtr - begin));
    if (failure == E2BIG) {
      room *= 2;
      continue;
    }
    // A positive result counts characters converted with loss (a substitute was written).
    if (failure != 0 || result != 0) {
      out.truncate(start);
      return failure != 0 ? failure : EILSEQ;
    }
    if (inLeft == 0) return 0;
  }
}

// A cached iconv descriptor from UTF-8 to one output encoding.
class Converter {
 public:
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() { reset(); }

  // Appends `text` converted to `encoding` to `out`; returns 0 or the errno value of a failure
  // (EINVAL for an encoding without a converter), leaving `out` unchanged.
  int append(StringEncoding encoding, std::string_view text, detail::ByteBuffer& out) {
    if (cd_ == kNone || encoding != encoding_) {
      reset();
      const char* name = iconvName(encoding);
      if (name == nullptr) return EINVAL;
      cd_ = iconv_open(name, "UTF-8");
      if (cd_ == kNone) return errno;
      encoding_ = encoding;
    }
    return convertAppend(cd_, text, out);
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

  void reset() {
    if (cd_ != kNone) iconv_close(cd_);
    cd_ = kNone;
  }

  iconv_t cd_ = kNone;
  StringEncoding encoding_ = kEncodingNone;
};

// Appends bytes in `encoding` to `text` as UTF-8; they came from UTF-8, so this is lossless.
void appendAsUTF8(StringEncoding encoding, std::string_view bytes, detail::ByteBuffer& text) {
  if (encoding == kEncodingUTF8) {
    text.append(bytes);
    return;
  }
  const char* name = iconvName(encoding);
  if (name == nullptr) return;
  const iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return;
  convertAppend(cd, bytes, text);
  iconv_close(cd);
}

}  // namespace

struct CSVWriter::FileState {
  std::string destinationFile;
  std::unique_ptr<durable::AtomicFile> atomic;  // the new file in atomic mode, else null
  bool buffered = false;
  bool failed = false;  // opening, writing or finishing failed: the file is not to be trusted
  int fd = -1;
  detail::ByteBuffer pending;  // bytes of the operation (or block) not yet written
  StringEncoding pendingEncoding = kEncodingUTF8;
  off_t committed = 0;         // bytes written before `pending`
  detail::ByteBuffer scratch;  // one piece of text before conversion
  Converter converter;
};

CSVWriter::CSVWriter() { setDelimiter(","); }

CSVWriter::~CSVWriter() { closeFile(); }

std::unique_ptr<CSVWriter> CSVWriter::forWritingToString() {
  return std::unique_ptr<CSVWriter>(new CSVWriter());
}

std::unique_ptr<CSVWriter> CSVWriter::withCSVFile(const std::string& path, bool atomic) {
  std::unique_ptr<CSVWriter> writer(new CSVWriter());
  writer->file_ = std::make_unique<FileState>();
  FileState& f = *writer->file_;
  f.destinationFile = path;
  int openError = 0;
  if (atomic) {
    f.atomic = std::make_unique<durable::AtomicFile>(path);
    f.fd = f.atomic->fd();
    struct stat old {};
    if (f.fd >= 0 && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
      // The replacement keeps the old file's permissions (a private log stays private).
      f.atomic->setMode(old.st_mode);
    }
  } else {
    // An existing file or link is replaced by a new empty file. A device, pipe or folder is
    // never removed: opening it reports or writes, as the caller asked.
    struct stat old {};
    if (::lstat(path.c_str(), &old) == 0 && (S_ISREG(old.st_mode) || S_ISLNK(old.st_mode))) {
      (void)::unlink(path.c_str());
    }
    // O_NONBLOCK: a pipe without a reader fails instead of hanging.
    f.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    openError = errno;
    if (f.fd >= 0) {
      const int flags = ::fcntl(f.fd, F_GETFL);
      if (flags >= 0) (void)::fcntl(f.fd, F_SETFL, flags & ~O_NONBLOCK);
    }
  }
  if (f.fd < 0) {
    f.failed = true;
    if (f.atomic) {
      writer->recordError(*f.atomic->failure(), true);
    } else {
      writer->recordError(Error::posix(openError, "cannot create " + path), true);
    }
  }
  return writer;
}

void CSVWriter::setDelimiter(std::string_view delimiter) {
  if (hasStarted_) {
    throw std::invalid_argument("You cannot set a delimiter after writing has started");
  }
  // One UTF-16 code unit: a single code point below U+10000.
  const std::optional<char32_t> c = singleCodePoint(delimiter);
  if (!c || *c >= 0x10000 || isNewline(*c) || *c == '"' || *c == '#' || *c == '\\') {
    throw std::invalid_argument(std::string(delimiter) + " cannot be used as a delimiter");
  }
  delimiter_.assign(delimiter);

  byteClass_.fill(kPlain);
  for (const unsigned char special : {'\n', '\v', '\f', '\r', '"', '\\'}) {
    byteClass_[special] = kAlwaysQuote;
  }
  byteClass_[0xC2] = kMaybeQuote;
  byteClass_[0xE2] = kMaybeQuote;
  const auto lead = static_cast<unsigned char>(delimiter_[0]);
  byteClass_[lead] = delimiter_.size() == 1 ? kAlwaysQuote : kMaybeQuote;
  // A non-ASCII delimiter is caught by the test for bytes from 0x80 up.
  delimiterWord_ = kOnes * (delimiter_.size() == 1 ? lead : '"');
}

// One pass over the bytes, copying as it goes, eight at a time: a word with nothing that can
// matter (no byte below 0x0E, which takes in the ASCII newlines with the other controls as
// harmless extras; no quote, backslash or ASCII delimiter; no byte from 0x80 up) is passed at
// once. The bytes of any other word are settled by the table; only a byte that can begin U+0085,
// U+2028, U+2029 or a non-ASCII delimiter looks at what follows. UTF-8 never starts a character
// inside another, so matching at such a byte is exact.
bool CSVWriter::copyIfPlain(std::string_view text, char* dest) const {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (n > 0 && p[0] == '#') return false;
  auto bytesArePlain = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const std::uint8_t c = byteClass_[p[i]];
      if (c == kPlain) continue;
      if (c == kAlwaysQuote) return false;
      const std::string_view rest = text.substr(i);
      if (lineBreakLength(rest) > 0) return false;
      if (delimiter_.size() > 1 && rest.starts_with(delimiter_)) return false;
    }
    return true;
  };
  auto copyWord = [&](std::size_t at) {
    std::uint64_t word = 0;
    std::memcpy(&word, p + at, sizeof word);
    std::memcpy(dest + at, &word, sizeof word);
    const std::uint64_t mayMatter =
        (word & kHighBits) | hasByteBelow(word, 0x0E) | hasZeroByte(word ^ (kOnes * '"')) |
        hasZeroByte(word ^ (kOnes * '\\')) | hasZeroByte(word ^ delimiterWord_);
    return mayMatter == 0 || bytesArePlain(at, at + 8);
  };
  if (n < 8) {
    for (std::size_t i = 0; i < n; ++i) dest[i] = text[i];
    return bytesArePlain(0, n);
  }
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if (!copyWord(i)) return false;
  }
  // The last word overlaps bytes already passed, which changes nothing.
  return i == n || copyWord(n - 8);
}

void CSVWriter::appendField(detail::ByteBuffer& out, std::string_view text,
                            bool withDelimiter) const {
  const std::size_t d = withDelimiter ? delimiter_.size() : 0;
  // Room for the worst case: every byte doubled, and two quotes.
  char* const begin = out.reserve(d + 2 * text.size() + 2);
  for (std::size_t k = 0; k < d; ++k) begin[k] = delimiter_[k];
  if (copyIfPlain(text, begin + d)) {
    out.commit(d + text.size());
    return;
  }
  // Quotes doubled, then backslashes doubled; neither adds the other, so one pass does both.
  char* end = begin + d;
  *end++ = '"';
  for (const char c : text) {
    *end++ = c;
    if (c == '"' || c == '\\') *end++ = c;
  }
  *end++ = '"';
  out.commit(static_cast<std::size_t>(end - begin));
}

detail::ByteBuffer* CSVWriter::directBuffer() const {
  return encoding_ == directEncoding_ ? direct_ : nullptr;
}

detail::ByteBuffer& CSVWriter::beginPiece() {
  if (encoding_ == kEncodingNone) encoding_ = kEncodingUTF8;
  direct_ = nullptr;
  directEncoding_ = encoding_;
  if (file_ && file_->fd >= 0) {
    FileState& f = *file_;
    if (encoding_ != f.pendingEncoding) {
      // Pending bytes stay in one encoding, so that a failed write can turn them back into text.
      if (!f.pending.empty()) writePending();
      f.pendingEncoding = encoding_;
    }
    if (f.fd >= 0) {
      if (encoding_ == kEncodingUTF8) {
        direct_ = &f.pending;
        return f.pending;
      }
      f.scratch.clear();
      return f.scratch;
    }
  }
  if (!stringValue_) stringValue_ = std::make_unique<detail::ByteBuffer>();
  direct_ = stringValue_.get();  // collected text is UTF-8, whatever the encoding
  return *stringValue_;
}

void CSVWriter::endPiece(detail::ByteBuffer& buffer) {
  if (!file_ || &buffer != &file_->scratch) return;
  FileState& f = *file_;
  const int failure = f.converter.append(encoding_, buffer.view(), f.pending);
  if (failure != 0 && !error_) {
    // Left out, not fatal: the rest of the output is still worth having.
    recordError(Error::posix(failure, "cannot convert output to " + encodingLabel(encoding_) +
                                          "; a piece was left out"),
                false);
  }
}

void CSVWriter::writeString(std::string_view piece) {
  if (detail::ByteBuffer* out = directBuffer()) {
    out->append(piece);
    return;
  }
  detail::ByteBuffer& buffer = beginPiece();
  buffer.append(piece);
  endPiece(buffer);
}

void CSVWriter::writeField(const Value& value) {
  writeFieldPieces(value);
  endOperation();
}

void CSVWriter::writeFieldPieces(const Value& value) {
  hasStarted_ = true;
  if (const std::string* text = value.text()) {
    writeFieldText(*text);
  } else {
    writeFieldText(value.description());
  }
}

void CSVWriter::writeFieldText(std::string_view text) {
  if (detail::ByteBuffer* out = directBuffer()) {
    // Nothing to convert: delimiter and field go straight to their place.
    appendField(*out, text, currentField_ > 0);
  } else {
    if (currentField_ > 0) writeString(delimiter_);
    detail::ByteBuffer& buffer = beginPiece();
    appendField(buffer, text, false);
    endPiece(buffer);
  }
  ++currentField_;
}

void CSVWriter::writeFields(const OptionalValueList& values) {
  for (const std::optional<Value>& value : values) {
    if (!value) break;
    writeFieldPieces(*value);
  }
  endOperation();
}

void CSVWriter::writeLine() {
  writeLinePieces();
  endOperation();
}

void CSVWriter::writeLinePieces() {
  writeString("\n");
  currentField_ = 0;
}

void CSVWriter::writeLineWithFields(const std::vector<Value>& values) {
  for (const Value& value : values) writeFieldPieces(value);
  writeLinePieces();
  endOperation();
}

void CSVWriter::writeLineOfFields(const OptionalValueList& values) {
  if (values.empty() || !values.front()) return;
  for (const std::optional<Value>& value : values) {
    if (!value) break;
    writeFieldPieces(*value);
  }
  writeLinePieces();
  endOperation();
}

void CSVWriter::writeCommentLine(std::string_view comment) {
  if (currentField_ > 0) writeLinePieces();
  // Every line of the text gets its own "#": a break inside a comment must not start a row.
  std::size_t start = 0;
  std::size_t i = 0;
  for (;;) {
    const std::size_t breakLength = i < comment.size() ? lineBreakLength(comment.substr(i)) : 0;
    if (i < comment.size() && breakLength == 0) {
      ++i;
      continue;
    }
    writeString("#");
    writeString(comment.substr(start, i - start));
    writeLinePieces();
    if (i >= comment.size()) break;
    i += breakLength;
    start = i;
  }
  endOperation();
}

void CSVWriter::endOperation() {
  if (!file_ || file_->fd < 0 || file_->pending.empty()) return;
  if (!file_->buffered || file_->pending.size() >= kBlockSize) writePending();
}

bool CSVWriter::writePending() {
  FileState& f = *file_;
  // One write for the whole operation (or block), so that a completed operation is in the file
  // and a reader never sees half of one.
  const char* data = f.pending.view().data();
  std::size_t left = f.pending.size();
  while (left > 0) {
    const ssize_t written = ::write(f.fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int failure = written < 0 ? errno : EIO;
      failFile(failure, "cannot write " + fileLabel());
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  f.committed += static_cast<off_t>(f.pending.size());
  f.pending.clear();
  return true;
}

void CSVWriter::failFile(int errnoValue, std::string_view context) {
  FileState& f = *file_;
  recordError(Error::posix(errnoValue, context), true);
  f.failed = true;
  if (f.atomic) {
    // The destination was never touched; the incomplete new file is of no use.
    f.atomic->abort();
  } else {
    // Cut off what a failed write left of the block, so the file ends after a whole operation.
    // If even that fails, the error above already says the file is not to be trusted.
    (void)::ftruncate(f.fd, f.committed);
    (void)::close(f.fd);
  }
  f.fd = -1;
  direct_ = nullptr;
  // Nothing is lost: the unwritten block, as text, and all later output go to stringValue.
  if (!stringValue_) stringValue_ = std::make_unique<detail::ByteBuffer>();
  appendAsUTF8(f.pendingEncoding, f.pending.view(), *stringValue_);
  f.pending.clear();
}

void CSVWriter::recordError(Error error, bool fileFailure) {
  // The first failure is kept, except that a failure of the file outranks a conversion notice.
  if (error_ && (errorIsFileFailure_ || !fileFailure)) return;
  error_ = std::move(error);
  errorIsFileFailure_ = fileFailure;
}

void CSVWriter::closeFile() {
  if (!file_ || file_->fd < 0) return;
  FileState& f = *file_;
  if (!f.pending.empty() && !writePending()) return;
  if (f.atomic) {
    // Synced, then put in place in one step, then the folder synced: a crash leaves either the
    // old destination or the whole new one.
    f.fd = -1;
    direct_ = nullptr;
    if (durable::Failure failure = f.atomic->commit(true)) {
      f.failed = true;
      f.atomic->abort();
      recordError(std::move(*failure), true);
    }
    return;
  }
  const int fd = std::exchange(f.fd, -1);
  direct_ = nullptr;
  if (::close(fd) != 0 && errno != EINTR) {
    f.failed = true;
    recordError(Error::posix(errno, "cannot close " + f.destinationFile), true);
  }
}

std::string CSVWriter::fileLabel() const {
  return file_->atomic ? "the new " + file_->destinationFile : file_->destinationFile;
}

std::optional<std::string> CSVWriter::stringValue() const {
  if (!stringValue_) return std::nullopt;
  return std::string(stringValue_->view());
}

void CSVWriter::setBuffered(bool buffered) {
  if (!file_) return;
  file_->buffered = buffered;
  if (!buffered) flush();
}

bool CSVWriter::flush() {
  if (!file_) return true;
  if (file_->fd >= 0 && !file_->pending.empty()) writePending();
  return !file_->failed;
}

}  // namespace csv
