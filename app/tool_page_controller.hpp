// ToolPageController: the question page, with the eight questions, the help question and the
// control that asks for the result.
#pragma once

#include <QPointer>
#include <chrono>
#include <memory>

#include "base_page_controller.hpp"
#include "platform/system_sound.hpp"
#include "session/tool_delegate.hpp"

class QAbstractButton;

namespace quorin {

// Interface file "ToolPage": outlets scoreButton, helpYesButton and helpNoButton; 32 checkable
// answer buttons tagged 100 * question + choice (question 1-8, choice 0-3) with the action
// "questionAnswered:" (and no other control with it); the help buttons with "helpPressed:"; a
// control with "showResults:". A file short of any of these is refused, since with it the page
// would store an answer under another question or choice, or never let a session finish. The
// page itself makes its buttons checkable and not mutually exclusive.
// Registers with the model when its view loads, so it must be owned by a std::shared_ptr.
class ToolPageController : public BasePageController,
                           public ToolDelegate,
                           public std::enable_shared_from_this<ToolPageController> {
  Q_OBJECT

 public:
  // How long the score stays on the question page before the flow moves to the score page.
  static constexpr std::chrono::milliseconds kScoreDelay{4000};

  // The question page of `pageController`; creates the click sound.
  ToolPageController(QuorinAppDelegate& app, PageController& pageController);
  ~ToolPageController() override;

  // The question a control answers: its tag divided by 100.
  static int questionFor(const QObject* control);
  // The choice a control stands for: its tag modulo 100.
  static int choiceFor(const QObject* control);

  QAbstractButton* scoreButton() const { return scoreButton_; }
  QAbstractButton* helpYesButton() const { return helpYesButton_; }
  QAbstractButton* helpNoButton() const { return helpNoButton_; }
  // True while the help question shows a choice: as the model holds it ("Yes"), or one the model
  // cannot tell from no answer ("No").
  bool helpChosen() const;
  // The answer button of `question` and `choice`, or null when the interface file lacks it.
  QAbstractButton* answerButton(int question, int choice) const;
  // The click played on every answer and help choice.
  const SystemSound& sound() const { return *sound_; }

  // Action of the 32 answer buttons: stores the answer and selects that button alone.
  Q_INVOKABLE void questionAnswered(QObject* sender);
  // Action of the two help buttons: stores whether the sender is helpYesButton.
  Q_INVOKABLE void helpPressed(QObject* sender);
  // Action of the result control: shows the score and moves on, or reminds to finish.
  Q_INVOKABLE void showResults(QObject* sender);
  // The delayed step of showResults: moves to the score page if still here and complete.
  void scrollToScore();
  // With `stacked`, each question's choices go under its text (for larger text, which needs the
  // width); otherwise beside it.
  void stackChoices(bool stacked);

  void resetQuestions() override;
  void resetScore() override;
  void showScore() override;

 protected:
  QString faultIn(QWidget& form) const override;
  void viewDidLoad() override;
  void viewDidReload(QWidget& oldView) override;

 private:
  std::unique_ptr<SystemSound> sound_;
  QAbstractButton* scoreButton_ = nullptr;
  QAbstractButton* helpYesButton_ = nullptr;
  QAbstractButton* helpNoButton_ = nullptr;
};

}  // namespace quorin
