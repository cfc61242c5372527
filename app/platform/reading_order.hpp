// What a page says: the texts a screen reader meets on it, in its order, and the same texts
// joined for a voice to read.
#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace quorin {

// The labels and buttons under `root` that show text and are shown with it, depth first in the
// order of each parent's children (the order the accessibility tree gives screen readers).
QList<QWidget*> readingOrder(const QWidget& root);

// The text `widget` shows as one line of plain text ("" for widgets without text).
QString shownText(const QWidget& widget);

// The shown texts of `widgets`, in order, as sentences: each ends with a stop unless it already
// ends with punctuation, so that a voice pauses between a question and each of its choices; a
// chosen button's text is followed by ", selected".
QString spokenText(const QList<QWidget*>& widgets);

}  // namespace quorin
