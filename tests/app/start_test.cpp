// Launching the kiosk and its start screen: the stored session at launch, the time-out setting,
// the passcode and the export, and the start control.
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <limits>

#include "kiosk_test_support.hpp"
#include "start_controller.hpp"

namespace quorin::testing {
namespace {

std::optional<std::int64_t> storedInteger(const SettingsStore& store, const std::string& key) {
  const auto value = store.valueForKey(key);
  const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr;
  return number ? std::optional(*number) : std::nullopt;
}

StartController* startScreen(QuorinAppDelegate& app) {
  return dynamic_cast<StartController*>(app.window().rootViewController());
}

TEST(LaunchTest, FirstLaunchOnAFreshInstallation) {
  KioskHome home;
  auto app = home.launch();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(home.resultsPath())));
  EXPECT_EQ(app->inactivityTimout(), 30);
  EXPECT_EQ(app->secretCode(), "7395");
  ASSERT_NE(startScreen(*app), nullptr);
  EXPECT_EQ(startScreen(*app)->timeoutField()->text(), "30");
  EXPECT_EQ(startScreen(*app)->passcodeField()->echoMode(), QLineEdit::Password);
  using O = InterfaceOrientation;  // portrait only, either way up
  for (const auto& [orientation, allowed] :
       {std::pair{O::Portrait, true}, std::pair{O::PortraitUpsideDown, true},
        std::pair{O::LandscapeLeft, false}, std::pair{O::LandscapeRight, false}}) {
    EXPECT_EQ(startScreen(*app)->shouldAutorotateToInterfaceOrientation(orientation), allowed);
  }
  EXPECT_TRUE(app->window().isVisible());
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  // The time-out is stored unchecked, and shown as stored when the start screen loads.
  for (int seconds : {0, -7, 9, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    app->setInactivityTimout(seconds);
    EXPECT_EQ(app->inactivityTimout(), seconds);
    EXPECT_EQ(storedInteger(*home.store, "qn_timeout"), seconds);
    StartController fresh(*app);
    ASSERT_NE(fresh.view(), nullptr);
    EXPECT_EQ(fresh.timeoutField()->text(), QString::number(seconds));
  }
}

TEST(LaunchTest, ACompleteStoredSessionIsLoggedAndClearedBeforeTheStartScreen) {
  KioskHome home;
  home.storeSession(kComplete, /*helpWanted=*/true);
  home.store->setValue("qn_csv_row_count", std::int64_t{3});
  home.store->operations.clear();

  auto app = home.launch();
  EXPECT_EQ(home.resultLines(),
            (std::vector<std::string>{kHeader, "4,2013-04-02 14:05:09 +0000,4,Y,3,2,1,0,2,2,0,1"}));
  EXPECT_EQ(storedInteger(*home.store, "qn_csv_row_count"), 4);
  for (int q = 1; q <= 8; ++q) EXPECT_FALSE(home.store->valueForKey(Tool::keyForQuestion(q)));
  EXPECT_EQ(home.store->valueForKey("qn_help_wanted"), std::optional<SettingValue>(false));
  EXPECT_EQ(home.store->valueForKey("qn_start"), std::optional<SettingValue>(kLaunchTime));
  // The start screen reads the time-out when it loads: only after the row and the restart.
  const auto& ops = home.store->operations;
  const auto timeoutRead = std::find(ops.begin(), ops.end(), "get qn_timeout");
  ASSERT_NE(timeoutRead, ops.end());
  EXPECT_EQ(std::find(timeoutRead, ops.end(), "set qn_csv_row_count"), ops.end());
  EXPECT_EQ(std::find(timeoutRead, ops.end(), "set qn_start"), ops.end());
  EXPECT_NE(startScreen(*app), nullptr);

  // A second launch in a row logs nothing more.
  home.launch();
  EXPECT_EQ(home.resultLines().size(), 2u);
}

TEST(LaunchTest, AnIncompleteStoredSessionIsLeftAlone) {
  KioskHome home;
  home.storeSession(kSeven, /*helpWanted=*/true);
  auto app = home.launch();
  EXPECT_TRUE(home.resultLines().empty());
  EXPECT_FALSE(home.store->valueForKey("qn_csv_row_count"));
  for (int q = 1; q <= 7; ++q) {
    EXPECT_EQ(app->tool().answerAsString(q), std::to_string(kSeven[static_cast<size_t>(q - 1)]));
  }
  EXPECT_TRUE(app->tool().helpWanted());
  EXPECT_EQ(app->tool().startDate(), kSessionStart);
}

TEST(LaunchTest, ARowThatCouldNotBeWrittenIsWrittenFirstAtTheNextLaunch) {
  KioskHome home;
  // A file where the Documents folder should be: the results file cannot be made.
  ASSERT_TRUE(QFile(QString::fromStdString(home.documents)).open(QIODevice::WriteOnly));
  home.storeSession(kComplete, /*helpWanted=*/false);
  {
    auto app = home.launch();
    const QList<Alert*> alerts = Alert::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1);  // the results log's alert; the launch went on
    EXPECT_EQ(alerts[0]->title(), QString("Error"));
    EXPECT_EQ(alerts[0]->message(), "Could not write to csv file!");
    EXPECT_NE(startScreen(*app), nullptr);
    Alert::dismissAll();
  }
  EXPECT_TRUE(home.resultLines().empty());

