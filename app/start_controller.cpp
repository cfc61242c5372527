#include "start_controller.hpp"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/alert.hpp"
#include "platform/log.hpp"
#include "quorin_app_delegate.hpp"
#include "session/text_number.hpp"

namespace quorin {
namespace {

constexpr const char* kErrorTitle = QT_TRANSLATE_NOOP("quorin::StartController", "Error");

// "1 minute", "45 seconds": how long a lock lasts or has left, rounded up to what staff read.
QString duration(std::chrono::seconds length) {
  const auto seconds = length.count();
  if (seconds >= 60 && seconds % 60 == 0) {
    const auto minutes = seconds / 60;
    return minutes == 1 ? StartController::tr("1 minute")
                        : StartController::tr("%1 minutes").arg(minutes);
  }
  return seconds == 1 ? StartController::tr("1 second")
                      : StartController::tr("%1 seconds").arg(seconds);
}

// Every export attempt goes to the diagnostic log with its time, for whoever audits the kiosk.
void logExport(const QString& what) {
  qCInfo(lcKiosk).noquote() << QDateTime::currentDateTimeUtc().toString(Qt::ISODate)
                            << "export:" << what;
}

}  // namespace

StartController::StartController(QuorinAppDelegate& app)
    : ViewController(QStringLiteral("Start")), app_(app), lock_(app.passcodeLockout()) {
  declareOutlet("passcodeField", &passcodeField_);
  declareOutlet("timeoutField", &timeoutField_);
  declareAction(QStringLiteral("startScreener:"));
  declareAction(QStringLiteral("keyPressed:"));
}

StartController::~StartController() {
  app_.scheduler().cancel(lockTick_);
  // The fields die with the view after this object is gone; they must not call back into it.
  if (passcodeField_) setTextFieldDelegate(passcodeField_, nullptr);
  if (timeoutField_) setTextFieldDelegate(timeoutField_, nullptr);
}

QString StartController::faultIn(QWidget& form) const {
  // Without it staff could never hand the kiosk over.
  if (controlsWithAction(form, QStringLiteral("startScreener:")).isEmpty()) {
    return QStringLiteral(
        "no control has the action 'startScreener:', which starts the "
        "questionnaire");
  }
  return {};
}

void StartController::viewDidLoad() {
  setTextFieldDelegate(passcodeField_, this);
  setTextFieldDelegate(timeoutField_, this);
  timeoutField_->setText(QString::number(app_.inactivityTimout()));
  // Older interface overrides lack the notices; the kiosk works without them.
  passcodeNotice_ = view()->findChild<QLabel*>(QStringLiteral("passcodeNotice"));
  if (passcodeNotice_ == nullptr) {
    qCWarning(lcKiosk).noquote() << "Start: the interface file has no label 'passcodeNotice', so "
                                    "the screen cannot say when the export passcode needs setting";
  }
  lockNotice_ = view()->findChild<QLabel*>(QStringLiteral("lockNotice"));
  if (lockNotice_) lockNotice_->hide();
  const Passcode passcode = app_.passcode();
  if (passcode.kind() == Passcode::Kind::Unusable) {
    qCWarning(lcKiosk).noquote() << "The export is off:"
                                 << QString::fromStdString(passcode.failure());
  }
  showPasscodeNotice(passcode.kind());
  // The keypad types into the field last touched.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now && (now == passcodeField_ || now == timeoutField_)) {
      keypadField_ = static_cast<QLineEdit*>(now);
    }
  });
}

void StartController::showPasscodeNotice(Passcode::Kind kind) {
  if (!passcodeNotice_) return;
  passcodeNotice_->setText(
      kind == Passcode::Kind::Default    ? tr(kDefaultCodeNotice).arg(setPasscodeCommand())
      : kind == Passcode::Kind::Unusable ? tr(kUnusableCodeNotice).arg(setPasscodeCommand())
                                         : QString());
  passcodeNotice_->setVisible(kind != Passcode::Kind::Own);
}

QString StartController::setPasscodeCommand() const {
  // Staff at a terminal do not share the kiosk's environment (its service sets the home), and
  // without the home the command would set another kiosk's passcode.
  const QString path = QString::fromStdString(app_.passcodePath());
  if (path.isEmpty()) return QStringLiteral("quorin --set-passcode");
  QString home = QFileInfo(path).absolutePath();
  if (home.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./-]")))) {
    home = u'\'' + home.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
  }
  return QStringLiteral("quorin --home %1 --set-passcode").arg(home);
}

void StartController::showLockNotice() {
  app_.scheduler().cancel(lockTick_);
  lockTick_ = 0;
  const auto left = lock_.remaining(PasscodeLock::Clock::now());
  if (!lockNotice_) return;
  lockNotice_->setVisible(left.count() > 0);
  if (left.count() <= 0) return;
  lockNotice_->setText(tr(kLockNotice).arg(duration(left)));
  lockTick_ = app_.scheduler().schedule(std::chrono::seconds(1), [this] { showLockNotice(); });
}

