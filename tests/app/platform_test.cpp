// The small platform layer over Qt, where the acceptance suite does not reach: ScrollView (scrolls
// to a rect, zoom and pinch, unpaged drags, clicks in scaled content), PageControl, an alert
// closed by code, what is read aloud, the click sound, and an opener that is missing.
#include "platform/scroll_view.hpp"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QtEndian>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "platform/alert.hpp"
#include "platform/document_interaction.hpp"
#include "platform/page_control.hpp"
#include "platform/reading_order.hpp"
#include "platform/system_sound.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

constexpr int kW = 300;
constexpr int kH = 200;

struct RecordingDelegate : ScrollViewDelegate {
  void scrollViewDidScroll(ScrollView& view) override { offsets.push_back(view.contentOffset()); }
  void scrollViewDidEndZooming(ScrollView&, QWidget*, float scale) override {
    zoomEnds.push_back(scale);
  }
  QWidget* viewForZoomingInScrollView(ScrollView& view) override { return view.subviews().front(); }
  std::vector<QPointF> offsets;
  std::vector<float> zoomEnds;
};

// A strip of seven page-sized panels, each with a button in its middle, in a paged ScrollView
// zooming from 1 to 4.
class ScrollViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view->setAnimationDuration(0);
    view->resize(kW, kH);
    view->setDelegate(&delegate);
    auto* strip = new QWidget;
    strip->setGeometry(0, 0, 7 * kW, kH);
    for (int i = 0; i < 7; ++i) {
      buttons.push_back(new QPushButton(QString::number(i), strip));
      buttons.back()->setGeometry(i * kW + kW / 2 - 50, kH / 2 - 20, 100, 40);
    }
    view->setContentSize(QSizeF(7 * kW, kH));
    view->setMaximumZoomScale(4.0f);
    view->addSubview(strip);
    view->setPagingEnabled(true);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }
  void pinch(qreal factor, QPointF centre = QPointF(kW / 2.0, kH / 2.0)) {
    view->pinchBegan(centre);
    view->pinchChanged(factor, centre);
  }

  RecordingDelegate delegate;
  std::unique_ptr<ScrollView> view = std::make_unique<ScrollView>();
  std::vector<QPushButton*> buttons;
};

// The offset moves as little as shows the rect, or its start when it is wider than the view;
// within the content, though code may overscroll. Each change is reported once.
TEST_F(ScrollViewTest, ScrollRectToVisibleMovesAsLittleAsNeeded) {
  const std::tuple<double, QRectF, double> cases[] = {
      {0, {3.0 * kW, 0, kW, kH}, 3.0 * kW},               // a page to the right
      {4.0 * kW, {1.0 * kW, 0, kW, kH}, 1.0 * kW},        // a page to the left
      {2.5 * kW, {3.0 * kW, 0, kW, kH}, 3.0 * kW},        // half visible
      {-60, {0, 0, kW, kH}, 0},                           // overscrolled before page 0
      {2.0 * kW, {2.0 * kW + 10, 10, 50, 50}, 2.0 * kW},  // already visible
      {0, {9.0 * kW, 0, kW, kH}, 6.0 * kW},               // past the end: clamped
      {0, {2.0 * kW, 0, 2.0 * kW, kH}, 2.0 * kW},         // two pages wide: their start
      {1.5 * kW, {1.0 * kW, 0, 2.0 * kW, kH}, 1.0 * kW},
  };
  for (const auto& [from, rect, to] : cases) {
    view->setContentOffset(QPointF(from, 0));
    delegate.offsets.clear();
    view->scrollRectToVisible(rect, true);
    EXPECT_EQ(view->contentOffset(), QPointF(to, 0)) << "from " << from << " to " << rect.x();
    EXPECT_EQ(delegate.offsets.size(), from == to ? 0u : 1u);
  }
}

