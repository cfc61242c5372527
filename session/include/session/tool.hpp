// Tool: the screening questionnaire's state, held entirely in the settings store.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/settings_store.hpp"
#include "session/tool_delegate.hpp"

namespace quorin {

using Clock = std::function<Date()>;

// Eight questions (1-8) with integer answers (0-3 from the question page), a help flag and the
// session's start date. Nothing is cached: every query reads the store. Main thread only.
class Tool {
 public:
  // Binds the model to `store`; reads and changes nothing. `clock` gives "now" (system clock
  // when empty).
  explicit Tool(std::shared_ptr<SettingsStore> store, Clock clock = {});

  // Always 8.
  int questionCt() const { return 8; }
  // "qn_q_<question>"; no range check.
  static std::string keyForQuestion(int question);
  // Stores the answer, or removes the question's key for -1; then sends resetScore. True when
  // durable (see SettingsStore: otherwise the model still holds it for this run).
  bool setAnswer(int answer, int question);
  // The stored answer in decimal, or "" when unanswered.
  std::string answerAsString(int question) const;
  // Clears questions 1 to 8 together, then sends resetScore once per question; true when durable.
  bool resetQuestionValues();
  // Stores the help flag under qn_help_wanted; true when durable.
  bool setHelpWanted(bool helpWanted);
  // True only when a true value is stored under qn_help_wanted.
  bool helpWanted() const;
  // Stores the session's start date under qn_start; true when durable.
  bool setStartDate(Date date);
  // The date stored under qn_start, or nullopt.
  std::optional<Date> startDate() const;
  // Number of questions 1-8 whose stored answer is greater than 1.
  int score() const;
  // The score in decimal ("0" to "8").
  std::string scoreAsString() const;
  // True when at least one of questions 1-8 is answered.
  bool started() const;
  // True when all of questions 1-8 are answered.
  bool complete() const;

  // Adds an observer (held until the model is destroyed); adding it again changes nothing.
  void addDelegate(std::shared_ptr<ToolDelegate> delegate);
  // Sends resetQuestions to every observer.
  void resetQuestions();
  // Sends resetScore to every observer.
  void resetScore();
  // Sends showScore to every observer when the session is complete; otherwise nothing.
  void showScore();
  // The store changes that begin a new session: answers removed, help false, start date now.
  // The results log commits them together with a logged row, so a session is never both logged
  // and still stored.
  std::vector<SettingChange> newSessionChanges() const;
  // New session: the changes above in one step, then resetScore eight times, resetQuestions and
  // resetScore. True when durable.
  bool restart();

 private:
  std::shared_ptr<SettingsStore> store_;
  Clock clock_;
  std::vector<std::shared_ptr<ToolDelegate>> delegates_;
};

}  // namespace quorin
