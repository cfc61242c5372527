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

// Appends completed sessions to results.csv. Every append is durable before it returns; a row
// that cannot be written is kept in the settings store as pending and written first by the next
// append (or the next launch), so no completed session is lost. Main thread only.
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

  // Writes the header line as a new file, atomically; shows the alert and logs on failure.
  void initCsvFile();
  // Advances the counter and returns the session's row, "\n" included.
  std::string toolToCsvRow(const Tool& tool);
  // Appends the session (after any pending rows) to the file.
  void addToCsv(const Tool& tool);
  // Appends any pending rows; true when none remain. Called at launch.
  bool flushPendingRows();

 private:
  std::shared_ptr<SettingsStore> store_;
  std::string filePath_;
  std::shared_ptr<AlertPresenter> alerts_;
};

}  // namespace quorin
