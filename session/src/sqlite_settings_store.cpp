#include "session/sqlite_settings_store.hpp"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

#include "csv/diagnostic_log.hpp"

namespace quorin {
namespace {

// How long a call waits for another process that holds the database's write lock.
constexpr int kBusyTimeoutMs = 5000;

// The kind column names the value's type in words, so the file reads clearly in the sqlite3 shell
// and a boolean never comes back as an integer. Dates are nanoseconds since the Unix epoch (UTC),
// which keeps a time point exact.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS settings ("
    " key TEXT PRIMARY KEY NOT NULL,"
    " kind TEXT NOT NULL CHECK (kind IN ('integer', 'boolean', 'date', 'text')),"
    " value NOT NULL)";
constexpr const char* kSelect = "SELECT kind, value FROM settings WHERE key = ?1";
constexpr const char* kUpsert =
    "INSERT INTO settings (key, kind, value) VALUES (?1, ?2, ?3)"
    " ON CONFLICT (key) DO UPDATE SET kind = excluded.kind, value = excluded.value";
constexpr const char* kDelete = "DELETE FROM settings WHERE key = ?1";

std::string quoted(std::string_view key) {
  std::string text = "\"";
  text.append(key);
  text.push_back('"');
  return text;
}

std::int64_t nanosecondsSinceEpoch(Date date) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
}

Date dateFromNanoseconds(std::int64_t nanoseconds) {
  return Date(std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(nanoseconds)));
}

}  // namespace

struct SqliteSettingsStore::Connection {
  sqlite3* db = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* upsert = nullptr;
  sqlite3_stmt* remove = nullptr;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    sqlite3_finalize(select);
    sqlite3_finalize(upsert);
    sqlite3_finalize(remove);
    sqlite3_close_v2(db);
  }

  std::string lastError() const { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

  // Runs a statement that returns no rows, or only rows to ignore; "" or the failure's text.
  std::string execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return {};
    std::string text = message != nullptr ? message : lastError();
    sqlite3_free(message);
    return text;
  }

  // The journal mode after asking for WAL, or "" when the pragma failed.
  std::string enableWriteAheadLog() {
    sqlite3_stmt* statement = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode = WAL", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      if (text != nullptr) mode = reinterpret_cast<const char*>(text);
    }
    sqlite3_finalize(statement);
    return mode;
  }
};

namespace {

// Resets a cached statement however the call that used it ends.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

SqliteSettingsStore::SqliteSettingsStore(std::string path) : path_(std::move(path)) {}

SqliteSettingsStore::~SqliteSettingsStore() = default;

std::unique_ptr<SqliteSettingsStore> SqliteSettingsStore::open(std::string path) {
  std::unique_ptr<SqliteSettingsStore> store(new SqliteSettingsStore(std::move(path)));
  const std::string failure = store->ensureOpen();
  if (!failure.empty()) {
    csv::logDiagnostic("Settings store: could not open " + store->path_ + ": " + failure +
                       " (settings read as absent and are not saved until it opens)");
  }
  return store;
}

bool SqliteSettingsStore::isOpen() const { return connection_ != nullptr; }

std::string SqliteSettingsStore::ensureOpen() const {
  if (connection_) return {};
  const std::filesystem::path file(path_);
  if (file.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
      return "could not create the folder " + file.parent_path().string() + ": " + error.message();
    }
  }

  auto connection = std::make_unique<Connection>();
  const int opened =
      sqlite3_open_v2(path_.c_str(), &connection->db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) return connection->lastError();
  sqlite3_extended_result_codes(connection->db, 1);
  sqlite3_busy_timeout(connection->db, kBusyTimeoutMs);

  // The first statement reads the file, so a file that is not a database fails here, untouched.
  const std::string mode = connection->enableWriteAheadLog();
  if (mode.empty()) return connection->lastError();
  if (mode != "wal") {
    // Some file systems cannot share WAL's index; the rollback journal with synchronous=FULL is
    // slower but just as durable, so the store goes on.
    csv::logDiagnostic("Settings store: " + path_ + " uses the " + mode +
                       " journal; the write-ahead log is not available here");
  }
  // FULL syncs the write-ahead log at every commit, so a write that returned survives a power cut.
  if (std::string failure = connection->execute("PRAGMA synchronous = FULL"); !failure.empty()) {
    return failure;
  }
  if (std::string failure = connection->execute(kSchema); !failure.empty()) return failure;
  if (sqlite3_prepare_v2(connection->db, kSelect, -1, &connection->select, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(connection->db, kUpsert, -1, &connection->upsert, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(connection->db, kDelete, -1, &connection->remove, nullptr) != SQLITE_OK) {
    return connection->lastError();
  }
  connection_ = std::move(connection);
  return {};
}

namespace {

// Decodes the selected row; nullopt when the kind and the stored type do not agree, which only
// another program editing the file can cause.
std::optional<SettingValue> decodeRow(sqlite3_stmt* select) {
  const unsigned char* kindText = sqlite3_column_text(select, 0);
  const std::string kind = kindText != nullptr ? reinterpret_cast<const char*>(kindText) : "";
  const int storage = sqlite3_column_type(select, 1);
  if (storage == SQLITE_INTEGER) {
    const std::int64_t number = sqlite3_column_int64(select, 1);
    if (kind == "integer") return SettingValue(number);
    if (kind == "boolean") return SettingValue(number != 0);
    if (kind == "date") return SettingValue(dateFromNanoseconds(number));
  } else if (storage == SQLITE_TEXT && kind == "text") {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
    if (text == nullptr) return SettingValue(std::string());
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select, 1));
    return SettingValue(std::string(text, size));
  }
  return std::nullopt;
}

}  // namespace

