// The small platform layer over Qt: alerts, schedulers, the click, text fields, integer reading,
// the window and the "open in" service.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QtEndian>
#include <limits>
#include <vector>

#include "kiosk_test_support.hpp"
#include "platform/alert.hpp"
#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "platform/system_sound.hpp"
#include "platform/text_field.hpp"
#include "platform/window.hpp"

namespace quorin {
namespace {

using std::chrono::milliseconds;

void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

struct RecordingAlertDelegate : AlertDelegate {
  void clickedButtonAtIndex(Alert& alert, int index) override {
    choices.push_back(alert.buttonTitleAtIndex(index));
    EXPECT_TRUE(alert.isVisible()) << "told while the alert is up";
  }
  std::vector<QString> choices;
};

TEST(AlertTest, SimpleAlertsHaveOneCloseButtonAndNoDelegate) {
  struct Case {
    Alert* (*show)();
    std::optional<QString> title;
    QString message;
  };
  const Case cases[] = {
      {[] { return Alert::simpleWithTitle(QString("Error"), "Broken."); }, "Error", "Broken."},
      {[] { return Alert::simple("Just so you know."); }, std::nullopt, "Just so you know."},
      {[] { return Alert::pleaseComplete(); }, std::nullopt,
       "Please enter all eight questions on the screening tool to receive accurate results."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.toStdString());
    QPointer<Alert> alert = c.show();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(Alert::visibleAlerts(), QList<Alert*>{alert.data()});
    EXPECT_EQ(alert->title(), c.title);
    EXPECT_EQ(alert->message(), c.message);
    ASSERT_EQ(alert->numberOfButtons(), 1);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "Close");
    EXPECT_TRUE(alert->button(0)->isVisible());
    alert->button(0)->click();
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    runDeferredDeletes();
    EXPECT_TRUE(alert.isNull());  // the platform let go of it once dismissed
  }
  // Title and message are plain text.
  Alert* alert = Alert::simpleWithTitle(QString("<b>Error</b>"), "a < b\nsecond line");
  auto* box = alert->findChild<QMessageBox*>();
  if (box == nullptr) box = qobject_cast<QMessageBox*>(alert->button(0)->window());
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->property("hasTitle").toBool());
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), "<b>Error</b>");
  EXPECT_EQ(box->informativeText(), "a < b\nsecond line");
}

TEST(AlertTest, TheDelegateIsToldTheChosenButtonButNotADismissalFromCode) {
  RecordingAlertDelegate delegate;
  const auto show = [&] {
    QPointer<Alert> alert = new Alert(std::nullopt, "Restart?", &delegate, "Cancel", {"Restart"});
    alert->show();
    return alert;
  };
  for (int index = 0; index < 2; ++index) {
    QPointer<Alert> alert = show();
    ASSERT_EQ(alert->numberOfButtons(), 2);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "Restart");
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "");
    alert->button(index)->click();
    EXPECT_FALSE(alert->isVisible());
    runDeferredDeletes();
    EXPECT_TRUE(alert.isNull());
  }
  QPointer<Alert> escaped = show();
  QTest::keyClick(escaped->button(0)->window(), Qt::Key_Escape);  // chooses the cancel button
  EXPECT_FALSE(escaped->isVisible());
  EXPECT_EQ(delegate.choices, (std::vector<QString>{"Cancel", "Restart", "Cancel"}));

  QPointer<Alert> dismissed = show();
  dismissed->dismissWithClickedButtonIndex(dismissed->cancelButtonIndex(), true);
  EXPECT_FALSE(dismissed->isVisible());
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  EXPECT_EQ(delegate.choices.size(), 3u);
  runDeferredDeletes();
  EXPECT_TRUE(dismissed.isNull());
}

