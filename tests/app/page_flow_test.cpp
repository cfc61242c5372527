// The page flow: building the strip, page tracking, the completion gate, zoom, the inactivity
// time-out and the restarts.
#include <QScroller>
#include <QTest>
#include <cmath>
#include <limits>

#include "page_flow_fixture.hpp"

namespace quorin::testing {
namespace {

constexpr Answers kComplete = {3, 2, 1, 0, 2, 2, 0, 1};  // score 4
constexpr Answers kSeven = {3, 2, 1, 0, 2, 2, 0, -1};
constexpr Answers kTwo = {1, -1, 3, -1, -1, -1, -1, -1};

using PageFlowTest = PageFlowFixture;

TEST_F(PageFlowTest, StripHoldsSevenPageSizedPagesAndStartsAFreshSession) {
  // A session left over from before the flow started is not the next person's.
  tool().setAnswer(2, 3);
  tool().setHelpWanted(true);
  start();
  EXPECT_FALSE(tool().started());
  EXPECT_FALSE(tool().helpWanted());
  ASSERT_EQ(flow().views().size(), 7u);
  const QSizeF page = scrollView().frame().size();
  EXPECT_EQ(scrollView().contentSize(), QSizeF(7 * page.width(), page.height()));
  EXPECT_EQ(scrollView().maximumZoomScale(), 4.0f);
  EXPECT_EQ(scrollView().minimumZoomScale(), 1.0f);
  EXPECT_TRUE(scrollView().isPagingEnabled());
  for (int i = 0; i < 7; ++i) {
    const QWidget* view = flow().views()[static_cast<std::size_t>(i)]->view();
    EXPECT_EQ(view->geometry(),
              QRect(static_cast<int>(i * page.width()), 0, static_cast<int>(page.width()),
                    static_cast<int>(page.height())))
        << i;
    EXPECT_EQ(view->parentWidget(), scrollView().subviews().front());
  }
  EXPECT_EQ(flow().pageControl()->numberOfPages(), 7);
  EXPECT_EQ(flow().currentPage(), 0);
  EXPECT_EQ(flow().viewForZoomingInScrollView(scrollView()), scrollView().subviews().front());
  const QStringList names = {"TitlePage", "IntroPage", "AboutPage",   "CommitteePage",
                             "ToolPage",  "ScorePage", "PracticePage"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(flow().views()[static_cast<std::size_t>(i)]->interfaceName(), names[i]);
  }
}

TEST_F(PageFlowTest, ShortTimeoutsBecome45Seconds) {
  struct Case {
    int stored;
    int interval;
  };
  for (const Case c :
       {Case{9, 45}, Case{10, 10}, Case{std::numeric_limits<int>::min(), 45}, Case{30, 30}}) {
    SCOPED_TRACE(c.stored);
    TearDown();
    SetUp();
    app_->setInactivityTimout(c.stored);
    start();
    EXPECT_EQ(flow().timeout(), c.interval);
    EXPECT_EQ(app_->inactivityTimout(), c.stored) << "the setting itself is left alone";
    goToPage(1);
    advance(milliseconds(c.interval * 1000 - 1));
    EXPECT_EQ(flow().resetView(), nullptr);
    advance(milliseconds(1));
    ASSERT_NE(flow().resetView(), nullptr);
    EXPECT_TRUE(flow().resetView()->isVisible());
  }
}

TEST_F(PageFlowTest, TitlePageNeverWarnsNorRestarts) {
  start();
  goToPage(4);
  answerAll(kTwo);
  goToPage(0);
  advanceSeconds(30 * 20);
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  EXPECT_EQ(tool().answerAsString(1), "1");
  EXPECT_EQ(tool().answerAsString(3), "3");
  EXPECT_EQ(scheduler_->pendingCount(), 1u) << "the timer keeps re-arming, one at a time";

  // A finished session left on the title page also waits for the next person, unlogged.
  goToPage(4);
  answerAll(kComplete);
  goToPage(0);
  advanceSeconds(30 * 20);
  EXPECT_TRUE(tool().complete());
  EXPECT_TRUE(resultLines().empty());
}

TEST_F(PageFlowTest, WarningThenForcedRestartOneIntervalLater) {
  struct Case {
    const char* name;
    Answers answers;
    bool logged;
  };
  for (const Case& c : {Case{"complete", kComplete, true}, Case{"unfinished", kTwo, false}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    start();
    goToPage(4);
    answerAll(c.answers);
    advanceSeconds(30);
    Alert* warning = flow().resetView();
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->title(), std::nullopt);
    EXPECT_EQ(warning->message(), "\nWould you like more time?\n");
    EXPECT_EQ(warning->cancelButtonIndex(), 0);
    EXPECT_EQ(warning->buttonTitleAtIndex(0), "More Time");
    EXPECT_EQ(warning->buttonTitleAtIndex(1), "Restart");
    EXPECT_EQ(warning->numberOfButtons(), 2);

    advanceSeconds(29);
    EXPECT_TRUE(tool().started()) << "not before the second interval is over";
    advanceSeconds(1);
    EXPECT_EQ(flow().resetView(), nullptr);
    EXPECT_EQ(visibleAlertsWith(PageController::kTimeoutMessage), 0);
    EXPECT_EQ(visibleAlertsWith(PageController::kRestartMessage), 0) << "no confirmation";
    EXPECT_FALSE(tool().started());
    EXPECT_EQ(flow().currentPage(), 0);
    EXPECT_EQ(scrollView().contentOffset(), QPointF(0, 0));
    EXPECT_EQ(resultLines().size(), c.logged ? 2u : 0u);
    if (c.logged) {
      EXPECT_EQ(resultLines()[1].substr(0, 2), "1,");
    }
  }
}

TEST_F(PageFlowTest, MoreTimeGivesAFullIntervalFromTheChoice) {
  start();
  goToPage(2);
  advanceSeconds(30);
  Alert* warning = flow().resetView();
  ASSERT_NE(warning, nullptr);
  advanceSeconds(12);
  choose(warning, "More Time");
  EXPECT_EQ(visibleAlertsWith(PageController::kTimeoutMessage), 0);
  advance(milliseconds(30'000 - 1));
  EXPECT_EQ(visibleAlertsWith(PageController::kTimeoutMessage), 0) << "no restart, no warning";
  EXPECT_EQ(flow().currentPage(), 2);
  advance(milliseconds(1));
  EXPECT_EQ(visibleAlertsWith(PageController::kTimeoutMessage), 1);
  EXPECT_EQ(flow().currentPage(), 2);
}

TEST_F(PageFlowTest, EveryScrollRearmsTheTimer) {
  start();
  goToPage(1);
  advanceSeconds(20);
  scrollTo(1.2 * pageWidth());  // still page 1, but the person is there
  advanceSeconds(20);
  EXPECT_EQ(flow().resetView(), nullptr);
  advanceSeconds(10);
  EXPECT_NE(flow().resetView(), nullptr);
}

TEST_F(PageFlowTest, RestartControlWithNoneSomeOrAllAnswered) {
  struct Case {
    const char* name;
    Answers answers;
    bool asks;
    bool logged;
  };
  const Answers none = {-1, -1, -1, -1, -1, -1, -1, -1};
  for (const Case& c : {Case{"none", none, false, false}, Case{"some", kTwo, true, false},
                        Case{"all", kComplete, false, true}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    start();
    goToPage(4);
    answerAll(c.answers);
    QAbstractButton* restart = control(4, "restart:");
    ASSERT_NE(restart, nullptr);
    restart->click();
    if (!c.asks) {
      EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
      EXPECT_FALSE(tool().started());
      EXPECT_EQ(flow().currentPage(), 0);
      EXPECT_EQ(resultLines().size(), c.logged ? 2u : 0u);
      continue;
    }
    Alert* confirmation = flow().alertView();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->title(), std::nullopt);
    EXPECT_EQ(confirmation->message(),
              "Restart the screening tool?\n\nWarning, any progress will be lost.");
    EXPECT_EQ(confirmation->buttonTitleAtIndex(0), "Cancel");
    EXPECT_EQ(confirmation->buttonTitleAtIndex(1), "Restart");
    EXPECT_EQ(confirmation->cancelButtonIndex(), 0);
    EXPECT_TRUE(tool().started()) << "nothing changes until a button is chosen";

    choose(confirmation, "Cancel");
    EXPECT_EQ(tool().answerAsString(1), "1");
    EXPECT_EQ(flow().currentPage(), 4);

    restart->click();
    choose(flow().alertView(), "Restart");
    EXPECT_FALSE(tool().started());
    EXPECT_EQ(flow().currentPage(), 0);
    EXPECT_TRUE(resultLines().empty());
  }
}

TEST_F(PageFlowTest, TimeoutWarningRestartKeepsACompleteSession) {
  start();
  goToPage(4);
  answerAll(kComplete);
  advanceSeconds(30);
  choose(flow().resetView(), "Restart");
  ASSERT_EQ(resultLines().size(), 2u) << "a finished session is logged, not lost";
  EXPECT_TRUE(endsWith(resultLines()[1], ",4,N,3,2,1,0,2,2,0,1")) << resultLines()[1];
  EXPECT_FALSE(tool().started());
  EXPECT_EQ(flow().currentPage(), 0);

  // The same button over an unfinished session drops it.
  goToPage(4);
  answerAll(kTwo);
  advanceSeconds(30);
  choose(flow().resetView(), "Restart");
  EXPECT_EQ(resultLines().size(), 2u);
  EXPECT_FALSE(tool().started());
}

TEST_F(PageFlowTest, GateWithSevenAnswersShowsOneReminderAndReturnsToTheQuestions) {
  start();
  goToPage(4);
  answerAll(kSeven);
  const double w = pageWidth();
  scrollTo(4.5 * w - 1);  // the visible centre just short of the middle between the pages
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());

  scrollTo(4.5 * w);
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_TRUE(flow().warningDisplayed());
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(4 * w, 0));
  EXPECT_EQ(flow().pageControl()->currentPage(), 4);

  // Crossing again while the reminder is up brings no second one; page 6 is refused the same way.
  scrollTo(4.7 * w);
  scrollTo(6 * w);
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(flow().currentPage(), 4);

  // Once it is closed, the next crossing reminds again.
  Alert::dismissAll();
  EXPECT_FALSE(flow().warningDisplayed());
  scrollTo(4.6 * w);
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
}

// The same with a finger: the drag is stopped where it crossed and the strip returns to page 4.
TEST_F(PageFlowTest, DragTowardsTheScoreWithSevenAnswersComesBack) {
  start();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&app_->window()));
  goToPage(4);
  answerAll(kSeven);
  QWidget* surface = scrollView().viewport();
  const int y = surface->height() / 3;
  QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(700, y));
  for (int x = 660; x >= 60; x -= 40) {
    QTest::mouseMove(surface, QPoint(x, y), 15);
    QTest::qWait(15);
  }
  QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(60, y), 15);
  QTRY_COMPARE_WITH_TIMEOUT(scrollView().scroller()->state(), QScroller::Inactive, 5000);
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(4 * pageWidth(), 0));
}

