// CSVFile: the results log, results.csv in the documents folder, one row per completed session.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "session/settings_store.hpp"
#include "session/tool.hpp"

namespace quorin {

// How the results log shows a failure to the person at the kiosk; the app implements it with its
// Alert class. Tests record the calls.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Shows a one-button ("Close") alert with an optional title and a message.
  virtual void simpleWithTitle(const std::optional<std::string>& title,
                               const std::string& message) = 0;
};

// Appends completed sessions to results.csv. Every append is synced to disk before it returns; a
// failed or partial append is cut back off the file, shown with the alert and logged, and its row
// is kept in the settings store (qn_pending_rows, the rows' text in order) to be written first by
// the next append or by flushPendingRows() at launch, so no completed session is lost and row
// numbers stay unique and rising. The log never replaces or rewrites an existing file. Main
// thread only.
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
  // Stores the row counter.
  void setRowCount(long long rowCount);

  // Writes the header line as a new file, atomically, creating the documents folder if needed; an
  // existing file is left as it is. Shows the alert and logs on failure.
  void initCsvFile();
  // Advances the counter and returns the session's row, "\n" included (an empty Start Date field
  // for a model that has no start date).
  std::string toolToCsvRow(const Tool& tool);
  // Appends the session (after any pending rows) to the file.
  void addToCsv(const Tool& tool);
  // Appends any pending rows; true when none remain. Called at launch.
  bool flushPendingRows();

 private:
  // initCsvFile, telling whether the file now exists.
  bool createWithHeader();
  // The rows kept from failed appends, "" when none.
  std::string pendingRows() const;
  // Stores `rows` as the pending rows (replacing the previous ones, which they include).
  void keepPendingRows(const std::string& rows);
  // Forgets the pending rows once they are in the file; false (logged) when the store refused.
  bool clearPendingRows();
  // The alert and the diagnostic line for a failed write, `failure` being the error's text.
  void reportWriteFailure(const std::string& failure);

  std::shared_ptr<SettingsStore> store_;
  std::string filePath_;
  std::shared_ptr<AlertPresenter> alerts_;
};

}  // namespace quorin
