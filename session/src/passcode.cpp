#include "session/passcode.hpp"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "csv/durable_file.hpp"

namespace quorin {
namespace {

// Interactive limits (2 passes over 64 MiB): well under a second on a tablet, yet each guess
// costs an attacker holding the file as much.
constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

std::string posixText(int errnoValue, const std::string& what) {
  return what + ": " + std::strerror(errnoValue);
}

// Makes `folder` and its missing parents.
std::optional<std::string> makeFolders(const std::string& folder) {
  if (folder.empty() || folder == "/" || folder == ".") return std::nullopt;
  struct stat status {};
  if (::stat(folder.c_str(), &status) == 0) {
    return S_ISDIR(status.st_mode) ? std::nullopt : std::optional(folder + " is not a folder");
  }
  if (auto failure = makeFolders(csv::durable::folderOf(folder))) return failure;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return posixText(errno, "cannot make " + folder);
  }
  return std::nullopt;
}

}  // namespace

Passcode Passcode::load(const std::string& path) {
  Passcode passcode;
  if (path.empty()) return passcode;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      passcode.kind_ = Kind::Unusable;
      passcode.failure_ = posixText(errno, "cannot read " + path);
    }
    return passcode;
  }
  // A hash is about a hundred bytes; anything much longer is not one.
  char buffer[512];
  std::string text;
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0 && text.size() <= crypto_pwhash_STRBYTES) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  const int readError = got < 0 ? errno : 0;
  ::close(fd);
  passcode.kind_ = Kind::Unusable;
  if (readError != 0) {
    passcode.failure_ = posixText(readError, "cannot read " + path);
    return passcode;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const bool printable =
      std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
  if (sodium_init() < 0) {
    passcode.failure_ = "the hashing library cannot start";
    return passcode;
  }
  // needs_rehash parses the whole string and says -1 for anything that is not a valid hash.
  if (!printable || text.size() >= crypto_pwhash_STRBYTES ||
      crypto_pwhash_str_needs_rehash(text.c_str(), kOpsLimit, kMemLimit) < 0) {
    passcode.failure_ = path + " does not hold a passcode hash";
    return passcode;
  }
  passcode.kind_ = Kind::Own;
  passcode.hash_ = std::move(text);
  return passcode;
}

bool Passcode::verify(std::string_view code) const {
  switch (kind_) {
    case Kind::Default:
      return code == kDefaultCode;
    case Kind::Own:
      return sodium_init() >= 0 &&
             crypto_pwhash_str_verify(hash_.c_str(), code.data(), code.size()) == 0;
    case Kind::Unusable:
      break;
  }
  return false;
}

bool Passcode::isAcceptable(std::string_view code) {
  return code.size() >= 4 && code.size() <= 12 &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> Passcode::store(const std::string& path, std::string_view code) {
  if (sodium_init() < 0) return "the hashing library cannot start";
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, code.data(), code.size(), kOpsLimit, kMemLimit) != 0) {
    return "not enough memory to hash the passcode";
  }
  const std::string folder = csv::durable::folderOf(path);
  if (auto failure = makeFolders(folder)) return failure;
  csv::durable::AtomicFile file(path);
  if (file.fd() < 0) return file.failure()->description.value_or("cannot create " + path);
  if (!file.setMode(0600)) return posixText(errno, "cannot make " + path + " private");
  // Set by root for a kiosk that runs as its own user: the file goes to whoever owns the kiosk
  // home, or the kiosk could not read it.
  struct stat home {};
  if (::geteuid() == 0 && ::stat(folder.c_str(), &home) == 0 && home.st_uid != 0) {
    if (::fchown(file.fd(), home.st_uid, home.st_gid) != 0) {
      return posixText(errno, "cannot give " + path + " to the kiosk's user");
    }
  }
  std::string text = std::string(hash) + "\n";
  if (auto failure = csv::durable::writeAll(file.fd(), text, "cannot write " + path)) {
    return failure->description;
  }
  if (auto failure = file.commit(true)) return failure->description;
  return std::nullopt;
}

std::chrono::seconds PasscodeLock::remaining(Clock::time_point now) const {
  if (!lockedUntil_ || now >= *lockedUntil_) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(*lockedUntil_ - now);
}

bool PasscodeLock::failed(Clock::time_point now) {
  if (lockedUntil_ && now >= *lockedUntil_) lockedUntil_.reset();
  if (++failures_ < kAttempts) return false;
  failures_ = 0;
  lockedUntil_ = now + duration_;
  return true;
}

}  // namespace quorin
