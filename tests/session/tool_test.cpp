#include "session/tool.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "csv/value.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::DiagnosticCapture;
using testing::RecordingObserver;
using testing::ScoreOnlyObserver;
using testing::TempFolder;

constexpr int kUnanswered = -1;

class ToolTest : public ::testing::Test {
 protected:
  // Answers questions 1 to 8 in order; kUnanswered leaves a question without a stored answer.
  void answerAll(const std::vector<int>& answers) {
    for (int question = 1; question <= 8; ++question) {
      tool_.setAnswer(answers[static_cast<std::size_t>(question - 1)], question);
    }
  }
  std::optional<SettingValue> stored(int question) const {
    return store_->valueForKey(Tool::keyForQuestion(question));
  }

  TempFolder folder_;
  std::string databasePath_ = folder_ / "settings.sqlite3";
  std::shared_ptr<SettingsStore> store_ = SqliteSettingsStore::open(databasePath_);
  Date now_ = testing::exampleDate(std::chrono::milliseconds{250});
  Tool tool_{store_, [this] { return now_; }};
  std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
};

TEST_F(ToolTest, AFreshInstallationHasNoSession) {
  EXPECT_EQ(tool_.questionCt(), 8);
  EXPECT_FALSE(tool_.started());
  EXPECT_FALSE(tool_.complete());
  EXPECT_EQ(tool_.score(), 0);
  EXPECT_EQ(tool_.scoreAsString(), "0");
  EXPECT_FALSE(tool_.helpWanted());
  EXPECT_EQ(tool_.startDate(), std::nullopt);
  for (int question = 1; question <= 8; ++question) EXPECT_EQ(tool_.answerAsString(question), "");
}

TEST_F(ToolTest, CreatingTheModelChangesNothingInTheStore) {
  ASSERT_TRUE(store_->setValue("qn_q_4", SettingValue(std::int64_t{3})));
  Tool another(store_);
  EXPECT_EQ(store_->valueForKey("qn_start"), std::nullopt);
  EXPECT_EQ(store_->valueForKey("qn_help_wanted"), std::nullopt);
  EXPECT_EQ(another.answerAsString(4), "3");
}

TEST(ToolKeyTest, KeysAreFormattedWithoutRangeCheck) {
  const std::pair<int, const char*> cases[] = {
      {1, "qn_q_1"}, {8, "qn_q_8"}, {0, "qn_q_0"}, {12, "qn_q_12"}, {-3, "qn_q_-3"}};
  for (const auto& [question, key] : cases) EXPECT_EQ(Tool::keyForQuestion(question), key);
}

