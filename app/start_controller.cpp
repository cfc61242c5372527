#include "start_controller.hpp"

#include <QFileInfo>
#include <QLineEdit>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/alert.hpp"
#include "quorin_app_delegate.hpp"
#include "session/text_number.hpp"

namespace quorin {
namespace {

constexpr const char* kErrorTitle = QT_TRANSLATE_NOOP("quorin::StartController", "Error");

}  // namespace

StartController::StartController(QuorinAppDelegate& app)
    : ViewController(QStringLiteral("Start")), app_(app) {
  declareOutlet("passcodeField", &passcodeField_);
  declareOutlet("timeoutField", &timeoutField_);
  declareAction(QStringLiteral("startScreener:"));
}

StartController::~StartController() {
  // The fields die with the view after this object is gone; they must not call back into it.
  if (passcodeField_) setTextFieldDelegate(passcodeField_, nullptr);
  if (timeoutField_) setTextFieldDelegate(timeoutField_, nullptr);
}

void StartController::viewDidLoad() {
  setTextFieldDelegate(passcodeField_, this);
  setTextFieldDelegate(timeoutField_, this);
  timeoutField_->setText(QString::number(app_.inactivityTimout()));
}

void StartController::textFieldDidEndEditing(QLineEdit* field) {
  if (field != timeoutField_) return;
  // Any white space leads (trimmed() knows Unicode's); the number is clamped to the int range.
  const std::int64_t seconds = leadingInteger(field->text().trimmed().toStdString());
  app_.setInactivityTimout(static_cast<int>(std::clamp<std::int64_t>(
      seconds, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
}

bool StartController::textFieldShouldReturn(QLineEdit* field) {
  if (field != passcodeField_) return true;
  if (field->text() != app_.secretCode()) {
    // Cleared as after the right code, or the next try would start after the wrong one.
    field->setText(QString());
    Alert::simpleWithTitle(tr(kErrorTitle), tr(kWrongCodeMessage));
    return false;
  }
  openDoc(nullptr);
  field->setText(QString());
  return true;
}

void StartController::openDoc(QObject* /*unused*/) {
  CSVFile& log = app_.csvFile();
  if (!QFileInfo::exists(QString::fromStdString(log.filePath()))) {
    Alert::simpleWithTitle(tr(kErrorTitle), tr(kNoResultsMessage));
    return;
  }
  docsCtrl_ = std::make_unique<DocumentInteraction>(QUrl(QString::fromStdString(log.fileUrl())),
                                                    app_.openInService());
  const QRect anchor(passcodeField_->mapTo(view(), QPoint(0, 0)), passcodeField_->size());
  docsCtrl_->presentOpenInMenu(anchor, view(), true, [] {
    Alert::simpleWithTitle(tr(kOpenFileErrorTitle), tr(kNoApplicationMessage));
  });
}

void StartController::startScreener(QObject* /*sender*/) {
  // A time-out still being typed is stored before the page flow reads it.
  if (timeoutField_ && timeoutField_->hasFocus()) timeoutField_->clearFocus();
  app_.startScreener();
}

}  // namespace quorin
