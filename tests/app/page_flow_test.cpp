// The page flow with its question page, where the acceptance suite cannot reach cheaply: the
// 45-second replacement time-out, an idle zoomed title page (no pinch there), the click, and the
// 4-second move.
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

// The reading aids last for one session: a whole interval left alone on the title page (a touch
// on a toggle starts one) turns both off, shows them off and undoes a zoom, asking nothing. That
// a restart turns them off is the acceptance suite's (reading_aids).
TEST_F(PageFlowTest, ReadingAidsEndWithTheSession) {
  start();
  const auto toggles = flow().views()[0]->view()->findChildren<AidToggle*>();
  ASSERT_EQ(toggles.size(), 2);
  advance(milliseconds(flow().timeout() * 1000 - 1));
  for (AidToggle* toggle : toggles) toggle->click();
  scrollView().setZoomScale(2.0f);  // a pinch left behind
  advance(milliseconds(flow().timeout() * 1000 - 1));
  EXPECT_EQ(currentKioskLook(), (KioskLook{true, true}));
  advance(milliseconds(1));
  EXPECT_EQ(flow().resetView(), nullptr) << "an idle title page asks nothing";
  EXPECT_EQ(scrollView().zoomScale(), 1.0f);
  EXPECT_EQ(currentKioskLook(), KioskLook{});
  for (AidToggle* toggle : toggles) EXPECT_FALSE(toggle->isChecked());
  qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
}

// Larger text on and off again leaves the question page as it was: its bar, needed only while
// the text was larger, goes, and the questions have their whole width back.
TEST_F(PageFlowTest, LargerTextLeavesNoTraceOnTheQuestionPage) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  applyKioskStyle(*app);
  start();
  goToPage(4);
  QCoreApplication::processEvents();
  const auto layout = [&] {
    std::vector<std::pair<QString, QRect>> placed;
    for (QWidget* w : toolPage().view()->findChildren<QWidget*>()) {
      if (w->isVisibleTo(toolPage().view())) placed.emplace_back(w->objectName(), w->geometry());
    }
    return placed;
  };
  const auto fresh = layout();
  for (const bool larger : {true, false}) {
    flow().setLook({larger, false});
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(layout() == fresh);
  app->setStyleSheet(QString());
}

// A help choice alone is an answer: left on the title page it is warned about and cleared like
// any other, so the next person meets neither a "Yes" logged as theirs nor a "No" shown as theirs.
TEST_F(PageFlowTest, AHelpChoiceLeftOnTheTitlePageIsCleared) {
  start();
  for (QAbstractButton* choice : {toolPage().helpYesButton(), toolPage().helpNoButton()}) {
    goToPage(4);
    choice->click();
    goToPage(0);
    advance(milliseconds(flow().timeout() * 1000));
    ASSERT_NE(flow().resetView(), nullptr) << choice->text().toStdString();
    advance(milliseconds(flow().timeout() * 1000));
    EXPECT_FALSE(app_->tool().helpWanted());
    EXPECT_FALSE(choice->isChecked());
  }
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
