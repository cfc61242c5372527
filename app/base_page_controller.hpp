// BasePageController: one page of the page flow, and the five plain content pages.
#pragma once

#include <QPointer>
#include <QString>

#include "platform/view_controller.hpp"

namespace quorin {

class PageController;
class QuorinAppDelegate;
class Tool;

// A page loads the interface file named after its class less "Controller" (TitlePageController
// loads "TitlePage"). Its controls may name the actions "restart:", "nextPage:" and "toggleAid:".
// Pages are created by the page flow, which outlives them in normal use; a page whose flow is
// gone does nothing when asked to move. Main thread only.
class BasePageController : public ViewController {
  Q_OBJECT

 public:
  // A page of `pageController` whose interface file is named after `pageClass`.
  BasePageController(QuorinAppDelegate& app, PageController& pageController,
                     const QMetaObject& pageClass);

  // The interface file's name for a page class: its name without namespace and "Controller".
  static QString interfaceNameFor(const QMetaObject& pageClass);

  // The application delegate's screening model.
  Tool& tool() const;
  // The page flow's current page (0 when the flow is gone).
  int currentPage() const;
  // Asks the page flow to scroll to `page`.
  void scrollToPage(int page);
  // Asks the page flow to re-arm its inactivity timer.
  void resetTimer();

  // Action of a restart control: the page flow restarts, asking first when progress would be lost;
  // a tap just after the page came into view is ignored (see PageController::kArrivalGuard).
  Q_INVOKABLE void restart(QObject* sender);
  // Action of a "next" control: scrolls to the following page, as a swipe to the left would.
  Q_INVOKABLE void nextPage(QObject* sender);
  // Action of a reading aid's toggle (property `aid`): larger text or high contrast, on or off
  // as the toggle now shows, until the session ends.
  Q_INVOKABLE void toggleAid(QObject* sender);

 protected:
  // Refuses a control that takes an entry the kiosk neither stores nor clears (a check box, a
  // text field a clinic added), which would show one person's entry to the next, and a reading
  // aid or language control the kiosk could not honour.
  QString faultIn(QWidget& form) const override;
  QuorinAppDelegate& app() const { return app_; }
  // The page flow, or null once it is gone.
  PageController* pageController() const;

 private:
  QuorinAppDelegate& app_;
  QPointer<PageController> pageController_;
};

// The plain content pages: each exists so that its page loads its own interface file.
// The title page logs a language or reading aid its file offers no control for.
// The title page also offers "chooseLanguage:", for controls whose string property `language`
// names one of Language::available().
class TitlePageController : public BasePageController {
  Q_OBJECT
 public:
  TitlePageController(QuorinAppDelegate& app, PageController& pageController);
  // Action of a language control: the pages change to its language.
  Q_INVOKABLE void chooseLanguage(QObject* sender);

 protected:
  void viewDidLoad() override;
  void viewDidReload(QWidget& oldView) override;

 private:
  // Shows the language control of the pages' language pressed, the others not.
  void showLanguage();
};

class IntroPageController : public BasePageController {
  Q_OBJECT
 public:
  IntroPageController(QuorinAppDelegate& app, PageController& pageController)
      : BasePageController(app, pageController, staticMetaObject) {}
};

class AboutPageController : public BasePageController {
  Q_OBJECT
 public:
  AboutPageController(QuorinAppDelegate& app, PageController& pageController)
      : BasePageController(app, pageController, staticMetaObject) {}
};

class CommitteePageController : public BasePageController {
  Q_OBJECT
 public:
  CommitteePageController(QuorinAppDelegate& app, PageController& pageController)
      : BasePageController(app, pageController, staticMetaObject) {}
};

class PracticePageController : public BasePageController {
  Q_OBJECT
 public:
  PracticePageController(QuorinAppDelegate& app, PageController& pageController)
      : BasePageController(app, pageController, staticMetaObject) {}
};

}  // namespace quorin
