#include "session/tool.hpp"

#include "csv/value.hpp"
#include "session_test_support.hpp"

namespace quorin {
namespace {

using namespace testing;  // the session test helpers

const SettingValue kTrue(std::in_place_type<bool>, true), kFalse(std::in_place_type<bool>, false);

using ToolTest = testing::KioskTest;

TEST_F(ToolTest, AFreshInstallationHasNoSessionAndCreatingTheModelWritesNothing) {
  EXPECT_EQ(tool_.questionCt(), 8);
  EXPECT_FALSE(tool_.started() || tool_.complete() || tool_.helpWanted());
  EXPECT_EQ(tool_.scoreAsString(), "0");
  EXPECT_EQ(tool_.startDate(), std::nullopt);
  EXPECT_FALSE(stored("qn_start") || stored("qn_help_wanted") || stored("qn_q_1"));
}

// The cases run one after another on one model, so each also shows that -1 removes an answer.
TEST_F(ToolTest, ScoreCountsStoredAnswersAboveOne) {
  struct Case {
    std::vector<int> answers;
    int score;
    bool started, complete;
  };
  const Case cases[] = {
      {{3, 2, 1, 0, 2, 2, 0, 1}, 4, true, true},  // the worked example
      {{1, 1, 1, 1, 1, 1, 1, 1}, 0, true, true},
      {{2, 2, 2, 2, 2, 2, 2, 2}, 8, true, true},
      {{-2, 3, 3, 3, 3, 3, 3, 3}, 7, true, true},  // -2 is an answer that adds nothing
      {{100, 0, 0, 0, 0, 0, 0, 0}, 1, true, true},
      {{-1, -1, -1, -1, 3, -1, -1, -1}, 1, true, false},
      {{-1, -1, -1, -1, 1, -1, -1, -1}, 0, true, false},
      {{-1, -1, -1, -1, -1, -1, -1, 2}, 1, true, false},
      {{-1, 3, 3, 3, 3, 3, 3, 3}, 7, true, false},
      {{-1, -1, -1, -1, -1, -1, -1, -1}, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.answers));
    answer(c.answers);
    EXPECT_EQ(tool_.score(), c.score);
    EXPECT_EQ(tool_.scoreAsString(), std::to_string(c.score));
    EXPECT_EQ(tool_.started(), c.started);
    EXPECT_EQ(tool_.complete(), c.complete);
    for (int q = 1; q <= 8; ++q) {
      const int given = c.answers[static_cast<std::size_t>(q - 1)];
      EXPECT_EQ(tool_.answerAsString(q), given == -1 ? "" : std::to_string(given));
    }
  }
  // Questions outside 1 to 8 are stored but neither counted nor cleared by a restart.
  tool_.setAnswer(3, 9);
  tool_.setAnswer(2, 0);
  EXPECT_EQ(stored("qn_q_9"), SettingValue(std::int64_t{3}));
  EXPECT_EQ(tool_.answerAsString(0), "2");
  EXPECT_FALSE(tool_.started());
  EXPECT_EQ(tool_.score(), 0);
  tool_.restart();
  EXPECT_EQ(tool_.answerAsString(9), "3");
}

// The store holds an integer per answer, a boolean and a date, and they outlast the application.
TEST_F(ToolTest, AnswersAreStoredAsTheirKindsAndSurviveTheApplicationStopping) {
  answer({3, 2, 1, 0, 2, 2, 0, -1});
  tool_.setHelpWanted(true);
  tool_.setStartDate(now_);
  EXPECT_EQ(stored("qn_q_2"), SettingValue(std::int64_t{2}));
  EXPECT_EQ(stored("qn_help_wanted"), kTrue);
  EXPECT_EQ(stored("qn_start"), SettingValue(now_));
  relaunch();
  std::string answers;
  for (int q = 1; q <= 8; ++q) answers += tool_.answerAsString(q) + ",";
  EXPECT_EQ(answers, "3,2,1,0,2,2,0,,");
  EXPECT_EQ(tool_.score(), 4);
  EXPECT_TRUE(tool_.started() && tool_.helpWanted() && !tool_.complete());
  EXPECT_EQ(tool_.startDate(), now_);
}

// Every answer change (even clearing an unanswered question) clears the score displays; showScore
// reaches the observers only when the session is complete, and resetQuestions only those that
// implement it; an observer added twice hears each notification once, and one added during a
// notification (which must not break the walk) hears from the next one on.
TEST_F(ToolTest, ObserversHearEachNotificationOnceAndOnlyWhenItApplies) {
  auto page = std::make_shared<Observer>([this, added = false](const std::string& n) mutable {
    log_.push_back("page." + n);
    if (!added) tool_.addDelegate(std::make_shared<ScoreOnlyObserver>(recorder("late")));
    added = true;
  });
  tool_.addDelegate(page);
  tool_.addDelegate(page);
  tool_.addDelegate(nullptr);
  tool_.setAnswer(2, 1);
  tool_.setAnswer(-1, 1);
  tool_.setAnswer(-1, 1);
  EXPECT_EQ(log_, (std::vector<std::string>{"page.resetScore", "page.resetScore", "late.resetScore",
                                            "page.resetScore", "late.resetScore"}));
  answer({3, 2, 1, 0, 2, 2, 0, -1});
  log_.clear();
  tool_.showScore();
  tool_.resetQuestions();
  tool_.setAnswer(1, 8);
  tool_.showScore();
  EXPECT_EQ(log_,
            (std::vector<std::string>{"page.resetQuestions", "page.resetScore", "late.resetScore",
                                      "page.showScore", "late.showScore"}));
}

// A restart is one step in the store: every observer already reads the new session at the first
// notification (a crash can never leave half of the last person's session), and hears the clearing
// of the eight questions, resetQuestions (which a score-only observer does not hear), and the end.
TEST_F(ToolTest, RestartClearsTheSessionInOneStepAndNotifiesInOrder) {
  answer({3, 3, 3, 3, 3, 3, 3, 3});
  tool_.setHelpWanted(true);
  tool_.addDelegate(std::make_shared<Observer>([this](const std::string& notification) {
    const std::optional<Date> start = tool_.startDate();
    log_.push_back(notification + " started=" + std::to_string(tool_.started()) +
                   " help=" + std::to_string(tool_.helpWanted()) +
                   " start=" + (start ? csv::describeDate(*start) : "none"));
  }));
  tool_.addDelegate(std::make_shared<ScoreOnlyObserver>(recorder("score")));
  now_ = testing::exampleDate(std::chrono::hours{1});
  EXPECT_TRUE(tool_.restart());

  const std::string fresh = " started=0 help=0 start=2013-04-02 15:05:09 +0000";
  std::vector<std::string> expected;
  for (int round = 0; round < 8; ++round) {
    expected.push_back("resetScore" + fresh);
    expected.push_back("score.resetScore");
  }
  expected.push_back("resetQuestions" + fresh);
  expected.push_back("resetScore" + fresh);
  expected.push_back("score.resetScore");
  EXPECT_EQ(log_, expected);
  EXPECT_EQ(stored("qn_help_wanted"), kFalse);
  EXPECT_EQ(stored("qn_start"), SettingValue(now_));
}

// Another program may have written other kinds under the model's keys. They read as the
// platform's number reading would give them, and never crash.
TEST_F(ToolTest, StoredValuesOfAnotherKindReadAsNumbers) {
  struct Case {
    SettingValue value;
    const char* answer;  // answerAsString
    bool counts;         // adds to the score
    bool helpWanted;     // the same value under qn_help_wanted
  };
  const Case cases[] = {
      {SettingValue(std::string("3")), "3", true, true},
      {SettingValue(std::string("  +2 points")), "2", true, true},
      {SettingValue(std::string("three")), "0", false, true},
      {SettingValue(std::string("no")), "0", false, false},
      {SettingValue(std::string("00")), "0", false, false},
      {SettingValue(std::string("99999999999999999999")), "9223372036854775807", true, true},
      {SettingValue(std::string("-99999999999999999999")), "-9223372036854775808", false, true},
      {kTrue, "1", false, true},
      {kFalse, "0", false, false},
      {SettingValue(std::int64_t{5}), "5", true, true},
      {SettingValue(testing::exampleDate()), "0", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(store_->setValue("qn_q_3", c.value) && store_->setValue("qn_help_wanted", c.value));
    EXPECT_EQ(tool_.answerAsString(3), c.answer);
    EXPECT_EQ(tool_.score(), c.counts ? 1 : 0);
    EXPECT_EQ(tool_.helpWanted(), c.helpWanted);
  }
  ASSERT_TRUE(store_->setValue("qn_start", SettingValue(std::string("2013-04-02"))));
  EXPECT_EQ(tool_.startDate(), std::nullopt);
}

}  // namespace
}  // namespace quorin
