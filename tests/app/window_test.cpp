#include "platform/window.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>

namespace quorin {
namespace {

class MadeInCode : public ViewController {
  Q_OBJECT

 public:
  explicit MadeInCode(QString text) : ViewController("Unused"), text_(std::move(text)) {}

 protected:
  QWidget* loadView() override { return new QLabel(text_); }

 private:
  QString text_;
};

TEST(WindowTest, IsAPortraitTabletByDefault) {
  Window window;
  EXPECT_EQ(window.size(), QSize(768, 1024));
  EXPECT_FALSE(window.kioskMode());
  EXPECT_EQ(window.rootViewController(), nullptr);
}

TEST(WindowTest, ANewRootReplacesAndReleasesTheOldOne) {
  Window window;
  auto first = std::make_unique<MadeInCode>("first");
  QPointer<ViewController> firstController = first.get();
  window.setRootViewController(std::move(first));
  QPointer<QWidget> firstView = firstController->view();
  EXPECT_EQ(firstView->parentWidget(), &window);
  window.makeKeyAndVisible();
  EXPECT_TRUE(firstView->isVisible());

  auto second = std::make_unique<MadeInCode>("second");
  ViewController* secondController = second.get();
  window.setRootViewController(std::move(second));
  EXPECT_EQ(window.rootViewController(), secondController);
  EXPECT_TRUE(secondController->view()->isVisible());
  // The old root may still be in the middle of the event that asked for the change.
  ASSERT_FALSE(firstController.isNull());
  EXPECT_FALSE(firstView->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(firstController.isNull());
  EXPECT_TRUE(firstView.isNull());
}

TEST(WindowTest, KioskModeIsFullScreenWithoutDecorations) {
  Window window;
  window.setKioskMode(true);
  window.makeKeyAndVisible();
  EXPECT_TRUE(window.isFullScreen());
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
}

}  // namespace
}  // namespace quorin

#include "window_test.moc"
