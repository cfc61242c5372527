// ScrollView: offsets, page-sized scrolls, zoom and pinch, paged drags through QScroller, and
// clicks reaching the widgets inside the scaled content.
#include "platform/scroll_view.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

namespace quorin {
namespace {

constexpr int kW = 300;
constexpr int kH = 200;
constexpr int kPages = 7;

class RecordingDelegate : public ScrollViewDelegate {
 public:
  void scrollViewDidScroll(ScrollView& view) override { offsets.push_back(view.contentOffset()); }
  void scrollViewDidEndZooming(ScrollView& view, QWidget* zoomed, float scale) override {
    (void)view;
    zoomEnds.push_back(scale);
    zoomedViews.push_back(zoomed);
  }
  QWidget* viewForZoomingInScrollView(ScrollView& view) override {
    return zoomable && !view.subviews().isEmpty() ? view.subviews().front() : nullptr;
  }
  void scrollViewDidResize(ScrollView& view) override { sizes.push_back(view.frame().size()); }

  bool zoomable = true;
  std::vector<QPointF> offsets;
  std::vector<float> zoomEnds;
  std::vector<QWidget*> zoomedViews;
  std::vector<QSizeF> sizes;
};

// A strip of seven page-sized panels, each with a button in its middle, in a paged ScrollView.
class ScrollViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = std::make_unique<ScrollView>();
    view->setAnimationDuration(0);
    view->resize(kW, kH);
    view->setDelegate(&delegate);
    auto* strip = new QWidget;
    strip->setGeometry(0, 0, kPages * kW, kH);
    for (int i = 0; i < kPages; ++i) {
      auto* page = new QWidget(strip);
      page->setGeometry(i * kW, 0, kW, kH);
      auto* button = new QPushButton(QStringLiteral("Page %1").arg(i), page);
      button->setGeometry(kW / 2 - 50, kH / 2 - 20, 100, 40);
      buttons.push_back(button);
    }
    view->setContentSize(QSizeF(kPages * kW, kH));
    view->setMinimumZoomScale(1.0f);
    view->setMaximumZoomScale(4.0f);
    view->addSubview(strip);
    view->setPagingEnabled(true);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    delegate.offsets.clear();
  }

  void TearDown() override { view->setDelegate(nullptr); }

  // Drags across the viewport from `from` to `to` in `steps` moves `msPerStep` apart, then waits
  // until the content rests. The scroller samples the drag on its own frame timer, so the moves
  // are spread over real time.
  void drag(QPoint from, QPoint to, int steps, int msPerStep) {
    QWidget* target = view->viewport();
    QTest::mousePress(target, Qt::LeftButton, {}, from);
    for (int i = 1; i <= steps; ++i) {
      QTest::mouseMove(target, from + (to - from) * i / steps, msPerStep);
      QTest::qWait(msPerStep);
    }
    QTest::mouseRelease(target, Qt::LeftButton, {}, to, msPerStep);
    QTRY_COMPARE_WITH_TIMEOUT(view->scroller()->state(), QScroller::Inactive, 3000);
  }

  RecordingDelegate delegate;
  std::unique_ptr<ScrollView> view;
  std::vector<QPushButton*> buttons;
};

TEST_F(ScrollViewTest, EveryOffsetChangeIsReportedOnce) {
  view->setContentOffset(QPointF(kW, 0));
  view->setContentOffset(QPointF(kW, 0));
  view->setContentOffset(QPointF(-40, 0));  // code may overscroll, as a drag can
  ASSERT_EQ(delegate.offsets.size(), 2u);
  EXPECT_EQ(delegate.offsets[0], QPointF(kW, 0));
  EXPECT_EQ(delegate.offsets[1], QPointF(-40, 0));
  EXPECT_EQ(view->contentOffset(), QPointF(-40, 0));
}

TEST_F(ScrollViewTest, ScrollRectToVisibleMovesAsLittleAsNeeded) {
  struct Case {
    QPointF start;
    QRectF rect;
    QPointF expected;
  };
  const Case cases[] = {
      {{0, 0}, {3.0 * kW, 0, kW, kH}, {3.0 * kW, 0}},               // a page to the right
      {{4.0 * kW, 0}, {1.0 * kW, 0, kW, kH}, {1.0 * kW, 0}},        // a page to the left
      {{2.5 * kW, 0}, {3.0 * kW, 0, kW, kH}, {3.0 * kW, 0}},        // half visible
      {{-60, 0}, {0, 0, kW, kH}, {0, 0}},                           // overscrolled before page 0
      {{2.0 * kW, 0}, {2.0 * kW + 10, 10, 50, 50}, {2.0 * kW, 0}},  // already visible
      {{0, 0}, {9.0 * kW, 0, kW, kH}, {6.0 * kW, 0}},               // past the end: clamped
  };
  for (const Case& c : cases) {
    view->setContentOffset(c.start);
    view->scrollRectToVisible(c.rect, true);
    EXPECT_EQ(view->contentOffset(), c.expected) << "from " << c.start.x() << " to " << c.rect.x();
  }
}

