#include "session/paths.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "temp_folder.hpp"

namespace quorin {
namespace {

using test::TempFolder;

// Sets, or for nullptr unsets, one of the variables that decide the kiosk's folders. Each test
// sets all it depends on; nothing in this binary needs the originals.
void setEnv(const char* name, const char* value) {
  value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
}

TEST(PathsTest, TheKioskHomeComesFromQuorinHomeOrTheXdgDataFolder) {
  // What the case is, QUORIN_HOME and XDG_DATA_HOME (nullptr: unset), the kiosk home.
  const std::tuple<const char*, const char*, const char*, std::string> cases[] = {
      {"QUORIN_HOME wins", "/srv/quorin/", "/data/home", "/srv/quorin"},
      {"XDG_DATA_HOME set", "", "/data/home", "/data/home/quorin"},
      {"XDG_DATA_HOME with a trailing slash", nullptr, "/data/home/", "/data/home/quorin"},
      {"XDG_DATA_HOME unset", nullptr, nullptr, "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME empty", nullptr, "", "/home/kiosk/.local/share/quorin"},
      {"XDG_DATA_HOME relative, which XDG ignores", "", "data", "/home/kiosk/.local/share/quorin"},
  };
  for (const auto& [name, quorinHome, xdgDataHome, home] : cases) {
    SCOPED_TRACE(name);
    setEnv("HOME", "/home/kiosk");
    setEnv("QUORIN_HOME", quorinHome);
    setEnv("XDG_DATA_HOME", xdgDataHome);
    EXPECT_EQ(kioskHome(), home);
    EXPECT_EQ(settingsDatabasePath(), home + "/settings.sqlite3");
    // Only QUORIN_HOME holds the documents as well; otherwise they are in $HOME.
    EXPECT_EQ(documentsFolder() == home + "/Documents", quorinHome && *quorinHome);
  }
}

TEST(PathsTest, TheDocumentsFolderComesFromUserDirs) {
  // What the case is, user-dirs.dirs (nullopt: none), the folder ("~" stands for $HOME).
  const std::tuple<const char*, std::optional<std::string>, std::string> cases[] = {
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
    for (const auto& [name, userDirs, expected] : cases) {
      SCOPED_TRACE(std::string(name) + (viaXdgConfigHome ? " (XDG_CONFIG_HOME)" : ""));
      TempFolder folder;
      const std::string home = folder / "home";
      const std::string config = viaXdgConfigHome ? folder / "config" : home + "/.config";
      setEnv("QUORIN_HOME", nullptr);
      setEnv("HOME", home.c_str());
      setEnv("XDG_CONFIG_HOME", viaXdgConfigHome ? config.c_str() : nullptr);
      std::filesystem::create_directories(config);
      if (userDirs) test::writeFile(config + "/user-dirs.dirs", *userDirs);
      EXPECT_EQ(documentsFolder(), expected[0] == '~' ? home + expected.substr(1) : expected);
    }
  }
}

}  // namespace
}  // namespace quorin
