// The administrator passcode that guards the export: the out-of-the-box code until staff set the
// kiosk's own, which is kept only as a salted, deliberately slow hash (Argon2id through
// libsodium's crypto_pwhash_str), never as the code itself.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorin {

class Passcode {
 public:
  // The code every kiosk starts with, until `quorin --set-passcode` replaces it.
  static constexpr std::string_view kDefaultCode = "7395";

  enum class Kind {
    Default,   // no passcode file: the out-of-the-box code
    Own,       // the passcode file holds a valid hash
    Unusable,  // the file is there but cannot be read or holds no valid hash: no code is right
  };

  // The passcode kept at `path`, read now. An empty path means the out-of-the-box code. A file
  // that exists but cannot be used is never taken for its absence: the out-of-the-box code would
  // then open the export on a kiosk whose staff chose another one.
  static Passcode load(const std::string& path);

  Kind kind() const { return kind_; }
  // Why the passcode is Unusable ("" otherwise).
  const std::string& failure() const { return failure_; }
  // Whether `code` is the passcode, exactly. For Own this costs 0.1 to 0.4 s of CPU and 64 MiB,
  // which is what makes guessing slow; never true for Unusable.
  bool verify(std::string_view code) const;

  // Whether `code` can be a passcode: 4 to 12 decimal digits, since staff type it on a keypad.
  static bool isAcceptable(std::string_view code);
  // Hashes `code` and writes the hash to `path` atomically and durably, readable by its owner
  // only (by the owner of the file's folder when run as root). nullopt on success, else why not.
  static std::optional<std::string> store(const std::string& path, std::string_view code);

 private:
  Kind kind_ = Kind::Default;
  std::string hash_;
  std::string failure_;
};

// Wrong codes in a row lock the export for a while, so that a code cannot be found by trying
// them all at the kiosk. The count restarts after a right code and after each lock.
class PasscodeLock {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAttempts = 5;
  static constexpr std::chrono::seconds kDefaultDuration{60};

  explicit PasscodeLock(std::chrono::seconds duration = kDefaultDuration) : duration_(duration) {}

  std::chrono::seconds duration() const { return duration_; }
  // Whole seconds left of the lock at `now`, rounded up; 0 when the export is open.
  std::chrono::seconds remaining(Clock::time_point now) const;
  // A wrong code at `now`; true when it was the last one allowed and the lock begins.
  bool failed(Clock::time_point now);
  // A right code.
  void succeeded() { failures_ = 0; }

 private:
  std::chrono::seconds duration_;
  int failures_ = 0;
  std::optional<Clock::time_point> lockedUntil_;
};

}  // namespace quorin
