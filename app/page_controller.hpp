// PageController: the questionnaire's page flow, its completion gate and its inactivity time-out.
#pragma once

#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/alert.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/page_control.hpp"
#include "platform/scheduler.hpp"
#include "platform/scroll_view.hpp"
#include "platform/speak_button.hpp"
#include "platform/view_controller.hpp"

class QScrollArea;
class QFrame;

namespace quorin {

class BasePageController;
class QuorinAppDelegate;
class ToolPageController;

// Seven pages side by side in a paged, zoomable ScrollView with a PageControl (interface file
// "Page", outlets scrollView and pageControl, the indicator's action "changePage:"). Keeps the
// index of the page shown, keeps the person off the score pages until all eight questions are
// answered, warns after one quiet interval away from the title page and restarts after a second,
// and owns the restart that logs a completed session; a restart, and a quiet interval on the
// title page, turn the reading aids off. Reading aloud stops when the page changes, the language
// changes or the session restarts. Main thread only.
class PageController : public ViewController, public ScrollViewDelegate, public AlertDelegate {
  Q_OBJECT

 public:
  static constexpr int kPageCount = 7;
  static constexpr int kToolPage = 4;
  // Pages from this index on need all eight answers.
  static constexpr int kFirstCompletePage = 5;
  static constexpr float kMinimumZoomScale = 1.0f;
  static constexpr float kMaximumZoomScale = 4.0f;
  // A zoom ending above this scale lets the person pan freely over the enlarged page.
  static constexpr double kPagingZoomLimit = 1.15;
  static constexpr std::chrono::milliseconds kUnzoomDelay{10};
  // Time-outs below kShortestTimeout seconds are replaced by kReplacementTimeout.
  static constexpr int kShortestTimeout = 10;
  static constexpr int kReplacementTimeout = 45;
  // A tap this soon after a page came into view is the second half of a double tap aimed at the
  // page before (the control under the finger changed in between), not a choice made on this one.
  static constexpr std::chrono::milliseconds kArrivalGuard{800};

  static constexpr const char* kTimeoutMessage = QT_TR_NOOP("\nWould you like more time?\n");
  static constexpr const char* kRestartMessage =
      QT_TR_NOOP("Restart the screening tool?\n\nWarning, any progress will be lost.");
  static constexpr const char* kMoreTime = QT_TR_NOOP("More Time");
  static constexpr const char* kRestart = QT_TR_NOOP("Restart");
  static constexpr const char* kCancel = QT_TR_NOOP("Cancel");
  static constexpr const char* kReadAloud = QT_TR_NOOP("Read aloud");
  static constexpr const char* kScrollPage = QT_TR_NOOP("Scroll the page");

  // Creates the seven pages; arms no timer. `app` must outlive the controller.
  explicit PageController(QuorinAppDelegate& app);
  ~PageController() override;

  // Index of the page shown, 0 to 6.
  int currentPage() const { return currentPage_; }
  // True for kArrivalGuard after the page shown changed.
  bool pageJustArrived() const { return arrivalGuard_ != 0; }
  // True while the last completion reminder is on screen.
  bool warningDisplayed() const;
  // The inactivity interval in seconds, read when the view loaded.
  int timeout() const { return timeout_; }
  // The pages, in page order.
  const std::vector<std::shared_ptr<BasePageController>>& views() const { return views_; }
  ScrollView* scrollView() const { return scrollView_; }
  PageControl* pageControl() const { return pageControl_; }
  // The last restart confirmation, completion reminder and time-out warning (null when gone).
  Alert* alertView() const { return alertView_.data(); }
  Alert* warningView() const { return warningView_.data(); }
  Alert* resetView() const { return resetView_.data(); }

