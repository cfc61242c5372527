#include "csv/csv_writer.hpp"

#include "byte_buffer.hpp"
#include "csv/diagnostic_log.hpp"
#include "csv/durable_file.hpp"
#include "csv/text_rules.hpp"
#include "decoder.hpp"
#include "grapheme.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
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

// True when `text` starts with a mark or a joiner: a reader that takes characters as a person
// sees them would join it to the delimiter, "#" or quote before it.
bool startsWithJoiningCharacter(std::string_view text) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  if (text.empty() || p[0] < 0x80) return false;
  bool invalid = false;
  return detail::validUTF8Prefix(p, std::min<std::size_t>(text.size(), 4), &invalid) >=
             detail::utf8Length(p[0]) &&
         detail::characterHasFlag(text.data(), detail::kJoinsPrevious);
}

// The length of the character that ends `text` when it joins the one after it (a Prepend such as
// U+0600), else 0; *cp is set to it. Such a character would swallow the delimiter or the closing
// quote after the field, and with it the rows up to the next quote.
std::size_t trailingPrependLength(std::string_view text, char32_t* cp = nullptr) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t n = text.size();
  if (n == 0 || p[n - 1] < 0x80) return 0;
  std::size_t start = n - 1;
  while (start > 0 && n - start < 4 && (p[start] & 0xC0) == 0x80) --start;
  bool invalid = false;
  if (detail::validUTF8Prefix(p + start, n - start, &invalid) != n - start) return 0;
  std::size_t length = 0;
  const char32_t character = detail::decodeUTF8(text.data() + start, &length);
  if (!detail::isPrepend(character)) return 0;
  if (cp != nullptr) *cp = character;
  return n - start;
}
bool endsWithPrepend(std::string_view text) { return trailingPrependLength(text) > 0; }

// A piece left out of valid text, in the system's domain (EILSEQ) but in words of its own: the
// system's text for EILSEQ would blame the input's encoding.
Error leftOutError(std::string description) {
  Error error = Error::posix(EILSEQ, {});
  error.description = std::move(description);
  return error;
}

// The failure noted when a Prepend character is left out: right before a quote or backslash it
// would join it and hide it from a reader, which then misreads the rest of the document.
Error hiddenCharacterError(char32_t prepend) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(prepend));
  return leftOutError(std::string("cannot write ") + code +
                      " right before a quote or backslash so that it reads back (a reader joins "
                      "the two); it was left out");
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

// Appends bytes in `encoding` to `text` as UTF-8; they came from UTF-8, so this is lossless.
void appendAsUTF8(StringEncoding encoding, std::string_view bytes, detail::ByteBuffer& text) {
  const std::unique_ptr<detail::Decoder> decoder = detail::makeDecoder(encoding);
  if (!decoder) {
    text.append(bytes);
    return;
  }
  char* out = text.reserve(decoder->maxOutput(bytes.size()));
  const detail::DecodeResult r =
      decoder->decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out);
  text.commit(r.produced);
}

}  // namespace

struct FileState {
  std::string destinationFile;
  std::unique_ptr<durable::AtomicFile> atomic;  // the new file in atomic mode, else null
  bool buffered = false;
  bool failed = false;      // opening, writing or finishing failed: the file is not to be trusted
  bool truncatable = true;  // a failed write may be cut back (the writer's own file)
  bool regular = true;      // a regular file, not a pipe, socket or device
  int fd = -1;
  detail::ByteBuffer pending;  // bytes of the operation (or block) not yet written
  StringEncoding pendingEncoding = kEncodingUTF8;
  off_t committed = 0;                       // bytes written before `pending`
  detail::ByteBuffer scratch;                // one piece of text before conversion
  std::unique_ptr<detail::Encoder> encoder;  // for encoderEncoding
  StringEncoding encoderEncoding = kEncodingNone;
  std::string encoded;  // one piece after conversion
};

