// Saving the results to a USB drive: finding the drives the system has mounted for the kiosk,
// naming the copy, and writing it so that a copy reported saved is complete on the drive.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quorin {

// A mounted removable drive.
struct RemovableDrive {
  std::string mountPoint;  // e.g. /media/kiosk/STICK
  std::string name;        // what staff know it by: the mount point's last part ("STICK")
};

// Where removable drives are mounted: $QUORIN_EXPORT_ROOT alone when set (a deployment's own
// mount folder, or a test's); else the folders udisks2 uses for this user (/media/<user>,
// /run/media/<user>) and /media itself (usbmount, systemd-mount rules).
std::vector<std::string> driveFolders();
// The drives mounted directly inside one of `folders`, according to `mountinfo` (the text of
// /proc/self/mountinfo), sorted by mount point; a mount point mounted over again counts once.
std::vector<RemovableDrive> removableDrives(std::string_view mountinfo,
                                            const std::vector<std::string>& folders);
// The drives mounted now, in driveFolders().
std::vector<RemovableDrive> removableDrives();

// `name` made safe as part of a file name on any drive: letters, digits, '.', '_' and '-' kept,
// each run of other characters one '-', no leading dot or dash, at most 40 characters; "kiosk"
// when nothing is left.
std::string safeFileName(std::string_view name);
// $QUORIN_KIOSK_NAME when set, else the host name; made safe.
std::string kioskName();
// "results-<kiosk>-<yyyy-mm-dd>.csv" for the local date of `when`.
std::string exportFileName(std::string_view kiosk, std::chrono::system_clock::time_point when);

// How saving to a drive ended.
enum class ExportOutcome {
  Saved,
  NoResults,   // there is no results file yet, or it is empty
  Full,        // the drive has no room (or the copy is larger than it allows)
  ReadOnly,    // the drive is mounted read-only (write-protected, its lock switch on)
  NotAllowed,  // the kiosk's user may not write there (the drive was mounted for another user)
  Removed,     // the drive went away or stopped answering during the copy
  Mismatch,    // what was read back is not what was written
  Unreadable,  // the kiosk's own results file could not be read: nothing was copied
  Failed,      // anything else; `detail` says what
};

struct ExportResult {
  ExportOutcome outcome = ExportOutcome::Failed;
  std::string path;    // the copy's full path on the drive
  std::string detail;  // the operating system's words, for the log
};

// Copies the file at `resultsPath` to `drive` as `fileName` (result.path says where): into a
// temporary file beside it that replaces an earlier copy of that name only once it is complete
// and synced, and only when the new copy begins with the earlier one (else it is named
// "<stem>-2.csv", "-3", ...), then reads the copy back from the drive and compares it. The copy is
// read through the drive's mount, so a drive unmounted or pulled out meanwhile is not reported
// saved, and nothing is written once the drive's file system is no longer the one mounted there.
// What stands at the name and is no regular file, or is longer than the new copy, is not read
// (it cannot be the copy's start). Temporary copies that interrupted exports left on the drive
// are removed first. A row that a power cut tore at the file's end is left out (finishedLength).
ExportResult exportResults(const std::string& resultsPath, const RemovableDrive& drive,
                           const std::string& fileName);

}  // namespace quorin
