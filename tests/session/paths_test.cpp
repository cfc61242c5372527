#include "session/paths.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::TempFolder;

// Sets the variables that decide the kiosk's folders for one test and puts them back afterwards.
class Environment {
 public:
  Environment() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
      ::unsetenv(name);
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  void set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

 private:
  static constexpr const char* kNames[] = {"QUORIN_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                           "HOME"};
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(PathsTest, QuorinHomeHoldsTheSettingsAndTheDocuments) {
  Environment env;
  env.set("HOME", "/home/kiosk");
  env.set("XDG_DATA_HOME", "/elsewhere/data");
  env.set("QUORIN_HOME", "/srv/quorin/");
  EXPECT_EQ(kioskHome(), "/srv/quorin");
  EXPECT_EQ(documentsFolder(), "/srv/quorin/Documents");
  EXPECT_EQ(settingsDatabasePath(), "/srv/quorin/settings.sqlite3");
}

TEST(PathsTest, WithoutQuorinHomeTheSettingsLiveInTheXdgDataFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> xdgDataHome;
    std::string home;
  };
  const Case cases[] = {
      {"XDG_DATA_HOME set", "/data/home", "/data/home/quorin"},
      {"XDG_DATA_HOME with a trailing slash", "/data/home/", "/data/home/quorin"},
      {"XDG_DATA_HOME unset", std::nullopt, "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME empty", "", "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME relative, which XDG ignores", "data", "/home/kiosk/.local/share/quorin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Environment env;
    env.set("HOME", "/home/kiosk");
    env.set("QUORIN_HOME", "");
    if (c.xdgDataHome) env.set("XDG_DATA_HOME", *c.xdgDataHome);
    EXPECT_EQ(kioskHome(), c.home);
    EXPECT_EQ(settingsDatabasePath(), c.home + "/settings.sqlite3");
  }
}

TEST(PathsTest, TheDocumentsFolderComesFromUserDirs) {
  struct Case {
    const char* name;
    std::optional<std::string> userDirs;  // nullopt: no user-dirs.dirs file
    std::string expected;                 // "~" stands for $HOME
  };
  const Case cases[] = {
      {"no user-dirs.dirs", std::nullopt, "~/Documents"},
      {"the file as xdg-user-dirs writes it",
       "# This file is written by xdg-user-dirs-update\n"
       "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
       "XDG_MUSIC_DIR=\"$HOME/Music\"\n",
       "~/Dokumente"},
      {"an absolute path", "XDG_DOCUMENTS_DIR=\"/srv/results/\"\n", "/srv/results"},
      {"escaped characters", "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" \\$1\"\n",
       "~/My \"Docs\" $1"},
      {"indented, the last assignment wins",
       "XDG_DOCUMENTS_DIR=\"$HOME/Old\"\n  XDG_DOCUMENTS_DIR=\"$HOME/New\"\n", "~/New"},
      {"$HOME alone", "XDG_DOCUMENTS_DIR=\"$HOME\"\n", "~"},
      {"a relative path, which the format forbids", "XDG_DOCUMENTS_DIR=\"Documents2\"\n",
       "~/Documents"},
      {"another variable that starts with $HOME", "XDG_DOCUMENTS_DIR=\"$HOMEDIR/x\"\n",
       "~/Documents"},
      {"an unterminated quote", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\n", "~/Documents"},
      {"a commented-out line", "# XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "~/Documents"},
      {"another folder only", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", "~/Documents"},
  };
  for (const bool viaXdgConfigHome : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) +
                   (viaXdgConfigHome ? " (XDG_CONFIG_HOME)" : " (~/.config)"));
      TempFolder folder;
      Environment env;
      const std::string home = folder / "home";
      env.set("HOME", home);
      const std::string config = viaXdgConfigHome ? folder / "config" : home + "/.config";
      if (viaXdgConfigHome) env.set("XDG_CONFIG_HOME", config);
      std::filesystem::create_directories(config);
      if (c.userDirs) testing::writeFile(config + "/user-dirs.dirs", *c.userDirs);

      std::string expected = c.expected;
      if (expected.front() == '~') expected = home + expected.substr(1);
      EXPECT_EQ(documentsFolder(), expected);
    }
  }
}

}  // namespace
}  // namespace quorin