TEST_F(PageFlowTest, CompleteSessionReachesScoreAndPracticePages) {
  start();
  goToPage(4);
  answerAll(kComplete);
  goToPage(5);
  goToPage(6);
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());

  // Through the indicator: a tap on the first dot, then on the sixth.
  PageControl* dots = flow().pageControl();
  QTest::mouseClick(dots, Qt::LeftButton, {}, dots->subviews()[0]->geometry().center());
  EXPECT_EQ(flow().currentPage(), 0);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(0, 0));
  QTest::mouseClick(dots, Qt::LeftButton, {}, dots->subviews()[5]->geometry().center());
  EXPECT_EQ(flow().currentPage(), 5);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(5 * pageWidth(), 0));
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
}

TEST_F(PageFlowTest, IndicatorTapIsGatedLikeADrag) {
  start();
  PageControl* dots = flow().pageControl();
  QTest::mouseClick(dots, Qt::LeftButton, {}, dots->subviews()[6]->geometry().center());
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(dots->currentPage(), 4);
}

TEST_F(PageFlowTest, ActiveDotFollowsThePage) {
  start();
  goToPage(4);
  answerAll(kComplete);
  const PageControl* dots = flow().pageControl();
  for (const int page : {1, 2, 3, 6, 5, 0}) {
    scrollTo(page * pageWidth() + 0.3 * pageWidth());
    EXPECT_EQ(dots->currentPage(), page);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(dots->subviews()[i]->image().isNull(), i != page) << page << "/" << i;
    }
  }
}

