#include "session/paths.hpp"

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::TempFolder;

// Sets, or for nullptr unsets, one of the variables that decide the kiosk's folders. Each test
// sets all it depends on; nothing in this binary needs the originals.
void setEnv(const char* name, const char* value) {
  value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
}

TEST(PathsTest, TheKioskHomeComesFromQuorinHomeOrTheXdgDataFolder) {
  struct Case {
    const char* name;
    const char *quorinHome, *xdgDataHome;
    std::string home;
  };
  const Case cases[] = {
      {"QUORIN_HOME wins", "/srv/quorin/", "/data/home", "/srv/quorin"},
      {"XDG_DATA_HOME set", "", "/data/home", "/data/home/quorin"},
      {"XDG_DATA_HOME with a trailing slash", nullptr, "/data/home/", "/data/home/quorin"},
      {"XDG_DATA_HOME unset", nullptr, nullptr, "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME empty", nullptr, "", "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME relative, which XDG ignores", "", "data", "/home/kiosk/.local/share/quorin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setEnv("HOME", "/home/kiosk");
    setEnv("QUORIN_HOME", c.quorinHome);
    setEnv("XDG_DATA_HOME", c.xdgDataHome);
    EXPECT_EQ(kioskHome(), c.home);
    EXPECT_EQ(settingsDatabasePath(), c.home + "/settings.sqlite3");
    // Only QUORIN_HOME holds the documents as well; otherwise they are in $HOME.
    EXPECT_EQ(documentsFolder() == c.home + "/Documents", c.quorinHome && *c.quorinHome);
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
       "# This file is written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n",
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
      SCOPED_TRACE(std::string(c.name) + (viaXdgConfigHome ? " (XDG_CONFIG_HOME)" : ""));
      TempFolder folder;
      const std::string home = folder / "home";
      const std::string config = viaXdgConfigHome ? folder / "config" : home + "/.config";
      setEnv("QUORIN_HOME", nullptr);
      setEnv("HOME", home.c_str());
      setEnv("XDG_CONFIG_HOME", viaXdgConfigHome ? config.c_str() : nullptr);
      std::filesystem::create_directories(config);
      if (c.userDirs) testing::writeFile(config + "/user-dirs.dirs", *c.userDirs);
      EXPECT_EQ(documentsFolder(), c.expected[0] == '~' ? home + c.expected.substr(1) : c.expected);
    }
  }
}

}  // namespace
}  // namespace quorin