void StartController::keyPressed(QObject* sender) {
  const QString key = sender ? sender->property("key").toString() : QString();
  QLineEdit* field = timeoutField_->hasFocus() ? timeoutField_
                     : keypadField_            ? keypadField_.data()
                                               : passcodeField_;
  if (!field->hasFocus()) field->setFocus(Qt::OtherFocusReason);
  keypadField_ = field;
  if (key == QLatin1String("delete")) {
    field->backspace();
  } else if (key == QLatin1String("enter")) {
    // Through the field's own key handling, so that its delegate decides as for the keyboard.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
  } else if (key.size() == 1 && key.front().isDigit()) {
    field->insert(key);
  }
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
  const QString code = field->text();
  // Cleared whatever happens, or the next try would start after this one.
  field->setText(QString());
  const auto now = PasscodeLock::Clock::now();
  if (const auto left = lock_.remaining(now); left.count() > 0) {
    logExport(QStringLiteral("refused, locked for %1 s more").arg(left.count()));
    Alert::simpleWithTitle(tr(kLockedTitle), tr(kStillLockedMessage).arg(duration(left)));
    return false;
  }
  // Read at each try, so that a passcode set meanwhile counts. Checking an own code takes 0.1 to
  // 0.4 s of this thread (measured on two busy cores); staff have just pressed Enter and wait for
  // the answer anyway, so a worker thread would buy nothing but a second way for screens to die.
  const Passcode passcode = app_.passcode();
  showPasscodeNotice(passcode.kind());
  if (passcode.kind() == Passcode::Kind::Unusable) {
    logExport(QStringLiteral("refused, no passcode can be checked: ") +
              QString::fromStdString(passcode.failure()));
    Alert::simpleWithTitle(tr(kErrorTitle), tr(kUnusableCodeMessage).arg(setPasscodeCommand()));
    return false;
  }
  if (!passcode.verify(code.toStdString())) {
    // Enter tapped with nothing typed is no guess at the code: refused, but a few stray taps
    // must not lock staff out.
    if (!code.isEmpty() && lock_.failed(now)) {
      logExport(QStringLiteral("wrong passcode, the fifth in a row: locked for %1 s")
                    .arg(lock_.duration().count()));
      Alert::simpleWithTitle(tr(kLockedTitle), tr(kLockedMessage).arg(duration(lock_.duration())));
      showLockNotice();
    } else {
      logExport(QStringLiteral("refused, wrong passcode"));
      Alert::simpleWithTitle(tr(kErrorTitle), tr(kWrongCodeMessage));
    }
    return false;
  }
  lock_.succeeded();
  openDoc(nullptr);
  return true;
}

void StartController::openDoc(QObject* /*unused*/) {
  CSVFile& log = app_.csvFile();
  // Rows that an append could not write yet go in first, so that the copy is the whole log; if
  // the file still will not take them (its alert says so), or the settings where they wait could
  // not be read, no message may call the copy whole.
  const bool whole = log.flushPendingRows();
  // An emptied file holds no more results than a missing one.
  const QFileInfo results(QString::fromStdString(log.filePath()));
  if (!results.exists() || (results.isFile() && results.size() == 0)) {
    logExport(whole ? QStringLiteral("nothing to export, no results yet")
                    : QStringLiteral("nothing to export, sessions wait for results.csv"));
    Alert::simpleWithTitle(tr(kErrorTitle), tr(whole ? kNoResultsMessage : kRowsWaitingMessage));
    return;
  }
  const std::vector<RemovableDrive> drives = app_.removableDrives();
  if (!drives.empty()) {
    saveToDrive(drives.front(), whole);
    return;
  }
  logExport(QStringLiteral("no USB drive, offering results.csv to an application"));
  docsCtrl_ = std::make_unique<DocumentInteraction>(QUrl(QString::fromStdString(log.fileUrl())),
                                                    app_.openInService());
  const QRect anchor(passcodeField_->mapTo(view(), QPoint(0, 0)), passcodeField_->size());
  docsCtrl_->presentOpenInMenu(anchor, view(), true, [] {
    logExport(QStringLiteral("no application could open results.csv"));
    Alert::simpleWithTitle(tr(kOpenFileErrorTitle), tr(kNoApplicationMessage));
  });
}

void StartController::saveToDrive(const RemovableDrive& drive, bool whole) {
  const std::string fileName = exportFileName(app_.kioskName(), std::chrono::system_clock::now());
  const ExportResult result = exportResults(app_.csvFile().filePath(), drive, fileName);
  const QString where = QString::fromStdString(result.path);
  const QString name = QString::fromStdString(drive.name);
  if (result.outcome == ExportOutcome::Saved) {
    logExport(QStringLiteral("saved to ") + where +
              (whole ? QString() : QStringLiteral(", without the sessions still waiting")));
    Alert::simpleWithTitle(
        tr(whole ? kSavedTitle : kSavedIncompleteTitle),
        tr(whole ? kSavedMessage : kSavedIncompleteMessage).arg(name, QFileInfo(where).fileName()));
    return;
  }
  logExport(
      QStringLiteral("failed to save to %1: %2").arg(where, QString::fromStdString(result.detail)));
  QString message;
  switch (result.outcome) {
    case ExportOutcome::NoResults:
      message = tr(kNoResultsMessage);
      break;
    case ExportOutcome::Full:
      message = tr(kDriveFullMessage).arg(name);
      break;
    case ExportOutcome::ReadOnly:
      message = tr(kDriveReadOnlyMessage).arg(name);
      break;
    case ExportOutcome::NotAllowed:
      message = tr(kDriveNotAllowedMessage).arg(name);
      break;
    case ExportOutcome::Removed:
      message = tr(kDriveRemovedMessage).arg(name);
      break;
    case ExportOutcome::Mismatch:
      message = tr(kDriveMismatchMessage).arg(name);
      break;
    case ExportOutcome::Unreadable:
      message = tr(kResultsUnreadableMessage).arg(name);
      break;
    case ExportOutcome::Saved:
    case ExportOutcome::Failed:
      message = tr(kDriveFailedMessage).arg(name, QString::fromStdString(result.detail));
      break;
  }
  Alert::simpleWithTitle(tr(kSaveFailedTitle), message);
}

void StartController::startScreener(QObject* /*sender*/) {
  // A time-out still being typed is stored before the page flow reads it.
  if (timeoutField_ && timeoutField_->hasFocus()) timeoutField_->clearFocus();
  app_.startScreener();
}

}  // namespace quorin
