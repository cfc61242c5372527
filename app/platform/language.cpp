#include "platform/language.hpp"

#include <QCoreApplication>
#include <QTranslator>
#include <memory>

#include "platform/log.hpp"

namespace quorin {
namespace {

struct State {
  QString code = Language::kSource;
  std::unique_ptr<QTranslator> translator;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

QStringList Language::available() { return {kSource, QStringLiteral("es")}; }

QString Language::current() { return state().code; }

bool Language::setCurrent(const QString& code) {
  if (!available().contains(code)) return false;
  State& s = state();
  if (s.code == code) return true;
  std::unique_ptr<QTranslator> translator;
  if (code != kSource) {
    translator = std::make_unique<QTranslator>();
    // A missing catalogue is a build defect; the strings then stay English, the pages do not.
    if (!translator->load(QStringLiteral(":/i18n/quorin_%1.qm").arg(code))) {
      qCWarning(lcKiosk).noquote() << "No translation catalogue for" << code;
    }
  }
  if (s.translator) QCoreApplication::removeTranslator(s.translator.get());
  s.translator = std::move(translator);
  if (s.translator) QCoreApplication::installTranslator(s.translator.get());
  s.code = code;
  return true;
}

}  // namespace quorin
