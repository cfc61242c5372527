// Interface files: the loader (outlets, the allowed actions, override folder), tags, and the
// built-in screens laid out for touch.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "kiosk_test_support.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/view_controller.hpp"
#include "start_controller.hpp"

namespace quorin::testing {
namespace {

// Wraps widget XML in a .ui document whose top widget is "Form".
QByteArray uiDocument(const QByteArray& children) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>Form</class>"
         "<widget class=\"QWidget\" name=\"Form\">" +
         children + "</widget></ui>";
}
// A widget of class `cls` named `name`, with an action (and its signal) when given.
QByteArray widget(const QByteArray& cls, const QByteArray& name, const QByteArray& action = {},
                  const QByteArray& extra = {}) {
  const QByteArray property = action.isEmpty() ? QByteArray()
                                               : "<property name=\"action\" stdset=\"0\"><string>" +
                                                     action + "</string></property>";
  return "<widget class=\"" + cls + "\" name=\"" + name + "\">" + property + extra + "</widget>";
}
QByteArray inLayout(const QList<QByteArray>& widgets) {
  QByteArray items;
  for (const QByteArray& w : widgets) items += "<item>" + w + "</item>";
  return "<layout class=\"QVBoxLayout\">" + items + "</layout>";
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

// The actions the test screens offer; "vanish:" is offered but ActionOwner has no such method.
const QStringList kActions = {"pressed:", "plain", "startScreener:", "vanish:"};

class InterfaceLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    InterfaceLoader::setOverrideFolder(QString());
  }
  void TearDown() override { InterfaceLoader::setOverrideFolder(QString()); }
  QString write(const QString& name, const QByteArray& content) {
    QFile file(dir_.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return file.fileName();
  }
  // An outlet that stores what it is given in `*into`.
  template <class T>
  static Outlet outlet(const char* name, T** into) {
    return {name, &T::staticMetaObject, [into](QObject* o) { *into = qobject_cast<T*>(o); }};
  }

  QTemporaryDir dir_;
  ActionOwner owner_;
};

TEST_F(InterfaceLoaderTest, FaultsAreNamedAndNothingIsWired) {
  const std::pair<QByteArray, QString> cases[] = {
      {widget("QPushButton", "other"), "outlet 'go' (QPushButton) is missing"},
      {widget("QLabel", "go"), "outlet 'go' is a QLabel, not a QPushButton"},
      {widget("QPushButton", "go", "vanish:"), "control 'go' names the action 'vanish:', which"},
      // A method the owner has but the screen does not offer.
      {widget("QPushButton", "go", "deleteLater"),
       "names the action 'deleteLater', which this screen does not offer"},
      {widget("QPushButton", "go") + widget("QLabel", "label", "pressed:"),
       "control 'label' (QLabel) has no signal to send the action 'pressed:'"},
  };
  for (const auto& [children, expected] : cases) {
    SCOPED_TRACE(expected.toStdString());
    const QString path = write("Broken.ui", uiDocument(children));
    QObject* assigned = nullptr;
    const Outlet go{"go", &QPushButton::staticMetaObject, [&](QObject* o) { assigned = o; }};
    QString error;
    std::unique_ptr<QWidget> form(InterfaceLoader::loadFile(path, &owner_, {go}, kActions, &error));
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(assigned, nullptr);
    EXPECT_TRUE(error.startsWith("Broken.ui (" + path + "): ")) << error.toStdString();
    EXPECT_TRUE(error.contains(expected)) << error.toStdString();
  }
  QString error;
  EXPECT_EQ(InterfaceLoader::loadFile(dir_.filePath("Absent.ui"), &owner_, {}, kActions, &error),
            nullptr);
  EXPECT_TRUE(error.contains("Absent.ui") && error.contains("cannot open")) << error.toStdString();
  const QString garbage = write("Garbage.ui", "this is not an interface file");
  EXPECT_EQ(InterfaceLoader::loadFile(garbage, &owner_, {}, kActions, &error), nullptr);
  EXPECT_TRUE(error.contains("Garbage.ui") && error.contains("not a valid interface file"))
      << error.toStdString();
}

TEST_F(InterfaceLoaderTest, ActionsReachTheOwnerWithTheirSender) {
  const QByteArray items =
      "<item><property name=\"text\"><string>a</string></property></item>"
      "<item><property name=\"text\"><string>b</string></property></item>";
  const QByteArray combo =
      widget("QComboBox", "combo", "pressed:",
             "<property name=\"actionSignal\" stdset=\"0\"><string>currentIndexChanged</string>"
             "</property>" +
                 items);
  QString error;
  std::unique_ptr<QWidget> form(InterfaceLoader::loadFile(
      write("Actions.ui", uiDocument(inLayout({widget("QPushButton", "withSender", "pressed:"),
                                               widget("QPushButton", "withoutSender", "plain"),
                                               widget("QSpinBox", "spin", "pressed:"), combo}))),
      &owner_, {}, kActions, &error));
  ASSERT_NE(form, nullptr) << error.toStdString();

  auto* withSender = form->findChild<QPushButton*>("withSender");
  QTest::mouseClick(withSender, Qt::LeftButton);
  QTest::mouseClick(form->findChild<QPushButton*>("withoutSender"), Qt::LeftButton);
  EXPECT_EQ(owner_.plainCount, 1);
  auto* spin = form->findChild<QSpinBox*>("spin");
  spin->setValue(5);  // valueChanged is the default signal of a value control
  form->findChild<QComboBox*>("combo")->setCurrentIndex(1);  // the signal named by actionSignal
  EXPECT_EQ(owner_.senders,
            (std::vector<QObject*>{withSender, spin, form->findChild<QComboBox*>()}));
}

TEST_F(InterfaceLoaderTest, OverrideFolderIsPreferredAndAFaultyOverrideFallsBack) {
  QLineEdit* passcode = nullptr;
  InterfaceLoader::setOverrideFolder(dir_.path());
  write("Start.ui", uiDocument(widget("QLineEdit", "passcodeField", {},
                                      "<property name=\"placeholderText\"><string>Code, please"
                                      "</string></property>")));
  std::unique_ptr<QWidget> overridden(
      InterfaceLoader::load("Start", &owner_, {outlet("passcodeField", &passcode)}, kActions));
  ASSERT_NE(passcode, nullptr);
  EXPECT_EQ(passcode->placeholderText(), "Code, please");

  passcode = nullptr;
  write("Start.ui", uiDocument(widget("QLineEdit", "misspelledField")));
  std::unique_ptr<QWidget> fallback(
      InterfaceLoader::load("Start", &owner_, {outlet("passcodeField", &passcode)}, kActions));
  ASSERT_NE(passcode, nullptr);
  EXPECT_EQ(passcode->placeholderText(), "Passcode");  // the built-in wording
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

// The start screen and the seven pages in the kiosk's style on a portrait tablet: every control
// fits a fingertip and lies inside its screen, text is readable at arm's length and never cut off.
class LayoutTest : public PageFlowFixture {
 protected:
  void SetUp() override {
    applyKioskStyle(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    PageFlowFixture::SetUp();
  }
  void TearDown() override {
    PageFlowFixture::TearDown();
    qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
  }
  static void expectLaidOutForTouch(QWidget* screen, QSize control, int font) {
    SCOPED_TRACE(screen->objectName().toStdString());
    const auto inside = [screen](QWidget* w) {
      return screen->rect().contains(QRect(w->mapTo(screen, QPoint(0, 0)), w->size()));
    };
    int controls = 0;
    for (QWidget* w : screen->findChildren<QWidget*>()) {
      if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
      ++controls;
      SCOPED_TRACE(w->objectName().toStdString());
      EXPECT_GE(w->width(), control.width());
      EXPECT_GE(w->height(), control.height());
      EXPECT_GE(w->font().pixelSize(), font);
      EXPECT_TRUE(inside(w));
    }
    EXPECT_GT(controls, 0) << "every screen offers something to tap";
    for (QLabel* label : screen->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;
      SCOPED_TRACE(label->objectName().toStdString());
      EXPECT_GE(label->font().pixelSize(), 18);
      const int needed =
          label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
      EXPECT_LE(needed, label->height() + 1) << label->text().toStdString();
      EXPECT_TRUE(label->wordWrap() || label->sizeHint().width() <= label->width() + 1);
      EXPECT_TRUE(inside(label));
    }
  }
};

TEST_F(LayoutTest, EveryScreenIsLaidOutForTouch) {
  QWidget* startView = app_->window().rootViewController()->view();
  app_->window().resize(768, 1024);
  QCoreApplication::processEvents();
  expectLaidOutForTouch(startView, QSize(48, 48), 22);
  EXPECT_EQ(startView->findChildren<QLineEdit*>().size(), 2);        // time-out and passcode
  EXPECT_EQ(startView->findChildren<QAbstractButton*>().size(), 1);  // start
  start();
  for (const auto& page : flow().views()) expectLaidOutForTouch(page->view(), QSize(80, 56), 18);
}

TEST_F(LayoutTest, ChosenAnswersLookDifferent) {
  start();
  goToPage(4);
  QAbstractButton* chosen = toolPage().answerButton(2, 1);
  QAbstractButton* other = toolPage().answerButton(2, 2);
  const QImage before = chosen->grab().toImage();
  answer(2, 1);
  const QImage after = chosen->grab().toImage();
  EXPECT_NE(before, after);
  // A filled, dark button: its middle is far from the white of an unchosen one.
  EXPECT_LT(after.pixelColor(4, after.height() / 2).lightness(), 120);
  EXPECT_GT(other->grab().toImage().pixelColor(4, other->height() / 2).lightness(), 200);
}

}  // namespace
}  // namespace quorin::testing

#include "interface_test.moc"