struct CSVWriter::Impl {
  Impl() { setDelimiter(","); }

  void setDelimiter(std::string_view delimiter);
  void writeField(const Value& value);
  void writeFields(const OptionalValueList& values);
  void writeLine();
  void writeLineWithFields(const std::vector<Value>& values);
  void writeLineOfFields(const OptionalValueList& values);
  void writeCommentLine(std::string_view comment);
  void writeCommentText(std::string_view line);
  void closeFile();
  void closeOnDestruction(bool unwinding);
  std::optional<std::string> stringValue() const;
  void setBuffered(bool buffered);
  bool flush();

  detail::ByteBuffer* directBuffer() const;
  detail::ByteBuffer& beginPiece();
  bool endPiece(detail::ByteBuffer& buffer);  // false: the piece was left out
  void writeString(std::string_view piece);
  void writeFieldPieces(const Value& value);
  void writeFieldText(std::string_view text);
  // Returns the Prepend character left out before a quote or backslash, or 0.
  char32_t appendField(detail::ByteBuffer& out, std::string_view text, bool withDelimiter) const;
  bool canEncode(std::string_view piece);
  void writeLinePieces();
  void endOperation();
  bool copyIfPlain(std::string_view text, char* dest) const;
  bool writePending();
  void failFile(int errnoValue, std::string_view context);
  void failFile(Error error);
  // The delimiter between two fields; a file that cannot hold it fails (see failFile).
  void writeDelimiter();
  std::string fileLabel() const;  // the file in messages
  void recordError(Error error, bool fileFailure);

  std::unique_ptr<FileState> file_;                  // null for a string writer
  std::unique_ptr<detail::ByteBuffer> stringValue_;  // null while nothing was collected
  bool hasStarted_ = false;
  unsigned currentField_ = 0;
  bool onlyFieldEmpty_ = false;  // the line so far is one empty field
  // Line ends written since the last text: two mean the output ends in a blank line.
  unsigned lineEndsInARow_ = 0;
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
  int exceptionsAtStart_ = std::uncaught_exceptions();
};

CSVWriter::CSVWriter() : impl_(std::make_unique<Impl>()) {}

CSVWriter::~CSVWriter() {
  // An exception on its way through the caller (the rows' source failed part way) leaves an
  // atomic writer without its whole document, which must not replace the destination.
  impl_->closeOnDestruction(std::uncaught_exceptions() > impl_->exceptionsAtStart_);
}

void CSVWriter::setDelimiter(std::string_view delimiter) { impl_->setDelimiter(delimiter); }
const std::string& CSVWriter::delimiter() const { return impl_->delimiter_; }
void CSVWriter::setEncoding(StringEncoding encoding) { impl_->encoding_ = encoding; }
StringEncoding CSVWriter::encoding() const { return impl_->encoding_; }
void CSVWriter::writeField(const Value& value) { impl_->writeField(value); }
void CSVWriter::writeFields(const OptionalValueList& values) { impl_->writeFields(values); }
void CSVWriter::writeLine() { impl_->writeLine(); }
void CSVWriter::writeLineWithFields(const std::vector<Value>& values) {
  impl_->writeLineWithFields(values);
}
void CSVWriter::writeLineOfFields(const OptionalValueList& values) {
  impl_->writeLineOfFields(values);
}
void CSVWriter::writeCommentLine(std::string_view comment) { impl_->writeCommentLine(comment); }
void CSVWriter::closeFile() { impl_->closeFile(); }
std::optional<std::string> CSVWriter::stringValue() const { return impl_->stringValue(); }
const std::optional<Error>& CSVWriter::error() const { return impl_->error_; }
void CSVWriter::setBuffered(bool buffered) { impl_->setBuffered(buffered); }
bool CSVWriter::flush() { return impl_->flush(); }

std::unique_ptr<CSVWriter> CSVWriter::forWritingToString() {
  return std::unique_ptr<CSVWriter>(new CSVWriter());
}