TEST_F(ToolTest, ScoreCountsStoredAnswersAboveOne) {
  struct Case {
    const char* name;
    std::vector<int> answers;
    int score;
    bool started;
    bool complete;
  };
  const Case cases[] = {
      {"the worked example", {3, 2, 1, 0, 2, 2, 0, 1}, 4, true, true},
      {"all 0", {0, 0, 0, 0, 0, 0, 0, 0}, 0, true, true},
      {"all 1", {1, 1, 1, 1, 1, 1, 1, 1}, 0, true, true},
      {"all 2", {2, 2, 2, 2, 2, 2, 2, 2}, 8, true, true},
      {"all 3", {3, 3, 3, 3, 3, 3, 3, 3}, 8, true, true},
      {"-2 is an answer that adds nothing", {-2, 3, 3, 3, 3, 3, 3, 3}, 7, true, true},
      {"large answers count", {100, 0, 0, 0, 0, 0, 0, 0}, 1, true, true},
      {"only question 5, counting", {-1, -1, -1, -1, 3, -1, -1, -1}, 1, true, false},
      {"only question 5, not counting", {-1, -1, -1, -1, 1, -1, -1, -1}, 0, true, false},
      {"only question 8", {-1, -1, -1, -1, -1, -1, -1, 2}, 1, true, false},
      {"all but question 1", {-1, 3, 3, 3, 3, 3, 3, 3}, 7, true, false},
      {"none", {-1, -1, -1, -1, -1, -1, -1, -1}, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answerAll(c.answers);
    EXPECT_EQ(tool_.score(), c.score);
    EXPECT_EQ(tool_.scoreAsString(), std::to_string(c.score));
    EXPECT_EQ(tool_.started(), c.started);
    EXPECT_EQ(tool_.complete(), c.complete);
    for (int question = 1; question <= 8; ++question) {
      const int answer = c.answers[static_cast<std::size_t>(question - 1)];
      EXPECT_EQ(tool_.answerAsString(question),
                answer == kUnanswered ? "" : std::to_string(answer));
    }
  }
}

TEST_F(ToolTest, ValuesAreStoredAsTheirOwnKinds) {
  tool_.setAnswer(3, 2);
  tool_.setHelpWanted(true);
  tool_.setStartDate(now_);
  EXPECT_EQ(stored(2), SettingValue(std::int64_t{3}));
  EXPECT_EQ(store_->valueForKey("qn_help_wanted"), SettingValue(std::in_place_type<bool>, true));
  EXPECT_EQ(store_->valueForKey("qn_start"), SettingValue(now_));
  EXPECT_TRUE(tool_.helpWanted());
  EXPECT_EQ(tool_.startDate(), now_);
  tool_.setHelpWanted(false);
  EXPECT_EQ(store_->valueForKey("qn_help_wanted"), SettingValue(std::in_place_type<bool>, false));
  EXPECT_FALSE(tool_.helpWanted());
}

TEST_F(ToolTest, MinusOneRemovesTheAnswer) {
  answerAll({3, 2, 1, 0, 2, 2, 0, 1});
  ASSERT_TRUE(tool_.complete());
  tool_.setAnswer(-1, 3);
  EXPECT_EQ(stored(3), std::nullopt);
  EXPECT_EQ(tool_.answerAsString(3), "");
  EXPECT_FALSE(tool_.complete());
  EXPECT_TRUE(tool_.started());
  EXPECT_EQ(tool_.score(), 4);
}

TEST_F(ToolTest, QuestionsOutsideOneToEightAreStoredButNotCounted) {
  tool_.setAnswer(3, 9);
  tool_.setAnswer(2, 0);
  EXPECT_EQ(store_->valueForKey("qn_q_9"), SettingValue(std::int64_t{3}));
  EXPECT_EQ(tool_.answerAsString(0), "2");
  EXPECT_FALSE(tool_.started());
  EXPECT_EQ(tool_.score(), 0);
  answerAll({0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(tool_.score(), 0);
  tool_.restart();
  EXPECT_EQ(tool_.answerAsString(9), "3");
}

TEST_F(ToolTest, EveryAnswerChangeClearsTheScoreDisplays) {
  tool_.addDelegate(std::make_shared<RecordingObserver>("page", log_));
  tool_.setAnswer(2, 1);
  tool_.setAnswer(-1, 1);
  tool_.setAnswer(-1, 1);  // clearing an unanswered question still notifies
  EXPECT_EQ(*log_,
            (std::vector<std::string>{"page.resetScore", "page.resetScore", "page.resetScore"}));
}

TEST_F(ToolTest, ShowScoreReachesObserversOnlyWhenComplete) {
  tool_.addDelegate(std::make_shared<RecordingObserver>("a", log_));
  tool_.addDelegate(std::make_shared<ScoreOnlyObserver>("b", log_));
  answerAll({3, 2, 1, 0, 2, 2, 0, -1});
  log_->clear();
  tool_.showScore();
  EXPECT_TRUE(log_->empty());
  tool_.setAnswer(1, 8);
  log_->clear();
  tool_.showScore();
  EXPECT_EQ(*log_, (std::vector<std::string>{"a.showScore", "b.showScore"}));
}

TEST_F(ToolTest, RestartClearsTheSessionAndNotifiesInOrder) {
  tool_.addDelegate(std::make_shared<RecordingObserver>("tool", log_));
  tool_.addDelegate(std::make_shared<ScoreOnlyObserver>("score", log_));
  answerAll({3, 2, 1, 0, 2, 2, 0, 1});
  tool_.setHelpWanted(true);
  tool_.setStartDate(testing::exampleDate() - std::chrono::hours{24});
  log_->clear();

  tool_.restart();

  std::vector<std::string> expected;
  for (int round = 0; round < 8; ++round) {
    expected.push_back("tool.resetScore");
    expected.push_back("score.resetScore");
  }
  expected.push_back("tool.resetQuestions");  // the score-only observer has no answer displays
  expected.push_back("tool.resetScore");
  expected.push_back("score.resetScore");
  EXPECT_EQ(*log_, expected);

  for (int question = 1; question <= 8; ++question) EXPECT_EQ(stored(question), std::nullopt);
  EXPECT_EQ(store_->valueForKey("qn_help_wanted"), SettingValue(std::in_place_type<bool>, false));
  EXPECT_EQ(store_->valueForKey("qn_start"), SettingValue(now_));
  EXPECT_FALSE(tool_.started());
  EXPECT_EQ(tool_.startDate(), now_);
}

// What the store holds at each notification shows where in the restart each step happens: the
// answers are gone before resetQuestions, and the help flag and the start date change between it
// and the last resetScore.
TEST_F(ToolTest, RestartStepsReachTheStoreBetweenTheNotifications) {
  class Snapshotting : public ToolDelegate {
   public:
    explicit Snapshotting(const Tool& tool) : tool_(tool) {}
    void resetScore() override { record("resetScore"); }
    void showScore() override { record("showScore"); }
    void resetQuestions() override { record("resetQuestions"); }
    std::vector<std::string> snapshots;

   private:
    void record(const std::string& event) {
      const std::optional<Date> start = tool_.startDate();
      snapshots.push_back(event + " started=" + std::to_string(tool_.started()) +
                          " help=" + std::to_string(tool_.helpWanted()) +
                          " start=" + (start ? csv::describeDate(*start) : "none"));
    }
    const Tool& tool_;
  };
  answerAll({3, 3, 3, 3, 3, 3, 3, 3});
  tool_.setHelpWanted(true);
  now_ = testing::exampleDate();
  const auto observer = std::make_shared<Snapshotting>(tool_);
  tool_.addDelegate(observer);
  now_ += std::chrono::hours{1};

  tool_.restart();

  ASSERT_EQ(observer->snapshots.size(), 10u);
  EXPECT_EQ(observer->snapshots[0], "resetScore started=1 help=1 start=none");
  EXPECT_EQ(observer->snapshots[7], "resetScore started=0 help=1 start=none");
  EXPECT_EQ(observer->snapshots[8], "resetQuestions started=0 help=1 start=none");
  EXPECT_EQ(observer->snapshots[9], "resetScore started=0 help=0 start=2013-04-02 15:05:09 +0000");
}

TEST_F(ToolTest, ResetQuestionsIsOptionalForObservers) {
  tool_.addDelegate(std::make_shared<ScoreOnlyObserver>("score", log_));
  tool_.addDelegate(std::make_shared<RecordingObserver>("tool", log_));
  tool_.resetQuestions();
  EXPECT_EQ(*log_, std::vector<std::string>{"tool.resetQuestions"});
}

TEST_F(ToolTest, AnObserverAddedTwiceHearsEachNotificationOnce) {
  auto page = std::make_shared<RecordingObserver>("page", log_);
  tool_.addDelegate(page);
  tool_.addDelegate(page);
  tool_.addDelegate(nullptr);
  tool_.resetScore();
  tool_.resetQuestions();
  answerAll({2, 2, 2, 2, 2, 2, 2, 2});
  log_->clear();
  tool_.showScore();
  tool_.restart();
  EXPECT_EQ(std::count(log_->begin(), log_->end(), "page.showScore"), 1);
  EXPECT_EQ(std::count(log_->begin(), log_->end(), "page.resetQuestions"), 1);
  EXPECT_EQ(std::count(log_->begin(), log_->end(), "page.resetScore"), 9);
}

// An observer that registers another one while it is being told must not break the walk.
TEST_F(ToolTest, AnObserverAddedDuringANotificationHearsTheNextOne) {
  class Registering : public RecordingObserver {
   public:
    Registering(Tool& tool, std::shared_ptr<std::vector<std::string>> log)
        : RecordingObserver("first", std::move(log)), tool_(tool) {}
    void resetScore() override {
      RecordingObserver::resetScore();
      if (!added_) {
        added_ = true;
        tool_.addDelegate(std::make_shared<RecordingObserver>("late", log_));
      }
    }

   private:
    Tool& tool_;
    bool added_ = false;
  };
  tool_.addDelegate(std::make_shared<Registering>(tool_, log_));
  tool_.resetScore();
  tool_.resetScore();
  EXPECT_EQ(*log_,
            (std::vector<std::string>{"first.resetScore", "first.resetScore", "late.resetScore"}));
}

// The model writes integers under the question keys, a boolean under qn_help_wanted and a date
// under qn_start; another program may have written other kinds. They read as the platform's
// number reading would give them, and never crash.
TEST_F(ToolTest, StoredValuesOfAnotherKindReadAsNumbers) {
  struct Case {
    const char* name;
    SettingValue value;
    const char* answer;  // answerAsString
    bool counts;         // adds to the score
    bool helpWanted;     // the same value under qn_help_wanted
  };
  const Case cases[] = {
      {"text holding a number", SettingValue(std::string("3")), "3", true, true},
      {"text with blanks and a sign", SettingValue(std::string("  +2 points")), "2", true, true},
      {"text holding no number", SettingValue(std::string("three")), "0", false, true},
      {"text no", SettingValue(std::string("no")), "0", false, false},
      {"text 0", SettingValue(std::string("00")), "0", false, false},
      {"text beyond the integers", SettingValue(std::string("99999999999999999999")),
       "9223372036854775807", true, true},
      {"text below the integers", SettingValue(std::string("-99999999999999999999")),
       "-9223372036854775808", false, true},
      {"boolean true", SettingValue(std::in_place_type<bool>, true), "1", false, true},
      {"boolean false", SettingValue(std::in_place_type<bool>, false), "0", false, false},
      {"integer 0", SettingValue(std::int64_t{0}), "0", false, false},
      {"integer 5", SettingValue(std::int64_t{5}), "5", true, true},
      {"date", SettingValue(testing::exampleDate()), "0", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(store_->setValue("qn_q_3", c.value));
    ASSERT_TRUE(store_->setValue("qn_help_wanted", c.value));
    EXPECT_EQ(tool_.answerAsString(3), c.answer);
    EXPECT_TRUE(tool_.started());
    EXPECT_EQ(tool_.score(), c.counts ? 1 : 0);
    EXPECT_EQ(tool_.helpWanted(), c.helpWanted);
  }
  ASSERT_TRUE(store_->setValue("qn_start", SettingValue(std::string("2013-04-02"))));
  EXPECT_EQ(tool_.startDate(), std::nullopt);
}

TEST_F(ToolTest, AnswersSurviveTheApplicationStopping) {
  answerAll({3, 2, 1, 0, 2, 2, 0, -1});
  tool_.setHelpWanted(true);
  tool_.setStartDate(now_);
  // Close the database as a stopping application would, then open it again.
  store_.reset();
  tool_ = Tool(nullptr);
  tool_ = Tool(SqliteSettingsStore::open(databasePath_));

  EXPECT_EQ(tool_.answerAsString(1), "3");
  EXPECT_EQ(tool_.answerAsString(4), "0");
  EXPECT_EQ(tool_.answerAsString(8), "");
  EXPECT_EQ(tool_.score(), 4);
  EXPECT_TRUE(tool_.started());
  EXPECT_FALSE(tool_.complete());
  EXPECT_TRUE(tool_.helpWanted());
  EXPECT_EQ(tool_.startDate(), now_);
}

// A store that cannot open its database reads as a fresh installation and drops writes (each
// logged); the questionnaire keeps running.
TEST(ToolBrokenStoreTest, AModelOnAFailedStoreKeepsWorking) {
  TempFolder folder;
  testing::writeFile(folder / "file", "x");
  DiagnosticCapture log;
  Tool tool(SqliteSettingsStore::open(folder / "file/settings.sqlite3"));
  auto events = std::make_shared<std::vector<std::string>>();
  tool.addDelegate(std::make_shared<RecordingObserver>("page", events));
  tool.setAnswer(3, 1);
  tool.restart();
  tool.showScore();
  EXPECT_FALSE(tool.started());
  EXPECT_EQ(tool.answerAsString(1), "");
  EXPECT_EQ(tool.startDate(), std::nullopt);
  EXPECT_EQ(std::count(events->begin(), events->end(), "page.resetScore"), 10);
  EXPECT_FALSE(log.lines().empty());
}

}  // namespace
}  // namespace quorin