// Every animated scroll moves straight to its target (a scroll that first reported its target,
// then its start, took the page flow's gate for a visit); code stops it where it sets the offset.
TEST_F(ScrollViewTest, AnimatedScrollsMoveStraightToTheirTargetUnlessCodeStopsThem) {
  // Long enough that a busy machine still shows frames between start and target.
  view->setAnimationDuration(400);
  double from = 0.0;
  for (double to : {5.0 * kW, 0.0, 3.0 * kW}) {
    delegate.offsets.clear();
    view->scrollRectToVisible(QRectF(to, 0, kW, kH), true);
    EXPECT_TRUE(view->isDecelerating());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->contentOffset() == QPointF(to, 0); }));
    EXPECT_GE(delegate.offsets.size(), 2u) << "passes through offsets in between";
    for (const QPointF& offset : delegate.offsets) {
      EXPECT_GE((offset.x() - from) * (to - from), 0.0) << "from " << from << " to " << to;
      from = offset.x();
    }
  }
  view->setAnimationDuration(5000);
  view->scrollRectToVisible(QRectF(5.0 * kW, 0, kW, kH), true);
  view->setContentOffset(QPointF(kW, 0));
  QTest::qWait(50);
  EXPECT_EQ(view->contentOffset(), QPointF(kW, 0));
  EXPECT_FALSE(view->isDecelerating());
}

// A touch while the pages glide to one presses nothing that passes under it, and the pages still
// come to rest on that page. (A touch that stops a flick is the acceptance suite's: QScroller
// needs real input to fling.)
TEST_F(ScrollViewTest, ATouchOnMovingPagesPressesNothingAndTheyRestOnAPage) {
  int clicks = 0;
  for (QPushButton* button : buttons) {
    QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
  }
  view->setAnimationDuration(400);
  const QPoint middle(kW / 2, kH / 2);
  view->scrollRectToVisible(QRectF(3.0 * kW, 0, kW, kH), true);
  QTest::qWait(100);
  ASSERT_TRUE(view->isDecelerating());
  // On a button that is passing by.
  const double at = view->contentOffset().x();
  double passing = (std::floor(at / kW) + 0.5) * kW - at;
  if (passing < 0) passing += kW;
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    QPoint(static_cast<int>(passing), kH / 2));
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->contentOffset() == QPointF(3.0 * kW, 0); }));
  EXPECT_EQ(clicks, 0);
  // At rest, a tap presses the button under it.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, middle);
  EXPECT_EQ(clicks, 1);
}

// Code zooms about the visible centre, a pinch about the fingers; both stay within the range,
// except that a bouncing pinch overshoots and then settles. Only a pinch reports its end.
TEST_F(ScrollViewTest, ZoomStaysInRangeAroundItsAnchor) {
  view->setContentOffset(QPointF(2.0 * kW, 0));
  view->setZoomScale(2.0f);  // the centre of page 2 stays in the middle
  EXPECT_EQ(view->contentOffset(), QPointF(4.5 * kW, kH / 2.0));
  view->setZoomScale(9.0f);
  EXPECT_EQ(view->zoomScale(), 4.0f);
  view->setZoomScale(0.2f);
  EXPECT_EQ(view->zoomScale(), 1.0f);
  EXPECT_EQ(view->contentOffset().y(), 0.0);
  EXPECT_TRUE(delegate.zoomEnds.empty()) << "code is not a zoom gesture";
  view->setContentOffset(QPointF(kW, 0));
  pinch(2.0, QPointF(60, 50));
  EXPECT_EQ(view->contentOffset(), QPointF(2 * kW + 60, 50));
  view->pinchEnded();
  EXPECT_EQ(delegate.zoomEnds, std::vector<float>{2.0f});

  for (const auto& [bounces, factor, settled] :
       {std::tuple{true, 6.0, 4.0f}, {true, 0.5, 1.0f}, {false, 6.0, 4.0f}, {false, 0.5, 1.0f}}) {
    view->setZoomScale(1.0f);
    view->setBouncesZoom(bounces);
    pinch(factor);
    const float shown = view->zoomScale();
    EXPECT_TRUE(bounces ? shown != settled && std::abs(shown - settled) < 1.0f : shown == settled);
    view->pinchEnded();
    EXPECT_EQ(view->zoomScale(), settled);
    EXPECT_EQ(delegate.zoomEnds.back(), settled);
  }
  view->setBouncesZoom(true);
  view->setAnimationDuration(80);  // animated, the end is reported when the bounce settles
  delegate.zoomEnds.clear();
  pinch(0.5);
  view->pinchEnded();
  EXPECT_TRUE(delegate.zoomEnds.empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !delegate.zoomEnds.empty(); }));
  EXPECT_EQ(delegate.zoomEnds, std::vector<float>{1.0f});
}

