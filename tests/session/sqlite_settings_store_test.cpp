#include "session/sqlite_settings_store.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::DiagnosticCapture;
using testing::TempFolder;

// Runs one statement on the database file directly, as another program would; "" or its error.
std::string rawExecute(const std::string& path, const std::string& sql,
                       std::string* firstColumn = nullptr) {
  sqlite3* db = nullptr;
  std::string failure;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    failure = sqlite3_errmsg(db);
  } else {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      failure = sqlite3_errmsg(db);
    } else {
      const int stepped = sqlite3_step(statement);
      if (stepped == SQLITE_ROW && firstColumn != nullptr) {
        *firstColumn = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      } else if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
        failure = sqlite3_errmsg(db);
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return failure;
}

struct TypedCase {
  const char* name;
  SettingValue value;
};

std::vector<TypedCase> typedCases() {
  using namespace std::chrono;
  return {
      {"zero", SettingValue(std::int64_t{0})},
      {"one", SettingValue(std::int64_t{1})},
      {"negative", SettingValue(std::int64_t{-2})},
      {"largest", SettingValue(std::numeric_limits<std::int64_t>::max())},
      {"smallest", SettingValue(std::numeric_limits<std::int64_t>::min())},
      {"true", SettingValue(std::in_place_type<bool>, true)},
      {"false", SettingValue(std::in_place_type<bool>, false)},
      {"date to the nanosecond", SettingValue(testing::exampleDate(nanoseconds{123456789}))},
      {"date before 1970", SettingValue(Date(sys_days{year{1969} / 7 / 20} + hours{20}))},
      {"text", SettingValue(std::string("1"))},
      {"empty text", SettingValue(std::string())},
      {"unicode text", SettingValue(std::string("Grüße, 日本"))},
      {"text with a NUL", SettingValue(std::string("a\0b", 3))},
  };
}

TEST(SqliteSettingsStoreTest, EachKindReadsBackAsTheSameKindAndValue) {
  TempFolder folder;
  DiagnosticCapture log;
  auto store = SqliteSettingsStore::open(folder / "settings.sqlite3");
  ASSERT_TRUE(store->isOpen());
  for (const TypedCase& c : typedCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(store->setValue(c.name, c.value));
    const std::optional<SettingValue> read = store->valueForKey(c.name);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->index(), c.value.index());
    EXPECT_EQ(*read, c.value);
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST(SqliteSettingsStoreTest, ValuesSurviveReopeningTheDatabase) {
  TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  {
    auto store = SqliteSettingsStore::open(path);
    for (const TypedCase& c : typedCases()) ASSERT_TRUE(store->setValue(c.name, c.value));
    ASSERT_TRUE(store->setValue("removed", SettingValue(std::int64_t{7})));
    ASSERT_TRUE(store->removeValueForKey("removed"));
  }
  auto reopened = SqliteSettingsStore::open(path);
  for (const TypedCase& c : typedCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reopened->valueForKey(c.name), c.value);
  }
  EXPECT_EQ(reopened->valueForKey("removed"), std::nullopt);
}

TEST(SqliteSettingsStoreTest, ReplacingAValueMayChangeItsKind) {
  TempFolder folder;
  auto store = SqliteSettingsStore::open(folder / "settings.sqlite3");
  ASSERT_TRUE(store->setValue("k", SettingValue(std::int64_t{1})));
  ASSERT_TRUE(store->setValue("k", SettingValue(std::in_place_type<bool>, true)));
  EXPECT_EQ(store->valueForKey("k"), SettingValue(std::in_place_type<bool>, true));
  ASSERT_TRUE(store->setValue("k", SettingValue(std::string("x"))));
  EXPECT_EQ(store->valueForKey("k"), SettingValue(std::string("x")));
}

TEST(SqliteSettingsStoreTest, RemovingLeavesTheKeyAbsent) {
  TempFolder folder;
  auto store = SqliteSettingsStore::open(folder / "settings.sqlite3");
  EXPECT_EQ(store->valueForKey("never"), std::nullopt);
  EXPECT_TRUE(store->removeValueForKey("never"));
  ASSERT_TRUE(store->setValue("qn_q_1", SettingValue(std::int64_t{3})));
  ASSERT_TRUE(store->setValue("qn_q_2", SettingValue(std::int64_t{2})));
  EXPECT_TRUE(store->removeValueForKey("qn_q_1"));
  EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
  EXPECT_EQ(store->valueForKey("qn_q_2"), SettingValue(std::int64_t{2}));
}

// Nothing is cached: a value written through one store object is what another one reads next.
TEST(SqliteSettingsStoreTest, TwoStoresOnOneFileSeeEachOthersWrites) {
  TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  auto first = SqliteSettingsStore::open(path);
  auto second = SqliteSettingsStore::open(path);
  ASSERT_TRUE(first->setValue("qn_timeout", SettingValue(std::int64_t{30})));
  EXPECT_EQ(second->valueForKey("qn_timeout"), SettingValue(std::int64_t{30}));
  ASSERT_TRUE(second->setValue("qn_timeout", SettingValue(std::int64_t{60})));
  EXPECT_EQ(first->valueForKey("qn_timeout"), SettingValue(std::int64_t{60}));
  ASSERT_TRUE(second->removeValueForKey("qn_timeout"));
  EXPECT_EQ(first->valueForKey("qn_timeout"), std::nullopt);
}

