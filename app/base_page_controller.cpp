#include "base_page_controller.hpp"

#include <QAbstractButton>
#include <algorithm>

#include "page_controller.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/language.hpp"
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
  if (pageController_) pageController_->restartAndForce(false);
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

void TitlePageController::viewDidLoad() { showLanguage(); }

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