TEST_F(ScrollViewTest, AnimatedScrollPassesThroughIntermediateOffsets) {
  view->setAnimationDuration(120);
  view->scrollRectToVisible(QRectF(2.0 * kW, 0, kW, kH), true);
  EXPECT_TRUE(view->isDecelerating());
  QTRY_COMPARE(view->contentOffset(), QPointF(2.0 * kW, 0));
  ASSERT_GE(delegate.offsets.size(), 2u);
  EXPECT_GT(delegate.offsets.front().x(), 0.0);
  EXPECT_LT(delegate.offsets.front().x(), 2.0 * kW);
  EXPECT_FALSE(view->isDecelerating());
}

TEST_F(ScrollViewTest, CodeStopsARunningAnimation) {
  view->setAnimationDuration(5000);
  view->scrollRectToVisible(QRectF(5.0 * kW, 0, kW, kH), true);
  view->setContentOffset(QPointF(kW, 0));
  QTest::qWait(50);
  EXPECT_EQ(view->contentOffset(), QPointF(kW, 0));
  EXPECT_FALSE(view->isDecelerating());
}

TEST_F(ScrollViewTest, ZoomScaleIsClampedAndKeepsTheVisibleCentre) {
  view->setContentOffset(QPointF(2.0 * kW, 0));
  view->setZoomScale(2.0f);
  EXPECT_EQ(view->zoomScale(), 2.0f);
  // The centre of page 2 stays in the middle of the view.
  const QPointF centre = (view->contentOffset() + QPointF(kW / 2.0, kH / 2.0)) / 2.0;
  EXPECT_DOUBLE_EQ(centre.x(), 2.5 * kW);
  EXPECT_DOUBLE_EQ(centre.y(), kH / 2.0);
  EXPECT_FALSE(delegate.offsets.empty());

  view->setZoomScale(9.0f);
  EXPECT_EQ(view->zoomScale(), 4.0f);
  view->setZoomScale(0.2f);
  EXPECT_EQ(view->zoomScale(), 1.0f);
  // Back at scale 1 the offset lies inside the content again.
  EXPECT_GE(view->contentOffset().y(), 0.0);
  EXPECT_LE(view->contentOffset().y(), 0.0);
  EXPECT_TRUE(delegate.zoomEnds.empty()) << "code is not a zoom gesture";
}

TEST_F(ScrollViewTest, PinchReportsItsEndWithTheFinalScale) {
  const QPointF centre(kW / 2.0, kH / 2.0);
  for (const float end : {1.1f, 1.5f, 1.15f, 3.99f}) {
    view->setZoomScale(1.0f);
    view->pinchBegan(centre);
    view->pinchChanged(1.02, centre);
    view->pinchChanged(end, centre);
    view->pinchEnded();
    ASSERT_FALSE(delegate.zoomEnds.empty());
    EXPECT_EQ(delegate.zoomEnds.back(), end);
    EXPECT_EQ(delegate.zoomedViews.back(), view->subviews().front());
    EXPECT_EQ(view->zoomScale(), end);
  }
  EXPECT_EQ(delegate.zoomEnds.size(), 4u);
}

TEST_F(ScrollViewTest, PinchKeepsTheContentUnderTheFingers) {
  view->setContentOffset(QPointF(kW, 0));
  const QPointF fingers(60, 50);
  const QPointF before = (view->contentOffset() + fingers) / qreal{view->zoomScale()};
  view->pinchBegan(fingers);
  view->pinchChanged(2.0, fingers);
  const QPointF after = (view->contentOffset() + fingers) / qreal{view->zoomScale()};
  EXPECT_DOUBLE_EQ(after.x(), before.x());
  EXPECT_DOUBLE_EQ(after.y(), before.y());
  view->pinchEnded();
}

