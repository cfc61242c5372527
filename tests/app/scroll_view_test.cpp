// ScrollView (scrolls to a rect, zoom and pinch, paged drags through QScroller, clicks in scaled
// content) and PageControl (its dots and what a tap on them does).
#include "platform/scroll_view.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/page_control.hpp"

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
  void TearDown() override { view->setDelegate(nullptr); }
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
    QTRY_COMPARE(view->contentOffset(), QPointF(to, 0));
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
  QTRY_COMPARE(delegate.zoomEnds, std::vector<float>{1.0f});
}

// Dragged through QScroller: paged, the content rests on a page, and a fast flick moves one page
// only; unpaged, it stops where the finger left it. A click reaches the button under it at any
// zoom.
TEST_F(ScrollViewTest, DragsSnapToOnePageAndClicksReachTheContent) {
  const auto drag = [&](int fromX, int toX, int steps, int msPerStep) {
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(fromX, 100));
    for (int i = 1; i <= steps; ++i) {
      QTest::mouseMove(view->viewport(), QPoint(fromX + (toX - fromX) * i / steps, 100));
      QTest::qWait(msPerStep);
    }
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(toX, 100), msPerStep);
    QTRY_COMPARE_WITH_TIMEOUT(view->scroller()->state(), QScroller::Inactive, 3000);
  };
  view->setContentOffset(QPointF(2.0 * kW, 0));
  for (const auto& [fromX, toX, steps, msPerStep, page] : {std::tuple{200, 140, 6, 40, 2},
                                                           {250, 60, 10, 40, 3},
                                                           {40, 240, 10, 40, 2},
                                                           {290, 10, 4, 5, 3},
                                                           {10, 290, 4, 5, 2}}) {
    drag(fromX, toX, steps, msPerStep);
    EXPECT_EQ(view->contentOffset(), QPointF(page * kW, 0)) << fromX << " to " << toX;
  }
  view->setPagingEnabled(false);
  drag(250, 130, 8, 50);
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
    QTRY_COMPARE(clicked.count(), 1);
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

}  // namespace
}  // namespace quorin
