#include "platform/scheduler.hpp"

#include <gtest/gtest.h>

#include <QTest>
#include <limits>
#include <string>
#include <vector>

namespace quorin {
namespace {

using std::chrono::milliseconds;

TEST(ManualSchedulerTest, RunsTasksInDueOrderAtTheirDueTime) {
  ManualScheduler scheduler;
  std::vector<std::pair<std::string, long long>> ran;
  auto record = [&](std::string name) {
    return [&, name] { ran.emplace_back(name, scheduler.now().count()); };
  };
  scheduler.schedule(milliseconds(4000), record("score"));
  scheduler.schedule(milliseconds(10), record("scroll"));
  scheduler.schedule(milliseconds(4000), record("second at 4000"));  // ties keep their order
  scheduler.schedule(milliseconds(-5), record("overdue"));           // negative counts as now
  EXPECT_EQ(scheduler.pendingCount(), 4u);
  EXPECT_EQ(scheduler.timeToNext(), milliseconds(0));

  scheduler.advance(milliseconds(3999));
  EXPECT_EQ(ran, (std::vector<std::pair<std::string, long long>>{{"overdue", 0}, {"scroll", 10}}));
  EXPECT_EQ(scheduler.now(), milliseconds(3999));
  EXPECT_EQ(scheduler.timeToNext(), milliseconds(1));

  scheduler.advance(milliseconds(1));
  ASSERT_EQ(ran.size(), 4u);
  EXPECT_EQ(ran[2], (std::pair<std::string, long long>{"score", 4000}));
  EXPECT_EQ(ran[3], (std::pair<std::string, long long>{"second at 4000", 4000}));
  EXPECT_EQ(scheduler.pendingCount(), 0u);
  EXPECT_EQ(scheduler.timeToNext(), std::nullopt);
}

TEST(ManualSchedulerTest, CancelledTasksNeverRun) {
  ManualScheduler scheduler;
  int runs = 0;
  const auto id = scheduler.schedule(milliseconds(30000), [&] { ++runs; });
  scheduler.cancel(id);
  scheduler.cancel(id);  // twice is harmless
  scheduler.cancel(0);   // so is an id never given
  scheduler.advance(milliseconds(60000));
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(ManualSchedulerTest, TasksScheduledByTasksRunWithinTheSameAdvance) {
  // The inactivity timer re-arms itself from its own callback.
  ManualScheduler scheduler;
  std::vector<long long> fired;
  std::function<void()> rearm = [&] {
    fired.push_back(scheduler.now().count());
    scheduler.schedule(milliseconds(45000), rearm);
  };
  scheduler.schedule(milliseconds(45000), rearm);
  scheduler.advance(milliseconds(100000));
  EXPECT_EQ(fired, (std::vector<long long>{45000, 90000}));
  EXPECT_EQ(scheduler.pendingCount(), 1u);
  EXPECT_EQ(scheduler.timeToNext(), milliseconds(35000));
}

TEST(SecondsToDurationTest, ConvertsAndClamps) {
  EXPECT_EQ(secondsToDuration(0.01), milliseconds(10));
  EXPECT_EQ(secondsToDuration(4.0), milliseconds(4000));
  EXPECT_EQ(secondsToDuration(45), milliseconds(45000));
  EXPECT_EQ(secondsToDuration(0), milliseconds(0));
  EXPECT_EQ(secondsToDuration(-3), milliseconds(0));
  const auto huge = secondsToDuration(static_cast<double>(std::numeric_limits<int>::max()));
  EXPECT_EQ(huge, milliseconds(std::numeric_limits<int>::max() * 1000LL));
  EXPECT_GT(secondsToDuration(1e300), milliseconds(0));
}

TEST(QtSchedulerTest, RunsFromTheEventLoopAndHonoursCancel) {
  QtScheduler scheduler;
  std::vector<int> ran;
  scheduler.schedule(milliseconds(0), [&] { ran.push_back(1); });
  const auto cancelled = scheduler.schedule(milliseconds(0), [&] { ran.push_back(2); });
  scheduler.schedule(milliseconds(5), [&] { ran.push_back(3); });
  scheduler.cancel(cancelled);
  EXPECT_TRUE(ran.empty());  // nothing runs before the event loop does
  EXPECT_EQ(scheduler.pendingCount(), 2u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran.size() == 2; }, 5000));
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(QtSchedulerTest, PendingTasksDieWithTheScheduler) {
  int runs = 0;
  {
    QtScheduler scheduler;
    scheduler.schedule(milliseconds(0), [&] { ++runs; });
  }
  QTest::qWait(5);
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace quorin
