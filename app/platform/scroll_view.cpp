#include "platform/scroll_view.hpp"

#include "platform/accessibility.hpp"

#include <QEasingCurve>
#include <QGestureEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QPinchGesture>
#include <QResizeEvent>
#include <QScrollEvent>
#include <QScrollPrepareEvent>
#include <QScroller>
#include <QScrollerProperties>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <utility>

namespace quorin {

namespace {

int defaultAnimationMs = 250;

// How far a pinch may go past the zoom range while bouncing: a third of the excess is shown, up
// to a quarter of the limit. Enough to feel the edge, little enough not to lose the page.
constexpr qreal kZoomResistance = 0.3;
constexpr qreal kZoomOvershootLimit = 0.25;

}  // namespace

void ScrollView::setDefaultAnimationDuration(int ms) { defaultAnimationMs = std::max(0, ms); }

ScrollView::ScrollView(QWidget* parent) : QGraphicsView(parent), animationMs_(defaultAnimationMs) {
  setScene(new QGraphicsScene(this));
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setTransformationAnchor(QGraphicsView::NoAnchor);
  setResizeAnchor(QGraphicsView::NoAnchor);
  // The whole content moves on every step, so partial updates would only cost bookkeeping.
  setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
  setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                 QPainter::SmoothPixmapTransform);
  // Pinches are recognised from touch events, which the viewport must accept; single touches it
  // leaves unaccepted still reach the widgets as mouse events.
  viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
  viewport()->grabGesture(Qt::PinchGesture);

  // The mouse gesture also serves touch screens, whose single touches reach widgets as mouse
  // events; a pinch stops the drag when it begins.
  QScroller::grabGesture(this, QScroller::LeftMouseButtonGesture);
  QScroller* drag = scroller();
  QScrollerProperties props = drag->scrollerProperties();
  props.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy,
                        QScrollerProperties::OvershootWhenScrollable);
  props.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy,
                        QScrollerProperties::OvershootWhenScrollable);
  // A page boundary pulled past shows a little of what lies beyond, never a whole page.
  props.setScrollMetric(QScrollerProperties::OvershootDragDistanceFactor, 0.3);
  props.setScrollMetric(QScrollerProperties::OvershootScrollDistanceFactor, 0.1);
  props.setScrollMetric(QScrollerProperties::SnapTime, 0.35);
  props.setScrollMetric(QScrollerProperties::FrameRate, QScrollerProperties::Fps60);
  drag->setScrollerProperties(props);
  connect(drag, &QScroller::stateChanged, this, [this](QScroller::State state) {
    // A finger on the content takes over from any running animation.
    if (state == QScroller::Pressed || state == QScroller::Dragging) {
      if (offsetAnimation_ != nullptr) offsetAnimation_->stop();
    }
    // A press that stops the strip as it glides to a page is that touch's whole effect.
    if (state == QScroller::Pressed && scrollerState_ == QScroller::Scrolling) {
      touchStopsMotion_ = true;
    }
    scrollerState_ = state;
    if (state == QScroller::Inactive) settleOnPage();
  });

  // A stopped QVariantAnimation still reports a value when its start or end value is set: the
  // value at its current time, which after a finished run is the new end value. Only a running
  // animation may move the content, or a scroll would first jump to its target and back.
  offsetAnimation_ = new QVariantAnimation(this);
  offsetAnimation_->setEasingCurve(QEasingCurve::OutCubic);
  // A touch that came as the pages arrived finds them at rest.
  connect(offsetAnimation_, &QVariantAnimation::finished, this,
          [this] { touchStopsMotion_ = false; });
  connect(offsetAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    if (offsetAnimation_->state() == QAbstractAnimation::Running) applyOffset(value.toPointF());
  });

  zoomAnimation_ = new QVariantAnimation(this);
  zoomAnimation_->setEasingCurve(QEasingCurve::OutCubic);
  connect(zoomAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    if (zoomAnimation_->state() == QAbstractAnimation::Running) {
      applyZoom(value.toFloat(), viewportCentre());
    }
  });
  connect(zoomAnimation_, &QVariantAnimation::finished, this, [this] {
    if (zoomEndPending_) reportZoomEnd();
  });
}

