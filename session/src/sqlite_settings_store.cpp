#include "session/sqlite_settings_store.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
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
  store->openFailure_ = store->ensureOpen();
  if (!store->openFailure_.empty()) {
    // Opening it later in the run could write this run's fresh session over a stored one that
    // was never logged, so the file is left as it is until the next run.
    store->detached_ = true;
    csv::logDiagnostic("Settings store: could not open " + store->path_ + ": " +
                       store->openFailure_ +
                       " (this run keeps its settings in memory and leaves the file as it is)");
  }
  return store;
}

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
  // It holds people's answers: a new file is private from the start, and SQLite gives its
  // journal files the database's mode. (An empty file is an empty database.)
  if (const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0) {
    ::close(fd);
  }

  // Tries once; *busy tells whether another connection's lock was in the way.
  const auto attempt = [this](bool* busy) -> std::string {
    auto connection = std::make_unique<Connection>();
    const int opened =
        sqlite3_open_v2(path_.c_str(), &connection->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    const auto fail = [&](std::string text) {
      *busy = connection->db != nullptr && (sqlite3_errcode(connection->db) & 0xFF) == SQLITE_BUSY;
      return text;
    };
    if (opened != SQLITE_OK) return fail(connection->lastError());
    sqlite3_extended_result_codes(connection->db, 1);
    sqlite3_busy_timeout(connection->db, kBusyTimeoutMs);

    // The first statement reads the file, so a file that is not a database fails here, untouched.
    const std::string mode = connection->enableWriteAheadLog();
    if (mode.empty()) return fail(connection->lastError());
    if (mode != "wal") {
      // Some file systems cannot share WAL's index; the rollback journal with synchronous=FULL is
      // slower but just as durable, so the store goes on.
      csv::logDiagnostic("Settings store: " + path_ + " uses the " + mode +
                         " journal; the write-ahead log is not available here");
    }
    // FULL syncs the write-ahead log at every commit, so a write that returned survives a power
    // cut.
    if (std::string failure = connection->execute("PRAGMA synchronous = FULL"); !failure.empty()) {
      return fail(failure);
    }
    if (std::string failure = connection->execute(kSchema); !failure.empty()) return fail(failure);
    if (sqlite3_prepare_v2(connection->db, kSelect, -1, &connection->select, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(connection->db, kUpsert, -1, &connection->upsert, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(connection->db, kDelete, -1, &connection->remove, nullptr) !=
            SQLITE_OK) {
      return fail(connection->lastError());
    }
    connection_ = std::move(connection);
    return {};
  };

  // Setting up a fresh file takes an exclusive lock that SQLite does not wait for when two
  // processes race for it (waiting could deadlock), so a busy start is tried again for as long
  // as any other call would wait.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    bool busy = false;
    std::string failure = attempt(&busy);
    if (!busy || std::chrono::steady_clock::now() >= deadline) return failure;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

namespace {

// Binds a value and its kind to an upsert's second and third parameters.
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
    sqlite3_bind_text(statement, 3, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
};

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
  if (const auto unsaved = unsaved_.find(key); unsaved != unsaved_.end()) return unsaved->second;
  const auto seen = lastSeen_.find(key);
  if (detached_) return seen != lastSeen_.end() ? seen->second : std::nullopt;
  // What this run last saw stands in for a read that fails, so that a session does not seem to
  // vanish (and get dropped) because the disk stumbled. A key the run has not seen yet may hold
  // a session not yet logged, which the run's own writes would replace: the file is then left as
  // it is for the rest of the run, as when it cannot be opened.
  const auto fallBack = [&](const std::string& reason) -> std::optional<SettingValue> {
    if (seen != lastSeen_.end()) {
      csv::logDiagnostic("Settings store: could not read " + quoted(key) + " from " + path_ + ": " +
                         reason + " (using the value last read)");
      return seen->second;
    }
    detached_ = true;
    connection_.reset();
    csv::logDiagnostic("Settings store: could not read " + quoted(key) + " from " + path_ + ": " +
                       reason +
                       " (the rest of this run keeps its settings in memory and leaves "
                       "the file as it is)");
    if (detachedHandler_) detachedHandler_();
    return std::nullopt;
  };
  if (std::string failure = ensureOpen(); !failure.empty()) return fallBack(failure);
  int stepped = SQLITE_OK;
  std::string failure;
  {
    StatementUse use(connection_->select);
    sqlite3_bind_text(connection_->select, 1, key.data(), static_cast<int>(key.size()),
                      SQLITE_TRANSIENT);
    stepped = sqlite3_step(connection_->select);
    if (stepped == SQLITE_DONE || stepped == SQLITE_ROW) {
      std::optional<SettingValue> value;
      if (stepped == SQLITE_ROW) {
        value = decodeRow(connection_->select);
        if (!value) {
          csv::logDiagnostic("Settings store: the value of " + quoted(key) + " in " + path_ +
                             " is not of the kind it is marked as; it reads as absent");
        }
      }
      lastSeen_.insert_or_assign(std::string(key), value);
      return value;
    }
    failure = connection_->lastError();
  }
  dropConnectionAfter(stepped);
  return fallBack(failure);
}

bool SqliteSettingsStore::applyChanges(const std::vector<SettingChange>& changes) {
  const bool allSaved = unsaved_.empty();
  for (const SettingChange& change : changes) unsaved_.insert_or_assign(change.key, change.value);
  std::string keys;
  for (const SettingChange& change : changes) {
    keys += (keys.empty() ? "\"" : ", \"") + change.key + "\"";
  }
  if (detached_) {
    csv::logDiagnostic("Settings store: " + keys + " kept in memory only; " + path_ +
                       " is left as it is for this run");
    return false;
  }
  const std::string failure = commitUnsaved();
  if (failure.empty()) return true;
  csv::logDiagnostic("Settings store: could not save " + keys + " to " + path_ + ": " + failure +
                     " (kept in memory and saved with the next change)");
  if (allSaved && unsavedHandler_) unsavedHandler_();
  return false;
}

std::string SqliteSettingsStore::commitUnsaved() {
  if (unsaved_.empty()) return {};
  if (std::string failure = ensureOpen(); !failure.empty()) return failure;
  sqlite3* db = connection_->db;
  // IMMEDIATE takes the write lock at once, so a busy database fails here rather than halfway.
  if (std::string failure = connection_->execute("BEGIN IMMEDIATE"); !failure.empty()) {
    dropConnectionAfter(sqlite3_extended_errcode(db));
    return failure;
  }
  int stepped = SQLITE_DONE;
  for (const auto& [key, value] : unsaved_) {
    sqlite3_stmt* statement = value ? connection_->upsert : connection_->remove;
    StatementUse use(statement);
    sqlite3_bind_text(statement, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (value) std::visit(Bind{statement}, *value);
    stepped = sqlite3_step(statement);
    if (stepped != SQLITE_DONE) break;
  }
  std::string failure;
  if (stepped != SQLITE_DONE) {
    failure = connection_->lastError();
  } else if (failure = connection_->execute("COMMIT"); !failure.empty()) {
    stepped = sqlite3_extended_errcode(db);
  }
  if (failure.empty()) {
    for (auto& [key, value] : unsaved_) lastSeen_.insert_or_assign(key, std::move(value));
    unsaved_.clear();
    return {};
  }
  // A failed commit may leave the transaction open; whatever it wrote is not to be relied on,
  // and the changes stay in memory for the next attempt.
  if (sqlite3_get_autocommit(db) == 0) (void)connection_->execute("ROLLBACK");
  dropConnectionAfter(stepped);
  return failure;
}

void SqliteSettingsStore::dropConnectionAfter(int failure) const {
  // Busy and locked mean another process held the database for longer than the timeout; the
  // connection itself is sound. After any other failure the next call opens the file afresh.
  const int primary = failure & 0xff;
  if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) connection_.reset();
}

}  // namespace quorin
