// Helpers for the kiosk's tests: a temporary kiosk home with a real settings database, a store
// that records the order of reads and writes, a fixed clock, virtual time, a recording "open in"
// service, and a fixture with the page flow on screen that acts through the real controls.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "csv/diagnostic_log.hpp"
#include "page_controller.hpp"
#include "platform/alert.hpp"
#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "platform/scroll_view.hpp"
#include "quorin_app_delegate.hpp"
#include "score_page_controller.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"
#include "tool_page_controller.hpp"

namespace quorin::testing {

using std::chrono::milliseconds;
using Answers = std::array<int, 8>;
constexpr Answers kComplete = {3, 2, 1, 0, 2, 2, 0, 1};  // score 4
constexpr Answers kSeven = {3, 2, 1, 0, 2, 2, 0, -1};
inline const std::string kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8";

// Every read and write passes to the real store and is noted as "get key" or "set key", so
// tests can check what happened in which order.
class RecordingStore : public SettingsStore {
 public:
  explicit RecordingStore(std::unique_ptr<SettingsStore> inner) : inner_(std::move(inner)) {}
  std::optional<SettingValue> valueForKey(std::string_view key) const override {
    operations.push_back("get " + std::string(key));
    return inner_->valueForKey(key);
  }
  bool applyChanges(const std::vector<SettingChange>& changes) override {
    for (const SettingChange& change : changes) {
      if (change.value) operations.push_back("set " + change.key);
    }
    return inner_->applyChanges(changes);
  }
  mutable std::vector<std::string> operations;

 private:
  std::unique_ptr<SettingsStore> inner_;
};

struct RecordingOpenIn : OpenInService {
  void openFile(const QUrl& url, QWidget* parent, Done done) override {
    calls.push_back({url, parent});
    done(outcome);
  }
  OpenOutcome outcome = OpenOutcome::Opened;
  std::vector<std::pair<QUrl, QWidget*>> calls;
};

// When stored sessions began, and the moment of the launches under test.
inline const Date kSessionStart = std::chrono::sys_days{std::chrono::April / 2 / 2013} +
                                  std::chrono::seconds{14 * 3600 + 5 * 60 + 9};
inline const Date kLaunchTime =
    std::chrono::sys_days{std::chrono::May / 1 / 2024} + std::chrono::minutes{9 * 60 + 30};

// A kiosk home in a fresh temporary folder, with what a launch needs.
class KioskHome {
 public:
  KioskHome()
      : store(std::make_shared<RecordingStore>(SqliteSettingsStore::open(
            QDir(dir_.path()).filePath("settings.sqlite3").toStdString()))),
        documents(QDir(dir_.path()).filePath("Documents").toStdString()),
        previousSink_(csv::setDiagnosticSink([](std::string_view) {})) {}
  ~KioskHome() { csv::setDiagnosticSink(std::move(previousSink_)); }

  AppEnvironment environment() const {
    // The model's clock follows virtual time, so that sessions start at distinct moments as they
    // do for real people.
    return {store,
            documents,
            [clock = scheduler] {
              return kLaunchTime + std::chrono::duration_cast<Date::duration>(clock->now());
            },
            scheduler,
            openIn,
            {}};
  }
  std::unique_ptr<QuorinAppDelegate> launch() const {
    auto app = std::make_unique<QuorinAppDelegate>(environment());
    EXPECT_TRUE(app->didFinishLaunching());
    return app;
  }
  std::string resultsPath() const { return documents + "/results.csv"; }
  // The results file's non-empty lines; none when there is no file.
  std::vector<std::string> resultLines() const {
    std::vector<std::string> lines;
    QFile file(QString::fromStdString(resultsPath()));
    if (!file.open(QIODevice::ReadOnly)) return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.isEmpty()) lines.push_back(line.toStdString());
    }
    return lines;
  }
  // Stores a session with these answers (-1: unanswered), started at kSessionStart.
  void storeSession(const Answers& answers, bool helpWanted) {
    Tool tool(store);
    for (std::size_t i = 0; i < answers.size(); ++i) {
      if (answers[i] >= 0) tool.setAnswer(answers[i], static_cast<int>(i) + 1);
    }
    tool.setHelpWanted(helpWanted);
    tool.setStartDate(kSessionStart);
    store->operations.clear();
  }

 private:
  QTemporaryDir dir_;

 public:
  std::shared_ptr<RecordingStore> store;
  std::string documents;
  std::shared_ptr<ManualScheduler> scheduler = std::make_shared<ManualScheduler>();
  std::shared_ptr<RecordingOpenIn> openIn = std::make_shared<RecordingOpenIn>();

 private:
  csv::DiagnosticSink previousSink_;
};

