#include "tool_page_controller.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QGridLayout>
#include <QMouseEvent>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "page_controller.hpp"
#include "platform/alert.hpp"
#include "platform/interface_loader.hpp"
#include "platform/log.hpp"
#include "platform/reading_order.hpp"
#include "quorin_app_delegate.hpp"
#include "session/tool.hpp"

namespace quorin {

namespace {

constexpr int kQuestions = 8;
constexpr int kChoices = 4;

}  // namespace

ToolPageController::ToolPageController(QuorinAppDelegate& app, PageController& pageController)
    : BasePageController(app, pageController, staticMetaObject),
      sound_(std::make_unique<SystemSound>()) {
  declareOutlet("scoreButton", &scoreButton_);
  declareOutlet("helpYesButton", &helpYesButton_);
  declareOutlet("helpNoButton", &helpNoButton_);
  for (const char* action : {"questionAnswered:", "helpPressed:", "showResults:"}) {
    declareAction(QString::fromLatin1(action));
  }
}

ToolPageController::~ToolPageController() = default;

int ToolPageController::questionFor(const QObject* control) { return tagOf(control) / 100; }

int ToolPageController::choiceFor(const QObject* control) { return tagOf(control) % 100; }

QAbstractButton* ToolPageController::answerButton(int question, int choice) const {
  if (!isViewLoaded()) return nullptr;
  QWidget* root = const_cast<ToolPageController*>(this)->view();
  return qobject_cast<QAbstractButton*>(viewWithTag(root, 100 * question + choice));
}

namespace {

// A tap on a question's row outside its choices (its number, its text, the row around them) reads
// the question aloud with its choices. A finger that moves is scrolling, not tapping. The row
// sees the press, which nothing on it takes; the release goes to whatever the page strip's
// scroller lets have it, so it is watched for application-wide until it comes.
class TapToRead : public QObject {
 public:
  static constexpr double kTapSlop = 12;  // pixels a tap may wander

  TapToRead(QWidget* row, std::function<void(QWidget&)> read)
      : QObject(row), row_(row), read_(std::move(read)) {
    row->installEventFilter(this);
  }
  ~TapToRead() override {
    if (watching_) qApp->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == row_ && event->type() == QEvent::MouseButtonPress && !watching_) {
      pressedAt_ = static_cast<QMouseEvent*>(event)->globalPosition();
      qApp->installEventFilter(this);
      watching_ = true;
    } else if (watching_ && event->type() == QEvent::MouseButtonRelease) {
      qApp->removeEventFilter(this);
      watching_ = false;
      const QPointF moved = static_cast<QMouseEvent*>(event)->globalPosition() - pressedAt_;
      if (moved.manhattanLength() <= kTapSlop) read_(*row_);
    }
    return false;
  }

 private:
  QWidget* row_;
  std::function<void(QWidget&)> read_;
  QPointF pressedAt_;
  bool watching_ = false;
};

// The innermost widget holding both `a` and `b`, or null.
QWidget* commonAncestor(QWidget* a, QWidget* b) {
  for (QWidget* w = a; w != nullptr; w = w->parentWidget()) {
    if (w->isAncestorOf(b)) return w;
  }
  return nullptr;
}

}  // namespace

QString ToolPageController::faultIn(QWidget& form) const {
  if (QString fault = BasePageController::faultIn(form); !fault.isEmpty()) return fault;
  std::set<int> tags;
  for (const QObject* control : controlsWithAction(form, QStringLiteral("questionAnswered:"))) {
    const QString name = control->objectName();
    const int tag = tagOf(control);
    const int question = tag / 100;
    const int choice = tag % 100;
    if (qobject_cast<const QAbstractButton*>(control) == nullptr) {
      return QStringLiteral("'%1' answers a question but is no button").arg(name);
    }
    if (question < 1 || question > kQuestions || choice < 0 || choice >= kChoices) {
      return QStringLiteral(
                 "answer button '%1' has the tag %2, which is no question and choice "
                 "(100 x question 1-%3 + choice 0-%4)")
          .arg(name)
          .arg(tag)
          .arg(kQuestions)
          .arg(kChoices - 1);
    }
    if (!tags.insert(tag).second) {
      return QStringLiteral("two answer buttons have the tag %1 ('%2' is the second)")
          .arg(tag)
          .arg(name);
    }
  }
  for (int q = 1; q <= kQuestions; ++q) {
    for (int c = 0; c < kChoices; ++c) {
      if (!tags.contains(100 * q + c)) {
        return QStringLiteral(
                   "no button with the action 'questionAnswered:' has the tag %1 "
                   "(question %2, choice %3)")
            .arg(100 * q + c)
            .arg(q)
            .arg(c);
      }
    }
  }
  for (const char* name : {"helpYesButton", "helpNoButton"}) {
    const QObject* button = form.findChild<QObject*>(QString::fromLatin1(name));
    if (button != nullptr && button->property("action").toString() != u"helpPressed:") {
      return QStringLiteral("'%1' does not have the action 'helpPressed:'").arg(name);
    }
  }
  if (controlsWithAction(form, QStringLiteral("showResults:")).isEmpty()) {
    return QStringLiteral("no control has the action 'showResults:', which shows the score");
  }
  return {};
}

