// Window: the app's single top-level window, showing the view of its root view controller.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/view_controller.hpp"

namespace quorin {

class Window : public QWidget {
  Q_OBJECT

 public:
  // The default size is a portrait tablet, 768 x 1024 logical pixels.
  static constexpr QSize kDefaultSize{768, 1024};

  explicit Window(QWidget* parent = nullptr);
  // Deletes the root controller and its view first.
  ~Window() override;

  // The controller whose view fills the window, or null.
  ViewController* rootViewController() const { return root_.get(); }
  // Installs `controller` as root: loads its view and shows it in place of the previous root's.
  // The previous root is released after the current event, since it may be the one that asked
  // for the change.
  void setRootViewController(std::unique_ptr<ViewController> controller);
  // Shows the window (full screen without decorations in kiosk mode) and gives it the focus.
  void makeKeyAndVisible();
  // Kiosk mode: full screen, no window decorations. Set before makeKeyAndVisible().
  void setKioskMode(bool kiosk) { kiosk_ = kiosk; }
  bool kioskMode() const { return kiosk_; }

 protected:
  bool event(QEvent* event) override;

 private:
  std::unique_ptr<ViewController> root_;
  std::vector<QPointer<ViewController>> retired_;  // replaced roots awaiting deferred deletion
  bool kiosk_ = false;
};

}  // namespace quorin
