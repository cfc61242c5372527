#include "platform/interface_loader.hpp"

#include <QAbstractButton>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaMethod>
#include <QPointer>
#include <QUiLoader>
#include <QVariant>
#include <QXmlStreamReader>
#include <memory>
#include <utility>

#include "platform/language.hpp"
#include "platform/log.hpp"

namespace quorin {
namespace {

using WidgetFactory = std::function<QWidget*(QWidget* parent)>;

QString& overrideFolderSetting() {
  static QString folder;
  return folder;
}

QHash<QString, WidgetFactory>& widgetClasses() {
  static QHash<QString, WidgetFactory> classes;
  return classes;
}

// QUiLoader that also knows the app's own widget classes.
class Loader : public QUiLoader {
 public:
  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    const auto found = widgetClasses().constFind(className);
    if (found == widgetClasses().constEnd())
      return QUiLoader::createWidget(className, parent, name);
    QWidget* widget = (*found)(parent);
    widget->setObjectName(name);
    return widget;
  }
};

// Signals that fire a control's action when its `actionSignal` property does not name one; the
// equivalents of a touch inside a button and a control's value change.
constexpr const char* kDefaultActionSignals[] = {"clicked", "valueChanged", "activated",
                                                 "returnPressed"};

// The signal called `name` with the fewest parameters, or an invalid method.
QMetaMethod signalNamed(const QMetaObject* meta, const QByteArray& name) {
  QMetaMethod best;
  for (int i = 0; i < meta->methodCount(); ++i) {
    const QMetaMethod m = meta->method(i);
    if (m.methodType() != QMetaMethod::Signal || m.name() != name) continue;
    if (!best.isValid() || m.parameterCount() < best.parameterCount()) best = m;
  }
  return best;
}

QMetaMethod actionSignalOf(QObject* control) {
  const QByteArray chosen = control->property("actionSignal").toByteArray();
  if (!chosen.isEmpty()) return signalNamed(control->metaObject(), chosen);
  for (const char* name : kDefaultActionSignals) {
    const QMetaMethod m = signalNamed(control->metaObject(), name);
    if (m.isValid()) return m;
  }
  return {};
}

// The owner's method for an action such as "restart:": a slot or invokable called "restart"
// taking one QObject* (the sender) or nothing.
QMetaMethod actionMethodOf(const QObject* owner, const QByteArray& action) {
  const qsizetype colon = action.indexOf(':');
  const QByteArray name = colon < 0 ? action : action.left(colon);
  const QMetaObject* meta = owner->metaObject();
  for (const QByteArray& signature : {name + "(QObject*)", name + "()"}) {
    const int index = meta->indexOfMethod(signature.constData());
    if (index >= 0 && meta->method(index).methodType() != QMetaMethod::Signal) {
      return meta->method(index);
    }
  }
  return {};
}

// The first widget class the document names that the loader cannot make, or empty. QUiLoader
// itself leaves such a widget out with a warning that names neither the file nor the screen, and
// the screen goes on without, say, its headline. A class the file declares as a custom widget is
// made as the class it extends.
QString unknownWidgetClass(const QByteArray& document, QStringList known) {
  QXmlStreamReader xml(document);
  std::vector<std::pair<QString, qint64>> used;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("widget")) {
      used.emplace_back(xml.attributes().value(QLatin1String("class")).toString(),
                        xml.lineNumber());
    } else if (xml.name() == QLatin1String("customwidget") && xml.readNextStartElement() &&
               xml.name() == QLatin1String("class")) {
      known << xml.readElementText();
    }
  }
  for (const auto& [className, line] : used) {
    if (!known.contains(className) && !widgetClasses().contains(className)) {
      return QStringLiteral("%1 (line %2)").arg(className).arg(line);
    }
  }
  return {};
}

struct ActionWiring {
  QObject* control;
  QMetaMethod signal;
  QMetaMethod method;
};

}  // namespace

