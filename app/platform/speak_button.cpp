#include "platform/speak_button.hpp"

#include <QPainter>
#include <QPainterPath>

#include "platform/kiosk_style.hpp"

namespace quorin {

SpeakButton::SpeakButton(QWidget* parent) : Button(parent) {
  setCheckable(true);
  setProperty("role", QStringLiteral("speak"));
  setFocusPolicy(Qt::NoFocus);
}

void SpeakButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);  // the styled button with its words, padded on the left
  const KioskPalette& palette = kioskPalette(currentKioskLook().highContrast);
  const QColor colour(QLatin1String(isChecked() ? palette.onPrimary : palette.primary));
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The loudspeaker fills a square as tall as half the button, a little in from the left end.
  const qreal side = height() * 0.5;
  const QRectF box(height() * 0.45, (height() - side) / 2, side, side);
  QPainterPath cone;
  cone.moveTo(box.left(), box.top() + side * 0.32);
  cone.lineTo(box.left() + side * 0.26, box.top() + side * 0.32);
  cone.lineTo(box.left() + side * 0.58, box.top());
  cone.lineTo(box.left() + side * 0.58, box.bottom());
  cone.lineTo(box.left() + side * 0.26, box.top() + side * 0.68);
  cone.lineTo(box.left(), box.top() + side * 0.68);
  cone.closeSubpath();
  painter.fillPath(cone, colour);
  // Two sound waves.
  painter.setPen(QPen(colour, std::max(2.0, side * 0.1), Qt::SolidLine, Qt::RoundCap));
  for (const qreal reach : {0.28, 0.52}) {
    const QRectF arc(box.left() + side * 0.58 - side * reach, box.center().y() - side * reach,
                     2 * side * reach, 2 * side * reach);
    painter.drawArc(arc, -45 * 16, 90 * 16);
  }
}

}  // namespace quorin
