#include "session/csv_file.hpp"

#include <sched.h>
#include <sys/mount.h>

#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::readFile;

const std::string kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
const std::vector<std::string> kOneAlert{"Error|Could not write to csv file!"};
const std::vector<int> kExample{3, 2, 1, 0, 2, 2, 0, 1};

// A row of a session started at the example date; `rest` is the worked example's by default.
std::string row(long number, const std::string& rest = "4,N,3,2,1,0,2,2,0,1") {
  return std::to_string(number) + ",2013-04-02 14:05:09 +0000," + rest + "\n";
}

std::string diagnosticLine(const std::string& path, const std::string& error) {
  return "Error: Could not write to csv file:\n\tPath : " + path + "\n\tError: " + error;
}

class CSVFileTest : public testing::KioskTest {
 protected:
  // A new session (the clock gives the example date) with these answers, -1 for none.
  void session(const std::vector<int>& answers = kExample) {
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
};

// The header is written alone, once, into a (nested) folder created for it, and never over an
// existing file, which is appended to as it is. Nothing changes for a file that works: no pending
// rows, no alert, no log line, no temporary file.
TEST_F(CSVFileTest, AppendsWriteTheHeaderOnceAndNumberTheRows) {
  EXPECT_TRUE(csv_.flushPendingRows());  // nothing waits: nothing to write
  csv_.initCsvFile();
  EXPECT_EQ(readFile(results_), kHeader);
  session();
  csv_.addToCsv(tool_);
  EXPECT_EQ(readFile(results_), kHeader + row(1));
  session({3, 3, 3, 3, 3, 3, 3, 3});
  tool_.setHelpWanted(true);
  csv_.addToCsv(tool_);
  EXPECT_EQ(readFile(results_), kHeader + row(1) + row(2, "8,Y,3,3,3,3,3,3,3,3"));
  CSVFile nested(store_, folder_ / "a/b/Documents", alerts_);
  nested.addToCsv(tool_);
  EXPECT_EQ(readFile(nested.filePath()), kHeader + row(3, "8,Y,3,3,3,3,3,3,3,3"));
  testing::writeFile(results_, "staff notes\n");
  csv_.initCsvFile();
  EXPECT_EQ(readFile(results_), "staff notes\n");
  csv_.addToCsv(tool_);
  EXPECT_EQ(readFile(results_), "staff notes\n" + row(4, "8,Y,3,3,3,3,3,3,3,3"));
  EXPECT_EQ(csv_.rowCount(), 4);
  EXPECT_EQ(pending(), "<none>");
  EXPECT_TRUE(alerts_->shown.empty() && diagnostics_.lines.empty() && !hasTemporaryFiles());
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
    c.help ? tool_.setHelpWanted(*c.help) : (void)store_->removeValueForKey("qn_help_wanted");
    EXPECT_EQ(csv_.toolToCsvRow(tool_), row(++number, c.row));
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
  EXPECT_EQ(readFile(results_), kHeader + row(8));
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
    session();
    csv_.addToCsv(tool_);
    EXPECT_EQ(alerts_->shown, kOneAlert);
    ASSERT_FALSE(diagnostics_.lines.empty());
    EXPECT_EQ(diagnostics_.lines[0],
              diagnosticLine(results_,
                             "could not create the folder " + documents_ + ": Not a directory"));
    EXPECT_EQ(pending(), row(1));
    session({0, 0, 0, 0, 0, 0, 0, 0});
    csv_.addToCsv(tool_);
    const std::string waiting = row(1) + row(2, "0,N,0,0,0,0,0,0,0,0");
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
    EXPECT_EQ(readFile(results_), kHeader + waiting + row(3));
    EXPECT_EQ(pending(), "<none>");
    EXPECT_TRUE(alerts_->shown.empty());
  }
}

// A real file system, in a private mount namespace of a forked child: a 64 KiB tmpfs that fills
// in the middle of a row (the part written is cut off again), then turns read-only; the waiting
// rows are written whole, in order, by the next launch once the folder is writable again.
TEST_F(CSVFileTest, AFullOrReadOnlyFolderLeavesNoHalfRowAndLosesNoRow) {
  // A results file that ends 10 bytes before a page boundary, then a disk with no page left:
  // the next row's first 10 bytes fit, the rest does not.
  const std::string before = kHeader + std::string(4096 - 10 - kHeader.size() - 1, 'x') + "\n";
  std::filesystem::create_directories(documents_);
  const std::string report = testing::runInChild(folder_ / "report", [&]() -> std::string {
    const auto mount = [&](const char* source, unsigned long flags) {
      return ::mount(source, documents_.c_str(), "tmpfs", flags, "size=64k") == 0;
    };
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mount("tmpfs", 0)) {
      return "no mounts";
    }
    relaunch();  // the database connection inherited from the parent stays unused here
    testing::writeFile(results_, before);
    for (std::ofstream filler(documents_ + "/filler"); filler << std::string(4096, 'f');) {
    }
    std::string seen;  // the file and the pending rows after each step
    session();
    csv_.addToCsv(tool_);
    seen += readFile(results_) + "|" + pending() + "\n";
    std::filesystem::remove(documents_ + "/filler");
    if (!mount(nullptr, MS_REMOUNT | MS_RDONLY)) return "no mounts";
    session({2, 2, 2, 2, 2, 2, 2, 2});
    csv_.addToCsv(tool_);
    seen += readFile(results_) + "|" + pending() + "\n";
    for (std::size_t i = 0; i < diagnostics_.lines.size(); i += 2) seen += diagnostics_.lines[i];
    if (!mount(nullptr, MS_REMOUNT)) return "no mounts";
    relaunch();
    seen += std::to_string(csv_.flushPendingRows()) + std::to_string(alerts_->shown.size()) + "\n";
    session();
    csv_.addToCsv(tool_);
    return seen + readFile(results_) + "|" + pending();
  });
  if (report == "no mounts") GTEST_SKIP() << "this machine does not allow mounting a tmpfs";
  const std::string waiting = row(1) + row(2, "8,N,2,2,2,2,2,2,2,2");
  EXPECT_EQ(report, before + "|" + row(1) + "\n" + before + "|" + waiting + "\n" +
                        diagnosticLine(results_, "writing the row: No space left on device") +
                        diagnosticLine(results_, "opening the file: Read-only file system") +
                        "12\n" + before + waiting + row(3) + "|<none>");
}

}  // namespace
}  // namespace quorin