TEST(SqliteSettingsStoreTest, UsesTheWriteAheadLogAndCreatesItsFolders) {
  TempFolder folder;
  const std::string path = folder / "a/b/settings.sqlite3";
  auto store = SqliteSettingsStore::open(path);
  ASSERT_TRUE(store->isOpen());
  ASSERT_TRUE(store->setValue("k", SettingValue(std::int64_t{1})));
  std::string mode;
  ASSERT_EQ(rawExecute(path, "PRAGMA journal_mode", &mode), "");
  EXPECT_EQ(mode, "wal");
}

// Several kiosk processes (or a kiosk and a maintenance tool) on one file: every write of every
// process is there afterwards, and the file passes SQLite's own integrity check.
TEST(SqliteSettingsStoreTest, ConcurrentProcessesDoNotLoseOrCorruptWrites) {
  TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  constexpr int kProcesses = 4;
  constexpr int kWrites = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      auto store = SqliteSettingsStore::open(path);
      for (int i = 0; i < kWrites; ++i) {
        const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
        if (!store->setValue(key, SettingValue(std::int64_t{p * 1000 + i}))) ++failures;
        if (!store->setValue("shared", SettingValue(std::int64_t{p}))) ++failures;
        if (store->valueForKey(key) != SettingValue(std::int64_t{p * 1000 + i})) ++failures;
      }
      store.reset();
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  auto store = SqliteSettingsStore::open(path);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWrites; ++i) {
      const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
      EXPECT_EQ(store->valueForKey(key), SettingValue(std::int64_t{p * 1000 + i})) << key;
    }
  }
  const std::optional<SettingValue> shared = store->valueForKey("shared");
  ASSERT_TRUE(shared.has_value());
  EXPECT_GE(std::get<std::int64_t>(*shared), 0);
  EXPECT_LT(std::get<std::int64_t>(*shared), kProcesses);
  std::string integrity;
  ASSERT_EQ(rawExecute(path, "PRAGMA integrity_check", &integrity), "");
  EXPECT_EQ(integrity, "ok");
}

struct UnopenableCase {
  const char* name;
  // Prepares the folder and returns the database path that cannot be opened.
  std::string (*prepare)(const TempFolder& folder);
  const char* reason;  // part of every logged line
};

const UnopenableCase kUnopenable[] = {
    {"folder below a regular file",
     [](const TempFolder& folder) {
       testing::writeFile(folder / "file", "x");
       return folder / "file/home/settings.sqlite3";
     },
     "Not a directory"},
    {"path is a folder",
     [](const TempFolder& folder) {
       std::filesystem::create_directories(folder / "settings.sqlite3");
       return folder / "settings.sqlite3";
     },
     "unable to open database file"},
    {"file is not a database",
     [](const TempFolder& folder) {
       testing::writeFile(folder / "settings.sqlite3", std::string(4096, 'x'));
       return folder / "settings.sqlite3";
     },
     "file is not a database"},
};

// A store that cannot open its file must let the kiosk go on: nothing crashes, nothing reads as
// written, every use says so in the log, and the file found there is left untouched.
TEST(SqliteSettingsStoreTest, AnUnopenableDatabaseFailsEveryUseWithALoggedLine) {
  for (const UnopenableCase& c : kUnopenable) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::string path = c.prepare(folder);
    const bool wasFile = std::filesystem::is_regular_file(path);
    const std::string before = wasFile ? testing::readFile(path) : "";
    DiagnosticCapture log;

    auto store = SqliteSettingsStore::open(path);
    ASSERT_NE(store, nullptr);
    EXPECT_FALSE(store->isOpen());
    EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
    EXPECT_FALSE(store->setValue("qn_q_1", SettingValue(std::int64_t{2})));
    EXPECT_FALSE(store->removeValueForKey("qn_q_1"));

    ASSERT_EQ(log.lines().size(), 4u);
    const char* verbs[] = {"could not open", "could not read \"qn_q_1\"",
                           "could not write \"qn_q_1\"", "could not remove \"qn_q_1\""};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_NE(log.lines()[i].find(verbs[i]), std::string::npos) << log.lines()[i];
      EXPECT_NE(log.lines()[i].find(path), std::string::npos) << log.lines()[i];
      EXPECT_NE(log.lines()[i].find(c.reason), std::string::npos) << log.lines()[i];
    }
    if (wasFile) {
      EXPECT_EQ(testing::readFile(path), before);
    }
  }
}

TEST(SqliteSettingsStoreTest, AStoreThatCouldNotOpenRecoversWhenItsFolderBecomesAvailable) {
  TempFolder folder;
  DiagnosticCapture log;
  testing::writeFile(folder / "home", "in the way");
  auto store = SqliteSettingsStore::open(folder / "home/settings.sqlite3");
  EXPECT_FALSE(store->setValue("k", SettingValue(std::int64_t{1})));

  std::filesystem::remove(folder / "home");
  EXPECT_TRUE(store->setValue("k", SettingValue(std::int64_t{1})));
  EXPECT_TRUE(store->isOpen());
  EXPECT_EQ(store->valueForKey("k"), SettingValue(std::int64_t{1}));
}

// Only another program can store a value whose kind does not match its storage; it must read as
// absent (with a logged line), not as some other value and not as a crash.
TEST(SqliteSettingsStoreTest, AValueEditedIntoAnInvalidKindReadsAsAbsent) {
  TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  auto store = SqliteSettingsStore::open(path);
  ASSERT_TRUE(store->setValue("qn_start", SettingValue(testing::exampleDate())));
  ASSERT_EQ(rawExecute(path, "UPDATE settings SET value = 'yesterday' WHERE key = 'qn_start'"), "");
  DiagnosticCapture log;
  EXPECT_EQ(store->valueForKey("qn_start"), std::nullopt);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("\"qn_start\""), std::string::npos);
}

}  // namespace
}  // namespace quorin
