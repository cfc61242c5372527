#include "platform/text_field.hpp"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace quorin {
namespace {

constexpr const char* kFilterName = "quorinTextFieldDelegate";

// Takes return away from QLineEdit (which would emit returnPressed and editingFinished) and asks
// the delegate instead; reports the loss of focus as the end of editing.
class DelegateFilter : public QObject {
 public:
  DelegateFilter(QLineEdit* field, TextFieldDelegate* delegate)
      : QObject(field), field_(field), delegate_(delegate) {
    setObjectName(QLatin1String(kFilterName));
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != field_) return false;
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
      if (delegate_->textFieldShouldReturn(field_)) field_->clearFocus();
      return true;
    }
    if (event->type() == QEvent::FocusOut) {
      // A menu or another window taking the focus for a while does not end editing.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
        delegate_->textFieldDidEndEditing(field_);
      }
    }
    return false;
  }

 private:
  QLineEdit* field_;
  TextFieldDelegate* delegate_;
};

}  // namespace

void setTextFieldDelegate(QLineEdit* field, TextFieldDelegate* delegate) {
  if (auto* old = field->findChild<DelegateFilter*>(QLatin1String(kFilterName),
                                                    Qt::FindDirectChildrenOnly)) {
    field->removeEventFilter(old);
    delete old;
  }
  if (delegate) field->installEventFilter(new DelegateFilter(field, delegate));
}

}  // namespace quorin
