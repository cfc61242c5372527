#include "platform/view_controller.hpp"

#include <QAbstractButton>
#include <utility>

namespace quorin {

ViewController::ViewController(QString interfaceName, QObject* parent)
    : QObject(parent), interfaceName_(std::move(interfaceName)) {}

ViewController::~ViewController() { delete view_.data(); }

QWidget* ViewController::view() {
  if (view_.isNull()) {
    view_ = loadView();
    viewDidLoad();
  }
  return view_;
}

void ViewController::reloadView() {
  if (view_.isNull()) return;
  QWidget* old = view_;
  view_ = loadView();
  view_->setParent(old->parentWidget());
  view_->setGeometry(old->geometry());
  view_->setVisible(old->isVisible());
  viewDidLoad();
  viewDidReload(*old);
  old->hide();
  old->deleteLater();
}

void ViewController::viewDidReload(QWidget& oldView) {
  for (const QAbstractButton* was : oldView.findChildren<QAbstractButton*>()) {
    if (!was->isCheckable() || was->objectName().isEmpty()) continue;
    auto* now = view_->findChild<QAbstractButton*>(was->objectName());
    if (now != nullptr && now->isCheckable()) now->setChecked(was->isChecked());
  }
}

bool ViewController::shouldAutorotateToInterfaceOrientation(
    InterfaceOrientation orientation) const {
  return orientation == InterfaceOrientation::Portrait ||
         orientation == InterfaceOrientation::PortraitUpsideDown;
}

QString ViewController::faultIn(QWidget& /*form*/) const { return {}; }

QWidget* ViewController::loadView() {
  return InterfaceLoader::load(interfaceName_, this, outlets_, actions_,
                               [this](QWidget& form) { return faultIn(form); });
}

}  // namespace quorin
