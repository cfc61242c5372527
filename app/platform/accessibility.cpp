#include "platform/accessibility.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleApplication>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QPushButton>
#include <QWindow>

#include "platform/interface_loader.hpp"
#include "platform/page_control.hpp"
#include "platform/scroll_view.hpp"

namespace quorin {
namespace {

// The ScrollView a proxied top-level widget is shown in, or null.
ScrollView* scrollViewShowing(const QWidget* widget) {
  if (widget == nullptr || !widget->isWindow()) return nullptr;
  const QGraphicsProxyWidget* proxy = widget->graphicsProxyWidget();
  if (proxy == nullptr || proxy->scene() == nullptr) return nullptr;
  for (QGraphicsView* view : proxy->scene()->views()) {
    if (auto* scroll = qobject_cast<ScrollView*>(view)) return scroll;
  }
  return nullptr;
}

// True when a modal alert stands over `widget`: a screen reader can no more press it than a
// finger can.
bool behindModal(const QWidget* widget) {
  const QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr && widget->window() != modal && !modal->isAncestorOf(widget);
}

// The application without the proxied strip among its windows: it is reached through its view.
class Application : public QAccessibleApplication {
 public:
  int childCount() const override { return static_cast<int>(windows().size()); }
  QAccessibleInterface* child(int index) const override {
    const QObjectList list = windows();
    if (index < 0 || index >= list.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(list.at(index));
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child ? static_cast<int>(windows().indexOf(child->object())) : -1;
  }

 private:
  static QObjectList windows() {
    QObjectList list;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->type() == Qt::Popup || window->type() == Qt::Desktop) continue;
      QAccessibleInterface* root = window->accessibleRoot();
      if (root == nullptr || root->object() == nullptr) continue;
      if (scrollViewShowing(qobject_cast<QWidget*>(root->object())) != nullptr) continue;
      list.append(root->object());
    }
    return list;
  }
};

// The scroll view: its one child is the content it shows (not its viewport or scroll bars).
class ScrollViewAccessible : public QAccessibleWidget {
 public:
  explicit ScrollViewAccessible(ScrollView* view) : QAccessibleWidget(view, QAccessible::Pane) {}
  int childCount() const override { return content() ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 && content() ? QAccessible::queryAccessibleInterface(content()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && content() && child->object() == content() ? 0 : -1;
  }

 private:
  QWidget* content() const {
    const QList<QWidget*> views = static_cast<ScrollView*>(widget())->subviews();
    return views.isEmpty() ? nullptr : views.front();
  }
};

// The content of a scroll view: a child of the view rather than a window. Its screen position
// comes from QWidget::mapToGlobal, which already maps through the proxy. Of its children (the
// pages) it lists only those the view shows, so that a screen reader reads the page in front of
// the person rather than the controls of pages off to the side.
class ScrollContentAccessible : public QAccessibleWidget {
 public:
  explicit ScrollContentAccessible(QWidget* content)
      : QAccessibleWidget(content, QAccessible::Grouping) {}
  int childCount() const override { return static_cast<int>(shownChildren().size()); }
  QAccessibleInterface* child(int index) const override {
    const QList<QAccessibleInterface*> shown = shownChildren();
    return index >= 0 && index < shown.size() ? shown.at(index) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return static_cast<int>(shownChildren().indexOf(const_cast<QAccessibleInterface*>(child)));
  }
  QAccessibleInterface* parent() const override {
    if (ScrollView* view = scrollViewShowing(widget())) {
      return QAccessible::queryAccessibleInterface(view);
    }
    return QAccessibleWidget::parent();
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.invisible = !widget()->isVisible();
    return s;
  }
  // The view moved: when other pages come into view or leave it, screen readers are told to
  // look at the children again.
  void contentMoved() {
    QList<QObject*> shown;
    for (QAccessibleInterface* page : shownChildren()) shown.append(page->object());
    if (shown == lastShown_) return;
    lastShown_ = shown;
    QAccessibleEvent event(widget(), QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&event);
  }

 private:
  QList<QObject*> lastShown_;  // compared, never followed

