#include "session/results_export.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utf8proc.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "csv/durable_file.hpp"
#include "path_text.hpp"
#include "session/csv_file.hpp"

namespace quorin {
namespace {

using detail::environment;
using detail::withoutTrailingSlashes;

std::string userName() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return environment("USER").value_or("");
}

// mountinfo writes space, tab, newline and backslash in paths as \ and three octal digits.
std::string unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string_view digits = text.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out.push_back(static_cast<char>(std::stoi(std::string(digits), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

ExportOutcome outcomeOf(int errnoValue) {
  switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ExportOutcome::Full;
    case EROFS:
      return ExportOutcome::ReadOnly;
    // Said apart from a read-only drive: flipping its lock switch would not help.
    case EACCES:
    case EPERM:
      return ExportOutcome::NotAllowed;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ENOENT:
    case ENOTDIR:
    case ESTALE:
    case ENOTCONN:
    case ESHUTDOWN:
    case ENOMEDIUM:
    // The folder written to is no longer on the drive's file system: it was unmounted.
    case EXDEV:
      return ExportOutcome::Removed;
    default:
      return ExportOutcome::Failed;
  }
}

ExportResult failed(const ExportResult& attempt, const csv::Error& error) {
  ExportResult result = attempt;
  result.outcome = error.domain == csv::kPOSIXErrorDomain ? outcomeOf(static_cast<int>(error.code))
                                                          : ExportOutcome::Failed;
  result.detail = error.description.value_or("");
  return result;
}

ExportResult failed(const ExportResult& attempt, int errnoValue, const std::string& what) {
  return failed(attempt, csv::Error::posix(errnoValue, what));
}

}  // namespace

std::vector<std::string> driveFolders() {
  if (std::optional<std::string> root = environment("QUORIN_EXPORT_ROOT")) {
    return {withoutTrailingSlashes(*root)};
  }
  std::vector<std::string> folders;
  if (const std::string user = userName(); !user.empty()) {
    folders = {"/media/" + user, "/run/media/" + user};
  }
  folders.push_back("/media");
  return folders;
}

std::vector<RemovableDrive> removableDrives(std::string_view mountinfo,
                                            const std::vector<std::string>& folders) {
  std::map<std::string, RemovableDrive> drives;
  std::istringstream lines{std::string(mountinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string part; fields >> part;) parts.push_back(part);
    const auto separator = std::find(parts.begin(), parts.end(), "-");
    if (parts.size() < 6 || separator == parts.end() || parts.end() - separator < 3) continue;
    const std::string mountPoint = unescape(parts[4]);
    const std::size_t slash = mountPoint.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == mountPoint.size()) continue;
    const std::string folder = slash == 0 ? "/" : mountPoint.substr(0, slash);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) continue;
    drives[mountPoint] = RemovableDrive{mountPoint, mountPoint.substr(slash + 1)};
  }
  std::vector<RemovableDrive> found;
  found.reserve(drives.size());
  for (auto& [mountPoint, drive] : drives) found.push_back(std::move(drive));
  return found;
}

std::vector<RemovableDrive> removableDrives() {
  std::ifstream file("/proc/self/mountinfo");
  std::ostringstream text;
  text << file.rdbuf();
  return removableDrives(text.str(), driveFolders());
}

std::string safeFileName(std::string_view name) {
  // Accented letters keep their letter (Zürich: Zurich): a FAT drive shows names in the character
  // set it was mounted with, and another would garble them.
  std::string folded(name);
  utf8proc_uint8_t* plain = nullptr;
  if (utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                   static_cast<utf8proc_ssize_t>(name.size()), &plain,
                   static_cast<utf8proc_option_t>(UTF8PROC_COMPAT | UTF8PROC_DECOMPOSE |
                                                  UTF8PROC_STRIPMARK)) >= 0) {
    folded = reinterpret_cast<const char*>(plain);
  }
  std::free(plain);
  std::string safe;
  for (const char c : folded) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
    if (kept) {
      safe.push_back(c);
    } else if (safe.empty() || safe.back() != '-') {
      safe.push_back('-');
    }
  }
  const std::size_t start = safe.find_first_not_of(".-");
  safe = start == std::string::npos ? std::string() : safe.substr(start, 40);
  while (!safe.empty() && (safe.back() == '-' || safe.back() == '.')) safe.pop_back();
  return safe.empty() ? "kiosk" : safe;
}

