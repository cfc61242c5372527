// The kiosk's look: one calm style for every screen, readable at arm's length, with touch-sized
// controls (at least 48 px, most 64 px and up). For one session the public may ask for larger
// text (every font 1.5 times) and for a high-contrast palette; the whole application style sheet
// is then generated again, so every screen and every alert follows.
//
// Interface files pick styles through the dynamic string property `role`:
//   QLabel:      title, subtitle, heading, body, hint
//   QFrame:      card (white panel), band (the coloured header strip)
//   QPushButton: primary (the main action), secondary (outlined), answer (checkable choice)
// The page flow adds:
//   QLabel:      kicker, hero, lead, step, question, questionNumber, factValue, factCaption,
//                noteHeading, noteText, scoreCaption, scoreNumber
//   QFrame:      pager, fact, note (an urgent notice), questionRow, helpRow, aids
//   QPushButton: compactPrimary, choice (compact checkable answer), score (the score display),
//                aid (a checkable reading aid)
#pragma once

#include <QString>
#include <utility>
#include <vector>

class QApplication;

namespace quorin {

// The colours of one look, as "#RRGGBB".
struct KioskPalette {
  const char* background;
  const char* surface;
  const char* text;
  const char* mutedText;
  const char* primary;
  const char* primaryPressed;
  const char* onPrimary;  // text on the primary colour
  const char* border;
  const char* accent;  // pressed controls, the help question's row
  const char* choiceBorder;
  const char* noticeBackground;
  const char* noticeText;
  const char* noticeBorder;
};

// The reading aids chosen on the title page; both off for every new session.
struct KioskLook {
  bool largerText = false;
  bool highContrast = false;
  bool operator==(const KioskLook&) const = default;
};

inline constexpr double kLargerTextScale = 1.5;

// The palette of `highContrast` or of the normal look.
const KioskPalette& kioskPalette(bool highContrast);
// Every (text, background) pair of colours the style sheet puts text on.
std::vector<std::pair<const char*, const char*>> kioskTextPairs(const KioskPalette& palette);
// WCAG's contrast ratio of two "#RRGGBB" colours, from 1 to 21.
double contrastRatio(const char* a, const char* b);

// The application-wide style sheet for `look`.
QString kioskStyleSheet(KioskLook look = {});
// Sets the kiosk's font, palette and style sheet for `look` on `app`, followed by the override
// folder's kiosk.qss when there is one.
void applyKioskStyle(QApplication& app, KioskLook look = {});
// The look applied last.
KioskLook currentKioskLook();
// Applies `look` to the running application when it differs from the current one.
void setKioskLook(KioskLook look);

}  // namespace quorin
