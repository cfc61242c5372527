#include "platform/window.hpp"

#include <QEvent>
#include <QVBoxLayout>

#include <utility>
#include "platform/alert.hpp"

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

Window::~Window() {
  // Replaced screens go first, while the views they may still touch on the way out are alive.
  for (const QPointer<ViewController>& old : retired_) delete old.data();
  root_.reset();
}

void Window::setRootViewController(std::unique_ptr<ViewController> controller) {
  std::unique_ptr<ViewController> previous = std::move(root_);
  // The old view leaves the layout first: both in it at once would ask for a window as tall as
  // the two together, and a window that grew would stay that tall.
  if (previous && previous->isViewLoaded()) {
    QWidget* old = previous->view();
    layout()->removeWidget(old);
    old->hide();
  }
  root_ = std::move(controller);
  if (root_) {
    QWidget* view = root_->view();
    layout()->addWidget(view);
    view->show();
  }
  if (previous) {
    // The old screen may be the caller (its own action installs the new root), so it is
    // released once control is back in the event loop. The window deletes it itself if it goes
    // first, so an old screen never outlives the views and the delegate it refers to.
    ViewController* old = previous.release();
    retired_.emplace_back(old);
    old->deleteLater();
  }
}

bool Window::event(QEvent* event) {
  // Whenever the window comes forward (a window manager gives it the focus once it is on
  // screen), the alerts over it come forward too.
  if (event->type() == QEvent::WindowActivate) Alert::raiseAll();
  return QWidget::event(event);
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
  // An alert shown before the window (a failure while launching) must not end up beneath it.
  Alert::raiseAll();
  if (focusWidget() == nullptr || focusWidget()->window() != this || !focusWidget()->isVisible()) {
    setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace quorin