  ASSERT_TRUE(QFile::remove(QString::fromStdString(home.documents)));
  // Nothing complete is stored now; the kept row is written all the same, before the next.
  home.launch();
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  home.storeSession({0, 0, 0, 0, 3, 3, 3, 3}, /*helpWanted=*/true);
  home.launch();
  EXPECT_EQ(home.resultLines(),
            (std::vector<std::string>{kHeader, "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1",
                                      "2,2013-04-02 14:05:09 +0000,4,Y,0,0,0,0,3,3,3,3"}));
}

TEST(LaunchTest, InterfaceOverrideFolderIsTheEnvironmentsThenTheKioskHomes) {
  const QByteArray saved = qgetenv("QUORIN_UI_DIR");
  qunsetenv("QUORIN_UI_DIR");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/srv/kiosk/ui");
  qputenv("QUORIN_UI_DIR", "/etc/quorin/ui");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/etc/quorin/ui");
  saved.isNull() ? (void)qunsetenv("QUORIN_UI_DIR") : (void)qputenv("QUORIN_UI_DIR", saved);
}

class StartControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = home_.launch();
    start_ = startScreen(*app_);
    ASSERT_NE(start_, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app_->window()));
  }
  std::optional<SettingValue> storedTimeout() const {
    return home_.store->valueForKey("qn_timeout");
  }
  // Types `text` into the passcode field and presses return, as staff would.
  void enterPasscode(const QString& text) {
    QLineEdit* field = start_->passcodeField();
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  }
  // The one alert on screen, as (title, message).
  std::pair<std::optional<QString>, QString> onlyAlert() const {
    const QList<Alert*> alerts = Alert::visibleAlerts();
    EXPECT_EQ(alerts.size(), 1);
    if (alerts.size() != 1) return {};
    return {alerts[0]->title(), alerts[0]->message()};
  }
  void writeResultsFile() {
    QDir().mkpath(QString::fromStdString(home_.documents));
    QFile file(QString::fromStdString(home_.resultsPath()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((kHeader + "\n").c_str());
  }

  KioskHome home_;
  std::unique_ptr<QuorinAppDelegate> app_;
  StartController* start_ = nullptr;
};

TEST_F(StartControllerTest, EndingEditingStoresTheTextReadAsAnInteger) {
  const std::pair<QString, std::int64_t> cases[] = {
      {"90", 90},
      {" 90", 90},
      {"15 minutes", 15},
      {"", 0},
      {"abc", 0},
      {"-20", -20},
      {"99999999999", std::numeric_limits<int>::max()},
      {"-99999999999", std::numeric_limits<int>::min()}};
  QLineEdit* timeout = start_->timeoutField();
  for (const auto& [text, stored] : cases) {
    SCOPED_TRACE(text.toStdString());
    timeout->setFocus();
    timeout->setText(text);
    start_->passcodeField()->setFocus();  // editing of the time-out ends
    EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(stored));
    EXPECT_EQ(app_->inactivityTimout(), stored);
  }
}

TEST_F(StartControllerTest, OnlyTheTimeOutFieldStoresAnything) {
  start_->passcodeField()->setText("45");
  start_->textFieldDidEndEditing(start_->passcodeField());
  EXPECT_FALSE(storedTimeout());
  // Return in the time-out field is allowed and stores nothing by itself...
  start_->timeoutField()->setText("60");
  EXPECT_TRUE(start_->textFieldShouldReturn(start_->timeoutField()));
  EXPECT_FALSE(storedTimeout());
  // ...but pressed on the keyboard it ends the editing, which stores the value.
  start_->timeoutField()->setFocus();
  QTest::keyClick(start_->timeoutField(), Qt::Key_Return);
  EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(std::int64_t{60}));
}

