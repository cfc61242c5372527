// The small platform layer over Qt, where the acceptance suite does not reach: an alert closed by
// code tells its delegate nothing, the schedulers, the click, and "open in".
#include <gtest/gtest.h>

#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <limits>
#include <optional>
#include <vector>

#include "kiosk_test_support.hpp"
#include "platform/alert.hpp"
#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "platform/system_sound.hpp"

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

TEST(DocumentInteractionTest, OnlyAFailureToOpenIsReported) {
  QWidget view;
  const QUrl url("file:///tmp/results.csv");
  for (OpenOutcome outcome : {OpenOutcome::Opened, OpenOutcome::Cancelled, OpenOutcome::Failed}) {
    auto service = std::make_shared<testing::RecordingOpenIn>();
    service->outcome = outcome;
    int unable = 0;
    DocumentInteraction(url, service).presentOpenInMenu({10, 20, 300, 68}, &view, true, [&] {
      ++unable;
    });
    EXPECT_EQ(unable, outcome == OpenOutcome::Failed ? 1 : 0);
    EXPECT_EQ(service->calls, (std::vector<std::pair<QUrl, QWidget*>>{{url, &view}}));
  }
}

TEST(DocumentInteractionTest, WithoutAPortalTheOpenersExitStatusDecides) {
  QTemporaryDir dir;
  const QString file = dir.filePath("results.csv");
  QFile(file).open(QIODevice::WriteOnly);
  const QDBusConnection noBus(QStringLiteral("quorin-test-no-bus"));
  const std::pair<QString, std::optional<OpenOutcome>> cases[] = {
      {"true", OpenOutcome::Opened},
      {"false", OpenOutcome::Failed},
      {"/nonexistent/opener", OpenOutcome::Failed},
  };
  for (const auto& [opener, expected] : cases) {
    SCOPED_TRACE(opener.toStdString());
    std::optional<OpenOutcome> outcome;
    DesktopOpenInService(noBus, 100, opener)
        .openFile(QUrl::fromLocalFile(file), nullptr, [&](OpenOutcome o) { outcome = o; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 5000));
    EXPECT_EQ(outcome, expected);
  }
  std::optional<OpenOutcome> absent;
  DesktopOpenInService(noBus, 100, "true")
      .openFile(QUrl::fromLocalFile(dir.filePath("absent.csv")), nullptr,
                [&](OpenOutcome o) { absent = o; });
  EXPECT_EQ(absent, OpenOutcome::Failed);
}

}  // namespace
}  // namespace quorin
