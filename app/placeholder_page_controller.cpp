#include "placeholder_page_controller.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace quorin {

PlaceholderPageController::PlaceholderPageController(QuorinAppDelegate& app)
    : ViewController(QStringLiteral("Page")), app_(app) {}

QWidget* PlaceholderPageController::loadView() {
  auto* view = new QWidget;
  view->setObjectName(QStringLiteral("placeholderPageFlow"));
  view->setProperty("role", QStringLiteral("screen"));
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(48, 48, 48, 48);
  auto* label = new QLabel(QObject::tr("The questionnaire pages are not part of this build yet."));
  label->setProperty("role", QStringLiteral("heading"));
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignCenter);
  layout->addWidget(label);
  return view;
}

}  // namespace quorin
