// The kiosk's persistent key-value settings: read at every use, written at once, durable on return.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorin {

using Date = std::chrono::system_clock::time_point;
// Integers and booleans are distinct kinds, as numbers and booleans are in the store.
using SettingValue = std::variant<std::int64_t, bool, Date, std::string>;

// One change of a batch: the key's new value, or nullopt to remove the key.
struct SettingChange {
  std::string key;
  std::optional<SettingValue> value;
};

// A key-value store. Implementations never throw and log their own failures. A change that
// could not be made durable is still seen by later reads through the same store (it is kept in
// memory and saved with a later change), so what the kiosk shows and what it logs always agree;
// the write reports it by returning false.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The value stored under `key`, or nullopt when there is none.
  virtual std::optional<SettingValue> valueForKey(std::string_view key) const = 0;
  // Makes all `changes` in one step: on disk all of them or none; true when they are durable.
  virtual bool applyChanges(const std::vector<SettingChange>& changes) = 0;
  // True once the store has stopped using its file for this run: what the file holds (perhaps a
  // session not yet logged) was not all read, and waits for a later run.
  virtual bool isDetached() const { return false; }

  // Stores `value` under `key`; true when durable.
  bool setValue(std::string_view key, SettingValue value) {
    return applyChanges({{std::string(key), std::move(value)}});
  }
  // Removes `key`; true when durable.
  bool removeValueForKey(std::string_view key) {
    return applyChanges({{std::string(key), std::nullopt}});
  }
};

}  // namespace quorin
