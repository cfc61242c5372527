// The page flow and its question and score pages: the strip, page tracking, the completion gate,
// zoom, the inactivity time-out, the restarts, the answer and help buttons and the result.
#include <QScroller>
#include <QTest>
#include <functional>
#include <limits>
#include <tuple>

#include "kiosk_test_support.hpp"

namespace quorin::testing {
namespace {

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
  EXPECT_EQ(scrollView().minimumZoomScale(), 1.0f);
  EXPECT_EQ(scrollView().maximumZoomScale(), 4.0f);
  EXPECT_TRUE(scrollView().isPagingEnabled());
  const QStringList names = {"TitlePage", "IntroPage", "AboutPage",   "CommitteePage",
                             "ToolPage",  "ScorePage", "PracticePage"};
  for (int i = 0; i < 7; ++i) {
    const auto& controller = flow().views()[static_cast<std::size_t>(i)];
    EXPECT_EQ(controller->interfaceName(), names[i]);
    EXPECT_EQ(controller->view()->geometry(),
              QRectF(i * page.width(), 0, page.width(), page.height()).toRect());
    EXPECT_EQ(controller->view()->parentWidget(), scrollView().subviews().front());
  }
  EXPECT_EQ(flow().pageControl()->numberOfPages(), 7);
  EXPECT_EQ(flow().currentPage(), 0);

