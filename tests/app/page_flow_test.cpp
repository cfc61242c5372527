// The page flow and its question page, where the acceptance suite cannot reach cheaply: zoom
// (no pinch there), the 45-second replacement time-out, the click, and the 4-second move.
#include <QScroller>
#include <QTest>
#include <functional>
#include <limits>
#include <tuple>

#include "kiosk_test_support.hpp"

namespace quorin::testing {
namespace {

using PageFlowTest = PageFlowFixture;

TEST_F(PageFlowTest, ShortTimeoutsBecome45Seconds) {
  for (const auto& [stored, interval] :
       {std::pair{9, 45}, std::pair{10, 10}, std::pair{std::numeric_limits<int>::min(), 45},
        std::pair{30, 30}}) {
    SCOPED_TRACE(stored);
    relaunch();
    app_->setInactivityTimout(stored);
    start();
    EXPECT_EQ(flow().timeout(), interval);
    EXPECT_EQ(app_->inactivityTimout(), stored) << "the setting itself is left alone";
    goToPage(1);
    advance(milliseconds(interval * 1000 - 1));
    EXPECT_EQ(flow().resetView(), nullptr);
    advance(milliseconds(1));
    ASSERT_NE(flow().resetView(), nullptr);
    EXPECT_TRUE(flow().resetView()->isVisible());
  }
}

TEST_F(PageFlowTest, ZoomGivesThePageAndSnapsBackBelowTheLimit) {
  start();
  goToPage(4);
  answerAll(kComplete);
  goToPage(0);
  scrollView().setZoomScale(2.0f);
  scrollTo(3 * pageWidth());
  EXPECT_EQ(flow().currentPage(), 1);  // floor(3.5 / 2)
  scrollTo(9 * pageWidth());
  EXPECT_EQ(flow().currentPage(), 4);  // floor(9.5 / 2)

  // Ending a pinch at 1.15 or below snaps back; above, the strip is free until the next page
  // scroll, which first un-zooms and scrolls 0.01 s later.
  ASSERT_LT(static_cast<double>(1.15f), 1.15) << "the float nearest 1.15 lies below it";
  for (const float scale : {1.1f, 1.15f, 1.0f, 1.5f}) {
    SCOPED_TRACE(scale);
    relaunch();
    start();
    goToPage(2);
    scrollView().pinchBegan(QPointF(200, 300));
    scrollView().pinchChanged(scale, QPointF(200, 300));
    scrollView().pinchEnded();
    const bool frees = scale > 1.2f;
    if (frees) {
      EXPECT_EQ(scrollView().zoomScale(), 1.5f);
      EXPECT_FALSE(scrollView().isPagingEnabled());
      EXPECT_FALSE(scrollView().bouncesZoom());
      flow().scrollToPage(1);
      EXPECT_FALSE(scrollView().isPagingEnabled()) << "the scroll itself comes 0.01 s later";
      advance(milliseconds(9));
      EXPECT_NE(scrollView().contentOffset(), QPointF(pageWidth(), 0));
    }
    EXPECT_EQ(scrollView().zoomScale(), 1.0f) << "back to scale 1 at once, without animation";
    advance(milliseconds(frees ? 1 : 10));
    const int page = frees ? 1 : 2;
    EXPECT_EQ(scrollView().contentOffset(), QPointF(page * pageWidth(), 0));
    EXPECT_EQ(flow().currentPage(), page);
    EXPECT_TRUE(scrollView().isPagingEnabled());
    EXPECT_TRUE(scrollView().bouncesZoom());
  }
}

class ToolPageTest : public PageFlowFixture {
 protected:
  void SetUp() override {
    PageFlowFixture::SetUp();
    start();
    goToPage(4);
  }
};

TEST_F(ToolPageTest, EveryAnswerAndHelpTouchClicksAndRearmsTheTimer) {
  const int before = toolPage().sound().playCount();
  advanceSeconds(20);
  answer(2, 1);
  advanceSeconds(20);
  toolPage().helpYesButton()->click();
  advanceSeconds(20);
  answer(2, 3);
  EXPECT_EQ(toolPage().sound().playCount(), before + 3);
  advanceSeconds(29);
  EXPECT_EQ(flow().resetView(), nullptr) << "each touch gave a full interval";
  control(4, "showResults:")->click();
  Alert::dismissAll();
  EXPECT_EQ(toolPage().sound().playCount(), before + 3) << "asking for the result is silent";
  advanceSeconds(1);
  EXPECT_NE(flow().resetView(), nullptr) << "and does not re-arm the timer";
}

TEST_F(ToolPageTest, WithinFourSecondsOfTheResult) {
  answerAll(kComplete);
  // Leaving the questions stays put.
  control(4, "showResults:")->click();
  advanceSeconds(2);
  goToPage(3);
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 3);
  // Coming back before the step runs is being on page 4 again: the step then moves on.
  goToPage(4);
  control(4, "showResults:")->click();
  advanceSeconds(1);
  goToPage(3);
  goToPage(4);
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 5);
  // Changing an answer clears the score, but the session is still complete: it moves on.
  goToPage(4);
  control(4, "showResults:")->click();
  advanceSeconds(1);
  answer(4, 3);
  EXPECT_EQ(scores(), std::pair(QString(), QString()));
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 5);
  // A restart (complete: logged, no question asked) cancels the move.
  goToPage(4);
  control(4, "showResults:")->click();
  advanceSeconds(1);
  control(4, "restart:")->click();
  goToPage(4);
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(resultLines().size(), 2u);
}

}  // namespace
}  // namespace quorin::testing
