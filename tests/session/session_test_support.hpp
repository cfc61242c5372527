// Helpers shared by the session tests: a fresh folder per test, captured diagnostic lines,
// recording observers and alerts, and a fixed clock.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "csv/diagnostic_log.hpp"
#include "session/csv_file.hpp"
#include "session/settings_store.hpp"
#include "session/tool_delegate.hpp"

namespace quorin::testing {

// A new empty folder, removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorin-session-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Collects diagnostic lines instead of printing them, for as long as it lives.
class DiagnosticCapture {
 public:
  DiagnosticCapture()
      : previous_(
            csv::setDiagnosticSink([this](std::string_view line) { lines_.emplace_back(line); })) {}
  ~DiagnosticCapture() { csv::setDiagnosticSink(std::move(previous_)); }
  DiagnosticCapture(const DiagnosticCapture&) = delete;
  DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  void clear() { lines_.clear(); }

 private:
  std::vector<std::string> lines_;
  csv::DiagnosticSink previous_;
};

// An observer that writes every notification it receives, tagged with its name, to a shared log.
class RecordingObserver : public ToolDelegate {
 public:
  RecordingObserver(std::string name, std::shared_ptr<std::vector<std::string>> log)
      : name_(std::move(name)), log_(std::move(log)) {}
  void resetScore() override { log_->push_back(name_ + ".resetScore"); }
  void showScore() override { log_->push_back(name_ + ".showScore"); }
  void resetQuestions() override { log_->push_back(name_ + ".resetQuestions"); }

 protected:
  std::string name_;
  std::shared_ptr<std::vector<std::string>> log_;
};

// An observer with no answer displays: it leaves resetQuestions to the protocol's default.
class ScoreOnlyObserver : public ToolDelegate {
 public:
  ScoreOnlyObserver(std::string name, std::shared_ptr<std::vector<std::string>> log)
      : name_(std::move(name)), log_(std::move(log)) {}
  void resetScore() override { log_->push_back(name_ + ".resetScore"); }
  void showScore() override { log_->push_back(name_ + ".showScore"); }

 private:
  std::string name_;
  std::shared_ptr<std::vector<std::string>> log_;
};

struct ShownAlert {
  std::optional<std::string> title;
  std::string message;
  friend bool operator==(const ShownAlert&, const ShownAlert&) = default;
};

class RecordingAlerts : public AlertPresenter {
 public:
  void simpleWithTitle(const std::optional<std::string>& title,
                       const std::string& message) override {
    shown.push_back({title, message});
  }
  std::vector<ShownAlert> shown;
};

// 2013-04-02 14:05:09 UTC plus `extra`.
inline Date exampleDate(std::chrono::nanoseconds extra = {}) {
  using namespace std::chrono;
  return Date(sys_days{year{2013} / 4 / 2} + hours{14} + minutes{5} + seconds{9}) +
         duration_cast<Date::duration>(extra);
}

inline std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

// Runs `body` in a forked child and returns what it reported ("" for success), or a description
// of how the child ended abnormally. GoogleTest assertions do not cross the fork, so a child
// reports its findings as text; it never returns into the test runner.
inline std::string runInChild(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::close(pipeFds[0]);
    const std::string report = body();
    std::size_t written = 0;
    while (written < report.size()) {
      const ssize_t n = ::write(pipeFds[1], report.data() + written, report.size() - written);
      if (n <= 0) ::_exit(3);
      written += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return report + " [child ended abnormally, status " + std::to_string(status) + "]";
  }
  return report;
}

}  // namespace quorin::testing
