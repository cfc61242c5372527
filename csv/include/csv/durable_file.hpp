// Durable files: the steps that make a write survive a crash or a power cut, shared by the CSV
// writer, the kiosk's results log and the command-line tool. Failures are errors in the OS's
// domain (errno and its text, with what was being done); nothing here throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "csv/error.hpp"

namespace csv::durable {

// nullopt when the step succeeded.
using Failure = std::optional<Error>;

// True when `path` leads, through links, into /proc (/dev/stdout, /dev/fd/3): it names a
// process's open file, to be written through, never replaced by a file of its own.
bool namesOpenFile(const std::string& path);
// The number of this process's open file that `path` names (/dev/stdout: 1), else nullopt.
std::optional<int> openDescriptorNamed(const std::string& path);
// False when `path` is there and this process may not write it (its read-only mark, say).
bool mayWrite(const std::string& path);
// The folder part of `path`: "." for a bare name, "/" for a name in the root.
std::string folderOf(const std::string& path);
// Writes all of `bytes` to `fd`, resuming after interruptions and short writes.
Failure writeAll(int fd, std::string_view bytes, std::string_view what);
// Reads the file open as `fd` from its offset to its end; nullopt with *error set when a read
// fails or the file ends before its size (a failing drive, a file cut short meanwhile: EIO).
std::optional<std::string> readAll(int fd, int* error);
// Syncs `folder`, so that names created, linked or renamed in it survive a power cut.
Failure syncFolder(const std::string& folder);
// Appends `bytes` to the file open as `fd` (O_APPEND) and syncs them; on failure the file is cut
// back to its size before the call, so it never keeps part of the bytes.
Failure appendSynced(int fd, std::string_view bytes, std::string_view what);
// Removes from `folder` the temporaries that interrupted AtomicFiles left for destinations named
// `namePrefix`...`nameSuffix`, once no writer holds them however recent they are: for a caller
// that knows no other process is writing such a destination there now.
void removeAbandonedTemporaries(const std::string& folder, std::string_view namePrefix,
                                std::string_view nameSuffix);

// A new file beside `destination` that becomes it only when committed, so a reader or a crash
// never meets a partial destination. Unnamed (O_TMPFILE) where the file system allows it, else
// named ".<name>.<16 hex digits>.tmp" (a longer name cut, between characters, to fit); either way
// locked (flock) while this object lives, and a named one that an interrupted writer left behind is
// removed by the next AtomicFile for the same destination once its lock is free. Not copyable; one
// thread at a time.
class AtomicFile {
 public:
  // Creates the file for `destination` (a relative one taken from the current folder now); on
  // failure fd() is -1 and failure() says why.
  explicit AtomicFile(std::string destination);
  // Discards the file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // The open file to write to, or -1.
  int fd() const { return fd_; }
  // Why the file could not be created, or nullopt.
  const Failure& failure() const { return failure_; }
  // Gives the file `mode`'s permission bits (a replacement keeps the old file's); false, with
  // errno set, when that failed.
  bool setMode(unsigned mode);
  // What has been written to the file (before a commit, or after one that failed), or nullopt
  // when it cannot be read back.
  std::optional<std::string> contents() const;
  // Syncs the data, then makes the file the destination and syncs the folder. With `replace`
  // false an existing destination is kept and *existed (if given) is set instead.
  Failure commit(bool replace, bool* existed = nullptr);
  // Discards the file (also after a failed commit).
  void abort();

 private:
  Failure linkInPlace(bool replace, bool* existed);

  std::string destination_;
  std::string folder_;
  std::string temporaryName_;  // empty while the file is unnamed
  int fd_ = -1;
  Failure failure_;
};

}  // namespace csv::durable