  // Cancels the pending inactivity timer and arms a new one of `timeout` seconds.
  void resetTimer();
  // The inactivity timer fired: warn, or restart when the warning went unanswered.
  void timeUp();
  // Logs and restarts a complete session; otherwise asks first (unless `force`) when answers
  // would be lost, then restarts.
  void restartAndForce(bool force);
  // Returns to scale 1 if zoomed, then scrolls to `page` with animation.
  void scrollToPage(int page);
  // The scroll itself: makes the page visible and turns paging and zoom bouncing back on.
  void performScrollToPage(int page);
  // Shows the pages in `language` (one of Language::available()), keeping what the person has
  // chosen on them; an unknown language changes nothing.
  void setLanguage(const QString& language);
  // Applies the reading aids of `look` to the whole window (see kiosk_style.hpp).
  void setLook(KioskLook look);
  // Action of the page indicator: scrolls to the page it now shows.
  Q_INVOKABLE void changePage(QObject* sender);
  // The read-aloud control, under the pages beside the indicator; hidden when nothing can speak.
  SpeakButton* speakButton() const { return speakButton_; }
  // Action of the read-aloud control: reads the page shown, or stops reading.
  void readAloud();
  // Reads `text` aloud in place of anything being read (a tap on one question); listening is not
  // idling, so the inactivity timer starts again. From then on in the session, every alert is
  // read aloud as it comes up.
  void speak(const QString& text);

  void scrollViewDidScroll(ScrollView& scrollView) override;
  void scrollViewDidEndZooming(ScrollView& scrollView, QWidget* view, float scale) override;
  QWidget* viewForZoomingInScrollView(ScrollView& scrollView) override;
  void scrollViewDidResize(ScrollView& scrollView) override;
  void clickedButtonAtIndex(Alert& alert, int buttonIndex) override;
  // Logs what a page, as laid out now, cannot show whole: wider than the screen, or a button
  // whose title does not fit it (a clinic's longer wording). Each fault once a run; runs after
  // every layout of the pages.
  void reportCutOffText();

 protected:
  QString faultIn(QWidget& form) const override;
  // Builds the strip of pages and starts a fresh session.
  void viewDidLoad() override;

 private:
  void layoutPages();
  // The question page, which the constructor puts at kToolPage.
  ToolPageController& toolPage() const;
  // True once the person has answered anything, the help question included.
  bool sessionBegun() const;
  // Closes every alert, logs a complete session, starts a fresh one and returns to page 0.
  void restartSession();
  // Reads the page shown once the strip has stopped moving, unless the reading is called off.
  void readWhenAtRest();
  // Turns the reading aids off and puts every page back at its top.
  void resetLook();
  // Puts the read-aloud control in the bar under the pages and wires it to the kiosk's voice.
  void addSpeakButton();
  // The texts of the page strip itself, in the language shown.
  void retranslate();

  QuorinAppDelegate& app_;
  std::vector<std::shared_ptr<BasePageController>> views_;
  QWidget* zoomView_ = nullptr;           // owned by the scroll view
  std::vector<QScrollArea*> pageFrames_;  // each page's own vertical scroller, in zoomView_
  int timeout_ = 0;
  PageControl* pageControl_ = nullptr;
  SpeakButton* speakButton_ = nullptr;      // owned by the view
  std::function<void()> placeSpeakButton_;  // lays the control and the dots out again
  ScrollView* scrollView_ = nullptr;
  int currentPage_ = 0;
  int scrollTarget_ = -1;               // the page the flow is scrolling to, -1 when none
  bool listening_ = false;              // the session's person has had something read aloud
  bool readPending_ = false;            // read aloud was asked for while the strip moved
  int listenedSeconds_ = 0;             // time-outs put off by the reading under way
  const Alert* spokenAlert_ = nullptr;  // the alert being read out, for identity only
  Scheduler::TaskId timer_ = 0;
  Scheduler::TaskId arrivalGuard_ = 0;  // pending while the page shown has only just come
  QPointer<Alert> alertView_;
  QPointer<Alert> warningView_;
  QPointer<Alert> resetView_;
};

}  // namespace quorin