TEST_F(PageFlowTest, OverscrollCountsAsTheNearestPage) {
  start();
  goToPage(4);
  answerAll(kComplete);
  goToPage(6);
  scrollTo(6.9 * pageWidth());  // index 7 by the formula
  EXPECT_EQ(flow().currentPage(), 6);
  EXPECT_EQ(flow().pageControl()->currentPage(), 6);
  goToPage(1);
  scrollTo(-0.8 * pageWidth());  // index -1
  EXPECT_EQ(flow().currentPage(), 0);
  EXPECT_EQ(flow().pageControl()->currentPage(), 0);
  scrollTo(-50 * pageWidth());
  EXPECT_EQ(flow().currentPage(), 0);
}

TEST_F(PageFlowTest, OverscrollPastTheEndIsStillGated) {
  start();
  goToPage(4);
  scrollTo(9 * pageWidth());
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(flow().currentPage(), 4);
}

TEST_F(PageFlowTest, ZoomScaleAndOffsetGiveThePage) {
  start();
  goToPage(4);
  answerAll(kComplete);
  goToPage(0);
  scrollView().setZoomScale(2.0f);
  scrollTo(3 * pageWidth());
  EXPECT_EQ(flow().currentPage(), 1);  // floor(3.5 / 2)
  scrollTo(9 * pageWidth());
  EXPECT_EQ(flow().currentPage(), 4);  // floor(9.5 / 2)
}

