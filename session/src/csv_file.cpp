#include "session/csv_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "csv/csv_writer.hpp"
#include "csv/diagnostic_log.hpp"
#include "csv/error.hpp"
#include "csv/value.hpp"
#include "stored_values.hpp"

namespace quorin {
namespace {

constexpr const char* kFileName = "results.csv";
constexpr const char* kRowCountKey = "qn_csv_row_count";
// Rows that could not be written yet, in order, as one text of complete lines ("\n" after each).
// One value rather than one key per row, so that keeping or clearing them is a single durable
// write. Rows never hold a line break of their own: their fields are numbers, a date, Y or N.
constexpr const char* kPendingRowsKey = "qn_pending_rows";
constexpr std::string_view kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
constexpr const char* kAlertTitle = "Error";
constexpr const char* kAlertMessage = "Could not write to csv file!";

std::string posixText(int errnoValue, std::string_view context) {
  return csv::Error::posix(errnoValue, context).description.value_or(std::string());
}

// Writes all of `bytes` to `fd`, resuming after interruptions and short writes; "" or the failure.
std::string writeAll(int fd, std::string_view bytes, std::string_view context) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return posixText(errno, context);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

// Creates `path` holding `contents`, whole or not at all: the text goes to a temporary file in
// the same folder (so the last step is a rename within one file system), is synced, and is then
// renamed into place without replacing anything already there; the folder is synced last so the
// new name survives a power cut. A file that appears at `path` meanwhile is kept as it is.
// Returns "" or the failure's text; on failure nothing is left behind.
std::string createFileAtomically(const std::string& path, std::string_view contents) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code folderError;
  std::filesystem::create_directories(folder, folderError);
  if (folderError) {
    return "could not create the folder " + folder.string() + ": " + folderError.message();
  }

  std::string temporary = (folder / ".results.csv.XXXXXX").string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return posixText(errno, "creating a temporary file in " + folder.string());
  std::string failure = writeAll(fd, contents, "writing " + temporary);
  if (failure.empty() && ::fsync(fd) != 0) failure = posixText(errno, "syncing " + temporary);
  if (::close(fd) != 0 && failure.empty()) failure = posixText(errno, "closing " + temporary);
  if (!failure.empty()) {
    ::unlink(temporary.c_str());
    return failure;
  }

  int renameError = 0;
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
    renameError = errno;
    if (renameError == EINVAL || renameError == ENOSYS) {
      // File systems without RENAME_NOREPLACE: a hard link cannot replace a file either.
      renameError = ::link(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    }
  }
  // Gone after a rename; after a link or a refusal it is a name that must not stay behind.
  ::unlink(temporary.c_str());
  if (renameError != 0 && renameError != EEXIST) {
    return posixText(renameError, "moving the new file into place");
  }

  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return posixText(errno, "opening the folder to sync it");
  failure = ::fsync(folderFd) == 0 ? std::string() : posixText(errno, "syncing the folder");
  ::close(folderFd);
  return failure;
}

// Appends `bytes` at the end of the existing file at `path` and syncs them. A failed or partial
// append is cut off again, so the file never keeps half a row. Returns "" or the failure's text.
std::string appendDurably(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return posixText(errno, "opening the file");
  struct stat before {};
  if (::fstat(fd, &before) != 0) {
    const std::string failure = posixText(errno, "reading the file's size");
    ::close(fd);
    return failure;
  }
  std::string failure = writeAll(fd, bytes, "writing the row");
  if (failure.empty() && ::fdatasync(fd) != 0) failure = posixText(errno, "syncing the row");
  if (!failure.empty()) {
    if (::ftruncate(fd, before.st_size) != 0) {
      failure += "; " + posixText(errno, "removing the partly written row");
    } else {
      ::fdatasync(fd);
    }
  }
  // After a successful fdatasync the row is on disk; close reports nothing more about it.
  ::close(fd);
  return failure;
}

bool fileExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

std::string percentEncoded(std::string_view path) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                       byte == '~' || byte == '/';
    if (plain) {
      text.push_back(c);
    } else {
      text.push_back('%');
      text.push_back(kHex[byte >> 4]);
      text.push_back(kHex[byte & 0xF]);
    }
  }
  return text;
}

std::size_t lineCount(std::string_view rows) {
  std::size_t count = 0;
  for (const char c : rows) count += c == '\n' ? 1 : 0;
  return count;
}

}  // namespace

