#include "session/sqlite_settings_store.hpp"

#include <sqlite3.h>

#include <limits>

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::DiagnosticCapture;
using testing::TempFolder;

// Runs one statement on the database file directly, as another program would; the first column
// of its first row, or "error: ...".
std::string rawExecute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string result;
  char* error = nullptr;
  const auto first = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) = values[0];
    return 1;  // one row is enough
  };
  sqlite3_open(path.c_str(), &db);
  const int status = sqlite3_exec(db, sql.c_str(), first, &result, &error);
  if (status != SQLITE_OK && status != SQLITE_ABORT) result = std::string("error: ") + error;
  sqlite3_free(error);
  sqlite3_close(db);
  return result;
}

SettingValue integer(std::int64_t value) { return SettingValue(value); }

// Each kind reads back as the same kind and value, from a second store on the file (nothing is
// cached) and after reopening it; replacing may change the kind; removing leaves the key absent.
TEST(SqliteSettingsStoreTest, ValuesRoundTripAcrossStoresAndReopening) {
  using namespace std::chrono;
  const std::pair<const char*, SettingValue> cases[] = {
      {"zero", integer(0)},
      {"negative", integer(-2)},
      {"largest", integer(std::numeric_limits<std::int64_t>::max())},
      {"smallest", integer(std::numeric_limits<std::int64_t>::min())},
      {"true", SettingValue(std::in_place_type<bool>, true)},
      {"false", SettingValue(std::in_place_type<bool>, false)},
      {"date to the nanosecond", SettingValue(testing::exampleDate(nanoseconds{123456789}))},
      {"date before 1970", SettingValue(Date(sys_days{year{1969} / 7 / 20} + hours{20}))},
      {"text", SettingValue(std::string("1"))},
      {"empty text", SettingValue(std::string())},
      {"unicode text", SettingValue(std::string("Grüße, 日本"))},
      {"text with a NUL", SettingValue(std::string("a\0b", 3))},
  };
  TempFolder folder;
  const std::string path = folder / "a/b/settings.sqlite3";  // folders are created
  DiagnosticCapture log;
  {
    auto first = SqliteSettingsStore::open(path);
    auto second = SqliteSettingsStore::open(path);
    for (const auto& [name, value] : cases) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(first->setValue("old", integer(1)));
      EXPECT_TRUE(first->setValue("old", value));
      EXPECT_TRUE(first->setValue(name, value));
      EXPECT_EQ(second->valueForKey(name), value);  // the same kind, not only the same number
      EXPECT_EQ(second->valueForKey("old"), value);
    }
    EXPECT_TRUE(second->removeValueForKey("old"));
    EXPECT_TRUE(second->removeValueForKey("never"));
    EXPECT_EQ(first->valueForKey("old"), std::nullopt);
  }
  auto reopened = SqliteSettingsStore::open(path);
  for (const auto& [name, value] : cases) EXPECT_EQ(reopened->valueForKey(name), value) << name;
  EXPECT_EQ(reopened->valueForKey("old"), std::nullopt);
  EXPECT_EQ(rawExecute(path, "PRAGMA journal_mode"), "wal");
  EXPECT_TRUE(log.lines.empty());
  // Only another program can store a value whose kind does not match its storage; it reads as
  // absent (with a logged line), not as some other value and not as a crash.
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
  const auto key = [](int p, int i) { return "p" + std::to_string(p) + "_" + std::to_string(i); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(::fork());
    if (children.back() != 0) continue;
    int failures = 0;
    auto store = SqliteSettingsStore::open(path);
    for (int i = 0; i < kWrites; ++i) {
      failures += !store->setValue(key(p, i), integer(p * 1000 + i));
      failures += !store->setValue("shared", integer(p));
      failures += store->valueForKey(key(p, i)) != integer(p * 1000 + i);
    }
    store.reset();
    ::_exit(failures == 0 ? 0 : 1);
  }
  for (const pid_t child : children) {
    int status = 0;
    EXPECT_TRUE(child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0)
        << "status " << status;
  }
  auto store = SqliteSettingsStore::open(path);
  for (int i = 0; i < kProcesses * kWrites; ++i) {
    EXPECT_EQ(store->valueForKey(key(i / kWrites, i % kWrites)),
              integer(i / kWrites * 1000 + i % kWrites));
  }
  EXPECT_EQ(rawExecute(path, "PRAGMA integrity_check"), "ok");
}

// A store that cannot open its file must let the kiosk go on in memory: nothing crashes, every
// change reads back but reports that it is not durable, every use says so in the log, and the
// file found there stays untouched for the whole run, even once it could be opened.
TEST(SqliteSettingsStoreTest, AnUnopenableDatabaseKeepsTheRunInMemoryAndTheFileUntouched) {
  struct Case {
    const char* obstacle;  // the regular file (content "x"*4096) or folder ("/") in the way
    const char* path;
    const char* reason;  // part of the opening's logged line
  };
  const Case cases[] = {
      {"file", "file/home/settings.sqlite3", "Not a directory"},
      {"settings.sqlite3/", "settings.sqlite3", "unable to open database file"},
      {"settings.sqlite3", "settings.sqlite3", "file is not a database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    TempFolder folder;
    const std::string obstacle = folder / c.obstacle, path = folder / c.path;
    const bool isFolder = obstacle.back() == '/';
    isFolder ? (void)std::filesystem::create_directories(obstacle)
             : testing::writeFile(obstacle, std::string(4096, 'x'));
    DiagnosticCapture log;

    auto store = SqliteSettingsStore::open(path);
    ASSERT_TRUE(store != nullptr && store->isDetached());
    EXPECT_NE(store->openFailure().find(c.reason), std::string::npos) << store->openFailure();
    EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
    EXPECT_FALSE(store->setValue("qn_q_1", integer(2)));
    EXPECT_EQ(store->valueForKey("qn_q_1"), integer(2));
    EXPECT_FALSE(store->removeValueForKey("qn_q_1"));
    EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
    EXPECT_EQ(store->unsavedChangeCount(), 1u);

    ASSERT_EQ(log.lines.size(), 3u);
    for (const std::string& part : {std::string("could not open"), path, std::string(c.reason)}) {
      EXPECT_NE(log.lines[0].find(part), std::string::npos) << log.lines[0];
    }
    EXPECT_NE(log.lines[1].find("\"qn_q_1\" kept in memory only"), std::string::npos);
    std::filesystem::remove_all(obstacle);
    EXPECT_FALSE(store->setValue("qn_q_2", integer(1)));
    EXPECT_FALSE(std::filesystem::exists(path)) << "a detached run never writes the file";
  }
}

}  // namespace
}  // namespace quorin