void ToolPageController::viewDidLoad() {
  // The page keeps each question's choices to one itself; buttons that Qt keeps exclusive (radio
  // buttons, a button group) could not be cleared for the next person.
  std::vector<QAbstractButton*> choices{helpYesButton_, helpNoButton_};
  for (int q = 1; q <= kQuestions; ++q) {
    for (int c = 0; c < kChoices; ++c) choices.push_back(answerButton(q, c));
  }
  for (QAbstractButton* button : choices) {
    button->setCheckable(true);
    button->setAutoExclusive(false);
    if (QButtonGroup* group = button->group()) group->setExclusive(false);
  }
  // Each question's row, and the help question's, reads itself aloud when tapped.
  const auto read = [this](QWidget& row) {
    if (PageController* flow = pageController()) flow->speak(spokenText(readingOrder(row)));
  };
  for (int q = 1; q <= kQuestions; ++q) {
    QWidget* first = answerButton(q, 0);
    QWidget* last = answerButton(q, kChoices - 1);
    if (first == nullptr || last == nullptr) continue;
    if (QWidget* row = commonAncestor(first, last); row != nullptr && row != view()) {
      new TapToRead(row, read);
    }
  }
  if (QWidget* row = commonAncestor(helpYesButton_, helpNoButton_);
      row != nullptr && row != view()) {
    new TapToRead(row, read);
  }
  tool().addDelegate(shared_from_this());
}

void ToolPageController::viewDidReload(QWidget& oldView) {
  BasePageController::viewDidReload(oldView);
  if (const auto* was = oldView.findChild<QAbstractButton*>(scoreButton_->objectName())) {
    scoreButton_->setText(was->text());
  }
}

void ToolPageController::questionAnswered(QObject* sender) {
  sound_->play();
  resetTimer();
  const int question = questionFor(sender);
  const int choice = choiceFor(sender);
  tool().setAnswer(choice, question);
  // The four choices of a question act as one radio group; other questions stay as they are.
  // A choice is shown only as the model reads it back, so a write the store refused is never
  // shown as given.
  const std::string stored = tool().answerAsString(question);
  for (int i = 0; i < kChoices; ++i) {
    if (QAbstractButton* button = answerButton(question, i)) {
      button->setChecked(stored == std::to_string(i));
    }
  }
}

void ToolPageController::helpPressed(QObject* sender) {
  sound_->play();
  resetTimer();
  const bool yes = sender == helpYesButton_;
  tool().setHelpWanted(yes);
  // As with the answers: shown only when the model holds it; a refused write leaves the
  // earlier choice (or none) on screen.
  if (tool().helpWanted() != yes) return;
  helpYesButton_->setChecked(yes);
  helpNoButton_->setChecked(!yes);
}

bool ToolPageController::helpChosen() const {
  return helpYesButton_->isChecked() || helpNoButton_->isChecked();
}

void ToolPageController::showResults(QObject* sender) {
  (void)sender;
  if (tool().complete()) {
    tool().showScore();
    QPointer<ToolPageController> self(this);
    app().scheduler().schedule(kScoreDelay, [self] {
      if (self) self->scrollToScore();
    });
  } else {
    Alert::pleaseComplete();
  }
}

void ToolPageController::scrollToScore() {
  if (currentPage() == PageController::kToolPage && tool().complete()) {
    scrollToPage(PageController::kFirstCompletePage);
  }
}

void ToolPageController::resetQuestions() {
  for (int q = 1; q <= kQuestions; ++q) {
    for (int c = 0; c < kChoices; ++c) {
      if (QAbstractButton* button = answerButton(q, c)) button->setChecked(false);
    }
  }
  helpYesButton_->setChecked(false);
  helpNoButton_->setChecked(false);
}

void ToolPageController::resetScore() { scoreButton_->setText(QString()); }

void ToolPageController::showScore() {
  scoreButton_->setText(QString::fromStdString(tool().scoreAsString()));
}

void ToolPageController::stackChoices(bool stacked) {
  // Rows of the built-in page: a grid of the number, the text and the row of choices. An
  // override laid out otherwise keeps its layout.
  for (int q = 1; q <= 8; ++q) {
    auto* row = view()->findChild<QGridLayout*>(QStringLiteral("q%1Layout").arg(q));
    auto* choices = view()->findChild<QBoxLayout*>(QStringLiteral("q%1Choices").arg(q));
    if (row == nullptr || choices == nullptr || row->indexOf(choices) < 0) continue;
    row->removeItem(choices);
    row->addLayout(choices, stacked ? 1 : 0, stacked ? 1 : 2, Qt::AlignLeft);
  }
}

}  // namespace quorin
