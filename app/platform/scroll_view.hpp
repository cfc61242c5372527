// ScrollView: a paged, zoomable scroll view over one content widget, for touch and mouse.
#pragma once

#include <QGraphicsView>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QGraphicsProxyWidget;
class QScroller;
class QVariantAnimation;

namespace quorin {

class ScrollView;

// Told of what happens in a ScrollView. Every call comes on the main thread, from inside the
// change it reports; the delegate may scroll or zoom the view again from there.
class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  // The content offset or the zoom scale changed (drag, animation, zoom, resize or code).
  virtual void scrollViewDidScroll(ScrollView& scrollView) = 0;
  // A zoom gesture ended at `scale` (after any bounce back into the zoom range).
  virtual void scrollViewDidEndZooming(ScrollView& scrollView, QWidget* view, float scale) = 0;
  // The view that zooms; nullptr turns zooming off.
  virtual QWidget* viewForZoomingInScrollView(ScrollView& scrollView) = 0;
  // The frame's size changed: content laid out for the old size must be laid out again.
  virtual void scrollViewDidResize(ScrollView& scrollView) { (void)scrollView; }
};

// The content widget sits in a graphics proxy, so it can be scaled as a whole. The content offset
// is in zoomed coordinates: with zoom scale s, content point c is shown at s * c - offset. Drags
// go through QScroller; with paging on, a drag ends on the page it started from or on one of its
// two neighbours, however fast the flick. Pinches zoom around their centre.
class ScrollView : public QGraphicsView {
  Q_OBJECT

 public:
  explicit ScrollView(QWidget* parent = nullptr);
  ~ScrollView() override;

  // The delegate (not owned; may be nullptr). It must outlive the view or be reset first.
  void setDelegate(ScrollViewDelegate* delegate) { delegate_ = delegate; }
  ScrollViewDelegate* delegate() const { return delegate_; }

  // The view's rectangle in its parent's coordinates; its size is the size of one page.
  QRectF frame() const { return QRectF(geometry()); }
  // Size of the content at zoom scale 1.
  QSizeF contentSize() const { return contentSize_; }
  // Sets the content size at zoom scale 1.
  void setContentSize(QSizeF size);
  // Offset of the visible area's top-left corner into the zoomed content.
  QPointF contentOffset() const { return offset_; }
  // Moves the content; not clamped, so code may overscroll as a drag can. Tells the delegate.
  void setContentOffset(QPointF offset, bool animated = false);
  // Current zoom scale.
  float zoomScale() const { return zoom_; }
  // Zooms around the visible centre, clamped to the zoom range; the offset stays inside the
  // content.
  void setZoomScale(float scale, bool animated = false);
  // Smallest zoom scale (1 by default).
  float minimumZoomScale() const { return minZoom_; }
  // Sets the smallest zoom scale.
  void setMinimumZoomScale(float scale) { minZoom_ = scale; }
  // Largest zoom scale (1 by default, which means no zooming).
  float maximumZoomScale() const { return maxZoom_; }
  // Sets the largest zoom scale.
  void setMaximumZoomScale(float scale) { maxZoom_ = scale; }
  // Scrolls as little as needed for `rect` (zoomed content coordinates) to be visible.
  void scrollRectToVisible(QRectF rect, bool animated);
  // True when drags stop on page boundaries (multiples of the frame size).
  bool isPagingEnabled() const { return pagingEnabled_; }
  // Turns paging on or off.
  void setPagingEnabled(bool enabled) { pagingEnabled_ = enabled; }
  // True when a pinch may overshoot the zoom range and springs back at its end.
  bool bouncesZoom() const { return bouncesZoom_; }
  // Turns zoom bouncing on or off.
  void setBouncesZoom(bool bounces) { bouncesZoom_ = bounces; }
  // Makes `view` the content (the view takes ownership). One content view; a second replaces it.
  void addSubview(QWidget* view);
  // The content view in a list (empty before addSubview).
  QList<QWidget*> subviews() const;

  // True while a finger or the mouse drags the content.
  bool isDragging() const;
  // True while the content moves by itself (after a drag, or an animated scroll or zoom).
  bool isDecelerating() const;
  // True while a pinch is in progress.
  bool isZooming() const { return pinching_; }

  // Length in milliseconds of animated scrolls and zooms; 0 makes them instant.
  int animationDuration() const { return animationMs_; }
  // Sets this view's animation length.
  void setAnimationDuration(int ms) { animationMs_ = ms; }
  // The animation length given to views created from now on (250 ms unless set; tests use 0).
  static void setDefaultAnimationDuration(int ms);

  // The QScroller that turns drags into scrolls.
  QScroller* scroller() const;

  // Pinch steps, called by the pinch gesture (and by tests, which cannot make one). `factor` is
  // the scale relative to the pinch's start; `centre` is in viewport coordinates.
  void pinchBegan(QPointF centre);
  // Zooms to the start scale times `factor`, keeping the content under `centre` in place.
  void pinchChanged(qreal factor, QPointF centre);
  // Ends the pinch: springs back into the zoom range if needed, then tells the delegate.
  void pinchEnded();

 protected:
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void applyOffset(QPointF offset);
  void applyZoom(float scale, QPointF centre);
  void updateTransform();
  void stopMotion();
  void stopAnimations();
  void reportZoomEnd();
  QPointF viewportCentre() const;
  void animateOffsetTo(QPointF target);
  QPointF clampedOffset(QPointF offset) const;
  QSizeF zoomedContentSize() const;
  float clampedZoom(float scale) const;
  QRectF dragRange() const;
  // Paged and at rest between two pages (a finger stopped the motion and let go): moves to the
  // nearer page.
  void settleOnPage();

  ScrollViewDelegate* delegate_ = nullptr;
  QGraphicsProxyWidget* proxy_ = nullptr;
  QWidget* content_ = nullptr;
  QSizeF contentSize_;
  QPointF offset_;
  float zoom_ = 1.0f;
  float minZoom_ = 1.0f;
  float maxZoom_ = 1.0f;
  bool pagingEnabled_ = false;
  bool bouncesZoom_ = true;
  bool pinching_ = false;
  float pinchStartZoom_ = 1.0f;
  bool zoomEndPending_ = false;
  int animationMs_;
  QVariantAnimation* offsetAnimation_ = nullptr;
  QVariantAnimation* zoomAnimation_ = nullptr;
  // A touch that lands while the pages move only stops them: the control under it, which moved
  // there a moment ago, is not pressed.
  bool touchStopsMotion_ = false;
  bool swallowingTouch_ = false;
  int scrollerState_ = 0;  // QScroller::State, as last reported
};

}  // namespace quorin