TEST(AlertTest, TheResultsLogsAlertsAreShownWithAlertOldestFirst) {
  AlertPresenterAdapter presenter;
  presenter.simpleWithTitle(std::string("Error"), "Could not write to csv file!");
  presenter.simpleWithTitle(std::nullopt, "untitled");
  const QList<Alert*> shown = Alert::visibleAlerts();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0]->title(), QString("Error"));
  EXPECT_EQ(shown[0]->message(), "Could not write to csv file!");
  EXPECT_EQ(shown[1]->title(), std::nullopt);
  EXPECT_EQ(shown[1]->message(), "untitled");
  Alert::dismissAll();
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
}

TEST(SchedulerTest, ManualSchedulerRunsTasksInDueOrderAtTheirDueTime) {
  ManualScheduler s;
  using Ran = std::vector<std::pair<std::string, long long>>;
  Ran ran;
  const auto record = [&](std::string name) {
    return [&, name] { ran.emplace_back(name, s.now().count()); };
  };
  EXPECT_EQ(s.timeToNext(), std::nullopt);
  s.schedule(milliseconds(4000), record("score"));
  s.schedule(milliseconds(10), record("scroll"));
  s.schedule(milliseconds(4000), record("second at 4000"));  // ties keep their order
  s.schedule(milliseconds(-5), record("overdue"));           // negative counts as now
  const auto id = s.schedule(milliseconds(20), record("cancelled"));
  s.cancel(id);
  s.cancel(id);  // twice is harmless, and so is an id never given
  s.cancel(0);
  // The inactivity timer re-arms itself from its own callback, within the same advance.
  std::function<void()> rearm = [&] {
    ran.emplace_back("rearm", s.now().count());
    s.schedule(milliseconds(45000), rearm);
  };
  s.schedule(milliseconds(45000), rearm);
  EXPECT_EQ(s.pendingCount(), 5u);
  EXPECT_EQ(s.timeToNext(), milliseconds(0));

  s.advance(milliseconds(3999));
  EXPECT_EQ(ran, (Ran{{"overdue", 0}, {"scroll", 10}}));
  EXPECT_EQ(s.now(), milliseconds(3999));
  EXPECT_EQ(s.timeToNext(), milliseconds(1));
  s.advance(milliseconds(96001));
  EXPECT_EQ(ran, (Ran{{"overdue", 0},
                      {"scroll", 10},
                      {"score", 4000},
                      {"second at 4000", 4000},
                      {"rearm", 45000},
                      {"rearm", 90000}}));
  EXPECT_EQ(s.pendingCount(), 1u);
  EXPECT_EQ(s.timeToNext(), milliseconds(35000));
}

TEST(SchedulerTest, SecondsToDurationConvertsAndClamps) {
  for (const auto& [seconds, ms] :
       {std::pair{0.01, 10LL}, std::pair{4.0, 4000LL}, std::pair{0.0, 0LL}, std::pair{-3.0, 0LL},
        std::pair{double{std::numeric_limits<int>::max()},
                  std::numeric_limits<int>::max() * 1000LL}}) {
    EXPECT_EQ(secondsToDuration(seconds), milliseconds(ms)) << seconds;
  }
  EXPECT_GT(secondsToDuration(1e300), milliseconds(0));
}

TEST(SchedulerTest, QtSchedulerRunsFromTheEventLoopAndHonoursCancel) {
  std::vector<int> ran;
  {
    QtScheduler scheduler;
    scheduler.schedule(milliseconds(0), [&] { ran.push_back(1); });
    const auto cancelled = scheduler.schedule(milliseconds(0), [&] { ran.push_back(2); });
    scheduler.schedule(milliseconds(5), [&] { ran.push_back(3); });
    scheduler.cancel(cancelled);
    EXPECT_TRUE(ran.empty());  // nothing runs before the event loop does
    EXPECT_EQ(scheduler.pendingCount(), 2u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran.size() == 2; }, 5000));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    scheduler.schedule(milliseconds(0), [&] { ran.push_back(4); });
  }
  QTest::qWait(5);
  EXPECT_EQ(ran.size(), 2u) << "pending tasks die with the scheduler";
}

