#include "platform/scheduler.hpp"

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace quorin {

Scheduler::Duration secondsToDuration(double seconds) {
  const double ms = std::round(seconds * 1000.0);
  // Clamp before converting: a huge time-out setting must not overflow into the past.
  constexpr double kMax =
      static_cast<double>(std::numeric_limits<Scheduler::Duration::rep>::max() / 2);
  if (!(ms > 0)) return Scheduler::Duration{0};
  return Scheduler::Duration{static_cast<Scheduler::Duration::rep>(std::min(ms, kMax))};
}

QtScheduler::QtScheduler() = default;
QtScheduler::~QtScheduler() = default;

Scheduler::TaskId QtScheduler::schedule(Duration delay, std::function<void()> task) {
  const TaskId id = nextId_++;
  auto* timer = new QTimer(&owner_);
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  pending_.emplace(id, Pending{timer, std::move(task)});
  arm(id, std::max(delay, Duration{0}));
  return id;
}

// QTimer counts in int milliseconds (about 24.8 days); longer delays run as a chain of timers.
void QtScheduler::arm(TaskId id, Duration remaining) {
  constexpr Duration kLongest{std::numeric_limits<int>::max()};
  QTimer* timer = pending_.at(id).timer;
  const Duration step = std::min(remaining, kLongest);
  QObject::disconnect(timer, nullptr, nullptr, nullptr);
  QObject::connect(timer, &QTimer::timeout, &owner_, [this, id, rest = remaining - step] {
    if (rest > Duration{0}) {
      arm(id, rest);
      return;
    }
    auto found = pending_.find(id);
    if (found == pending_.end()) return;
    std::function<void()> task = std::move(found->second.task);
    // The timer is emitting this very signal: release it after the current event.
    found->second.timer->deleteLater();
    pending_.erase(found);
    task();
  });
  timer->start(static_cast<int>(step.count()));
}

void QtScheduler::cancel(TaskId id) {
  auto found = pending_.find(id);
  if (found == pending_.end()) return;
  delete found->second.timer;
  pending_.erase(found);
}

std::size_t QtScheduler::pendingCount() const { return pending_.size(); }

Scheduler::TaskId ManualScheduler::schedule(Duration delay, std::function<void()> task) {
  const TaskId id = nextId_++;
  tasks_.emplace(id, Task{now_ + std::max(delay, Duration{0}), id, std::move(task)});
  return id;
}

void ManualScheduler::cancel(TaskId id) { tasks_.erase(id); }

void ManualScheduler::advance(Duration step) {
  const Duration end = now_ + std::max(step, Duration{0});
  for (;;) {
    // Earliest due task; ids rise with scheduling order, so the map order breaks ties.
    auto next = tasks_.end();
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
      if (next == tasks_.end() || it->second.due < next->second.due) next = it;
    }
    if (next == tasks_.end() || next->second.due > end) break;
    now_ = next->second.due;
    std::function<void()> run = std::move(next->second.run);
    tasks_.erase(next);
    run();
  }
  now_ = end;
}

std::optional<Scheduler::Duration> ManualScheduler::timeToNext() const {
  std::optional<Duration> earliest;
  for (const auto& [id, task] : tasks_) {
    if (!earliest || task.due < *earliest) earliest = task.due;
  }
  if (!earliest) return std::nullopt;
  return *earliest - now_;
}

}  // namespace quorin
