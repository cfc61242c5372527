#include "base_page_controller.hpp"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <algorithm>

#include "page_controller.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/language.hpp"
#include "platform/log.hpp"
#include "quorin_app_delegate.hpp"

namespace quorin {

BasePageController::BasePageController(QuorinAppDelegate& app, PageController& pageController,
                                       const QMetaObject& pageClass)
    : ViewController(interfaceNameFor(pageClass)), app_(app), pageController_(&pageController) {
  declareAction(QStringLiteral("restart:"));
  declareAction(QStringLiteral("nextPage:"));
  declareAction(QStringLiteral("toggleAid:"));
}

QString BasePageController::interfaceNameFor(const QMetaObject& pageClass) {
  QString name = QString::fromLatin1(pageClass.className());
  const qsizetype scope = name.lastIndexOf(QStringLiteral("::"));
  if (scope >= 0) name = name.mid(scope + 2);
  static const QString suffix = QStringLiteral("Controller");
  if (name.endsWith(suffix)) name.chop(suffix.size());
  return name;
}

QString BasePageController::faultIn(QWidget& form) const {
  // The controls whose state the page flow keeps, and clears for the next person.
  static const QStringList kept = {QStringLiteral("questionAnswered:"),
                                   QStringLiteral("helpPressed:"), QStringLiteral("toggleAid:"),
                                   QStringLiteral("chooseLanguage:")};
  for (QWidget* w : form.findChildren<QWidget*>()) {
    const QString action = w->property("action").toString();
    const auto* button = qobject_cast<QAbstractButton*>(w);
    const bool takesEntry = (button != nullptr && button->isCheckable()) ||
                            qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
                            qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                            qobject_cast<QAbstractSpinBox*>(w) ||
                            (qobject_cast<QAbstractSlider*>(w) && !qobject_cast<QScrollBar*>(w));
    if (takesEntry && !kept.contains(action)) {
      return QStringLiteral(
                 "'%1' (%2) takes an entry that the kiosk neither stores nor clears, so "
                 "the next person would see it")
          .arg(w->objectName(), w->metaObject()->className());
    }
    const QString aid = w->property("aid").toString();
    if (action == u"toggleAid:" && (button == nullptr || !button->isCheckable() ||
                                    (aid != u"largerText" && aid != u"highContrast"))) {
      return QStringLiteral(
                 "'%1' has the action 'toggleAid:' but is no checkable button with the "
                 "aid 'largerText' or 'highContrast'")
          .arg(w->objectName());
    }
    if (action == u"chooseLanguage:" &&
        !Language::available().contains(w->property("language").toString())) {
      return QStringLiteral("'%1' has the action 'chooseLanguage:' but its language is none of %2")
          .arg(w->objectName(), Language::available().join(u", "));
    }
  }
  return {};
}

PageController* BasePageController::pageController() const { return pageController_.data(); }

Tool& BasePageController::tool() const { return app_.tool(); }

int BasePageController::currentPage() const {
  return pageController_ ? pageController_->currentPage() : 0;
}

void BasePageController::scrollToPage(int page) {
  if (pageController_) pageController_->scrollToPage(page);
}

void BasePageController::resetTimer() {
  if (pageController_) pageController_->resetTimer();
}

void BasePageController::restart(QObject* sender) {
  (void)sender;
  // Ending a session cannot be undone: a double tap on the control that brought this page (the
  // score page's "Try a calming exercise" sits where the practice page's "I'm done" comes) must
  // not end the session before the person has seen where it led.
  if (pageController_ && !pageController_->pageJustArrived()) {
    pageController_->restartAndForce(false);
  }
}

void BasePageController::nextPage(QObject* sender) {
  (void)sender;
  scrollToPage(std::min(currentPage() + 1, PageController::kPageCount - 1));
}

TitlePageController::TitlePageController(QuorinAppDelegate& app, PageController& pageController)
    : BasePageController(app, pageController, staticMetaObject) {
  declareAction(QStringLiteral("chooseLanguage:"));
}

void TitlePageController::chooseLanguage(QObject* sender) {
  resetTimer();
  if (PageController* flow = pageController()) {
    flow->setLanguage(sender->property("language").toString());
  }
  showLanguage();  // a tap on the language in use took its press away
}

void TitlePageController::viewDidLoad() {
  // A clinic may mean to leave a language out; still, the person who needs it should be missed
  // on purpose.
  QStringList offered;
  for (const QObject* control : controlsWithAction(*view(), QStringLiteral("chooseLanguage:"))) {
    offered << control->property("language").toString();
  }
  for (const QObject* control : controlsWithAction(*view(), QStringLiteral("toggleAid:"))) {
    offered << control->property("aid").toString();
  }
  for (const QString& wanted :
       Language::available() +
           QStringList{QStringLiteral("largerText"), QStringLiteral("highContrast")}) {
    if (!offered.contains(wanted)) {
      qCWarning(lcKiosk).noquote() << "TitlePage: no control offers" << wanted;
    }
  }
  showLanguage();
}

void TitlePageController::viewDidReload(QWidget& oldView) {
  BasePageController::viewDidReload(oldView);
  showLanguage();  // the old page's pressed control was the old language
}

void TitlePageController::showLanguage() {
  // Which language is in use shows at a glance, and a screen reader says it is chosen.
  for (QAbstractButton* b : view()->findChildren<QAbstractButton*>()) {
    const QString language = b->property("language").toString();
    if (language.isEmpty()) continue;
    b->setCheckable(true);
    b->setChecked(language == Language::current());
  }
}

}  // namespace quorin

namespace quorin {

void BasePageController::toggleAid(QObject* sender) {
  auto* toggle = qobject_cast<QAbstractButton*>(sender);
  if (toggle == nullptr) return;
  KioskLook look = currentKioskLook();
  const QString aid = toggle->property("aid").toString();
  (aid == QLatin1String("highContrast") ? look.highContrast : look.largerText) =
      toggle->isChecked();
  if (pageController_) pageController_->setLook(look);
  resetTimer();
}

}  // namespace quorin
