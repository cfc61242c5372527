// ScorePageController: the score page, which shows the score of a complete session.
#pragma once

#include <memory>

#include "base_page_controller.hpp"
#include "session/tool_delegate.hpp"

class QLabel;

namespace quorin {

// Interface file "ScorePage": outlet scoreLabel. Registers with the model when its view loads,
// so it must be owned by a std::shared_ptr.
class ScorePageController : public BasePageController,
                            public ToolDelegate,
                            public std::enable_shared_from_this<ScorePageController> {
  Q_OBJECT

 public:
  ScorePageController(QuorinAppDelegate& app, PageController& pageController);

  QLabel* scoreLabel() const { return scoreLabel_; }

  void resetScore() override;
  void showScore() override;

 protected:
  void viewDidLoad() override;
  void viewDidReload(QWidget& oldView) override;

 private:
  QLabel* scoreLabel_ = nullptr;
};

}  // namespace quorin
