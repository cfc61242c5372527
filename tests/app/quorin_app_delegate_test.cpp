#include "quorin_app_delegate.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <cstdlib>
#include <limits>

#include "kiosk_test_support.hpp"
#include "placeholder_page_controller.hpp"
#include "platform/alert.hpp"
#include "start_controller.hpp"

namespace quorin {
namespace {

using testing::KioskHome;
using testing::launchTime;
using testing::sessionStart;

const std::string kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8";
const std::vector<int> kComplete = {3, 2, 1, 0, 2, 2, 0, 1};

std::optional<std::int64_t> storedInteger(const SettingsStore& store, const std::string& key) {
  const auto value = store.valueForKey(key);
  if (!value) return std::nullopt;
  const auto* number = std::get_if<std::int64_t>(&*value);
  return number ? std::optional<std::int64_t>(*number) : std::nullopt;
}

TEST(QuorinAppDelegateTest, FirstLaunchOnAFreshInstallation) {
  KioskHome home;
  auto app = home.launch();
  EXPECT_EQ(home.resultLines(), std::nullopt);  // nothing logged, no file made
  EXPECT_EQ(app->inactivityTimout(), 30);
  EXPECT_EQ(app->secretCode(), "7395");
  auto* start = dynamic_cast<StartController*>(app->window().rootViewController());
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->timeoutField()->text(), "30");
  EXPECT_TRUE(app->window().isVisible());
  EXPECT_EQ(app->window().size(), QSize(768, 1024));
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
}

TEST(QuorinAppDelegateTest, TheTimeOutIsStoredUnchecked) {
  KioskHome home;
  auto app = home.launch();
  for (int seconds :
       {0, -5, 9, 45, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    app->setInactivityTimout(seconds);
    EXPECT_EQ(app->inactivityTimout(), seconds);
    EXPECT_EQ(storedInteger(*home.store, "qn_timeout"), seconds);
  }
}

TEST(QuorinAppDelegateTest, ACompleteStoredSessionIsLoggedAndClearedBeforeTheStartScreen) {
  KioskHome home;
  home.storeSession(kComplete, /*helpWanted=*/true);
  home.store->setValue("qn_csv_row_count", std::int64_t{3});
  home.store->operations.clear();

  auto app = home.launch();
  EXPECT_EQ(
      home.resultLines(),
      (std::vector<std::string>{kHeader, "4,2013-04-02 14:05:09 +0000,4,Y,3,2,1,0,2,2,0,1", ""}));
  EXPECT_EQ(storedInteger(*home.store, "qn_csv_row_count"), 4);
  for (int q = 1; q <= 8; ++q) EXPECT_FALSE(home.store->valueForKey(Tool::keyForQuestion(q)));
  EXPECT_EQ(home.store->valueForKey("qn_help_wanted"), std::optional<SettingValue>(false));
  EXPECT_EQ(home.store->valueForKey("qn_start"), std::optional<SettingValue>(launchTime()));

  // The start screen reads the time-out when it loads: only after the row and the restart.
  const long timeoutRead = home.store->firstIndexOf("get qn_timeout");
  ASSERT_GE(timeoutRead, 0);
  EXPECT_GT(timeoutRead, home.store->lastIndexOf("set qn_csv_row_count"));
  EXPECT_GT(timeoutRead, home.store->lastIndexOf("set qn_start"));
  EXPECT_NE(dynamic_cast<StartController*>(app->window().rootViewController()), nullptr);
}

TEST(QuorinAppDelegateTest, AnIncompleteStoredSessionIsLeftAlone) {
  KioskHome home;
  home.storeSession({3, 2, 1, 0, 2, 2, 0, -1}, /*helpWanted=*/true);
  auto app = home.launch();
  EXPECT_EQ(home.resultLines(), std::nullopt);
  EXPECT_FALSE(home.store->valueForKey("qn_csv_row_count"));
  for (int q = 1; q <= 7; ++q) {
    EXPECT_EQ(app->tool().answerAsString(q), std::to_string(kComplete[static_cast<size_t>(q - 1)]));
  }
  EXPECT_TRUE(app->tool().helpWanted());
  EXPECT_EQ(app->tool().startDate(), sessionStart());
}

TEST(QuorinAppDelegateTest, TwoLaunchesInARowLogTheSessionOnce) {
  KioskHome home;
  home.storeSession(kComplete, /*helpWanted=*/false);
  home.launch();
  home.launch();
  EXPECT_EQ(
      home.resultLines(),
      (std::vector<std::string>{kHeader, "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1", ""}));
}

TEST(QuorinAppDelegateTest, ARowThatCouldNotBeWrittenIsWrittenFirstAtTheNextLaunch) {
  KioskHome home;
  // A file where the Documents folder should be: the results file cannot be made.
  {
    QFile blocker(QString::fromStdString(home.documents));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }
  home.storeSession(kComplete, /*helpWanted=*/false);
  {
    auto app = home.launch();
    const QList<Alert*> alerts = Alert::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1);  // the results log's alert; the launch went on
    EXPECT_EQ(alerts[0]->title(), QString("Error"));
    EXPECT_EQ(alerts[0]->message(), "Could not write to csv file!");
    EXPECT_NE(dynamic_cast<StartController*>(app->window().rootViewController()), nullptr);
    Alert::dismissAll();
  }
  EXPECT_EQ(home.resultLines(), std::nullopt);

  ASSERT_TRUE(QFile::remove(QString::fromStdString(home.documents)));
  // Nothing complete is stored now; the kept row is written all the same.
  home.launch();
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  const std::string firstRow = "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1";
  EXPECT_EQ(home.resultLines(), (std::vector<std::string>{kHeader, firstRow, ""}));

  home.storeSession({0, 0, 0, 0, 3, 3, 3, 3}, /*helpWanted=*/true);
  home.launch();
  EXPECT_EQ(home.resultLines(),
            (std::vector<std::string>{kHeader, firstRow,
                                      "2,2013-04-02 14:05:09 +0000,4,Y,0,0,0,0,3,3,3,3", ""}));
}

TEST(QuorinAppDelegateTest, StartScreenerInstallsThePageFlowThenArmsItsTimer) {
  KioskHome home;
  auto app = home.launch();
  QPointer<ViewController> start = app->window().rootViewController();
  app->startScreener();
  auto* flow = dynamic_cast<PlaceholderPageController*>(app->window().rootViewController());
  ASSERT_NE(flow, nullptr);
  EXPECT_TRUE(flow->isViewLoaded());
  EXPECT_EQ(flow->resetTimerCount(), 1);
  EXPECT_TRUE(flow->view()->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(start.isNull());  // released: there is no way back without a new launch
}

TEST(InterfaceOverrideFolderTest, EnvironmentFirstThenTheKioskHome) {
  const QByteArray saved = qgetenv("QUORIN_UI_DIR");
  qunsetenv("QUORIN_UI_DIR");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/srv/kiosk/ui");
  qputenv("QUORIN_UI_DIR", "/etc/quorin/ui");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/etc/quorin/ui");
  if (saved.isNull()) {
    qunsetenv("QUORIN_UI_DIR");
  } else {
    qputenv("QUORIN_UI_DIR", saved);
  }
}

}  // namespace
}  // namespace quorin
