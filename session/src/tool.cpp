#include "session/tool.hpp"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <variant>

#include "stored_values.hpp"

namespace quorin {
namespace {

constexpr const char* kHelpWantedKey = "qn_help_wanted";
constexpr const char* kStartKey = "qn_start";
// Passed as an answer, clears the question instead of storing a value.
constexpr int kClearAnswer = -1;

}  // namespace

Tool::Tool(std::shared_ptr<SettingsStore> store, Clock clock)
    : store_(std::move(store)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

std::string Tool::keyForQuestion(int question) { return "qn_q_" + std::to_string(question); }

bool Tool::setAnswer(int answer, int question) {
  const bool durable = answer == kClearAnswer
                           ? store_->removeValueForKey(keyForQuestion(question))
                           : store_->setValue(keyForQuestion(question), std::int64_t{answer});
  resetScore();
  return durable;
}

// Any stored value makes the question answered, whatever its kind: unanswered is only ever the
// absence of the key. A value of another kind than the integer the model stores (which only
// another program can put there) shows as the number it reads as (see detail::integerValue).
std::string Tool::answerAsString(int question) const {
  const std::optional<SettingValue> value = store_->valueForKey(keyForQuestion(question));
  if (!value) return {};
  return std::to_string(detail::integerValue(*value));
}

bool Tool::resetQuestionValues() {
  std::vector<SettingChange> changes;
  for (int question = 1; question <= questionCt(); ++question) {
    changes.push_back({keyForQuestion(question), std::nullopt});
  }
  const bool durable = store_->applyChanges(changes);
  for (int question = 1; question <= questionCt(); ++question) resetScore();
  return durable;
}

bool Tool::setHelpWanted(bool helpWanted) {
  return store_->setValue(kHelpWantedKey, SettingValue(std::in_place_type<bool>, helpWanted));
}

bool Tool::helpWanted() const {
  const std::optional<SettingValue> value = store_->valueForKey(kHelpWantedKey);
  return value && detail::boolValue(*value);
}

bool Tool::setStartDate(Date date) { return store_->setValue(kStartKey, SettingValue(date)); }

// Only a stored date is a start date; a value of another kind reads as none.
std::optional<Date> Tool::startDate() const {
  const std::optional<SettingValue> value = store_->valueForKey(kStartKey);
  if (!value || !std::holds_alternative<Date>(*value)) return std::nullopt;
  return std::get<Date>(*value);
}

int Tool::score() const {
  int count = 0;
  for (int question = 1; question <= questionCt(); ++question) {
    const std::optional<SettingValue> value = store_->valueForKey(keyForQuestion(question));
    if (value && detail::integerValue(*value) > 1) ++count;
  }
  return count;
}

std::string Tool::scoreAsString() const { return std::to_string(score()); }

bool Tool::started() const {
  for (int question = 1; question <= questionCt(); ++question) {
    if (store_->valueForKey(keyForQuestion(question))) return true;
  }
  return false;
}

bool Tool::complete() const {
  for (int question = 1; question <= questionCt(); ++question) {
    if (!store_->valueForKey(keyForQuestion(question))) return false;
  }
  return true;
}

void Tool::addDelegate(std::shared_ptr<ToolDelegate> delegate) {
  if (!delegate) return;
  if (std::find(delegates_.begin(), delegates_.end(), delegate) != delegates_.end()) return;
  delegates_.push_back(std::move(delegate));
}

// Each notification walks a copy of the observer list, so an observer that registers another one
// while it is being told cannot invalidate the walk; the newcomer hears from the next one on.
void Tool::resetQuestions() {
  const std::vector<std::shared_ptr<ToolDelegate>> observers = delegates_;
  for (const auto& observer : observers) observer->resetQuestions();
}

void Tool::resetScore() {
  const std::vector<std::shared_ptr<ToolDelegate>> observers = delegates_;
  for (const auto& observer : observers) observer->resetScore();
}

void Tool::showScore() {
  if (!complete()) return;
  const std::vector<std::shared_ptr<ToolDelegate>> observers = delegates_;
  for (const auto& observer : observers) observer->showScore();
}

std::vector<SettingChange> Tool::newSessionChanges() const {
  std::vector<SettingChange> changes;
  for (int question = 1; question <= questionCt(); ++question) {
    changes.push_back({keyForQuestion(question), std::nullopt});
  }
  changes.push_back({kHelpWantedKey, SettingValue(std::in_place_type<bool>, false)});
  changes.push_back({kStartKey, SettingValue(clock_())});
  return changes;
}

// One step in the store, so that a crash never leaves half of the last person's session behind;
// the observers hear what they would hear from clearing the questions one by one.
bool Tool::restart() {
  const bool durable = store_->applyChanges(newSessionChanges());
  for (int question = 1; question <= questionCt(); ++question) resetScore();
  resetQuestions();
  resetScore();
  return durable;
}

}  // namespace quorin
