#include "platform/speech.hpp"

#include <QLocale>
#include <QStringList>
#include <QTextToSpeech>

namespace quorin {

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
  tts_ = engine->isEmpty() ? std::make_unique<QTextToSpeech>()
                           : std::make_unique<QTextToSpeech>(*engine);
  if (tts_->state() == QTextToSpeech::Error) {
    const QString why = tts_->errorString();
    unavailableReason_ =
        QStringLiteral("the text-to-speech engine \"%1\" did not start: %2")
            .arg(tts_->engine(), why.isEmpty() ? QStringLiteral("no reason given") : why);
    tts_.reset();
    return;
  }
  connect(tts_.get(), &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
    if (state == QTextToSpeech::Error) {
      fail(QStringLiteral("the text-to-speech engine \"%1\" failed: %2")
               .arg(tts_->engine(), tts_->errorString()));
      return;
    }
    const bool speaking = state == QTextToSpeech::Speaking;
    if (speaking == speaking_) return;
    speaking_ = speaking;
    emit speakingChanged(speaking);
  });
}

Speech::~Speech() = default;

bool Speech::speaking() const { return available() && speaking_; }

void Speech::say(const QString& text) {
  if (!available()) return;
  // A new request replaces the old one rather than queueing behind it: the person asked for this.
  if (speaking_) tts_->stop(QTextToSpeech::BoundaryHint::Immediate);
  tts_->say(text);
}

void Speech::stop() {
  if (!available() || !speaking_) return;
  tts_->stop(QTextToSpeech::BoundaryHint::Immediate);
}

void Speech::setLanguage(const QString& language) {
  if (!available()) return;
  const QLocale wanted(language);
  for (const QLocale& locale : tts_->availableLocales()) {
    if (locale.language() == wanted.language()) {
      tts_->setLocale(locale);
      return;
    }
  }
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
