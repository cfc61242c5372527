// StartController: the staff start screen. Sets the inactivity time-out, exports the results file
// after the administrator passcode, and starts the questionnaire.
#pragma once

#include <QString>
#include <memory>

#include "platform/document_interaction.hpp"
#include "platform/text_field.hpp"
#include "platform/view_controller.hpp"

class QLineEdit;

namespace quorin {

class QuorinAppDelegate;

// Interface file "Start": outlets passcodeField and timeoutField (QLineEdit), and a control with
// the action "startScreener:". Main thread only.
class StartController : public ViewController, public TextFieldDelegate {
  Q_OBJECT

 public:
  static constexpr const char* kWrongCodeMessage = QT_TR_NOOP("Incorrect code.  Please try again.");
  static constexpr const char* kNoResultsMessage =
      QT_TR_NOOP("There are no results to export yet.\nSomeone must take the survey first.");
  static constexpr const char* kOpenFileErrorTitle = QT_TR_NOOP("Open File Error");
  static constexpr const char* kNoApplicationMessage =
      QT_TR_NOOP("No valid applications found.  Please install a spreadsheet application.");

  // The start screen of `app`, which must outlive it.
  explicit StartController(QuorinAppDelegate& app);
  ~StartController() override;

  QLineEdit* passcodeField() const { return passcodeField_; }
  QLineEdit* timeoutField() const { return timeoutField_; }
  // The last export, kept while its chooser may be up; null before the first.
  DocumentInteraction* docsCtrl() const { return docsCtrl_.get(); }

  // Editing of the time-out field ended: stores its text read as an integer.
  void textFieldDidEndEditing(QLineEdit* field) override;
  // Return in the passcode field: exports on the right code, refuses the wrong one.
  bool textFieldShouldReturn(QLineEdit* field) override;
  // Offers the results file to an application that can open it.
  Q_INVOKABLE void openDoc(QObject* unused);
  // The start control: hands over to the page flow.
  Q_INVOKABLE void startScreener(QObject* sender);

 protected:
  void viewDidLoad() override;

 private:
  QuorinAppDelegate& app_;
  QLineEdit* passcodeField_ = nullptr;
  QLineEdit* timeoutField_ = nullptr;
  std::unique_ptr<DocumentInteraction> docsCtrl_;
};

}  // namespace quorin
