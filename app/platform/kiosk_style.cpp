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
/* The start screen's keypad: keys a finger finds without looking twice, narrow enough that the
   screen still fits a 720-pixel-wide portrait output. */
QPushButton[role="keypad"], QPushButton[role="keypadAction"], QPushButton[role="keypadEnter"] {
  min-width: 84px; min-height: 76px; padding: 0; border-radius: 14px;
}
QPushButton[role="keypad"] {
  font-size: 34px; font-weight: normal; color: %1; background: %2; border: 2px solid %7;
}
QPushButton[role="keypad"]:pressed { background: %8; border-color: %4; }
QPushButton[role="keypadAction"] { font-size: 22px; }
QPushButton[role="keypadEnter"] { font-size: 22px; background: %4; color: #FFFFFF; border: none; }
QPushButton[role="keypadEnter"]:pressed { background: %5; }
QLabel[role="notice"] {
  background: #FFF4E5; color: #7A2E0E; border: 2px solid #B54708; border-radius: 14px;
  padding: 12px 18px; font-size: 20px;
}
QPushButton[role="answer"]:checked { background: %4; color: #FFFFFF; border-color: %4; }

QMessageBox { background: %3; border: 1px solid %7; }
QMessageBox QLabel { font-size: 24px; min-width: 480px; }
QMessageBox[hasTitle="true"] QLabel#qt_msgbox_label { font-size: 30px; font-weight: bold; }
QMessageBox QLabel#qt_msgbox_informativelabel { font-size: 24px; }
QMessageBox QPushButton { min-width: 180px; min-height: 64px; }
/* The page flow. */
QGraphicsView#scrollView { background: %2; border: none; }
QFrame[role="pager"] { background: %3; border: none; border-top: 1px solid %7; }
QPushButton[role="compactPrimary"] {
  min-height: 72px; font-size: 28px; background: %4; color: #FFFFFF; border: none;
  border-radius: 16px;
}
QPushButton[role="compactPrimary"]:pressed { background: %5; }
QLabel[role="kicker"] { font-size: 26px; font-weight: bold; color: %4; }
QLabel[role="hero"] { font-size: 56px; font-weight: bold; }
QLabel[role="lead"] { font-size: 28px; }
QFrame[role="fact"] { background: %3; border: 1px solid %7; border-radius: 16px; }
QFrame[role="fact"] QLabel { background: transparent; }
QLabel[role="factValue"] { font-size: 38px; font-weight: bold; color: %4; }
QLabel[role="factCaption"] { font-size: 20px; color: %6; }
QLabel[role="step"], QFrame[role="card"] QLabel[role="step"] {
  background: %4; color: #FFFFFF; border-radius: 26px; font-size: 26px; font-weight: bold;
}
QFrame[role="note"] { background: #FFF4E5; border: 2px solid #B54708; border-radius: 14px; }
QFrame[role="note"] QLabel { background: transparent; color: #7A2E0E; }
QLabel[role="noteHeading"] { font-size: 24px; font-weight: bold; }
QLabel[role="noteText"] { font-size: 22px; }

/* The question page: eight rows of four choices, the help question, the result. */
QFrame[role="questionRow"] { background: %3; border: 1px solid %7; border-radius: 14px; }
QFrame[role="helpRow"] { background: %8; border: 1px solid %4; border-radius: 14px; }
QFrame[role="questionRow"] QLabel, QFrame[role="helpRow"] QLabel { background: transparent; }
QLabel[role="question"] { font-size: 21px; }
QFrame[role="questionRow"] QLabel[role="questionNumber"] {
  background: %8; color: %4; border-radius: 18px; font-size: 20px; font-weight: bold;
}
QPushButton[role="choice"] {
  min-height: 60px; padding: 0 4px; font-size: 18px; font-weight: normal; color: %1;
  background: %3; border: 2px solid #8896A3; border-radius: 12px;
}
QPushButton[role="choice"]:checked {
  background: %4; color: #FFFFFF; border-color: %4; font-weight: bold;
}
QPushButton[role="secondary"] { min-height: 72px; }
QLabel[role="scoreCaption"] { font-size: 20px; color: %6; }
QPushButton[role="score"] {
  min-height: 0; padding: 0; font-size: 40px; font-weight: bold; color: %4;
  background: %3; border: 3px solid %4; border-radius: 14px;
}
QLabel[role="scoreNumber"] { font-size: 132px; font-weight: bold; color: %4; }
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
