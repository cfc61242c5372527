#include "platform/page_control.hpp"

#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "platform/kiosk_style.hpp"
#include "platform/log.hpp"

namespace quorin {

namespace {

// Each dot sits in a square cell big enough to be hit with a finger.
constexpr int kCell = 44;
constexpr int kDotDiameter = 12;
constexpr int kImageSize = 22;

}  // namespace

PageDot::PageDot(QWidget* parent) : QWidget(parent) {
  // Taps belong to the control, which decides what a tap on or beside a dot means.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  resize(kCell, kCell);
}

void PageDot::setImage(const QPixmap& image) {
  image_ = image;
  update();
}

void PageDot::setCurrent(bool current) {
  current_ = current;
  update();
}

QSize PageDot::sizeHint() const { return QSize(kCell, kCell); }

void PageDot::paintEvent(QPaintEvent* event) {
  (void)event;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QPointF centre = QRectF(rect()).center();
  // The image is drawn for the normal look; in high contrast the dots are drawn in its palette.
  const bool highContrast = currentKioskLook().highContrast;
  if (!image_.isNull() && !highContrast) {
    QRectF target(0, 0, kImageSize, kImageSize);
    target.moveCenter(centre);
    painter.drawPixmap(target, image_, QRectF(image_.rect()));
    return;
  }
  QColor colour = palette().color(QPalette::WindowText);
  if (!current_) colour.setAlphaF(static_cast<float>(kIdleOpacity));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(centre, kDotDiameter / 2.0, kDotDiameter / 2.0);
  if (current_ && highContrast) {
    painter.setPen(QPen(colour, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, kImageSize / 2.0 - 2, kImageSize / 2.0 - 2);
  }
}

PageControl::PageControl(QWidget* parent)
    : QWidget(parent), activeImage_(QStringLiteral(":/images/pc_active.png")) {
  if (activeImage_.isNull()) {
    qCWarning(lcKiosk) << "the image pc_active.png is missing; the current page's dot is "
                          "drawn as a plain dot";
  }
  setMinimumHeight(kCell);
}

void PageControl::setNumberOfPages(int count) {
  count = std::max(0, count);
  while (dots_.size() > count) delete dots_.takeLast();
  while (dots_.size() < count) {
    auto* dot = new PageDot(this);
    dot->show();
    dots_.append(dot);
  }
  layoutDots();
  setCurrentPage(currentPage_);
  updateGeometry();
}

void PageControl::setCurrentPage(int page) {
  currentPage_ = dots_.isEmpty() ? 0 : std::clamp(page, 0, numberOfPages() - 1);
  // The platform's look first: every dot round, the current one in full colour.
  for (int i = 0; i < numberOfPages(); ++i) {
    dots_[i]->setImage(QPixmap());
    dots_[i]->setCurrent(i == currentPage_);
  }
  if (!dots_.isEmpty() && !activeImage_.isNull()) dots_[currentPage_]->setImage(activeImage_);
}

QSize PageControl::sizeHint() const { return QSize(std::max(1, numberOfPages()) * kCell, kCell); }

void PageControl::mousePressEvent(QMouseEvent* event) { event->accept(); }

void PageControl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dots_.isEmpty() ||
      !rect().contains(event->position().toPoint())) {
    return;
  }
  const QPointF pos = event->position();
  int page = currentPage_;
  const auto hit = std::find_if(dots_.begin(), dots_.end(), [&](PageDot* dot) {
    return dot->geometry().contains(pos.toPoint());
  });
  if (hit != dots_.end()) {
    page = static_cast<int>(hit - dots_.begin());
  } else if (pos.x() < dots_[currentPage_]->geometry().center().x()) {
    page = currentPage_ - 1;
  } else {
    page = currentPage_ + 1;
  }
  tapPage(page);
}

void PageControl::tapPage(int page) {
  if (dots_.isEmpty()) return;
  page = std::clamp(page, 0, numberOfPages() - 1);
  if (page == currentPage_) return;
  setCurrentPage(page);
  emit valueChanged(page);
}

void PageControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutDots();
}

void PageControl::layoutDots() {
  const int left = (width() - numberOfPages() * kCell) / 2;
  const int top = (height() - kCell) / 2;
  for (int i = 0; i < numberOfPages(); ++i) {
    dots_[i]->setGeometry(left + i * kCell, top, kCell, kCell);
  }
}

}  // namespace quorin
