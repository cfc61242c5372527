#include "platform/document_interaction.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>
#include <utility>

#include "platform/log.hpp"

namespace quorin {

DesktopOpenInService::DesktopOpenInService(QDBusConnection bus, int timeoutMs)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs) {}

bool DesktopOpenInService::openFile(const QUrl& url, QWidget* parent) {
  if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return false;
  if (openWithPortal(url, parent)) return true;
  return QDesktopServices::openUrl(url);
}

// org.freedesktop.portal.OpenURI.OpenFile(parent_window, fd, options): the portal opens the file
// descriptor itself, so this also works from a sandbox. A reply means the chooser is up; the
// person's choice arrives later and is none of the kiosk's business.
bool DesktopOpenInService::openWithPortal(const QUrl& url, QWidget* parent) {
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
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"),
      QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
  call << parentWindow << QVariant::fromValue(descriptor)
       << QVariantMap{{QStringLiteral("ask"), true}, {QStringLiteral("writable"), false}};
  const QDBusMessage reply = bus_.call(call, QDBus::Block, timeoutMs_);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  qCInfo(lcKiosk).noquote() << "Desktop portal could not open the file:" << reply.errorMessage();
  return false;
}

DocumentInteraction::DocumentInteraction(QUrl url, std::shared_ptr<OpenInService> service)
    : url_(std::move(url)), service_(std::move(service)) {}

bool DocumentInteraction::presentOpenInMenu(const QRect& /*rect*/, QWidget* view,
                                            bool /*animated*/) {
  return service_ && service_->openFile(url_, view);
}

}  // namespace quorin