// Forwards one control's action signal to its owner's method, with the control as the sender.
class ActionRelay : public QObject {
  Q_OBJECT
 public:
  ActionRelay(QObject* control, QObject* owner, QMetaMethod method)
      : QObject(control), control_(control), owner_(owner), method_(std::move(method)) {}

 public slots:
  void fire() {
    if (owner_.isNull()) return;
    if (method_.parameterCount() == 1) {
      method_.invoke(owner_, Qt::DirectConnection, Q_ARG(QObject*, control_));
    } else {
      method_.invoke(owner_, Qt::DirectConnection);
    }
  }

 private:
  QObject* control_;
  QPointer<QObject> owner_;
  QMetaMethod method_;
};

QString InterfaceLoader::overrideFolder() { return overrideFolderSetting(); }

void InterfaceLoader::setOverrideFolder(const QString& folder) { overrideFolderSetting() = folder; }

QString InterfaceLoader::builtInPath(const QString& name) {
  return QStringLiteral(":/ui/%1.ui").arg(name);
}

QWidget* InterfaceLoader::loadFile(const QString& path, QObject* owner,
                                   const std::vector<Outlet>& outlets, const QStringList& actions,
                                   QString* error, const FormCheck& check) {
  const QString file = QFileInfo(path).fileName();
  auto fail = [&](const QString& message) -> QWidget* {
    if (error) *error = QStringLiteral("%1 (%2): %3").arg(file, path, message);
    return nullptr;
  };

  QFile input(path);
  if (!input.open(QIODevice::ReadOnly))
    return fail(QStringLiteral("cannot open: %1").arg(input.errorString()));
  Loader loader;
  loader.setLanguageChangeEnabled(false);
  // Each language has its own files: the translator must not rewrite an English fallback.
  loader.setTranslationEnabled(false);
  loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
  const QByteArray document = input.readAll();
  QBuffer buffer;
  buffer.setData(document);
  buffer.open(QIODevice::ReadOnly);
  std::unique_ptr<QWidget> form(loader.load(&buffer));
  if (!form)
    return fail(QStringLiteral("not a valid interface file: %1").arg(loader.errorString()));
  if (const QString unknown = unknownWidgetClass(document, loader.availableWidgets());
      !unknown.isEmpty()) {
    return fail(QStringLiteral("the widget class %1 is unknown").arg(unknown));
  }

  // Check everything before touching the owner, so that a failed load leaves no half-wired state.
  std::vector<QObject*> found;
  found.reserve(outlets.size());
  for (const Outlet& outlet : outlets) {
    QObject* match = nullptr;
    if (form->objectName().toUtf8() == outlet.name) match = form.get();
    const QList<QObject*> named = form->findChildren<QObject*>(QString::fromUtf8(outlet.name));
    if (match == nullptr && !named.isEmpty()) match = named.front();
    if (match == nullptr) {
      return fail(QStringLiteral("outlet '%1' (%2) is missing")
                      .arg(QString::fromUtf8(outlet.name), outlet.type->className()));
    }
    if (named.size() + (match == form.get() ? 1 : 0) > 1) {
      return fail(QStringLiteral("outlet '%1' names more than one object")
                      .arg(QString::fromUtf8(outlet.name)));
    }
    if (!match->metaObject()->inherits(outlet.type)) {
      return fail(QStringLiteral("outlet '%1' is a %2, not a %3")
                      .arg(QString::fromUtf8(outlet.name), match->metaObject()->className(),
                           outlet.type->className()));
    }
    found.push_back(match);
  }

  std::vector<ActionWiring> wirings;
  QList<QObject*> objects = form->findChildren<QObject*>();
  objects.prepend(form.get());
  for (QObject* object : objects) {
    const QVariant action = object->property("action");
    if (!action.isValid()) continue;
    const QByteArray actionName = action.toByteArray();
    if (!actions.contains(QString::fromUtf8(actionName))) {
      return fail(QStringLiteral("control '%1' names the action '%2', which this screen does not "
                                 "offer (it offers %3)")
                      .arg(object->objectName(), QString::fromUtf8(actionName),
                           actions.isEmpty() ? QStringLiteral("none") : actions.join(u", ")));
    }
    const QMetaMethod method = actionMethodOf(owner, actionName);
    if (!method.isValid()) {
      return fail(QStringLiteral("control '%1' names the action '%2', which %3 does not have")
                      .arg(object->objectName(), QString::fromUtf8(actionName),
                           owner->metaObject()->className()));
    }
    const QMetaMethod signal = actionSignalOf(object);
    if (!signal.isValid()) {
      return fail(QStringLiteral("control '%1' (%2) has no signal to send the action '%3'")
                      .arg(object->objectName(), object->metaObject()->className(),
                           QString::fromUtf8(actionName)));
    }
    wirings.push_back({object, signal, method});
  }
  if (check) {
    if (const QString fault = check(*form); !fault.isEmpty()) return fail(fault);
  }

  for (std::size_t i = 0; i < outlets.size(); ++i) outlets[i].assign(found[i]);
  for (const ActionWiring& wiring : wirings) {
    auto* relay = new ActionRelay(wiring.control, owner, wiring.method);
    const QMetaMethod fire =
        relay->metaObject()->method(relay->metaObject()->indexOfSlot("fire()"));
    QObject::connect(wiring.control, wiring.signal, relay, fire);
  }
  return form.release();
}

