// The settings store, the session model (Tool) and the results log (CSVFile) on real files,
// where the end-to-end suites cannot reach: other programs on the store, observers, a run that
// stopped half-way, and a documents folder that cannot be made.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "csv/value.hpp"
#include "diagnostic_capture.hpp"
#include "session/csv_file.hpp"
#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"
#include "temp_folder.hpp"

namespace quorin {
namespace {

using namespace std::string_literals;

using test::readFile;
using test::writeFile;

// Runs one statement on the file as another program would: its first row's first column, or
// "error".
std::string rawExecute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string result;
  const auto first = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) = values[0];
    return 1;  // one row is enough
  };
  sqlite3_open(path.c_str(), &db);
  const int status = sqlite3_exec(db, sql.c_str(), first, &result, nullptr);
  sqlite3_close(db);
  return status == SQLITE_OK || status == SQLITE_ABORT ? result : "error";
}

SettingValue integer(std::int64_t value) { return SettingValue(value); }

// Only another program can store a value whose kind does not match its storage: it reads as
// absent, not as some other value. (Each kind's round trip is every acceptance scenario's.)
TEST(SqliteSettingsStoreTest, AValueStoredAsAnotherKindReadsAsAbsent) {
  test::TempFolder folder;
  const std::string path = folder / "settings.sqlite3";
  auto store = SqliteSettingsStore::open(path);
  ASSERT_TRUE(store->setValue("qn_start", SettingValue(Date(std::chrono::sys_days{}))));
  ASSERT_EQ(rawExecute(path, "UPDATE settings SET value = 'x' WHERE key = 'qn_start'"), "");
  EXPECT_EQ(store->valueForKey("qn_start"), std::nullopt);
}

// A store that cannot open its file lets the kiosk go on in memory: every change reads back but
// reports that it is not durable, and the file found there stays untouched for the whole run,
// even once it could be opened.
TEST(SqliteSettingsStoreTest, AnUnopenableDatabaseKeepsTheRunInMemoryAndTheFileUntouched) {
  // The regular file (4096 times "x") or folder ("/") in the way, the path, the reason.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"file", "file/home/settings.sqlite3", "Not a directory"},
      // The log says so in one line, whatever the path holds.
      {"settings\n.sqlite3/", "settings\n.sqlite3", "unable to open database file"},
  };
  for (const auto& [obstacleName, pathName, reason] : cases) {
    SCOPED_TRACE(reason);
    test::TempFolder folder;
    const std::string obstacle = folder / obstacleName, path = folder / pathName;
    obstacle.back() == '/' ? (void)std::filesystem::create_directories(obstacle)
                           : writeFile(obstacle, std::string(4096, 'x'));
    test::DiagnosticCapture quiet;
    auto store = SqliteSettingsStore::open(path);
    ASSERT_TRUE(store != nullptr && store->isDetached());
    EXPECT_NE(store->openFailure().find(reason), std::string::npos) << store->openFailure();
    ASSERT_EQ(quiet.lines.size(), 1u);
    EXPECT_EQ(quiet.lines[0].find('\n'), std::string::npos) << quiet.lines[0];
    EXPECT_FALSE(store->setValue("qn_q_1", integer(2)));
    EXPECT_EQ(store->valueForKey("qn_q_1"), integer(2));
    EXPECT_FALSE(store->removeValueForKey("qn_q_1"));
    EXPECT_EQ(store->valueForKey("qn_q_1"), std::nullopt);
    EXPECT_EQ(store->unsavedChangeCount(), 1u);
    std::filesystem::remove_all(obstacle);
    EXPECT_FALSE(store->setValue("qn_q_2", integer(1)));
    EXPECT_FALSE(std::filesystem::exists(path)) << "a detached run never writes the file";
  }
}

// Counts the alerts (their texts are the acceptance suite's).
struct RecordingAlerts : AlertPresenter {
  void simpleWithTitle(const std::optional<std::string>&, const std::string&) override { ++shown; }
  int shown = 0;
};

