#include "platform/alert.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointerEvent>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <utility>

namespace quorin {
namespace {

QList<Alert*>& onScreen() {
  static QList<Alert*> alerts;
  return alerts;
}

QPointer<QWidget>& presentingWindow() {
  static QPointer<QWidget> window;
  return window;
}

std::function<void(Alert&)>& shownObserver() {
  static std::function<void(Alert&)> observer;
  return observer;
}

// The second tap of a double tap on an alert's button would land, once the alert is gone, on
// whatever lay under the button: on the question page, an answer the person never chose. So for
// a double-click interval after a person closes an alert, a press where the closing one was
// reaches nothing, nor do the moves and the release that follow it. A tap elsewhere is meant.
// Keys, likewise: Enter pressed twice on the start screen (the export can take seconds), or held
// down, would close the alert the first press brought before anyone read it, so for a moment
// after an alert appears keys reach nothing, and a held key's repeats never reach one.
class TapGuard : public QObject {
 public:
  // Watches presses from the first alert on (the press that closes one must be seen).
  static TapGuard& watch() {
    static QPointer<TapGuard> guard;
    if (guard.isNull()) {
      guard = new TapGuard(qApp);
      qApp->installEventFilter(guard);
    }
    return *guard;
  }
  // An alert has just appeared.
  static void alertShown() { watch().shownSince_.start(); }
  // A person has just closed an alert.
  static void start() {
    TapGuard& guard = watch();
    guard.since_.start();
    guard.closedAt_ = guard.lastPress_;
  }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::TouchBegin: {
        auto* pointer = static_cast<QPointerEvent*>(event);
        if (pointer->pointCount() == 0) return false;
        lastPress_ = pointer->point(0).globalPosition();
        const QPointF apart = lastPress_ - closedAt_;
        swallowing_ = since_.isValid() && !since_.hasExpired(QApplication::doubleClickInterval()) &&
                      QPointF::dotProduct(apart, apart) <= kRadius * kRadius;
        return swallowing_;
      }
      case QEvent::MouseMove:
      case QEvent::TouchUpdate:
        return swallowing_;
      case QEvent::MouseButtonRelease:
      case QEvent::TouchEnd:
      case QEvent::TouchCancel:
        return std::exchange(swallowing_, false);
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        // A key held down repeats: a release and a press at the same moment. Not every repeat
        // is marked as one, so the moment tells too; a person pressing again lets go first.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool repeat = key->isAutoRepeat() ||
                            (event->type() == QEvent::KeyPress && key->key() == releasedKey_ &&
                             key->timestamp() - releasedAt_ <= kRepeatGapMs);
        if (event->type() == QEvent::KeyRelease) {
          releasedKey_ = key->key();
          releasedAt_ = key->timestamp();
        }
        return !Alert::visibleAlerts().isEmpty() &&
               ((shownSince_.isValid() && !shownSince_.hasExpired(kKeyGraceMs)) || repeat);
      }
      default:
        return false;
    }
  }

 private:
  using QObject::QObject;
  static constexpr double kRadius = 40;       // how far apart two taps of a double tap may land
  static constexpr int kKeyGraceMs = 500;     // too soon to have read an alert
  static constexpr quint64 kRepeatGapMs = 5;  // a release and a press this close are a repeat
  QElapsedTimer since_;                       // since a person last closed an alert
  QElapsedTimer shownSince_;                  // since an alert last appeared
  int releasedKey_ = 0;                       // the key last let go
  quint64 releasedAt_ = 0;                    // when (the key events' own clock)
  QPointF lastPress_;                         // where the latest press went down
  QPointF closedAt_;                          // where the press that closed the alert went down
  bool swallowing_ = false;
};

// The session layer's texts, listed for lupdate under the context they are looked up in.
[[maybe_unused]] constexpr const char* kSessionTexts[] = {
    QT_TRANSLATE_NOOP("quorin::AlertPresenterAdapter", "Error"),
    QT_TRANSLATE_NOOP("quorin::AlertPresenterAdapter", "Could not write to csv file!"),
};

}  // namespace

