// The launch and the page flow with its question page, where the acceptance suite cannot reach
// cheaply: a stored session at launch, zoom (no pinch there), the 45-second replacement time-out,
// the click, and the 4-second move.
#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <limits>

#include "kiosk_test_support.hpp"
#include "platform/aid_toggle.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/language.hpp"
#include "score_page_controller.hpp"

namespace quorin::testing {
namespace {

// Logged once and cleared when complete, before the start screen; left for the flow otherwise.
TEST(LaunchTest, AStoredSessionIsLoggedAndClearedOnlyWhenComplete) {
  const Date began = std::chrono::sys_days{std::chrono::April / 2 / 2013};
  for (const int last : {1, -1}) {
    SCOPED_TRACE(last);
    KioskHome home;
    Tool stored(home.store);
    for (int q = 1; q <= 8; ++q) stored.setAnswer(q == 8 ? last : kComplete[q - 1], q);
    stored.setHelpWanted(true);
    stored.setStartDate(began);
    for (int launch = 0; launch < 2; ++launch) {  // a second launch logs nothing more
      auto app = home.launch();
      EXPECT_EQ(home.results(), last == 1
                                    ? "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n"
                                      "1,2013-04-02 00:00:00 +0000,4,Y,3,2,1,0,2,2,0,1\n"
                                    : "");
      EXPECT_EQ(app->tool().answerAsString(7), last == 1 ? "" : "0");
      EXPECT_EQ(app->tool().helpWanted(), last != 1);
      EXPECT_EQ(app->tool().startDate(), last == 1 ? kLaunchTime : began);
    }
  }
}

using PageFlowTest = PageFlowFixture;

// Below 10 seconds, the flow waits 45; the setting itself is left alone.
TEST_F(PageFlowTest, ShortTimeoutsBecome45Seconds) {
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  for (const auto& [stored, interval] : {std::pair{9, 45}, {10, 10}, {kMin, 45}, {kMax, kMax}}) {
    SCOPED_TRACE(stored);
    TearDown();
    SetUp();
    app_->setInactivityTimout(stored);
    start();
    EXPECT_EQ(app_->inactivityTimout(), stored);
    goToPage(1);
    advance(milliseconds(interval * 1000LL - 1));
    EXPECT_EQ(flow().resetView(), nullptr);
    advance(milliseconds(1));
    ASSERT_NE(flow().resetView(), nullptr);
  }
}

// Zoomed in, the page is the one under the centre. Ending a pinch at 1.15 or below snaps back;
// above, the strip is free until the next page scroll, which un-zooms and scrolls 0.01 s later.
TEST_F(PageFlowTest, ZoomGivesThePageAndSnapsBackBelowTheLimit) {
  start();
  scrollView().setZoomScale(2.0f);
  scrollTo(3);
  EXPECT_EQ(flow().currentPage(), 1);  // floor(3.5 / 2)
  for (const float scale : {1.1f, 1.15f, 1.5f}) {
    SCOPED_TRACE(scale);
    scrollView().setZoomScale(1.0f);
    goToPage(2);
    scrollView().pinchBegan(QPointF(200, 300));
    scrollView().pinchChanged(scale, QPointF(200, 300));
    scrollView().pinchEnded();
    const bool frees = scale > 1.2f;
    EXPECT_EQ(scrollView().isPagingEnabled(), !frees);
    if (frees) flow().scrollToPage(1);
    advance(milliseconds(9));
    EXPECT_EQ(scrollView().zoomScale(), 1.0f) << "back to scale 1 at once, without animation";
    EXPECT_EQ(flow().currentPage(), 2);
    advance(milliseconds(1));
    EXPECT_EQ(scrollView().contentOffset().x(), (frees ? 1 : 2) * scrollView().frame().width());
    EXPECT_EQ(flow().currentPage(), frees ? 1 : 2);
    EXPECT_TRUE(scrollView().isPagingEnabled() && scrollView().bouncesZoom());
  }
}

// The reading aids last for one session: a restart, and a whole interval left alone on the
// title page (a touch on a toggle starts one), turn both off and show them off, and the latter
// also undoes a zoom.
TEST_F(PageFlowTest, ReadingAidsEndWithTheSession) {
  start();
  const auto toggles = flow().views()[0]->view()->findChildren<AidToggle*>();
  ASSERT_EQ(toggles.size(), 2);
  for (const bool restart : {true, false}) {
    SCOPED_TRACE(restart ? "restart" : "time-out");
    advance(milliseconds(flow().timeout() * 1000 - 1));
    for (AidToggle* toggle : toggles) toggle->click();
    EXPECT_EQ(currentKioskLook(), (KioskLook{true, true}));
    if (restart) {
      goToPage(4);
      answer(1, 0);
      flow().restartAndForce(true);
    } else {
      scrollView().setZoomScale(2.0f);  // a pinch left behind
      advance(milliseconds(flow().timeout() * 1000 - 1));
      EXPECT_EQ(currentKioskLook(), (KioskLook{true, true}));
      advance(milliseconds(1));
      EXPECT_EQ(flow().resetView(), nullptr) << "an idle title page asks nothing";
      EXPECT_EQ(scrollView().zoomScale(), 1.0f);
    }
    EXPECT_EQ(currentKioskLook(), KioskLook{});
    for (AidToggle* toggle : toggles) EXPECT_FALSE(toggle->isChecked());
  }
  qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
}

// The time-out warning's buttons keep their meaning when the language changes under it (a
// screen reader still reaches the language buttons): "More Time" gives a whole interval,
// "Restart" starts over.
TEST_F(PageFlowTest, TheWarningsButtonsHoldAcrossALanguageChange) {
  start();
  goToPage(4);
  answer(1, 0);
  advance(milliseconds(flow().timeout() * 1000));
  ASSERT_NE(flow().resetView(), nullptr);
  flow().setLanguage(QStringLiteral("es"));
  flow().resetView()->button(0)->click();  // "More Time", in English
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  advance(milliseconds(flow().timeout() * 1000 - 1));
  EXPECT_EQ(flow().resetView(), nullptr);
  advance(milliseconds(1));
  ASSERT_NE(flow().resetView(), nullptr);
  flow().setLanguage(Language::kSource);
  flow().resetView()->button(1)->click();  // "Empezar de nuevo"
  EXPECT_EQ(app_->tool().answerAsString(1), "");
  EXPECT_EQ(flow().currentPage(), 0);
}

// Each answer and help touch clicks and gives a whole interval; asking for the result does not.
// Four seconds after that, the flow moves to the score page only if the question page is shown
// then and the session still complete.
TEST_F(PageFlowTest, TheQuestionPageClicksAndMovesOnAfterFourSeconds) {
  start();
  goToPage(4);
  for (int q = 1; q <= 8; ++q) {
    advance(std::chrono::seconds(20));
    answer(q, kComplete[q - 1]);
  }
  advance(std::chrono::seconds(20));
  toolPage().helpYesButton()->click();
  advance(std::chrono::seconds(28));  // past the interval of the last answer
  EXPECT_EQ(flow().resetView(), nullptr);
  EXPECT_EQ(toolPage().sound().playCount(), 9);
  const auto askThenWait = [&](int expected, auto meanwhile) {
    goToPage(4);
    showResults();
    advance(std::chrono::seconds(1));
    meanwhile();
    advance(std::chrono::seconds(3));
    EXPECT_EQ(flow().currentPage(), expected);
  };
  askThenWait(3, [&] { goToPage(3); });
  askThenWait(5, [&] {
    goToPage(3);
    goToPage(4);
  });
  askThenWait(5, [&] {
    answer(4, 3);  // clears the score, but the session is still complete
    auto* scorePage = static_cast<ScorePageController*>(flow().views()[5].get());
    EXPECT_EQ(toolPage().scoreButton()->text() + scorePage->scoreLabel()->text(), "");
  });
  askThenWait(4, [&] {
    flow().restartAndForce(false);  // complete: logged, no question asked
    goToPage(4);
  });
  EXPECT_EQ(std::ranges::count(home_->results(), '\n'), 2) << "the header and one row";
  showResults();  // incomplete now: a reminder
  Alert::dismissAll();
  advance(std::chrono::seconds(26));
  EXPECT_EQ(flow().resetView(), nullptr);
  advance(std::chrono::seconds(1));
  EXPECT_NE(flow().resetView(), nullptr);
  EXPECT_EQ(toolPage().sound().playCount(), 10);
}

}  // namespace
}  // namespace quorin::testing
