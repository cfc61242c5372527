#include "platform/kiosk_style.hpp"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QPalette>
#include <QRegularExpression>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/interface_loader.hpp"
#include "platform/log.hpp"

namespace quorin {

namespace {

// Whether Qt can parse `sheet`, which it tells only as a warning when it first styles a widget.
bool styleSheetParses(const QString& sheet) {
  static QtMessageHandler previous = nullptr;
  static bool failed = false;
  failed = false;
  previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (message.startsWith(QLatin1String("Could not parse"))) {
          failed = true;
        } else if (previous != nullptr) {
          previous(type, context, message);
        }
      });
  {
    QWidget probe;
    probe.setStyleSheet(sheet);
    probe.ensurePolished();
  }
  qInstallMessageHandler(previous);
  return !failed;
}

// The same, checked once for each text: the style is applied again at every change of look.
bool clinicSheetParses(const QString& sheet) {
  static QString checked;
  static bool parses = true;
  if (sheet != checked) {
    parses = styleSheetParses(sheet);
    checked = sheet;
  }
  return parses;
}

constexpr KioskPalette kNormal{
    "#F2F5F7", "#FFFFFF", "#14212B", "#44525E", "#0E5A73", "#09404F", "#FFFFFF",
    "#C9D3DB", "#E3EEF2", "#8896A3", "#FFF4E5", "#7A2E0E", "#B54708",
};
// Light text on black, the controls in yellow: what people who ask for contrast tend to read
// best, and unmistakably different from the normal look.
constexpr KioskPalette kHighContrast{
    "#000000", "#000000", "#FFFFFF", "#E8E8E8", "#FFE14D", "#FFF2A8", "#000000",
    "#FFFFFF", "#262626", "#FFFFFF", "#000000", "#FFFFFF", "#FFE14D",
};

// Lengths written "Nsx" are sizes of controls that hold text, in content pixels; they grow with
// the text, less than the text itself so that the question rows keep their four choices.
struct Box {
  const char* selector;
  int width, height, largeWidth, largeHeight;
};
constexpr Box kBoxes[] = {
    {R"(QFrame[role="questionRow"] QPushButton[role="choice"])", 80, 60, 120, 80},
    {R"(QFrame[role="helpRow"] QPushButton[role="choice"])", 138, 60, 180, 72},
    {R"(QFrame[role="questionRow"] QLabel[role="questionNumber"])", 36, 36, 48, 48},
    {R"(QLabel[role="step"], QFrame[role="card"] QLabel[role="step"])", 52, 52, 66, 66},
    {R"(QPushButton[role="score"])", 82, 66, 110, 90},
};

// The sheet; "{name}" stands for a colour of the palette.
const char* const kSheet = R"(
QWidget { color: {text}; font-size: 22px; }
QWidget#window, QWidget[role="screen"] { background: {background}; }
QFrame[role="band"] { background: {primary}; border: none; }
QFrame[role="band"] QLabel { color: {onPrimary}; }
QFrame[role="card"] { background: {surface}; border: 1px solid {border}; border-radius: 18px; }
QFrame[role="card"] QLabel { background: transparent; }

QLabel[role="title"] { font-size: 46px; font-weight: bold; }
QLabel[role="subtitle"] { font-size: 24px; }
QLabel[role="heading"] { font-size: 28px; font-weight: bold; }
QLabel[role="body"] { font-size: 22px; }
QLabel[role="hint"] { font-size: 19px; color: {muted}; }

QLineEdit {
  min-height: 68px; padding: 0 18px; font-size: 32px;
  background: {surface}; border: 2px solid {border}; border-radius: 12px;
  selection-background-color: {primary}; selection-color: {onPrimary};
}
QLineEdit:focus { border: 3px solid {primary}; }

