// Interface files: Qt Designer .ui files loaded by name, with outlets, actions and tags.
//
// A screen's layout lives in resources/ui/<Name>.ui, compiled in as ":/ui/<Name>.ui". A clinic may
// put its own <Name>.ui in the override folder to change wording without a rebuild; a broken
// override is reported and the built-in file is used instead, so the kiosk keeps working.
//
// Outlets are found by object name and checked when the file loads. Actions: a control with the
// dynamic string property `action` (for example "startScreener:") is connected to the owner's
// invokable method of that name, if the screen offers that action (a file may not wire the
// export, or deleteLater, to a button that only should move a page), taking the control as its one
// QObject* argument or nothing. The control's signal is its `actionSignal` property when set, else
// the first of clicked, valueChanged, activated, returnPressed it has. Tags: the integer dynamic
// property `tag`.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

namespace quorin {

// What a screen checks in a loaded file beyond its outlets and actions: empty when the screen can
// work with it, else the fault, which refuses the file like any other.
using FormCheck = std::function<QString(QWidget& form)>;

// One outlet: the object name in the file, the class it must have, and where it goes.
struct Outlet {
  QByteArray name;
  const QMetaObject* type;
  std::function<void(QObject*)> assign;
};

class InterfaceLoader {
 public:
  // The folder searched before the built-in files; empty means none.
  static QString overrideFolder();
  // Sets the override folder (main() sets it from QUORIN_UI_DIR or the kiosk home).
  static void setOverrideFolder(const QString& folder);
  // The built-in file of `name`: ":/ui/<name>.ui".
  static QString builtInPath(const QString& name);

  // Loads the file at `path` for `owner`: every outlet and action is checked first, then outlets
  // are assigned and actions connected. Only the `actions` listed (such as "restart:") may be
  // wired; every widget class must be known, and `check` must find no fault. On failure returns
  // null, sets *error to a message naming the file and the fault, and assigns and connects
  // nothing. The caller owns the widget.
  static QWidget* loadFile(const QString& path, QObject* owner, const std::vector<Outlet>& outlets,
                           const QStringList& actions, QString* error, const FormCheck& check = {});
  // Loads `name` in the current Language: the override file when there is one and it loads, else
  // the built-in file. Another language than English looks in "<lang>/" of the override folder,
  // then at ":/ui/<lang>/<name>.ui", then at the built-in English file. A faulty override is
  // logged; a faulty built-in file is a build defect and ends the process.
  static QWidget* load(const QString& name, QObject* owner, const std::vector<Outlet>& outlets,
                       const QStringList& actions, const FormCheck& check = {});

  // Lets interface files contain widgets of the app's own class `className`.
  static void registerWidgetClass(const QString& className,
                                  std::function<QWidget*(QWidget* parent)> factory);
};

// The integer `tag` property of `object`; 0 when it has none.
int tagOf(const QObject* object);
// The objects of `form`, itself included, whose `action` property is `action`.
QList<QObject*> controlsWithAction(QWidget& form, const QString& action);
// `view` itself when its tag is `tag`, else the first descendant with that tag, else null.
QWidget* viewWithTag(QWidget* view, int tag);

}  // namespace quorin
