#include "score_page_controller.hpp"

#include <QLabel>

#include "session/tool.hpp"

namespace quorin {

ScorePageController::ScorePageController(QuorinAppDelegate& app, PageController& pageController)
    : BasePageController(app, pageController, staticMetaObject) {
  declareOutlet("scoreLabel", &scoreLabel_);
}

void ScorePageController::viewDidLoad() { tool().addDelegate(shared_from_this()); }

void ScorePageController::viewDidReload(QWidget& oldView) {
  if (const auto* was = oldView.findChild<QLabel*>(scoreLabel_->objectName())) {
    scoreLabel_->setText(was->text());
  }
}

void ScorePageController::resetScore() { scoreLabel_->setText(QString()); }

void ScorePageController::showScore() {
  scoreLabel_->setText(QString::fromStdString(tool().scoreAsString()));
}

}  // namespace quorin