TEST(SystemSoundTest, TheClickIsAShortAudibleMonoPcmWaveAndNeverFails) {
  QFile file(":/sounds/click.wav");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray wav = file.readAll();
  ASSERT_GE(wav.size(), 44);
  const auto u32 = [&](int at) { return qFromLittleEndian<std::uint32_t>(wav.constData() + at); };
  const auto sample = [&](int at) {
    return std::abs(qFromLittleEndian<std::int16_t>(wav.constData() + at));
  };
  EXPECT_EQ(wav.mid(0, 4) + wav.mid(8, 8) + wav.mid(36, 4), "RIFFWAVEfmt data");
  EXPECT_EQ(u32(20), 0x10001u) << "mono PCM";
  EXPECT_EQ(u32(32), 0x100002u) << "16 bits a sample";
  ASSERT_EQ(u32(40), static_cast<std::uint32_t>(wav.size() - 44));
  const double seconds = u32(40) / 2.0 / u32(24);
  EXPECT_GT(seconds, 0.01);
  EXPECT_LT(seconds, 0.1);  // a click, not a beep
  int peak = 0;
  for (int i = 44; i < wav.size(); i += 2) peak = std::max(peak, sample(i));
  EXPECT_GT(peak, 8000);  // audible, and starting and ending near silence so the speaker won't pop
  EXPECT_LT(std::max(sample(44), sample(static_cast<int>(wav.size()) - 2)), 500);

  SystemSound click;
  EXPECT_EQ(click.source(), QUrl("qrc:/sounds/click.wav"));
  click.play();
  click.play();
  EXPECT_EQ(click.playCount(), 2);
  SystemSound missing(QUrl("qrc:/sounds/no-such-sound.wav"));
  missing.play();  // a sound that cannot load stays silent
  EXPECT_EQ(missing.playCount(), 1);
}

struct RecordingFieldDelegate : TextFieldDelegate {
  bool textFieldShouldReturn(QLineEdit* field) override {
    returns.push_back(field);
    return allowReturn;
  }
  void textFieldDidEndEditing(QLineEdit* field) override { ended.push_back(field); }
  bool allowReturn = false;
  std::vector<QLineEdit*> returns;
  std::vector<QLineEdit*> ended;
};

TEST(TextFieldTest, TheDelegateDecidesWhatReturnDoesAndHearsWhenEditingEnds) {
  QWidget window;
  auto* first = new QLineEdit(&window);
  auto* second = new QLineEdit(&window);
  (new QVBoxLayout(&window))->addWidget(first);
  window.layout()->addWidget(second);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  RecordingFieldDelegate delegate;
  setTextFieldDelegate(first, &delegate);
  QSignalSpy qtReturn(first, &QLineEdit::returnPressed);
  first->setFocus();
  QTest::keyClicks(first, "7395 ");
  QTest::keyClick(first, Qt::Key_Return);  // refused: text and focus stay
  EXPECT_TRUE(first->hasFocus());
  EXPECT_EQ(first->text(), "7395 ");
  EXPECT_EQ(qtReturn.count(), 0);  // the delegate decides, not QLineEdit
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QCoreApplication::sendEvent(first, &popup);
  EXPECT_TRUE(delegate.ended.empty()) << "a popup does not end editing";
  delegate.allowReturn = true;
  QTest::keyClick(first, Qt::Key_Enter);
  EXPECT_FALSE(first->hasFocus());
  first->setFocus();
  second->setFocus(Qt::TabFocusReason);  // moving to another field ends editing too
  EXPECT_EQ(delegate.returns, (std::vector<QLineEdit*>{first, first}));
  EXPECT_EQ(delegate.ended, (std::vector<QLineEdit*>{first, first}));

  // A replaced or removed delegate hears nothing more.
  RecordingFieldDelegate other;
  setTextFieldDelegate(first, &other);
  setTextFieldDelegate(second, &other);
  setTextFieldDelegate(second, nullptr);
  first->setFocus();
  QTest::keyClick(first, Qt::Key_Return);
  second->setFocus();
  QTest::keyClick(second, Qt::Key_Return);
  EXPECT_EQ(delegate.returns.size(), 2u);
  EXPECT_EQ(other.returns, std::vector<QLineEdit*>{first});
}

