#include "csv/input_stream.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace csv {
namespace {

// Reads the file in large blocks and hands them out in whatever pieces read() asks for, so small
// reads cost a copy rather than a system call each.
class FileInputStream final : public InputStream {
 public:
  explicit FileInputStream(std::string path) : path_(std::move(path)) {}
  ~FileInputStream() override { close(); }
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  void open() override {
    if (status_ != StreamStatusNotOpen) return;
    // The system would read a name only up to a NUL byte, and so open another file.
    if (path_.find('\0') != std::string::npos) {
      fail(EINVAL);
      return;
    }
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      fail(errno);
      return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
      fail(errno);
      return;
    }
    if (S_ISDIR(info.st_mode)) {
      fail(EISDIR);
      return;
    }
    status_ = StreamStatusOpen;
  }

  StreamStatus streamStatus() const override { return status_; }

  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ == StreamStatusAtEnd) return 0;
    if (status_ != StreamStatusOpen) return -1;
    if (maxLength == 0) return 0;
    if (begin_ == end_) {
      // A read as large as a block goes straight into the caller's buffer.
      if (maxLength >= kBlockSize) return readFile(buffer, maxLength);
      if (!block_) block_ = std::make_unique<std::uint8_t[]>(kBlockSize);
      const std::ptrdiff_t count = readFile(block_.get(), kBlockSize);
      if (count <= 0) return count;
      begin_ = 0;
      end_ = static_cast<std::size_t>(count);
    }
    const std::size_t count = std::min(maxLength, end_ - begin_);
    std::memcpy(buffer, block_.get() + begin_, count);
    begin_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }

  std::optional<Error> streamError() const override { return error_; }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    block_.reset();
    begin_ = end_ = 0;
    if (status_ != StreamStatusNotOpen && status_ != StreamStatusError)
      status_ = StreamStatusClosed;
  }

 private:
  static constexpr std::size_t kBlockSize = 128 * 1024;

  std::ptrdiff_t readFile(std::uint8_t* buffer, std::size_t size) {
    ssize_t count;
    do {
      count = ::read(fd_, buffer, size);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
      fail(errno);
      return -1;
    }
    if (count == 0) status_ = StreamStatusAtEnd;
    return count;
  }

  void fail(int errnoValue) {
    error_ = Error::posix(errnoValue, path_);
    status_ = StreamStatusError;
  }

  std::string path_;
  int fd_ = -1;
  StreamStatus status_ = StreamStatusNotOpen;
  std::optional<Error> error_;
  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

class MemoryInputStream final : public InputStream {
 public:
  explicit MemoryInputStream(std::string bytes) : bytes_(std::move(bytes)) {}

  void open() override {
    if (status_ == StreamStatusNotOpen) status_ = StreamStatusOpen;
  }
  StreamStatus streamStatus() const override { return status_; }

  std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ == StreamStatusAtEnd) return 0;
    if (status_ != StreamStatusOpen) return -1;
    const std::size_t count = std::min(maxLength, bytes_.size() - position_);
    if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    if (position_ == bytes_.size() && maxLength > 0) status_ = StreamStatusAtEnd;
    return static_cast<std::ptrdiff_t>(count);
  }

  std::optional<Error> streamError() const override { return std::nullopt; }

  void close() override {
    if (status_ != StreamStatusNotOpen) status_ = StreamStatusClosed;
  }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
  StreamStatus status_ = StreamStatusNotOpen;
};

}  // namespace

std::unique_ptr<InputStream> InputStream::withFileAtPath(const std::string& path) {
  return std::make_unique<FileInputStream>(path);
}

std::unique_ptr<InputStream> InputStream::withData(std::string bytes) {
  return std::make_unique<MemoryInputStream>(std::move(bytes));
}

}  // namespace csv
