#include "quorin_app_delegate.hpp"

#include <QDir>
#include <limits>
#include <utility>

#include "page_controller.hpp"
#include "platform/alert.hpp"
#include "platform/log.hpp"
#include "start_controller.hpp"

namespace quorin {

QuorinAppDelegate::QuorinAppDelegate(AppEnvironment environment)
    : environment_(std::move(environment)), window_(std::make_unique<Window>()) {
  window_->setObjectName(QStringLiteral("window"));
  if (!environment_.scheduler) environment_.scheduler = std::make_shared<QtScheduler>();
  if (!environment_.openInService) {
    environment_.openInService = std::make_shared<DesktopOpenInService>();
  }
  Alert::setPresentingWindow(window_.get());
  speech_ = std::make_unique<Speech>(environment_.speechEngine);
  if (!speech_->available()) {
    qCInfo(lcKiosk).noquote() << "Read aloud is not offered:" << speech_->unavailableReason();
  }
  connect(speech_.get(), &Speech::ready, this, [](const QString& engine) {
    qCInfo(lcKiosk).noquote()
        << QStringLiteral("Read aloud is offered: the text-to-speech engine \"%1\" has started")
               .arg(engine);
  });
  connect(speech_.get(), &Speech::becameUnavailable, this, [this](const QString& reason) {
    if (speech_->started()) {
      qCWarning(lcKiosk).noquote() << "Read aloud is no longer offered:" << reason;
    } else {
      qCInfo(lcKiosk).noquote() << "Read aloud is not offered:" << reason;
    }
  });
}

QuorinAppDelegate::~QuorinAppDelegate() {
  Alert::setPresentingWindow(nullptr);
  // The screens hold this delegate; they go before the model and the log they reach through it.
  window_.reset();
}

bool QuorinAppDelegate::didFinishLaunching() {
  tool_ = std::make_unique<Tool>(environment_.store, environment_.clock);
  csvFile_ = std::make_unique<CSVFile>(environment_.store, environment_.documentsFolder,
                                       std::make_shared<AlertPresenterAdapter>());
  if (!environment_.storeOpenFailure.empty()) {
    Alert::simpleWithTitle(tr("Error"), tr(kStoreOpenFailedMessage));
  }
  // Rows that an earlier append could not write go first, so the file stays in session order.
  csvFile_->flushPendingRows();
  if (tool_->complete()) {
    csvFile_->addToCsv(*tool_, true);
    tool_->restart();
  }
  csvFile_->catchUpRowCount();
  window_->setRootViewController(std::make_unique<StartController>(*this));
  window_->makeKeyAndVisible();
  return true;
}

int QuorinAppDelegate::inactivityTimout() const {
  const std::optional<SettingValue> value = environment_.store->valueForKey(kTimeoutKey);
  if (value) {
    if (const auto* seconds = std::get_if<std::int64_t>(&*value)) {
      // Written as an int; anything wider came from elsewhere and is clamped.
      if (*seconds > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
      if (*seconds < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
      return static_cast<int>(*seconds);
    }
  }
  return kDefaultTimeout;
}

void QuorinAppDelegate::setInactivityTimout(int seconds) {
  environment_.store->setValue(kTimeoutKey, std::int64_t{seconds});
}

void QuorinAppDelegate::startScreener() {
  auto pageFlow = std::make_unique<PageController>(*this);
  PageController* flow = pageFlow.get();
  // Installing loads the flow's view, where it reads the time-out; only then is the timer armed.
  window_->setRootViewController(std::move(pageFlow));
  window_->makeKeyAndVisible();
  flow->resetTimer();
}

QString defaultInterfaceOverrideFolder(const QString& kioskHome) {
  const QString fromEnvironment = qEnvironmentVariable("QUORIN_UI_DIR");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  return QDir(kioskHome).filePath(QStringLiteral("ui"));
}

}  // namespace quorin
