// The kiosk's process entry: options, the application object, the delegate's launch, the loop.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "platform/accessibility.hpp"
#include "platform/alert.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/resources.hpp"
#include "quorin_app_delegate.hpp"
#include "session/paths.hpp"
#include "session/sqlite_settings_store.hpp"

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("quorin"));
  QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Quorin: a self-service screening-questionnaire kiosk."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption home(
      QStringLiteral("home"),
      QStringLiteral("Keep the settings, Documents/results.csv and ui/ overrides in <dir> "
                     "(the same as QUORIN_HOME=<dir>)."),
      QStringLiteral("dir"));
  const QCommandLineOption kiosk(QStringLiteral("kiosk"),
                                 QStringLiteral("Run full screen without window decorations."));
  parser.addOption(home);
  parser.addOption(kiosk);

  // Help and version are answered before Qt looks for a display, so they work anywhere.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  parser.parse(arguments);
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

  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Quorin"));
  parser.process(app);  // reports unknown options and exits
  // Before anything asks where the kiosk home is.
  if (parser.isSet(home)) {
    qputenv("QUORIN_HOME", QFile::encodeName(QFileInfo(parser.value(home)).absoluteFilePath()));
  }

  quorin::installAccessibility();
  quorin::initResources();
  const QString kioskHome = QString::fromStdString(quorin::kioskHome());
  quorin::InterfaceLoader::setOverrideFolder(quorin::defaultInterfaceOverrideFolder(kioskHome));
  quorin::applyKioskStyle(app);
  std::fprintf(stderr, "quorin: settings %s, results in %s, interface overrides in %s\n",
               quorin::settingsDatabasePath().c_str(), quorin::documentsFolder().c_str(),
               qPrintable(quorin::InterfaceLoader::overrideFolder()));

  quorin::AppEnvironment environment;
  environment.store = quorin::SqliteSettingsStore::open(quorin::settingsDatabasePath());
  environment.documentsFolder = quorin::documentsFolder();
  environment.scheduler = std::make_shared<quorin::QtScheduler>();
  environment.openInService = std::make_shared<quorin::DesktopOpenInService>();

  int status = 0;
  {
    quorin::QuorinAppDelegate delegate(std::move(environment));
    delegate.window().setKioskMode(parser.isSet(kiosk));
    delegate.didFinishLaunching();
    status = QApplication::exec();
    quorin::Alert::dismissAll();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return status;
}
