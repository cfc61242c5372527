// The torture suite's driver: the kiosk's session code without its screens, telling on stdout
// what it has made durable, so that the orchestrator can check results.csv against it.
//   torture_logger log EPOCH [N]   launch, then N sessions (default: until killed)
//   torture_logger step EPOCH      the same, one session per line read from stdin (after
//                                  printing "ready"), until EOF
//   torture_logger seed EPOCH      one complete session stored, not logged
//   torture_logger launch EPOCH    the kiosk's launch sequence only
// The kiosk home is $QUORIN_HOME. The clock starts at EPOCH (seconds) and gains a second per
// call, so every session has its own start second S; its answers and help choice are derived from
// S (see expected() in torture.py). Output lines: "answered S" (all answers given), "ack S"
// (complete and durable in the store), "logged S R" (addToCsv returned R: 1 or 0, "?" where it
// returns nothing), "nondurable WHAT" (a call returned false) and "ALERT MESSAGE".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <type_traits>

#include "session/csv_file.hpp"
#include "session/paths.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"

namespace {

struct PrintingAlerts : quorin::AlertPresenter {
  void simpleWithTitle(const std::optional<std::string>&, const std::string& message) override {
    std::printf("ALERT %s\n", message.c_str());
    std::fflush(stdout);
  }
};

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Runs `call`; its result when it has one ("?" otherwise), announcing a false one.
template <typename Call>
std::string result(Call&& call, const std::string& what) {
  if constexpr (std::is_void_v<decltype(call())>) {
    call();
    return "?";
  } else {
    if (call()) return "1";
    say("nondurable " + what);
    return "0";
  }
}

std::uint32_t mix(std::int64_t s) { return static_cast<std::uint32_t>(s * 2654435761LL); }
int answerFor(std::int64_t s, int q) { return static_cast<int>((mix(s) >> (2 * q)) & 3); }
bool helpFor(std::int64_t s) { return ((mix(s) >> 20) & 1) != 0; }

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
  std::shared_ptr<quorin::SettingsStore> store =
      quorin::SqliteSettingsStore::open(quorin::settingsDatabasePath());
  quorin::Tool tool(store, [&] { return quorin::Date(seconds(last = now++)); });
  quorin::CSVFile csvFile(store, quorin::documentsFolder(), std::make_shared<PrintingAlerts>());
  const auto startSecond = [&tool]() -> std::int64_t {
    const auto start = tool.startDate();
    return start ? std::chrono::duration_cast<seconds>(start->time_since_epoch()).count() : -1;
  };

  if (mode != "seed") {
    result([&] { return csvFile.flushPendingRows(); }, "flushPendingRows");
    if (tool.complete()) {
      say("logged " + std::to_string(startSecond()) + " " +
          result([&] { return csvFile.addToCsv(tool); }, "addToCsv"));
      result([&] { return tool.restart(); }, "restart");
    }
    if (mode == "launch") return 0;
  }
  // The questionnaire starts with a restart, and every logged session is followed by one.
  bool durable = result([&] { return tool.restart(); }, "restart") != "0";
  for (long i = 0; sessions < 0 || i < sessions; ++i) {
    std::string go;
    if (mode == "step" && (say("ready"), !std::getline(std::cin, go))) break;
    const std::int64_t s = last;  // the start second the restart was given
    // Like a person at the screen, choose again (up to three times) what is not shown as chosen.
    const auto choose = [&](auto&& set, auto&& shown, const char* what) {
      std::string last_result = result(set, what);
      for (int again = 0; again < 2 && !shown(); ++again) last_result = result(set, what);
      durable &= last_result != "0";
    };
    for (int q = 1; q <= 8; ++q) {
      choose([&] { return tool.setAnswer(answerFor(s, q), q); },
             [&] { return tool.answerAsString(q) == std::to_string(answerFor(s, q)); },
             "setAnswer");
    }
    choose([&] { return tool.setHelpWanted(helpFor(s)); },
           [&] { return tool.helpWanted() == helpFor(s); }, "setHelpWanted");
    bool same = startSecond() == s && tool.helpWanted() == helpFor(s);
    for (int q = 1; q <= 8; ++q) same &= tool.answerAsString(q) == std::to_string(answerFor(s, q));
    say("answered " + std::to_string(s));
    if (durable && same && tool.complete()) say("ack " + std::to_string(s));
    if (mode == "seed") break;
    // As the kiosk does when a session ends: log it when complete, then start the next one.
    if (tool.complete()) {
      say("logged " + std::to_string(s) + " " +
          result([&] { return csvFile.addToCsv(tool); }, "addToCsv"));
    }
    durable = result([&] { return tool.restart(); }, "restart") != "0";
  }
  return 0;
}