// Logs each notification; `withQuestions` false leaves resetQuestions to the protocol's default,
// as an observer without answer displays does.
struct Observer : ToolDelegate {
  Observer(std::function<void(const std::string&)> log, bool questions)
      : on(std::move(log)), withQuestions(questions) {}
  void resetScore() override { on("resetScore"); }
  void showScore() override { on("showScore"); }
  void resetQuestions() override {
    if (withQuestions) on("resetQuestions");
  }
  std::function<void(const std::string&)> on;
  bool withQuestions;
};

const std::string kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
const std::vector<int> kExample{3, 2, 1, 0, 2, 2, 0, 1};

// 2013-04-02 14:05:09.7 UTC plus `minutes`.
Date exampleDate(int minutes = 0) {
  using namespace std::chrono;
  return Date(sys_days{year{2013} / 4 / 2} + hours{14} + std::chrono::minutes{5 + minutes} +
              milliseconds{9700});
}

// The row numbered `number` of the `k`th session of a test (which starts k minutes after the
// example date); `rest` is the worked example's by default.
std::string row(long number, int k = 0, const std::string& rest = "4,N,3,2,1,0,2,2,0,1") {
  char date[40];
  std::snprintf(date, sizeof date, "2013-04-02 14:%02d:09 +0000", (5 + k) % 60);
  return std::to_string(number) + "," + date + "," + rest + "\n";
}

// A kiosk in a fresh folder: settings store, model on a settable clock, results log, alerts.
class SessionTest : public ::testing::Test {
 protected:
  // Answers questions 1 to 8 in order; -1 clears a question.
  void answer(const std::vector<int>& answers) {
    for (int q = 1; q <= 8; ++q) tool_.setAnswer(answers[static_cast<std::size_t>(q - 1)], q);
  }
  // The next session (each starts a minute after the one before) with these answers.
  void session(const std::vector<int>& answers = kExample) {
    now_ = exampleDate(sessions_++);
    tool_.restart();
    answer(answers);
  }
  std::string pending() const {
    const std::optional<SettingValue> value = store_->valueForKey("qn_pending_rows");
    return value ? std::get<std::string>(*value) : "<none>";
  }
  // Closes everything and opens it again on the same files, as the next launch does.
  void relaunch() {
    store_ = nullptr;
    tool_ = Tool(nullptr);
    csv_ = CSVFile(nullptr, documents_, alerts_);
    store_ = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
    tool_ = Tool(store_, [this] { return now_; });
    csv_ = CSVFile(store_, documents_, alerts_);
  }

  test::TempFolder folder_;
  std::string documents_ = folder_ / "Documents";
  std::string results_ = documents_ + "/results.csv";
  std::shared_ptr<SettingsStore> store_ = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
  Date now_ = exampleDate();
  Tool tool_{store_, [this] { return now_; }};
  std::shared_ptr<RecordingAlerts> alerts_ = std::make_shared<RecordingAlerts>();
  CSVFile csv_{store_, documents_, alerts_};
  test::DiagnosticCapture diagnostics_;
  int sessions_ = 0;
};

// The cases run one after another on one model, so each also shows that -1 removes an answer.
TEST_F(SessionTest, ScoreCountsStoredAnswersAboveOne) {
  // The answers, the score, started, complete.
  const std::tuple<std::vector<int>, int, bool, bool> cases[] = {
      {{3, 2, 1, 0, 2, 2, 0, 1}, 4, true, true},
      {{1, 1, 1, 1, 1, 1, 1, 1}, 0, true, true},
      {{-2, 3, 3, 3, 3, 3, 3, 3}, 7, true, true},  // -2 is an answer that adds nothing
      {{-1, -1, -1, -1, 1, -1, -1, -1}, 0, true, false},
      {{-1, -1, -1, -1, -1, -1, -1, 2}, 1, true, false},
      {{3, 3, 3, 3, 3, 3, 3, -1}, 7, true, false},
      {{-1, -1, -1, -1, -1, -1, -1, -1}, 0, false, false},
  };
  for (const auto& [answers, score, started, complete] : cases) {
    SCOPED_TRACE(::testing::PrintToString(answers));
    answer(answers);
    EXPECT_EQ(tool_.scoreAsString(), std::to_string(score));
    EXPECT_EQ(tool_.started(), started);
    EXPECT_EQ(tool_.complete(), complete);
    for (int q = 1; q <= 8; ++q) {
      const int given = answers[static_cast<std::size_t>(q - 1)];
      EXPECT_EQ(tool_.answerAsString(q), given == -1 ? "" : std::to_string(given));
    }
  }
}