QWidget* InterfaceLoader::load(const QString& name, QObject* owner,
                               const std::vector<Outlet>& outlets, const QStringList& actions,
                               const FormCheck& check) {
  QString error;
  // Another language's files sit in a folder named after it, in the override folder and built
  // in. A page the clinic rewrote but did not translate keeps the clinic's wording: the built-in
  // translation of the sample page would ask other questions under the same columns of the
  // results. A page it lacks altogether falls back to the built-in English one.
  const QString language = Language::current();
  const bool translated = language != Language::kSource;
  const QString file = name + QStringLiteral(".ui");
  const QString folder = overrideFolder();
  QStringList overrides;
  if (!folder.isEmpty()) {
    if (translated) overrides << QDir(folder).filePath(language + u'/' + file);
    overrides << QDir(folder).filePath(file);
  }
  for (const QString& path : overrides) {
    if (!QFileInfo::exists(path)) continue;
    if (QWidget* form = loadFile(path, owner, outlets, actions, &error, check)) return form;
    qCWarning(lcKiosk).noquote() << "Ignoring the interface override:" << error
                                 << "- trying the next file for" << name;
  }
  QString builtIn = QStringLiteral(":/ui/%1/%2").arg(language, file);
  if (!translated || !QFileInfo::exists(builtIn)) builtIn = builtInPath(name);
  if (QWidget* form = loadFile(builtIn, owner, outlets, actions, &error, check)) return form;
  qFatal("Built-in interface file is faulty: %s", qPrintable(error));
}

void InterfaceLoader::registerWidgetClass(const QString& className, WidgetFactory factory) {
  widgetClasses().insert(className, std::move(factory));
}

QList<QObject*> controlsWithAction(QWidget& form, const QString& action) {
  QList<QObject*> objects = form.findChildren<QObject*>();
  objects.prepend(&form);
  objects.removeIf([&](QObject* o) { return o->property("action").toString() != action; });
  return objects;
}

int tagOf(const QObject* object) { return object->property("tag").toInt(); }

QWidget* viewWithTag(QWidget* view, int tag) {
  if (view == nullptr) return nullptr;
  if (tagOf(view) == tag) return view;
  for (QWidget* child : view->findChildren<QWidget*>()) {
    if (tagOf(child) == tag) return child;
  }
  return nullptr;
}

}  // namespace quorin

#include "interface_loader.moc"
