// The small platform layer over Qt, where the acceptance suite does not reach: an alert closed by
// code tells its delegate nothing, the click sound, and an opener that is missing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QtEndian>
#include <optional>
#include <vector>

#include "platform/alert.hpp"
#include "platform/document_interaction.hpp"
#include "platform/reading_order.hpp"
#include "platform/system_sound.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

struct RecordingAlertDelegate : AlertDelegate {
  void clickedButtonAtIndex(Alert& alert, int index) override {
    EXPECT_TRUE(alert.isVisible()) << "told while the alert is up";
    choices.push_back(alert.buttonTitleAtIndex(index));
  }
  std::vector<QString> choices;
};

TEST(AlertTest, TheDelegateIsToldTheChosenButtonButNotADismissalFromCode) {
  RecordingAlertDelegate delegate;
  const std::function<void(Alert*)> closes[] = {
      [](Alert* a) { a->button(0)->click(); },
      [](Alert* a) { a->button(1)->click(); },
      [](Alert* a) { QTest::keyClick(a->button(0)->window(), Qt::Key_Escape); },
      [](Alert* a) { a->dismissWithClickedButtonIndex(a->cancelButtonIndex(), true); },
  };
  for (const auto& close : closes) {
    QPointer<Alert> alert = new Alert(std::nullopt, "Restart?", &delegate, "Cancel", {"Restart"});
    alert->show();
    close(alert);
    EXPECT_FALSE(alert->isVisible());
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alert.isNull());
  }
  EXPECT_EQ(delegate.choices, (std::vector<QString>{"Cancel", "Restart", "Cancel"}));
}

// What is read aloud is what the page shows: rich text as its words, a mnemonic's marker dropped
// but a doubled one kept, line breaks as spaces, hidden and empty widgets skipped, nested ones
// in place, and a stop after each text that has no punctuation of its own.
TEST(ReadingOrderTest, ReadsTheShownTextsAsSentencesInChildOrder) {
  QWidget page;
  auto* layout = new QVBoxLayout(&page);
  layout->addWidget(new QLabel(QStringLiteral("<h1>Your <b>check-in</b></h1>")));
  auto* hidden = new QLabel(QStringLiteral("Only for staff"));
  layout->addWidget(hidden);
  hidden->hide();
  layout->addWidget(new QLabel(QString()));
  auto* row = new QWidget;
  auto* rowLayout = new QVBoxLayout(row);
  rowLayout->addWidget(new QLabel(QStringLiteral("How are you?")));
  rowLayout->addWidget(new QPushButton(QStringLiteral("Some\ndays")));
  layout->addWidget(row);
  layout->addWidget(new QPushButton(QStringLiteral("&Next && last")));
  EXPECT_EQ(spokenText(readingOrder(page)).toStdString(),
            "Your check-in. How are you? Some days. Next & last.");
  EXPECT_EQ(spokenText(readingOrder(*row)).toStdString(), "How are you? Some days.");
}

// The click is a short, audible mono PCM wave that starts and ends near silence, so the speaker
// won't pop; a sound that cannot load stays silent.
TEST(SystemSoundTest, TheClickIsAShortAudibleMonoPcmWaveAndNeverFails) {
  QFile file(":/sounds/click.wav");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray wav = file.readAll();
  ASSERT_GE(wav.size(), 46);
  const auto u32 = [&](int at) { return qFromLittleEndian<std::uint32_t>(wav.constData() + at); };
  std::vector<int> levels;  // of each sample
  for (int i = 44; i + 1 < wav.size(); i += 2) {
    levels.push_back(std::abs(qFromLittleEndian<std::int16_t>(wav.constData() + i)));
  }
  EXPECT_EQ(wav.mid(0, 4) + wav.mid(8, 8) + wav.mid(36, 4), "RIFFWAVEfmt data");
  EXPECT_EQ(u32(20), 0x10001u) << "mono PCM";
  EXPECT_EQ(u32(32), 0x100002u) << "16 bits a sample";
  ASSERT_EQ(u32(40), static_cast<std::uint32_t>(wav.size() - 44));
  const double seconds = u32(40) / 2.0 / u32(24);
  EXPECT_TRUE(seconds > 0.01 && seconds < 0.1) << seconds;
  EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 8000);
  EXPECT_LT(std::max(levels.front(), levels.back()), 500);
  SystemSound missing(QUrl("qrc:/sounds/no-such-sound.wav"));
  missing.play();
  EXPECT_EQ(missing.playCount(), 1);
}

// An opener or a file that is not there fails rather than leaving the kiosk waiting (what the
// opener's exit status and the portal decide is the acceptance suite's).
TEST(DocumentInteractionTest, AMissingOpenerOrFileFails) {
  test::TempFolder folder;
  const QString file = QString::fromStdString(folder.write("results.csv", ""));
  const std::pair<QString, QString> cases[] = {
      {"/nonexistent/opener", file},
      {"true", QString::fromStdString(folder / "absent.csv")},
  };
  for (const auto& [opener, path] : cases) {
    SCOPED_TRACE((opener + " " + path).toStdString());
    std::optional<OpenOutcome> outcome;
    DesktopOpenInService(QDBusConnection(QStringLiteral("quorin-test-no-bus")), 100, opener)
        .openFile(QUrl::fromLocalFile(path), nullptr, [&](OpenOutcome o) { outcome = o; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 5000));
    EXPECT_EQ(outcome, OpenOutcome::Failed);
  }
}

}  // namespace
}  // namespace quorin
