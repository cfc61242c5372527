// The kiosk's look: one calm, high-contrast style for every screen, readable at arm's length,
// with touch-sized controls (at least 48 px, most 64 px and up).
//
// Interface files pick styles through the dynamic string property `role`:
//   QLabel:      title, subtitle, heading, body, hint
//   QFrame:      card (white panel), band (the coloured header strip)
//   QPushButton: primary (the main action), secondary (outlined), answer (checkable choice)
// Screens of the page flow may add their own roles here.
#pragma once

#include <QString>

class QApplication;

namespace quorin {

// The palette, for widgets that paint themselves.
namespace kiosk_color {
inline constexpr const char* kBackground = "#F2F5F7";
inline constexpr const char* kSurface = "#FFFFFF";
inline constexpr const char* kText = "#14212B";
inline constexpr const char* kMutedText = "#44525E";
inline constexpr const char* kPrimary = "#0E5A73";
inline constexpr const char* kPrimaryPressed = "#09404F";
inline constexpr const char* kBorder = "#C9D3DB";
inline constexpr const char* kAccent = "#E3EEF2";
}  // namespace kiosk_color

// The application-wide style sheet.
QString kioskStyleSheet();
// Sets the kiosk's font, palette and style sheet on `app`, followed by the override folder's
// kiosk.qss when there is one.
void applyKioskStyle(QApplication& app);

}  // namespace quorin
