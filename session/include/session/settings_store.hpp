// The kiosk's persistent key-value settings: read at every use, written at once, durable on return.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quorin {

using Date = std::chrono::system_clock::time_point;
// Integers and booleans are distinct kinds, as numbers and booleans are in the store.
using SettingValue = std::variant<std::int64_t, bool, Date, std::string>;

// A key-value store. Implementations report their own failures to the diagnostic log and never
// throw: a failed read reads as absent, a failed write leaves the previous value.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The value stored under `key`, or nullopt when there is none.
  virtual std::optional<SettingValue> valueForKey(std::string_view key) const = 0;
  // Stores `value` under `key`, replacing any previous value; durable when it returns true.
  virtual bool setValue(std::string_view key, SettingValue value) = 0;
  // Removes `key`; true when the key is absent afterwards.
  virtual bool removeValueForKey(std::string_view key) = 0;
};

}  // namespace quorin
