// The kiosk's process entry: options, the application object, the delegate's launch, the loop.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>

#include "csv/diagnostic_log.hpp"
#include "platform/accessibility.hpp"
#include "platform/alert.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/log.hpp"
#include "platform/resources.hpp"
#include "quorin_app_delegate.hpp"
#include "session/paths.hpp"
#include "session/results_export.hpp"
#include "session/sqlite_settings_store.hpp"
#include "set_passcode.hpp"

namespace {

int signalPipe[2] = {-1, -1};

// A service manager stops the kiosk with SIGTERM (Ctrl+C sends SIGINT): the signal is passed to
// the event loop through a socket, since little is safe inside a handler, and the loop ends as
// it does at any exit, whatever alerts are open.
void stopOnSignals(QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
    char byte = 0;
    if (::read(signalPipe[1], &byte, 1) < 0) return;
    notifier->setEnabled(false);
    QApplication::quit();
  });
  struct sigaction action = {};
  action.sa_handler = [](int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

// With QT_LOGGING_RULES="quorin.kiosk.debug=true" the kiosk says when its window's first frame
// was painted, in CLOCK_MONOTONIC seconds, so that start-up can be timed from outside.

class FirstFrame : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      // After this event, once the frame has gone to the screen.
      QTimer::singleShot(0, this, [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        qCDebug(lcKiosk, "first frame at %.3f",
                static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9);
      });
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("quorin"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORIN_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QCoreApplication::translate("main", "Quorin: a self-service screening-questionnaire kiosk."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption home(
      QStringLiteral("home"),
      QCoreApplication::translate("main",
                                  "Keep the settings, Documents/results.csv and ui/ overrides in "
                                  "<dir> (the same as QUORIN_HOME=<dir>)."),
      QCoreApplication::translate("main", "dir"));
  const QCommandLineOption kiosk(
      QStringLiteral("kiosk"),
      QCoreApplication::translate("main", "Run full screen without window decorations."));
  const QCommandLineOption setPasscode(
      QStringLiteral("set-passcode"),
      QCoreApplication::translate("main",
                                  "Set the export passcode (asked for on the terminal, "
                                  "or one line from standard input), then exit."));
  parser.addOption(home);
  parser.addOption(kiosk);
  parser.addOption(setPasscode);

  // Help and version are answered before Qt looks for a display, so they work anywhere.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  const bool parsed = parser.parse(arguments);
  if (parser.isSet(help)) {
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QFileInfo(arguments.first()).fileName());
    std::fputs(qPrintable(text), stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("quorin %s\n", qPrintable(QCoreApplication::applicationVersion()));
    return 0;
  }
  // A mistyped command line is refused before Qt looks for a display too, so that staff at a
  // terminal without one are told what was wrong. A mistyped --home (or its folder given without
  // it) would otherwise use another kiosk home, the default one: with --set-passcode, set the
  // passcode there and report success.
  // Qt's own options (-platform, -style, ...) are left to QApplication, which takes them out.
  const QStringList unknown = parser.unknownOptionNames();
  const bool qtOptions =
      !unknown.isEmpty() &&
      std::none_of(arguments.begin() + 1, arguments.end(), [&](const QString& a) {
        return a.startsWith(QStringLiteral("--")) && unknown.contains(a.mid(2).section(u'=', 0, 0));
      });
  QString why;
  if (!parsed && !qtOptions) {
    why = parser.errorText();
    if (why.endsWith(u'.')) why.chop(1);  // Qt's texts end in a full stop
  } else if (parsed && !parser.positionalArguments().isEmpty()) {
    why = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
  } else if (const QString value = parser.value(home);
             parser.isSet(home) && (value.isEmpty() || value.startsWith(u'-'))) {
    why = value.isEmpty() ? QStringLiteral("--home needs a folder")
                          : QStringLiteral("--home needs a folder, not '%1'").arg(value);
  }
  // "--set-passcode" taken as the value of --home still means that nothing is set.
  const bool settingPasscode =
      parser.isSet(setPasscode) || arguments.contains(QStringLiteral("--set-passcode"));
  if (!why.isEmpty()) {
    std::fprintf(stderr, "quorin: %s%s\n", qPrintable(why),
                 settingPasscode ? "; nothing was changed" : "");
    return settingPasscode ? 2 : 1;
  }
  if (parser.isSet(setPasscode)) {
    const QString folder =
        parser.isSet(home) ? QFileInfo(parser.value(home)).absoluteFilePath() : QString();
    return quorin::setPasscodeCommand(QFile::encodeName(folder).toStdString());
  }

  // Before anything asks where the kiosk home is.
  if (parser.isSet(home)) {
    qputenv("QUORIN_HOME", QFile::encodeName(QFileInfo(parser.value(home)).absoluteFilePath()));
  }
  const QString kioskHome = QString::fromStdString(quorin::kioskHome());
  // Every row would fail to be written there, each with an alert that cannot say why.
  if (const QFileInfo info(kioskHome); info.exists() && !info.isDir()) {
    std::fprintf(stderr, "quorin: the kiosk home %s is not a folder\n", qPrintable(kioskHome));
    return 1;
  }

  // Two kiosks on one home would both log the session it holds and number their rows alike: the
  // second refuses to start. The lock goes with the process, however it ends.
  QDir().mkpath(kioskHome);
  const int homeLock = ::open(QFile::encodeName(kioskHome + QStringLiteral("/.kiosk.lock")),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (homeLock >= 0 && ::flock(homeLock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    std::fprintf(stderr,
                 "quorin: another kiosk is running on the kiosk home %s; a second one would log "
                 "its sessions twice\n",
                 qPrintable(kioskHome));
    return 1;
  }

  // One log for everything the kiosk says, its own lines and those of the session layer and
  // the CSV library, each a line "quorin: ..." on standard error unless QT_MESSAGE_PATTERN says
  // otherwise.
  if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN")) qSetMessagePattern("quorin: %{message}");
  csv::setDiagnosticSink(
      [](std::string_view message) { qCWarning(lcKiosk).noquote() << QUtf8StringView(message); });
  QApplication app(argc, argv);
  stopOnSignals(app);
  QApplication::setApplicationDisplayName(QStringLiteral("Quorin"));
  parser.process(app);  // reports unknown options and exits

  quorin::installAccessibility();
  quorin::initResources();
  quorin::InterfaceLoader::setOverrideFolder(quorin::defaultInterfaceOverrideFolder(kioskHome));
  // A mistyped QUORIN_UI_DIR would otherwise leave every screen built in without a word.
  if (const QString folder = qEnvironmentVariable("QUORIN_UI_DIR");
      !folder.isEmpty() && !QFileInfo(folder).isDir()) {
    qCWarning(lcKiosk).noquote() << "QUORIN_UI_DIR names" << QFileInfo(folder).absoluteFilePath()
                                 << "which is not a folder, so no screen's override is read";
  }
  quorin::applyKioskStyle(app);
  qCInfo(lcKiosk, "settings %s, results in %s, interface overrides in %s",
         quorin::settingsDatabasePath().c_str(), quorin::documentsFolder().c_str(),
         qPrintable(quorin::InterfaceLoader::overrideFolder()));

  quorin::AppEnvironment environment;
  std::shared_ptr<quorin::SqliteSettingsStore> store =
      quorin::SqliteSettingsStore::open(quorin::settingsDatabasePath());
  store->setUnsavedHandler([] {
    quorin::Alert::simpleWithTitle(
        quorin::QuorinAppDelegate::tr("Error"),
        quorin::QuorinAppDelegate::tr(quorin::QuorinAppDelegate::kStoreSaveFailedMessage));
  });
  store->setDetachedHandler([] {
    quorin::Alert::simpleWithTitle(
        quorin::QuorinAppDelegate::tr("Error"),
        quorin::QuorinAppDelegate::tr(quorin::QuorinAppDelegate::kStoreOpenFailedMessage));
  });
  environment.storeOpenFailure = store->openFailure();
  environment.store = store;
  environment.documentsFolder = quorin::documentsFolder();
  environment.scheduler = std::make_shared<quorin::QtScheduler>();
  environment.openInService = std::make_shared<quorin::DesktopOpenInService>();
  environment.passcodePath = quorin::passcodePath();
  environment.removableDrives = [] { return quorin::removableDrives(); };
  environment.kioskName = quorin::kioskName();
  // The voice: Qt's default engine unless another is named; "none" turns reading aloud off.
  if (const QString engine = qEnvironmentVariable("QUORIN_SPEECH_ENGINE");
      engine != QLatin1String("none")) {
    environment.speechEngine = engine;
  }
  // Tests only: a lock they can wait out.
  if (const int seconds = qEnvironmentVariableIntValue("QUORIN_LOCKOUT_SECONDS"); seconds > 0) {
    environment.passcodeLockout = std::chrono::seconds(seconds);
  }

  int status = 0;
  {
    quorin::QuorinAppDelegate delegate(std::move(environment));
    delegate.window().setKioskMode(parser.isSet(kiosk));
    if (lcKiosk().isDebugEnabled()) delegate.window().installEventFilter(new FirstFrame(&app));
    delegate.didFinishLaunching();
    status = QApplication::exec();
    quorin::Alert::dismissAll();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return status;
}
