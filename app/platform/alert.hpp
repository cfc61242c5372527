// Alert: a modal, non-blocking message with one or more buttons. Decisions are made by the
// chosen button's title, never by its position.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "session/alert_presenter.hpp"

class QAbstractButton;
class QMessageBox;
class QWidget;

namespace quorin {

class Alert;

class AlertDelegate {
 public:
  virtual ~AlertDelegate() = default;
  // The person chose the button at `buttonIndex`. Not called when code dismisses the alert.
  virtual void clickedButtonAtIndex(Alert& alert, int buttonIndex) = 0;
};

// Created with new and shown with show(); once on screen the alert belongs to the platform and
// deletes itself after it is dismissed, so hold it in a QPointer. Main thread only.
class Alert : public QObject {
  Q_OBJECT

 public:
  // The alert's one button.
  static constexpr const char* kClose = QT_TR_NOOP("Close");
  // The completion reminder's message.
  static constexpr const char* kPleaseCompleteMessage = QT_TR_NOOP(
      "Please enter all eight questions on the screening tool to receive accurate results.");

  // Shows an alert with `title` (none when absent), `message` and the one button "Close".
  static Alert* simpleWithTitle(const std::optional<QString>& title, const QString& message);
  // Shows simpleWithTitle with no title.
  static Alert* simple(const QString& message);
  // Shows the completion reminder.
  static Alert* pleaseComplete();

  // An alert whose cancel button (index 0, none when empty) is `cancelButtonTitle` and whose
  // other buttons follow in order. `delegate` may be null and must outlive the alert.
  Alert(std::optional<QString> title, QString message, AlertDelegate* delegate,
        const QString& cancelButtonTitle, const QStringList& otherButtonTitles);
  ~Alert() override;

  // Puts the alert on screen, modal over the presenting window.
  void show();
  // True from show() until the alert is dismissed.
  bool isVisible() const { return visible_; }
  // Dismisses the alert without telling the delegate (the index is not reported).
  void dismissWithClickedButtonIndex(int buttonIndex, bool animated);

  std::optional<QString> title() const { return title_; }
  QString message() const { return message_; }
  // Index of the cancel button, or -1 when there is none.
  int cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }
  int numberOfButtons() const { return static_cast<int>(titles_.size()); }
  // The title of the button at `index`; empty when out of range.
  QString buttonTitleAtIndex(int index) const { return titles_.value(index); }
  // The on-screen button at `index` (tests press it as a person would); null when out of range.
  QAbstractButton* button(int index) const;

  // Brings the alert above every window and gives it the keyboard.
  void raise();
  // Raises every alert on screen, oldest first (the newest ends on top).
  static void raiseAll();
  // Every alert now on screen, oldest first.
  static QList<Alert*> visibleAlerts();
  // Dismisses every alert on screen without telling their delegates (at exit, in tests).
  static void dismissAll();
  // The window alerts are modal over; null makes them modal over the whole application.
  static void setPresentingWindow(QWidget* window);
  // Calls `observer` with each alert as it comes on screen (one observer; empty for none).
  static void setShownObserver(std::function<void(Alert&)> observer);

 private:
  void buttonChosen(int index);
  void finish();
  void fitButtons();

  std::optional<QString> title_;
  QString message_;
  AlertDelegate* delegate_;
  QStringList titles_;
  bool hasCancel_;
  bool visible_ = false;
  bool finished_ = false;
  bool shownBeforeWindow_ = false;
  QPointer<QMessageBox> box_;
  QList<QAbstractButton*> buttons_;
  std::unique_ptr<QWidget> iconLabel_;  // taken out of the box, see the constructor
};

// Shows the results log's failures with Alert.
class AlertPresenterAdapter : public AlertPresenter {
 public:
  void simpleWithTitle(const std::optional<std::string>& title,
                       const std::string& message) override;
};

}  // namespace quorin
