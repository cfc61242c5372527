#include "platform/reading_order.hpp"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QWidget>

namespace quorin {

namespace {

void collect(const QWidget& root, const QWidget& widget, QList<QWidget*>& out) {
  for (QObject* child : widget.children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w == nullptr || w->isWindow() || !w->isVisibleTo(&root)) continue;
    if (!shownText(*w).isEmpty()) out.append(w);
    collect(root, *w, out);
  }
}

}  // namespace

QList<QWidget*> readingOrder(const QWidget& root) {
  QList<QWidget*> widgets;
  collect(root, root, widgets);
  return widgets;
}

QString shownText(const QWidget& widget) {
  QString text;
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    text = label->text();
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) text = QTextDocumentFragment::fromHtml(text).toPlainText();
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
    text = button->text();
    // A mnemonic's marker is not read; a doubled one is a plain ampersand.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&')).replace(QLatin1Char('\x01'), QLatin1Char('&'));
  }
  return text.simplified();
}

QString spokenText(const QList<QWidget*>& widgets) {
  static const char* const kSelected = QT_TRANSLATE_NOOP("quorin::ReadingOrder", "%1, selected");
  QStringList sentences;
  for (const QWidget* widget : widgets) {
    QString text = shownText(*widget);
    if (text.isEmpty()) continue;
    // A chosen answer says so, as it shows: someone who listens checks their answers by ear.
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget);
        button != nullptr && button->isCheckable() && button->isChecked()) {
      text = QCoreApplication::translate("quorin::ReadingOrder", kSelected).arg(text);
    }
    static const QString stops = QStringLiteral(".!?:;,\u2026");
    if (!stops.contains(text.back())) text += QLatin1Char('.');
    sentences.append(text);
  }
  return sentences.join(QLatin1Char(' '));
}

}  // namespace quorin
