#include "platform/aid_toggle.hpp"

#include <QPainter>
#include <QPainterPath>

#include "platform/kiosk_style.hpp"

namespace quorin {

AidToggle::AidToggle(QWidget* parent) : Button(parent) { setCheckable(true); }

void AidToggle::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);  // the styled round button, without text
  // The sign in the colour the style gives the button's text (the style sheet keeps that colour
  // to itself, so it is taken from the same palette).
  const KioskPalette& palette = kioskPalette(currentKioskLook().highContrast);
  const QColor colour(QLatin1String(isChecked() ? palette.onPrimary : palette.primary));
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box =
      QRectF(rect()).adjusted(width() * 0.22, height() * 0.22, -width() * 0.22, -height() * 0.22);
  if (property("aid").toString() == QLatin1String("highContrast")) {
    painter.setPen(QPen(colour, 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(box);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPie(box, 90 * 16, 180 * 16);
    return;
  }
  // A small and a large capital A standing on one line.
  QFont font = this->font();
  font.setBold(true);
  QPainterPath path;
  font.setPixelSize(static_cast<int>(box.height() * 0.6));
  path.addText(0, 0, font, QStringLiteral("A"));
  const qreal gap = box.width() * 0.06;
  const qreal smallWidth = path.boundingRect().right() + gap;
  font.setPixelSize(static_cast<int>(box.height() * 1.05));
  path.addText(smallWidth, 0, font, QStringLiteral("A"));
  const QRectF bounds = path.boundingRect();
  painter.translate(box.center() - bounds.center());
  painter.fillPath(path, colour);
}

}  // namespace quorin
