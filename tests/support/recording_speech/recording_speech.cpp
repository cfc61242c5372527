// A text-to-speech engine for the tests: it appends what it is asked to do to the file
// $QUORIN_SPEECH_RECORD, one JSON object a line ({"say": text, "locale": name} or {"stop": true}).
// An utterance lasts 50 ms a word ($QUORIN_SPEECH_WORD_MS), so that speech is seen in progress
// and stopped. Like speech-dispatcher, it may report speaking only a while after it was asked
// ($QUORIN_SPEECH_START_MS, 0 by default); a stop meanwhile still silences it. With
// QUORIN_SPEECH_FAIL set it fails to start, as without its service; with QUORIN_SPEECH_HANG it
// does not start for a minute.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextToSpeechEngine>
#include <QTextToSpeechPlugin>
#include <QThread>
#include <QTimer>
#include <QVoice>

namespace {

class RecordingEngine : public QTextToSpeechEngine {
  Q_OBJECT

 public:
  explicit RecordingEngine(QObject* parent) : QTextToSpeechEngine(parent) {
    finish_.setSingleShot(true);
    begin_.setSingleShot(true);
    connect(&finish_, &QTimer::timeout, this, [this] { setState(QTextToSpeech::Ready); });
    connect(&begin_, &QTimer::timeout, this, &RecordingEngine::beginSpeaking);
  }

  QList<QLocale> availableLocales() const override {
    return {QLocale(QLocale::English, QLocale::UnitedStates),
            QLocale(QLocale::Spanish, QLocale::Spain)};
  }
  QList<QVoice> availableVoices() const override { return {}; }

  void say(const QString& text) override {
    record({{QStringLiteral("say"), text}, {QStringLiteral("locale"), locale_.name()}});
    bool set = false;
    const int perWord = qEnvironmentVariableIntValue("QUORIN_SPEECH_WORD_MS", &set);
    finish_.setInterval((set ? perWord : 50) *
                        static_cast<int>(text.split(QLatin1Char(' ')).size()));
    if (const int late = qEnvironmentVariableIntValue("QUORIN_SPEECH_START_MS"); late > 0) {
      begin_.start(late);
    } else {
      beginSpeaking();
    }
  }
  void stop(QTextToSpeech::BoundaryHint) override {
    if (state_ != QTextToSpeech::Speaking && !begin_.isActive()) return;
    begin_.stop();
    finish_.stop();
    record({{QStringLiteral("stop"), true}});
    setState(QTextToSpeech::Ready);
  }
  void pause(QTextToSpeech::BoundaryHint) override {}
  void resume() override {}

  double rate() const override { return 0; }
  bool setRate(double) override { return true; }
  double pitch() const override { return 0; }
  bool setPitch(double) override { return true; }
  QLocale locale() const override { return locale_; }
  bool setLocale(const QLocale& locale) override {
    locale_ = locale;
    return true;
  }
  double volume() const override { return 1; }
  bool setVolume(double) override { return true; }
  QVoice voice() const override { return {}; }
  bool setVoice(const QVoice&) override { return false; }
  QTextToSpeech::State state() const override { return state_; }
  QTextToSpeech::ErrorReason errorReason() const override {
    return QTextToSpeech::ErrorReason::NoError;
  }
  QString errorString() const override { return {}; }

 private:
  void setState(QTextToSpeech::State state) {
    if (state == state_) return;
    state_ = state;
    emit stateChanged(state);
  }

  static void record(const QJsonObject& line) {
    const QString path = qEnvironmentVariable("QUORIN_SPEECH_RECORD");
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) qFatal("cannot record speech");
    file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
  }

  void beginSpeaking() {
    setState(QTextToSpeech::Speaking);
    finish_.start();
  }

  QTimer begin_;  // until speaking is reported
  QTimer finish_;
  QLocale locale_{QLocale::English, QLocale::UnitedStates};
  QTextToSpeech::State state_ = QTextToSpeech::Ready;
};

class RecordingPlugin : public QObject, public QTextToSpeechPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.qt.speech.tts.plugin/6.0" FILE "recording_speech.json")
  Q_INTERFACES(QTextToSpeechPlugin)

 public:
  QTextToSpeechEngine* createTextToSpeechEngine(const QVariantMap&, QObject* parent,
                                                QString* errorString) const override {
    // As a speech service that never answers: the engine is not made for a minute.
    if (qEnvironmentVariableIsSet("QUORIN_SPEECH_HANG")) QThread::sleep(60);
    if (qEnvironmentVariableIsSet("QUORIN_SPEECH_FAIL")) {
      *errorString = QStringLiteral("no speech service is running");
      return nullptr;
    }
    return new RecordingEngine(parent);
  }
};

}  // namespace

#include "recording_speech.moc"