// Every answer change clears the score displays; showScore reaches the observers only when the
// session is complete. An observer added twice hears each notification once, and one added during
// a notification (which must not break the walk) hears from the next one on. A restart is one
// step in the store: every observer already reads the new session at the first notification, and
// hears the clearing of the eight questions, resetQuestions (if it has it) and the end.
TEST_F(SessionTest, ObserversHearEachNotificationOnceAndOnlyWhenItApplies) {
  std::vector<std::string> log;
  const auto onPage = [&, added = false](const std::string& n) mutable {
    log.push_back(n + (tool_.helpWanted() ? " help" : "") + (tool_.started() ? " started" : ""));
    if (!std::exchange(added, true)) {
      auto late = [&](const std::string& what) { log.push_back("late." + what); };
      tool_.addDelegate(std::make_shared<Observer>(late, false));
    }
  };
  auto page = std::make_shared<Observer>(onPage, true);
  tool_.addDelegate(page);
  tool_.addDelegate(page);
  tool_.addDelegate(nullptr);
  tool_.setHelpWanted(true);
  tool_.setAnswer(2, 1);
  tool_.showScore();
  EXPECT_EQ(log, std::vector<std::string>{"resetScore help started"});
  answer(kExample);
  log.clear();
  tool_.showScore();
  now_ = exampleDate(60);
  EXPECT_TRUE(tool_.restart());
  std::vector<std::string> expected = {"showScore help started", "late.showScore"};
  for (int round = 0; round < 9; ++round) {
    if (round == 8) expected.push_back("resetQuestions");
    expected.push_back("resetScore");
    expected.push_back("late.resetScore");
  }
  EXPECT_EQ(log, expected);
  EXPECT_EQ(store_->valueForKey("qn_help_wanted"), SettingValue(std::in_place_type<bool>, false));
  EXPECT_EQ(store_->valueForKey("qn_start"), SettingValue(now_));
}

// Another program may have written other kinds under the model's keys. They read as the
// platform's number reading would give them, and never crash.
TEST_F(SessionTest, StoredValuesOfAnotherKindReadAsNumbers) {
  // The value, answerAsString, whether it adds to the score, helpWanted for it.
  const std::tuple<SettingValue, const char*, bool, bool> cases[] = {
      {SettingValue(std::string("  +2 points")), "2", true, true},
      {SettingValue(std::string("no")), "0", false, false},
      {SettingValue(std::string("99999999999999999999")), "9223372036854775807", true, true},
      {SettingValue(std::string("-99999999999999999999")), "-9223372036854775808", false, true},
      {SettingValue(std::in_place_type<bool>, true), "1", false, true},
      {SettingValue(exampleDate()), "0", false, false},
  };
  for (const auto& [value, shown, counts, helpWanted] : cases) {
    SCOPED_TRACE(shown);
    ASSERT_TRUE(store_->setValue("qn_q_3", value) && store_->setValue("qn_help_wanted", value));
    EXPECT_EQ(tool_.answerAsString(3), shown);
    EXPECT_EQ(tool_.score(), counts ? 1 : 0);
    EXPECT_EQ(tool_.helpWanted(), helpWanted);
  }
  ASSERT_TRUE(store_->setValue("qn_start", SettingValue(std::string("2013-04-02"))));
  EXPECT_EQ(tool_.startDate(), std::nullopt);
}