  QList<QAccessibleInterface*> shownChildren() const {
    QList<QAccessibleInterface*> shown;
    const ScrollView* view = scrollViewShowing(widget());
    const QRect visible =
        view != nullptr ? QRect(view->mapToGlobal(QPoint(0, 0)), view->size()) : QRect();
    for (int i = 0, n = QAccessibleWidget::childCount(); i < n; ++i) {
      QAccessibleInterface* page = QAccessibleWidget::child(i);
      if (page != nullptr && (view == nullptr || page->rect().intersects(visible))) {
        shown.append(page);
      }
    }
    return shown;
  }
};

// A push button as a person meets it: its text (line breaks as spaces) unless it has an
// accessible name, "Press", and a radio button's role when it is one of a group of choices (an
// answer, a language).
class ButtonAccessible : public QAccessibleWidget {
 public:
  explicit ButtonAccessible(QAbstractButton* b) : QAccessibleWidget(b, QAccessible::Button) {}

  QAccessible::Role role() const override {
    if (button()->property("role").toString() == QLatin1String("choice") ||
        button()->property("language").isValid()) {
      return QAccessible::RadioButton;
    }
    return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
  }
  // A button named apart from its text (the score box, "Your score") tells its text as its
  // description, so that the number it shows is heard.
  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    QString shown = button()->text().simplified();
    shown.remove(QLatin1Char('&'));
    if (t == QAccessible::Name && s.isEmpty()) return shown;
    if (t == QAccessible::Description && s.isEmpty() && !button()->accessibleName().isEmpty()) {
      return shown;
    }
    // A tooltip that only repeats the name would be heard twice.
    if (t == QAccessible::Description && s == text(QAccessible::Name)) return {};
    return s;
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = button()->isCheckable();
    s.checked = button()->isChecked();
    s.pressed = button()->isDown();
    return s;
  }
  QStringList actionNames() const override {
    return button()->isEnabled() && !behindModal(button()) ? QStringList{pressAction()}
                                                           : QStringList{};
  }
  void doAction(const QString& action) override {
    if (action == pressAction() && button()->isEnabled() && !behindModal(button())) {
      button()->click();
    }
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// The indicator: a list of page tabs, its dots.
class PageControlAccessible : public QAccessibleWidget {
 public:
  explicit PageControlAccessible(PageControl* c) : QAccessibleWidget(c, QAccessible::PageTabList) {}
};

// One dot: "Page N of M", selected when its page is current; pressing it turns to its page as a
// tap on it does.
class PageDotAccessible : public QAccessibleWidget {
 public:
  explicit PageDotAccessible(PageDot* dot) : QAccessibleWidget(dot, QAccessible::PageTab) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && control() != nullptr) {
      return QCoreApplication::translate("quorin::PageDot", "Page %1 of %2")
          .arg(index() + 1)
          .arg(control()->numberOfPages());
    }
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.selectable = true;
    s.selected = control() != nullptr && control()->currentPage() == index();
    return s;
  }
  QStringList actionNames() const override {
    return behindModal(widget()) ? QStringList{} : QStringList{pressAction()};
  }
  void doAction(const QString& action) override {
    if (action == pressAction() && control() != nullptr && !behindModal(widget())) {
      control()->tapPage(index());
    }
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  PageControl* control() const { return qobject_cast<PageControl*>(widget()->parentWidget()); }
  int index() const {
    return control() ? static_cast<int>(control()->subviews().indexOf(widget())) : -1;
  }
};

// Asked with the most derived class name first; Qt's own factory for its widgets comes before
// this one, so only classes of our own (and the application) are answered here.
QAccessibleInterface* factory(const QString& key, QObject* object) {
  if (object == qApp && key == QLatin1String("QApplication")) return new Application;
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  if (auto* view = qobject_cast<ScrollView*>(widget)) return new ScrollViewAccessible(view);
  if (auto* dot = qobject_cast<PageDot*>(widget)) return new PageDotAccessible(dot);
  if (auto* control = qobject_cast<PageControl*>(widget)) return new PageControlAccessible(control);
  if (auto* button = qobject_cast<Button*>(widget)) return new ButtonAccessible(button);
  return nullptr;
}

}  // namespace

void installAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    // Interface files' push buttons become Buttons, which the factory above describes.
    InterfaceLoader::registerWidgetClass(QStringLiteral("QPushButton"),
                                         [](QWidget* parent) { return new Button(parent); });
    return true;
  }();
  (void)installed;
}

void registerScrollContent(QWidget* content) {
  // Registered before the proxy shows it, which is when Qt would make its own interface.
  QAccessible::registerAccessibleInterface(new ScrollContentAccessible(content));
}

void scrollContentMoved(QWidget* content) {
  if (content == nullptr || !QAccessible::isActive()) return;
  if (auto* accessible =
          dynamic_cast<ScrollContentAccessible*>(QAccessible::queryAccessibleInterface(content))) {
    accessible->contentMoved();
  }
}

}  // namespace quorin
