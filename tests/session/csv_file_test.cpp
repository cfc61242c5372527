#include "session/csv_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "session/sqlite_settings_store.hpp"
#include "session/tool.hpp"
#include "session_test_support.hpp"

namespace quorin {
namespace {

using testing::DiagnosticCapture;
using testing::RecordingAlerts;
using testing::ShownAlert;
using testing::TempFolder;

constexpr const char* kHeader = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8\n";
const ShownAlert kWriteAlert{"Error", "Could not write to csv file!"};

std::string diagnosticLine(const std::string& path, const std::string& error) {
  return "Error: Could not write to csv file:\n\tPath : " + path + "\n\tError: " + error;
}

// The row numbers of the data rows of a results file, in file order.
std::vector<long> rowNumbers(const std::string& contents) {
  std::vector<long> numbers;
  std::size_t start = contents.find('\n');  // skip the header
  while (start != std::string::npos && start + 1 < contents.size()) {
    numbers.push_back(std::stol(contents.substr(start + 1)));
    start = contents.find('\n', start + 1);
  }
  return numbers;
}

bool hasTemporaryFiles(const std::string& folder) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    if (entry.path().filename().string().rfind(".results.csv.", 0) == 0) return true;
  }
  return false;
}

class CSVFileTest : public ::testing::Test {
 protected:
  // The worked example: started 2013-04-02 14:05:09 UTC, answers 3 2 1 0 2 2 0 1, no help.
  void exampleSession() {
    tool_.restart();
    const int answers[] = {3, 2, 1, 0, 2, 2, 0, 1};
    for (int question = 1; question <= 8; ++question)
      tool_.setAnswer(answers[question - 1], question);
  }
  std::optional<SettingValue> pending() const { return store_->valueForKey("qn_pending_rows"); }

  TempFolder folder_;
  std::string documents_ = folder_ / "Documents";
  std::string results_ = documents_ + "/results.csv";
  std::shared_ptr<SettingsStore> store_ = SqliteSettingsStore::open(folder_ / "settings.sqlite3");
  Date now_ = testing::exampleDate(std::chrono::milliseconds{700});
  Tool tool_{store_, [this] { return now_; }};
  std::shared_ptr<RecordingAlerts> alerts_ = std::make_shared<RecordingAlerts>();
  CSVFile log_{store_, documents_, alerts_};
  DiagnosticCapture diagnostics_;
};

TEST_F(CSVFileTest, CreatingTheLogTouchesNeitherTheFileNorTheStore) {
  EXPECT_EQ(log_.filePath(), results_);
  EXPECT_FALSE(std::filesystem::exists(documents_));
  EXPECT_EQ(store_->valueForKey("qn_csv_row_count"), std::nullopt);
  EXPECT_EQ(log_.rowCount(), 0);
}

TEST_F(CSVFileTest, TheFileUrlIsPercentEncoded) {
  CSVFile log(store_, "/home/kiosk/My Documents/Ärzte#1", alerts_);
  EXPECT_EQ(log.filePath(), "/home/kiosk/My Documents/Ärzte#1/results.csv");
  EXPECT_EQ(log.fileUrl(), "file:///home/kiosk/My%20Documents/%C3%84rzte%231/results.csv");
}

