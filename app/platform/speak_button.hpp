// SpeakButton: the "read aloud" control, a rounded button with a loudspeaker drawn before its
// words, so that people who read poorly recognise it too. Checked while the kiosk is speaking.
#pragma once

#include "platform/accessibility.hpp"

namespace quorin {

class SpeakButton : public Button {
  Q_OBJECT

 public:
  explicit SpeakButton(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorin
