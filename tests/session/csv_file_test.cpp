#include "session/csv_file.hpp"

#include <cstdio>

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::readFile;

const std::string kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
const std::vector<std::string> kOneAlert{"Error|Could not write to csv file!"};
const std::vector<int> kExample{3, 2, 1, 0, 2, 2, 0, 1};

// The row numbered `number` of the `k`th session of a test (which starts k minutes after the
// example date); `rest` is the worked example's by default.
std::string row(long number, int k = 0, const std::string& rest = "4,N,3,2,1,0,2,2,0,1") {
  char date[40];
  std::snprintf(date, sizeof date, "2013-04-02 14:%02d:09 +0000", (5 + k) % 60);
  return std::to_string(number) + "," + date + "," + rest + "\n";
}

std::string diagnosticLine(const std::string& path, const std::string& error) {
  return "Error: Could not write to csv file:\n\tPath : " + path + "\n\tError: " + error;
}

class CSVFileTest : public testing::KioskTest {
 protected:
  // The next session (each starts a minute after the one before) with these answers, -1 for none.
  void session(const std::vector<int>& answers = kExample) {
    now_ = testing::exampleDate(std::chrono::minutes{sessions_++} + std::chrono::milliseconds{700});
    tool_.restart();
    answer(answers);
  }
  std::string pending() const {
    const std::optional<SettingValue> value = stored("qn_pending_rows");
    return value ? std::get<std::string>(*value) : "<none>";
  }
  bool hasTemporaryFiles() const {  // left by a header write that was not atomic
    for (const auto& entry : std::filesystem::directory_iterator(documents_)) {
      if (entry.path().filename().string().starts_with(".results.csv.")) return true;
    }
    return false;
  }
  int sessions_ = 0;
};

// The header is written alone, once, into a (nested) folder created for it, private, and never
// over an existing file, which is appended to as it is. A logged session is no longer stored.
// Nothing changes for a file that works: no pending rows, no alert, no log line, no temporary file.
TEST_F(CSVFileTest, AppendsWriteTheHeaderOnceAndNumberTheRows) {
  EXPECT_TRUE(csv_.flushPendingRows());  // nothing waits: nothing to write
  csv_.initCsvFile();
  EXPECT_EQ(readFile(results_), kHeader);
  EXPECT_EQ(std::filesystem::status(results_).permissions(), std::filesystem::perms(0600));
  session();
  EXPECT_TRUE(csv_.addToCsv(tool_));
  EXPECT_EQ(readFile(results_), kHeader + row(1));
  EXPECT_FALSE(tool_.started());
  session({3, 3, 3, 3, 3, 3, 3, 3});
  tool_.setHelpWanted(true);
  EXPECT_TRUE(csv_.addToCsv(tool_));
  EXPECT_EQ(readFile(results_), kHeader + row(1) + row(2, 1, "8,Y,3,3,3,3,3,3,3,3"));
  CSVFile nested(store_, folder_ / "a/b/Documents", alerts_);
  session();
  nested.addToCsv(tool_);
  EXPECT_EQ(readFile(nested.filePath()), kHeader + row(3, 2));
  testing::writeFile(results_, "staff notes\n");
  csv_.initCsvFile();
  EXPECT_EQ(readFile(results_), "staff notes\n");
  session();
  csv_.addToCsv(tool_);
  EXPECT_EQ(readFile(results_), "staff notes\n" + row(4, 3));
  EXPECT_EQ(csv_.rowCount(), 4);
  EXPECT_EQ(pending(), "<none>");
  EXPECT_TRUE(alerts_->shown.empty() && diagnostics_.lines.empty() && !hasTemporaryFiles());
}

