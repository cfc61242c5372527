// The torture suite's driver: the kiosk's session code without its screens, telling on stdout
// what it has made durable, so that the orchestrator can check results.csv against it.
//   torture_logger log EPOCH [N]   launch, then N sessions (default: until killed)
//   torture_logger step EPOCH      the same, a session per line read from stdin after "ready"
//   torture_logger seed EPOCH      one complete session stored, not logged
//   torture_logger launch EPOCH    the kiosk's launch sequence only
// The kiosk home is $QUORIN_HOME. The clock starts at EPOCH (seconds) and gains a second per
// call, so every session has its own start second S; its answers and help choice are derived from
// S (see expected() in torture.py). Output lines: "answered S" (all answers given), "ack S"
// (complete and durable in the store), "logged S R" (addToCsv returned R: 1 or 0), "nondurable
// WHAT" (a call returned false) and "ALERT MESSAGE".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "session/csv_file.hpp"
#include "session/paths.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"

namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void alert(const std::string& message) { say("ALERT " + message); }

struct PrintingAlerts : quorin::AlertPresenter {
  void simpleWithTitle(const std::optional<std::string>&, const std::string& message) override {
    alert(message);
  }
};

// Passes `ok` on, announcing a change that is not durable.
bool noted(bool ok, const std::string& what) {
  if (!ok) say("nondurable " + what);
  return ok;
}

std::uint32_t mix(std::int64_t s) { return static_cast<std::uint32_t>(s * 2654435761LL); }
int answerFor(std::int64_t s, int q) { return static_cast<int>((mix(s) >> (2 * q)) & 3); }
// 1: asks for help, 2: declines, otherwise leaves the help question unanswered ("N" in the row).
int helpFor(std::int64_t s) { return static_cast<int>((mix(s) >> 20) & 3); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: torture_logger log|step|seed|launch EPOCH [SESSIONS]\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::int64_t now = std::atoll(argv[2]), last = -1;
  const long sessions = argc > 3 ? std::atol(argv[3]) : -1;
  using std::chrono::seconds;
  std::shared_ptr<quorin::SqliteSettingsStore> store =
      quorin::SqliteSettingsStore::open(quorin::settingsDatabasePath());
  // The kiosk's alerts for a store that cannot open or cannot save (app/main.cpp).
  store->setUnsavedHandler([] { alert("Could not save the answers to disk!"); });
  const auto openFailed = [] { alert("Could not open the kiosk's settings!"); };
  store->setDetachedHandler(openFailed);
  if (!store->openFailure().empty()) openFailed();
  quorin::Tool tool(store, [&] { return quorin::Date(seconds(last = now++)); });
  quorin::CSVFile csvFile(store, quorin::documentsFolder(), std::make_shared<PrintingAlerts>());
  const auto startSecond = [&tool]() -> std::int64_t {
    const auto start = tool.startDate();
    return start ? std::chrono::duration_cast<seconds>(start->time_since_epoch()).count() : -1;
  };
  const auto logRow = [&](std::int64_t s, bool fromLaunch) {
    const bool logged = noted(csvFile.addToCsv(tool, fromLaunch), "addToCsv");
    say("logged " + std::to_string(s) + (logged ? " 1" : " 0"));
  };

  if (mode != "seed") {
    noted(csvFile.flushPendingRows(), "flushPendingRows");
    if (tool.complete()) {
      logRow(startSecond(), true);
      noted(tool.restart(), "restart");
    }
    csvFile.catchUpRowCount();
    if (mode == "launch") return 0;
  }
  noted(tool.restart(), "restart");  // the questionnaire starts with a restart
  for (long i = 0; sessions < 0 || i < sessions; ++i) {
    std::string go;
    if (mode == "step" && (say("ready"), !std::getline(std::cin, go))) break;
    const std::int64_t s = last;  // the start second the restart was given
    // Like a person at the screen, choose again (up to three times) what is not shown as chosen.
    // The help choice comes first, so a complete session always carries its final help choice.
    const bool help = helpFor(s) == 1, chooses = helpFor(s) == 1 || helpFor(s) == 2;
    for (int n = 0; chooses && n < 3 && (n == 0 || tool.helpWanted() != help); ++n) {
      noted(tool.setHelpWanted(help), "setHelpWanted");
    }
    for (int q = 1; q <= 8; ++q) {
      const std::string want = std::to_string(answerFor(s, q));
      for (int n = 0; n < 3 && (n == 0 || tool.answerAsString(q) != want); ++n) {
        noted(tool.setAnswer(answerFor(s, q), q), "setAnswer");
      }
    }
    bool shown = startSecond() == s && tool.helpWanted() == help && tool.complete();
    for (int q = 1; q <= 8; ++q) shown &= tool.answerAsString(q) == std::to_string(answerFor(s, q));
    say("answered " + std::to_string(s));
    // Durable: nothing held in memory only, and a store that opened.
    if (shown && !store->isDetached() && store->unsavedChangeCount() == 0) {
      say("ack " + std::to_string(s));
    }
    if (mode == "seed") break;
    // As the kiosk does when a session ends: log it when complete, then start the next one.
    if (tool.complete()) logRow(s, false);
    noted(tool.restart(), "restart");
  }
  return 0;
}
