// Speech: reads text aloud through Qt TextToSpeech, without ever making the caller wait.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QTextToSpeech;

namespace quorin {

// One voice for the whole kiosk. When no engine can be had (none installed, or the one asked for
// fails to start) the voice is unavailable, says why, and ignores every request. Main thread only.
class Speech : public QObject {
  Q_OBJECT

 public:
  // The engine named `engine` ("" for Qt's default); none at all when `engine` is empty (reading
  // aloud turned off).
  explicit Speech(const std::optional<QString>& engine, QObject* parent = nullptr);
  ~Speech() override;

  // True when text can be spoken.
  bool available() const { return tts_ != nullptr && unavailableReason_.isEmpty(); }
  // Why nothing can be spoken, "" while it can.
  const QString& unavailableReason() const { return unavailableReason_; }
  // True while something is being said.
  bool speaking() const;
  // Stops what is being said and starts `text`; returns at once.
  void say(const QString& text);
  // Stops at once; nothing happens when nothing is being said.
  void stop();
  // Speaks `language` (a language code such as "es") from now on, when a voice for it exists.
  void setLanguage(const QString& language);

 signals:
  // Speaking started or ended (finished, stopped, or failed).
  void speakingChanged(bool speaking);
  // The voice stopped working for good; `reason` says why.
  void becameUnavailable(const QString& reason);

 private:
  void fail(const QString& reason);

  std::unique_ptr<QTextToSpeech> tts_;
  QString unavailableReason_;
  bool speaking_ = false;
};

}  // namespace quorin