class MadeInCode : public ViewController {
  Q_OBJECT

 public:
  explicit MadeInCode(QString text) : ViewController("Unused"), text_(std::move(text)) {}

 protected:
  QWidget* loadView() override { return new QLabel(text_); }

 private:
  QString text_;
};

TEST(WindowTest, ANewRootReleasesTheOldOneAndKioskModeIsFullScreen) {
  for (const bool closeFirst : {false, true}) {
    SCOPED_TRACE(closeFirst);
    QPointer<ViewController> firstController;
    QPointer<QWidget> firstView;
    {
      Window window;
      auto first = std::make_unique<MadeInCode>("first");
      firstController = first.get();
      window.setRootViewController(std::move(first));
      firstView = firstController->view();
      EXPECT_EQ(firstView->parentWidget(), &window);
      window.makeKeyAndVisible();
      EXPECT_TRUE(firstView->isVisible());
      auto second = std::make_unique<MadeInCode>("second");
      ViewController* secondController = second.get();
      window.setRootViewController(std::move(second));
      EXPECT_EQ(window.rootViewController(), secondController);
      EXPECT_TRUE(secondController->view()->isVisible());
      // The old root may still be in the middle of the event that asked for the change.
      ASSERT_FALSE(firstController.isNull());
      EXPECT_FALSE(firstView->isVisible());
      if (!closeFirst) runDeferredDeletes();
    }
    // Either the deferred deletion or the closing window deleted the old screen and its view.
    EXPECT_TRUE(firstController.isNull());
    EXPECT_TRUE(firstView.isNull());
    runDeferredDeletes();  // nothing left to delete
  }
  Window kiosk;
  EXPECT_EQ(kiosk.size(), QSize(768, 1024)) << "a portrait tablet by default";
  EXPECT_FALSE(kiosk.kioskMode());
  EXPECT_EQ(kiosk.rootViewController(), nullptr);
  kiosk.setKioskMode(true);
  kiosk.makeKeyAndVisible();
  EXPECT_TRUE(kiosk.isFullScreen());
  EXPECT_TRUE(kiosk.windowFlags().testFlag(Qt::FramelessWindowHint));
}

TEST(DocumentInteractionTest, HandsTheFileAndTheViewToItsService) {
  QWidget view;
  const QUrl url("file:///tmp/results.csv");
  for (bool answer : {true, false}) {
    auto service = std::make_shared<testing::RecordingOpenIn>();
    service->answer = answer;
    EXPECT_EQ(DocumentInteraction(url, service).presentOpenInMenu({10, 20, 300, 68}, &view, true),
              answer);
    EXPECT_EQ(service->calls, (std::vector<std::pair<QUrl, QWidget*>>{{url, &view}}));
  }
  EXPECT_FALSE(DocumentInteraction(url, nullptr).presentOpenInMenu({}, &view, false));
  // Without a session bus (no portal) and offscreen, nothing can present an absent file or a
  // web address either.
  DesktopOpenInService desktop(QDBusConnection(QStringLiteral("quorin-test-no-bus")), 100);
  EXPECT_FALSE(desktop.openFile(QUrl::fromLocalFile("/nonexistent/results.csv"), nullptr));
  EXPECT_FALSE(desktop.openFile(QUrl("https://example.org/results.csv"), nullptr));
}

}  // namespace
}  // namespace quorin

#include "platform_test.moc"
