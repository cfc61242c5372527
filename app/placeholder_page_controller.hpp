// PlaceholderPageController: stands in for the page flow until it is built. It shows a notice
// and offers resetTimer(), which is all that start-up asks of the page flow. Replaced by
// PageController in makePageFlow() (quorin_app_delegate.cpp).
#pragma once

#include "platform/view_controller.hpp"

namespace quorin {

class QuorinAppDelegate;

class PlaceholderPageController : public ViewController {
  Q_OBJECT

 public:
  explicit PlaceholderPageController(QuorinAppDelegate& app);

  // Arms the inactivity timer in the real page flow; here it only counts the calls.
  void resetTimer() { ++resetTimerCount_; }
  int resetTimerCount() const { return resetTimerCount_; }

 protected:
  QWidget* loadView() override;

 private:
  QuorinAppDelegate& app_;
  int resetTimerCount_ = 0;
};

}  // namespace quorin
