// ScrollView and PageControl: offsets, page-sized scrolls, zoom and pinch, paged drags through
// QScroller, clicks inside the scaled content; the indicator's dots and what a tap on them does.
#include "platform/scroll_view.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/page_control.hpp"

namespace quorin {
namespace {

constexpr int kW = 300;
constexpr int kH = 200;
constexpr int kPages = 7;

class RecordingDelegate : public ScrollViewDelegate {
 public:
  void scrollViewDidScroll(ScrollView& view) override { offsets.push_back(view.contentOffset()); }
  void scrollViewDidEndZooming(ScrollView& view, QWidget* zoomed, float scale) override {
    zoomEnds.push_back(scale);
    EXPECT_EQ(zoomed, view.subviews().front());
  }
  QWidget* viewForZoomingInScrollView(ScrollView& view) override {
    return zoomable && !view.subviews().isEmpty() ? view.subviews().front() : nullptr;
  }
  void scrollViewDidResize(ScrollView& view) override { sizes.push_back(view.frame().size()); }

  bool zoomable = true;
  std::vector<QPointF> offsets;
  std::vector<float> zoomEnds;
  std::vector<QSizeF> sizes;
};

// A strip of seven page-sized panels, each with a button in its middle, in a paged ScrollView.
class ScrollViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view->setAnimationDuration(0);
    view->resize(kW, kH);
    view->setDelegate(&delegate);
    auto* strip = new QWidget;
    strip->setGeometry(0, 0, kPages * kW, kH);
    for (int i = 0; i < kPages; ++i) {
      auto* button = new QPushButton(QStringLiteral("Page %1").arg(i), strip);
      button->setGeometry(i * kW + kW / 2 - 50, kH / 2 - 20, 100, 40);
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

  // Drags across the viewport in `steps` moves `msPerStep` apart (the scroller samples the drag
  // on its own frame timer), then waits until the content rests.
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
  void pinch(qreal factor, QPointF centre = QPointF(kW / 2.0, kH / 2.0)) {
    view->pinchBegan(centre);
    view->pinchChanged(1.02, centre);
    view->pinchChanged(factor, centre);
    view->pinchEnded();
  }

  RecordingDelegate delegate;
  std::unique_ptr<ScrollView> view = std::make_unique<ScrollView>();
  std::vector<QPushButton*> buttons;
};

TEST_F(ScrollViewTest, OffsetChangesAndResizesAreReportedOnce) {
  view->setContentOffset(QPointF(kW, 0));
  view->setContentOffset(QPointF(kW, 0));
  view->setContentOffset(QPointF(-40, 0));  // code may overscroll, as a drag can
  EXPECT_EQ(delegate.offsets, (std::vector<QPointF>{{kW, 0}, {-40, 0}}));
  EXPECT_EQ(view->contentOffset(), QPointF(-40, 0));
  view->resize(kW + 20, kH + 10);
  ASSERT_FALSE(delegate.sizes.empty());
  EXPECT_EQ(delegate.sizes.back(), QSizeF(kW + 20, kH + 10));
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

TEST_F(ScrollViewTest, AnimatedScrollPassesThroughIntermediateOffsetsUnlessCodeStopsIt) {
  view->setAnimationDuration(120);
  view->scrollRectToVisible(QRectF(2.0 * kW, 0, kW, kH), true);
  EXPECT_TRUE(view->isDecelerating());
  QTRY_COMPARE(view->contentOffset(), QPointF(2.0 * kW, 0));
  ASSERT_GE(delegate.offsets.size(), 2u);
  EXPECT_GT(delegate.offsets.front().x(), 0.0);
  EXPECT_LT(delegate.offsets.front().x(), 2.0 * kW);
  EXPECT_FALSE(view->isDecelerating());

  view->setAnimationDuration(5000);
  view->scrollRectToVisible(QRectF(5.0 * kW, 0, kW, kH), true);
  view->setContentOffset(QPointF(kW, 0));
  QTest::qWait(50);
  EXPECT_EQ(view->contentOffset(), QPointF(kW, 0));
  EXPECT_FALSE(view->isDecelerating());
}

// Issue 10: the second animated scroll reported its target, then its start, before moving, and
// the page flow's gate took that for a visit to the score page.
TEST_F(ScrollViewTest, Issue10EveryAnimatedScrollMovesStraightToItsTarget) {
  view->setAnimationDuration(60);
  double from = 0.0;
  for (double to : {5.0 * kW, 0.0, 3.0 * kW}) {
    delegate.offsets.clear();
    view->scrollRectToVisible(QRectF(to, 0, kW, kH), true);
    QTRY_COMPARE(view->contentOffset(), QPointF(to, 0));
    double last = from;
    for (const QPointF& offset : delegate.offsets) {
      EXPECT_GE((offset.x() - last) * (to - from), 0.0) << "from " << from << " to " << to;
      last = offset.x();
    }
    from = to;
  }
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
  EXPECT_EQ(view->contentOffset().y(), 0.0) << "back at scale 1 the offset is inside the content";
  EXPECT_TRUE(delegate.zoomEnds.empty()) << "code is not a zoom gesture";
}

TEST_F(ScrollViewTest, PinchReportsItsEndWithTheFinalScaleAndKeepsTheContentUnderTheFingers) {
  for (const float end : {1.1f, 1.5f, 1.15f, 3.99f}) {
    view->setZoomScale(1.0f);
    pinch(end);
    ASSERT_FALSE(delegate.zoomEnds.empty());
    EXPECT_EQ(delegate.zoomEnds.back(), end);
    EXPECT_EQ(view->zoomScale(), end);
  }
  EXPECT_EQ(delegate.zoomEnds.size(), 4u);

  view->setZoomScale(1.0f);
  view->setContentOffset(QPointF(kW, 0));
  const QPointF fingers(60, 50);
  const QPointF before = (view->contentOffset() + fingers) / qreal{view->zoomScale()};
  view->pinchBegan(fingers);
  view->pinchChanged(2.0, fingers);
  const QPointF after = (view->contentOffset() + fingers) / qreal{view->zoomScale()};
  EXPECT_DOUBLE_EQ(after.x(), before.x());
  EXPECT_DOUBLE_EQ(after.y(), before.y());
  view->pinchEnded();

  delegate.zoomable = false;  // no zoom without a view for zooming
  delegate.zoomEnds.clear();
  view->setZoomScale(1.0f);
  pinch(2.0);
  EXPECT_EQ(view->zoomScale(), 1.0f);
  EXPECT_TRUE(delegate.zoomEnds.empty());
}

TEST_F(ScrollViewTest, BouncingPinchOvershootsThenSettlesInsideTheRange) {
  const QPointF centre(kW / 2.0, kH / 2.0);
  for (const auto& [bounces, factor, settled] :
       {std::tuple{true, 6.0, 4.0f}, std::tuple{true, 0.5, 1.0f}, std::tuple{false, 6.0, 4.0f},
        std::tuple{false, 0.5, 1.0f}}) {
    view->setZoomScale(1.0f);
    view->setBouncesZoom(bounces);
    view->pinchBegan(centre);
    view->pinchChanged(factor, centre);
    const float during = view->zoomScale();
    if (bounces) {
      EXPECT_NE(during, settled) << "a bouncing pinch goes past the limit";
      EXPECT_GT(during, 0.5f);
      EXPECT_LT(during, 5.5f);
    } else {
      EXPECT_EQ(during, settled);
    }
    view->pinchEnded();
    EXPECT_EQ(view->zoomScale(), settled);
    EXPECT_EQ(delegate.zoomEnds.back(), settled);
  }
  // Animated, the end is reported when the bounce settles.
  delegate.zoomEnds.clear();
  view->setBouncesZoom(true);
  view->setAnimationDuration(80);
  pinch(8.0);
  EXPECT_TRUE(delegate.zoomEnds.empty());
  QTRY_COMPARE(delegate.zoomEnds.size(), 1u);
  EXPECT_EQ(delegate.zoomEnds.front(), 4.0f);
  EXPECT_EQ(view->zoomScale(), 4.0f);
}

TEST_F(ScrollViewTest, PagedDragSnapsToOnePageEvenOnAFastFlick) {
  struct Case {
    int fromX, toX, steps, msPerStep;
    double page;  // where the content rests, in pages
  };
  view->setContentOffset(QPointF(2.0 * kW, 0));
  for (const Case c : {Case{200, 140, 6, 40, 2},  // slowly, less than half a page: back
                       Case{250, 60, 10, 40, 3},  // slowly, more than half a page: the next
                       Case{40, 240, 10, 40, 2},  // and back to the right
                       Case{290, 10, 4, 5, 3},    // a fast flick: only one page
                       Case{10, 290, 4, 5, 2}}) {
    drag(QPoint(c.fromX, 100), QPoint(c.toX, 100), c.steps, c.msPerStep);
    EXPECT_EQ(view->contentOffset(), QPointF(c.page * kW, 0)) << c.fromX << " to " << c.toX;
  }
  // With paging off, the drag stops where the finger left it.
  view->setPagingEnabled(false);
  drag(QPoint(250, 100), QPoint(130, 100), 8, 50);
  EXPECT_GT(view->contentOffset().x(), 2.0 * kW + 60);
  EXPECT_NE(std::fmod(view->contentOffset().x(), kW), 0.0) << "no snapping to a page";
}

TEST_F(ScrollViewTest, ClickReachesTheButtonUnderItAtAnyZoom) {
  for (const float zoom : {1.0f, 2.0f}) {
    view->setZoomScale(1.0f);
    view->setContentOffset(QPointF(3.0 * kW, 0));
    view->setZoomScale(zoom);
    QSignalSpy clicked(buttons[3], &QPushButton::clicked);
    QSignalSpy neighbour(buttons[2], &QPushButton::clicked);
    const QPointF content(3.0 * kW + kW / 2.0, kH / 2.0);
    const QPoint shown = (content * qreal{zoom} - view->contentOffset()).toPoint();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, shown);
    QTRY_COMPARE(clicked.count(), 1);
    EXPECT_EQ(neighbour.count(), 0);
  }
}

class PageControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control->resize(400, 60);
    control->setNumberOfPages(7);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
  }
  bool isActive(int dot) const {
    return control->subviews()[dot]->image().cacheKey() == control->activeImage().cacheKey();
  }
  void tap(QPoint at) { QTest::mouseClick(control.get(), Qt::LeftButton, {}, at); }
  QPoint dotCentre(int page) const { return control->subviews()[page]->geometry().center(); }

