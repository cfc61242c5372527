// SqliteSettingsStore: the kiosk's settings in one SQLite database file (WAL, synchronous=FULL).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "session/settings_store.hpp"

namespace quorin {

// Every value is one row (key, kind, value), so integers, booleans, dates and text stay distinct.
// Reads go to the database (nothing is cached while it answers); a batch of changes is one
// transaction, committed and synced before the call returns. Several processes may open the
// same file: SQLite's locking keeps it whole, and a busy database is waited for up to 5 s.
//
// Failures never stop the caller. A change that cannot be committed is kept in memory, read back
// from there, and committed together with the next change once the database takes it again; a
// read that fails gives the value last seen. A database that cannot be opened at all when the
// store is created, or that cannot give a key the run has not seen yet, is left alone for the
// rest of the run (its contents, perhaps a session not yet logged, wait for the next run) and the
// store works in memory. Used by one thread at a time.
class SqliteSettingsStore final : public SettingsStore {
 public:
  // The store for the database at `path`, created with its parent folders if missing. Never null.
  static std::unique_ptr<SqliteSettingsStore> open(std::string path);
  ~SqliteSettingsStore() override;
  SqliteSettingsStore(const SqliteSettingsStore&) = delete;
  SqliteSettingsStore& operator=(const SqliteSettingsStore&) = delete;

  // The database file's path.
  const std::string& path() const { return path_; }
  // True when this run keeps its settings in memory and leaves the database file alone.
  bool isDetached() const override { return detached_; }
  // Why the database could not be opened at creation; "" when it was.
  const std::string& openFailure() const { return openFailure_; }
  // Number of changes held in memory because the database has not taken them yet.
  std::size_t unsavedChangeCount() const { return unsaved_.size(); }
  // Called when a change cannot be saved while everything before it was: once per spell of
  // failures, so that staff can be told. Not called while detached (the opening failed).
  void setUnsavedHandler(std::function<void()> handler) { unsavedHandler_ = std::move(handler); }
  // Called when a failed read detaches a store that opened: once, so that staff can be told.
  void setDetachedHandler(std::function<void()> handler) { detachedHandler_ = std::move(handler); }

  std::optional<SettingValue> valueForKey(std::string_view key) const override;
  bool applyChanges(const std::vector<SettingChange>& changes) override;

 private:
  explicit SqliteSettingsStore(std::string path);
  struct Connection;
  using Values = std::map<std::string, std::optional<SettingValue>, std::less<>>;

  // Opens the database when it is not open; the reason it could not, or "" when it is open.
  std::string ensureOpen() const;
  // Commits every unsaved change in one transaction; the failure's text, or "".
  std::string commitUnsaved();
  // Closes the connection after a failed statement, unless the failure was a busy database.
  void dropConnectionAfter(int failure) const;

  std::string path_;
  std::string openFailure_;
  mutable bool detached_ = false;
  mutable std::unique_ptr<Connection> connection_;
  std::function<void()> unsavedHandler_;
  std::function<void()> detachedHandler_;
  Values unsaved_;           // changes not yet in the database, newest value per key
  mutable Values lastSeen_;  // what the database last said (or took) for each key
};

}  // namespace quorin
