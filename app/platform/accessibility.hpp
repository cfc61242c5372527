// Accessibility: what a screen reader (and the acceptance suite, which finds controls the same
// way) meets in the kiosk.
//
// Qt's defaults fall short in three places, mended here by interfaces of our own:
// - The ScrollView shows its content through a QGraphicsProxyWidget, which makes the strip of
//   pages a top-level widget of its own: Qt lists it beside the window and leaves the view empty.
//   Here the strip is the view's one child and its parent is the view, so the pages are reached
//   through the window; it is no longer listed as a window of its own. It lists only the pages
//   the view shows, so that the controls of pages off to the side are not read out.
// - Checkable push buttons are announced as check boxes. A button whose dynamic property `role`
//   is "choice" acts as one of a radio group (the answers, the help question) and is announced
//   as a radio button; every push button offers "Press", which taps it. (Qt offers a checkable
//   one "Toggle", which changes its state without the tap that runs its action: a reading aid
//   would show on and stay off.)
// - The page dots are painted widgets without text: each is a page tab called "Page N of M"
//   that can be pressed, inside a page tab list.
#pragma once

#include <QPushButton>

namespace quorin {

// The push button of interface files, so that its accessibility can be our own (above).
class Button : public QPushButton {
  Q_OBJECT

 public:
  using QPushButton::QPushButton;
};

// Registers the interfaces above, and Button for the interface files' push buttons. Call once,
// after the QApplication exists and before any window is shown.
void installAccessibility();
// Describes `content` as the child of the ScrollView that is about to show it through a proxy.
// Called by ScrollView before the proxy shows it.
void registerScrollContent(QWidget* content);
// Tells screen readers when the pages of `content` that its ScrollView shows change. Called by
// ScrollView whenever the content moves.
void scrollContentMoved(QWidget* content);

}  // namespace quorin