std::optional<SettingValue> SqliteSettingsStore::valueForKey(std::string_view key) const {
  const auto fail = [&](const std::string& reason) {
    csv::logDiagnostic("Settings store: could not read " + quoted(key) + " from " + path_ + ": " +
                       reason);
  };
  if (std::string failure = ensureOpen(); !failure.empty()) {
    fail(failure);
    return std::nullopt;
  }
  int stepped = SQLITE_OK;
  {
    StatementUse use(connection_->select);
    sqlite3_bind_text(connection_->select, 1, key.data(), static_cast<int>(key.size()),
                      SQLITE_TRANSIENT);
    stepped = sqlite3_step(connection_->select);
    if (stepped == SQLITE_DONE) return std::nullopt;
    if (stepped == SQLITE_ROW) {
      std::optional<SettingValue> value = decodeRow(connection_->select);
      if (!value) {
        csv::logDiagnostic("Settings store: the value of " + quoted(key) + " in " + path_ +
                           " is not of the kind it is marked as; it reads as absent");
      }
      return value;
    }
    fail(connection_->lastError());
  }
  dropConnectionAfter(stepped);
  return std::nullopt;
}

bool SqliteSettingsStore::setValue(std::string_view key, SettingValue value) {
  const auto fail = [&](const std::string& reason) {
    csv::logDiagnostic("Settings store: could not write " + quoted(key) + " to " + path_ + ": " +
                       reason);
  };
  if (std::string failure = ensureOpen(); !failure.empty()) {
    fail(failure);
    return false;
  }
  int stepped = SQLITE_OK;
  {
    sqlite3_stmt* upsert = connection_->upsert;
    StatementUse use(upsert);
    sqlite3_bind_text(upsert, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    struct Bind {
      sqlite3_stmt* statement;
      void operator()(std::int64_t number) const {
        sqlite3_bind_text(statement, 2, "integer", -1, SQLITE_STATIC);
        sqlite3_bind_int64(statement, 3, number);
      }
      void operator()(bool flag) const {
        sqlite3_bind_text(statement, 2, "boolean", -1, SQLITE_STATIC);
        sqlite3_bind_int64(statement, 3, flag ? 1 : 0);
      }
      void operator()(Date date) const {
        sqlite3_bind_text(statement, 2, "date", -1, SQLITE_STATIC);
        sqlite3_bind_int64(statement, 3, nanosecondsSinceEpoch(date));
      }
      void operator()(const std::string& text) const {
        sqlite3_bind_text(statement, 2, "text", -1, SQLITE_STATIC);
        sqlite3_bind_text(statement, 3, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
      }
    };
    std::visit(Bind{upsert}, value);
    stepped = sqlite3_step(upsert);
    if (stepped == SQLITE_DONE) return true;
    fail(connection_->lastError());
  }
  dropConnectionAfter(stepped);
  return false;
}

bool SqliteSettingsStore::removeValueForKey(std::string_view key) {
  const auto fail = [&](const std::string& reason) {
    csv::logDiagnostic("Settings store: could not remove " + quoted(key) + " from " + path_ + ": " +
                       reason);
  };
  if (std::string failure = ensureOpen(); !failure.empty()) {
    fail(failure);
    return false;
  }
  int stepped = SQLITE_OK;
  {
    StatementUse use(connection_->remove);
    sqlite3_bind_text(connection_->remove, 1, key.data(), static_cast<int>(key.size()),
                      SQLITE_TRANSIENT);
    stepped = sqlite3_step(connection_->remove);
    if (stepped == SQLITE_DONE) return true;
    fail(connection_->lastError());
  }
  dropConnectionAfter(stepped);
  return false;
}

void SqliteSettingsStore::dropConnectionAfter(int failure) const {
  // Busy and locked mean another process held the database for longer than the timeout; the
  // connection itself is sound. After any other failure the next call opens the file afresh.
  const int primary = failure & 0xff;
  if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) connection_.reset();
}

}  // namespace quorin
