// Text-field delegates: a QLineEdit tells its delegate when return is pressed and when editing
// ends, as a tablet's text field does.
#pragma once

class QLineEdit;

namespace quorin {

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  // Return was pressed in `field`. True lets editing end (the field gives up the focus); false
  // keeps the text and the focus.
  virtual bool textFieldShouldReturn(QLineEdit* field) = 0;
  // Editing of `field` ended: it lost the focus to another control, or to nothing.
  virtual void textFieldDidEndEditing(QLineEdit* field) = 0;
};

// Makes `delegate` the delegate of `field`, replacing any other; null removes it. The delegate
// must outlive the field or be removed first.
void setTextFieldDelegate(QLineEdit* field, TextFieldDelegate* delegate);

}  // namespace quorin
