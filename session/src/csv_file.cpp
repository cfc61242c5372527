#include "session/csv_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "csv/csv_writer.hpp"
#include "csv/diagnostic_log.hpp"
#include "csv/durable_file.hpp"
#include "csv/error.hpp"
#include "csv/value.hpp"
#include "stored_values.hpp"

namespace quorin {
namespace {

constexpr const char* kFileName = "results.csv";
constexpr const char* kRowCountKey = "qn_csv_row_count";
// Row numbers read back from the file have at most 18 digits, so one more never overflows.
constexpr long long kMaxRowNumber = 1'000'000'000'000'000'000;
// Rows that could not be written yet, in order, as one text of complete lines ("\n" after each).
// One value rather than one key per row, so that keeping or clearing them is a single durable
// write. Rows never hold a line break of their own: their fields are numbers, a date, Y or N.
constexpr const char* kPendingRowsKey = "qn_pending_rows";
constexpr std::string_view kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
constexpr const char* kAlertTitle = "Error";
constexpr const char* kAlertMessage = "Could not write to csv file!";

// The file's last rows: enough of its end to hold every row a run can leave pending, and the
// newest rows a failed store may still hold as a session. Reading only this much keeps an append
// independent of the file's size.
constexpr off_t kTailBytes = 64 * 1024;

struct Tail {
  std::vector<std::string> lines;  // the complete lines as this log writes rows, oldest first
  std::string partial;             // what follows the last line break, but for zeros
  std::size_t zeros = 0;           // power-cut zeros at the very end: never text
  bool torn = false;               // partial is a row of ours that a power cut tore
  long long lastNumber = 0;        // the highest row number among the lines
  bool holdsNul = false;           // a complete line holds a NUL byte: not text in UTF-8

  bool hasLine(std::string_view line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // True when a row numbered above `counted` holds the session started at `startDate` (its
  // answers may be newer than the store's).
  bool hasSession(std::string_view startDate, long long counted) const;
};

// The leading row number of `line` (as asWritten gives it), or 0 (the header, or anything that is
// not a row).
long long rowNumberOf(std::string_view line) {
  long long number = 0;
  std::size_t i = 0;
  for (; i < line.size() && i < 18 && line[i] >= '0' && line[i] <= '9'; ++i) {
    number = number * 10 + (line[i] - '0');
  }
  return i > 0 && i < line.size() && line[i] == ',' ? number : 0;
}

// The length of the line end at text[at] (LF, CR LF or a spreadsheet's lone CR), or 0.
std::size_t lineEndAt(std::string_view text, std::size_t at) {
  if (text[at] == '\n') return 1;
  if (text[at] != '\r') return 0;
  return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
}

bool Tail::hasSession(std::string_view startDate, long long counted) const {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || rowNumberOf(line) <= counted) return false;
    const std::string_view date = std::string_view(line).substr(comma + 1);
    return date.substr(0, date.find(',')) == startDate;
  });
}

// `line` as this log writes its rows, whatever a spreadsheet that re-saved the file changed:
// quotes dropped (around numbers, say), and semicolons or tabs back to commas (a row holds none
// of them of its own).
std::string asWritten(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (const char c : line) {
    if (c != '"') out.push_back(c == ';' || c == '\t' ? ',' : c);
  }
  return out;
}

// Whether `partial`, the file's unfinished end, is a whole row without its line end (as an editor
// may save the file): all its fields. A row of ours that a power cut tore just before its last
// answer has them all but that one (this log writes a row only with every answer).
bool isWholeRow(std::string_view partial) {
  const std::string row = asWritten(partial);
  if (static_cast<std::size_t>(std::count(row.begin(), row.end(), ',')) <
      static_cast<std::size_t>(std::count(kHeader.begin(), kHeader.end(), ','))) {
    return false;
  }
  std::size_t answers = 0;  // where the first answer starts, after the fourth comma
  for (int commas = 0; commas < 4; ++commas) answers = row.find(',', answers) + 1;
  return row.back() != ',' || row.find(",,", answers - 1) != std::string::npos;
}

