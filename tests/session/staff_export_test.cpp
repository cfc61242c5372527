// The export's own rules, below what the acceptance suite sees: which mounts count as drives,
// the copy's file name, the passcode file's states and the lock's count.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <tuple>

#include "session/passcode.hpp"
#include "session/results_export.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

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

TEST(ExportNameTest, KioskNamesBecomeSafeFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"ward-3.clinic", "ward-3.clinic"},
      {"Ward 3/Kiosk", "Ward-3-Kiosk"},
      {"../../etc", "etc"},
      {"-rf *", "rf"},
      {"", "kiosk"},
      {"Zürich", "Z-rich"},
      {std::string(60, 'k'), std::string(40, 'k')}};
  for (const auto& [name, safe] : cases) EXPECT_EQ(safeFileName(name), safe) << name;
  setenv("TZ", "UTC", 1);
  const auto when =
      std::chrono::sys_days{std::chrono::December / 7 / 2026} + std::chrono::hours(23);
  EXPECT_EQ(exportFileName("ward-3", when), "results-ward-3-2026-12-07.csv");
}

// The file decides which code is right: without one the out-of-the-box code alone (no prefix of
// it); with a stored hash its code alone; damaged in any way, none, and why is said.
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
    EXPECT_EQ(passcode.failure().find(path) != std::string::npos, kind == Kind::Unusable);
  }
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);  // exists, cannot be read as a file
  EXPECT_EQ(Passcode::load(path).kind(), Kind::Unusable);
  for (const char* refused : {"123", "1234567890123", "12a4", " 1234"}) {
    EXPECT_FALSE(Passcode::isAcceptable(refused)) << refused;
  }
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
