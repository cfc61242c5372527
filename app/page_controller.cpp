#include "page_controller.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "base_page_controller.hpp"
#include "platform/aid_toggle.hpp"
#include "platform/interface_loader.hpp"
#include "platform/language.hpp"
#include "platform/log.hpp"
#include "platform/reading_order.hpp"
#include "platform/speech.hpp"
#include "quorin_app_delegate.hpp"
#include "score_page_controller.hpp"
#include "tool_page_controller.hpp"

namespace quorin {

namespace {

// A reading that has gone on this long is taken for a voice that hangs: the time-out runs again,
// so that a listener is never cut off and the next person is never kept waiting for ever.
constexpr int kLongestReadingSeconds = 300;

// Page, the flow's interface file, and the title page hold widget classes of the app's own.
void registerPageFlowWidgets() {
  static const bool registered = [] {
    InterfaceLoader::registerWidgetClass(QStringLiteral("ScrollView"),
                                         [](QWidget* parent) { return new ScrollView(parent); });
    InterfaceLoader::registerWidgetClass(QStringLiteral("PageControl"),
                                         [](QWidget* parent) { return new PageControl(parent); });
    InterfaceLoader::registerWidgetClass(QStringLiteral("AidToggle"),
                                         [](QWidget* parent) { return new AidToggle(parent); });
    return true;
  }();
  (void)registered;
}

// A finger dragging up or down on a page taller than the screen scrolls it: the strip's own
// scroller gives up drags it cannot follow, and they reach the page, often on one of its many
// buttons. So the drag is watched wherever on a page it starts (one watcher for all the pages);
// once the finger has moved further than a tap's jitter, the page follows it and a button it
// started on lets go, so that lifting the finger chooses nothing.
class VerticalDrag : public QObject {
 public:
  // `frames` are the pages' scrollers (owned by `parent`); `moved` is called at each step.
  VerticalDrag(QObject* parent, const std::vector<QScrollArea*>& frames,
               std::function<void()> moved)
      : QObject(parent), frames_(frames.begin(), frames.end()), moved_(std::move(moved)) {
    qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonRelease) {
      const bool dragged = dragging_;
      bar_ = nullptr;
      dragging_ = false;
      return dragged && isViewport(watched);
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!(mouse->buttons() & Qt::LeftButton)) return false;
    const double y = mouse->globalPosition().y();
    if (type == QEvent::MouseButtonPress) {
      auto* widget = qobject_cast<QWidget*>(watched);
      QScrollBar* bar = widget != nullptr ? barUnder(widget) : nullptr;
      if (bar == nullptr || bar->maximum() <= bar->minimum()) return false;
      bar_ = bar;
      dragging_ = false;
      startY_ = y;
      startValue_ = bar->value();
      button_ = qobject_cast<QAbstractButton*>(widget);
      return isViewport(watched);
    }
    if (bar_ == nullptr) return false;
    if (!dragging_) {
      if (std::abs(y - startY_) < QApplication::startDragDistance()) return false;
      dragging_ = true;
      if (button_ != nullptr) button_->setDown(false);
    }
    bar_->setValue(startValue_ - static_cast<int>(std::lround(y - startY_)));
    moved_();
    return true;
  }

 private:
  // The bar of the page `widget` lies on (the page's background or anything on it), or null.
  QScrollBar* barUnder(const QWidget* widget) const {
    for (const QScrollArea* frame : frames_) {
      if (frame != nullptr &&
          (frame->viewport() == widget || frame->viewport()->isAncestorOf(widget))) {
        return frame->verticalScrollBar();
      }
    }
    return nullptr;
  }
  bool isViewport(const QObject* watched) const {
    return std::any_of(frames_.begin(), frames_.end(), [watched](const QScrollArea* frame) {
      return frame != nullptr && frame->viewport() == watched;
    });
  }

  std::vector<QPointer<QScrollArea>> frames_;  // null once gone, as the strip is taken down
  std::function<void()> moved_;
  QPointer<QScrollBar> bar_;          // the bar of the page being dragged, null between drags
  QPointer<QAbstractButton> button_;  // the button the drag started on, if any
  bool dragging_ = false;
  double startY_ = 0;
  int startValue_ = 0;
};

// Keeps the read-aloud control at the left end of the bar under the pages, out of the bar's layout,
// the bar tall enough for it, and the page dots clear of it: centred on the
// screen when the room either side of the control allows, else centred in the room beside it.
class PinToLeftEnd : public QObject {
 public:
  static constexpr int kMargin = 12;

