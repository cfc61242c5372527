#include "start_controller.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <limits>

#include "kiosk_test_support.hpp"
#include "placeholder_page_controller.hpp"
#include "platform/alert.hpp"

namespace quorin {
namespace {

using testing::KioskHome;

class StartControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = home_.launch();
    start_ = dynamic_cast<StartController*>(app_->window().rootViewController());
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

  // The one alert on screen as (title, message); fails the test when there is not exactly one.
  std::pair<std::optional<QString>, QString> onlyAlert() const {
    const QList<Alert*> alerts = Alert::visibleAlerts();
    EXPECT_EQ(alerts.size(), 1);
    if (alerts.size() != 1) return {};
    EXPECT_EQ(alerts[0]->numberOfButtons(), 1);
    EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "Close");
    return {alerts[0]->title(), alerts[0]->message()};
  }

  void writeResultsFile() {
    QDir().mkpath(QString::fromStdString(home_.documents));
    QFile file(QString::fromStdString(home_.resultsPath()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n");
  }

  KioskHome home_;
  std::unique_ptr<QuorinAppDelegate> app_;
  StartController* start_ = nullptr;
};

TEST_F(StartControllerTest, TheTimeOutFieldShowsTheStoredValueWhenTheScreenLoads) {
  for (int stored : {90, 0, -7}) {
    app_->setInactivityTimout(stored);
    StartController fresh(*app_);
    EXPECT_EQ(fresh.view() != nullptr, true);
    EXPECT_EQ(fresh.timeoutField()->text(), QString::number(stored));
  }
}

TEST_F(StartControllerTest, EndingEditingStoresTheTextReadAsAnInteger) {
  struct Case {
    QString text;
    std::int64_t stored;
  };
  const Case cases[] = {
      {"90", 90},
      {" 90", 90},
      {"15 minutes", 15},
      {"", 0},
      {"abc", 0},
      {"-20", -20},
      {"99999999999", std::numeric_limits<int>::max()},
      {"-99999999999", std::numeric_limits<int>::min()},
  };
  QLineEdit* timeout = start_->timeoutField();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    timeout->setFocus();
    timeout->setText(c.text);
    start_->passcodeField()->setFocus();  // editing of the time-out ends
    EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(c.stored));
    EXPECT_EQ(app_->inactivityTimout(), c.stored);
  }
}

TEST_F(StartControllerTest, OnlyTheTimeOutFieldStoresAnything) {
  start_->passcodeField()->setText("45");
  start_->textFieldDidEndEditing(start_->passcodeField());
  EXPECT_FALSE(storedTimeout());
  // Return in the time-out field is allowed and stores nothing by itself.
  start_->timeoutField()->setText("60");
  EXPECT_TRUE(start_->textFieldShouldReturn(start_->timeoutField()));
  EXPECT_FALSE(storedTimeout());
  // Pressed on the keyboard, return ends the editing, which stores the value.
  start_->timeoutField()->setFocus();
  QTest::keyClick(start_->timeoutField(), Qt::Key_Return);
  EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(std::int64_t{60}));
}

TEST_F(StartControllerTest, AWrongPasscodeIsRefusedAndKept) {
  for (const QString& wrong : {QString("1234"), QString("7395 "), QString(" 7395"), QString("739"),
                               QString("73955"), QString("")}) {
    SCOPED_TRACE(wrong.toStdString());
    enterPasscode(wrong);
    EXPECT_EQ(onlyAlert(), std::make_pair(std::optional<QString>("Error"),
                                          QString("Incorrect code.  Please try again.")));
    EXPECT_EQ(start_->passcodeField()->text(), wrong);
    EXPECT_FALSE(start_->textFieldShouldReturn(start_->passcodeField()));
    EXPECT_TRUE(home_.openIn->calls.empty());
    Alert::dismissAll();
  }
}

TEST_F(StartControllerTest, TheRightPasscodeWithoutResultsSaysSoAndClearsTheField) {
  enterPasscode("7395");
  EXPECT_EQ(onlyAlert(), std::make_pair(std::optional<QString>("Error"),
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
  EXPECT_EQ(home_.openIn->calls[0].first,
            QUrl::fromLocalFile(QString::fromStdString(home_.resultsPath())));
  EXPECT_EQ(home_.openIn->calls[0].second, start_->view());
  ASSERT_NE(start_->docsCtrl(), nullptr);
  EXPECT_EQ(start_->docsCtrl()->url(), home_.openIn->calls[0].first);
  EXPECT_EQ(start_->passcodeField()->text(), "");

  // A second export replaces the first.
  const DocumentInteraction* first = start_->docsCtrl();
  enterPasscode("7395");
  EXPECT_EQ(home_.openIn->calls.size(), 2u);
  EXPECT_NE(start_->docsCtrl(), first);
}

TEST_F(StartControllerTest, NoApplicationToOpenTheFileIsReported) {
  writeResultsFile();
  home_.openIn->answer = false;
  enterPasscode("7395");
  EXPECT_EQ(onlyAlert(),
            std::make_pair(std::optional<QString>("Open File Error"),
                           QString("No valid applications found.  Please install Numbers.")));
  EXPECT_EQ(start_->passcodeField()->text(), "");
}

TEST(StartControllerExportTest, WithNoHandlerOnTheMachineTheExportSaysSo) {
  // The desktop's own service, with no session bus and the offscreen platform: nothing can
  // present the file.
  KioskHome home;
  AppEnvironment environment = home.environment();
  environment.openInService = std::make_shared<DesktopOpenInService>(
      QDBusConnection(QStringLiteral("quorin-test-no-bus")), 100);
  QuorinAppDelegate app(environment);
  app.didFinishLaunching();
  QDir().mkpath(QString::fromStdString(home.documents));
  QFile file(QString::fromStdString(home.resultsPath()));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  auto* start = dynamic_cast<StartController*>(app.window().rootViewController());
  ASSERT_NE(start, nullptr);
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
  auto* button = start_->view()->findChild<QPushButton*>("startButton");
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(storedTimeout(), std::optional<SettingValue>(std::int64_t{75}));
  EXPECT_NE(dynamic_cast<PlaceholderPageController*>(app_->window().rootViewController()), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(start.isNull());
}

TEST_F(StartControllerTest, TurnsBetweenThePortraitOrientationsOnly) {
  EXPECT_TRUE(start_->shouldAutorotateToInterfaceOrientation(InterfaceOrientation::Portrait));
  EXPECT_TRUE(
      start_->shouldAutorotateToInterfaceOrientation(InterfaceOrientation::PortraitUpsideDown));
  EXPECT_FALSE(start_->shouldAutorotateToInterfaceOrientation(InterfaceOrientation::LandscapeLeft));
  EXPECT_FALSE(
      start_->shouldAutorotateToInterfaceOrientation(InterfaceOrientation::LandscapeRight));
}

}  // namespace
}  // namespace quorin
