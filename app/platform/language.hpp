// The language the person at the kiosk reads: the built-in strings' translator and the folder of
// interface files that goes with it.
#pragma once

#include <QString>
#include <QStringList>

namespace quorin {

// English is the source language: its strings need no translator and its interface files are the
// plain ones. Main thread only.
class Language {
 public:
  static inline const QString kSource = QStringLiteral("en");

  // The languages the kiosk offers, source language first.
  static QStringList available();
  // The language shown now.
  static QString current();
  // Installs the translator of `code` in place of the current one (none for English). Returns
  // false, changing nothing, for a language the kiosk does not offer.
  static bool setCurrent(const QString& code);
};

}  // namespace quorin