  std::unique_ptr<PageControl> control = std::make_unique<PageControl>();
};

TEST_F(PageControlTest, TheCurrentDotAloneShowsTheActiveImageAndStaysAmongTheDots) {
  ASSERT_FALSE(control->activeImage().isNull()) << "pc_active.png is not in the resources";
  EXPECT_EQ(control->activeImage().size(), QSize(44, 44));
  for (const auto& [set, current] :
       {std::pair{3, 3}, std::pair{0, 0}, std::pair{6, 6}, std::pair{9, 6}, std::pair{-1, 0}}) {
    control->setCurrentPage(set);
    EXPECT_EQ(control->currentPage(), current);
    ASSERT_EQ(control->subviews().size(), 7);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(isActive(i), i == current) << "dot " << i << " with page " << set;
      EXPECT_EQ(control->subviews()[i]->image().isNull(), i != current);
    }
  }
  control->setCurrentPage(5);
  control->setNumberOfPages(3);
  EXPECT_EQ(control->currentPage(), 2);
  EXPECT_EQ(control->subviews().size(), 3);
  EXPECT_TRUE(isActive(2));
}

TEST_F(PageControlTest, TapOnADotMovesThereTapBesideMovesOnePage) {
  QSignalSpy changed(control.get(), &PageControl::valueChanged);
  int seenInSlot = -1;
  QObject::connect(control.get(), &PageControl::valueChanged, control.get(),
                   [&] { seenInSlot = control->currentPage(); });
  tap(dotCentre(4));
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.front().front().toInt(), 4);
  EXPECT_EQ(seenInSlot, 4) << "the current page moves before the report";
  EXPECT_TRUE(isActive(4));
  tap(dotCentre(4));
  EXPECT_EQ(changed.count(), 1) << "a tap on the current dot changes nothing";

  control->setCurrentPage(3);
  changed.clear();
  for (const auto& [x, page] : {std::pair{390, 4}, std::pair{5, 3}}) {
    tap(QPoint(x, 30));
    EXPECT_EQ(control->currentPage(), page);
  }
  EXPECT_EQ(changed.count(), 2);
  control->setCurrentPage(0);
  changed.clear();
  tap(QPoint(5, 30));
  EXPECT_EQ(control->currentPage(), 0);
  EXPECT_EQ(changed.count(), 0) << "no page before the first";
}

}  // namespace
}  // namespace quorin
