// The seven pages in the kiosk's style on a portrait tablet: every control fits a fingertip and
// lies inside its page, text is large enough for arm's length and no wrapped text is cut off.
#include <QApplication>
#include <QLabel>

#include "page_flow_fixture.hpp"
#include "platform/kiosk_style.hpp"

namespace quorin::testing {
namespace {

class PageLayoutTest : public PageFlowFixture {
 protected:
  void SetUp() override {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    applyKioskStyle(*application);
    PageFlowFixture::SetUp();
    start();
  }
  void TearDown() override {
    PageFlowFixture::TearDown();
    qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
  }
};

TEST_F(PageLayoutTest, ControlsAreTouchSizedAndInsideTheirPage) {
  for (std::size_t i = 0; i < flow().views().size(); ++i) {
    QWidget* page = flow().views()[i]->view();
    SCOPED_TRACE(page->objectName().toStdString());
    const QList<QAbstractButton*> buttons = page->findChildren<QAbstractButton*>();
    EXPECT_FALSE(buttons.isEmpty()) << "every page offers something to tap";
    for (QAbstractButton* button : buttons) {
      SCOPED_TRACE(button->objectName().toStdString());
      EXPECT_GE(button->height(), 56);
      EXPECT_GE(button->width(), 80);
      EXPECT_GE(button->font().pixelSize(), 18);
      const QRect where(button->mapTo(page, QPoint(0, 0)), button->size());
      EXPECT_TRUE(page->rect().contains(where)) << "at " << where.y() << " of " << page->height();
    }
  }
}

TEST_F(PageLayoutTest, TextIsReadableAndNeverCutOff) {
  for (std::size_t i = 0; i < flow().views().size(); ++i) {
    QWidget* page = flow().views()[i]->view();
    SCOPED_TRACE(page->objectName().toStdString());
    for (QLabel* label : page->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;
      SCOPED_TRACE(label->objectName().toStdString());
      EXPECT_GE(label->font().pixelSize(), 18);
      const int needed =
          label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
      EXPECT_LE(needed, label->height() + 1) << label->text().toStdString();
      if (!label->wordWrap()) {
        EXPECT_LE(label->sizeHint().width(), label->width() + 1);
      }
      const QRect where(label->mapTo(page, QPoint(0, 0)), label->size());
      EXPECT_TRUE(page->rect().contains(where));
    }
  }
}

TEST_F(PageLayoutTest, ChosenAnswersLookDifferent) {
  goToPage(4);
  QAbstractButton* chosen = toolPage().answerButton(2, 1);
  QAbstractButton* other = toolPage().answerButton(2, 2);
  const QImage before = chosen->grab().toImage();
  answer(2, 1);
  const QImage after = chosen->grab().toImage();
  EXPECT_NE(before, after);
  // A filled, dark button: its middle is far from the white of an unchosen one.
  const QColor middle = after.pixelColor(4, after.height() / 2);
  const QColor plain = other->grab().toImage().pixelColor(4, other->height() / 2);
  EXPECT_LT(middle.lightness(), 120);
  EXPECT_GT(plain.lightness(), 200);
}

}  // namespace
}  // namespace quorin::testing
