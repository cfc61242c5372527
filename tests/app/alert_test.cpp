#include "platform/alert.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <vector>

namespace quorin {
namespace {

void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

struct RecordingDelegate : AlertDelegate {
  void clickedButtonAtIndex(Alert& alert, int index) override {
    choices.push_back(alert.buttonTitleAtIndex(index));
    visibleDuringCallback.push_back(alert.isVisible());
  }
  std::vector<QString> choices;
  std::vector<bool> visibleDuringCallback;
};

TEST(AlertTest, SimpleAlertsHaveOneCloseButtonAndNoDelegate) {
  struct Case {
    const char* what;
    Alert* (*show)();
    std::optional<QString> title;
    QString message;
  };
  const Case cases[] = {
      {"simpleWithTitle", [] { return Alert::simpleWithTitle(QString("Error"), "Broken."); },
       QString("Error"), "Broken."},
      {"simple", [] { return Alert::simple("Just so you know."); }, std::nullopt,
       "Just so you know."},
      {"pleaseComplete", [] { return Alert::pleaseComplete(); }, std::nullopt,
       "Please enter all eight questions on the screening tool to receive accurate results."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QPointer<Alert> alert = c.show();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(Alert::visibleAlerts(), QList<Alert*>{alert.data()});
    EXPECT_EQ(alert->title(), c.title);
    EXPECT_EQ(alert->message(), c.message);
    ASSERT_EQ(alert->numberOfButtons(), 1);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "Close");
    ASSERT_NE(alert->button(0), nullptr);
    EXPECT_TRUE(alert->button(0)->isVisible());

    alert->button(0)->click();
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    runDeferredDeletes();
    EXPECT_TRUE(alert.isNull());  // the platform let go of it once dismissed
  }
}

TEST(AlertTest, TitleAndMessageAreShownAsPlainText) {
  QPointer<Alert> alert = Alert::simpleWithTitle(QString("<b>Error</b>"), "a < b\nsecond line");
  auto* box = alert->findChild<QMessageBox*>();
  if (box == nullptr) box = qobject_cast<QMessageBox*>(alert->button(0)->window());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), "<b>Error</b>");
  EXPECT_EQ(box->informativeText(), "a < b\nsecond line");
  EXPECT_TRUE(box->property("hasTitle").toBool());
}

TEST(AlertTest, TheDelegateIsToldTheChosenButtonWhileTheAlertIsUp) {
  RecordingDelegate delegate;
  const QString choices[] = {"More Time", "Restart"};
  for (int index = 0; index < 2; ++index) {
    QPointer<Alert> alert = new Alert(std::nullopt, "\nWould you like more time?\n", &delegate,
                                      "More Time", {"Restart"});
    alert->show();
    ASSERT_EQ(alert->numberOfButtons(), 2);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "Restart");
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "");
    alert->button(index)->click();
    EXPECT_FALSE(alert->isVisible());
    runDeferredDeletes();
    EXPECT_TRUE(alert.isNull());
  }
  EXPECT_EQ(delegate.choices, (std::vector<QString>{choices[0], choices[1]}));
  EXPECT_EQ(delegate.visibleDuringCallback, (std::vector<bool>{true, true}));
}

TEST(AlertTest, EscapeChoosesTheCancelButton) {
  RecordingDelegate delegate;
  QPointer<Alert> alert = new Alert(std::nullopt, "Restart?", &delegate, "Cancel", {"Restart"});
  alert->show();
  QTest::keyClick(alert->button(0)->window(), Qt::Key_Escape);
  EXPECT_EQ(delegate.choices, std::vector<QString>{"Cancel"});
  EXPECT_FALSE(alert->isVisible());
}

TEST(AlertTest, DismissalFromCodeTellsNoOne) {
  RecordingDelegate delegate;
  QPointer<Alert> alert = new Alert(std::nullopt, "Restart?", &delegate, "Cancel", {"Restart"});
  alert->show();
  alert->dismissWithClickedButtonIndex(alert->cancelButtonIndex(), true);
  EXPECT_FALSE(alert->isVisible());
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  EXPECT_TRUE(delegate.choices.empty());
  runDeferredDeletes();
  EXPECT_TRUE(alert.isNull());
}

TEST(AlertTest, VisibleAlertsListsThemOldestFirst) {
  QPointer<Alert> first = Alert::simple("one");
  QPointer<Alert> second = Alert::simple("two");
  EXPECT_EQ(Alert::visibleAlerts(), (QList<Alert*>{first.data(), second.data()}));
  Alert::dismissAll();
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
}

TEST(AlertTest, TheResultsLogsAlertsAreShownWithAlert) {
  AlertPresenterAdapter presenter;
  presenter.simpleWithTitle(std::string("Error"), "Could not write to csv file!");
  presenter.simpleWithTitle(std::nullopt, "untitled");
  const QList<Alert*> shown = Alert::visibleAlerts();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0]->title(), QString("Error"));
  EXPECT_EQ(shown[0]->message(), "Could not write to csv file!");
  EXPECT_EQ(shown[1]->title(), std::nullopt);
  EXPECT_EQ(shown[1]->message(), "untitled");
}

}  // namespace
}  // namespace quorin
