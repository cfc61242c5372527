// Renders the kiosk's screens to PNG files, offscreen, from a fresh temporary kiosk home, so the
// pictures in docs/ show exactly what a new installation shows.
// Usage: quorin_screenshots OUTPUT_FOLDER
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

#include "page_controller.hpp"
#include "platform/aid_toggle.hpp"
#include "platform/alert.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/resources.hpp"
#include "platform/scroll_view.hpp"
#include "quorin_app_delegate.hpp"
#include "session/sqlite_settings_store.hpp"
#include "start_controller.hpp"
#include "tool_page_controller.hpp"

namespace {

bool save(QWidget& window, const QDir& folder, const QString& name) {
  QCoreApplication::processEvents();
  const QString path = folder.filePath(name);
  if (!window.grab().save(path, "PNG")) {
    std::fprintf(stderr, "quorin_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// The window with the alerts now on screen drawn over it, centred on a dimmed screen, as a
// window manager would show them.
bool saveWithAlerts(QWidget& window, const QDir& folder, const QString& name) {
  QCoreApplication::processEvents();
  QPixmap picture = window.grab();
  QPainter painter(&picture);
  painter.fillRect(picture.rect(), QColor(20, 33, 43, 110));
  for (quorin::Alert* alert : quorin::Alert::visibleAlerts()) {
    QWidget* box = alert->button(0)->window();
    box->adjustSize();
    const QPixmap boxPicture = box->grab();
    painter.drawPixmap((picture.width() - boxPicture.width()) / 2,
                       (picture.height() - boxPicture.height()) / 2, boxPicture);
  }
  painter.end();
  const QString path = folder.filePath(name);
  if (!picture.save(path, "PNG")) {
    std::fprintf(stderr, "quorin_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorin_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(folder.path())) {
    std::fprintf(stderr, "quorin_screenshots: cannot make %s\n", argv[1]);
    return 1;
  }
  QTemporaryDir home;
  if (!home.isValid()) return 1;

  quorin::initResources();
  quorin::InterfaceLoader::setOverrideFolder(QString());  // the built-in screens
  quorin::applyKioskStyle(app);

  bool ok = true;
  {
    quorin::AppEnvironment environment;
    environment.store = quorin::SqliteSettingsStore::open(
        QDir(home.path()).filePath(QStringLiteral("settings.sqlite3")).toStdString());
    environment.documentsFolder =
        QDir(home.path()).filePath(QStringLiteral("Documents")).toStdString();
    auto clock = std::make_shared<quorin::ManualScheduler>();
    environment.scheduler = clock;
    // The voice named as the kiosk names it; scripts/screenshots.sh gives the tests' silent one,
    // so that the read-aloud control is shown.
    environment.speechEngine = qEnvironmentVariable("QUORIN_SPEECH_ENGINE");
    quorin::QuorinAppDelegate delegate(std::move(environment));
    delegate.didFinishLaunching();
    quorin::Window& window = delegate.window();
    window.resize(quorin::Window::kDefaultSize);
    ok = save(window, folder, QStringLiteral("start.png")) && ok;

    // A mistyped passcode: the alert staff see.
    auto* start = dynamic_cast<quorin::StartController*>(window.rootViewController());
    start->passcodeField()->setText(QStringLiteral("7359"));
    start->textFieldShouldReturn(start->passcodeField());
    ok = saveWithAlerts(window, folder, QStringLiteral("start-wrong-passcode.png")) && ok;
    quorin::Alert::dismissAll();

    // What the export to a USB drive says, done and failed (the drive's name and the file's as
    // a clinic would see them).
    using quorin::StartController;
    quorin::Alert::simpleWithTitle(
        StartController::tr(StartController::kSavedTitle),
        StartController::tr(StartController::kSavedMessage)
            .arg(QStringLiteral("CLINIC-USB"), QStringLiteral("results-kiosk-2-2026-12-07.csv")));
    ok = saveWithAlerts(window, folder, QStringLiteral("export-saved.png")) && ok;
    quorin::Alert::dismissAll();
    quorin::Alert::simpleWithTitle(
        StartController::tr(StartController::kSaveFailedTitle),
        StartController::tr(StartController::kDriveFullMessage).arg(QStringLiteral("CLINIC-USB")));
    ok = saveWithAlerts(window, folder, QStringLiteral("export-drive-full.png")) && ok;
    quorin::Alert::dismissAll();

    // Five wrong codes (the mistyped one above was the first): the export locked, and the screen
    // saying for how long.
    for (int attempt = 1; attempt < quorin::PasscodeLock::kAttempts; ++attempt) {
      start->passcodeField()->setText(QStringLiteral("1111"));
      start->textFieldShouldReturn(start->passcodeField());
    }
    quorin::Alert::dismissAll();
    start->passcodeField()->setFocus();
    start->passcodeField()->setText(QStringLiteral("12"));
    ok = save(window, folder, QStringLiteral("start-locked.png")) && ok;
    start->passcodeField()->clear();

    // The questionnaire, page by page, as a person fills it in.
    quorin::ScrollView::setDefaultAnimationDuration(0);
    delegate.startScreener();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto* flow = dynamic_cast<quorin::PageController*>(window.rootViewController());
    const auto showPage = [&](int page, const QString& name) {
      flow->scrollToPage(page);
      return save(window, folder, name);
    };
    ok = showPage(0, QStringLiteral("title.png")) && ok;
    ok = showPage(1, QStringLiteral("intro.png")) && ok;
    ok = showPage(2, QStringLiteral("about.png")) && ok;
    ok = showPage(3, QStringLiteral("committee.png")) && ok;
    flow->scrollToPage(quorin::PageController::kToolPage);
    auto* questions = dynamic_cast<quorin::ToolPageController*>(flow->views()[4].get());
    const int answers[] = {1, 2, 0, 3, 1, 2, 0, 1};
    for (int q = 1; q <= 8; ++q) questions->answerButton(q, answers[q - 1])->click();
    questions->helpYesButton()->click();
    questions->showResults(nullptr);
    ok = save(window, folder, QStringLiteral("questions.png")) && ok;
    clock->advance(quorin::ToolPageController::kScoreDelay);  // the move to the score page
    ok = save(window, folder, QStringLiteral("score.png")) && ok;
    ok = showPage(6, QStringLiteral("practice.png")) && ok;

    // Left alone on a page other than the title page: the time-out warning, answered at once.
    const auto showTimeoutWarning = [&](const QString& name) {
      flow->scrollToPage(2);
      clock->advance(std::chrono::seconds(delegate.inactivityTimout()));
      ok = saveWithAlerts(window, folder, name) && ok;
      quorin::Alert::dismissAll();
    };
    const QString pages[] = {"title",     "intro", "about",   "committee",
                             "questions", "score", "practice"};
    const auto showEveryScreen = [&](const QString& suffix) {
      for (int page = 0; page < quorin::PageController::kPageCount; ++page) {
        ok = showPage(page, pages[page] + suffix) && ok;
      }
      showTimeoutWarning("timeout-warning" + suffix);
    };

    // Every screen again with each reading aid (alerts follow the look), switched on by its
    // toggle on the title page.
    for (const char* aid : {"largerText", "highContrast"}) {
      flow->scrollToPage(0);
      const auto toggles = flow->views()[0]->view()->findChildren<quorin::AidToggle*>();
      const auto toggle = std::find_if(toggles.begin(), toggles.end(), [&](QWidget* w) {
        return w->property("aid").toString() == QLatin1String(aid);
      });
      if (toggle == toggles.end()) return 1;
      (*toggle)->click();
      showEveryScreen(aid == std::string_view("largerText") ? "-large.png" : "-contrast.png");
      flow->scrollToPage(0);
      (*toggle)->click();
    }
    showTimeoutWarning(QStringLiteral("timeout-warning.png"));

    // Every screen in Spanish, with the answers given above still chosen.
    flow->setLanguage(QStringLiteral("es"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    showEveryScreen(QStringLiteral("-es.png"));
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return ok ? 0 : 1;
}
