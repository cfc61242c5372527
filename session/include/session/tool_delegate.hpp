// ToolDelegate: what the screening model tells the pages that show its state.
#pragma once

namespace quorin {

class ToolDelegate {
 public:
  virtual ~ToolDelegate() = default;
  // An answer changed, or a restart ended: score displays must be cleared.
  virtual void resetScore() = 0;
  // The complete session's score must be shown.
  virtual void showScore() = 0;
  // Optional: answer displays must be cleared. Observers without answer displays need not override.
  virtual void resetQuestions() {}
};

}  // namespace quorin