ScrollView::~ScrollView() {
  // Nothing may reach the delegate while the view is being torn down.
  delegate_ = nullptr;
  offsetAnimation_->stop();
  zoomAnimation_->stop();
  QScroller::ungrabGesture(this);
}

QScroller* ScrollView::scroller() const {
  return QScroller::scroller(const_cast<ScrollView*>(this));
}

void ScrollView::setContentSize(QSizeF size) { contentSize_ = size; }

void ScrollView::addSubview(QWidget* view) {
  if (proxy_ != nullptr) {
    scene()->removeItem(proxy_);
    delete proxy_;  // deletes the old content widget with it
    proxy_ = nullptr;
    content_ = nullptr;
  }
  if (view == nullptr) return;
  view->setParent(nullptr);
  content_ = view;
  registerScrollContent(view);
  proxy_ = scene()->addWidget(view);
  proxy_->setTransformOriginPoint(0, 0);
  updateTransform();
}

QList<QWidget*> ScrollView::subviews() const {
  QList<QWidget*> views;
  if (content_ != nullptr) views.append(content_);
  return views;
}

bool ScrollView::isDragging() const { return scroller()->state() == QScroller::Dragging; }

bool ScrollView::isDecelerating() const {
  return scroller()->state() == QScroller::Scrolling ||
         offsetAnimation_->state() == QAbstractAnimation::Running ||
         zoomAnimation_->state() == QAbstractAnimation::Running;
}

void ScrollView::setContentOffset(QPointF offset, bool animated) {
  if (animated && animationMs_ > 0) {
    animateOffsetTo(offset);
    return;
  }
  stopMotion();
  applyOffset(offset);
}

void ScrollView::setZoomScale(float scale, bool animated) {
  const float target = clampedZoom(scale);
  stopMotion();
  if (animated && animationMs_ > 0 && target != zoom_) {
    zoomAnimation_->setDuration(animationMs_);
    zoomAnimation_->setStartValue(zoom_);
    zoomAnimation_->setEndValue(target);
    zoomAnimation_->start();
    return;
  }
  applyZoom(target, viewportCentre());
}

void ScrollView::scrollRectToVisible(QRectF rect, bool animated) {
  const QSizeF size = viewport()->size();
  const auto axis = [](qreal offset, qreal extent, qreal low, qreal high) {
    if (high - low >= extent || low < offset) return low;
    if (high > offset + extent) return high - extent;
    return offset;
  };
  const QPointF target(axis(offset_.x(), size.width(), rect.left(), rect.right()),
                       axis(offset_.y(), size.height(), rect.top(), rect.bottom()));
  setContentOffset(clampedOffset(target), animated);
}

void ScrollView::pinchBegan(QPointF centre) {
  (void)centre;
  if (delegate_ == nullptr || delegate_->viewForZoomingInScrollView(*this) == nullptr) return;
  stopMotion();
  pinching_ = true;
  pinchStartZoom_ = zoom_;
}

void ScrollView::pinchChanged(qreal factor, QPointF centre) {
  if (!pinching_) return;
  const qreal wanted = pinchStartZoom_ * factor;
  qreal shown = std::clamp(wanted, qreal{minZoom_}, qreal{maxZoom_});
  if (bouncesZoom_) {
    if (wanted > maxZoom_) {
      shown = std::min(maxZoom_ + (wanted - maxZoom_) * kZoomResistance,
                       maxZoom_ * (1.0 + kZoomOvershootLimit));
    } else if (wanted < minZoom_) {
      shown = std::max(minZoom_ - (minZoom_ - wanted) * kZoomResistance,
                       minZoom_ * (1.0 - kZoomOvershootLimit));
    }
  }
  applyZoom(static_cast<float>(shown), centre);
}