// Whatever a stopped run left (rows pending in the store, all, some or part of them already in
// the file, or a logged session still stored because the store could not clear it), the next
// launch writes each row exactly once, finishes a torn one, and numbers above the file's last row.
TEST_F(CSVFileTest, WhatAStoppedRunLeftIsWrittenExactlyOnce) {
  session();  // the session of rows numbered 1 below
  const std::string one = row(1), two = row(2, 0, "0,N,0,0,0,0,0,0,0,0");
  struct Case {
    const char* name;
    std::string pending;  // "" for none
    std::string before;   // after the header
    long counter;
    bool sessionStored;  // session 0, complete, is still in the store
    std::string after;   // after the header
  };
  const Case cases[] = {
      {"none of the pending rows written", one + two, "", 2, false, one + two},
      {"the first pending row written", one + two, one, 2, false, one + two},
      {"all pending rows written", one + two, one + two, 2, false, one + two},
      {"a torn pending row", one + two, one + two.substr(0, 9), 2, false, one + two},
      {"zeros after a power cut", one, std::string(7, '\0'), 1, false, one},
      {"an unfinished line of staff notes", one, "notes", 1, false, "notes\n" + one},
      {"the logged session still stored", "", one, 0, true, one},
      {"a counter behind the file", "", row(9, 0, "0,N,0,0,0,0,0,0,0,9"), 2, true,
       row(9, 0, "0,N,0,0,0,0,0,0,0,9") + row(10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(documents_);
    testing::writeFile(results_, kHeader + c.before);
    c.pending.empty() ? (void)store_->removeValueForKey("qn_pending_rows")
                      : (void)store_->setValue("qn_pending_rows", c.pending);
    csv_.setRowCount(c.counter);
    now_ = testing::exampleDate(std::chrono::milliseconds{700});
    tool_.restart();
    if (c.sessionStored) answer(kExample);
    relaunch();
    EXPECT_TRUE(csv_.flushPendingRows());
    if (tool_.complete()) {
      EXPECT_TRUE(csv_.addToCsv(tool_));
    }
    EXPECT_EQ(readFile(results_), kHeader + c.after);
    EXPECT_EQ(pending(), "<none>");
    EXPECT_FALSE(tool_.started());
    EXPECT_TRUE(alerts_->shown.empty());
  }
}

// Building a row advances the counter and writes nothing; a missing file is started again and
// the counter goes on.
TEST_F(CSVFileTest, RowsHoldEachColumnAsTheModelGivesIt) {
  EXPECT_EQ(csv_.filePath(), results_);  // creating the log touched neither file nor store
  EXPECT_TRUE(!stored("qn_csv_row_count") && csv_.rowCount() == 0);
  // Every session starts with a restart, which sets the date; without one the field is empty.
  EXPECT_EQ(csv_.toolToCsvRow(tool_), "1,,0,N,,,,,,,,\n");
  struct Case {
    std::vector<int> answers;  // -1: unanswered
    std::optional<bool> help;  // nullopt: never answered (key removed)
    std::string row;           // without the row number and the date
  };
  const Case cases[] = {
      {kExample, std::nullopt, "4,N,3,2,1,0,2,2,0,1"},
      {kExample, true, "4,Y,3,2,1,0,2,2,0,1"},
      {{0, 1, 0, 1, 0, 1, 0, 1}, false, "0,N,0,1,0,1,0,1,0,1"},
      {{-1, 3, -1, -1, -1, -1, -1, 2}, false, "2,N,,3,,,,,,2"},  // unanswered: empty fields
  };
  long number = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    session(c.answers);
    c.help ? (void)tool_.setHelpWanted(*c.help) : (void)store_->removeValueForKey("qn_help_wanted");
    EXPECT_EQ(csv_.toolToCsvRow(tool_), row(++number, sessions_ - 1, c.row));
    EXPECT_EQ(csv_.rowCount(), number);
  }
  EXPECT_FALSE(std::filesystem::exists(documents_));
  CSVFile other(store_, "/home/kiosk/My Documents/Ärzte#1", alerts_);
  EXPECT_EQ(other.filePath(), "/home/kiosk/My Documents/Ärzte#1/results.csv");
  EXPECT_EQ(other.fileUrl(), "file:///home/kiosk/My%20Documents/%C3%84rzte%231/results.csv");
  csv_.setRowCount(7);
  EXPECT_EQ(stored("qn_csv_row_count"), SettingValue(std::int64_t{7}));
  session();
  csv_.addToCsv(tool_);
  EXPECT_EQ(readFile(results_), kHeader + row(8, 4));
}

// A regular file stands where the documents folder should be. Each failed append shows the alert
// and logs the line; its row waits in the store; once the folder can be made, the waiting rows
// are written first, in order, under their own numbers, or by the next launch's flush.
TEST_F(CSVFileTest, RowsThatCannotBeWrittenWaitAndAreWrittenFirstLater) {
  for (const bool byRelaunch : {false, true}) {
    SCOPED_TRACE(byRelaunch ? "flushed at the next launch" : "written by the next append");
    std::filesystem::remove_all(documents_);
    testing::writeFile(documents_, "in the way");
    csv_.setRowCount(0);
    alerts_->shown.clear();
    diagnostics_.lines.clear();
    const int k = sessions_;
    session();
    EXPECT_FALSE(csv_.addToCsv(tool_));
    EXPECT_EQ(alerts_->shown, kOneAlert);
    ASSERT_FALSE(diagnostics_.lines.empty());
    EXPECT_EQ(diagnostics_.lines[0],
              diagnosticLine(results_,
                             "could not create the folder " + documents_ + ": Not a directory"));
    EXPECT_EQ(pending(), row(1, k));
    session({0, 0, 0, 0, 0, 0, 0, 0});
    csv_.addToCsv(tool_);
    const std::string waiting = row(1, k) + row(2, k + 1, "0,N,0,0,0,0,0,0,0,0");
    EXPECT_FALSE(csv_.flushPendingRows());
    EXPECT_EQ(alerts_->shown.size(), 3u);
    EXPECT_EQ(pending(), waiting);

    std::filesystem::remove(documents_);
    alerts_->shown.clear();
    if (byRelaunch) {
      relaunch();
      EXPECT_TRUE(csv_.flushPendingRows());
      EXPECT_EQ(readFile(results_), kHeader + waiting);
    }
    session();
    csv_.addToCsv(tool_);
    EXPECT_EQ(readFile(results_), kHeader + waiting + row(3, k + 2));
    EXPECT_EQ(pending(), "<none>");
    EXPECT_TRUE(alerts_->shown.empty());
  }
}

}  // namespace
}  // namespace quorin
