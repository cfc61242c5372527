// Helpers for the kiosk's tests: a temporary kiosk home with a real settings database on virtual
// time, and a fixture with the page flow on screen that acts through the real controls.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <array>
#include <memory>
#include <string>

#include "diagnostic_capture.hpp"
#include "page_controller.hpp"
#include "platform/alert.hpp"
#include "platform/scheduler.hpp"
#include "quorin_app_delegate.hpp"
#include "session/sqlite_settings_store.hpp"
#include "temp_folder.hpp"
#include "tool_page_controller.hpp"

namespace quorin::testing {

using std::chrono::milliseconds;
constexpr std::array<int, 8> kComplete = {3, 2, 1, 0, 2, 2, 0, 1};  // score 4
inline const Date kLaunchTime = std::chrono::sys_days{std::chrono::May / 1 / 2024};

// A kiosk home in a fresh temporary folder; the model's clock follows virtual time, so that
// sessions start at distinct moments as they do for real people.
struct KioskHome {
  std::unique_ptr<QuorinAppDelegate> launch() const {
    auto clock = [s = scheduler] { return kLaunchTime + s->now(); };
    AppEnvironment environment{store, folder_ / "Documents", clock, scheduler, nullptr, {}};
    // The tests' engine, which speaks to nobody, so that the read-aloud control is on screen.
    environment.speechEngine = QStringLiteral("recording");
    auto app = std::make_unique<QuorinAppDelegate>(std::move(environment));
    EXPECT_TRUE(app->didFinishLaunching());
    return app;
  }
  // The results file; "" when there is none.
  std::string results() const {
    return test::readFile(folder_ / "Documents/results.csv").value_or("");
  }

  test::TempFolder folder_;
  test::DiagnosticCapture quiet_;
  std::shared_ptr<SettingsStore> store = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
  std::shared_ptr<ManualScheduler> scheduler = std::make_shared<ManualScheduler>();
};

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
    app_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    home_.reset();
    ScrollView::setDefaultAnimationDuration(250);
  }
  // Starts the questionnaire as the start screen's control does.
  void start() {
    app_->startScreener();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    flow_ = qobject_cast<PageController*>(app_->window().rootViewController());
    ASSERT_NE(flow_, nullptr);
    app_->window().resize(768, 1024);
    QCoreApplication::processEvents();
  }

  PageController& flow() { return *flow_; }
  ScrollView& scrollView() { return *flow_->scrollView(); }
  ToolPageController& toolPage() {
    return *std::static_pointer_cast<ToolPageController>(flow_->views()[4]);
  }
  void advance(milliseconds step) { home_->scheduler->advance(step); }
  // Puts the visible area at page `page`, as a drag would.
  void goToPage(int page) {
    scrollView().setContentOffset(QPointF(page * scrollView().frame().width(), 0));
    ASSERT_EQ(flow().currentPage(), page);
  }
  // Clicks the answer button of question q (1-8), choice c (0-3).
  void answer(int question, int choice) { toolPage().answerButton(question, choice)->click(); }
  void showResults() {
    for (QAbstractButton* button : toolPage().view()->findChildren<QAbstractButton*>()) {
      if (button->property("action").toByteArray() == "showResults:") button->click();
    }
  }

  std::unique_ptr<KioskHome> home_;
  std::unique_ptr<QuorinAppDelegate> app_;
  PageController* flow_ = nullptr;
};

}  // namespace quorin::testing