namespace {
// What stands at `path` for the plain writer: whether it may remove it before creating its new
// file (a regular file, a link to one, a dangling link), and the mode of the file it replaces.
struct OldFile {
  bool replaceable = false;
  std::optional<mode_t> mode;
};
OldFile oldFileAt(const std::string& path) {
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) return {};
  if (S_ISREG(entry.st_mode)) return {true, entry.st_mode};
  if (!S_ISLNK(entry.st_mode)) return {};
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return {true, std::nullopt};
  return S_ISREG(target.st_mode) ? OldFile{true, target.st_mode} : OldFile{};
}
// Whether `fd` is a regular file; errno is kept for the caller's report.
bool isRegularFile(int fd) {
  const int saved = errno;
  struct stat status {};
  const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  errno = saved;
  return regular;
}

// A pipe or socket whose reader has gone answers a write with EPIPE, which the writer reports,
// and raises SIGPIPE, which would end the calling program. While one of these lives, this thread
// holds SIGPIPE back, and takes back one that its writes raised.
class HeldSigpipe {
 public:
  HeldSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~HeldSigpipe() {
    sigset_t pending;
    if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{};
      (void)sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  HeldSigpipe(const HeldSigpipe&) = delete;
  HeldSigpipe& operator=(const HeldSigpipe&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool wasPending_ = false;
};

// Whether a path can name a file at all: the system would read one with a NUL byte only up to
// it, and so write another file than the one named.
bool namesAFile(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}
}  // namespace

std::unique_ptr<CSVWriter> CSVWriter::withCSVFile(const std::string& path, bool atomic) {
  std::unique_ptr<CSVWriter> writer(new CSVWriter());
  Impl& w = *writer->impl_;
  w.file_ = std::make_unique<FileState>();
  FileState& f = *w.file_;
  f.destinationFile = path;
  int openError = 0;
  if (!namesAFile(path)) {
    f.failed = true;
    w.recordError(Error::posix(path.empty() ? ENOENT : EINVAL,
                               path.empty() ? "cannot create a file without a name"
                                            : "cannot create a file whose name holds a NUL byte"),
                  true);
    return writer;
  }
  if (atomic) {
    f.atomic = std::make_unique<durable::AtomicFile>(path);
    f.fd = f.atomic->fd();
    struct stat old {};
    if (f.fd >= 0 && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        !f.atomic->setMode(old.st_mode)) {
      // The replacement keeps the old file's permissions (a private log stays private); one it
      // could not give them would open the file to others: the old file stays instead.
      f.fd = -1;
      f.failed = true;
      w.recordError(
          Error::posix(errno, "cannot give the new " + path + " the old file's permissions"), true);
      f.atomic->abort();
      return writer;
    }
  } else {
    // An existing file or link is replaced by a new empty file, which keeps the old file's
    // permissions (a private file stays private; it is created private until they are set). A
    // device, pipe or folder, or a link to one, is never removed: opening it reports or writes,
    // as the caller asked.
    // A name for one of this process's open files (/dev/stdout) writes through that very file,
    // as the process's own output would: a socket or pipe goes on working, and a shell's "> out"
    // or ">> out" keeps its place in the file. A name for another open file (another process's)
    // is written after what the file holds.
    // A file the caller may not write is not replaced either, though the folder would allow it:
    // a read-only mark is how people keep a file from being overwritten. Opening it then fails,
    // as a shell's ">" does.
    const bool openFile = durable::namesOpenFile(path);
    const OldFile old = openFile ? OldFile{} : oldFileAt(path);
    // Output to a file the writer did not create is never cut back after a failed write: what
    // the file held before, or others wrote to it meanwhile, is not the writer's to remove.
    f.truncatable = !openFile;
    if (const std::optional<int> own =
            openFile ? durable::openDescriptorNamed(path) : std::nullopt) {
      f.fd = ::fcntl(*own, F_DUPFD_CLOEXEC, 0);
      openError = errno;
    } else {
      if (old.replaceable && durable::mayWrite(path)) (void)::unlink(path.c_str());
      // O_NONBLOCK: a pipe without a reader fails instead of hanging.
      f.fd = ::open(path.c_str(),
                    O_WRONLY | O_CLOEXEC | O_NONBLOCK | (openFile ? O_APPEND : O_CREAT | O_TRUNC),
                    old.mode ? 0600 : 0666);
      openError = errno;
      // Created private: should its old permissions not be given back, it stays private.
      if (f.fd >= 0 && old.mode) (void)::fchmod(f.fd, *old.mode & 07777);
      if (f.fd >= 0) {
        const int flags = ::fcntl(f.fd, F_GETFL);
        if (flags >= 0) (void)::fcntl(f.fd, F_SETFL, flags & ~O_NONBLOCK);
      }
    }
  }
  if (f.fd >= 0) f.regular = isRegularFile(f.fd);
  if (f.fd < 0) {
    f.failed = true;
    if (f.atomic) {
      w.recordError(*f.atomic->failure(), true);
    } else {
      // ENXIO from a pipe is its missing reader, which the system's text does not say.
      w.recordError(openError == ENXIO ? Error::posix(openError, "cannot write to " + path +
                                                                     ": no program is reading it")
                                       : Error::posix(openError, "cannot create " + path),
                    true);
    }
  }
  return writer;
}

void CSVWriter::Impl::setDelimiter(std::string_view delimiter) {
  if (hasStarted_) {
    throw std::invalid_argument("You cannot set a delimiter after writing has started");
  }
  requireValidDelimiter(delimiter);
  delimiter_.assign(delimiter);

  byteClass_.fill(kPlain);
  for (const char special : {'\n', '\v', '\f', '\r', '"', '\\'}) {
    byteClass_[static_cast<unsigned char>(special)] = kAlwaysQuote;
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
bool CSVWriter::Impl::copyIfPlain(std::string_view text, char* dest) const {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // A leading "#" would make a comment line, a leading mark would join the delimiter before it,
  // and a leading U+FEFF (taken for a byte-order mark) or NUL (taken for a sign of another
  // encoding) at the start of a document would mislead a reader's detection. A trailing Prepend
  // needs the space that appendField puts before the closing quote.
  if (n > 0 && (p[0] == '#' || p[0] == '\0' || startsWithJoiningCharacter(text) ||
                text.starts_with("\uFEFF") || endsWithPrepend(text))) {
    return false;
  }
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

char32_t CSVWriter::Impl::appendField(detail::ByteBuffer& out, std::string_view text,
                                      bool withDelimiter) const {
  const std::size_t d = withDelimiter ? delimiter_.size() : 0;
  // Room for the worst case: every byte doubled, two quotes and a space.
  char* const begin = out.reserve(d + 2 * text.size() + 3);
  for (std::size_t k = 0; k < d; ++k) begin[k] = delimiter_[k];
  if (copyIfPlain(text, begin + d)) {
    out.commit(d + text.size());
    return 0;
  }
  // Quotes doubled, then backslashes doubled; neither adds the other, so one pass does both.
  char* end = begin + d;
  *end++ = '"';
  char32_t leftOut = 0;
  for (const char c : text) {
    if ((c == '"' || c == '\\') && static_cast<unsigned char>(end[-1]) >= 0x80) {
      // A Prepend would join the quote or backslash and hide it (two Prepends, both).
      char32_t prepend = 0;
      while (const std::size_t n = trailingPrependLength(
                 std::string_view(begin + d + 1, static_cast<std::size_t>(end - (begin + d + 1))),
                 &prepend)) {
        end -= n;
        if (leftOut == 0) leftOut = prepend;
      }
    }
    *end++ = c;
    if (c == '"' || c == '\\') *end++ = c;
  }
  // The Prepend joins the space instead of the quote; readers trim a field's edge white space.
  if (endsWithPrepend(text)) *end++ = ' ';
  *end++ = '"';
  out.commit(static_cast<std::size_t>(end - begin));
  return leftOut;
}

bool CSVWriter::Impl::canEncode(std::string_view piece) {
  if (!file_ || file_->fd < 0 || encoding_ == kEncodingNone || encoding_ == kEncodingUTF8) {
    return true;  // stringValue() holds UTF-8
  }
  FileState& f = *file_;
  if (!f.encoder || f.encoderEncoding != encoding_) {
    f.encoder = detail::makeEncoder(encoding_);
    f.encoderEncoding = encoding_;
  }
  std::string encoded;
  char32_t rejected = 0;
  return f.encoder && f.encoder->encode(piece, encoded, &rejected);
}

detail::ByteBuffer* CSVWriter::Impl::directBuffer() const {
  return encoding_ == directEncoding_ ? direct_ : nullptr;
}

detail::ByteBuffer& CSVWriter::Impl::beginPiece() {
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

bool CSVWriter::Impl::endPiece(detail::ByteBuffer& buffer) {
  if (!file_ || &buffer != &file_->scratch) return true;
  FileState& f = *file_;
  if (!f.encoder || f.encoderEncoding != encoding_) {
    f.encoder = detail::makeEncoder(encoding_);
    f.encoderEncoding = encoding_;
  }
  const std::string_view piece = buffer.view();
  bool invalid = false;
  char32_t rejected = 0;
  f.encoded.clear();
  std::string why;
  if (!f.encoder) {
    why = detail::encodingName(encoding_) + " is not supported";
  } else if (detail::validUTF8Prefix(reinterpret_cast<const std::uint8_t*>(piece.data()),
                                     piece.size(), &invalid) != piece.size()) {
    why = "the text is not valid UTF-8";
  } else if (!f.encoder->encode(piece, f.encoded, &rejected)) {
    why = detail::describeEncodingFailure(encoding_, rejected);
  } else {
    f.pending.append(f.encoded);
    return true;
  }
  if (!error_) {
    // Left out, not fatal: the rest of the output is still worth having.
    std::string description = "cannot convert output: " + why + "; a piece was left out";
    recordError(
        f.encoder ? leftOutError(std::move(description)) : Error::posix(EINVAL, description),
        false);
  }
  return false;
}

void CSVWriter::Impl::writeString(std::string_view piece) {
  if (detail::ByteBuffer* out = directBuffer()) {
    out->append(piece);
    return;
  }
  detail::ByteBuffer& buffer = beginPiece();
  buffer.append(piece);
  endPiece(buffer);
}

void CSVWriter::Impl::writeDelimiter() {
  detail::ByteBuffer& buffer = beginPiece();
  buffer.append(delimiter_);
  // (An encoding not supported at all leaves every piece out, and says so, as before.)
  if (endPiece(buffer) || !file_->encoder) return;
  // Left out like a field's text, the delimiter would run every line's fields together: the
  // file is given up, and the text (delimiters and all) goes on in stringValue().
  failFile(leftOutError("cannot convert output: the delimiter " + delimiter_ +
                        " cannot be represented in " + detail::encodingName(encoding_) +
                        "; the file was given up and the text kept in memory"));
  writeString(delimiter_);
}

void CSVWriter::Impl::writeField(const Value& value) {
  writeFieldPieces(value);
  endOperation();
}

void CSVWriter::Impl::writeFieldPieces(const Value& value) {
  hasStarted_ = true;
  if (const std::string* text = value.text()) {
    writeFieldText(*text);
  } else {
    writeFieldText(value.description());
  }
}

void CSVWriter::Impl::writeFieldText(std::string_view text) {
  char32_t leftOut = 0;
  bool written = true;
  if (detail::ByteBuffer* out = directBuffer()) {
    // Nothing to convert: delimiter and field go straight to their place.
    leftOut = appendField(*out, text, currentField_ > 0);
  } else {
    if (currentField_ > 0) writeDelimiter();
    detail::ByteBuffer& buffer = beginPiece();
    leftOut = appendField(buffer, text, false);
    written = endPiece(buffer);
  }
  if (leftOut != 0) recordError(hiddenCharacterError(leftOut), false);
  lineEndsInARow_ = 0;
  // A field the encoding could not hold, left out, is as empty as an empty one.
  onlyFieldEmpty_ = currentField_ == 0 && (text.empty() || !written);
  ++currentField_;
}

void CSVWriter::Impl::writeFields(const OptionalValueList& values) {
  for (const std::optional<Value>& value : values) {
    if (!value) break;
    writeFieldPieces(*value);
  }
  endOperation();
}

void CSVWriter::Impl::writeLine() {
  writeLinePieces();
  endOperation();
}

void CSVWriter::Impl::writeLinePieces() {
  // A line of one empty field would be a blank line, which a reader skips: the row would be lost.
  if (currentField_ == 1 && onlyFieldEmpty_) writeString("\"\"");
  writeString("\n");
  lineEndsInARow_ = currentField_ == 0 ? std::min(lineEndsInARow_ + 1, 2u) : 1;
  currentField_ = 0;
}

void CSVWriter::Impl::writeLineWithFields(const std::vector<Value>& values) {
  for (const Value& value : values) writeFieldPieces(value);
  writeLinePieces();
  endOperation();
}

void CSVWriter::Impl::writeLineOfFields(const OptionalValueList& values) {
  if (values.empty() || !values.front()) return;
  for (const std::optional<Value>& value : values) {
    if (!value) break;
    writeFieldPieces(*value);
  }
  writeLinePieces();
  endOperation();
}

void CSVWriter::Impl::writeCommentLine(std::string_view comment) {
  if (currentField_ > 0) writeLinePieces();
  if (lineEndsInARow_ == 2) {
    // After an empty line a reader takes a "#" line for a row: the note would become data.
    recordError(leftOutError("cannot write a comment right after an empty line, where a reader "
                             "would take it for a row; the comment was left out"),
                false);
    endOperation();
    return;
  }
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
    lineEndsInARow_ = 0;
    writeCommentText(comment.substr(start, i - start));
    writeLinePieces();
    if (i >= comment.size()) break;
    i += breakLength;
    start = i;
  }
  endOperation();
}

void CSVWriter::Impl::writeCommentText(std::string_view line) {
  // A reader skips a comment's text but still refuses a quote followed by ordinary text, which
  // would make the whole document unreadable: such a quote gets a backslash before it. A mark at
  // the start would join the "#" and turn the comment into a row, so a space comes first.
  if (startsWithJoiningCharacter(line)) writeString(" ");
  std::size_t start = 0;
  for (std::size_t q = line.find('"'); q != std::string_view::npos; q = line.find('"', q + 1)) {
    const std::string_view next = line.substr(q + 1);
    if (next.empty() || next[0] == '"' || next[0] == '\\' || next.starts_with(delimiter_)) {
      continue;
    }
    // A Prepend before the backslash would join it and leave the quote bare.
    std::string_view before = line.substr(start, q - start);
    char32_t prepend = 0;
    while (const std::size_t n = trailingPrependLength(before, &prepend)) {
      before.remove_suffix(n);
      recordError(hiddenCharacterError(prepend), false);
    }
    writeString(before);
    if (canEncode("\\")) {
      writeString("\\");
      start = q;
    } else {
      // Without the backslash the quote would make the document unreadable: it goes instead.
      recordError(leftOutError("cannot convert output: a quote in a comment needs a backslash "
                               "before it, which " +
                               detail::encodingName(encoding_) +
                               " cannot represent; the quote was left out"),
                  false);
      start = q + 1;
    }
  }
  writeString(line.substr(start));
}

void CSVWriter::Impl::endOperation() {
  if (!file_ || file_->fd < 0 || file_->pending.empty()) return;
  if (!file_->buffered || file_->pending.size() >= kBlockSize) writePending();
}

bool CSVWriter::Impl::writePending() {
  FileState& f = *file_;
  // One write for the whole operation (or block), so that a completed operation is in the file
  // and a reader never sees half of one.
  const char* data = f.pending.view().data();
  std::size_t left = f.pending.size();
  std::optional<HeldSigpipe> held;
  if (!f.regular) held.emplace();
  while (left > 0) {
    const ssize_t written = ::write(f.fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !f.regular) {
      // A process's own output may be a non-blocking pipe or socket: wait until it takes more.
      // (A regular file is always ready: there the refusal is a failure, or this would spin.)
      pollfd ready{f.fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
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

void CSVWriter::Impl::failFile(int errnoValue, std::string_view context) {
  failFile(Error::posix(errnoValue, context));
}

void CSVWriter::Impl::failFile(Error error) {
  FileState& f = *file_;
  recordError(std::move(error), true);
  f.failed = true;
  if (f.atomic) {
    // The destination was never touched; the incomplete new file is of no use.
    f.atomic->abort();
  } else {
    // Cut off what a failed write left of the block, so the file ends after a whole operation.
    // If even that fails, the error above already says the file is not to be trusted.
    if (f.truncatable) {
      [[maybe_unused]] const int cut = ::ftruncate(f.fd, f.committed);
    }
    (void)::close(f.fd);
  }
  f.fd = -1;
  direct_ = nullptr;
  // Nothing is lost: the unwritten block, as text, and all later output go to stringValue.
  if (!stringValue_) stringValue_ = std::make_unique<detail::ByteBuffer>();
  appendAsUTF8(f.pendingEncoding, f.pending.view(), *stringValue_);
  f.pending.clear();
}

void CSVWriter::Impl::recordError(Error error, bool fileFailure) {
  // The first failure is kept, except that a failure of the file outranks a conversion notice.
  if (error_ && (errorIsFileFailure_ || !fileFailure)) return;
  error_ = std::move(error);
  errorIsFileFailure_ = fileFailure;
}

void CSVWriter::Impl::closeFile() {
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
      // Nothing is lost: what the new file holds, the whole output, goes to stringValue.
      if (std::optional<std::string> written = f.atomic->contents()) {
        if (!stringValue_) stringValue_ = std::make_unique<detail::ByteBuffer>();
        appendAsUTF8(f.pendingEncoding, *written, *stringValue_);
      }
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

void CSVWriter::Impl::closeOnDestruction(bool unwinding) {
  if (!file_ || file_->fd < 0) return;
  FileState& f = *file_;
  if (unwinding && f.atomic) {
    f.atomic->abort();
    f.fd = -1;
    direct_ = nullptr;
    return;
  }
  closeFile();
  // Nobody can ask error() any more, and what did not reach the file goes with the writer.
  if (f.failed) {
    const std::size_t lost = stringValue_ ? stringValue_->size() : 0;
    logDiagnostic(error_->description.value_or("cannot write " + f.destinationFile) +
                  (lost > 0 ? "; " + std::to_string(lost) + " bytes of output are lost" : ""));
  }
}

std::string CSVWriter::Impl::fileLabel() const {
  return file_->atomic ? "the new " + file_->destinationFile : file_->destinationFile;
}

std::optional<std::string> CSVWriter::Impl::stringValue() const {
  if (!stringValue_) return std::nullopt;
  return std::string(stringValue_->view());
}

void CSVWriter::Impl::setBuffered(bool buffered) {
  if (!file_) return;
  file_->buffered = buffered;
  if (!buffered) flush();
}

bool CSVWriter::Impl::flush() {
  if (!file_) return true;
  if (file_->fd >= 0 && !file_->pending.empty()) writePending();
  return !file_->failed;
}

}  // namespace csv
