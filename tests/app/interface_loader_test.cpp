#include "platform/interface_loader.hpp"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "platform/view_controller.hpp"

namespace quorin {
namespace {

// Wraps widget XML in a .ui document whose top widget is "Form".
QByteArray uiDocument(const QByteArray& children) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>Form</class>"
         "<widget class=\"QWidget\" name=\"Form\">" +
         children + "</widget></ui>";
}

QByteArray button(const QByteArray& name, const QByteArray& extra = {}) {
  return "<widget class=\"QPushButton\" name=\"" + name + "\">" + extra + "</widget>";
}

QByteArray dynamicProperty(const QByteArray& name, const QByteArray& value) {
  return "<property name=\"" + name + "\" stdset=\"0\">" + value + "</property>";
}

class ActionOwner : public QObject {
  Q_OBJECT

 public:
  Q_INVOKABLE void pressed(QObject* sender) { senders.push_back(sender); }
  Q_INVOKABLE void plain() { ++plainCount; }
  Q_INVOKABLE void startScreener(QObject* sender) { senders.push_back(sender); }

  std::vector<QObject*> senders;
  int plainCount = 0;
};

class InterfaceLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    InterfaceLoader::setOverrideFolder(QString());
  }
  void TearDown() override { InterfaceLoader::setOverrideFolder(QString()); }

  QString write(const QString& name, const QByteArray& content) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
  }

  QTemporaryDir dir_;
  ActionOwner owner_;
};

TEST_F(InterfaceLoaderTest, AssignsOutletsOfTheRightClass) {
  const QString path =
      write("Form.ui", uiDocument("<layout class=\"QVBoxLayout\"><item>" + button("go") +
                                  "</item><item>"
                                  "<widget class=\"QLineEdit\" name=\"field\"/>"
                                  "</item></layout>"));
  QPushButton* go = nullptr;
  QLineEdit* field = nullptr;
  const std::vector<Outlet> outlets = {
      {"go", &QPushButton::staticMetaObject,
       [&](QObject* o) { go = qobject_cast<QPushButton*>(o); }},
      {"field", &QLineEdit::staticMetaObject,
       [&](QObject* o) { field = qobject_cast<QLineEdit*>(o); }},
  };
  QString error;
  std::unique_ptr<QWidget> form(InterfaceLoader::loadFile(path, &owner_, outlets, &error));
  ASSERT_NE(form, nullptr) << error.toStdString();
  ASSERT_NE(go, nullptr);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(go->window(), form.get());
  EXPECT_EQ(field->objectName(), "field");
}