QPushButton {
  min-height: 64px; padding: 0 28px; font-size: 24px; font-weight: bold;
  background: {surface}; color: {primary}; border: 2px solid {primary}; border-radius: 14px;
}
QPushButton:pressed { background: {accent}; }
QPushButton:focus { outline: none; }
QPushButton[role="primary"] {
  min-height: 104px; font-size: 36px; background: {primary}; color: {onPrimary}; border: none;
  border-radius: 18px;
}
QPushButton[role="primary"]:pressed { background: {primaryPressed}; }
QPushButton[role="answer"] { font-weight: normal; color: {text}; border-color: {border}; }
/* The start screen's keypad: keys a finger finds without looking twice, narrow enough that the
   screen still fits a 720-pixel-wide portrait output. */
QPushButton[role="keypad"], QPushButton[role="keypadAction"], QPushButton[role="keypadEnter"] {
  min-width: 84px; min-height: 76px; padding: 0; border-radius: 14px;
}
QPushButton[role="keypad"] {
  font-size: 34px; font-weight: normal; color: {text}; background: {background}; border: 2px solid {border};
}
QPushButton[role="keypad"]:pressed { background: {accent}; border-color: {primary}; }
QPushButton[role="keypadAction"] { font-size: 22px; }
QPushButton[role="keypadEnter"] { font-size: 22px; background: {primary}; color: {onPrimary}; border: none; }
QPushButton[role="keypadEnter"]:pressed { background: {primaryPressed}; }
QLabel[role="notice"] {
  background: {noticeBackground}; color: {noticeText}; border: 2px solid {noticeBorder}; border-radius: 14px;
  padding: 12px 18px; font-size: 20px;
}
QPushButton[role="answer"]:checked { background: {primary}; color: {onPrimary}; border-color: {primary}; }

QMessageBox { background: {surface}; border: 1px solid {border}; }
QMessageBox QLabel { font-size: 24px; min-width: 480px; }
QMessageBox[hasTitle="true"] QLabel#qt_msgbox_label { font-size: 30px; font-weight: bold; }
QMessageBox QLabel#qt_msgbox_informativelabel { font-size: 24px; }
QMessageBox QPushButton { min-width: 180px; min-height: 64px; }
/* The page flow. */
QGraphicsView#scrollView { background: {background}; border: none; }
QFrame[role="pager"] { background: {surface}; border: none; border-top: 1px solid {border}; }
QPushButton[role="compactPrimary"] {
  min-height: 72px; font-size: 28px; background: {primary}; color: {onPrimary}; border: none;
  border-radius: 16px;
}
QPushButton[role="compactPrimary"]:pressed { background: {primaryPressed}; }
QLabel[role="kicker"] { font-size: 26px; font-weight: bold; color: {primary}; }
QLabel[role="hero"] { font-size: 56px; font-weight: bold; }
QLabel[role="lead"] { font-size: 28px; }
QFrame[role="fact"] { background: {surface}; border: 1px solid {border}; border-radius: 16px; }
QFrame[role="fact"] QLabel { background: transparent; }
QLabel[role="factValue"] { font-size: 38px; font-weight: bold; color: {primary}; }
QLabel[role="factCaption"] { font-size: 20px; color: {muted}; }
QLabel[role="step"], QFrame[role="card"] QLabel[role="step"] {
  background: {primary}; color: {onPrimary}; border-radius: 26px; font-size: 26px; font-weight: bold;
}
QFrame[role="note"] { background: {noticeBackground}; border: 2px solid {noticeBorder}; border-radius: 14px; }
QFrame[role="note"] QLabel { background: transparent; color: {noticeText}; }
QLabel[role="noteHeading"] { font-size: 24px; font-weight: bold; }
QLabel[role="noteText"] { font-size: 22px; }

