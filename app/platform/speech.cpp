#include "platform/speech.hpp"

#include <QDeadlineTimer>
#include <QLocale>
#include <QStringList>
#include <QTextToSpeech>
#include <QThread>
#include <QTimer>
#include <chrono>

#include "platform/log.hpp"

namespace quorin {

// The engine and every call into it, on the voice's thread.
class Voice : public QObject {
  Q_OBJECT

 public:
  explicit Voice(QString engine) : engine_(std::move(engine)) {}

  void start() {
    tts_ = engine_.isEmpty() ? std::make_unique<QTextToSpeech>()
                             : std::make_unique<QTextToSpeech>(engine_);
    if (tts_->state() == QTextToSpeech::Error) {
      const QString why = tts_->errorString();
      emit failed(
          QStringLiteral("the text-to-speech engine \"%1\" did not start: %2")
              .arg(tts_->engine(), why.isEmpty() ? QStringLiteral("no reason given") : why));
      tts_.reset();
      return;
    }
    connect(tts_.get(), &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
      if (state == QTextToSpeech::Error) {
        emit failed(QStringLiteral("the text-to-speech engine \"%1\" failed: %2")
                        .arg(tts_->engine(), tts_->errorString()));
        return;
      }
      if (state == QTextToSpeech::Speaking) asked_ = false;
      emit speakingChanged(state == QTextToSpeech::Speaking);
    });
    emit started(tts_->engine());
  }

  void say(const QString& text) {
    if (!tts_) return;
    // A new request replaces the old one rather than queueing behind it: the person asked for this.
    stop();
    tts_->say(text);
    asked_ = true;
  }

  // Some engines report speaking only a moment after they were asked: what was asked is stopped
  // too, or it would go on reading a page that is gone, perhaps to the next person.
  void stop() {
    if (!tts_) return;
    if (asked_ || tts_->state() == QTextToSpeech::Speaking) {
      tts_->stop(QTextToSpeech::BoundaryHint::Immediate);
    }
    asked_ = false;
  }

  void setLanguage(const QString& language) {
    if (!tts_) return;
    const QLocale wanted(language);
    for (const QLocale& locale : tts_->availableLocales()) {
      if (locale.language() == wanted.language()) {
        tts_->setLocale(locale);
        return;
      }
    }
  }

 signals:
  void started(const QString& engine);
  void failed(const QString& reason);
  void speakingChanged(bool speaking);

 private:
  QString engine_;
  std::unique_ptr<QTextToSpeech> tts_;
  bool asked_ = false;  // said, and not yet reported speaking nor stopped
};

namespace {
// Speech services start in a few seconds, even on a slow tablet.
constexpr std::chrono::seconds kStartTimeout{15};
}  // namespace

Speech::Speech(const std::optional<QString>& engine, QObject* parent) : QObject(parent) {
  if (!engine) {
    unavailableReason_ = QStringLiteral("reading aloud is turned off");
    return;
  }
  const QStringList engines = QTextToSpeech::availableEngines();
  if (engines.isEmpty()) {
    unavailableReason_ = QStringLiteral(
        "no text-to-speech engine is installed (Qt TextToSpeech found no engine plugin)");
    return;
  }
  if (!engine->isEmpty() && !engines.contains(*engine)) {
    unavailableReason_ = QStringLiteral(
                             "the text-to-speech engine \"%1\" is not installed "
                             "(installed: %2)")
                             .arg(*engine, engines.join(QStringLiteral(", ")));
    return;
  }
  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("voice"));
  voice_ = new Voice(*engine);
  voice_->moveToThread(thread_.get());
  connect(thread_.get(), &QThread::started, voice_, &Voice::start);
  connect(thread_.get(), &QThread::finished, voice_, &QObject::deleteLater);
  connect(voice_, &Voice::started, this, [this](const QString& name) {
    if (!unavailableReason_.isEmpty()) return;  // too late: the control is gone
    started_ = true;
    emit ready(name);
  });
  connect(voice_, &Voice::failed, this, &Speech::fail);
  connect(voice_, &Voice::speakingChanged, this, [this](bool speaking) {
    if (speaking == speaking_ || !available()) return;
    speaking_ = speaking;
    emit speakingChanged(speaking);
  });
  thread_->start();
  // A speech service that never answers would leave a control that does nothing: after a while
  // the voice is given up (its thread waits on, harmless).
  QTimer::singleShot(kStartTimeout, this, [this, name = *engine] {
    if (started_) return;
    fail(QStringLiteral("the text-to-speech engine%1 did not start within %2 s")
             .arg(name.isEmpty() ? name : QStringLiteral(" \"%1\"").arg(name))
             .arg(kStartTimeout.count()));
  });
}

Speech::~Speech() {
  if (!thread_) return;
  thread_->quit();
  // An engine that hangs as it starts keeps its thread: the kiosk is ending, so it is left behind
  // rather than waited for.
  if (!thread_->wait(QDeadlineTimer(3000))) {
    qCWarning(lcKiosk) << "The text-to-speech engine did not stop; it is left running";
    (void)thread_.release();
  }
}

bool Speech::speaking() const { return available() && speaking_; }

void Speech::say(const QString& text) {
  if (!available()) return;
  QMetaObject::invokeMethod(voice_, [voice = voice_, text] { voice->say(text); });
}

void Speech::stop() {
  if (!available()) return;
  QMetaObject::invokeMethod(voice_, [voice = voice_] { voice->stop(); });
}

void Speech::setLanguage(const QString& language) {
  if (!available()) return;
  QMetaObject::invokeMethod(voice_, [voice = voice_, language] { voice->setLanguage(language); });
}

void Speech::fail(const QString& reason) {
  if (!unavailableReason_.isEmpty()) return;
  unavailableReason_ = reason;
  if (speaking_) {
    speaking_ = false;
    emit speakingChanged(false);
  }
  emit becameUnavailable(reason);
}

}  // namespace quorin

#include "speech.moc"
