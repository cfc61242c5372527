// AidToggle: a round, checkable button for a reading aid, showing a sign that needs no reading
// (a small and a large "A" for larger text, a half-filled circle for high contrast). Its dynamic
// property `aid` names the aid: "largerText" or "highContrast".
#pragma once

#include "platform/accessibility.hpp"

namespace quorin {

class AidToggle : public Button {
  Q_OBJECT

 public:
  explicit AidToggle(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorin
