// SqliteSettingsStore: the kiosk's settings in one SQLite database file (WAL, synchronous=FULL).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "session/settings_store.hpp"

namespace quorin {

// Every value is one row (key, kind, value), so integers, booleans, dates and text stay distinct.
// Each call reads or writes the database itself (nothing is cached); a write is committed and
// synced before it returns. Several processes may open the same file: SQLite's locking keeps it
// whole, and a busy database is waited for up to five seconds.
//
// A database that cannot be opened does not stop the caller: the store logs the reason, reads
// as absent and fails every write (each with a logged line), and tries to open the file again at
// each use, so it recovers once the file becomes reachable. Used by one thread at a time.
class SqliteSettingsStore final : public SettingsStore {
 public:
  // The store for the database at `path`, created with its parent folders if missing. Never null.
  static std::unique_ptr<SqliteSettingsStore> open(std::string path);
  ~SqliteSettingsStore() override;
  SqliteSettingsStore(const SqliteSettingsStore&) = delete;
  SqliteSettingsStore& operator=(const SqliteSettingsStore&) = delete;

  // The database file's path.
  const std::string& path() const { return path_; }
  // True while the database is open; a failed store tries to open it again at its next use.
  bool isOpen() const;

  std::optional<SettingValue> valueForKey(std::string_view key) const override;
  bool setValue(std::string_view key, SettingValue value) override;
  bool removeValueForKey(std::string_view key) override;

 private:
  explicit SqliteSettingsStore(std::string path);
  struct Connection;

  // Opens the database when it is not open; the reason it could not, or "" when it is open.
  std::string ensureOpen() const;
  // Closes the connection after a failed statement, unless the failure was a busy database.
  void dropConnectionAfter(int failure) const;

  std::string path_;
  mutable std::unique_ptr<Connection> connection_;
};

}  // namespace quorin
