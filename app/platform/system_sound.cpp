#include "platform/system_sound.hpp"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>

namespace quorin {

SystemSound::SystemSound(const QUrl& source) : source_(source) {
  // QSoundEffect without an output device only logs errors at every play; stay quiet instead.
  if (QMediaDevices::defaultAudioOutput().isNull()) return;
  effect_ = std::make_unique<QSoundEffect>();
  effect_->setSource(source_);
  effect_->setVolume(0.6f);
}

SystemSound::~SystemSound() = default;

void SystemSound::play() {
  ++playCount_;
  if (effect_ && effect_->status() != QSoundEffect::Error) effect_->play();
}

}  // namespace quorin
