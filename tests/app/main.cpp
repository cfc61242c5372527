// The kiosk's test runner: a QApplication (offscreen unless the environment chooses another) with
// the compiled-in resources; after each test, alerts left on screen and deferred deletions go.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/alert.hpp"
#include "platform/resources.hpp"

namespace {

class QtCleanup : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& /*info*/) override {
    quorin::Alert::dismissAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

}  // namespace

// Qt 6.4 never frees the gesture recognizer QScroller::grabGesture registers for each ScrollView
// (16 bytes); the tests make dozens. Read by LeakSanitizer in sanitizer builds.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:QScroller::grabGesture\n"; }

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::addLibraryPath(QStringLiteral(QUORIN_TEST_SPEECH_PLUGINS));
  quorin::initResources();
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new QtCleanup);
  return RUN_ALL_TESTS();
}
