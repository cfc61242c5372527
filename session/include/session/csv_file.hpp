// CSVFile: the results log, results.csv in the documents folder, one row per completed session.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "session/alert_presenter.hpp"
#include "session/settings_store.hpp"
#include "session/tool.hpp"

namespace quorin {

// Appends completed sessions to results.csv, each exactly once. Logging a session is one step in
// the settings store (the row is numbered, kept as pending, and the session cleared, together)
// followed by the synced append; a row is then forgotten from the store. Whatever instant a run
// stops at, the next append or launch finds the pending rows and writes only those not already
// at the end of the file, writing whole a row that a power cut tore; and a complete session that a
// store which could not save is still holding is recognised in the file's last rows by its start
// date and answers. Row numbers stay unique and rising: the next is one above both the counter
// and the last row in the file, and a pending row whose number the file already uses (a run with
// a detached store numbered on from the file) takes the next free one. A failed append is cut
// back off the file, shown with the alert and logged; its row stays pending. The log never
// replaces or rewrites an existing file, and reads only its last 64 KiB. Main thread only.
class CSVFile {
 public:
  // The log for `documentsFolder`/results.csv; touches neither the file nor the store.
  CSVFile(std::shared_ptr<SettingsStore> store, std::string documentsFolder,
          std::shared_ptr<AlertPresenter> alerts);

  // Full path of results.csv.
  const std::string& filePath() const { return filePath_; }
  // "file://" URL of filePath(), percent-encoded.
  std::string fileUrl() const;
  // Number of the last row built (qn_csv_row_count), 0 when absent.
  long long rowCount() const;
  // Stores the row counter; true when durable.
  bool setRowCount(long long rowCount);

  // Writes the header line as a new file, atomically, creating the documents folder if needed; an
  // existing file is left as it is. Shows the alert and logs on failure.
  void initCsvFile();
  // Advances the counter and returns the session's row, "\n" included (an empty Start Date field
  // for a model that has no start date).
  std::string toolToCsvRow(const Tool& tool);
  // Logs the model's complete session (after any pending rows) and clears it from the store;
  // true when its row is durably in the file. The caller restarts the model next. `fromLaunch`:
  // the session the store held at launch, which a stopped run may have logged already; one whose
  // start a row of the file's end above the counter holds is then only cleared (the row may hold
  // newer answers than the store could save), and one a detached store could not read whole is
  // left for the next launch.
  bool addToCsv(const Tool& tool, bool fromLaunch = false);
  // Appends any pending rows; true when none remain (false when a detached store cannot tell).
  // Called at launch and before an export.
  bool flushPendingRows();
  // Raises the counter to the file's last row number (rows a run with a detached store numbered
  // on), so that numbers keep rising if the file is moved away. Called once a launch has logged.
  void catchUpRowCount();

 private:
  // initCsvFile, telling whether the file now exists.
  bool createWithHeader();
  // The session's row numbered `number`, "\n" included.
  std::string rowText(const Tool& tool, long long number) const;
  // rowCount(), or 0 (logged) for a count no log could have stored, which the file's numbers
  // then replace.
  long long storedRowCount() const;
  // The rows kept from appends not yet known to be in the file, "" when none.
  std::string pendingRows() const;
  // Appends those of `rows` not already in the file, then forgets the pending rows. `kept` says
  // whether the store holds them durably, for the message if the file cannot take them.
  bool writeRows(const std::string& rows, bool kept);
  // The alert and the diagnostic line for a failed write, `failure` being the error's text.
  void reportWriteFailure(const std::string& failure);

  std::shared_ptr<SettingsStore> store_;
  std::string filePath_;
  std::shared_ptr<AlertPresenter> alerts_;
};

// The length of `contents`, the text of results.csv, without the unfinished end that a power cut
// can leave after the last line: zeros, and a row of this log's that it tore (the row waits in the
// store, and the next append cuts the end off and writes it whole). Staff's own text stays.
std::size_t finishedLength(std::string_view contents);

}  // namespace quorin
