#include "platform/kiosk_style.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QPalette>

#include "platform/interface_loader.hpp"
#include "platform/log.hpp"

namespace quorin {

QString kioskStyleSheet() {
  using namespace kiosk_color;
  return QStringLiteral(R"(
QWidget { color: %1; font-size: 22px; }
QWidget#window, QWidget[role="screen"] { background: %2; }
QFrame[role="band"] { background: %4; border: none; }
QFrame[role="band"] QLabel { color: #FFFFFF; }
QFrame[role="card"] { background: %3; border: 1px solid %7; border-radius: 18px; }
QFrame[role="card"] QLabel { background: transparent; }

QLabel[role="title"] { font-size: 46px; font-weight: bold; }
QLabel[role="subtitle"] { font-size: 24px; }
QLabel[role="heading"] { font-size: 28px; font-weight: bold; }
QLabel[role="body"] { font-size: 22px; }
QLabel[role="hint"] { font-size: 19px; color: %6; }

QLineEdit {
  min-height: 68px; padding: 0 18px; font-size: 32px;
  background: %3; border: 2px solid %7; border-radius: 12px;
  selection-background-color: %4; selection-color: #FFFFFF;
}
QLineEdit:focus { border: 3px solid %4; }

QPushButton {
  min-height: 64px; padding: 0 28px; font-size: 24px; font-weight: bold;
  background: %3; color: %4; border: 2px solid %4; border-radius: 14px;
}
QPushButton:pressed { background: %8; }
QPushButton:focus { outline: none; }
QPushButton[role="primary"] {
  min-height: 104px; font-size: 36px; background: %4; color: #FFFFFF; border: none;
  border-radius: 18px;
}
QPushButton[role="primary"]:pressed { background: %5; }
QPushButton[role="answer"] { font-weight: normal; color: %1; border-color: %7; }
QPushButton[role="answer"]:checked { background: %4; color: #FFFFFF; border-color: %4; }

QMessageBox { background: %3; border: 1px solid %7; }
QMessageBox QLabel { font-size: 24px; min-width: 480px; }
QMessageBox[hasTitle="true"] QLabel#qt_msgbox_label { font-size: 30px; font-weight: bold; }
QMessageBox QLabel#qt_msgbox_informativelabel { font-size: 24px; }
QMessageBox QPushButton { min-width: 180px; min-height: 64px; }
)")
      .arg(QLatin1String(kText), QLatin1String(kBackground), QLatin1String(kSurface),
           QLatin1String(kPrimary), QLatin1String(kPrimaryPressed), QLatin1String(kMutedText),
           QLatin1String(kBorder), QLatin1String(kAccent));
}

void applyKioskStyle(QApplication& app) {
  QFont font;
  font.setFamilies({QStringLiteral("Lato"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(22);
  app.setFont(font);

  QPalette palette = app.palette();
  palette.setColor(QPalette::Window, QColor(QLatin1String(kiosk_color::kBackground)));
  palette.setColor(QPalette::WindowText, QColor(QLatin1String(kiosk_color::kText)));
  palette.setColor(QPalette::Base, QColor(QLatin1String(kiosk_color::kSurface)));
  palette.setColor(QPalette::Text, QColor(QLatin1String(kiosk_color::kText)));
  palette.setColor(QPalette::Highlight, QColor(QLatin1String(kiosk_color::kPrimary)));
  app.setPalette(palette);

  QString sheet = kioskStyleSheet();
  const QString folder = InterfaceLoader::overrideFolder();
  if (!folder.isEmpty()) {
    QFile extra(QDir(folder).filePath(QStringLiteral("kiosk.qss")));
    if (extra.exists()) {
      if (extra.open(QIODevice::ReadOnly)) {
        sheet += QString::fromUtf8(extra.readAll());
      } else {
        qCWarning(lcKiosk).noquote() << "Cannot read" << extra.fileName() << extra.errorString();
      }
    }
  }
  app.setStyleSheet(sheet);
}

}  // namespace quorin
