// Helpers for the kiosk's tests: a temporary kiosk home with a real settings database, a store
// that records the order of reads and writes, a fixed clock, virtual time and a recording "open
// in" service.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "csv/diagnostic_log.hpp"
#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "quorin_app_delegate.hpp"
#include "session/sqlite_settings_store.hpp"

namespace quorin::testing {

// Every read and write passes to the real store and is noted as "get key", "set key" or
// "remove key", so tests can check what happened in which order.
class RecordingStore : public SettingsStore {
 public:
  explicit RecordingStore(std::unique_ptr<SettingsStore> inner) : inner_(std::move(inner)) {}
  std::optional<SettingValue> valueForKey(std::string_view key) const override {
    operations.push_back("get " + std::string(key));
    return inner_->valueForKey(key);
  }
  bool setValue(std::string_view key, SettingValue value) override {
    operations.push_back("set " + std::string(key));
    return inner_->setValue(key, std::move(value));
  }
  bool removeValueForKey(std::string_view key) override {
    operations.push_back("remove " + std::string(key));
    return inner_->removeValueForKey(key);
  }
  // The position of the first (or last) operation equal to `op`, or -1.
  long firstIndexOf(const std::string& op) const {
    for (std::size_t i = 0; i < operations.size(); ++i) {
      if (operations[i] == op) return static_cast<long>(i);
    }
    return -1;
  }
  long lastIndexOf(const std::string& op) const {
    for (std::size_t i = operations.size(); i-- > 0;) {
      if (operations[i] == op) return static_cast<long>(i);
    }
    return -1;
  }

  mutable std::vector<std::string> operations;

 private:
  std::unique_ptr<SettingsStore> inner_;
};

struct RecordingOpenIn : OpenInService {
  bool openFile(const QUrl& url, QWidget* parent) override {
    calls.push_back({url, parent});
    return answer;
  }
  bool answer = true;
  std::vector<std::pair<QUrl, QWidget*>> calls;
};

// 2 April 2013, 14:05:09 UTC.
inline Date sessionStart() {
  using namespace std::chrono;
  return sys_days{year{2013} / April / 2} + hours{14} + minutes{5} + seconds{9};
}

// The moment of the launches under test: 1 May 2024, 09:30:00 UTC.
inline Date launchTime() {
  using namespace std::chrono;
  return sys_days{year{2024} / May / 1} + hours{9} + minutes{30};
}

// A kiosk home in a fresh temporary folder, with what a launch needs.
class KioskHome {
 public:
  KioskHome()
      : store(std::make_shared<RecordingStore>(SqliteSettingsStore::open(
            QDir(dir_.path()).filePath("settings.sqlite3").toStdString()))),
        documents(QDir(dir_.path()).filePath("Documents").toStdString()),
        scheduler(std::make_shared<ManualScheduler>()),
        openIn(std::make_shared<RecordingOpenIn>()),
        previousSink_(csv::setDiagnosticSink(
            [this](std::string_view line) { diagnostics.emplace_back(line); })) {}
  ~KioskHome() { csv::setDiagnosticSink(std::move(previousSink_)); }

  AppEnvironment environment() const {
    return {store, documents, [] { return launchTime(); }, scheduler, openIn};
  }
  std::unique_ptr<QuorinAppDelegate> launch() const {
    auto app = std::make_unique<QuorinAppDelegate>(environment());
    app->didFinishLaunching();
    return app;
  }
  QString path() const { return dir_.path(); }
  std::string resultsPath() const { return documents + "/results.csv"; }
  // The results file's lines, or nothing when there is no file.
  std::optional<std::vector<std::string>> resultLines() const {
    QFile file(QString::fromStdString(resultsPath()));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    std::vector<std::string> lines;
    for (const QByteArray& line : file.readAll().split('\n')) lines.push_back(line.toStdString());
    return lines;
  }
  // Stores a session with these answers (-1: unanswered), started at sessionStart().
  void storeSession(const std::vector<int>& answers, bool helpWanted) {
    Tool tool(store);
    for (std::size_t i = 0; i < answers.size(); ++i) {
      if (answers[i] >= 0) tool.setAnswer(answers[i], static_cast<int>(i) + 1);
    }
    tool.setHelpWanted(helpWanted);
    tool.setStartDate(sessionStart());
    store->operations.clear();
  }

 private:
  QTemporaryDir dir_;

 public:
  std::shared_ptr<RecordingStore> store;
  std::string documents;
  std::shared_ptr<ManualScheduler> scheduler;
  std::shared_ptr<RecordingOpenIn> openIn;
  std::vector<std::string> diagnostics;

 private:
  csv::DiagnosticSink previousSink_;
};

}  // namespace quorin::testing
