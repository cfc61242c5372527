// DocumentInteraction: offers a file to the applications that can open it ("open in"), which is
// how staff take the results file off the kiosk.
#pragma once

#include <QDBusConnection>
#include <QRect>
#include <QUrl>
#include <memory>

class QWidget;

namespace quorin {

// Something that can hand a file to another application.
class OpenInService {
 public:
  virtual ~OpenInService() = default;
  // Offers the local file at `url`, letting the person choose the application; false when
  // nothing could present it. `parent` is the window asking.
  virtual bool openFile(const QUrl& url, QWidget* parent) = 0;
};

// The desktop's way: the XDG desktop portal's OpenURI.OpenFile with ask=true (the portal shows
// its application chooser), else QDesktopServices::openUrl.
class DesktopOpenInService : public OpenInService {
 public:
  // Calls the portal on `bus`, waiting at most `timeoutMs` for it to answer.
  explicit DesktopOpenInService(QDBusConnection bus = QDBusConnection::sessionBus(),
                                int timeoutMs = 2000);
  bool openFile(const QUrl& url, QWidget* parent) override;

 private:
  bool openWithPortal(const QUrl& url, QWidget* parent);

  QDBusConnection bus_;
  int timeoutMs_;
};

// One export of one file; its presenter keeps it while the chooser may be up.
class DocumentInteraction {
 public:
  DocumentInteraction(QUrl url, std::shared_ptr<OpenInService> service);

  const QUrl& url() const { return url_; }
  // Presents the chooser for the file; `rect` in `view` is where it was asked for (a hint, the
  // desktop places its own chooser). False when nothing can present the file.
  bool presentOpenInMenu(const QRect& rect, QWidget* view, bool animated);

 private:
  QUrl url_;
  std::shared_ptr<OpenInService> service_;
};

}  // namespace quorin
