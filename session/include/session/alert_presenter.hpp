// AlertPresenter: how the session layer shows a failure to the person at the kiosk.
#pragma once

#include <optional>
#include <string>

namespace quorin {

// How the results log shows a failure to the person at the kiosk; the app implements it with its
// Alert class. Tests record the calls.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Shows a one-button ("Close") alert with an optional title and a message.
  virtual void simpleWithTitle(const std::optional<std::string>& title,
                               const std::string& message) = 0;
};

}  // namespace quorin