std::string kioskName() {
  if (std::optional<std::string> name = environment("QUORIN_KIOSK_NAME")) {
    return safeFileName(*name);
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return safeFileName(host);
}

std::string exportFileName(std::string_view kiosk, std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return "results-" + std::string(kiosk) + "-" + date + ".csv";
}

ExportResult exportResults(const std::string& resultsPath, const RemovableDrive& drive,
                           const std::string& fileName) {
  ExportResult result;
  result.path = withoutTrailingSlashes(drive.mountPoint) + "/" + fileName;

  int error = 0;
  std::optional<std::string> bytes;
  if (const int fd = ::open(resultsPath.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
    bytes = csv::durable::readAll(fd, &error);
    ::close(fd);
  } else {
    error = errno;
  }
  if (!bytes) {
    if (error == ENOENT) return {ExportOutcome::NoResults, result.path, resultsPath};
    result.outcome = ExportOutcome::Unreadable;
    result.detail = csv::Error::posix(error, "cannot read " + resultsPath).description.value_or("");
    return result;
  }
  // A row that a power cut tore (or an append that failed and could not be cut back) is not
  // copied: a spreadsheet would show it as a session with answers missing. It waits in the store,
  // and the next append writes it whole.
  bytes->resize(finishedLength(*bytes));
  // An emptied file holds no results; a copy of it would look like a successful export.
  if (bytes->empty()) return {ExportOutcome::NoResults, result.path, resultsPath};

  // The drive's device, to tell its files from those of the folder it was mounted on.
  struct stat mount {};
  struct stat parent {};
  if (::stat(drive.mountPoint.c_str(), &mount) != 0) {
    return failed(result, errno, "cannot reach " + drive.mountPoint);
  }
  if (::stat(csv::durable::folderOf(drive.mountPoint).c_str(), &parent) == 0 &&
      parent.st_dev == mount.st_dev) {
    return failed(result, ENODEV, drive.mountPoint + " is no longer mounted");
  }

  // A copy this kiosk left half-written when it was stopped or the drive pulled holds patients'
  // answers, and takes room: gone before the room is measured. (Exports run one at a time.)
  csv::durable::removeAbandonedTemporaries(drive.mountPoint, "results-", ".csv");

  // The day's earlier copy is replaced only by one that holds it (results.csv only grows). One
  // the new copy does not begin with (results.csv was started again, or the copy edited) may be
  // the only copy of its rows: it stays, and the new copy takes the next free name.
  const std::string stem =
      fileName.ends_with(".csv") ? fileName.substr(0, fileName.size() - 4) : fileName;
  for (int n = 2;; ++n) {
    // Only a regular file of the drive's, no longer than the new copy, can be its start. Anything
    // else is not even opened (a FIFO would block the screen, a device node would be woken, a
    // link may lead off the drive), nor read (a file of gigabytes would fill the memory).
    struct stat status {};
    if (::lstat(result.path.c_str(), &status) != 0 && errno == ENOENT) break;
    std::optional<std::string> earlier;
    if (S_ISREG(status.st_mode) && static_cast<std::uint64_t>(status.st_size) <= bytes->size()) {
      const int fd =
          ::open(result.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
      if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        if (status.st_dev == mount.st_dev) {
          earlier = csv::durable::readAll(fd, &error);
        } else if (struct stat now{};
                   ::stat(drive.mountPoint.c_str(), &now) != 0 || now.st_dev != mount.st_dev) {
          // Not a file mounted over the name: the drive itself is gone, or another one is
          // mounted in its place.
          ::close(fd);
          return failed(result, ENODEV, drive.mountPoint + " is no longer the drive it was");
        }
      }
      if (fd >= 0) ::close(fd);
    }
    // One marked read-only (a drive's read-only attribute) is kept, as the writer would refuse
    // to replace it: the copy takes the next name rather than failing.
    if (earlier && bytes->starts_with(*earlier) && csv::durable::mayWrite(result.path)) break;
    if (n > 99) return failed(result, EEXIST, "no free name beside " + result.path);
    result.path =
        withoutTrailingSlashes(drive.mountPoint) + "/" + stem + "-" + std::to_string(n) + ".csv";
  }

  // Asked first, so that a full or write-protected drive is named as such whatever a file system
  // (some FAT drivers answer EPERM when full) says once the write is under way.
  if (struct statvfs room{}; ::statvfs(drive.mountPoint.c_str(), &room) == 0) {
    if ((room.f_flag & ST_RDONLY) != 0)
      return failed(result, EROFS, drive.mountPoint + " is read-only");
    const std::uint64_t unit = room.f_frsize != 0 ? room.f_frsize : room.f_bsize;
    if (unit != 0 && room.f_bavail < (bytes->size() + unit - 1) / unit) {
      return failed(result, ENOSPC, "no room for " + result.path);
    }
  }

  {
    csv::durable::AtomicFile file(result.path);
    if (file.fd() < 0) return failed(result, *file.failure());
    // A drive unmounted meanwhile leaves its empty mount folder on the kiosk's own disk: the
    // patients' answers are not written there (and another drive mounted there is not written
    // over on a decision made for this one).
    struct stat created {};
    if (::fstat(file.fd(), &created) != 0 || created.st_dev != mount.st_dev) {
      return failed(result, ENODEV, drive.mountPoint + " was unmounted before the copy");
    }
    if (auto failure = csv::durable::writeAll(file.fd(), *bytes, "cannot write " + result.path)) {
      return failed(result, *failure);
    }
    if (auto failure = file.commit(true)) return failed(result, *failure);
  }

  const int fd = ::open(result.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(result, errno, "cannot read back " + result.path);
  struct stat copy {};
  if (::fstat(fd, &copy) != 0 || copy.st_dev != mount.st_dev) {
    ::close(fd);
    return failed(result, ENODEV, drive.mountPoint + " was unmounted during the copy");
  }
  // The copy is synced, so its cached pages are clean and can be dropped: the comparison then
  // reads what the drive holds.
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  const std::optional<std::string> back = csv::durable::readAll(fd, &error);
  ::close(fd);
  if (!back) return failed(result, error, "cannot read back " + result.path);
  if (*back != *bytes) {
    result.outcome = ExportOutcome::Mismatch;
    result.detail = "the copy read back differs from " + resultsPath;
    return result;
  }
  result.outcome = ExportOutcome::Saved;
  return result;
}

}  // namespace quorin