TEST_F(InterfaceLoaderTest, FaultsAreNamedAndNothingIsWired) {
  struct Case {
    const char* what;
    QByteArray children;
    QString expectedInError;
  };
  const Case cases[] = {
      {"missing outlet", button("other"), "outlet 'go' (QPushButton) is missing"},
      {"mistyped outlet", "<widget class=\"QLabel\" name=\"go\"/>",
       "outlet 'go' is a QLabel, not a QPushButton"},
      {"unknown action", button("go", dynamicProperty("action", "<string>vanish:</string>")),
       "control 'go' names the action 'vanish:', which"},
      {"no signal for the action",
       button("go") + "<widget class=\"QLabel\" name=\"label\">" +
           dynamicProperty("action", "<string>pressed:</string>") + "</widget>",
       "control 'label' (QLabel) has no signal to send the action 'pressed:'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = write("Broken.ui", uiDocument(c.children));
    QObject* assigned = nullptr;
    const std::vector<Outlet> outlets = {
        {"go", &QPushButton::staticMetaObject, [&](QObject* o) { assigned = o; }}};
    QString error;
    std::unique_ptr<QWidget> form(InterfaceLoader::loadFile(path, &owner_, outlets, &error));
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(assigned, nullptr);
    EXPECT_TRUE(error.startsWith("Broken.ui (" + path + "): ")) << error.toStdString();
    EXPECT_TRUE(error.contains(c.expectedInError)) << error.toStdString();
  }
}

TEST_F(InterfaceLoaderTest, UnreadableOrInvalidFilesAreErrors) {
  QString error;
  EXPECT_EQ(InterfaceLoader::loadFile(dir_.filePath("Absent.ui"), &owner_, {}, &error), nullptr);
  EXPECT_TRUE(error.contains("Absent.ui") && error.contains("cannot open")) << error.toStdString();
  const QString garbage = write("Garbage.ui", "this is not an interface file");
  EXPECT_EQ(InterfaceLoader::loadFile(garbage, &owner_, {}, &error), nullptr);
  EXPECT_TRUE(error.contains("Garbage.ui") && error.contains("not a valid interface file"))
      << error.toStdString();
}

TEST_F(InterfaceLoaderTest, ActionsReachTheOwnerWithTheirSender) {
  const QByteArray children =
      "<layout class=\"QVBoxLayout\"><item>" +
      button("withSender", dynamicProperty("action", "<string>pressed:</string>")) +
      "</item><item>" +
      button("withoutSender", dynamicProperty("action", "<string>plain</string>")) +
      "</item><item><widget class=\"QSpinBox\" name=\"spin\">" +
      dynamicProperty("action", "<string>pressed:</string>") +
      "</widget></item><item><widget class=\"QComboBox\" name=\"combo\">" +
      dynamicProperty("action", "<string>pressed:</string>") +
      dynamicProperty("actionSignal", "<string>currentIndexChanged</string>") +
      "<item><property name=\"text\"><string>a</string></property></item>"
      "<item><property name=\"text\"><string>b</string></property></item>"
      "</widget></item></layout>";
  QString error;
  std::unique_ptr<QWidget> form(
      InterfaceLoader::loadFile(write("Actions.ui", uiDocument(children)), &owner_, {}, &error));
  ASSERT_NE(form, nullptr) << error.toStdString();

  auto* withSender = form->findChild<QPushButton*>("withSender");
  QTest::mouseClick(withSender, Qt::LeftButton);
  ASSERT_EQ(owner_.senders.size(), 1u);
  EXPECT_EQ(owner_.senders[0], withSender);

  QTest::mouseClick(form->findChild<QPushButton*>("withoutSender"), Qt::LeftButton);
  EXPECT_EQ(owner_.plainCount, 1);
  EXPECT_EQ(owner_.senders.size(), 1u);

  auto* spin = form->findChild<QSpinBox*>("spin");
  spin->setValue(5);  // valueChanged is the default signal of a value control
  ASSERT_EQ(owner_.senders.size(), 2u);
  EXPECT_EQ(owner_.senders[1], spin);

  auto* combo = form->findChild<QComboBox*>("combo");
  combo->setCurrentIndex(1);  // the signal named by actionSignal
  ASSERT_EQ(owner_.senders.size(), 3u);
  EXPECT_EQ(owner_.senders[2], combo);
}

TEST_F(InterfaceLoaderTest, OverrideFolderIsPreferredAndAFaultyOverrideFallsBack) {
  // The built-in Start file, with the start control wired to the owner.
  QLineEdit* passcode = nullptr;
  const std::vector<Outlet> outlets = {
      {"passcodeField", &QLineEdit::staticMetaObject,
       [&](QObject* o) { passcode = qobject_cast<QLineEdit*>(o); }}};

  InterfaceLoader::setOverrideFolder(dir_.path());
  write("Start.ui", uiDocument("<widget class=\"QLineEdit\" name=\"passcodeField\">"
                               "<property name=\"placeholderText\"><string>Code, please</string>"
                               "</property></widget>"));
  std::unique_ptr<QWidget> overridden(InterfaceLoader::load("Start", &owner_, outlets));
  ASSERT_NE(passcode, nullptr);
  EXPECT_EQ(passcode->placeholderText(), "Code, please");

  passcode = nullptr;
  write("Start.ui", uiDocument("<widget class=\"QLineEdit\" name=\"misspelledField\"/>"));
  std::unique_ptr<QWidget> fallback(InterfaceLoader::load("Start", &owner_, outlets));
  ASSERT_NE(passcode, nullptr);
  EXPECT_EQ(passcode->placeholderText(), "Passcode");  // the built-in wording
}

class Badge : public QLabel {
  Q_OBJECT

 public:
  explicit Badge(QWidget* parent) : QLabel(parent) { setText("made by the app"); }
};

TEST_F(InterfaceLoaderTest, AppWidgetClassesAreMadeByTheirFactory) {
  InterfaceLoader::registerWidgetClass("Badge", [](QWidget* parent) { return new Badge(parent); });
  const QByteArray document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>Form</class>"
      "<widget class=\"QWidget\" name=\"Form\"><widget class=\"Badge\" name=\"badge\"/></widget>"
      "<customwidgets><customwidget><class>Badge</class><extends>QLabel</extends>"
      "<header>badge.hpp</header></customwidget></customwidgets></ui>";
  Badge* badge = nullptr;
  const std::vector<Outlet> outlets = {
      {"badge", &Badge::staticMetaObject, [&](QObject* o) { badge = qobject_cast<Badge*>(o); }}};
  QString error;
  std::unique_ptr<QWidget> form(
      InterfaceLoader::loadFile(write("Custom.ui", document), &owner_, outlets, &error));
  ASSERT_NE(form, nullptr) << error.toStdString();
  ASSERT_NE(badge, nullptr);
  EXPECT_EQ(badge->text(), "made by the app");
}

TEST(ViewWithTagTest, FindsTheViewOrADescendant) {
  QWidget root;
  auto* row = new QWidget(&root);
  auto* deep = new QPushButton(row);
  auto* untagged = new QPushButton(&root);
  root.setProperty("tag", 7);
  row->setProperty("tag", 3);
  deep->setProperty("tag", 803);

  EXPECT_EQ(viewWithTag(&root, 7), &root);
  EXPECT_EQ(viewWithTag(&root, 3), row);
  EXPECT_EQ(viewWithTag(&root, 803), deep);
  EXPECT_EQ(viewWithTag(row, 803), deep);
  EXPECT_EQ(viewWithTag(row, 7), nullptr);  // only the view and below
  EXPECT_EQ(viewWithTag(&root, 100), nullptr);
  EXPECT_EQ(viewWithTag(nullptr, 3), nullptr);
  EXPECT_EQ(tagOf(untagged), 0);
  EXPECT_EQ(viewWithTag(&root, 0), untagged);
}

class CountingController : public ViewController {
  Q_OBJECT

 public:
  CountingController() : ViewController("Start") { declareOutlet("passcodeField", &passcodeField); }
  Q_INVOKABLE void startScreener(QObject*) {}

  QLineEdit* passcodeField = nullptr;
  QLineEdit* passcodeSeenAtLoad = nullptr;
  int loads = 0;

 protected:
  void viewDidLoad() override {
    ++loads;
    passcodeSeenAtLoad = passcodeField;
  }
};

TEST(ViewControllerTest, LoadsOnFirstAccessThenRunsViewDidLoadOnce) {
  QPointer<QWidget> view;
  {
    CountingController controller;
    EXPECT_FALSE(controller.isViewLoaded());
    EXPECT_EQ(controller.loads, 0);
    view = controller.view();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(controller.isViewLoaded());
    EXPECT_EQ(controller.loads, 1);
    EXPECT_NE(controller.passcodeSeenAtLoad, nullptr);  // outlets are set before viewDidLoad
    EXPECT_EQ(controller.view(), view);
    EXPECT_EQ(controller.loads, 1);
  }
  EXPECT_TRUE(view.isNull());  // the controller takes its view with it
}

TEST(ViewControllerTest, TurnsBetweenThePortraitOrientationsOnly) {
  CountingController controller;
  EXPECT_TRUE(controller.shouldAutorotateToInterfaceOrientation(InterfaceOrientation::Portrait));
  EXPECT_TRUE(
      controller.shouldAutorotateToInterfaceOrientation(InterfaceOrientation::PortraitUpsideDown));
  EXPECT_FALSE(
      controller.shouldAutorotateToInterfaceOrientation(InterfaceOrientation::LandscapeLeft));
  EXPECT_FALSE(
      controller.shouldAutorotateToInterfaceOrientation(InterfaceOrientation::LandscapeRight));
}

}  // namespace
}  // namespace quorin

#include "interface_loader_test.moc"