/* The question page: eight rows of four choices, the help question, the result. */
QFrame[role="questionRow"] { background: {surface}; border: 1px solid {border}; border-radius: 14px; }
QFrame[role="helpRow"] { background: {accent}; border: 1px solid {primary}; border-radius: 14px; }
QFrame[role="questionRow"] QLabel, QFrame[role="helpRow"] QLabel { background: transparent; }
QLabel[role="question"] { font-size: 21px; }
QFrame[role="questionRow"] QLabel[role="questionNumber"] {
  background: {accent}; color: {primary}; border-radius: 18px; font-size: 20px; font-weight: bold;
}
QPushButton[role="choice"] {
  min-height: 60px; padding: 0 4px; font-size: 18px; font-weight: normal; color: {text};
  background: {surface}; border: 2px solid {choiceBorder}; border-radius: 12px;
}
QPushButton[role="choice"]:checked {
  background: {primary}; color: {onPrimary}; border-color: {primary}; font-weight: bold;
}
QPushButton[role="secondary"] { min-height: 72px; }
QPushButton[role="secondary"]:checked { background: {primary}; color: {onPrimary}; }
QLabel[role="scoreCaption"] { font-size: 20px; color: {muted}; }
QPushButton[role="score"] {
  min-height: 0; padding: 0; font-size: 40px; font-weight: bold; color: {primary};
  background: {surface}; border: 3px solid {primary}; border-radius: 14px;
}
QLabel[role="scoreNumber"] { font-size: 132px; font-weight: bold; color: {primary}; }
QPushButton[role="aid"] {
  min-width: 84px; min-height: 84px; max-width: 84px; max-height: 84px; padding: 0;
  color: {primary}; border-radius: 44px;
}
QPushButton[role="aid"]:checked { background: {primary}; color: {onPrimary}; }
/* Read aloud, under the pages: room on the left for the loudspeaker it draws. */
QPushButton[role="speak"] {
  min-height: 56px; padding: 0 24px 0 72px; font-size: 20px; border-radius: 28px;
}
QPushButton[role="speak"]:checked { background: {primary}; color: {onPrimary}; }
/* A page taller than the screen (larger text) scrolls, with a bar wide enough for a finger. */
QScrollArea[role="pageScroller"], QScrollArea[role="pageScroller"] > QWidget > QWidget {
  background: transparent; border: none;
}
QScrollArea[role="pageScroller"] QScrollBar:vertical {
  width: 28px; background: {background}; border-left: 1px solid {border}; margin: 0;
}
QScrollArea[role="pageScroller"] QScrollBar::handle:vertical {
  background: {primary}; min-height: 96px; border-radius: 10px; margin: 4px;
}
QScrollArea[role="pageScroller"] QScrollBar::add-line, QScrollArea[role="pageScroller"] QScrollBar::sub-line {
  height: 0; border: none;
}
)";

KioskLook& currentLook() {
  static KioskLook look;
  return look;
}