// Unpaged (as the page flow is while zoomed), a drag through QScroller stops where the finger
// left it; paged drags are the acceptance suite's. A click reaches the button under it at any
// zoom.
TEST_F(ScrollViewTest, UnpagedDragsStopAndClicksReachTheContent) {
  view->setPagingEnabled(false);
  view->setContentOffset(QPointF(2.0 * kW, 0));
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(250, 100));
  for (int x = 235; x >= 130; x -= 15) {
    QTest::mouseMove(view->viewport(), QPoint(x, 100));
    QTest::qWait(50);
  }
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(130, 100), 50);
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->scroller()->state() == QScroller::Inactive; }));
  EXPECT_GT(view->contentOffset().x(), 2.0 * kW + 60);
  EXPECT_NE(std::fmod(view->contentOffset().x(), kW), 0.0) << "no snapping to a page";

  for (const float zoom : {1.0f, 2.0f}) {
    view->setZoomScale(1.0f);
    view->setContentOffset(QPointF(3.0 * kW, 0));
    view->setZoomScale(zoom);
    QSignalSpy clicked(buttons[3], &QPushButton::clicked);
    const QPointF content(3.5 * kW, kH / 2.0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      (content * qreal{zoom} - view->contentOffset()).toPoint());
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicked.count() > 0; }));
    EXPECT_EQ(clicked.count(), 1);
  }
}

// The current dot alone shows the active image and stays among the dots; a tap on a dot moves
// there, a tap beside the dots one page towards it, and each move is reported after it is made.
TEST(PageControlTest, TheCurrentDotShowsAndTapsMoveIt) {
  PageControl control;
  control.resize(400, 60);
  control.setNumberOfPages(7);
  control.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
  const auto active = [&](int dot) {
    return control.subviews()[dot]->image().cacheKey() == control.activeImage().cacheKey();
  };
  EXPECT_EQ(control.activeImage().size(), QSize(44, 44));
  for (const auto& [set, current] : {std::pair{3, 3}, {6, 6}, {9, 6}, {-1, 0}}) {
    control.setCurrentPage(set);
    EXPECT_EQ(control.currentPage(), current);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(active(i), i == current) << i << " with page " << set;
  }
  std::vector<int> reported;
  QObject::connect(&control, &PageControl::valueChanged, &control,
                   [&](int page) { reported.push_back(page * 10 + control.currentPage()); });
  const QPoint dot4 = control.subviews()[4]->geometry().center();
  for (const QPoint at : {dot4, dot4, QPoint(5, 30), QPoint(390, 30), QPoint(5, 30)}) {
    QTest::mouseClick(&control, Qt::LeftButton, {}, at);
  }
  control.setCurrentPage(0);
  QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(5, 30));
  EXPECT_EQ(reported, (std::vector<int>{44, 33, 44, 33}));  // nothing before the first page
}

struct RecordingAlertDelegate : AlertDelegate {
  void clickedButtonAtIndex(Alert& alert, int index) override {
    EXPECT_TRUE(alert.isVisible()) << "told while the alert is up";
    choices.push_back(alert.buttonTitleAtIndex(index));
  }
  std::vector<QString> choices;
};

// A button pressed is the acceptance suite's; Escape counts as the cancel button (once the
// moment in which keys reach nothing is over).
TEST(AlertTest, TheDelegateIsToldTheChosenButtonButNotADismissalFromCode) {
  RecordingAlertDelegate delegate;
  const std::function<void(Alert*)> closes[] = {
      [](Alert* a) {
        QTest::qWait(600);
        QTest::keyClick(a->button(0)->window(), Qt::Key_Escape);
      },
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
  EXPECT_EQ(delegate.choices, std::vector<QString>{"Cancel"});
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
