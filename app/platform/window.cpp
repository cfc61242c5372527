#include "platform/window.hpp"

#include <QVBoxLayout>
#include <utility>

namespace quorin {

Window::Window(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  resize(kDefaultSize);
  setWindowTitle(QStringLiteral("Quorin"));
  // The window itself holds the focus until a field is touched, so that no field starts out
  // being edited, and touching the background ends the editing of a field.
  setFocusPolicy(Qt::ClickFocus);
}

Window::~Window() { root_.reset(); }

void Window::setRootViewController(std::unique_ptr<ViewController> controller) {
  std::unique_ptr<ViewController> previous = std::move(root_);
  root_ = std::move(controller);
  if (root_) {
    QWidget* view = root_->view();
    layout()->addWidget(view);
    view->show();
  }
  if (previous) {
    if (previous->isViewLoaded()) {
      QWidget* old = previous->view();
      layout()->removeWidget(old);
      old->hide();
    }
    previous.release()->deleteLater();
  }
}

void Window::makeKeyAndVisible() {
  if (kiosk_) {
    setWindowFlag(Qt::FramelessWindowHint, true);
    showFullScreen();
  } else {
    show();
  }
  raise();
  activateWindow();
  if (focusWidget() == nullptr || focusWidget()->window() != this || !focusWidget()->isVisible()) {
    setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace quorin
