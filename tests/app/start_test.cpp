// Launching the kiosk with a session stored (the start screen itself is the acceptance suite's).
#include "kiosk_test_support.hpp"

namespace quorin::testing {
namespace {

// Logged once and cleared when complete, before the start screen; left for the flow otherwise.
TEST(LaunchTest, AStoredSessionIsLoggedAndClearedOnlyWhenComplete) {
  const Date began = std::chrono::sys_days{std::chrono::April / 2 / 2013};
  for (const int last : {1, -1}) {
    SCOPED_TRACE(last);
    KioskHome home;
    Tool stored(home.store);
    for (int q = 1; q <= 8; ++q) stored.setAnswer(q == 8 ? last : kComplete[q - 1], q);
    stored.setHelpWanted(true);
    stored.setStartDate(began);
    const std::vector<std::string> logged = {
        "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8",
        "1,2013-04-02 00:00:00 +0000,4,Y,3,2,1,0,2,2,0,1"};
    for (int launch = 0; launch < 2; ++launch) {  // a second launch logs nothing more
      auto app = home.launch();
      EXPECT_EQ(home.resultLines(), last == 1 ? logged : std::vector<std::string>());
      EXPECT_EQ(app->tool().answerAsString(7), last == 1 ? "" : "0");
      EXPECT_EQ(app->tool().helpWanted(), last != 1);
      EXPECT_EQ(app->tool().startDate(), last == 1 ? kLaunchTime : began);
    }
  }
}

}  // namespace
}  // namespace quorin::testing