Alert* Alert::simpleWithTitle(const std::optional<QString>& title, const QString& message) {
  auto* alert = new Alert(title, message, nullptr, tr(kClose), {});
  alert->show();
  return alert;
}

Alert* Alert::simple(const QString& message) { return simpleWithTitle(std::nullopt, message); }

Alert* Alert::pleaseComplete() { return simple(tr(kPleaseCompleteMessage)); }

Alert::Alert(std::optional<QString> title, QString message, AlertDelegate* delegate,
             const QString& cancelButtonTitle, const QStringList& otherButtonTitles)
    : title_(std::move(title)),
      message_(std::move(message)),
      delegate_(delegate),
      hasCancel_(!cancelButtonTitle.isEmpty()) {
  if (hasCancel_) titles_.append(cancelButtonTitle);
  titles_.append(otherButtonTitles);

  box_ = new QMessageBox(presentingWindow());
  box_->setObjectName(QStringLiteral("alert"));
  // Styled as a title line over the message when there is a title (see kiosk_style.cpp).
  box_->setProperty("hasTitle", title_.has_value());
  box_->setWindowTitle(title_.value_or(QStringLiteral("Quorin")));
  // A screen reader announces an alert by its name: the title when there is one, with the
  // message as its description, else the message itself (never the window title "Quorin").
  box_->setAccessibleName(title_.value_or(message_));
  if (title_) box_->setAccessibleDescription(message_);
  box_->setTextFormat(Qt::PlainText);
  box_->setIcon(QMessageBox::NoIcon);
  if (title_) {
    box_->setText(*title_);
    box_->setInformativeText(message_);
  } else {
    box_->setText(message_);
  }
  for (int i = 0; i < titles_.size(); ++i) {
    const bool cancel = hasCancel_ && i == 0;
    QPushButton* b =
        box_->addButton(titles_[i], cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    b->setObjectName(QStringLiteral("alertButton%1").arg(i));
    buttons_.append(b);
    if (cancel) box_->setEscapeButton(b);
  }
  // The message of a titled alert is made after the buttons, so a screen reader (and reading
  // aloud) would meet "Close" before it: it goes before them in reading order.
  if (auto* info = box_->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
    if (auto* row = box_->findChild<QWidget*>(QStringLiteral("qt_msgbox_buttonbox"))) {
      info->stackUnder(row);
    }
  }
  // No icon, and no indent kept for one: the text lines up with the box's margin. Room around
  // the text, so that the alert reads as a calm card rather than a system error box.
  if (auto* grid = qobject_cast<QGridLayout*>(box_->layout())) {
    for (int i = 0; i < grid->count(); ++i) {
      int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
      grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
      if (QSpacerItem* spacer = grid->itemAt(i)->spacerItem(); spacer && column == 0) {
        spacer->changeSize(0, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
      }
    }
    grid->setContentsMargins(40, 36, 40, 32);
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(20);
    grid->setColumnStretch(1, 1);  // a box widened by its buttons widens the text, not the margin
    grid->invalidate();
  }
  // The icon's label stays empty (no icon), and an empty, unnamed label is all a screen reader
  // would find there: it leaves the box, kept aside until the box goes since the box refers to
  // it.
  if (auto* icon = box_->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
    iconLabel_.reset(icon);
    icon->setParent(nullptr);
    icon->hide();
  }
  connect(box_, &QMessageBox::buttonClicked, this,
          [this](QAbstractButton* b) { buttonChosen(static_cast<int>(buttons_.indexOf(b))); });
  // Closed without a button (window manager, Escape with no cancel button): the cancel choice.
  connect(box_, &QDialog::finished, this, [this] {
    if (hasCancel_) {
      buttonChosen(0);
    } else {
      finish();
    }
  });
}

Alert::~Alert() {
  onScreen().removeAll(this);
  delete box_.data();
  iconLabel_.reset();
}

void Alert::show() {
  if (visible_ || finished_) return;
  visible_ = true;
  TapGuard::alertShown();
  onScreen().append(this);
  box_->setWindowModality(box_->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
  shownBeforeWindow_ = box_->parentWidget() != nullptr && !box_->parentWidget()->isVisible();
  fitButtons();
  box_->show();
  raise();
  if (const auto& observer = shownObserver()) observer(*this);
}

void Alert::raise() {
  // Without a window manager nothing keeps a dialog above its window: a window shown later
  // covers it, and a modal alert that cannot be seen leaves the screen dead to every touch.
  if (!box_ || !visible_) return;
  // Shown before its window was on screen, the box was managed as nobody's dialog, and a window
  // manager keeps a full-screen kiosk window above it: shown again, it is the window's dialog.
  QWidget* parent = box_->parentWidget();
  if (shownBeforeWindow_ && parent != nullptr && parent->isVisible()) {
    shownBeforeWindow_ = false;
    box_->hide();
    box_->show();
  }
  box_->raise();
  box_->activateWindow();
}

void Alert::fitButtons() {
  // To a layout, a style sheet's min-width is a button's whole minimum, so the box squeezed a
  // longer title (another language, larger text) to it and cut its words off. No button is
  // narrower than its words, and buttons too wide to stand side by side stand in a column.
  box_->ensurePolished();
  for (QAbstractButton* b : buttons_) {
    b->setMinimumWidth(std::max(b->minimumWidth(), b->sizeHint().width()));
  }
  auto* row = box_->findChild<QDialogButtonBox*>();
  if (row == nullptr) return;
  const QWidget* window = box_->parentWidget();
  const int screenWidth =
      window != nullptr ? window->width() : box_->screen()->availableGeometry().width();
  const QMargins margins = box_->layout()->contentsMargins();
  const int room = screenWidth - margins.left() - margins.right();
  if (row->sizeHint().width() > room) row->setOrientation(Qt::Vertical);
  // The platform's order puts the buttons in another order than they were made (Cancel last in a
  // row, first in a column). A screen reader, and reading aloud, take them in the order of the
  // box's children: that is made the order of the layout, in which they stand on the screen.
  QLayout* layout = row->layout();
  for (int i = 0; i < layout->count(); ++i) {
    if (auto* b = qobject_cast<QAbstractButton*>(layout->itemAt(i)->widget())) b->raise();
  }
}

void Alert::raiseAll() {
  for (Alert* alert : onScreen()) alert->raise();
}

void Alert::dismissWithClickedButtonIndex(int /*buttonIndex*/, bool /*animated*/) { finish(); }

QAbstractButton* Alert::button(int index) const { return buttons_.value(index); }

QList<Alert*> Alert::visibleAlerts() { return onScreen(); }

void Alert::dismissAll() {
  const QList<Alert*> alerts = onScreen();  // finish() removes from the list
  for (Alert* alert : alerts) alert->finish();
}

void Alert::setPresentingWindow(QWidget* window) { presentingWindow() = window; }

void Alert::setShownObserver(std::function<void(Alert&)> observer) {
  shownObserver() = std::move(observer);
}

void Alert::buttonChosen(int index) {
  if (finished_ || index < 0) return;
  TapGuard::start();
  // As on the tablet, the delegate hears of the choice while the alert is still up.
  if (delegate_) delegate_->clickedButtonAtIndex(*this, index);
  finish();
}

void Alert::finish() {
  if (finished_) return;
  finished_ = true;
  visible_ = false;
  onScreen().removeAll(this);
  if (box_) box_->hide();
  deleteLater();
}

void AlertPresenterAdapter::simpleWithTitle(const std::optional<std::string>& title,
                                            const std::string& message) {
  std::optional<QString> qtitle;
  // The session layer has no Qt; its texts are looked up here, under this class's context.
  if (title) qtitle = QCoreApplication::translate("quorin::AlertPresenterAdapter", title->c_str());
  Alert::simpleWithTitle(
      qtitle, QCoreApplication::translate("quorin::AlertPresenterAdapter", message.c_str()));
}

}  // namespace quorin