  // A resize keeps the current page in view.
  goToPage(2);
  app_->window().resize(600, 900);
  QCoreApplication::processEvents();
  EXPECT_EQ(pageWidth(), 600.0);
  EXPECT_EQ(scrollView().contentOffset(), QPointF(1200, 0));
  EXPECT_EQ(flow().currentPage(), 2);
  EXPECT_EQ(flow().views()[3]->view()->geometry().x(), 1800);
  EXPECT_EQ(flow().views()[3]->view()->width(), 600);
}

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

TEST_F(PageFlowTest, TitlePageNeverWarnsNorRestarts) {
  start();
  for (const Answers& answers : {kTwo, kComplete}) {
    goToPage(4);
    answerAll(answers);
    goToPage(0);
    advanceSeconds(30 * 20);
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    EXPECT_EQ(tool().answerAsString(1), std::to_string(answers[0]));
    EXPECT_EQ(home_->scheduler->pendingCount(), 1u) << "the timer re-arms, one at a time";
  }
  EXPECT_TRUE(resultLines().empty()) << "a finished session waits for the next person, unlogged";
}

// Unanswered, the warning forces a restart one interval later; its "Restart" restarts at once.
// Either way a finished session is logged, not lost, and an unfinished one is dropped.
TEST_F(PageFlowTest, TimeOutWarningThenRestart) {
  for (const bool chooseRestart : {false, true}) {
    for (const Answers& answers : {kComplete, kTwo}) {
      SCOPED_TRACE(::testing::Message() << chooseRestart << answers[1]);
      relaunch();
      start();
      goToPage(4);
      answerAll(answers);
      advanceSeconds(30);
      Alert* warning = flow().resetView();
      ASSERT_NE(warning, nullptr);
      EXPECT_TRUE(warning->isVisible());
      EXPECT_EQ(warning->title(), std::nullopt);
      EXPECT_EQ(warning->message(), "\nWould you like more time?\n");
      EXPECT_EQ(warning->numberOfButtons(), 2);
      EXPECT_EQ(warning->cancelButtonIndex(), 0);
      EXPECT_EQ(warning->buttonTitleAtIndex(0), "More Time");
      EXPECT_EQ(warning->buttonTitleAtIndex(1), "Restart");
      if (chooseRestart) {
        choose(warning, "Restart");
      } else {
        advanceSeconds(29);
        EXPECT_TRUE(tool().started()) << "not before the second interval is over";
        advanceSeconds(1);
        EXPECT_EQ(flow().resetView(), nullptr);
      }
      EXPECT_TRUE(Alert::visibleAlerts().isEmpty()) << "neither warning nor confirmation";
      EXPECT_FALSE(tool().started());
      EXPECT_EQ(flow().currentPage(), 0);
      EXPECT_EQ(scrollView().contentOffset(), QPointF(0, 0));
      const std::vector<std::string> rows = resultLines();
      ASSERT_EQ(rows.size(), answers == kComplete ? 2u : 0u);
      if (!rows.empty()) {
        EXPECT_EQ(rows[1], "1,2024-05-01 09:30:00 +0000,4,N,3,2,1,0,2,2,0,1");
      }
    }
  }
}

TEST_F(PageFlowTest, MoreTimeAndEveryScrollGiveAFullInterval) {
  start();
  goToPage(2);
  advanceSeconds(30);
  Alert* warning = flow().resetView();
  advanceSeconds(12);
  choose(warning, "More Time");
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
  advance(milliseconds(30'000 - 1));
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty()) << "no restart, no warning";
  EXPECT_EQ(flow().currentPage(), 2);
  advance(milliseconds(1));
  EXPECT_EQ(visibleAlertsWith(PageController::kTimeoutMessage), 1);
  EXPECT_EQ(flow().currentPage(), 2);

  relaunch();
  start();
  goToPage(1);
  advanceSeconds(20);
  scrollTo(1.2 * pageWidth());  // still page 1, but the person is there
  advanceSeconds(29);
  EXPECT_EQ(flow().resetView(), nullptr);
  advanceSeconds(1);
  EXPECT_NE(flow().resetView(), nullptr);
}

TEST_F(PageFlowTest, RestartControlWithNoneSomeOrAllAnswered) {
  const Answers none = {-1, -1, -1, -1, -1, -1, -1, -1};
  for (const auto& [answers, lines] :
       {std::pair{none, 0u}, std::pair{kTwo, 0u}, std::pair{kComplete, 2u}}) {
    SCOPED_TRACE(answers[0]);
    relaunch();
    start();
    goToPage(4);
    answerAll(answers);
    QAbstractButton* restart = control(4, "restart:");
    restart->click();
    if (answers == kTwo) {  // only a session in progress asks first
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
    }
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    EXPECT_FALSE(tool().started());
    EXPECT_EQ(flow().currentPage(), 0);
    EXPECT_EQ(resultLines().size(), lines);
  }
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

  // Crossing again while the reminder is up brings no second one; page 6, an overscroll past
  // the end and a tap on the last dot are refused the same way.
  PageControl* dots = flow().pageControl();
  scrollTo(4.7 * w);
  scrollTo(6 * w);
  scrollTo(9 * w);
  QTest::mouseClick(dots, Qt::LeftButton, {}, dots->subviews()[6]->geometry().center());
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(dots->currentPage(), 4);

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

TEST_F(PageFlowTest, CompleteSessionReachesEveryPageAndTheActiveDotFollows) {
  start();
  goToPage(4);
  answerAll(kComplete);
  const PageControl* dots = flow().pageControl();
  for (const int page : {5, 6, 1, 2, 3, 6, 5, 0}) {
    scrollTo(page * pageWidth() + 0.3 * pageWidth());
    EXPECT_EQ(flow().currentPage(), page);
    EXPECT_EQ(dots->currentPage(), page);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(dots->subviews()[i]->image().isNull(), i != page) << page << "/" << i;
    }
  }
  // Through the indicator: a tap on the first dot, then on the sixth.
  for (const int page : {5, 0}) {
    QTest::mouseClick(flow().pageControl(), Qt::LeftButton, {},
                      dots->subviews()[page]->geometry().center());
    EXPECT_EQ(flow().currentPage(), page);
    EXPECT_EQ(scrollView().contentOffset(), QPointF(page * pageWidth(), 0));
  }
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());

  // Overscrolling past either end counts as the nearest page.
  for (const auto& [x, page] : {std::pair{6.9, 6}, std::pair{-0.8, 0}, std::pair{-50.0, 0}}) {
    goToPage(3);
    scrollTo(x * pageWidth());
    EXPECT_EQ(flow().currentPage(), page) << x;
    EXPECT_EQ(dots->currentPage(), page) << x;
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

TEST_F(ToolPageTest, ChoicesOfAQuestionActAsARadioGroup) {
  // Tags are read as signed division truncating toward zero.
  for (const auto& [tag, question, choice] : {std::tuple{803, 8, 3}, std::tuple{0, 0, 0},
                                              std::tuple{-101, -1, -1}, std::tuple{1205, 12, 5}}) {
    QObject control;
    control.setProperty("tag", tag);
    EXPECT_EQ(std::pair(ToolPageController::questionFor(&control),
                        ToolPageController::choiceFor(&control)),
              std::pair(question, choice))
        << tag;
  }
  for (int q = 1; q <= 8; ++q) {
    for (int c = 0; c < 4; ++c) {
      QAbstractButton* button = toolPage().answerButton(q, c);
      ASSERT_NE(button, nullptr) << q << "/" << c;
      EXPECT_TRUE(button->isCheckable());
      EXPECT_FALSE(button->autoExclusive()) << "the page makes the groups, not Qt";
      EXPECT_EQ(button->property("action").toByteArray(), "questionAnswered:");
      EXPECT_GE(button->height(), 56) << "touch-sized";
    }
  }
  answer(1, 1);
  answer(3, 2);
  answer(3, 0);
  answer(3, 0);  // tapping the selected choice again keeps it selected
  EXPECT_EQ(selectedControls(), (std::vector<int>{101, 300}));
  answer(8, 3);
  answer(1, 0);
  EXPECT_EQ(selectedControls(), (std::vector<int>{100, 300, 803}));
  for (const auto& [q, a] : {std::pair{1, "0"}, std::pair{3, "0"}, std::pair{8, "3"}}) {
    EXPECT_EQ(tool().answerAsString(q), a);
  }
}

TEST_F(ToolPageTest, HelpButtonsStoreTheChoice) {
  toolPage().helpYesButton()->click();
  EXPECT_TRUE(tool().helpWanted());
  EXPECT_EQ(selectedControls(), (std::vector<int>{1}));
  toolPage().helpNoButton()->click();
  toolPage().helpNoButton()->click();
  EXPECT_FALSE(tool().helpWanted());
  EXPECT_EQ(selectedControls(), (std::vector<int>{2}));
  // Any sender other than the yes button itself counts as no.
  toolPage().helpYesButton()->click();
  toolPage().helpPressed(nullptr);
  EXPECT_FALSE(tool().helpWanted());
  EXPECT_EQ(selectedControls(), (std::vector<int>{2}));
}

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

TEST_F(ToolPageTest, ResultOfAnUnfinishedSessionRemindsOnly) {
  answerAll(kSeven);
  toolPage().helpYesButton()->click();  // the help question does not complete anything
  control(4, "showResults:")->click();
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(scores(), std::pair(QString(), QString()));
  Alert::dismissAll();
  answer(8, 1);  // the last answer alone shows nothing either
  advanceSeconds(5);
  EXPECT_EQ(scores(), std::pair(QString(), QString()));
  EXPECT_EQ(flow().currentPage(), 4);
}

TEST_F(ToolPageTest, ResultShowsTheScoreOnBothPagesThenMovesOn) {
  const Answers allHigh = {3, 3, 2, 2, 3, 2, 3, 2};
  for (const auto& [answers, score] : {std::pair{kComplete, "4"}, std::pair{allHigh, "8"}}) {
    answerAll(answers);
    control(4, "showResults:")->click();
    EXPECT_EQ(scores(), std::pair(QString(score), QString(score)));
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    advance(milliseconds(3999));
    EXPECT_EQ(flow().currentPage(), 4);
    advance(milliseconds(1));
    EXPECT_EQ(flow().currentPage(), 5);
    EXPECT_EQ(scrollView().contentOffset(), QPointF(5 * pageWidth(), 0));
    goToPage(4);
  }
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

// Every way a session ends clears every answer control, both help controls and both scores.
TEST_F(ToolPageTest, EveryRestartClearsAllControls) {
  const auto fillEverything = [this] {
    advanceSeconds(1);  // nobody finishes a session within the second it began
    goToPage(4);
    answerAll(kComplete);
    tool().showScore();
    ASSERT_EQ(scores(), std::pair(QString("4"), QString("4")));
    // Select all 32 and both help buttons at once, which no person can, to see each one cleared.
    for (int q = 1; q <= 8; ++q) {
      for (int c = 0; c < 4; ++c) toolPage().answerButton(q, c)->setChecked(true);
    }
    toolPage().helpYesButton()->setChecked(true);
    toolPage().helpNoButton()->setChecked(true);
  };
  const std::pair<const char*, std::function<void()>> endings[] = {
      {"restart control, complete", [&] { control(4, "restart:")->click(); }},
      {"confirmation's Restart",
       [&] {
         tool().setAnswer(-1, 8);
         control(4, "restart:")->click();
         choose(flow().alertView(), "Restart");
       }},
      {"time-out warning's Restart",
       [&] {
         advanceSeconds(30);
         choose(flow().resetView(), "Restart");
       }},
      {"forced restart", [&] { advanceSeconds(60); }},
      {"score page's restart control",
       [&] {
         goToPage(5);
         control(5, "restart:")->click();
       }},
  };
  for (const auto& [how, end] : endings) {
    SCOPED_TRACE(how);
    fillEverything();
    end();
    EXPECT_TRUE(selectedControls().empty());
    EXPECT_EQ(scores(), std::pair(QString(), QString()));
    EXPECT_FALSE(tool().started());
  }
  EXPECT_EQ(resultLines().size(), 5u) << "four complete sessions logged";
}

}  // namespace
}  // namespace quorin::testing
