// A launched kiosk with its page flow on screen, for the page flow and page tests: a temporary
// kiosk home (QUORIN_HOME), a SQLite settings store in it, virtual time, instant scroll
// animations, and helpers that act through the real controls.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "page_controller.hpp"
#include "platform/alert.hpp"
#include "platform/scheduler.hpp"
#include "platform/scroll_view.hpp"
#include "quorin_app_delegate.hpp"
#include "score_page_controller.hpp"
#include "session/paths.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"
#include "tool_page_controller.hpp"

namespace quorin::testing {

using std::chrono::milliseconds;
using Answers = std::array<int, 8>;

// Sets an environment variable for the lifetime of the object, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value)
      : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value);
  }
  ~ScopedEnv() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  QByteArray old_;
  bool had_;
};

class PageFlowFixture : public ::testing::Test {
 protected:
  // Launches the kiosk; the page flow starts in start() so a test can set the time-out first.
  void SetUp() override {
    home_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(home_->isValid());
    env_ = std::make_unique<ScopedEnv>("QUORIN_HOME", QFile::encodeName(home_->path()));
    ScrollView::setDefaultAnimationDuration(0);
    scheduler_ = std::make_shared<ManualScheduler>();
    store_ = std::shared_ptr<SettingsStore>(SqliteSettingsStore::open(settingsDatabasePath()));
    AppEnvironment environment;
    environment.store = store_;
    environment.documentsFolder = documentsFolder();
    environment.scheduler = scheduler_;
    app_ = std::make_unique<QuorinAppDelegate>(std::move(environment));
    ASSERT_TRUE(app_->didFinishLaunching());
  }

  // Tests that try several cases each run TearDown() and SetUp() again: a fresh kiosk home.
  void TearDown() override {
    Alert::dismissAll();
    flow_ = nullptr;
    app_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    store_.reset();
    scheduler_.reset();
    env_.reset();
    home_.reset();
    ScrollView::setDefaultAnimationDuration(250);
  }

  // Starts the questionnaire as the start screen's control does, and waits for the window.
  void start() {
    app_->startScreener();
    // The start screen is released after the current event; let that happen now.
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

  // Moves virtual time on.
  void advance(milliseconds step) { scheduler_->advance(step); }
  void advanceSeconds(int seconds) { scheduler_->advance(milliseconds(seconds * 1000)); }

  // Puts the visible area at `x` (as a drag would), at the current zoom.
  void scrollTo(double x) { scrollView().setContentOffset(QPointF(x, 0)); }
  // Puts page `page` in view and checks that the flow followed.
  void goToPage(int page) {
    scrollTo(page * pageWidth());
    ASSERT_EQ(flow().currentPage(), page);
  }

  // Clicks the answer button of question q (1-8), choice c (0-3) as a tap would.
  void answer(int question, int choice) {
    QAbstractButton* button = toolPage().answerButton(question, choice);
    ASSERT_NE(button, nullptr) << question << "/" << choice;
    button->click();
  }
  // Answers the questions given; -1 leaves a question unanswered.
  void answerAll(const Answers& answers) {
    for (int q = 1; q <= 8; ++q) {
      if (answers[static_cast<std::size_t>(q - 1)] >= 0) {
        answer(q, answers[static_cast<std::size_t>(q - 1)]);
      }
    }
  }

  // The first button in page `page` whose action is `action`.
  QAbstractButton* control(int page, const char* action) {
    QWidget* root = flow().views()[static_cast<std::size_t>(page)]->view();
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
      if (button->property("action").toByteArray() == action) return button;
    }
    return nullptr;
  }

  // Alerts on screen whose message is `message`.
  static int visibleAlertsWith(const QString& message) {
    int count = 0;
    for (Alert* alert : Alert::visibleAlerts()) {
      if (alert->message() == message) ++count;
    }
    return count;
  }
  // Chooses the button titled `title` of `alert` as the person would.
  static void choose(Alert* alert, const QString& title) {
    ASSERT_NE(alert, nullptr);
    for (int i = 0; i < alert->numberOfButtons(); ++i) {
      if (alert->buttonTitleAtIndex(i) == title) {
        QAbstractButton* button = alert->button(i);
        ASSERT_NE(button, nullptr);
        button->click();
        return;
      }
    }
    FAIL() << "no button " << title.toStdString();
  }

  // The lines of results.csv, header included; empty when there is no file.
  std::vector<std::string> resultLines() const {
    std::vector<std::string> lines;
    QFile file(QString::fromStdString(documentsFolder() + "/results.csv"));
    if (!file.open(QIODevice::ReadOnly)) return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.isEmpty()) lines.push_back(line.toStdString());
    }
    return lines;
  }

  // The answer and help buttons that are selected, as tags (help: 1 yes, 2 no).
  std::vector<int> selectedControls() {
    std::vector<int> selected;
    for (int q = 1; q <= 8; ++q) {
      for (int c = 0; c < 4; ++c) {
        if (toolPage().answerButton(q, c)->isChecked()) selected.push_back(100 * q + c);
      }
    }
    if (toolPage().helpYesButton()->isChecked()) selected.push_back(1);
    if (toolPage().helpNoButton()->isChecked()) selected.push_back(2);
    return selected;
  }
  static bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }
  QString toolScore() { return toolPage().scoreButton()->text(); }
  QString scorePageScore() { return scorePage().scoreLabel()->text(); }

  std::unique_ptr<QTemporaryDir> home_;
  std::unique_ptr<ScopedEnv> env_;
  std::shared_ptr<ManualScheduler> scheduler_;
  std::shared_ptr<SettingsStore> store_;
  std::unique_ptr<QuorinAppDelegate> app_;
  PageController* flow_ = nullptr;
};

}  // namespace quorin::testing
