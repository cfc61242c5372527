// Speech: reads text aloud through Qt TextToSpeech, without ever making the caller wait.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QThread;

namespace quorin {

class Voice;

// One voice for the whole kiosk. The engine starts and speaks on a thread of its own: some take
// seconds to start (speech-dispatcher is spawned on first use), which must hold back neither the
// first frame nor a touch. Until it has started, requests wait for it. When no engine can be had
// (none installed, or the one asked for fails to start) the voice is unavailable, says why, and
// ignores every request. Main thread only.
class Speech : public QObject {
  Q_OBJECT

 public:
  // The engine named `engine` ("" for Qt's default); none at all when `engine` is empty (reading
  // aloud turned off).
  explicit Speech(const std::optional<QString>& engine, QObject* parent = nullptr);
  ~Speech() override;

  // True when text can be spoken (or will be, once the engine has started).
  bool available() const { return voice_ != nullptr && unavailableReason_.isEmpty(); }
  // True once the engine has started.
  bool started() const { return started_; }
  // Why nothing can be spoken, "" while it can.
  const QString& unavailableReason() const { return unavailableReason_; }
  // True while something is being said.
  bool speaking() const;
  // Stops what is being said and starts `text`; returns at once.
  void say(const QString& text);
  // Stops at once, including what was asked for but has not started; returns at once.
  void stop();
  // Speaks `language` (a language code such as "es") from now on, when a voice for it exists.
  void setLanguage(const QString& language);

 signals:
  // The engine has started: text can be spoken at once. `engine` names it.
  void ready(const QString& engine);
  // Speaking started or ended (finished, stopped, or failed).
  void speakingChanged(bool speaking);
  // The voice stopped working for good, or never started; `reason` says why.
  void becameUnavailable(const QString& reason);

 private:
  void fail(const QString& reason);

  std::unique_ptr<QThread> thread_;
  Voice* voice_ = nullptr;  // lives on thread_, which deletes it as it ends
  QString unavailableReason_;
  bool started_ = false;
  bool speaking_ = false;
};

}  // namespace quorin
