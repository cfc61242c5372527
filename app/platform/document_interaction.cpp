#include "platform/document_interaction.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>
#include <utility>

#include "platform/log.hpp"

namespace quorin {
namespace {

// xdg-open runs some applications in its own process: still running after this long, it has
// found one.
constexpr int kOpenerGraceMs = 3000;

// Waits for the Response of one portal request, then reports it and goes.
class PortalRequest : public QObject {
  Q_OBJECT

 public:
  PortalRequest(QDBusConnection bus, std::function<void(uint)> answered)
      : bus_(std::move(bus)), answered_(std::move(answered)) {}

  bool listen(const QString& path) {
    if (!path_.isEmpty()) {
      bus_.disconnect(QString(), path_, kRequest, QStringLiteral("Response"), this,
                      SLOT(response(uint, QVariantMap)));
    }
    path_ = path;
    return bus_.connect(QString(), path_, kRequest, QStringLiteral("Response"), this,
                        SLOT(response(uint, QVariantMap)));
  }

 public slots:
  void response(uint code, const QVariantMap& results) {
    (void)results;
    listen(QString());
    if (answered_) std::exchange(answered_, nullptr)(code);
    deleteLater();
  }

 private:
  static inline const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
  QDBusConnection bus_;
  QString path_;
  std::function<void(uint)> answered_;
};

}  // namespace

DesktopOpenInService::DesktopOpenInService(QDBusConnection bus, int timeoutMs, QString opener)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs), opener_(std::move(opener)) {}

void DesktopOpenInService::openFile(const QUrl& url, QWidget* parent, Done done) {
  if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) {
    done(OpenOutcome::Failed);
    return;
  }
  if (!openWithPortal(url, parent, done)) openWithOpener(url, done);
}

// org.freedesktop.portal.OpenURI.OpenFile(parent_window, fd, options): the portal opens the file
// descriptor itself, so this also works from a sandbox. Its reply only says the request was
// accepted; the outcome comes in the request's Response signal.
bool DesktopOpenInService::openWithPortal(const QUrl& url, QWidget* parent, const Done& done) {
  if (!bus_.isConnected()) return false;
  const QByteArray path = QFile::encodeName(url.toLocalFile());
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  QDBusUnixFileDescriptor descriptor(fd);  // keeps its own duplicate
  ::close(fd);

  QString parentWindow;
  if (parent && QGuiApplication::platformName() == QLatin1String("xcb")) {
    parentWindow = QStringLiteral("x11:%1").arg(parent->window()->winId(), 0, 16);
  }
  // The request's object path follows from our bus name and a token of our choosing, so the
  // Response can be listened for before the call, and cannot come unheard.
  static int requests = 0;
  const QString token = QStringLiteral("quorin%1").arg(++requests);
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  const QString expected =
      QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
  auto* request = new PortalRequest(bus_, [this, url, done](uint code) {
    if (code == 0) {
      done(OpenOutcome::Opened);
    } else if (code == 1) {
      done(OpenOutcome::Cancelled);
    } else {
      qCInfo(lcKiosk) << "Desktop portal could not open the file (response" << code << ")";
      openWithOpener(url, done);
    }
  });
  request->listen(expected);

  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"),
      QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
  call << parentWindow << QVariant::fromValue(descriptor)
       << QVariantMap{{QStringLiteral("ask"), true},
                      {QStringLiteral("writable"), false},
                      {QStringLiteral("handle_token"), token}};
  const QDBusMessage reply = bus_.call(call, QDBus::Block, timeoutMs_);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    qCInfo(lcKiosk).noquote() << "Desktop portal could not open the file:" << reply.errorMessage();
    delete request;
    return false;
  }
  // An older portal may choose another path; its Response then comes there.
  const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
  if (!handle.isEmpty() && handle != expected) request->listen(handle);
  return true;
}

void DesktopOpenInService::openWithOpener(const QUrl& url, const Done& done) {
  auto* process = new QProcess;
  auto reported = std::make_shared<bool>(false);
  auto report = [done, reported](OpenOutcome outcome) {
    if (!std::exchange(*reported, true)) done(outcome);
  };
  QObject::connect(process, &QProcess::errorOccurred, process, [process, report, url](auto e) {
    if (e != QProcess::FailedToStart) return;
    qCInfo(lcKiosk).noquote() << "Could not run" << process->program() << "for" << url.toString();
    report(OpenOutcome::Failed);
    process->deleteLater();
  });
  QObject::connect(process, &QProcess::finished, process, [process, report](int code) {
    if (code != 0) qCInfo(lcKiosk) << process->program() << "found no application, status" << code;
    report(code == 0 ? OpenOutcome::Opened : OpenOutcome::Failed);
    process->deleteLater();
  });
  QTimer::singleShot(kOpenerGraceMs, process, [report] { report(OpenOutcome::Opened); });
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->start(opener_, {url.toLocalFile()});
}

DocumentInteraction::DocumentInteraction(QUrl url, std::shared_ptr<OpenInService> service)
    : url_(std::move(url)), service_(std::move(service)) {}

void DocumentInteraction::presentOpenInMenu(const QRect& /*rect*/, QWidget* view, bool /*animated*/,
                                            std::function<void()> unable) {
  if (!service_) {
    unable();
    return;
  }
  service_->openFile(url_, view, [unable = std::move(unable)](OpenOutcome outcome) {
    if (outcome == OpenOutcome::Failed) unable();
  });
}

}  // namespace quorin

#include "document_interaction.moc"
