// Helpers shared by the session tests: recording observers and alerts, and a kiosk fixture with a
// settable clock, in a fresh folder, with the diagnostic log captured.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnostic_capture.hpp"
#include "session/csv_file.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"
#include "temp_folder.hpp"

namespace quorin::testing {

using test::DiagnosticCapture;
using test::readFile;
using test::TempFolder;
using test::writeFile;

using Notified = std::function<void(const std::string& notification)>;

// An observer with no answer displays: it leaves resetQuestions to the protocol's default.
struct ScoreOnlyObserver : ToolDelegate {
  explicit ScoreOnlyObserver(Notified notified) : on(std::move(notified)) {}
  void resetScore() override { on("resetScore"); }
  void showScore() override { on("showScore"); }
  Notified on;
};

struct Observer : ScoreOnlyObserver {
  using ScoreOnlyObserver::ScoreOnlyObserver;
  void resetQuestions() override { on("resetQuestions"); }
};

// Records each alert as "title|message".
struct RecordingAlerts : AlertPresenter {
  void simpleWithTitle(const std::optional<std::string>& title, const std::string& msg) override {
    shown.push_back(title.value_or("<none>") + "|" + msg);
  }
  std::vector<std::string> shown;
};

// 2013-04-02 14:05:09 UTC plus `extra`.
inline Date exampleDate(std::chrono::nanoseconds extra = {}) {
  using namespace std::chrono;
  return Date(sys_days{year{2013} / 4 / 2} + hours{14} + minutes{5} + seconds{9}) +
         duration_cast<Date::duration>(extra);
}

// A kiosk in a fresh folder: settings store, model on a settable clock, results log, and what
// the observers, alerts and diagnostic log were told.
class KioskTest : public ::testing::Test {
 protected:
  // Answers questions 1 to 8 in order; -1 clears a question.
  void answer(const std::vector<int>& answers) {
    for (int q = 1; q <= 8; ++q) tool_.setAnswer(answers[static_cast<std::size_t>(q - 1)], q);
  }
  std::optional<SettingValue> stored(const std::string& key) const {
    return store_->valueForKey(key);
  }
  // An observer callback that logs "name.notification".
  Notified recorder(const std::string& name) {
    return [this, name](const std::string& notification) {
      log_.push_back(name + "." + notification);
    };
  }
  // Closes everything and opens it again on the same files, as the next launch does.
  void relaunch() {
    store_.reset();
    tool_ = Tool(nullptr);
    csv_ = CSVFile(nullptr, documents_, alerts_);
    store_ = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
    tool_ = Tool(store_, [this] { return now_; });
    csv_ = CSVFile(store_, documents_, alerts_);
  }

  TempFolder folder_;
  std::string documents_ = folder_ / "Documents";
  std::string results_ = documents_ + "/results.csv";
  std::shared_ptr<SettingsStore> store_ = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
  Date now_ = exampleDate(std::chrono::milliseconds{700});
  Tool tool_{store_, [this] { return now_; }};
  std::shared_ptr<RecordingAlerts> alerts_ = std::make_shared<RecordingAlerts>();
  CSVFile csv_{store_, documents_, alerts_};
  std::vector<std::string> log_;
  DiagnosticCapture diagnostics_;
};

}  // namespace quorin::testing