// Whatever a stopped run left (rows pending in the store, all, some or part of them already in
// the file, or a logged session still stored because the store could not clear it), the next
// launch writes each row exactly once, finishes a torn one, and numbers above the file's last row.
TEST_F(SessionTest, WhatAStoppedRunLeftIsWrittenExactlyOnce) {
  session();  // the session of rows numbered 1 below
  const std::string one = row(1), two = row(2, 2, "0,N,0,0,0,0,0,0,0,0");
  const std::string nine = "\"9\",\"2013-04-02 14:14:09 +0000\",\"0\",\"N\",,,,,,,,\n";
  const auto resaved = [](std::string text, const std::string& delimiter, const std::string& end) {
    std::string out;
    for (const char c : text) out += c == ',' ? delimiter : c == '\n' ? end : std::string(1, c);
    return out;
  };
  struct Case {
    const char* name;
    std::string pending;  // "" for none
    std::string before;   // after the header
    long counter;
    bool sessionStored;      // session 0, complete, is still in the store
    std::string after;       // after the header
    long counterAfter = -1;  // the counter afterwards, when it matters
    bool emptied = false;    // the file holds `before` alone, without the header
  };
  const std::string other = row(9, 9, "0,N,0,0,0,0,0,0,0,9");  // another session's
  // Rows 1 and 2 of other sessions, from a run that could not read the store and numbered on
  // from the file while one and two waited there.
  const std::string others = row(1, 3, "0,N,0,0,0,0,0,0,0,3") + row(2, 4, "0,N,0,0,0,0,0,0,0,4");
  const std::string renumbered = row(3) + row(4, 2, "0,N,0,0,0,0,0,0,0,0");
  std::string many;  // waited long: more than the file's end that is usually read
  for (int n = 1; n <= 1500; ++n) many += row(n, n);
  const Case cases[] = {
      {"all of many pending rows written", many, many, 1500, false, many},
      {"a pending row torn in its number", one + two, one + two.substr(0, 1), 2, false, one + two},
      {"a pending row torn before its last answer", one + two, one + two.substr(0, two.size() - 2),
       2, false, one + two},
      {"another run's torn row, not stored here", "", one + two.substr(0, 20), 1, true,
       one + row(2)},
      {"zeros after the rows, none missing", one, one + std::string(7, '\0'), 1, false, one},
      {"rows a run without its store numbered on", "", others, 0, false, others, 2},
      {"pending rows written, an editor dropped the last line end", one + two,
       one + two.substr(0, two.size() - 1), 2, false, one + two.substr(0, two.size() - 1)},
      {"a torn pending row, then zeros", one + two, one + two.substr(0, 9) + std::string(5, '\0'),
       2, false, one + two},
      {"the logged session stored without its last answer", "", row(1, 0, "5,N,3,2,1,0,2,2,0,3"), 0,
       true, row(1, 0, "5,N,3,2,1,0,2,2,0,3")},
      {"a session like a row the counter counts", "", one, 1, true, one + row(2)},
      {"a counter behind quoted numbers", "", nine, 2, true, nine + row(10)},
      {"a counter behind a last row without its end", "", nine.substr(0, nine.size() - 1), 2, true,
       nine + row(10)},
      {"pending rows the file holds with CR LF", one + two, resaved(one + two, ",", "\r\n"), 2,
       false, resaved(one + two, ",", "\r\n")},
      {"a counter behind semicolons", "", resaved(other, ";", "\n"), 2, true,
       resaved(other, ";", "\n") + row(10)},
      {"a counter behind tabs and old Mac line ends", "", resaved(other, "\t", "\r"), 2, true,
       resaved(other, "\t", "\r") + row(10)},
      {"pending rows the file holds with semicolons", one + two, resaved(one + two, ";", "\r\n"), 2,
       false, resaved(one + two, ";", "\r\n")},
      {"the logged session still stored, the file re-saved with tabs", "", resaved(one, "\t", "\n"),
       0, true, resaved(one, "\t", "\n")},
      {"a counter no log could have stored", "", two, std::numeric_limits<long>::max(), true,
       two + row(3)},
      {"pending rows whose numbers another run used", one + two, others, 2, false,
       others + renumbered, 4},
      {"pending rows written under new numbers", renumbered, others + renumbered, 4, false,
       others + renumbered, 4},
      {"a renumbered row torn, then zeros", renumbered,
       others + row(3) + renumbered.substr(row(3).size(), 12) + std::string(3, '\0'), 2, false,
       others + renumbered, 4},
      // Staff who took the rows away may leave the file empty; a power cut may leave it zeros.
      {"an emptied file", one, "", 0, false, one, -1, true},
      {"an emptied file's zeros", "", std::string(4, '\0'), 0, true, one, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(documents_);
    writeFile(results_, c.emptied ? c.before : kHeader + c.before);
    c.pending.empty() ? (void)store_->removeValueForKey("qn_pending_rows")
                      : (void)store_->setValue("qn_pending_rows", c.pending);
    csv_.setRowCount(c.counter);
    now_ = exampleDate();
    tool_.restart();
    if (c.sessionStored) answer(kExample);
    relaunch();
    EXPECT_TRUE(csv_.flushPendingRows());
    if (tool_.complete()) {
      EXPECT_TRUE(csv_.addToCsv(tool_, true));
    }
    csv_.catchUpRowCount();
    EXPECT_EQ(readFile(results_), kHeader + c.after);
    if (c.counterAfter >= 0) {
      EXPECT_EQ(csv_.rowCount(), c.counterAfter);
    }
    EXPECT_EQ(pending(), "<none>");
    EXPECT_FALSE(tool_.started());
    EXPECT_EQ(alerts_->shown, 0);
  }
  // Renumbered rows are stored under their new numbers before they are written, so that a stop
  // right after the write finds them in the file as they are, rather than renumbering them again.
  struct Recording final : SettingsStore {
    explicit Recording(std::shared_ptr<SettingsStore> store) : inner(std::move(store)) {}
    std::optional<SettingValue> valueForKey(std::string_view key) const override {
      return inner->valueForKey(key);
    }
    bool applyChanges(const std::vector<SettingChange>& changes) override {
      if (failing) return false;
      for (const SettingChange& c : changes) {
        if (c.key == "qn_pending_rows")
          kept.push_back(c.value ? std::get<std::string>(*c.value) : "");
      }
      return inner->applyChanges(changes);
    }
    std::shared_ptr<SettingsStore> inner;
    std::vector<std::string> kept;
    bool failing = false;
  };
  writeFile(results_, kHeader + others);
  store_->setValue("qn_pending_rows", one + two);
  const auto recording = std::make_shared<Recording>(store_);
  recording->failing = true;  // then they wait
  EXPECT_FALSE(CSVFile(recording, documents_, alerts_).flushPendingRows());
  EXPECT_EQ(readFile(results_), kHeader + others);
  recording->failing = false;
  EXPECT_TRUE(CSVFile(recording, documents_, alerts_).flushPendingRows());
  EXPECT_EQ(recording->kept, (std::vector<std::string>{renumbered, ""}));
  EXPECT_EQ(readFile(results_), kHeader + others + renumbered);

  // During a run, a session like the last row and begun in its second (a clock that stands still)
  // is another person's.
  writeFile(results_, kHeader + one);
  csv_.setRowCount(0);  // and the store lost its count
  now_ = exampleDate();
  tool_.restart();
  answer(kExample);
  EXPECT_TRUE(csv_.addToCsv(tool_));
  EXPECT_EQ(readFile(results_), kHeader + one + row(2));
}

// The disk fails a launch's read of the stored session, then recovers: the session may not have
// been logged, so the run leaves the file as it is (and says so) instead of starting the next
// person's session over it; the next launch logs it.
TEST_F(SessionTest, ASessionTheLaunchCouldNotReadWaitsForTheNextLaunch) {
  session();  // complete, stored, not logged
  relaunch();
  const std::string path = folder_ / "settings.sqlite3";
  const std::string intact = readFile(path).value();
  const std::size_t pageSize = std::stoul(rawExecute(path, "PRAGMA page_size"));
  ASSERT_GT(intact.size(), pageSize);
  std::string damaged = intact;  // the schema's page reads, the others do not
  std::fill(damaged.begin() + static_cast<long>(pageSize), damaged.end(), '\xFF');
  writeFile(path, damaged);
  auto* store = dynamic_cast<SqliteSettingsStore*>(store_.get());
  store->setDetachedHandler([this] { alerts_->simpleWithTitle("Error", "settings"); });
  EXPECT_FALSE(csv_.flushPendingRows()) << "the store cannot tell whether rows wait";
  EXPECT_FALSE(tool_.complete());
  writeFile(path, intact);
  EXPECT_TRUE(store->isDetached());
  EXPECT_EQ(alerts_->shown, 1);
  session({0, 0, 0, 0, 0, 0, 0, 0});  // the next person's, kept in memory and logged
  EXPECT_TRUE(tool_.complete() && csv_.addToCsv(tool_));
  EXPECT_EQ(readFile(path), intact);
  relaunch();
  ASSERT_TRUE(tool_.complete());
  EXPECT_TRUE(csv_.addToCsv(tool_, true));
  EXPECT_EQ(readFile(results_), kHeader + row(1, 1, "0,N,0,0,0,0,0,0,0,0") + row(2));
  EXPECT_EQ(alerts_->shown, 1);

  // The answers read, then the start or the help answer does not: no row without them, and none
  // that the next launch, finding the session still stored, would write again.
  struct StopsAt final : SettingsStore {
    StopsAt(std::shared_ptr<SettingsStore> store, std::string at)
        : inner(std::move(store)), key(std::move(at)) {}
    std::optional<SettingValue> valueForKey(std::string_view k) const override {
      stopped |= k == key;
      return stopped ? std::nullopt : inner->valueForKey(k);
    }
    bool applyChanges(const std::vector<SettingChange>& c) override {
      return !stopped && inner->applyChanges(c);
    }
    bool isDetached() const override { return stopped; }
    std::shared_ptr<SettingsStore> inner;
    std::string key;
    mutable bool stopped = false;
  };
  for (const char* key : {"qn_start", "qn_help_wanted"}) {
    session();
    tool_.setHelpWanted(true);
    const auto stops = std::make_shared<StopsAt>(store_, key);
    const Tool atLaunch(stops, [this] { return now_; });
    ASSERT_TRUE(atLaunch.complete());
    EXPECT_FALSE(CSVFile(stops, documents_, alerts_).addToCsv(atLaunch, true)) << key;
    EXPECT_EQ(readFile(results_), kHeader + row(1, 1, "0,N,0,0,0,0,0,0,0,0") + row(2)) << key;
  }
}

// A regular file stands where the documents folder should be. Each failed append shows the alert;
// its row waits in the store; once the folder can be made, the file is created private and the
// waiting rows are written first, under their own numbers.
TEST_F(SessionTest, RowsThatCannotBeWrittenWaitAndAreWrittenFirstLater) {
  writeFile(documents_, "in the way");
  session();
  EXPECT_FALSE(csv_.addToCsv(tool_));
  session({0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(csv_.addToCsv(tool_));
  const std::string waiting = row(1) + row(2, 1, "0,N,0,0,0,0,0,0,0,0");
  EXPECT_FALSE(csv_.flushPendingRows());
  EXPECT_EQ(alerts_->shown, 3);
  EXPECT_EQ(pending(), waiting);
  // Waiting in the store, they are as private as in the file they wait for.
  for (const char* file : {"settings.sqlite3", "settings.sqlite3-wal"}) {
    EXPECT_EQ(std::filesystem::status(folder_ / file).permissions(), std::filesystem::perms(0600))
        << file;
  }
  std::filesystem::remove(documents_);
  session();
  EXPECT_TRUE(csv_.addToCsv(tool_));
  EXPECT_EQ(readFile(results_), kHeader + waiting + row(3, 2));
  EXPECT_EQ(std::filesystem::status(results_).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(pending(), "<none>");
  EXPECT_EQ(alerts_->shown, 3);
  // Saved as a spreadsheet's "Unicode text", with a byte-order mark or without, the file would
  // take rows it cannot show.
  std::string waitingToo;
  for (const std::string& utf16 : {"\xFF\xFE#\0,\0\r\0\n\0"s, "#\0,\0\n\0x\0\n\0"s, "\xFE\xFF"s}) {
    writeFile(results_, utf16);
    session();
    EXPECT_FALSE(csv_.addToCsv(tool_));
    EXPECT_EQ(readFile(results_), utf16);
    waitingToo += row(sessions_, sessions_ - 1);
  }
  EXPECT_EQ(alerts_->shown, 6);
  EXPECT_EQ(pending(), waitingToo);
}

// The export hands the file to the desktop as a URL: spaces, letters beyond ASCII and "#" escaped.
TEST_F(SessionTest, TheFileUrlIsPercentEncoded) {
  EXPECT_EQ(CSVFile(store_, "/home/kiosk/My Documents/\u00C4rzte#1", alerts_).fileUrl(),
            "file:///home/kiosk/My%20Documents/%C3%84rzte%231/results.csv");
}

}  // namespace
}  // namespace quorin