// Whether `partial`, the file's unfinished end, is the start of a row as this log writes them,
// which a power cut tore: a number, then a start date (or none), and the score, Y or N and
// answers. Staff's own text is not.
bool isTornRow(std::string_view partial) {
  const std::string torn = asWritten(partial);
  std::size_t i = torn.find_first_not_of("0123456789");
  if (torn.empty() || i == 0) return false;
  if (i == std::string::npos) return true;  // torn inside the number
  if (torn[i++] != ',') return false;
  constexpr std::string_view kDate = "dddd-dd-dd dd:dd:dd +dddd";
  if (i < torn.size() && torn[i] != ',') {
    for (std::size_t k = 0; k < kDate.size() && i < torn.size(); ++k, ++i) {
      const bool digit = torn[i] >= '0' && torn[i] <= '9';
      if (kDate[k] == 'd' ? !digit : torn[i] != kDate[k]) return false;
    }
  }
  return torn.find_first_not_of("0123456789,YN", i) == std::string::npos;
}

// The power-cut zeros at the very end of `text`.
std::size_t zerosAtEnd(std::string_view text) {
  return text.size() - (text.find_last_not_of('\0') + 1);
}

// Reads the tail of the file open as `fd` (size `size`), at least `least` bytes of it when it
// has them; a failure is a failed read.
std::optional<Tail> readTail(int fd, off_t size, std::size_t least = 0) {
  const off_t start =
      std::max<off_t>(0, size - std::max<off_t>(kTailBytes, static_cast<off_t>(least)));
  std::string bytes(static_cast<std::size_t>(size - start), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(fd, bytes.data() + done, bytes.size() - done, start + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) errno = EIO;  // the file ended before its size: not the error of some other call
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  Tail tail;
  std::size_t from = 0;
  if (start > 0) {
    // Begun inside a line: that line is not whole here.
    from = bytes.find_first_of("\r\n");
    from = from == std::string::npos ? bytes.size() : from + lineEndAt(bytes, from);
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    from = 3;  // a spreadsheet's byte-order mark
  }
  // Lines as text, whatever ends them: a spreadsheet that saved the file may have put CR LF.
  for (std::size_t end; (end = bytes.find_first_of("\r\n", from)) != std::string::npos;
       from = end + lineEndAt(bytes, end)) {
    tail.lines.push_back(asWritten(std::string_view(bytes).substr(from, end - from)));
    tail.lastNumber = std::max(tail.lastNumber, rowNumberOf(tail.lines.back()));
  }
  // Power-cut zeros come only after the last line; within the lines they are another encoding.
  tail.holdsNul = std::string_view(bytes).substr(0, from).find('\0') != std::string_view::npos;
  tail.partial = bytes.substr(from);
  tail.zeros = zerosAtEnd(tail.partial);
  tail.partial.resize(tail.partial.size() - tail.zeros);
  // A whole last row without its line end (as an editor may save the file) is a line like the
  // others; a torn row holds no number in use: it is cut off before anything is written.
  if (isWholeRow(tail.partial)) {
    tail.lines.push_back(asWritten(tail.partial));
    tail.lastNumber = std::max(tail.lastNumber, rowNumberOf(tail.lines.back()));
  } else {
    tail.torn = isTornRow(tail.partial);
  }
  return tail;
}

std::optional<Tail> readTail(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // No file (or no folder for it) has no rows yet.
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? std::optional<Tail>(Tail()) : std::nullopt;
  struct stat status {};
  std::optional<Tail> tail;
  if (::fstat(fd, &status) == 0) tail = readTail(fd, status.st_size);
  ::close(fd);
  return tail;
}

// Appends those lines of `rows` that the file does not already end with, and syncs them. A row
// that a power cut tore off at the end is cut off and written whole. A row whose number the file
// already uses is renumbered, and `keep` is given all the rows with their new numbers and the
// highest before they are written (so that a stop after the write finds them as written).
// Returns "" or the failure's text.
std::string appendOnce(const std::string& path, std::string_view rows,
                       const std::function<bool(const std::string&, long long)>& keep) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return *csv::Error::posix(errno, "opening the file").description;
  struct stat status {};
  std::optional<Tail> tail;
  // Rows that waited long (a file that would not take them) may be more than the usual tail; if
  // any of them reached the file, all of them lie within their own length of its end.
  if (::fstat(fd, &status) == 0) tail = readTail(fd, status.st_size, rows.size() + kTailBytes);
  if (!tail) {
    std::string failure = *csv::Error::posix(errno, "reading the file's end").description;
    ::close(fd);
    return failure;
  }
  // Saved as UTF-16 or UTF-32 (a spreadsheet's "Unicode text"), with a byte-order mark or
  // without, the file would take rows it cannot show and lose its last bytes: the rows wait
  // until staff save it as CSV again.
  char mark[2] = {};
  if (tail->holdsNul ||
      (status.st_size >= 2 && ::pread(fd, mark, 2, 0) == 2 &&
       ((mark[0] == '\xFF' && mark[1] == '\xFE') || (mark[0] == '\xFE' && mark[1] == '\xFF')))) {
    ::close(fd);
    return "the file is saved as UTF-16 or UTF-32 text, not as CSV (UTF-8); save it as CSV again "
           "or move it away, and the waiting rows follow";
  }
  std::string failure;
  std::string& partial = tail->partial;
  // Power-cut zeros, and a row of ours that a power cut tore: cut off, the row to be written whole
  // (by this append, or by a later one that can read the store where it waits). Staff's own text
  // stays as it is.
  std::size_t cut = tail->zeros;
  if (tail->torn) {
    csv::logDiagnostic("Results log: cutting off the torn row \"" + partial + "\" at the end of " +
                       path);
    cut += partial.size();
    partial.clear();
  }
  if (cut > 0 && ::ftruncate(fd, status.st_size - static_cast<off_t>(cut)) != 0) {
    failure = *csv::Error::posix(errno, "cutting off an unfinished end").description;
  }
  // A run whose store could not be read numbered its rows on from the file, not knowing the rows
  // that waited in the store: a waiting row whose number the file already uses takes the next
  // free one. So numbers stay unique and rising in the file.
  long long last = tail->lastNumber;
  std::string missing;
  std::string renumbered;  // all the rows, under the numbers they are written with
  bool anyRenumbered = false;
  for (std::size_t from = 0, end; (end = rows.find('\n', from)) != std::string_view::npos;
       from = end + 1) {
    std::string row(rows.substr(from, end - from));
    if (!tail->hasLine(row)) {
      if (const long long number = rowNumberOf(row); number > 0 && number <= last) {
        row = std::to_string(last + 1) + row.substr(row.find(','));
        anyRenumbered = true;
      }
      last = std::max(last, rowNumberOf(row));
      missing.append(row).push_back('\n');
    }
    renumbered.append(row).push_back('\n');
  }
  // Written under numbers the store does not know, they would be renumbered and written again.
  if (failure.empty() && anyRenumbered && !keep(renumbered, last)) {
    failure = "the settings store could not keep the new numbers of rows whose numbers were taken";
  }
  if (failure.empty() && !missing.empty() && !partial.empty()) {
    // An unfinished line that is not one of ours is kept; the rows start on a line of their own.
    csv::logDiagnostic("Results log: " + path + " ends in an unfinished line; it is kept");
    missing.insert(missing.begin(), '\n');
  }
  if (failure.empty() && !missing.empty() && status.st_size == static_cast<off_t>(cut)) {
    // An emptied file (staff took the rows away and kept the file) starts with the header, as a
    // new one does: a spreadsheet would take the first row for the column names.
    missing.insert(0, kHeader);
  }
  if (failure.empty() && !missing.empty()) {
    if (csv::durable::Failure written =
            csv::durable::appendSynced(fd, missing, "writing the row")) {
      failure = written->description.value_or("writing the row failed");
    }
  }
  // After a successful fdatasync the rows are on disk; close reports nothing more about them.
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

}  // namespace