  // One height in every look, so that turning an aid on or off (as a restart does, while it
  // scrolls back to the title page) never resizes the bar, and with it the pages.
  static constexpr int kHeight = 56;

  PinToLeftEnd(QWidget* bar, QWidget* control, QWidget* dots)
      : QObject(bar), bar_(bar), control_(control), dots_(dots) {
    bar->setMinimumHeight(kHeight + 2 * kMargin);
    bar->installEventFilter(this);
    control->installEventFilter(this);
  }

  void place() {
    const QSize size(control_->sizeHint().width(), kHeight);
    control_->setGeometry(kMargin, (bar_->height() - size.height()) / 2, size.width(),
                          size.height());
    if (QLayout* layout = bar_->layout(); layout != nullptr && dots_->parentWidget() == bar_) {
      // Centred when they fit beside the control on both sides; else as near the middle as the
      // control allows (a longer translation of its words must not push them to the far side).
      const int beside = size.width() + 2 * kMargin;
      const int room = bar_->width() - dots_->sizeHint().width();
      const QMargins margins = layout->contentsMargins();
      layout->setContentsMargins(beside, margins.top(), std::clamp(room - beside, 0, beside),
                                 margins.bottom());
      layout->activate();
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    // A new text or text size asks the bar for a new layout.
    if ((watched == bar_ && (type == QEvent::Resize || type == QEvent::LayoutRequest)) ||
        (watched == control_ &&
         (type == QEvent::StyleChange || type == QEvent::FontChange || type == QEvent::Polish))) {
      place();
    }
    return false;
  }

 private:
  QWidget* bar_;
  QWidget* control_;
  QWidget* dots_;
};

}  // namespace

PageController::PageController(QuorinAppDelegate& app)
    : ViewController(QStringLiteral("Page")), app_(app) {
  registerPageFlowWidgets();
  declareOutlet("scrollView", &scrollView_);
  declareOutlet("pageControl", &pageControl_);
  declareAction(QStringLiteral("changePage:"));
  views_ = {
      std::make_shared<TitlePageController>(app, *this),
      std::make_shared<IntroPageController>(app, *this),
      std::make_shared<AboutPageController>(app, *this),
      std::make_shared<CommitteePageController>(app, *this),
      std::make_shared<ToolPageController>(app, *this),
      std::make_shared<ScorePageController>(app, *this),
      std::make_shared<PracticePageController>(app, *this),
  };
  currentPage_ = 0;
}

QString PageController::faultIn(QWidget& form) const {
  // Dots that moved without the pages would say one page while showing another.
  const auto* dots = form.findChild<QWidget*>(QStringLiteral("pageControl"));
  if (dots != nullptr && dots->property("action").toString() != u"changePage:") {
    return QStringLiteral("'pageControl' does not have the action 'changePage:'");
  }
  // The read-aloud control takes the left end of the dots' bar: in the pages' own layout it would
  // squeeze the pages into a column.
  const auto* pages = form.findChild<QWidget*>(QStringLiteral("scrollView"));
  if (dots != nullptr && pages != nullptr && dots->parentWidget()->isAncestorOf(pages)) {
    return QStringLiteral(
        "'pageControl' must stand in a bar of its own (a frame below or above "
        "'scrollView'), not beside the pages");
  }
  return {};
}

PageController::~PageController() {
  app_.scheduler().cancel(timer_);
  app_.scheduler().cancel(arrivalGuard_);
  // The alerts that report to this controller must not outlive it on screen.
  for (Alert* alert : {alertView_.data(), resetView_.data()}) {
    if (alert != nullptr && alert->isVisible()) {
      alert->dismissWithClickedButtonIndex(alert->cancelButtonIndex(), false);
    }
  }
  if (scrollView_ != nullptr) scrollView_->setDelegate(nullptr);
}

bool PageController::warningDisplayed() const {
  return !warningView_.isNull() && warningView_->isVisible();
}

void PageController::viewDidLoad() {
  // The scroll view's size is the size of a page; let the layout give it its size first.
  if (QLayout* layout = view()->layout()) layout->activate();
  scrollView_->setDelegate(this);
  scrollView_->setPagingEnabled(true);
  scrollView_->setBouncesZoom(true);

  const int n = kPageCount;
  const QSizeF page = scrollView_->frame().size();
  zoomView_ = new QWidget;
  zoomView_->setObjectName(QStringLiteral("zoomView"));
  zoomView_->setGeometry(0, 0, static_cast<int>(n * page.width()), static_cast<int>(page.height()));
  scrollView_->setContentSize(QSizeF(n * page.width(), page.height()));
  scrollView_->setMaximumZoomScale(kMaximumZoomScale);
  scrollView_->setMinimumZoomScale(kMinimumZoomScale);
  scrollView_->addSubview(zoomView_);

  pageControl_->setNumberOfPages(n);
  pageControl_->setCurrentPage(0);
  currentPage_ = 0;
  addSpeakButton();

  // Taking each page's view loads its interface file; the question and score pages register
  // with the model as they load. A session begins in English. Each page scrolls on its own when it
  // is taller than the screen (with larger text).
  Language::setCurrent(Language::kSource);
  app_.speech().setLanguage(Language::kSource);
  for (int i = 0; i < n; ++i) {
    auto* frame = new QScrollArea(zoomView_);
    frame->setProperty("role", QStringLiteral("pageScroller"));
    frame->setFrameShape(QFrame::NoFrame);
    frame->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frame->setWidgetResizable(true);
    // Its bar was polished as the frame was made, before the role its style depends on was set.
    frame->style()->polish(frame->verticalScrollBar());
    frame->setWidget(views_[static_cast<std::size_t>(i)]->view());
    frame->setGeometry(static_cast<int>(i * page.width()), 0, static_cast<int>(page.width()),
                       static_cast<int>(page.height()));
    frame->show();
    pageFrames_.push_back(frame);
  }
  retranslate();  // the strip's own texts, in the session's language, its pages' bars included
  new VerticalDrag(zoomView_, pageFrames_, [this] { resetTimer(); });  // reading on is not idling

  timeout_ = app_.inactivityTimout();
  if (timeout_ < kShortestTimeout) timeout_ = kReplacementTimeout;

  // Every entry into the flow begins a fresh session; the observers are registered by now.
  app_.tool().restart();
}

void PageController::addSpeakButton() {
  QWidget* bar = pageControl_->parentWidget();
  speakButton_ = new SpeakButton(bar);
  speakButton_->setObjectName(QStringLiteral("speakButton"));
  speakButton_->stackUnder(pageControl_);  // a screen reader meets it first, as it stands
  auto* pin = new PinToLeftEnd(bar, speakButton_, pageControl_);
  placeSpeakButton_ = [pin] { pin->place(); };
  Speech& speech = app_.speech();
  speakButton_->setVisible(speech.available());
  connect(speakButton_, &QAbstractButton::clicked, this, [this] { readAloud(); });
  connect(&speech, &Speech::speakingChanged, this, [this](bool speaking) {
    speakButton_->setChecked(speaking);
    listenedSeconds_ = 0;
    resetTimer();  // listening to the end of a page is not idling
  });
  connect(&speech, &Speech::becameUnavailable, this, [this] {
    speakButton_->setChecked(false);
    speakButton_->hide();
  });
  // Someone who listens to the pages cannot read an alert either, and cannot reach the control
  // under one: each is read out as it comes up. (The guard makes the observer of a flow that is
  // gone do nothing until the next flow replaces it.)
  Alert::setShownObserver([self = QPointer<PageController>(this)](Alert& alert) {
    if (!self || !self->listening_ || !self->app_.speech().available()) return;
    self->speak(spokenText(readingOrder(*alert.button(0)->window())));
    self->spokenAlert_ = &alert;
    // Gone from the screen, it is no longer read out (unless something else is by then).
    connect(&alert, &QObject::destroyed, self, [self](QObject* gone) {
      if (gone != self->spokenAlert_) return;
      self->spokenAlert_ = nullptr;
      self->app_.speech().stop();
    });
  });
}

void PageController::retranslate() {
  scrollView_->setAccessibleName(tr("Pages of the check-in"));
  pageControl_->setAccessibleName(tr("Page indicator"));
  for (QScrollArea* frame : pageFrames_) {
    frame->verticalScrollBar()->setAccessibleName(tr(kScrollPage));
  }
  if (speakButton_ != nullptr) {
    speakButton_->setText(tr(kReadAloud));
    speakButton_->setAccessibleName(tr(kReadAloud));
    placeSpeakButton_();  // its words have a new length
  }
}

void PageController::readAloud() {
  Speech& speech = app_.speech();
  if (speech.speaking() || readPending_) {
    speech.stop();
    readPending_ = false;
    speakButton_->setChecked(false);
    return;
  }
  // Tapped as the strip moves, the control means the page it comes to rest on: the one passing
  // by now would be cut off the moment it went.
  if (scrollView_->isDragging() || scrollView_->isDecelerating()) {
    readPending_ = true;
    speakButton_->setChecked(true);
    readWhenAtRest();
    return;
  }
  speak(spokenText(readingOrder(*views_[static_cast<std::size_t>(currentPage_)]->view())));
}

void PageController::readWhenAtRest() {
  QPointer<PageController> self(this);
  app_.scheduler().schedule(std::chrono::milliseconds(50), [self] {
    if (!self || !self->readPending_) return;
    if (self->scrollView_->isDragging() || self->scrollView_->isDecelerating()) {
      self->readWhenAtRest();
      return;
    }
    self->readPending_ = false;
    // An alert that came up meanwhile is being read out to this person: it is not cut off.
    if (!self->app_.speech().speaking()) self->readAloud();
  });
}

void PageController::speak(const QString& text) {
  listening_ = true;
  spokenAlert_ = nullptr;
  app_.speech().say(text);
  // The control shows the voice's state, not the tap's: it is checked once speaking starts.
  speakButton_->setChecked(app_.speech().speaking());
  resetTimer();
}

void PageController::layoutPages() {
  if (zoomView_ == nullptr) return;
  const QSizeF page = scrollView_->frame().size();
  if (page.width() <= 0 || page.height() <= 0) return;
  zoomView_->setGeometry(0, 0, static_cast<int>(kPageCount * page.width()),
                         static_cast<int>(page.height()));
  scrollView_->setContentSize(QSizeF(kPageCount * page.width(), page.height()));
  for (int i = 0; i < kPageCount; ++i) {
    pageFrames_[static_cast<std::size_t>(i)]->setGeometry(static_cast<int>(i * page.width()), 0,
                                                          static_cast<int>(page.width()),
                                                          static_cast<int>(page.height()));
  }
  // Once the pages' own layouts have run; the timer goes with this controller.
  QTimer::singleShot(0, this, [this] { reportCutOffText(); });
}

void PageController::reportCutOffText() {
  static QSet<QString> told;
  const auto tell = [](const QString& fault) {
    if (!told.contains(fault)) {
      told.insert(fault);
      qCWarning(lcKiosk).noquote() << fault;
    }
  };
  // A fault of a translation's page is another fault than one of the same page in English.
  const QString language =
      Language::current() == Language::kSource ? QString() : " (" + Language::current() + ")";
  for (std::size_t i = 0; i < views_.size(); ++i) {
    if (!views_[i]->isViewLoaded()) continue;
    QWidget* page = views_[i]->view();
    const QString name = views_[i]->interfaceName() + language;
    const int room = pageFrames_[i]->viewport()->width();
    if (page->minimumSizeHint().width() > room) {
      tell(QStringLiteral("%1: the page needs %2 pixels across and the screen has %3, so its "
                          "right side is cut off (a long word or button title?)")
               .arg(name)
               .arg(page->minimumSizeHint().width())
               .arg(room));
    }
    for (const QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
      QStyleOptionButton option;
      option.initFrom(button);
      const QRect inside =
          button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
      if (button->isVisibleTo(page) && !button->text().isEmpty() &&
          qobject_cast<const QPushButton*>(button) != nullptr &&
          button->fontMetrics().size(0, button->text()).width() > inside.width()) {
        tell(QStringLiteral("%1: the title of '%2' does not fit it; break it into lines")
                 .arg(name, button->objectName()));
      }
    }
  }
}

void PageController::setLanguage(const QString& language) {
  if (language == Language::current() || !Language::setCurrent(language)) return;
  app_.speech().stop();
  app_.speech().setLanguage(language);
  retranslate();
  for (std::size_t i = 0; i < views_.size(); ++i) {
    views_[i]->reloadView();
    // The scroller lets go of the old view without deleting it (a button of it may be the one
    // being pressed; it is deleted later) and takes the new one.
    pageFrames_[i]->takeWidget();
    pageFrames_[i]->setWidget(views_[i]->view());
  }
  // The new pages take the reading aids in use, as the toggles give them.
  if (currentKioskLook() != KioskLook{}) setLook(currentKioskLook());
  // A clinic's own translation is checked as its pages come in, once they are laid out.
  QTimer::singleShot(0, this, [this] { reportCutOffText(); });
}

void PageController::scrollViewDidResize(ScrollView& scrollView) {
  (void)scrollView;
  if (zoomView_ == nullptr) return;
  // Pages are as large as the frame: lay them out for the new size and keep the current page
  // in view, unzoomed.
  layoutPages();
  scrollView_->setZoomScale(1.0f, false);
  scrollView_->setContentOffset(QPointF(currentPage_ * scrollView_->frame().width(), 0), false);
  scrollView_->setPagingEnabled(true);
  scrollView_->setBouncesZoom(true);
}

void PageController::scrollViewDidScroll(ScrollView& scrollView) {
  resetTimer();
  // The page under the horizontal centre of the visible area, in single precision.
  const float x = static_cast<float>(scrollView.contentOffset().x());
  const float w = static_cast<float>(scrollView.frame().width());
  const float s = scrollView.zoomScale();
  if (!(w > 0.0f) || !(s > 0.0f)) return;
  float index = std::floor((x + 0.5f * w) / (w * s));
  // Overscrolling more than half a page past either end counts as the nearest page: the
  // indicator and the gate only know pages 0 to 6.
  if (std::isnan(index)) return;
  index = std::clamp(index, 0.0f, static_cast<float>(kPageCount - 1));
  const int page = static_cast<int>(index);

  // A finger takes over from the flow's own scroll.
  if (scrollView.isDragging()) scrollTarget_ = -1;
  if (page == currentPage_) return;
  currentPage_ = page;
  Scheduler& scheduler = app_.scheduler();
  scheduler.cancel(arrivalGuard_);
  QPointer<PageController> self(this);
  arrivalGuard_ = scheduler.schedule(kArrivalGuard, [self] {
    if (self) self->arrivalGuard_ = 0;
  });
  app_.speech().stop();  // what was being read is no longer on screen
  pageControl_->setCurrentPage(page);
  if (page == scrollTarget_) scrollTarget_ = -1;

  // Pages passed on the flow's own way back (from the practice page to the title page, after a
  // restart) are not visited: the gate is for the person moving there.
  const bool passing = scrollTarget_ >= 0 && scrollTarget_ < kFirstCompletePage;
  if (page >= kFirstCompletePage && !passing && !app_.tool().complete()) {
    if (!warningDisplayed()) warningView_ = Alert::pleaseComplete();
    scrollToPage(kToolPage);
  }
}

void PageController::scrollViewDidEndZooming(ScrollView& scrollView, QWidget* view, float scale) {
  (void)view;
  if (static_cast<double>(scale) > kPagingZoomLimit) {
    scrollView.setPagingEnabled(false);
    scrollView.setBouncesZoom(false);
  } else {
    scrollToPage(currentPage_);
  }
}

QWidget* PageController::viewForZoomingInScrollView(ScrollView& scrollView) {
  const QList<QWidget*> subviews = scrollView.subviews();
  return subviews.isEmpty() ? nullptr : subviews.front();
}

void PageController::scrollToPage(int page) {
  if (scrollView_->zoomScale() > 1.0f) {
    scrollView_->setZoomScale(1.0f, false);
    QPointer<PageController> self(this);
    app_.scheduler().schedule(kUnzoomDelay, [self, page] {
      if (self) self->performScrollToPage(page);
    });
  } else {
    performScrollToPage(page);
  }
}

void PageController::performScrollToPage(int page) {
  scrollTarget_ = page;
  const QSizeF size = scrollView_->frame().size();
  scrollView_->scrollRectToVisible(QRectF(page * size.width(), 0, size.width(), size.height()),
                                   true);
  scrollView_->setPagingEnabled(true);
  scrollView_->setBouncesZoom(true);
}

void PageController::changePage(QObject* sender) {
  (void)sender;
  scrollToPage(pageControl_->currentPage());
}

void PageController::resetTimer() {
  Scheduler& scheduler = app_.scheduler();
  scheduler.cancel(timer_);
  QPointer<PageController> self(this);
  timer_ = scheduler.schedule(secondsToDuration(static_cast<double>(timeout_)), [self] {
    if (self) self->timeUp();
  });
}

void PageController::timeUp() {
  if (app_.speech().speaking() && listenedSeconds_ + timeout_ <= kLongestReadingSeconds) {
    // Someone listening to a long page (or to the warning) is not idling.
    listenedSeconds_ += timeout_;
    resetTimer();
    return;
  }
  if (!resetView_.isNull() && resetView_->isVisible()) {
    // The warning went unanswered for a whole interval.
    resetView_ = nullptr;
    restartAndForce(true);
  } else if (currentPage_ > 0 || sessionBegun()) {
    // Answers left on the title page must not reach the next person: once a session has begun,
    // the title page times out like any other. The warning takes the place of any other alert,
    // so that one question is on screen at a time.
    Alert::dismissAll();
    auto* warning =
        new Alert(std::nullopt, tr(kTimeoutMessage), this, tr(kMoreTime), {tr(kRestart)});
    resetView_ = warning;
    warning->show();
  } else {
    // Someone who walked away from the title page leaves the next person nothing of theirs: not
    // their reading aids, their zoom, their language or their alerts read out. (A reading still
    // under way put this off above; one that outlasts the limit is cut off here.)
    if (currentKioskLook() != KioskLook{}) resetLook();
    if (scrollView_->zoomScale() > 1.0f) scrollToPage(0);  // nor the title page zoomed in
    app_.speech().stop();
    setLanguage(Language::kSource);
    listening_ = false;
    readPending_ = false;
  }
  resetTimer();
}

ToolPageController& PageController::toolPage() const {
  return static_cast<ToolPageController&>(*views_[kToolPage]);
}

bool PageController::sessionBegun() const {
  return app_.tool().started() || toolPage().helpChosen();
}

void PageController::restartAndForce(bool force) {
  Tool& tool = app_.tool();
  if (!tool.complete() && tool.started() && !force) {
    auto* confirmation =
        new Alert(std::nullopt, tr(kRestartMessage), this, tr(kCancel), {tr(kRestart)});
    alertView_ = confirmation;
    confirmation->show();
    return;
  }
  restartSession();
}

void PageController::restartSession() {
  // Every alert belongs to the person who is leaving: none may stay for the next one, and none
  // of their buttons is chosen (a confirmation's "Restart" would wipe the next person's
  // answers). An alert raised by the logging below is the new one, so it comes after.
  Alert::dismissAll();
  app_.speech().stop();
  listening_ = false;
  readPending_ = false;
  spokenAlert_ = nullptr;
  // The next person starts in English, and so does any alert the logging raises.
  setLanguage(Language::kSource);
  Tool& tool = app_.tool();
  if (tool.complete()) app_.csvFile().addToCsv(tool);
  tool.restart();
  resetLook();
  scrollToPage(0);
}

void PageController::setLook(KioskLook look) {
  setKioskLook(look);
  if (placeSpeakButton_) placeSpeakButton_();  // its words have a new size
  toolPage().stackChoices(look.largerText);
  // A page's bar, once shown, would stay when the page fits again: Qt measures the page at the
  // width the bar leaves it, where its text wraps into more lines than the screen holds. Measured
  // at the whole width, the bar goes, and the page looks as it did before the aid.
  for (QScrollArea* frame : pageFrames_) {
    if (frame->widget() != nullptr && frame->widget()->layout() != nullptr) {
      frame->widget()->layout()->activate();
    }
    frame->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frame->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  }
}

void PageController::resetLook() {
  // Every aid's control is a checkable button: the pages refuse any other.
  for (QObject* toggle : controlsWithAction(*zoomView_, QStringLiteral("toggleAid:"))) {
    static_cast<QAbstractButton*>(toggle)->setChecked(false);
  }
  setLook({});
  for (QScrollArea* frame : pageFrames_) frame->verticalScrollBar()->setValue(0);
}

void PageController::clickedButtonAtIndex(Alert& alert, int buttonIndex) {
  // Told apart by place, not by title: the language may have changed under an open alert.
  // Both alerts' one other button is "Restart"; the cancel button of the time-out warning is
  // "More Time".
  if (buttonIndex != alert.cancelButtonIndex()) {
    // The time-out warning can stand over a finished session; restarting must not lose it.
    restartSession();
  } else if (&alert == resetView_) {
    resetTimer();
  }
}

}  // namespace quorin
