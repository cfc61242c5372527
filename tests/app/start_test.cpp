// Launching the kiosk: the stored session at launch and the override folder (the start screen
// itself is the acceptance suite's).

#include "kiosk_test_support.hpp"
#include "start_controller.hpp"

namespace quorin::testing {
namespace {

std::optional<std::int64_t> storedInteger(const SettingsStore& store, const std::string& key) {
  const auto value = store.valueForKey(key);
  const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr;
  return number ? std::optional(*number) : std::nullopt;
}

StartController* startScreen(QuorinAppDelegate& app) {
  return dynamic_cast<StartController*>(app.window().rootViewController());
}

TEST(LaunchTest, ACompleteStoredSessionIsLoggedAndClearedBeforeTheStartScreen) {
  KioskHome home;
  home.storeSession(kComplete, /*helpWanted=*/true);
  home.store->setValue("qn_csv_row_count", std::int64_t{3});
  home.store->operations.clear();

  auto app = home.launch();
  EXPECT_EQ(home.resultLines(),
            (std::vector<std::string>{kHeader, "4,2013-04-02 14:05:09 +0000,4,Y,3,2,1,0,2,2,0,1"}));
  EXPECT_EQ(storedInteger(*home.store, "qn_csv_row_count"), 4);
  for (int q = 1; q <= 8; ++q) EXPECT_FALSE(home.store->valueForKey(Tool::keyForQuestion(q)));
  EXPECT_EQ(home.store->valueForKey("qn_help_wanted"), std::optional<SettingValue>(false));
  EXPECT_EQ(home.store->valueForKey("qn_start"), std::optional<SettingValue>(kLaunchTime));
  // The start screen reads the time-out when it loads: only after the row and the restart.
  const auto& ops = home.store->operations;
  const auto timeoutRead = std::find(ops.begin(), ops.end(), "get qn_timeout");
  ASSERT_NE(timeoutRead, ops.end());
  EXPECT_EQ(std::find(timeoutRead, ops.end(), "set qn_csv_row_count"), ops.end());
  EXPECT_EQ(std::find(timeoutRead, ops.end(), "set qn_start"), ops.end());
  EXPECT_NE(startScreen(*app), nullptr);

  // A second launch in a row logs nothing more.
  home.launch();
  EXPECT_EQ(home.resultLines().size(), 2u);
}

TEST(LaunchTest, AnIncompleteStoredSessionIsLeftAlone) {
  KioskHome home;
  home.storeSession(kSeven, /*helpWanted=*/true);
  auto app = home.launch();
  EXPECT_TRUE(home.resultLines().empty());
  EXPECT_FALSE(home.store->valueForKey("qn_csv_row_count"));
  for (int q = 1; q <= 7; ++q) {
    EXPECT_EQ(app->tool().answerAsString(q), std::to_string(kSeven[static_cast<size_t>(q - 1)]));
  }
  EXPECT_TRUE(app->tool().helpWanted());
  EXPECT_EQ(app->tool().startDate(), kSessionStart);
}

TEST(LaunchTest, InterfaceOverrideFolderIsTheEnvironmentsThenTheKioskHomes) {
  const QByteArray saved = qgetenv("QUORIN_UI_DIR");
  qunsetenv("QUORIN_UI_DIR");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/srv/kiosk/ui");
  qputenv("QUORIN_UI_DIR", "/etc/quorin/ui");
  EXPECT_EQ(defaultInterfaceOverrideFolder("/srv/kiosk"), "/etc/quorin/ui");
  saved.isNull() ? (void)qunsetenv("QUORIN_UI_DIR") : (void)qputenv("QUORIN_UI_DIR", saved);
}

}  // namespace
}  // namespace quorin::testing
