// The kiosk's test runner: a QApplication (offscreen unless the environment chooses another
// platform) with the compiled-in resources, then every test. After each test, alerts still on
// screen are dismissed and deferred deletions run, so that no test sees another's leftovers.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/alert.hpp"
#include "platform/resources.hpp"

namespace {

// The offscreen platform says so every time a window asks for something it cannot do; those
// lines say nothing about the code under test.
QtMessageHandler defaultHandler = nullptr;

void quietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  defaultHandler(type, context, text);
}

class QtCleanup : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& /*info*/) override {
    quorin::Alert::dismissAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

}  // namespace

// Qt 6.4 never frees the gesture recognizer QScroller::grabGesture registers for each scrolling
// widget (16 bytes per ScrollView); the kiosk makes one, the tests make dozens. Read by
// LeakSanitizer in sanitizer builds, unused otherwise.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:QScroller::grabGesture\n"; }

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  defaultHandler = qInstallMessageHandler(quietMessageHandler);
  QApplication app(argc, argv);
  QCoreApplication::addLibraryPath(QStringLiteral(QUORIN_TEST_SPEECH_PLUGINS));
  quorin::initResources();
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new QtCleanup);
  return RUN_ALL_TESTS();
}