std::size_t finishedLength(std::string_view contents) {
  const std::size_t lineEnd = contents.find_last_of("\r\n");
  const std::size_t from = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
  std::string_view partial = contents.substr(from);
  partial.remove_suffix(zerosAtEnd(partial));
  return from + (!isWholeRow(partial) && isTornRow(partial) ? 0 : partial.size());
}

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

bool CSVFile::setRowCount(long long rowCount) {
  return store_->setValue(kRowCountKey, SettingValue(std::int64_t{rowCount}));
}

void CSVFile::initCsvFile() { createWithHeader(); }

bool CSVFile::createWithHeader() {
  std::error_code folderError;
  const std::string folder = csv::durable::folderOf(filePath_);
  std::filesystem::create_directories(folder, folderError);
  if (folderError) {
    reportWriteFailure("could not create the folder " + folder + ": " + folderError.message());
    return false;
  }
  // Created whole or not at all, and never over a file that is already there; private, since it
  // holds people's health answers.
  csv::durable::AtomicFile file(filePath_);
  csv::durable::Failure failure = file.failure();
  if (!failure && !file.setMode(0600)) {
    failure = csv::Error::posix(errno, "could not make " + filePath_ + " private");
  }
  if (!failure) failure = csv::durable::writeAll(file.fd(), kHeader, "writing the header");
  if (!failure) failure = file.commit(false);
  if (!failure) return true;
  reportWriteFailure(failure->description.value_or("unknown failure"));
  return false;
}