// The first button under `root` whose action is `action`.
inline QAbstractButton* buttonWithAction(QWidget* root, const char* action) {
  for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
    if (button->property("action").toByteArray() == action) return button;
  }
  return nullptr;
}

// A launched kiosk; start() puts the page flow on screen, with instant scroll animations.
class PageFlowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ScrollView::setDefaultAnimationDuration(0);
    home_ = std::make_unique<KioskHome>();
    app_ = home_->launch();
  }
  void TearDown() override {
    Alert::dismissAll();
    flow_ = nullptr;
    app_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    home_.reset();
    ScrollView::setDefaultAnimationDuration(250);
  }
  // For tests that try several cases: a fresh kiosk home.
  void relaunch() {
    TearDown();
    SetUp();
  }

  // Starts the questionnaire as the start screen's control does.
  void start() {
    app_->startScreener();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    flow_ = qobject_cast<PageController*>(app_->window().rootViewController());
    ASSERT_NE(flow_, nullptr);
    app_->window().resize(768, 1024);
    QCoreApplication::processEvents();
    ASSERT_GT(pageWidth(), 0.0);
  }

  PageController& flow() { return *flow_; }
  Tool& tool() { return app_->tool(); }
  ScrollView& scrollView() { return *flow_->scrollView(); }
  ToolPageController& toolPage() {
    return *std::static_pointer_cast<ToolPageController>(flow_->views()[4]);
  }
  ScorePageController& scorePage() {
    return *std::static_pointer_cast<ScorePageController>(flow_->views()[5]);
  }
  double pageWidth() { return scrollView().frame().width(); }
  void advance(milliseconds step) { home_->scheduler->advance(step); }
  void advanceSeconds(int seconds) { advance(milliseconds(seconds * 1000)); }
  std::vector<std::string> resultLines() const { return home_->resultLines(); }

  // Puts the visible area at `x` (as a drag would), at the current zoom.
  void scrollTo(double x) { scrollView().setContentOffset(QPointF(x, 0)); }
  void goToPage(int page) {
    scrollTo(page * pageWidth());
    ASSERT_EQ(flow().currentPage(), page);
  }
  // Clicks the answer button of question q (1-8), choice c (0-3); -1 leaves a question alone.
  void answer(int question, int choice) { toolPage().answerButton(question, choice)->click(); }
  void answerAll(const Answers& answers) {
    for (std::size_t i = 0; i < 8; ++i) {
      if (answers[i] >= 0) answer(static_cast<int>(i) + 1, answers[i]);
    }
  }
  QAbstractButton* control(int page, const char* action) {
    return buttonWithAction(flow().views()[static_cast<std::size_t>(page)]->view(), action);
  }
  // The score as the question page and the score page show it.
  std::pair<QString, QString> scores() {
    return {toolPage().scoreButton()->text(), scorePage().scoreLabel()->text()};
  }

  std::unique_ptr<KioskHome> home_;
  std::unique_ptr<QuorinAppDelegate> app_;
  PageController* flow_ = nullptr;
};

}  // namespace quorin::testing