double luminance(const QColor& c) {
  const auto channel = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

const KioskPalette& kioskPalette(bool highContrast) {
  return highContrast ? kHighContrast : kNormal;
}

std::vector<std::pair<const char*, const char*>> kioskTextPairs(const KioskPalette& p) {
  return {{p.text, p.background},
          {p.text, p.surface},
          {p.text, p.accent},
          {p.mutedText, p.background},
          {p.mutedText, p.surface},
          {p.primary, p.surface},
          {p.primary, p.background},
          {p.primary, p.accent},
          {p.onPrimary, p.primary},
          {p.onPrimary, p.primaryPressed},
          {p.noticeText, p.noticeBackground}};
}

double contrastRatio(const char* a, const char* b) {
  const double la = luminance(QColor(QLatin1String(a)));
  const double lb = luminance(QColor(QLatin1String(b)));
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QString kioskStyleSheet(KioskLook look) {
  const KioskPalette& p = kioskPalette(look.highContrast);
  const double scale = look.largerText ? kLargerTextScale : 1.0;
  QString sheet = QString::fromUtf8(kSheet);
  for (const Box& box : kBoxes) {
    const int w = look.largerText ? box.largeWidth : box.width;
    const int h = look.largerText ? box.largeHeight : box.height;
    sheet += QStringLiteral(
                 "%1 { min-width: %2px; max-width: %2px; min-height: %3px; "
                 "max-height: %3px; }\n")
                 .arg(QLatin1String(box.selector))
                 .arg(w)
                 .arg(h);
  }
  // Larger text takes the room of the buttons' side padding, so that rows of buttons still fit.
  if (look.largerText) {
    sheet += QStringLiteral(
        "QPushButton { padding: 0 8px; }\n"
        "QMessageBox QPushButton { padding: 0 24px; }\n");
  }
  const std::pair<const char*, const char*> colours[] = {
      {"{text}", p.text},
      {"{background}", p.background},
      {"{surface}", p.surface},
      {"{primaryPressed}", p.primaryPressed},
      {"{primary}", p.primary},
      {"{onPrimary}", p.onPrimary},
      {"{muted}", p.mutedText},
      {"{border}", p.border},
      {"{accent}", p.accent},
      {"{choiceBorder}", p.choiceBorder},
      {"{noticeBackground}", p.noticeBackground},
      {"{noticeText}", p.noticeText},
      {"{noticeBorder}", p.noticeBorder},
  };
  for (const auto& [name, colour] : colours) {
    sheet.replace(QLatin1String(name), QLatin1String(colour));
  }
  static const QRegularExpression fontSize(QStringLiteral("font-size: (\\d+)px"));
  QString scaled;
  qsizetype last = 0;
  for (const QRegularExpressionMatch& m : fontSize.globalMatch(sheet)) {
    scaled += QStringView(sheet).mid(last, m.capturedStart() - last);
    scaled += QStringLiteral("font-size: %1px").arg(std::lround(m.captured(1).toInt() * scale));
    last = m.capturedEnd();
  }
  scaled += QStringView(sheet).mid(last);
  return scaled;
}

void applyKioskStyle(QApplication& app, KioskLook look) {
  const KioskPalette& p = kioskPalette(look.highContrast);
  QFont font;
  font.setFamilies({QStringLiteral("Lato"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(static_cast<int>(std::lround(22 * (look.largerText ? kLargerTextScale : 1.0))));
  app.setFont(font);

  QPalette palette = app.palette();
  palette.setColor(QPalette::Window, QColor(QLatin1String(p.background)));
  palette.setColor(QPalette::WindowText, QColor(QLatin1String(p.text)));
  palette.setColor(QPalette::Base, QColor(QLatin1String(p.surface)));
  palette.setColor(QPalette::Text, QColor(QLatin1String(p.text)));
  palette.setColor(QPalette::Highlight, QColor(QLatin1String(p.primary)));
  app.setPalette(palette);

  QString sheet = kioskStyleSheet(look);
  const QString folder = InterfaceLoader::overrideFolder();
  if (!folder.isEmpty()) {
    QFile extra(QDir(folder).filePath(QStringLiteral("kiosk.qss")));
    if (extra.exists()) {
      static bool told = false;  // the style is applied again at every change of look
      const QString clinic =
          extra.open(QIODevice::ReadOnly) ? QString::fromUtf8(extra.readAll()) : QString();
      if (extra.error() != QFileDevice::NoError) {
        if (!std::exchange(told, true)) {
          qCWarning(lcKiosk).noquote() << "Cannot read" << extra.fileName() << extra.errorString();
        }
      } else if (!clinicSheetParses(clinic)) {
        // Appended, it would take the kiosk's own style down with it.
        if (!std::exchange(told, true)) {
          qCWarning(lcKiosk).noquote()
              << "Ignoring" << extra.fileName() << "- Qt cannot parse it as a style sheet";
        }
      } else {
        sheet += clinic;
      }
    }
  }
  app.setStyleSheet(sheet);
  currentLook() = look;
}

KioskLook currentKioskLook() { return currentLook(); }

void setKioskLook(KioskLook look) {
  if (look == currentLook()) return;
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    applyKioskStyle(*app, look);
  }
}

}  // namespace quorin