TEST_F(PageFlowTest, ZoomEndBelowTheLimitSnapsBack) {
  const float nearest115 = 1.15f;
  ASSERT_LT(static_cast<double>(nearest115), 1.15) << "the float nearest 1.15 lies below it";
  for (const float scale : {1.1f, nearest115, 1.0f}) {
    SCOPED_TRACE(scale);
    TearDown();
    SetUp();
    start();
    goToPage(2);
    const QPointF centre(200, 300);
    scrollView().pinchBegan(centre);
    scrollView().pinchChanged(scale, centre);
    scrollView().pinchEnded();
    EXPECT_EQ(scrollView().zoomScale(), 1.0f);
    advance(milliseconds(10));
    EXPECT_EQ(scrollView().contentOffset(), QPointF(2 * pageWidth(), 0));
    EXPECT_EQ(flow().currentPage(), 2);
    EXPECT_TRUE(scrollView().isPagingEnabled());
    EXPECT_TRUE(scrollView().bouncesZoom());
  }
}

TEST_F(PageFlowTest, ZoomEndAboveTheLimitFreesTheStripUntilTheNextPageScroll) {
  start();
  goToPage(3);
  const QPointF centre(100, 100);
  scrollView().pinchBegan(centre);
  scrollView().pinchChanged(1.5, centre);
  scrollView().pinchEnded();
  EXPECT_EQ(scrollView().zoomScale(), 1.5f);
  EXPECT_FALSE(scrollView().isPagingEnabled());
  EXPECT_FALSE(scrollView().bouncesZoom());

  flow().scrollToPage(1);
  EXPECT_EQ(scrollView().zoomScale(), 1.0f) << "first back to scale 1, without animation";
  EXPECT_FALSE(scrollView().isPagingEnabled()) << "the scroll itself comes 0.01 s later";
  advance(milliseconds(9));
  EXPECT_NE(scrollView().contentOffset(), QPointF(pageWidth(), 0));
  advance(milliseconds(1));
  EXPECT_EQ(scrollView().contentOffset(), QPointF(pageWidth(), 0));
  EXPECT_EQ(flow().currentPage(), 1);
  EXPECT_TRUE(scrollView().isPagingEnabled());
  EXPECT_TRUE(scrollView().bouncesZoom());
}

TEST_F(PageFlowTest, ResizeKeepsTheCurrentPageInView) {
  start();
  goToPage(2);
  app_->window().resize(600, 900);
  QCoreApplication::processEvents();
  const QSizeF page = scrollView().frame().size();
  EXPECT_EQ(page.width(), 600.0);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(2 * page.width(), 0));
  EXPECT_EQ(flow().currentPage(), 2);
  EXPECT_EQ(flow().views()[3]->view()->geometry().x(), static_cast<int>(3 * page.width()));
  EXPECT_EQ(flow().views()[3]->view()->width(), static_cast<int>(page.width()));
}

TEST_F(PageFlowTest, PortraitOnly) {
  start();
  EXPECT_TRUE(flow().shouldAutorotateToInterfaceOrientation(InterfaceOrientation::Portrait));
  EXPECT_TRUE(
      flow().shouldAutorotateToInterfaceOrientation(InterfaceOrientation::PortraitUpsideDown));
  EXPECT_FALSE(flow().shouldAutorotateToInterfaceOrientation(InterfaceOrientation::LandscapeLeft));
  EXPECT_FALSE(flow().views()[4]->shouldAutorotateToInterfaceOrientation(
      InterfaceOrientation::LandscapeRight));
}

}  // namespace
}  // namespace quorin::testing
