#include "csv/durable_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <utility>

#include "csv/diagnostic_log.hpp"

namespace csv::durable {
namespace {

// A named temporary younger than this may belong to a writer that has created it but not yet
// locked it, so it is never taken for stale (unless the caller knows better).
constexpr std::time_t kStaleAfterSeconds = 60;
constexpr std::size_t kHexDigits = 16;

Failure posixFailure(int errnoValue, std::string_view what) {
  return Error::posix(errnoValue, what);
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomHex() {
  std::uint64_t number = 0;
  if (getrandom(&number, sizeof number, 0) != static_cast<ssize_t>(sizeof number)) {
    std::random_device device;
    number = (std::uint64_t{device()} << 32) | device();
  }
  constexpr char kHex[] = "0123456789abcdef";
  std::string text(kHexDigits, '0');
  for (std::size_t i = 0; i < kHexDigits; ++i) text[i] = kHex[(number >> (4 * i)) & 0xF];
  return text;
}

// The longest destination name that a temporary's name holds whole: a name has at most
// NAME_MAX bytes, and two dots, the hex digits and ".tmp" take 22 of them.
constexpr std::size_t kLongestNameInTemporary = NAME_MAX - 2 - kHexDigits - 4;

// The destination's name as its temporaries' names hold it: whole, or cut between two characters
// to fit, so that a name of any legal length can be written atomically.
std::string nameInTemporary(const std::string& destination) {
  std::string name = baseName(destination);
  if (name.size() > kLongestNameInTemporary) {
    std::size_t cut = kLongestNameInTemporary;
    // Back to the start of the character cut through: three bytes at most (a name need not be
    // UTF-8 at all).
    for (int back = 0; back < 3 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80; ++back) {
      --cut;
    }
    name.resize(cut);
  }
  return name;
}

// ".<name>.": the start of every temporary name for that destination. The leading dot hides it,
// and no name can start with "-", which a shell would take for an option.
std::string temporaryPrefix(const std::string& destination) {
  // Appended rather than "." + name, which GCC 12 misreads as an overlapping copy (-Wrestrict).
  std::string prefix(1, '.');
  prefix += nameInTemporary(destination);
  prefix += '.';
  return prefix;
}

// The name of the destination whose temporary `entry` is (".<name>.<16 hex digits>.tmp"), or
// nothing when it is no temporary's name.
std::optional<std::string_view> destinationOfTemporary(std::string_view entry) {
  constexpr std::string_view kSuffix = ".tmp";
  constexpr std::size_t kOverhead = 2 + kHexDigits + kSuffix.size();  // the two dots, the rest
  if (entry.size() <= kOverhead || entry[0] != '.' || !entry.ends_with(kSuffix)) return {};
  const std::size_t digits = entry.size() - kSuffix.size() - kHexDigits;
  if (entry[digits - 1] != '.') return {};
  for (const char c : entry.substr(digits, kHexDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
  }
  return entry.substr(1, digits - 2);
}

// Removes the named temporaries in `folder` of the destinations `ours` names whose writers are
// gone: a live writer holds its file's lock, so a file whose lock can be taken, and that is at
// least `minimumAge` seconds old, is abandoned.
template <class Ours>
void removeTemporaries(const std::string& folder, const Ours& ours, std::time_t minimumAge) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::optional<std::string_view> destination = destinationOfTemporary(entry->d_name);
    if (!destination || !ours(*destination)) continue;
    const int fd =
        ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        now - status.st_mtime >= minimumAge && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
      logDiagnostic("removed " + folder + "/" + entry->d_name +
                    ", left behind by an interrupted write of " + std::string(*destination));
    }
    ::close(fd);
  }
  ::closedir(dir);
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

void removeAbandonedTemporaries(const std::string& folder, std::string_view namePrefix,
                                std::string_view nameSuffix) {
  removeTemporaries(
      folder,
      [&](std::string_view name) {
        return name.size() >= namePrefix.size() + nameSuffix.size() &&
               name.starts_with(namePrefix) && name.ends_with(nameSuffix);
      },
      0);
}

bool mayWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno != EACCES;
}

namespace {

// Follows `path` through its links while they stay outside /proc. True when it leads into /proc;
// then *descriptor is the number of this process's open file that it names, or -1 when it names
// something else there (another process's file, say).
bool resolvesIntoProc(const std::string& path, int* descriptor) {
  std::string at = path;
  for (int links = 0; links < 40; ++links) {
    char folder[PATH_MAX];
    if (::realpath(folderOf(at).c_str(), folder) == nullptr) return false;
    const std::string_view real(folder);
    if (real.starts_with("/proc/")) {
      // /proc/self and /proc/thread-self resolve to this process's own number.
      const std::string own = "/proc/" + std::to_string(::getpid()) + "/";
      const std::string name = at.substr(at.find_last_of('/') + 1);
      const bool number = !name.empty() && name.size() < 10 &&
                          name.find_first_not_of("0123456789") == std::string::npos;
      const bool fdFolder = real.ends_with("/fd") && real.starts_with(own) &&
                            (real == own + "fd" || real.substr(own.size()).starts_with("task/"));
      *descriptor = number && fdFolder ? std::stoi(name) : -1;
      return true;
    }
    struct stat entry {};
    if (::lstat(at.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return false;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(at.c_str(), target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    at = target[0] == '/' ? std::string(target) : std::string(folder) + "/" + target;
  }
  return false;
}

}  // namespace

bool namesOpenFile(const std::string& path) {
  int descriptor = -1;
  return resolvesIntoProc(path, &descriptor);
}

std::optional<int> openDescriptorNamed(const std::string& path) {
  int descriptor = -1;
  if (!resolvesIntoProc(path, &descriptor) || descriptor < 0) return std::nullopt;
  if (::fcntl(descriptor, F_GETFD) < 0) return std::nullopt;
  return descriptor;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Failure writeAll(int fd, std::string_view bytes, std::string_view what) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    // A write that takes nothing would loop for ever; it means the device takes no more.
    if (written <= 0) return posixFailure(written < 0 ? errno : ENOSPC, what);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return std::nullopt;
}

std::optional<std::string> readAll(int fd, int* error) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = errno;
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  // A drive that ends a file before its size (a failing stick, a file cut short meanwhile) would
  // make an earlier copy look like the start of this one, or a copy look complete.
  struct stat status {};
  if (::fstat(fd, &status) != 0 || bytes.size() < static_cast<std::size_t>(status.st_size)) {
    *error = EIO;
    return std::nullopt;
  }
  return bytes;
}

Failure syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return posixFailure(errno, "cannot open folder " + folder + " to sync it");
  Failure failure;
  if (::fsync(fd) != 0) failure = posixFailure(errno, "cannot sync folder " + folder);
  ::close(fd);
  return failure;
}

Failure appendSynced(int fd, std::string_view bytes, std::string_view what) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return posixFailure(errno, what);
  Failure failure = writeAll(fd, bytes, what);
  if (!failure && ::fdatasync(fd) != 0) failure = posixFailure(errno, what);
  if (!failure) return std::nullopt;
  // Whatever reached the file of these bytes is cut off again, and the cut is synced, so that
  // the file ends where it ended before.
  if (::ftruncate(fd, before.st_size) != 0 || ::fdatasync(fd) != 0) {
    const int cutError = errno;
    failure->description =
        failure->description.value_or("") + "; " +
        Error::posix(cutError, "cannot cut the partial write off again").description.value_or("");
  }
  return failure;
}

namespace {

// `path` from the root: the file is put in place on commit, and a relative name would then be
// looked up in whatever folder the program has moved to meanwhile.
std::string anchored(std::string path) {
  char here[PATH_MAX];
  if (path.empty() || path.front() == '/' || ::getcwd(here, sizeof here) == nullptr) return path;
  return std::string(here) + "/" + path;
}

}  // namespace

AtomicFile::AtomicFile(std::string destination)
    : destination_(anchored(std::move(destination))), folder_(folderOf(destination_)) {
  // Only a file is ever put in place: a rename over a device, a pipe or a socket would remove the
  // node itself (the system's null device, for a writer running as root).
  struct stat existing {};
  if (::stat(destination_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    failure_ = posixFailure(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL, destination_);
    failure_->description = "cannot replace " + destination_ + ", which is not a regular file";
    return;
  }
  // Nor over a file the caller may not write (marked read-only), which ">" would not write either.
  if (!mayWrite(destination_)) {
    failure_ = posixFailure(EACCES, destination_);
    failure_->description = "cannot replace " + destination_ + ": " + std::strerror(EACCES);
    return;
  }
  // Nor over a name for an open file (/dev/stdout), which would put a file in the link's place.
  if (namesOpenFile(destination_)) {
    failure_ = posixFailure(EINVAL, destination_);
    failure_->description = "cannot replace " + destination_ + ", which names an open file";
    return;
  }
  // A younger one may belong to a writer that has created it but not yet locked it.
  const std::string name = nameInTemporary(destination_);
  removeTemporaries(
      folder_, [&](std::string_view ours) { return ours == name; }, kStaleAfterSeconds);
  // Unnamed: nothing can be left behind. Linking it into place needs /proc.
  fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd_ >= 0 && ::access(procPath(fd_).c_str(), F_OK) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int error = 0;
  for (int attempt = 0; fd_ < 0 && attempt < 16; ++attempt) {
    temporaryName_ = folder_ + "/" + temporaryPrefix(destination_) + randomHex() + ".tmp";
    fd_ =
        ::open(temporaryName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    error = errno;
    if (fd_ < 0 && error != EEXIST) break;
  }
  if (fd_ < 0) {
    failure_ = posixFailure(
        error, "cannot create a temporary file in " + folder_ + " for " + destination_);
    temporaryName_.clear();
    return;
  }
  (void)::flock(fd_, LOCK_EX | LOCK_NB);
}

AtomicFile::~AtomicFile() { abort(); }

bool AtomicFile::setMode(unsigned mode) {
  return fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0;
}

Failure AtomicFile::linkInPlace(bool replace, bool* existed) {
  if (temporaryName_.empty() && !replace) {
    // linkat refuses an existing name: exactly "create unless it exists".
    if (::linkat(AT_FDCWD, procPath(fd_).c_str(), AT_FDCWD, destination_.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      return std::nullopt;
    }
    if (errno == EEXIST && existed != nullptr) *existed = true;
    return errno == EEXIST ? Failure() : posixFailure(errno, "cannot link " + destination_);
  }
  if (temporaryName_.empty()) {
    // Replacing needs a name to rename from; it exists only for this instant and is locked.
    for (int attempt = 0; attempt < 16 && temporaryName_.empty(); ++attempt) {
      std::string name = folder_ + "/" + temporaryPrefix(destination_) + randomHex() + ".tmp";
      if (::linkat(AT_FDCWD, procPath(fd_).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
          0) {
        temporaryName_ = std::move(name);
      } else if (errno != EEXIST) {
        return posixFailure(errno, "cannot name the new " + destination_);
      }
    }
    if (temporaryName_.empty()) return posixFailure(EEXIST, "cannot name the new " + destination_);
  }
  if (replace) {
    if (::rename(temporaryName_.c_str(), destination_.c_str()) != 0) {
      return posixFailure(errno, "cannot put the new file in place of " + destination_);
    }
    temporaryName_.clear();
    return std::nullopt;
  }
  int error = ::renameat2(AT_FDCWD, temporaryName_.c_str(), AT_FDCWD, destination_.c_str(),
                          RENAME_NOREPLACE) == 0
                  ? 0
                  : errno;
  if (error == EINVAL || error == ENOSYS) {
    // File systems without RENAME_NOREPLACE: a hard link cannot replace a file either.
    error = ::link(temporaryName_.c_str(), destination_.c_str()) == 0 ? 0 : errno;
  } else if (error == 0) {
    temporaryName_.clear();
  }
  if (error == EEXIST) {
    if (existed != nullptr) *existed = true;
    return std::nullopt;
  }
  return error == 0 ? Failure()
                    : posixFailure(error, "cannot move the new file to " + destination_);
}

Failure AtomicFile::commit(bool replace, bool* existed) {
  if (existed != nullptr) *existed = false;
  if (fd_ < 0) return failure_ ? failure_ : posixFailure(EBADF, "no file to commit");
  if (::fsync(fd_) != 0) return posixFailure(errno, "cannot sync the new " + destination_);
  if (Failure failure = linkInPlace(replace, existed)) return failure;
  // The new name is in place; after a link the temporary name still has to go.
  if (!temporaryName_.empty()) {
    ::unlink(temporaryName_.c_str());
    temporaryName_.clear();
  }
  ::close(fd_);
  fd_ = -1;
  return syncFolder(folder_);
}

std::optional<std::string> AtomicFile::contents() const {
  if (fd_ < 0) return std::nullopt;
  // The file is open for writing only; its /proc name opens it again for reading, named or not.
  const int fd = ::open(procPath(fd_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  int error = 0;
  std::optional<std::string> text = readAll(fd, &error);
  ::close(fd);
  return text;
}

void AtomicFile::abort() {
  if (!temporaryName_.empty()) ::unlink(temporaryName_.c_str());
  temporaryName_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace csv::durable
