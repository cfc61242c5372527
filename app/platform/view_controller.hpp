// ViewController: the base of every screen. It owns a view made from the interface file of its
// name on first access, then runs viewDidLoad().
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "platform/interface_loader.hpp"

namespace quorin {

// The device orientations a screen is asked about; values as the tablet platforms number them.
enum class InterfaceOrientation {
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeRight = 3,
  LandscapeLeft = 4,
};

// Subclasses declare their outlets in the constructor and their actions as Q_INVOKABLE methods
// taking the sender (QObject*). Main thread only.
class ViewController : public QObject {
  Q_OBJECT

 public:
  // A controller whose view comes from the interface file `interfaceName` (for example "Start").
  explicit ViewController(QString interfaceName, QObject* parent = nullptr);
  // Deletes the view, wherever it is shown.
  ~ViewController() override;

  // The view; the first access loads it and runs viewDidLoad().
  QWidget* view();
  // True once the view has been loaded.
  bool isViewLoaded() const { return !view_.isNull(); }
  // The interface file's name.
  const QString& interfaceName() const { return interfaceName_; }
  // Loads the view again (the language changed) in the old one's place: same parent, geometry
  // and visibility, outlets moved to the new controls; viewDidLoad() runs again, then
  // viewDidReload(). Does nothing before the first load. The old view is deleted later, since
  // one of its controls may be the one whose action asked for this.
  void reloadView();
  // Screens turn between the two portrait orientations only.
  virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) const;

 protected:
  // Makes the view; the default loads the interface file with the declared outlets and actions.
  virtual QWidget* loadView();
  // What the screen needs of its interface file beyond outlets and actions: empty when `form`
  // will do, else the fault, and an override with a fault is refused (the default finds none).
  virtual QString faultIn(QWidget& form) const;
  // Runs once, right after the view is loaded and its outlets are set.
  virtual void viewDidLoad() {}
  // Carries the person's doing over from `oldView` to the reloaded view. The default checks the
  // checkable buttons that were checked, found by object name.
  virtual void viewDidReload(QWidget& oldView);
  // Declares that the interface file must hold an object `name` of class T, stored in *field.
  template <class T>
  void declareOutlet(const char* name, T** field) {
    outlets_.push_back({name, &T::staticMetaObject,
                        [field](QObject* object) { *field = qobject_cast<T*>(object); }});
  }
  const std::vector<Outlet>& outlets() const { return outlets_; }
  // Declares that the interface file may wire `action` (for example "restart:") to a control;
  // it names one of this controller's invokable methods. Any other action is refused.
  void declareAction(const QString& action) { actions_.append(action); }

 private:
  QString interfaceName_;
  QPointer<QWidget> view_;
  std::vector<Outlet> outlets_;
  QStringList actions_;
};

}  // namespace quorin
