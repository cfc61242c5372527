#include "session/sqlite_settings_store.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <limits>

#include "diagnostic_capture.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

using test::DiagnosticCapture;
using test::TempFolder;

// Runs one statement on the file as another program would: its first row's first column, or
// "error".
std::string rawExecute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string result;
  const auto first = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) = values[0];
    return 1;  // one row is enough
  };
  sqlite3_open(path.c_str(), &db);
  const int status = sqlite3_exec(db, sql.c_str(), first, &result, nullptr);
  sqlite3_close(db);
  return status == SQLITE_OK || status == SQLITE_ABORT ? result : "error";
}

SettingValue integer(std::int64_t value) { return SettingValue(value); }

// Each kind reads back as the same kind and value, from a second store on the file (nothing is
// cached) and after reopening it; replacing may change the kind; removing leaves the key absent.
// Only another program can store a value whose kind does not match its storage; it reads as
// absent, with a logged line, not as some other value.
TEST(SqliteSettingsStoreTest, ValuesRoundTripAcrossStoresAndReopening) {
  using namespace std::chrono;
  const std::pair<const char*, SettingValue> cases[] = {
      {"largest", integer(std::numeric_limits<std::int64_t>::max())},
      {"smallest", integer(std::numeric_limits<std::int64_t>::min())},
      {"true", SettingValue(std::in_place_type<bool>, true)},
      {"false", SettingValue(std::in_place_type<bool>, false)},
      {"date to the nanosecond",
       SettingValue(Date(sys_days{year{2013} / 4 / 2} + nanoseconds{123456789}))},
      {"date before 1970", SettingValue(Date(sys_days{year{1969} / 7 / 20} + hours{20}))},
      {"text", SettingValue(std::string("1"))},
      {"unicode text with a NUL", SettingValue(std::string("Grüße, 日本\0b", 17))},
  };
  TempFolder folder;
  const std::string path = folder / "a/b/settings.sqlite3";  // folders are created
  DiagnosticCapture log;
  auto first = SqliteSettingsStore::open(path);
  auto second = SqliteSettingsStore::open(path);
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(first->setValue("old", integer(1)) && first->setValue("old", value));
    EXPECT_TRUE(first->setValue(name, value));
    EXPECT_EQ(second->valueForKey(name), value);  // the same kind, not only the same number
    EXPECT_EQ(second->valueForKey("old"), value);
  }
  EXPECT_TRUE(second->removeValueForKey("old") && second->removeValueForKey("never"));
  EXPECT_EQ(first->valueForKey("old"), std::nullopt);
  first.reset();
  second.reset();
  auto reopened = SqliteSettingsStore::open(path);
  for (const auto& [name, value] : cases) EXPECT_EQ(reopened->valueForKey(name), value) << name;
  EXPECT_EQ(rawExecute(path, "PRAGMA journal_mode"), "wal");
  EXPECT_TRUE(log.lines.empty());
  ASSERT_EQ(rawExecute(path, "UPDATE settings SET value = 'x' WHERE key = 'date before 1970'"), "");
  EXPECT_EQ(reopened->valueForKey("date before 1970"), std::nullopt);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_NE(log.lines[0].find("\"date before 1970\""), std::string::npos);
}

// Several kiosk processes (or a kiosk and a maintenance tool) on one file: every write of every
// process is there afterwards, and the file passes SQLite's own integrity check.
TEST(SqliteSettingsStoreTest, ConcurrentProcessesDoNotLoseOrCorruptWrites) {
  TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  constexpr int kProcesses = 4, kWrites = 60;
  const auto key = [](int i) { return "k" + std::to_string(i); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(::fork());
    if (children.back() != 0) continue;
    bool failed = false;
    auto store = SqliteSettingsStore::open(path);
    for (int i = p * kWrites; i < (p + 1) * kWrites; ++i) {
      failed |= !store->setValue(key(i), integer(i)) || !store->setValue("shared", integer(p));
      failed |= store->valueForKey(key(i)) != integer(i);
    }
    store = nullptr;
    ::_exit(failed ? 1 : 0);
  }
  for (const pid_t child : children) {
    int status = 0;
    EXPECT_TRUE(child > 0 && ::waitpid(child, &status, 0) == child && status == 0) << status;
  }
  auto store = SqliteSettingsStore::open(path);
  for (int i = 0; i < kProcesses * kWrites; ++i) EXPECT_EQ(store->valueForKey(key(i)), integer(i));
  EXPECT_EQ(rawExecute(path, "PRAGMA integrity_check"), "ok");
}

// A store that cannot open its file lets the kiosk go on in memory: every change reads back but
// reports that it is not durable, every use says so in the log, and the file found there stays
// untouched for the whole run, even once it could be opened.
TEST(SqliteSettingsStoreTest, AnUnopenableDatabaseKeepsTheRunInMemoryAndTheFileUntouched) {
  // The regular file (4096 times "x") or folder ("/") in the way, the path, the reason.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"file", "file/home/settings.sqlite3", "Not a directory"},
      {"settings.sqlite3/", "settings.sqlite3", "unable to open database file"},
      {"settings.sqlite3", "settings.sqlite3", "file is not a database"},
  };
  for (const auto& [obstacleName, pathName, reason] : cases) {
    SCOPED_TRACE(reason);
    TempFolder folder;
    const std::string obstacle = folder / obstacleName, path = folder / pathName;
    obstacle.back() == '/' ? (void)std::filesystem::create_directories(obstacle)
                           : test::writeFile(obstacle, std::string(4096, 'x'));
    DiagnosticCapture log;
    auto store = SqliteSettingsStore::open(path);
    ASSERT_TRUE(store != nullptr && store->isDetached());
    EXPECT_NE(store->openFailure().find(reason), std::string::npos) << store->openFailure();
    EXPECT_FALSE(store->setValue("qn_q_1", integer(2)));
    EXPECT_EQ(store->valueForKey("qn_q_1"), integer(2));
    EXPECT_FALSE(store->removeValueForKey("qn_q_1"));
    EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
    EXPECT_EQ(store->unsavedChangeCount(), 1u);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_NE(log.lines[0].find("could not open " + path), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[1].find("\"qn_q_1\" kept in memory only"), std::string::npos);
    std::filesystem::remove_all(obstacle);
    EXPECT_FALSE(store->setValue("qn_q_2", integer(1)));
    EXPECT_FALSE(std::filesystem::exists(path)) << "a detached run never writes the file";
  }
}

}  // namespace
}  // namespace quorin
