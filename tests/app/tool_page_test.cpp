// The question and score pages: answer buttons as radio groups, the help question, the click,
// asking for the result, and what every restart clears.
#include <QTest>

#include "page_flow_fixture.hpp"

namespace quorin::testing {
namespace {

constexpr Answers kComplete = {3, 2, 1, 0, 2, 2, 0, 1};  // score 4
constexpr Answers kAllHigh = {3, 3, 2, 2, 3, 2, 3, 2};   // score 8

class ToolPageTest : public PageFlowFixture {
 protected:
  void SetUp() override {
    PageFlowFixture::SetUp();
    start();
    goToPage(4);
  }
};

TEST_F(ToolPageTest, TagsGiveQuestionAndChoice) {
  struct Case {
    int tag;
    int question;
    int choice;
  };
  // Signed division truncating toward zero, as the tags are read.
  for (const Case c : {Case{100, 1, 0}, Case{803, 8, 3}, Case{302, 3, 2}, Case{0, 0, 0},
                       Case{-101, -1, -1}, Case{1205, 12, 5}}) {
    QObject control;
    control.setProperty("tag", c.tag);
    EXPECT_EQ(ToolPageController::questionFor(&control), c.question) << c.tag;
    EXPECT_EQ(ToolPageController::choiceFor(&control), c.choice) << c.tag;
  }
}

TEST_F(ToolPageTest, EveryAnswerButtonIsThereAndCheckable) {
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
}

TEST_F(ToolPageTest, ChoicesOfAQuestionActAsARadioGroup) {
  answer(1, 1);
  answer(3, 2);
  answer(3, 0);
  EXPECT_EQ(selectedControls(), (std::vector<int>{101, 300}));
  EXPECT_EQ(tool().answerAsString(3), "0");
  EXPECT_EQ(tool().answerAsString(1), "1");
  // Tapping the selected choice again keeps it selected.
  answer(3, 0);
  EXPECT_EQ(selectedControls(), (std::vector<int>{101, 300}));
  answer(8, 3);
  answer(1, 0);
  EXPECT_EQ(selectedControls(), (std::vector<int>{100, 300, 803}));
  EXPECT_EQ(tool().answerAsString(8), "3");
  EXPECT_EQ(tool().answerAsString(1), "0");
}

TEST_F(ToolPageTest, HelpButtonsStoreTheChoice) {
  toolPage().helpYesButton()->click();
  EXPECT_TRUE(tool().helpWanted());
  EXPECT_EQ(selectedControls(), (std::vector<int>{1}));
  toolPage().helpNoButton()->click();
  EXPECT_FALSE(tool().helpWanted());
  EXPECT_EQ(selectedControls(), (std::vector<int>{2}));
  toolPage().helpNoButton()->click();
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

TEST_F(ToolPageTest, LastAnswerAloneShowsNothing) {
  answerAll(kComplete);
  EXPECT_EQ(toolScore(), "");
  EXPECT_EQ(scorePageScore(), "");
  advanceSeconds(5);
  EXPECT_EQ(flow().currentPage(), 4);
}

TEST_F(ToolPageTest, ResultOfAnUnfinishedSessionRemindsOnly) {
  answerAll({3, 2, 1, 0, 2, 2, 0, -1});
  toolPage().helpYesButton()->click();  // the help question does not complete anything
  control(4, "showResults:")->click();
  EXPECT_EQ(visibleAlertsWith(Alert::kPleaseCompleteMessage), 1);
  EXPECT_EQ(toolScore(), "");
  EXPECT_EQ(scorePageScore(), "");
  Alert::dismissAll();
  advanceSeconds(5);
  EXPECT_EQ(flow().currentPage(), 4);
}

TEST_F(ToolPageTest, ResultShowsTheScoreOnBothPagesThenMovesOn) {
  for (const auto& [answers, score] : {std::pair{kComplete, "4"}, std::pair{kAllHigh, "8"}}) {
    answerAll(answers);
    control(4, "showResults:")->click();
    EXPECT_EQ(toolScore(), score);
    EXPECT_EQ(scorePageScore(), score);
    EXPECT_TRUE(Alert::visibleAlerts().isEmpty());
    advance(milliseconds(3999));
    EXPECT_EQ(flow().currentPage(), 4);
    advance(milliseconds(1));
    EXPECT_EQ(flow().currentPage(), 5);
    EXPECT_EQ(scrollView().contentOffset(), QPointF(5 * pageWidth(), 0));
    goToPage(4);
  }
}

TEST_F(ToolPageTest, LeavingTheQuestionsWithinFourSecondsStaysPut) {
  answerAll(kComplete);
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
}

TEST_F(ToolPageTest, ChangingAnAnswerClearsTheScoreButStillMovesOn) {
  answerAll(kComplete);
  control(4, "showResults:")->click();
  advanceSeconds(1);
  answer(4, 3);
  EXPECT_EQ(toolScore(), "");
  EXPECT_EQ(scorePageScore(), "");
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 5) << "the session is still complete";
}

TEST_F(ToolPageTest, RestartWithinFourSecondsCancelsTheMove) {
  answerAll(kComplete);
  control(4, "showResults:")->click();
  advanceSeconds(1);
  control(4, "restart:")->click();  // complete: logged and restarted, no question asked
  goToPage(4);
  advanceSeconds(3);
  EXPECT_EQ(flow().currentPage(), 4);
  EXPECT_EQ(resultLines().size(), 2u);
}

// Every way a session ends clears every answer control, both help controls and both scores.
TEST_F(ToolPageTest, EveryRestartClearsAllControls) {
  const auto fillEverything = [this] {
    answerAll(kComplete);
    tool().showScore();
    ASSERT_EQ(toolScore(), "4");
    ASSERT_EQ(scorePageScore(), "4");
    // Select all 32 and both help buttons at once, which no person can, to see each one cleared.
    for (int q = 1; q <= 8; ++q) {
      for (int c = 0; c < 4; ++c) toolPage().answerButton(q, c)->setChecked(true);
    }
    toolPage().helpYesButton()->setChecked(true);
    toolPage().helpNoButton()->setChecked(true);
  };
  const auto expectCleared = [this](const char* how) {
    EXPECT_TRUE(selectedControls().empty()) << how;
    EXPECT_EQ(toolScore(), "") << how;
    EXPECT_EQ(scorePageScore(), "") << how;
    EXPECT_FALSE(tool().started()) << how;
  };

  fillEverything();
  control(4, "restart:")->click();
  expectCleared("restart control, complete");

  goToPage(4);
  fillEverything();
  tool().setAnswer(-1, 8);
  control(4, "restart:")->click();
  choose(flow().alertView(), "Restart");
  expectCleared("confirmation's Restart");

  goToPage(4);
  fillEverything();
  advanceSeconds(30);
  choose(flow().resetView(), "Restart");
  expectCleared("time-out warning's Restart");

  goToPage(4);
  fillEverything();
  advanceSeconds(60);
  expectCleared("forced restart");

  goToPage(4);
  fillEverything();
  goToPage(5);
  control(5, "restart:")->click();
  expectCleared("score page's restart control");
  EXPECT_EQ(resultLines().size(), 5u) << "four complete sessions logged";
}

}  // namespace
}  // namespace quorin::testing
