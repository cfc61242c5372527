// The kiosk's folders and the export's own rules, below what the acceptance suite sees: where
// the kiosk home and the documents are, which mounts count as drives, safe file names, what
// stands at the copy's name, the passcode file's states and the lock's count.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <tuple>

#include "private_tmpfs.hpp"
#include "session/passcode.hpp"
#include "session/paths.hpp"
#include "session/results_export.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

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
      test::TempFolder folder;
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

TEST(RemovableDrivesTest, MountsDirectlyInADriveFolderCountOnceWithTheirName) {
  const std::string mountinfo =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "90 22 8:17 / /media/kiosk/CLINIC\\040USB rw,nosuid shared:50 - vfat /dev/sdb1 rw\n"
      "91 22 8:33 / /media/kiosk/LOCKED ro,nosuid - vfat /dev/sdc1 ro\n"
      "92 22 8:49 / /run/media/kiosk/Z rw - exfat /dev/sdd1 ro,uid=1000\n"
      "93 90 8:65 / /media/kiosk/CLINIC\\040USB/inner rw - vfat /dev/sde1 rw\n"
      "94 22 0:50 / /media/kioskette/X rw - vfat /dev/sdf1 rw\n"
      "95 22 8:81 / /media/kiosk/A rw - vfat /dev/sdg1 rw\n"
      "96 95 8:97 / /media/kiosk/A rw - vfat /dev/sdh1 rw\n"
      "garbage line\n";
  const std::vector<RemovableDrive> drives =
      removableDrives(mountinfo, {"/media/kiosk", "/run/media/kiosk"});
  std::vector<std::pair<std::string, std::string>> seen;
  for (const RemovableDrive& d : drives) seen.emplace_back(d.mountPoint, d.name);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                      {"/media/kiosk/A", "A"},
                      {"/media/kiosk/CLINIC USB", "CLINIC USB"},
                      {"/media/kiosk/LOCKED", "LOCKED"},
                      {"/run/media/kiosk/Z", "Z"},
                  }));
}

// The copy's whole name, from a plain kiosk name and the date, is the acceptance suite's.
TEST(ExportNameTest, KioskNamesBecomeSafeFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"ward-3.clinic", "ward-3.clinic"},
      {"../../etc", "etc"},
      {"-rf *", "rf"},
      {"", "kiosk"},
      {"Zürich", "Zurich"},
      {"Ärztehaus Göteborg", "Arztehaus-Goteborg"},
      {"Straße \xFF", "Stra-e"},  // no plain letter, and no UTF-8 at all
      {std::string(60, 'k'), std::string(40, 'k')}};
  for (const auto& [name, safe] : cases) EXPECT_EQ(safeFileName(name), safe) << name;
}

// What stands at the copy's name and cannot be its start is not read: a FIFO (which would block
// the screen until something writes to it), a file larger than the copy (a damaged drive's
// terabyte, which would fill the memory), a link off the drive. Each stays, and the copy takes
// the next name. An alarm fails the test instead of hanging it.
TEST(ExportTest, WhatCannotBeTheCopysStartIsNotRead) {
  test::TempFolder home;
  const std::string results = home.write("results.csv", "#,Start Date\n1,2026-12-07\n");
  test::inPrivateTmpfs("size=1m", [&](const std::filesystem::path& drive) {
    ::alarm(20);
    const std::string name = "results-k-2026-12-08.csv";
    const std::string at = (drive / name).string();
    ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0);
    ExportResult result = exportResults(results, {drive.string(), "STICK"}, name);
    EXPECT_EQ(result.outcome, ExportOutcome::Saved) << result.detail;
    EXPECT_EQ(result.path, (drive / "results-k-2026-12-08-2.csv").string());
    std::filesystem::remove(at);
    std::filesystem::remove(result.path);
    test::writeFile(at, "");
    std::filesystem::resize_file(at, std::uintmax_t{1} << 40);  // sparse
    result = exportResults(results, {drive.string(), "STICK"}, name);
    EXPECT_EQ(result.outcome, ExportOutcome::Saved) << result.detail;
    EXPECT_EQ(result.path, (drive / "results-k-2026-12-08-2.csv").string());
    EXPECT_EQ(std::filesystem::file_size(at), std::uintmax_t{1} << 40);
    // A link leading off the drive is not the drive gone.
    std::filesystem::remove(at);
    std::filesystem::remove(result.path);
    std::filesystem::create_symlink(results, at);
    result = exportResults(results, {drive.string(), "STICK"}, name);
    EXPECT_EQ(result.outcome, ExportOutcome::Saved) << result.detail;
    EXPECT_EQ(result.path, (drive / "results-k-2026-12-08-2.csv").string());
    EXPECT_TRUE(std::filesystem::is_symlink(at));
  });
}