// A model always has a start date once it has been restarted, which every session begins with; a
// model that has none (a store that lost it) gets an empty Start Date field, and the rest of the
// row is still written.
std::string CSVFile::rowText(const Tool& tool, long long number) const {
  const std::unique_ptr<csv::CSVWriter> writer = csv::CSVWriter::forWritingToString();
  writer->writeField(csv::Value(number));
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

long long CSVFile::storedRowCount() const {
  const long long counter = rowCount();
  if (counter >= 0 && counter < kMaxRowNumber) return counter;
  // Not a count this log ever stored (edited by hand?): the file's numbers go on alone.
  csv::logDiagnostic("Results log: ignoring " + std::string(kRowCountKey) + " = " +
                     std::to_string(counter) + " in the settings store");
  return 0;
}

std::string CSVFile::toolToCsvRow(const Tool& tool) {
  const long long number = storedRowCount() + 1;
  setRowCount(number);
  return rowText(tool, number);
}

bool CSVFile::addToCsv(const Tool& tool, bool fromLaunch) {
  const std::string pending = pendingRows();
  const std::optional<Tail> tail = readTail(filePath_);
  if (!tail) {
    // The session is still logged; only the checks against the file's last rows are lost.
    csv::logDiagnostic("Results log: could not read the end of " + filePath_ + ": " +
                       std::strerror(errno) +
                       " (the row is numbered from the settings store alone)");
  }
  const std::string row = rowText(tool, 0);
  const std::string session = row.substr(row.find(','), row.size() - row.find(',') - 1);
  const long long counted = storedRowCount();
  if (fromLaunch && store_->isDetached()) {
    // A part of the stored session could not be read (its start or its help answer would be
    // missing from the row), and the store keeps it for the next run, which would log it again.
    csv::logDiagnostic(
        "Results log: the session the settings store holds could not be read whole;"
        " it is left there for the next launch");
    return false;
  }
  // A row the counter already counts was logged with its session's clearing, in one step: a
  // session like it is another one (a clock that came back to the same second).
  const std::string startDate = session.substr(1, session.find(',', 1) - 1);
  if (fromLaunch && tail && tool.startDate() && tail->hasSession(startDate, counted)) {
    // A run that stopped between the append and clearing the store, with a store that could not
    // save the clearing, leaves the logged session stored: it is cleared, not logged again. Its
    // start tells it; its answers may be older than the row's, if the store could not save the
    // last ones either (a full disk). No person finishes a session within the second.
    csv::logDiagnostic("Results log: the session started " + startDate + " is already in " +
                       filePath_ + "; it is not logged again");
    store_->applyChanges(tool.newSessionChanges());
    return pending.empty() || writeRows(pending, true);
  }
  const long long number = std::max(counted, tail ? tail->lastNumber : 0) + 1;
  const std::string rows = pending + std::to_string(number) + session + "\n";
  // The row, its number and the end of the session in one step: a crash on either side of it
  // leaves the session either stored or pending, never both.
  std::vector<SettingChange> changes = tool.newSessionChanges();
  changes.push_back({kRowCountKey, SettingValue(std::int64_t{number})});
  changes.push_back({kPendingRowsKey, SettingValue(rows)});
  const bool kept = store_->applyChanges(changes);
  return writeRows(rows, kept);
}

bool CSVFile::flushPendingRows() {
  const std::string pending = pendingRows();
  const bool written = pending.empty() || writeRows(pending, true);
  // A store that could not be read may hold more: none can be said to remain.
  return written && !store_->isDetached();
}

void CSVFile::catchUpRowCount() {
  if (store_->isDetached()) return;
  const std::optional<Tail> tail = readTail(filePath_);
  if (tail && tail->lastNumber > storedRowCount()) setRowCount(tail->lastNumber);
}

bool CSVFile::writeRows(const std::string& rows, bool kept) {
  std::string failure;
  if (fileExists(filePath_) || createWithHeader()) {
    // Renumbered rows are stored as such before they are written, so that a stop between the
    // write and forgetting them leaves them findable in the file, not to be renumbered again.
    // (A detached store keeps nothing on disk that could be renumbered again.)
    const auto keep = [this](const std::string& renumbered, long long highest) {
      return store_->applyChanges({{kPendingRowsKey, SettingValue(renumbered)},
                                   {kRowCountKey, SettingValue(std::int64_t{highest})}}) ||
             store_->isDetached();
    };
    failure = appendOnce(filePath_, rows, keep);
    if (failure.empty()) {
      // Once in the file the rows may be forgotten. If the store cannot save that, a later
      // append finds them in the file and does not write them again.
      store_->removeValueForKey(kPendingRowsKey);
      return true;
    }
    reportWriteFailure(failure);
  }
  const std::size_t count = static_cast<std::size_t>(std::count(rows.begin(), rows.end(), '\n'));
  if (kept) {
    csv::logDiagnostic("Results log: " + std::to_string(count) + " row(s) for " + filePath_ +
                       " are kept in the settings store and written before the next row");
  } else {
    // Neither the file nor the store took them: they live in memory only until the next append,
    // so their text goes to the log where it can be recovered.
    csv::logDiagnostic("Results log: could not keep " + std::to_string(count) + " row(s) for " +
                       filePath_ + " on disk; their text follows:\n" + rows);
  }
  return false;
}

std::string CSVFile::pendingRows() const {
  const std::optional<SettingValue> value = store_->valueForKey(kPendingRowsKey);
  if (!value) return {};
  if (const auto* rows = std::get_if<std::string>(&*value)) return *rows;
  csv::logDiagnostic(std::string("Results log: ignoring ") + kPendingRowsKey +
                     " in the settings store, which does not hold text");
  return {};
}

void CSVFile::reportWriteFailure(const std::string& failure) {
  if (alerts_) alerts_->simpleWithTitle(std::string(kAlertTitle), kAlertMessage);
  csv::logDiagnostic("Error: Could not write to csv file:\n\tPath : " + filePath_ +
                     "\n\tError: " + failure);
}

}  // namespace quorin
