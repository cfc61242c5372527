// PageControl: a row of dots, one per page, showing which page is current; tapping moves it.
#pragma once

#include <QList>
#include <QPixmap>
#include <QWidget>

namespace quorin {

// One dot of a PageControl: the platform's round dot, or an image when one is set.
class PageDot : public QWidget {
  Q_OBJECT

 public:
  // How strongly the other pages' dots show their colour: enough for 3:1 against the bar, as a
  // control needs to be seen, and still plainly fainter than the current one.
  static constexpr double kIdleOpacity = 0.6;

  explicit PageDot(QWidget* parent = nullptr);

  // The image drawn instead of the round dot (null for the round dot).
  const QPixmap& image() const { return image_; }
  // Draws `image` instead of the round dot; a null pixmap brings the round dot back.
  void setImage(const QPixmap& image);
  // Whether the round dot is drawn in the current-page colour.
  bool isCurrent() const { return current_; }
  // Sets whether this is the current page's dot.
  void setCurrent(bool current);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap image_;
  bool current_ = false;
};

// The dots are child widgets, one per page in page order (`subviews`). Setting the current page
// draws that page's dot with the image "pc_active.png" (`activeImage`); the others keep the round
// dot. A tap on a dot makes its page current, a tap beside the dots moves one page towards the
// tap; either way valueChanged reports the new page.
class PageControl : public QWidget {
  Q_OBJECT

 public:
  explicit PageControl(QWidget* parent = nullptr);

  // Number of dots.
  int numberOfPages() const { return static_cast<int>(dots_.size()); }
  // Makes `count` dots (at least 0); the current page stays inside the new range.
  void setNumberOfPages(int count);
  // Index of the current page (0 when there are no pages).
  int currentPage() const { return currentPage_; }
  // Makes `page` current, clamped to the dots there are, and draws its dot with activeImage.
  void setCurrentPage(int page);
  // The dots, in page order.
  const QList<PageDot*>& subviews() const { return dots_; }
  // What a tap on the dot of `page` does: makes it current and reports it with valueChanged.
  void tapPage(int page);
  // The image of the current page's dot, loaded from ":/images/pc_active.png" at creation.
  const QPixmap& activeImage() const { return activeImage_; }

  QSize sizeHint() const override;

 signals:
  // The person moved the current page by tapping; currentPage() is already `page`.
  void valueChanged(int page);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutDots();

  QList<PageDot*> dots_;
  int currentPage_ = 0;
  QPixmap activeImage_;
};

}  // namespace quorin
