// PageControl: the current dot's image, clamping, and what a tap does.
#include "platform/page_control.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace quorin {
namespace {

class PageControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control = std::make_unique<PageControl>();
    control->resize(400, 60);
    control->setNumberOfPages(7);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
  }

  QPoint dotCentre(int page) const { return control->subviews()[page]->geometry().center(); }

  std::unique_ptr<PageControl> control;
};

TEST_F(PageControlTest, ActiveImageIsTheBundledPicture) {
  ASSERT_FALSE(control->activeImage().isNull()) << "pc_active.png is not in the resources";
  EXPECT_EQ(control->activeImage().size(), QSize(44, 44));
}

TEST_F(PageControlTest, CurrentDotAloneShowsTheActiveImage) {
  ASSERT_FALSE(control->activeImage().isNull());
  for (const int page : {3, 0, 6, 3}) {
    control->setCurrentPage(page);
    ASSERT_EQ(control->subviews().size(), 7);
    for (int i = 0; i < 7; ++i) {
      const PageDot* dot = control->subviews()[i];
      if (i == page) {
        EXPECT_EQ(dot->image().cacheKey(), control->activeImage().cacheKey()) << i;
      } else {
        EXPECT_TRUE(dot->image().isNull()) << "dot " << i << " with page " << page;
      }
    }
  }
}

TEST_F(PageControlTest, DotsAreDrawnAsTheyClaim) {
  control->setCurrentPage(3);
  // The active image is a blue disc with a white ring; the plain dots are grey.
  const QImage active = control->subviews()[3]->grab().toImage();
  const QImage plain = control->subviews()[0]->grab().toImage();
  const QColor activeCentre = active.pixelColor(active.rect().center());
  const QColor plainCentre = plain.pixelColor(plain.rect().center());
  EXPECT_GT(activeCentre.blue(), activeCentre.red() + 60) << activeCentre.name().toStdString();
  EXPECT_LT(std::abs(plainCentre.red() - plainCentre.blue()), 30)
      << plainCentre.name().toStdString();
  EXPECT_NE(active, plain);
}

TEST_F(PageControlTest, CurrentPageStaysAmongTheDots) {
  control->setCurrentPage(9);
  EXPECT_EQ(control->currentPage(), 6);
  control->setCurrentPage(-1);
  EXPECT_EQ(control->currentPage(), 0);
  control->setCurrentPage(5);
  control->setNumberOfPages(3);
  EXPECT_EQ(control->currentPage(), 2);
  EXPECT_EQ(control->subviews().size(), 3);
  EXPECT_EQ(control->subviews()[2]->image().cacheKey(), control->activeImage().cacheKey());
}

TEST_F(PageControlTest, TapOnADotMovesThereAndReportsIt) {
  QSignalSpy changed(control.get(), &PageControl::valueChanged);
  int seenInSlot = -1;
  QObject::connect(control.get(), &PageControl::valueChanged, control.get(),
                   [&] { seenInSlot = control->currentPage(); });
  QTest::mouseClick(control.get(), Qt::LeftButton, {}, dotCentre(4));
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.front().front().toInt(), 4);
  EXPECT_EQ(seenInSlot, 4) << "the current page moves before the report";
  EXPECT_EQ(control->subviews()[4]->image().cacheKey(), control->activeImage().cacheKey());

  QTest::mouseClick(control.get(), Qt::LeftButton, {}, dotCentre(4));
  EXPECT_EQ(changed.count(), 1) << "a tap on the current dot changes nothing";
}

TEST_F(PageControlTest, TapBesideTheDotsMovesOnePage) {
  control->setCurrentPage(3);
  QSignalSpy changed(control.get(), &PageControl::valueChanged);
  QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(390, 30));
  EXPECT_EQ(control->currentPage(), 4);
  QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(5, 30));
  EXPECT_EQ(control->currentPage(), 3);
  EXPECT_EQ(changed.count(), 2);
  control->setCurrentPage(0);
  QTest::mouseClick(control.get(), Qt::LeftButton, {}, QPoint(5, 30));
  EXPECT_EQ(control->currentPage(), 0);
  EXPECT_EQ(changed.count(), 2) << "no page before the first";
}

}  // namespace
}  // namespace quorin