CSVFile::CSVFile(std::shared_ptr<SettingsStore> store, std::string documentsFolder,
                 std::shared_ptr<AlertPresenter> alerts)
    : store_(std::move(store)),
      filePath_((std::filesystem::path(std::move(documentsFolder)) / kFileName).string()),
      alerts_(std::move(alerts)) {}

std::string CSVFile::fileUrl() const { return "file://" + percentEncoded(filePath_); }

long long CSVFile::rowCount() const {
  const std::optional<SettingValue> value = store_->valueForKey(kRowCountKey);
  return value ? detail::integerValue(*value) : 0;
}

void CSVFile::setRowCount(long long rowCount) {
  store_->setValue(kRowCountKey, SettingValue(std::int64_t{rowCount}));
}

void CSVFile::initCsvFile() { createWithHeader(); }

bool CSVFile::createWithHeader() {
  const std::string failure = createFileAtomically(filePath_, kHeader);
  if (failure.empty()) return true;
  reportWriteFailure(failure);
  return false;
}

// A model always has a start date once it has been restarted, which every session begins with; a
// model that has none (a store that lost it) gets an empty Start Date field, and the rest of the
// row is still written.
std::string CSVFile::toolToCsvRow(const Tool& tool) {
  const long long rowNumber = rowCount() + 1;
  setRowCount(rowNumber);

  const std::unique_ptr<csv::CSVWriter> writer = csv::CSVWriter::forWritingToString();
  writer->writeField(csv::Value(rowNumber));
  if (const std::optional<Date> start = tool.startDate()) {
    writer->writeField(csv::Value(*start));
  } else {
    writer->writeField(csv::Value(std::string()));
  }
  writer->writeField(csv::Value(tool.scoreAsString()));
  writer->writeField(csv::Value(tool.helpWanted() ? "Y" : "N"));
  for (int question = 1; question <= tool.questionCt(); ++question) {
    writer->writeField(csv::Value(tool.answerAsString(question)));
  }
  return writer->stringValue().value_or(std::string()) + "\n";
}

void CSVFile::addToCsv(const Tool& tool) {
  const std::string pending = pendingRows();
  const bool ready = fileExists(filePath_) || createWithHeader();
  // Pending rows were numbered when they were built, so they go first and numbers keep rising.
  const std::string rows = pending + toolToCsvRow(tool);
  if (ready) {
    const std::string failure = appendDurably(filePath_, rows);
    if (failure.empty()) {
      if (!pending.empty()) clearPendingRows();
      return;
    }
    reportWriteFailure(failure);
  }
  keepPendingRows(rows);
}

bool CSVFile::flushPendingRows() {
  const std::string pending = pendingRows();
  if (pending.empty()) return true;
  if (!fileExists(filePath_) && !createWithHeader()) {
    keepPendingRows(pending);
    return false;
  }
  const std::string failure = appendDurably(filePath_, pending);
  if (!failure.empty()) {
    reportWriteFailure(failure);
    keepPendingRows(pending);
    return false;
  }
  return clearPendingRows();
}

std::string CSVFile::pendingRows() const {
  const std::optional<SettingValue> value = store_->valueForKey(kPendingRowsKey);
  if (!value) return {};
  if (const auto* rows = std::get_if<std::string>(&*value)) return *rows;
  csv::logDiagnostic(std::string("Results log: ignoring ") + kPendingRowsKey +
                     " in the settings store, which does not hold text");
  return {};
}

void CSVFile::keepPendingRows(const std::string& rows) {
  const std::size_t count = lineCount(rows);
  if (store_->setValue(kPendingRowsKey, rows)) {
    csv::logDiagnostic("Results log: " + std::to_string(count) + " row(s) for " + filePath_ +
                       " are kept in the settings store and written before the next row");
    return;
  }
  // The store has logged why; the rows themselves go to the log so that they can be recovered.
  csv::logDiagnostic("Results log: could not keep " + std::to_string(count) + " row(s) for " +
                     filePath_ + "; their text follows:\n" + rows);
}

bool CSVFile::clearPendingRows() {
  if (store_->removeValueForKey(kPendingRowsKey)) return true;
  csv::logDiagnostic("Results log: pending rows were written to " + filePath_ +
                     " but could not be cleared from the settings store; they may appear twice");
  return false;
}

void CSVFile::reportWriteFailure(const std::string& failure) {
  if (alerts_) alerts_->simpleWithTitle(std::string(kAlertTitle), kAlertMessage);
  csv::logDiagnostic("Error: Could not write to csv file:\n\tPath : " + filePath_ +
                     "\n\tError: " + failure);
}

}  // namespace quorin