TEST_F(ScrollViewTest, BouncingPinchOvershootsThenSettlesInsideTheRange) {
  const QPointF centre(kW / 2.0, kH / 2.0);
  struct Case {
    bool bounces;
    qreal factor;
    float settled;
  };
  for (const Case c : {Case{true, 6.0, 4.0f}, Case{true, 0.5, 1.0f}, Case{false, 6.0, 4.0f},
                       Case{false, 0.5, 1.0f}}) {
    view->setZoomScale(1.0f);
    view->setBouncesZoom(c.bounces);
    view->pinchBegan(centre);
    view->pinchChanged(c.factor, centre);
    const float during = view->zoomScale();
    if (c.bounces) {
      EXPECT_NE(during, c.settled) << "a bouncing pinch goes past the limit";
      EXPECT_GT(during, 0.5f);
      EXPECT_LT(during, 5.5f);
    } else {
      EXPECT_EQ(during, c.settled);
    }
    view->pinchEnded();
    EXPECT_EQ(view->zoomScale(), c.settled);
    EXPECT_EQ(delegate.zoomEnds.back(), c.settled);
  }
}

TEST_F(ScrollViewTest, AnimatedBounceReportsTheEndWhenItSettles) {
  view->setAnimationDuration(80);
  const QPointF centre(kW / 2.0, kH / 2.0);
  view->pinchBegan(centre);
  view->pinchChanged(8.0, centre);
  view->pinchEnded();
  EXPECT_TRUE(delegate.zoomEnds.empty());
  QTRY_COMPARE(delegate.zoomEnds.size(), 1u);
  EXPECT_EQ(delegate.zoomEnds.front(), 4.0f);
  EXPECT_EQ(view->zoomScale(), 4.0f);
}

TEST_F(ScrollViewTest, NoZoomWithoutAViewForZooming) {
  delegate.zoomable = false;
  view->pinchBegan(QPointF(10, 10));
  view->pinchChanged(2.0, QPointF(10, 10));
  view->pinchEnded();
  EXPECT_EQ(view->zoomScale(), 1.0f);
  EXPECT_TRUE(delegate.zoomEnds.empty());
}

TEST_F(ScrollViewTest, PagedDragSnapsToAPage) {
  view->setContentOffset(QPointF(2.0 * kW, 0));
  // Slowly, less than half a page: back to the page it started on.
  drag(QPoint(200, 100), QPoint(140, 100), 6, 40);
  EXPECT_EQ(view->contentOffset(), QPointF(2.0 * kW, 0));
  // Slowly, more than half a page to the left: the next page.
  drag(QPoint(250, 100), QPoint(60, 100), 10, 40);
  EXPECT_EQ(view->contentOffset(), QPointF(3.0 * kW, 0));
  // And back to the right.
  drag(QPoint(40, 100), QPoint(240, 100), 10, 40);
  EXPECT_EQ(view->contentOffset(), QPointF(2.0 * kW, 0));
}

TEST_F(ScrollViewTest, FastFlickMovesOnlyOnePage) {
  view->setContentOffset(QPointF(2.0 * kW, 0));
  drag(QPoint(290, 100), QPoint(10, 100), 4, 5);
  EXPECT_EQ(view->contentOffset(), QPointF(3.0 * kW, 0));
  drag(QPoint(10, 100), QPoint(290, 100), 4, 5);
  EXPECT_EQ(view->contentOffset(), QPointF(2.0 * kW, 0));
  ASSERT_FALSE(delegate.offsets.empty());
}

TEST_F(ScrollViewTest, FreeDragWhenPagingIsOff) {
  view->setPagingEnabled(false);
  view->setContentOffset(QPointF(2.0 * kW, 0));
  drag(QPoint(250, 100), QPoint(130, 100), 8, 50);
  const qreal x = view->contentOffset().x();
  EXPECT_GT(x, 2.0 * kW + 60);
  EXPECT_NE(std::fmod(x, kW), 0.0) << "no snapping to a page";
}

TEST_F(ScrollViewTest, ClickReachesTheButtonUnderItAtAnyZoom) {
  for (const float zoom : {1.0f, 2.0f}) {
    view->setZoomScale(1.0f);
    view->setContentOffset(QPointF(3.0 * kW, 0));
    view->setZoomScale(zoom);
    QSignalSpy clicked(buttons[3], &QPushButton::clicked);
    QSignalSpy neighbour(buttons[2], &QPushButton::clicked);
    // The button's centre in content coordinates, then where the view shows it.
    const QPointF content(3.0 * kW + kW / 2.0, kH / 2.0);
    const QPoint shown = (content * qreal{zoom} - view->contentOffset()).toPoint();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, shown);
    QTRY_COMPARE(clicked.count(), 1);
    EXPECT_EQ(neighbour.count(), 0);
  }
}

TEST_F(ScrollViewTest, ResizeIsReported) {
  view->resize(kW + 20, kH + 10);
  ASSERT_FALSE(delegate.sizes.empty());
  EXPECT_EQ(delegate.sizes.back(), QSizeF(kW + 20, kH + 10));
  EXPECT_EQ(view->frame().size(), QSizeF(kW + 20, kH + 10));
}

}  // namespace
}  // namespace quorin