TEST_F(CSVFileTest, TheFirstAppendWritesTheHeaderAndRowOne) {
  exampleSession();
  log_.addToCsv(tool_);
  EXPECT_EQ(testing::readFile(results_),
            std::string(kHeader) + "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(store_->valueForKey("qn_csv_row_count"), SettingValue(std::int64_t{1}));
  EXPECT_EQ(log_.rowCount(), 1);
  // Nothing changes for a file that works: no pending rows, no alert, no log line.
  EXPECT_EQ(pending(), std::nullopt);
  EXPECT_TRUE(alerts_->shown.empty());
  EXPECT_TRUE(diagnostics_.lines().empty());
  EXPECT_FALSE(hasTemporaryFiles(documents_));
}

TEST_F(CSVFileTest, ASecondAppendAddsRowTwoAndNoSecondHeader) {
  exampleSession();
  log_.addToCsv(tool_);
  tool_.restart();
  for (int question = 1; question <= 8; ++question) tool_.setAnswer(3, question);
  tool_.setHelpWanted(true);
  log_.addToCsv(tool_);
  EXPECT_EQ(testing::readFile(results_), std::string(kHeader) +
                                             "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n"
                                             "2,2013-04-02 14:05:09 +0000,8,Y,3,3,3,3,3,3,3,3\n");
  EXPECT_EQ(log_.rowCount(), 2);
}

TEST_F(CSVFileTest, AMissingFileIsStartedAgainAndTheCounterGoesOn) {
  log_.setRowCount(5);
  EXPECT_EQ(store_->valueForKey("qn_csv_row_count"), SettingValue(std::int64_t{5}));
  exampleSession();
  log_.addToCsv(tool_);
  EXPECT_EQ(testing::readFile(results_),
            std::string(kHeader) + "6,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(log_.rowCount(), 6);
}

TEST_F(CSVFileTest, RowsHoldEachColumnAsTheModelGivesIt) {
  struct Case {
    const char* name;
    std::vector<int> answers;  // -1: unanswered
    std::optional<bool> help;  // nullopt: never answered (key removed)
    std::string row;           // without the row number and the date
  };
  const Case cases[] = {
      {"help never answered", {3, 2, 1, 0, 2, 2, 0, 1}, std::nullopt, "4,N,3,2,1,0,2,2,0,1"},
      {"help wanted", {3, 2, 1, 0, 2, 2, 0, 1}, true, "4,Y,3,2,1,0,2,2,0,1"},
      {"score 0", {0, 1, 0, 1, 0, 1, 0, 1}, false, "0,N,0,1,0,1,0,1,0,1"},
      {"unanswered questions are empty fields",
       {-1, 3, -1, -1, -1, -1, -1, 2},
       false,
       "2,N,,3,,,,,,2"},
  };
  long long number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool_.restart();
    for (int question = 1; question <= 8; ++question) {
      tool_.setAnswer(c.answers[static_cast<std::size_t>(question - 1)], question);
    }
    if (c.help) {
      tool_.setHelpWanted(*c.help);
    } else {
      store_->removeValueForKey("qn_help_wanted");
    }
    EXPECT_EQ(log_.toolToCsvRow(tool_),
              std::to_string(++number) + ",2013-04-02 14:05:09 +0000," + c.row + "\n");
  }
}

TEST_F(CSVFileTest, BuildingARowAloneAdvancesTheCounterAndWritesNothing) {
  exampleSession();
  EXPECT_EQ(log_.toolToCsvRow(tool_), "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(log_.rowCount(), 1);
  EXPECT_EQ(log_.toolToCsvRow(tool_), "2,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(log_.rowCount(), 2);
  EXPECT_FALSE(std::filesystem::exists(documents_));
}

// Every session starts with a restart, which sets the date; a model without one still gets a row,
// with an empty Start Date field.
TEST_F(CSVFileTest, AModelWithoutAStartDateGetsAnEmptyDateField) {
  EXPECT_EQ(log_.toolToCsvRow(tool_), "1,,0,N,,,,,,,,\n");
}

TEST_F(CSVFileTest, TheHeaderIsWrittenAloneAndNeverOverAnExistingFile) {
  log_.initCsvFile();
  EXPECT_EQ(testing::readFile(results_), kHeader);
  EXPECT_FALSE(hasTemporaryFiles(documents_));

  testing::writeFile(results_, "staff notes\n");
  log_.initCsvFile();
  EXPECT_EQ(testing::readFile(results_), "staff notes\n");
  EXPECT_FALSE(hasTemporaryFiles(documents_));
  EXPECT_TRUE(alerts_->shown.empty());

  // An existing file is appended to as it is, whatever it holds.
  exampleSession();
  log_.addToCsv(tool_);
  EXPECT_EQ(testing::readFile(results_),
            "staff notes\n1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
}

TEST_F(CSVFileTest, NestedMissingDocumentsFoldersAreCreated) {
  CSVFile log(store_, folder_ / "a/b/Documents", alerts_);
  exampleSession();
  log.addToCsv(tool_);
  EXPECT_EQ(testing::readFile(log.filePath()),
            std::string(kHeader) + "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
}

// The documents folder cannot be created while a regular file stands in its way. Each failed
// append shows the alert and logs the line once; its row waits in the store; once the folder can
// be made, the waiting rows are written first, in order, under their own numbers.
TEST_F(CSVFileTest, RowsThatCannotBeWrittenWaitAndAreWrittenFirstLater) {
  testing::writeFile(documents_, "in the way");
  exampleSession();
  log_.addToCsv(tool_);

  EXPECT_EQ(alerts_->shown, std::vector<ShownAlert>{kWriteAlert});
  ASSERT_FALSE(diagnostics_.lines().empty());
  EXPECT_EQ(
      diagnostics_.lines()[0],
      diagnosticLine(results_, "could not create the folder " + documents_ + ": Not a directory"));
  const std::string row1 = "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n";
  EXPECT_EQ(pending(), SettingValue(row1));
  EXPECT_EQ(log_.rowCount(), 1);

  tool_.restart();
  for (int question = 1; question <= 8; ++question) tool_.setAnswer(0, question);
  log_.addToCsv(tool_);
  const std::string row2 = "2,2013-04-02 14:05:09 +0000,0,N,0,0,0,0,0,0,0,0\n";
  EXPECT_EQ(alerts_->shown.size(), 2u);
  EXPECT_EQ(pending(), SettingValue(row1 + row2));
  EXPECT_FALSE(log_.flushPendingRows());
  EXPECT_EQ(alerts_->shown.size(), 3u);
  EXPECT_EQ(pending(), SettingValue(row1 + row2));

  std::filesystem::remove(documents_);
  diagnostics_.clear();
  alerts_->shown.clear();
  exampleSession();
  log_.addToCsv(tool_);
  const std::string contents = testing::readFile(results_);
  EXPECT_EQ(contents, std::string(kHeader) + row1 + row2 +
                          "3,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(rowNumbers(contents), (std::vector<long>{1, 2, 3}));
  EXPECT_EQ(pending(), std::nullopt);
  EXPECT_TRUE(alerts_->shown.empty());
  EXPECT_TRUE(diagnostics_.lines().empty());
  EXPECT_TRUE(log_.flushPendingRows());
  EXPECT_EQ(testing::readFile(results_), contents);
}

// At launch the app flushes rows left by the previous run before anything else.
TEST_F(CSVFileTest, TheNextLaunchWritesPendingRows) {
  testing::writeFile(documents_, "in the way");
  exampleSession();
  log_.addToCsv(tool_);
  ASSERT_TRUE(pending().has_value());
  std::filesystem::remove(documents_);

  CSVFile relaunched(SqliteSettingsStore::open(folder_ / "settings.sqlite3"), documents_, alerts_);
  EXPECT_TRUE(relaunched.flushPendingRows());
  EXPECT_EQ(testing::readFile(results_),
            std::string(kHeader) + "1,2013-04-02 14:05:09 +0000,4,N,3,2,1,0,2,2,0,1\n");
  EXPECT_EQ(pending(), std::nullopt);
  EXPECT_EQ(alerts_->shown.size(), 1u);  // only the original failure
}

// --- Failures of a real file system, in a private mount namespace of a forked child ----------

// Collects the differences a child finds, for the parent to report. Texts are shown from a little
// before their first difference, since the files here are a page long.
struct Findings {
  std::string text;
  void expectEqual(const std::string& what, const std::string& actual,
                   const std::string& expected) {
    if (actual == expected) return;
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const std::size_t from = at > 40 ? at - 40 : 0;
    text += what + " (" + std::to_string(actual.size()) + " bytes, expected " +
            std::to_string(expected.size()) + "; first difference at " + std::to_string(at) +
            "):\n  got      [..." + actual.substr(from, 120) + "]\n  expected [..." +
            expected.substr(from, 120) + "]\n";
  }
  void expectTrue(const std::string& what, bool condition) {
    if (!condition) text += what + "\n";
  }
};

constexpr const char* kNoMounts = "cannot mount here";

// Makes this process's mounts its own, so that test mounts vanish with it.
bool privateMounts() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

std::string pendingText(const SettingsStore& store) {
  const std::optional<SettingValue> value = store.valueForKey("qn_pending_rows");
  if (!value) return "<none>";
  const auto* text = std::get_if<std::string>(&*value);
  return text != nullptr ? *text : "<not text>";
}

std::string exampleRow(long number, const std::string& answers = "4,N,3,2,1,0,2,2,0,1") {
  return std::to_string(number) + ",2013-04-02 14:05:09 +0000," + answers + "\n";
}

void answerExample(Tool& tool) {
  tool.restart();
  const int answers[] = {3, 2, 1, 0, 2, 2, 0, 1};
  for (int question = 1; question <= 8; ++question) tool.setAnswer(answers[question - 1], question);
}

TEST(CSVFileFileSystemTest, AReadOnlyFolderKeepsTheRowUntilItIsWritable) {
  TempFolder folder;
  const std::string documents = folder / "Documents";
  const std::string results = documents + "/results.csv";
  const std::string report = testing::runInChild([&]() -> std::string {
    if (!privateMounts()) return kNoMounts;
    Findings findings;
    DiagnosticCapture diagnostics;
    std::shared_ptr<SettingsStore> store = SqliteSettingsStore::open(folder / "settings.sqlite3");
    auto alerts = std::make_shared<RecordingAlerts>();
    Tool tool(store, [] { return testing::exampleDate(); });
    CSVFile log(store, documents, alerts);
    answerExample(tool);
    log.addToCsv(tool);
    const std::string before = testing::readFile(results);

    if (::mount(documents.c_str(), documents.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, documents.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
            0) {
      return kNoMounts;
    }
    log.addToCsv(tool);
    findings.expectEqual("file after the failed append", testing::readFile(results), before);
    findings.expectTrue("one alert", alerts->shown == std::vector<ShownAlert>{kWriteAlert});
    findings.expectTrue("a diagnostic line", !diagnostics.lines().empty());
    if (!diagnostics.lines().empty()) {
      findings.expectEqual("diagnostic line", diagnostics.lines()[0],
                           diagnosticLine(results, "opening the file: Read-only file system"));
    }
    findings.expectEqual("pending after the failure", pendingText(*store), exampleRow(2));

    ::umount(documents.c_str());
    findings.expectTrue("flush succeeds", log.flushPendingRows());
    findings.expectEqual("file after the flush", testing::readFile(results),
                         std::string(kHeader) + exampleRow(1) + exampleRow(2));
    findings.expectEqual("pending after the flush", pendingText(*store), "<none>");
    return findings.text;
  });
  if (report == kNoMounts) GTEST_SKIP() << "this machine does not allow private mounts";
  EXPECT_EQ(report, "");
}

// A disk that fills in the middle of a row: the part that was written is cut off again, and the
// row is written whole, after the ones before it, once there is room.
TEST(CSVFileFileSystemTest, AFullDiskLeavesNoHalfRowAndLosesNoRow) {
  TempFolder folder;
  const std::string documents = folder / "Documents";
  const std::string results = documents + "/results.csv";
  std::filesystem::create_directories(documents);
  const std::string report = testing::runInChild([&]() -> std::string {
    if (!privateMounts() ||
        ::mount("tmpfs", documents.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
      return kNoMounts;
    }
    Findings findings;
    DiagnosticCapture diagnostics;
    std::shared_ptr<SettingsStore> store = SqliteSettingsStore::open(folder / "settings.sqlite3");
    auto alerts = std::make_shared<RecordingAlerts>();
    Tool tool(store, [] { return testing::exampleDate(); });

    // A results file that ends 10 bytes before a page boundary, then a disk with no page left:
    // the next row's first 10 bytes fit, the rest does not.
    const std::string filler(4096 - 10 - std::string(kHeader).size() - 1, 'x');
    const std::string before = std::string(kHeader) + filler + "\n";
    testing::writeFile(results, before);
    {
      const int fd = ::open((documents + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
      const std::string block(4096, 'f');
      while (::write(fd, block.data(), block.size()) > 0) {
      }
      ::close(fd);
    }

    {
      CSVFile log(store, documents, alerts);
      answerExample(tool);
      log.addToCsv(tool);
      findings.expectEqual("file after the failed append", testing::readFile(results), before);
      findings.expectTrue("one alert", alerts->shown == std::vector<ShownAlert>{kWriteAlert});
      if (!diagnostics.lines().empty()) {
        findings.expectEqual("diagnostic line", diagnostics.lines()[0],
                             diagnosticLine(results, "writing the row: No space left on device"));
      } else {
        findings.expectTrue("a diagnostic line", false);
      }
      findings.expectEqual("pending after the failure", pendingText(*store), exampleRow(1));

      tool.restart();
      for (int question = 1; question <= 8; ++question) tool.setAnswer(2, question);
      log.addToCsv(tool);
      findings.expectEqual("file after the second failure", testing::readFile(results), before);
      findings.expectEqual("pending after the second failure", pendingText(*store),
                           exampleRow(1) + exampleRow(2, "8,N,2,2,2,2,2,2,2,2"));
    }

    // The next launch, with room on the disk again.
    std::filesystem::remove(documents + "/filler");
    store.reset();
    store = SqliteSettingsStore::open(folder / "settings.sqlite3");
    CSVFile relaunched(store, documents, alerts);
    findings.expectTrue("flush at launch succeeds", relaunched.flushPendingRows());
    tool = Tool(store, [] { return testing::exampleDate(); });
    answerExample(tool);
    relaunched.addToCsv(tool);
    const std::string after = testing::readFile(results);
    findings.expectEqual(
        "file after recovery", after,
        before + exampleRow(1) + exampleRow(2, "8,N,2,2,2,2,2,2,2,2") + exampleRow(3));
    findings.expectEqual("pending after recovery", pendingText(*store), "<none>");
    findings.expectEqual("alerts", std::to_string(alerts->shown.size()), "2");
    return findings.text;
  });
  if (report == kNoMounts) GTEST_SKIP() << "this machine does not allow mounting a tmpfs";
  EXPECT_EQ(report, "");
}

}  // namespace
}  // namespace quorin
