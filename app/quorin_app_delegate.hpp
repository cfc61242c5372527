// QuorinAppDelegate: owns the application-wide objects (the screening model, the results log, the
// window) and the kiosk's one setting; launches the start screen and, on request, the page flow.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "platform/speech.hpp"
#include "platform/window.hpp"
#include "session/csv_file.hpp"
#include "session/passcode.hpp"
#include "session/results_export.hpp"
#include "session/settings_store.hpp"
#include "session/tool.hpp"

namespace quorin {

// What the kiosk runs on; main() gives the real ones, tests give fakes and temporary folders.
struct AppEnvironment {
  std::shared_ptr<SettingsStore> store;
  std::string documentsFolder;
  Clock clock;                                   // "now" for the model; empty: the system clock
  std::shared_ptr<Scheduler> scheduler;          // timers and delayed steps
  std::shared_ptr<OpenInService> openInService;  // the export's "open in"
  std::string storeOpenFailure;  // why the settings store could not be opened, "" when it could
  std::string passcodePath{};    // the passcode's hash; "": the out-of-the-box code only
  std::chrono::seconds passcodeLockout = PasscodeLock::kDefaultDuration;
  // The USB drives mounted now; empty: none (the export then uses "open in")
  std::function<std::vector<RemovableDrive>()> removableDrives{};
  std::string kioskName = "kiosk";  // names the copies saved to drives; safe as a file name
  // The text-to-speech engine that reads pages aloud ("": Qt's default); none: no reading aloud
  std::optional<QString> speechEngine{};
};

// Lives for the whole run. Main thread only.
class QuorinAppDelegate : public QObject {
  Q_OBJECT

 public:
  static inline const std::string kTimeoutKey = "qn_timeout";
  static constexpr int kDefaultTimeout = 30;
  // Told to staff when the settings store cannot keep the session on disk.
  static constexpr const char* kStoreOpenFailedMessage = QT_TRANSLATE_NOOP(
      "quorin::QuorinAppDelegate",
      "Could not open the kiosk's settings!\n\nAnswers are kept only while the kiosk runs; "
      "completed sessions are still written to the csv file.");
  static constexpr const char* kStoreSaveFailedMessage = QT_TRANSLATE_NOOP(
      "quorin::QuorinAppDelegate",
      "Could not save the answers to disk!\n\nThey are kept while the kiosk runs, but would be "
      "lost if it stopped. Please tell staff.");

  explicit QuorinAppDelegate(AppEnvironment environment);
  ~QuorinAppDelegate() override;

  // The launch: model, log, logging of a complete stored session, start screen. Returns true.
  bool didFinishLaunching();

  // The single window (kiosk mode is set on it before the launch).
  Window& window() { return *window_; }
  // The screening model; valid from the launch on.
  Tool& tool() { return *tool_; }
  // The results log; valid from the launch on.
  CSVFile& csvFile() { return *csvFile_; }
  // Seconds under qn_timeout, or 30 when absent.
  int inactivityTimout() const;
  // Stores `seconds` under qn_timeout, unchecked.
  void setInactivityTimout(int seconds);
  // The administrator passcode, read from its file now (staff may change it while the kiosk
  // runs).
  Passcode passcode() const { return Passcode::load(environment_.passcodePath); }
  // Where the passcode's hash is kept; "" when nowhere (the out-of-the-box code only).
  const std::string& passcodePath() const { return environment_.passcodePath; }
  // How long wrong codes lock the export.
  std::chrono::seconds passcodeLockout() const { return environment_.passcodeLockout; }
  // The USB drives the results can be saved to now.
  std::vector<RemovableDrive> removableDrives() const {
    return environment_.removableDrives ? environment_.removableDrives()
                                        : std::vector<RemovableDrive>();
  }
  const std::string& kioskName() const { return environment_.kioskName; }
  // Replaces the start screen by the page flow and arms its inactivity timer.
  void startScreener();

  Scheduler& scheduler() { return *environment_.scheduler; }
  // The voice that reads pages aloud (unavailable without an engine, and then silent).
  Speech& speech() { return *speech_; }
  const std::shared_ptr<OpenInService>& openInService() const { return environment_.openInService; }

 private:
  AppEnvironment environment_;
  std::unique_ptr<Window> window_;
  std::unique_ptr<Tool> tool_;
  std::unique_ptr<CSVFile> csvFile_;
  std::unique_ptr<Speech> speech_;
};

// The interface override folder: $QUORIN_UI_DIR when set, else `kioskHome`/ui.
QString defaultInterfaceOverrideFolder(const QString& kioskHome);

}  // namespace quorin
