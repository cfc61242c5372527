#include "platform/view_controller.hpp"

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

bool ViewController::shouldAutorotateToInterfaceOrientation(
    InterfaceOrientation orientation) const {
  return orientation == InterfaceOrientation::Portrait ||
         orientation == InterfaceOrientation::PortraitUpsideDown;
}

QWidget* ViewController::loadView() {
  return InterfaceLoader::load(interfaceName_, this, outlets_, actions_);
}

}  // namespace quorin
