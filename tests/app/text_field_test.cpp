#include "platform/text_field.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

namespace quorin {
namespace {

struct RecordingDelegate : TextFieldDelegate {
  bool textFieldShouldReturn(QLineEdit* field) override {
    returns.push_back(field);
    return allowReturn;
  }
  void textFieldDidEndEditing(QLineEdit* field) override { ended.push_back(field); }
  bool allowReturn = true;
  std::vector<QLineEdit*> returns;
  std::vector<QLineEdit*> ended;
};

class TextFieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QVBoxLayout(&window_);
    first_ = new QLineEdit;
    second_ = new QLineEdit;
    layout->addWidget(first_);
    layout->addWidget(second_);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    setTextFieldDelegate(first_, &delegate_);
  }

  QWidget window_;
  QLineEdit* first_ = nullptr;
  QLineEdit* second_ = nullptr;
  RecordingDelegate delegate_;
};

TEST_F(TextFieldTest, RefusedReturnKeepsTextAndFocus) {
  QSignalSpy qtReturn(first_, &QLineEdit::returnPressed);
  first_->setFocus();
  QTest::keyClicks(first_, "7395 ");
  delegate_.allowReturn = false;
  QTest::keyClick(first_, Qt::Key_Return);
  EXPECT_EQ(delegate_.returns, std::vector<QLineEdit*>{first_});
  EXPECT_TRUE(delegate_.ended.empty());
  EXPECT_TRUE(first_->hasFocus());
  EXPECT_EQ(first_->text(), "7395 ");
  EXPECT_EQ(qtReturn.count(), 0);  // the delegate decides, not QLineEdit
}

TEST_F(TextFieldTest, AllowedReturnEndsEditing) {
  first_->setFocus();
  QTest::keyClick(first_, Qt::Key_Enter);
  EXPECT_EQ(delegate_.returns, std::vector<QLineEdit*>{first_});
  EXPECT_EQ(delegate_.ended, std::vector<QLineEdit*>{first_});
  EXPECT_FALSE(first_->hasFocus());
}

TEST_F(TextFieldTest, MovingToAnotherFieldEndsEditing) {
  first_->setFocus();
  second_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(delegate_.ended, std::vector<QLineEdit*>{first_});
  EXPECT_TRUE(delegate_.returns.empty());
}

TEST_F(TextFieldTest, APopupDoesNotEndEditingAndARemovedDelegateHearsNothing) {
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QCoreApplication::sendEvent(first_, &popup);
  EXPECT_TRUE(delegate_.ended.empty());

  setTextFieldDelegate(first_, nullptr);
  first_->setFocus();
  second_->setFocus();
  QTest::keyClick(first_, Qt::Key_Return);
  EXPECT_TRUE(delegate_.ended.empty());
  EXPECT_TRUE(delegate_.returns.empty());
}

TEST_F(TextFieldTest, ReplacingTheDelegateLeavesOnlyTheNewOne) {
  RecordingDelegate other;
  setTextFieldDelegate(first_, &other);
  first_->setFocus();
  QTest::keyClick(first_, Qt::Key_Return);
  EXPECT_TRUE(delegate_.returns.empty());
  EXPECT_EQ(other.returns.size(), 1u);
}

}  // namespace
}  // namespace quorin
