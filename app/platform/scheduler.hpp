// Scheduler: one-shot delayed steps on the main event loop. The app uses QtScheduler; tests use
// ManualScheduler, whose clock moves only when told, so that no test sleeps.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTimer;

namespace quorin {

class Scheduler {
 public:
  using Duration = std::chrono::milliseconds;
  using TaskId = std::uint64_t;

  virtual ~Scheduler() = default;
  // Runs `task` once, `delay` from now (a negative delay counts as zero); ids are never 0.
  virtual TaskId schedule(Duration delay, std::function<void()> task) = 0;
  // Cancels a pending task: it never runs. Unknown, finished or 0 ids are ignored.
  virtual void cancel(TaskId id) = 0;
  // Number of tasks waiting to run.
  virtual std::size_t pendingCount() const = 0;
};

// Milliseconds in `seconds`, rounded to the nearest and kept within what a duration can hold.
Scheduler::Duration secondsToDuration(double seconds);

// Tasks run from the Qt event loop, each on its own single-shot timer.
class QtScheduler : public Scheduler {
 public:
  QtScheduler();
  ~QtScheduler() override;
  TaskId schedule(Duration delay, std::function<void()> task) override;
  void cancel(TaskId id) override;
  std::size_t pendingCount() const override;

 private:
  struct Pending {
    QTimer* timer;  // child of owner_
    std::function<void()> task;
  };
  void arm(TaskId id, Duration remaining);

  QObject owner_;  // parent of the timers, so that none outlives the scheduler
  TaskId nextId_ = 1;
  std::map<TaskId, Pending> pending_;
};

// Virtual time for tests: tasks run only inside advance(), in due order (ties in order of
// scheduling), each seeing now() equal to its due time.
class ManualScheduler : public Scheduler {
 public:
  TaskId schedule(Duration delay, std::function<void()> task) override;
  void cancel(TaskId id) override;
  std::size_t pendingCount() const override { return tasks_.size(); }

  // Virtual time since the scheduler was made.
  Duration now() const { return now_; }
  // Moves time forward by `step`, running every task that falls due, including tasks scheduled
  // by those tasks within the step.
  void advance(Duration step);
  // Time until the next task is due, or nothing when none is pending.
  std::optional<Duration> timeToNext() const;

 private:
  struct Task {
    Duration due;
    TaskId id;
    std::function<void()> run;
  };
  Duration now_{0};
  TaskId nextId_ = 1;
  std::map<TaskId, Task> tasks_;
};

}  // namespace quorin
