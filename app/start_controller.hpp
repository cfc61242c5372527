// StartController: the staff start screen. Sets the inactivity time-out, exports the results
// after the administrator passcode (to a USB drive when one is plugged in, else through "open
// in"), and starts the questionnaire. Both fields can be typed on its keypad.
#pragma once

#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>

#include "platform/document_interaction.hpp"
#include "platform/scheduler.hpp"
#include "platform/text_field.hpp"
#include "platform/view_controller.hpp"
#include "session/passcode.hpp"
#include "session/results_export.hpp"

class QLabel;
class QLineEdit;

namespace quorin {

class QuorinAppDelegate;

// Interface file "Start": outlets passcodeField and timeoutField (QLineEdit), and a control with
// the action "startScreener:". Optional: keys with the action "keyPressed:" and a `key` property
// ("0" to "9", "delete", "enter"), and the labels passcodeNotice and lockNotice. Main thread only.
class StartController : public ViewController, public TextFieldDelegate {
  Q_OBJECT

 public:
  static constexpr const char* kWrongCodeMessage = QT_TR_NOOP("Incorrect code.  Please try again.");
  static constexpr const char* kNoResultsMessage =
      QT_TR_NOOP("There are no results to export yet.\nSomeone must take the survey first.");
  static constexpr const char* kOpenFileErrorTitle = QT_TR_NOOP("Open File Error");
  // Met on the kiosk itself, which has no spreadsheet program: the drive is the way out.
  static constexpr const char* kNoApplicationMessage = QT_TR_NOOP(
      "No valid applications found.  Please install a spreadsheet application, or plug in a USB "
      "drive to save the results on it.");
  static constexpr const char* kLockedTitle = QT_TR_NOOP("Export Locked");
  static constexpr const char* kLockedMessage =
      QT_TR_NOOP("Five wrong codes in a row.\n\nThe export is locked for %1.");
  static constexpr const char* kStillLockedMessage =
      QT_TR_NOOP("The export is locked after five wrong codes.\n\nTry again in %1.");
  static constexpr const char* kLockNotice =
      QT_TR_NOOP("Export locked after five wrong codes. Try again in %1.");
  static constexpr const char* kDefaultCodeNotice = QT_TR_NOOP(
      "The export passcode is still the out-of-the-box code. Set this kiosk's own "
      "with: %1");
  static constexpr const char* kUnusableCodeNotice = QT_TR_NOOP(
      "The passcode file cannot be read, so the export is off. Set the passcode "
      "again with: %1");
  static constexpr const char* kUnusableCodeMessage = QT_TR_NOOP(
      "The kiosk's passcode file cannot be read, so no code can be checked and the "
      "export is off.\n\nSet the passcode again with: %1");
  static constexpr const char* kSavedTitle = QT_TR_NOOP("Results Saved");
  static constexpr const char* kSavedMessage = QT_TR_NOOP(
      "The results were saved to the USB drive \u201c%1\u201d as %2.\n\n"
      "You can take the drive out now.");
  static constexpr const char* kSavedIncompleteTitle = QT_TR_NOOP("Results Incomplete");
  static constexpr const char* kSavedIncompleteMessage = QT_TR_NOOP(
      "The results were saved to the USB drive \u201c%1\u201d as %2, but the latest sessions "
      "may be missing: the kiosk could not add them to results.csv yet.\n\n"
      "Save the results again once the kiosk has added them.");
  static constexpr const char* kRowsWaitingMessage = QT_TR_NOOP(
      "There is no results file to export yet, and completed sessions may be waiting to be "
      "written to it.\n\nThe kiosk keeps them until it can write the file.");
  static constexpr const char* kSaveFailedTitle = QT_TR_NOOP("Not Saved");
  static constexpr const char* kDriveFullMessage = QT_TR_NOOP(
      "The USB drive \u201c%1\u201d is full.\n\nThe results were not saved. Make room "
      "on it or use another drive, then try again.");
  static constexpr const char* kDriveReadOnlyMessage = QT_TR_NOOP(
      "The USB drive \u201c%1\u201d cannot be written to: it is read-only or its "
      "lock switch is on.\n\nThe results were not saved.");
  static constexpr const char* kDriveNotAllowedMessage = QT_TR_NOOP(
      "The kiosk is not allowed to write to the USB drive \u201c%1\u201d: it was mounted for "
      "another user.\n\nThe results were not saved. Ask for support to have drives mounted for "
      "the kiosk.");
  static constexpr const char* kDriveRemovedMessage = QT_TR_NOOP(
      "The USB drive \u201c%1\u201d was removed or stopped answering while the "
      "results were being saved.\n\nThe results were not saved. Plug it in again and "
      "try again.");
  static constexpr const char* kDriveMismatchMessage = QT_TR_NOOP(
      "The copy on the USB drive \u201c%1\u201d does not match the results.\n\n"
      "The drive may be failing: please use another one.");
  static constexpr const char* kResultsUnreadableMessage = QT_TR_NOOP(
      "The kiosk could not read its own results file, so nothing was saved to the USB drive "
      "\u201c%1\u201d.\n\nTry again. If this happens again, ask for support: the kiosk's "
      "storage may be failing.");
  static constexpr const char* kDriveFailedMessage =
      QT_TR_NOOP("The results could not be saved to the USB drive \u201c%1\u201d.\n\n%2");

  // The start screen of `app`, which must outlive it.
  explicit StartController(QuorinAppDelegate& app);
  ~StartController() override;

  QLineEdit* passcodeField() const { return passcodeField_; }
  QLineEdit* timeoutField() const { return timeoutField_; }
  // The last export, kept while its chooser may be up; null before the first.
  DocumentInteraction* docsCtrl() const { return docsCtrl_.get(); }

  // Editing of the time-out field ended: stores its text read as an integer.
  void textFieldDidEndEditing(QLineEdit* field) override;
  // Return in the passcode field: exports on the right code, refuses a wrong one and any code
  // while wrong ones have locked the export.
  bool textFieldShouldReturn(QLineEdit* field) override;
  // Saves the results to the first USB drive plugged in, else offers them to an application.
  Q_INVOKABLE void openDoc(QObject* unused);
  // The start control: hands over to the page flow.
  Q_INVOKABLE void startScreener(QObject* sender);
  // A keypad key: types into the field being edited (the passcode field before any), as the
  // keyboard would; "enter" is the return key.
  Q_INVOKABLE void keyPressed(QObject* sender);

 protected:
  QString faultIn(QWidget& form) const override;
  void viewDidLoad() override;

 private:
  void saveToDrive(const RemovableDrive& drive, bool whole);
  void showPasscodeNotice(Passcode::Kind kind);
  // The command that sets this kiosk's passcode, naming its home.
  QString setPasscodeCommand() const;
  // Shows the lock's time left, every second until it ends.
  void showLockNotice();

  QuorinAppDelegate& app_;
  QLineEdit* passcodeField_ = nullptr;
  QLineEdit* timeoutField_ = nullptr;
  QPointer<QLineEdit> keypadField_;
  QLabel* passcodeNotice_ = nullptr;
  QLabel* lockNotice_ = nullptr;
  std::unique_ptr<DocumentInteraction> docsCtrl_;
  PasscodeLock lock_;
  Scheduler::TaskId lockTick_ = 0;
};

}  // namespace quorin