TEST_F(StartControllerTest, AWrongPasscodeIsRefusedAndKept) {
  for (const char* wrong : {"1234", "7395 ", " 7395", "739", "73955", ""}) {
    SCOPED_TRACE(wrong);
    enterPasscode(wrong);
    EXPECT_EQ(onlyAlert(), std::pair(std::optional<QString>("Error"),
                                     QString("Incorrect code.  Please try again.")));
    EXPECT_EQ(start_->passcodeField()->text(), wrong);
    EXPECT_FALSE(start_->textFieldShouldReturn(start_->passcodeField()));
    EXPECT_TRUE(home_.openIn->calls.empty());
    Alert::dismissAll();
  }
}

TEST_F(StartControllerTest, TheRightPasscodeWithoutResultsSaysSoAndClearsTheField) {
  enterPasscode("7395");
  EXPECT_EQ(onlyAlert(), std::pair(std::optional<QString>("Error"),
                                   QString("There are no results to export yet.\n"
                                           "Someone must take the survey first.")));
  EXPECT_EQ(start_->passcodeField()->text(), "");
  EXPECT_TRUE(home_.openIn->calls.empty());
  EXPECT_EQ(start_->docsCtrl(), nullptr);
}

TEST_F(StartControllerTest, TheRightPasscodeOffersTheResultsFile) {
  writeResultsFile();
  enterPasscode("7395");
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  ASSERT_EQ(home_.openIn->calls.size(), 1u);
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(home_.resultsPath()));
  EXPECT_EQ(home_.openIn->calls[0], std::pair(url, start_->view()));
  ASSERT_NE(start_->docsCtrl(), nullptr);
  EXPECT_EQ(start_->docsCtrl()->url(), url);
  EXPECT_EQ(start_->passcodeField()->text(), "");

  // A second export replaces the first.
  const DocumentInteraction* first = start_->docsCtrl();
  enterPasscode("7395");
  EXPECT_EQ(home_.openIn->calls.size(), 2u);
  EXPECT_NE(start_->docsCtrl(), first);

  // When nothing can open the file, the export says so.
  home_.openIn->answer = false;
  enterPasscode("7395");
  EXPECT_EQ(onlyAlert(),
            std::pair(std::optional<QString>("Open File Error"),
                      QString("No valid applications found.  Please install Numbers.")));
  EXPECT_EQ(start_->passcodeField()->text(), "");
}

TEST(StartControllerExportTest, WithNoHandlerOnTheMachineTheExportSaysSo) {
  // The desktop's own service, with no session bus and the offscreen platform.
  KioskHome home;
  AppEnvironment environment = home.environment();
  environment.openInService = std::make_shared<DesktopOpenInService>(
      QDBusConnection(QStringLiteral("quorin-test-no-bus")), 100);
  QuorinAppDelegate app(environment);
  app.didFinishLaunching();
  QDir().mkpath(QString::fromStdString(home.documents));
  ASSERT_TRUE(QFile(QString::fromStdString(home.resultsPath())).open(QIODevice::WriteOnly));

  StartController* start = startScreen(app);
  start->passcodeField()->setText("7395");
  EXPECT_TRUE(start->textFieldShouldReturn(start->passcodeField()));
  const QList<Alert*> alerts = Alert::visibleAlerts();
  ASSERT_EQ(alerts.size(), 1);
  EXPECT_EQ(alerts[0]->title(), QString("Open File Error"));
  EXPECT_EQ(alerts[0]->message(), "No valid applications found.  Please install Numbers.");
}

TEST_F(StartControllerTest, TheStartControlHandsOverWithTheTimeOutBeingTyped) {
  QPointer<StartController> start = start_;
  start_->timeoutField()->setFocus();
  start_->timeoutField()->setText("75");
  buttonWithAction(start_->view(), "startScreener:")->click();
  EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(std::int64_t{75}));
  auto* flow = dynamic_cast<PageController*>(app_->window().rootViewController());
  ASSERT_NE(flow, nullptr);
  EXPECT_TRUE(flow->view()->isVisible());
  // One timer, armed with the time-out the flow read while its view loaded.
  EXPECT_EQ(home_.scheduler->pendingCount(), 1u);
  EXPECT_EQ(home_.scheduler->timeToNext(), milliseconds(75'000));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(start.isNull());  // released: there is no way back without a new launch
}

}  // namespace
}  // namespace quorin::testing
