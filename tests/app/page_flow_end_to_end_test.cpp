// One session through the real widgets: the start screen's control, swipes across the strip,
// taps on the answer buttons inside the scaled page strip, the result, the score page, the
// restart, and the row in results.csv.
#include <QRegularExpression>
#include <QScroller>
#include <QTest>

#include "kiosk_test_support.hpp"

namespace quorin::testing {
namespace {

class PageFlowEndToEndTest : public PageFlowFixture {
 protected:
  // A finger drag from right to left across the page strip; waits until the strip rests.
  void swipeLeft() {
    QWidget* surface = scrollView().viewport();
    const int y = surface->height() / 2;
    const int right = surface->width() - 60;
    QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(right, y));
    for (int i = 1; i <= 8; ++i) {
      QTest::mouseMove(surface, QPoint(right - i * 60, y), 20);
      QTest::qWait(20);
    }
    QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(right - 480, y), 20);
    QTRY_COMPARE_WITH_TIMEOUT(scrollView().scroller()->state(), QScroller::Inactive, 5000);
  }

  // Taps `widget`, somewhere on a page of the strip, where the scroll view shows it.
  void tap(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QWidget* strip = scrollView().subviews().front();
    const QPointF content = widget->mapTo(strip, widget->rect().center());
    const QPointF shown = content * qreal{scrollView().zoomScale()} - scrollView().contentOffset();
    ASSERT_TRUE(scrollView().viewport()->rect().contains(shown.toPoint()))
        << widget->objectName().toStdString() << " is not on screen";
    QTest::mouseClick(scrollView().viewport(), Qt::LeftButton, {}, shown.toPoint());
  }
};

TEST_F(PageFlowEndToEndTest, OneSessionFromStartScreenToResultsRow) {
  app_->window().resize(768, 1024);
  QAbstractButton* startButton =
      buttonWithAction(app_->window().rootViewController()->view(), "startScreener:");
  ASSERT_NE(startButton, nullptr);
  QTest::mouseClick(startButton, Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  flow_ = qobject_cast<PageController*>(app_->window().rootViewController());
  ASSERT_NE(flow_, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&app_->window()));

  for (int page = 1; page <= 4; ++page) {
    swipeLeft();
    ASSERT_EQ(flow().currentPage(), page)
        << scrollView().contentOffset().x() << " " << scrollView().frame().width();
    ASSERT_EQ(scrollView().contentOffset(), QPointF(page * pageWidth(), 0));
  }

  const Answers answers = {2, 0, 3, 1, 2, 3, 0, 1};  // score 4
  for (int q = 1; q <= 8; ++q) {
    tap(toolPage().answerButton(q, answers[static_cast<std::size_t>(q - 1)]));
  }
  tap(toolPage().helpYesButton());
  for (int q = 1; q <= 8; ++q) {
    EXPECT_EQ(tool().answerAsString(q), std::to_string(answers[static_cast<std::size_t>(q - 1)]));
  }
  EXPECT_TRUE(tool().helpWanted());
  EXPECT_EQ(toolPage().sound().playCount(), 9);

  tap(control(4, "showResults:"));
  EXPECT_EQ(scores().first, "4");
  advanceSeconds(4);
  ASSERT_EQ(flow().currentPage(), 5);
  EXPECT_EQ(scores().second, "4");

  tap(control(5, "restart:"));
  EXPECT_EQ(flow().currentPage(), 0);
  EXPECT_FALSE(tool().started());
  EXPECT_TRUE(Alert::visibleAlerts().isEmpty());

  const std::vector<std::string> lines = resultLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kHeader);
  const QRegularExpression row(
      QStringLiteral("^1,\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000,4,Y,2,0,3,1,2,3,0,1$"));
  EXPECT_TRUE(row.match(QString::fromStdString(lines[1])).hasMatch()) << lines[1];
}

}  // namespace
}  // namespace quorin::testing