void ScrollView::pinchEnded() {
  if (!pinching_) return;
  pinching_ = false;
  const float rest = clampedZoom(zoom_);
  if (rest == zoom_ || animationMs_ == 0) {
    applyZoom(rest, viewportCentre());
    reportZoomEnd();
    return;
  }
  // Spring back into the range, then report the scale the content came to rest at.
  zoomAnimation_->setDuration(animationMs_);
  zoomAnimation_->setStartValue(zoom_);
  zoomAnimation_->setEndValue(rest);
  zoomEndPending_ = true;
  zoomAnimation_->start();
}

void ScrollView::reportZoomEnd() {
  zoomEndPending_ = false;
  if (delegate_ == nullptr) return;
  delegate_->scrollViewDidEndZooming(*this, delegate_->viewForZoomingInScrollView(*this), zoom_);
}

bool ScrollView::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ScrollPrepare: {
      auto* prepare = static_cast<QScrollPrepareEvent*>(event);
      if (pinching_) {
        prepare->ignore();
        return true;
      }
      if (pagingEnabled_ && offsetAnimation_->state() == QAbstractAnimation::Running) {
        // The pages are on their way to one: the touch neither stops them between two nor
        // presses what passes under it.
        touchStopsMotion_ = true;
        prepare->ignore();
        return true;
      }
      stopAnimations();
      prepare->setViewportSize(viewport()->size());
      prepare->setContentPosRange(dragRange());
      prepare->setContentPos(offset_);
      const QSizeF page = viewport()->size();
      if (pagingEnabled_ && page.width() > 0 && page.height() > 0) {
        scroller()->setSnapPositionsX(0.0, page.width());
        scroller()->setSnapPositionsY(0.0, page.height());
      } else {
        scroller()->setSnapPositionsX(QList<qreal>());
        scroller()->setSnapPositionsY(QList<qreal>());
      }
      prepare->accept();
      return true;
    }
    case QEvent::Scroll: {
      auto* scroll = static_cast<QScrollEvent*>(event);
      applyOffset(scroll->contentPos() + scroll->overshootDistance());
      return true;
    }
    default:
      return QGraphicsView::event(event);
  }
}

bool ScrollView::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      // Each press decides for itself, so that nothing left over swallows a later one.
      swallowingTouch_ = std::exchange(touchStopsMotion_, false);
      if (swallowingTouch_) return true;
      break;
    case QEvent::MouseMove:
      if (swallowingTouch_) return true;
      break;
    case QEvent::MouseButtonRelease:
      if (std::exchange(swallowingTouch_, false)) {
        settleOnPage();
        return true;
      }
      break;
    default:
      break;
  }
  if (event->type() == QEvent::Gesture) {
    auto* gestures = static_cast<QGestureEvent*>(event);
    if (auto* pinch = static_cast<QPinchGesture*>(gestures->gesture(Qt::PinchGesture))) {
      const QPointF centre = viewport()->mapFromGlobal(pinch->centerPoint());
      switch (pinch->state()) {
        case Qt::GestureStarted:
          scroller()->stop();
          pinchBegan(centre);
          break;
        case Qt::GestureUpdated:
          pinchChanged(pinch->totalScaleFactor(), centre);
          break;
        case Qt::GestureFinished:
        case Qt::GestureCanceled:
          pinchChanged(pinch->totalScaleFactor(), centre);
          pinchEnded();
          break;
        case Qt::NoGesture:
          break;
      }
      gestures->accept(pinch);
      return true;
    }
  }
  return QGraphicsView::viewportEvent(event);
}

void ScrollView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  scene()->setSceneRect(QRectF(QPointF(0, 0), QSizeF(viewport()->size())));
  if (delegate_ != nullptr) delegate_->scrollViewDidResize(*this);
  scrollContentMoved(content_);  // other pages may be in view now
}

void ScrollView::applyOffset(QPointF offset) {
  if (offset == offset_) return;
  offset_ = offset;
  updateTransform();
  if (delegate_ != nullptr) delegate_->scrollViewDidScroll(*this);
}

