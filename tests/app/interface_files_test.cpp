// Every interface file compiled into the kiosk loads from the built-in resources with all the
// outlets and actions its controller declares, and is laid out for touch.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <functional>
#include <map>

#include "kiosk_test_support.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "start_controller.hpp"

namespace quorin {
namespace {

using testing::KioskHome;

// Each interface file and the controller that loads it. A new file needs a row here.
using MakeController = std::function<std::unique_ptr<ViewController>(QuorinAppDelegate&)>;
const std::map<QString, MakeController>& controllers() {
  static const std::map<QString, MakeController> table = {
      {"Start", [](QuorinAppDelegate& app) { return std::make_unique<StartController>(app); }},
  };
  return table;
}

TEST(InterfaceFilesTest, EveryFileHasAControllerAndLoadsWithItsOutlets) {
  InterfaceLoader::setOverrideFolder(QString());  // the built-in files only
  KioskHome home;
  QuorinAppDelegate app(home.environment());
  app.didFinishLaunching();

  QStringList names;
  for (QDirIterator it(":/ui", {"*.ui"}); it.hasNext();) {
    names.append(QFileInfo(it.next()).completeBaseName());
  }
  ASSERT_FALSE(names.isEmpty());
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const auto found = controllers().find(name);
    ASSERT_NE(found, controllers().end()) << "no controller is known for " << name.toStdString();
    std::unique_ptr<ViewController> controller = found->second(app);
    EXPECT_EQ(controller->interfaceName(), name);
    // A missing outlet or action in a built-in file ends the process with its name.
    ASSERT_NE(controller->view(), nullptr);
  }
  auto* start = dynamic_cast<StartController*>(app.window().rootViewController());
  ASSERT_NE(start, nullptr);
  EXPECT_NE(start->passcodeField(), nullptr);
  EXPECT_NE(start->timeoutField(), nullptr);
  EXPECT_EQ(start->passcodeField()->echoMode(), QLineEdit::Password);
}

TEST(InterfaceFilesTest, TheStartScreenIsLaidOutForTouch) {
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  applyKioskStyle(*application);
  KioskHome home;
  QuorinAppDelegate app(home.environment());
  app.didFinishLaunching();
  QWidget* view = app.window().rootViewController()->view();
  view->window()->resize(768, 1024);
  QCoreApplication::processEvents();

  int controls = 0;
  for (QWidget* control : view->findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QLineEdit*>(control)) continue;
    ++controls;
    SCOPED_TRACE(control->objectName().toStdString());
    EXPECT_GE(control->height(), 48);  // a fingertip, with room to spare
    EXPECT_GE(control->width(), 48);
    EXPECT_GE(control->font().pixelSize(), 22);  // readable at arm's length
    EXPECT_TRUE(view->rect().contains(QRect(control->mapTo(view, QPoint(0, 0)), control->size())));
  }
  EXPECT_EQ(controls, 3);  // time-out, passcode, start
  application->setStyleSheet(QString());
}

}  // namespace
}  // namespace quorin
