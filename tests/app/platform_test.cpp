// The small platform layer over Qt, where the acceptance suite does not reach: ScrollView (scrolls
// to a rect, a touch on moving pages) and what is read aloud.
#include "platform/scroll_view.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/reading_order.hpp"

namespace quorin {
namespace {

constexpr int kW = 300;
constexpr int kH = 200;

struct RecordingDelegate : ScrollViewDelegate {
  void scrollViewDidScroll(ScrollView& view) override { offsets.push_back(view.contentOffset()); }
  void scrollViewDidEndZooming(ScrollView&, QWidget*, float) override {}
  QWidget* viewForZoomingInScrollView(ScrollView& view) override { return view.subviews().front(); }
  std::vector<QPointF> offsets;
};

// A strip of seven page-sized panels, each with a button in its middle, in a paged ScrollView.
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
    view->addSubview(strip);
    view->setPagingEnabled(true);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
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

}  // namespace
}  // namespace quorin
