// DocumentInteraction: offers a file to the applications that can open it ("open in"), which is
// how staff take the results file off the kiosk.
#pragma once

#include <QDBusConnection>
#include <QRect>
#include <QUrl>
#include <functional>
#include <memory>

class QWidget;

namespace quorin {

// How an offer of a file ended.
enum class OpenOutcome {
  Opened,     // an application took the file
  Cancelled,  // the person closed the chooser without choosing
  Failed,     // nothing could open the file
};

// Something that can hand a file to another application.
class OpenInService {
 public:
  using Done = std::function<void(OpenOutcome)>;
  virtual ~OpenInService() = default;
  // Offers the local file at `url`, letting the person choose the application, and calls `done`
  // once with the outcome, on the main thread: at once or later (the chooser may stay up for a
  // while). `parent` is the window asking.
  virtual void openFile(const QUrl& url, QWidget* parent, Done done) = 0;
};

// The desktop's way: the XDG desktop portal's OpenURI.OpenFile with ask=true, whose chooser
// reports the person's choice in the request's Response signal (0 success, 1 cancelled, 2
// failed); without a portal, or when it failed, xdg-open, whose exit status tells.
class DesktopOpenInService : public OpenInService {
 public:
  // Calls the portal on `bus`, waiting at most `timeoutMs` for it to accept the request;
  // `opener` is the program run when the portal cannot help.
  explicit DesktopOpenInService(QDBusConnection bus = QDBusConnection::sessionBus(),
                                int timeoutMs = 2000, QString opener = QStringLiteral("xdg-open"));
  void openFile(const QUrl& url, QWidget* parent, Done done) override;

 private:
  bool openWithPortal(const QUrl& url, QWidget* parent, const Done& done);
  void openWithOpener(const QUrl& url, const Done& done);

  QDBusConnection bus_;
  int timeoutMs_;
  QString opener_;
};

// One export of one file; its presenter keeps it while the chooser may be up.
class DocumentInteraction {
 public:
  DocumentInteraction(QUrl url, std::shared_ptr<OpenInService> service);

  const QUrl& url() const { return url_; }
  // Presents the chooser for the file; `rect` in `view` is where it was asked for (a hint, the
  // desktop places its own chooser). `unable` is called, at once or later, when nothing could
  // open the file.
  void presentOpenInMenu(const QRect& rect, QWidget* view, bool animated,
                         std::function<void()> unable);

 private:
  QUrl url_;
  std::shared_ptr<OpenInService> service_;
};

}  // namespace quorin