void ScrollView::applyZoom(float scale, QPointF centre) {
  if (scale <= 0.0f) return;
  // The content point under `centre` stays under it.
  const QPointF anchor = (offset_ + centre) / qreal{zoom_};
  const float oldZoom = zoom_;
  zoom_ = scale;
  const QPointF offset = clampedOffset(anchor * qreal{zoom_} - centre);
  if (offset == offset_ && zoom_ == oldZoom) return;
  offset_ = offset;
  updateTransform();
  if (delegate_ != nullptr) delegate_->scrollViewDidScroll(*this);
}

void ScrollView::updateTransform() {
  if (proxy_ == nullptr) return;
  proxy_->setScale(zoom_);
  proxy_->setPos(-offset_);
  scrollContentMoved(content_);
}

void ScrollView::stopMotion() {
  stopAnimations();
  if (scroller()->state() != QScroller::Inactive) scroller()->stop();
}

void ScrollView::stopAnimations() {
  offsetAnimation_->stop();
  if (zoomAnimation_->state() == QAbstractAnimation::Running) {
    const float target = zoomAnimation_->endValue().toFloat();
    zoomAnimation_->stop();
    if (zoomEndPending_) {
      // An interrupted bounce still ends the zoom, at the scale it was heading for.
      applyZoom(target, viewportCentre());
      reportZoomEnd();
    }
  }
}

void ScrollView::settleOnPage() {
  const qreal page = viewport()->width();
  if (!pagingEnabled_ || pinching_ || page <= 0 || scrollerState_ != QScroller::Inactive ||
      offsetAnimation_->state() == QAbstractAnimation::Running) {
    return;
  }
  const QPointF nearest =
      clampedOffset(QPointF(std::round(offset_.x() / page) * page, offset_.y()));
  if (std::abs(nearest.x() - offset_.x()) >= 0.5) setContentOffset(nearest, true);
}

QPointF ScrollView::viewportCentre() const {
  return QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0);
}

void ScrollView::animateOffsetTo(QPointF target) {
  stopMotion();
  if (target == offset_) return;
  offsetAnimation_->setDuration(animationMs_);
  offsetAnimation_->setStartValue(offset_);
  offsetAnimation_->setEndValue(target);
  offsetAnimation_->start();
}

QSizeF ScrollView::zoomedContentSize() const { return contentSize_ * qreal{zoom_}; }

QPointF ScrollView::clampedOffset(QPointF offset) const {
  const QSizeF content = zoomedContentSize();
  const qreal maxX = std::max(0.0, content.width() - viewport()->width());
  const qreal maxY = std::max(0.0, content.height() - viewport()->height());
  return QPointF(std::clamp(offset.x(), 0.0, maxX), std::clamp(offset.y(), 0.0, maxY));
}

float ScrollView::clampedZoom(float scale) const {
  return std::clamp(scale, minZoom_, std::max(minZoom_, maxZoom_));
}

QRectF ScrollView::dragRange() const {
  const QSizeF content = zoomedContentSize();
  const qreal maxX = std::max(0.0, content.width() - viewport()->width());
  const qreal maxY = std::max(0.0, content.height() - viewport()->height());
  QRectF range(0, 0, maxX, maxY);
  if (!pagingEnabled_) return range;
  // A paged drag may reach the neighbouring pages only, so a fast flick moves one page.
  const qreal w = viewport()->width();
  const qreal h = viewport()->height();
  const auto neighbours = [](qreal offset, qreal page, qreal max) {
    if (page <= 0) return std::pair<qreal, qreal>{0.0, max};
    const qreal index = std::round(offset / page);
    return std::pair<qreal, qreal>{std::clamp((index - 1) * page, 0.0, max),
                                   std::clamp((index + 1) * page, 0.0, max)};
  };
  const auto [left, right] = neighbours(offset_.x(), w, maxX);
  const auto [top, bottom] = neighbours(offset_.y(), h, maxY);
  return QRectF(QPointF(left, top), QPointF(right, bottom));
}

}  // namespace quorin