// The copy leaves out the end that a power cut tore off a row (the row waits to be written whole)
// and its zeros, but keeps a last row without its line end and staff's own text.  A file with
// nothing else has no results to copy.
TEST(ExportTest, TheCopyLeavesOutATornRow) {
  using namespace std::string_literals;
  test::TempFolder home;
  const std::string kept = "#,Start Date\n1,2026-12-07 09:00:00 +0000,2,Y,1,2,3,0,1,2,3,0\n";
  test::inPrivateTmpfs("size=1m", [&](const std::filesystem::path& drive) {
    const std::string whole = "2,2026-12-07 09:10:00 +0000,1,N,0,0,1,2,3,0,1,2";
    const std::pair<std::string, std::string> ends[] = {{"2,2026-12-07 09:1", ""},
                                                        {"2" + std::string(9, '\0'), ""},
                                                        {whole + "\0"s, whole},
                                                        {"2 sessions lost", "2 sessions lost"}};
    for (const auto& [end, copied] : ends) {
      const std::string results = home.write("results.csv", kept + end);
      const ExportResult result = exportResults(results, {drive.string(), "STICK"}, "r.csv");
      EXPECT_EQ(result.outcome, ExportOutcome::Saved) << result.detail;
      EXPECT_EQ(test::readFile(result.path), kept + copied) << end;
      std::filesystem::remove(result.path);
    }
    // Emptied, or only a power cut's zeros: no results, and nothing that looks like a copy.
    for (const std::string& emptied : {""s, std::string(9, '\0')}) {
      const std::string results = home.write("results.csv", emptied);
      EXPECT_EQ(exportResults(results, {drive.string(), "STICK"}, "r.csv").outcome,
                ExportOutcome::NoResults);
      EXPECT_FALSE(std::filesystem::exists(drive / "r.csv"));
    }
  });
}

// As an ordinary user (root may write anywhere): an earlier copy that the copy extends, but that is
// marked read-only, is kept, and the copy takes the next name; a drive the kiosk may not write to
// is not called read-only, as its lock switch would not help.
TEST(ExportTest, WhatTheKioskMayNotWriteIsKeptOrSaidSo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to become an ordinary user";
  test::inPrivateTmpfs("size=1m", [&](const std::filesystem::path& drive) {
    constexpr uid_t kNobody = 65534;
    const std::string results = (drive / "results.csv").string();
    const std::string at = (drive / "results-k-2026-12-08.csv").string();
    test::writeFile(results, "#,Start Date\n1,2026-12-07\n");
    test::writeFile(at, "#,Start Date\n");
    ASSERT_EQ(::chmod(at.c_str(), 0444), 0);
    for (const std::string& path : {drive.string(), at}) {
      ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::setresgid(kNobody, kNobody, kNobody), 0);
    ASSERT_EQ(::setresuid(kNobody, kNobody, kNobody), 0);
    const ExportResult result =
        exportResults(results, {drive.string(), "STICK"}, "results-k-2026-12-08.csv");
    EXPECT_EQ(result.outcome, ExportOutcome::Saved) << result.detail;
    EXPECT_EQ(result.path, (drive / "results-k-2026-12-08-2.csv").string());
    EXPECT_EQ(test::readFile(at), "#,Start Date\n");
    ASSERT_EQ(::chmod(drive.c_str(), 0555), 0);
    EXPECT_EQ(exportResults(results, {drive.string(), "STICK"}, "r.csv").outcome,
              ExportOutcome::NotAllowed);
  });
}

// The file decides which code is right: without one the out-of-the-box code alone (no prefix of
// it); with a stored hash its code alone; damaged in any way, none.
TEST(PasscodeTest, TheFileDecidesWhichCodeIsRightAndADamagedOneOpensNothing) {
  test::TempFolder home;
  const std::string path = home / "kiosk/passcode";
  ASSERT_EQ(Passcode::store(path, "24681357"), std::nullopt);
  const std::string hash = *test::readFile(path);
  using Kind = Passcode::Kind;
  // The file (nullopt: none), its kind, the one code it opens ("-": none).
  const std::tuple<std::optional<std::string>, Kind, std::string> cases[] = {
      {std::nullopt, Kind::Default, "7395"},
      {hash, Kind::Own, "24681357"},
      {"", Kind::Unusable, "-"},
      {hash.substr(0, hash.size() / 2), Kind::Unusable, "-"},
      {"$argon2id$v=19$m=65536,t=2,p=1$junk$junk\n", Kind::Unusable, "-"},
      {"7395\n", Kind::Unusable, "-"},
  };
  for (const auto& [text, kind, opens] : cases) {
    SCOPED_TRACE(text.value_or("no file"));
    text ? test::writeFile(path, *text) : (void)std::filesystem::remove(path);
    const Passcode passcode = Passcode::load(path);
    EXPECT_EQ(passcode.kind(), kind);
    for (const char* code : {"7395", "739", "7395 ", "24681357", "2468135", "246813570", ""}) {
      EXPECT_EQ(passcode.verify(code), code == opens) << code;
    }
  }
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);  // exists, cannot be read as a file
  EXPECT_EQ(Passcode::load(path).kind(), Kind::Unusable);
}

TEST(PasscodeLockTest, FiveWrongInARowLockForTheDurationThenTheCountStartsAgain) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  PasscodeLock lock(seconds(60));
  const PasscodeLock::Clock::time_point t0{};
  for (int wrong = 1; wrong <= 4; ++wrong) EXPECT_FALSE(lock.failed(t0));
  lock.succeeded();
  for (int wrong = 1; wrong <= 4; ++wrong) EXPECT_FALSE(lock.failed(t0));
  EXPECT_EQ(lock.remaining(t0), seconds(0));
  EXPECT_TRUE(lock.failed(t0));
  EXPECT_EQ(lock.remaining(t0), seconds(60));
  EXPECT_EQ(lock.remaining(t0 + milliseconds(59'001)), seconds(1));
  EXPECT_EQ(lock.remaining(t0 + seconds(60)), seconds(0));
  for (int wrong = 1; wrong <= 4; ++wrong) EXPECT_FALSE(lock.failed(t0 + seconds(61)));
  EXPECT_TRUE(lock.failed(t0 + seconds(61)));
}

}  // namespace
}  // namespace quorin
