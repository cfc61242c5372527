// SystemSound: a short sound played without waiting, such as the key click.
#pragma once

#include <QUrl>
#include <memory>

class QSoundEffect;

namespace quorin {

class SystemSound {
 public:
  // The key click made at build time.
  static QUrl clickUrl() { return QUrl(QStringLiteral("qrc:/sounds/click.wav")); }

  // The sound at `source`. Silent when the machine has no audio output; a sound that fails to
  // load is silent too, so the screen that plays it keeps working.
  explicit SystemSound(const QUrl& source = clickUrl());
  ~SystemSound();
  SystemSound(const SystemSound&) = delete;
  SystemSound& operator=(const SystemSound&) = delete;

  // Starts the sound and returns at once; a sound already playing starts again.
  void play();
  // True when there is no audio output to play on.
  bool isSilent() const { return effect_ == nullptr; }
  // How many times play() has been called, silent or not.
  int playCount() const { return playCount_; }
  const QUrl& source() const { return source_; }

 private:
  QUrl source_;
  std::unique_ptr<QSoundEffect> effect_;
  int playCount_ = 0;
};

}  // namespace quorin
