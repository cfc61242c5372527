// quorin-csv through its process interface: arguments, standard input, output, exit status.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Result {
  int status = -1;  // exit status; -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

// Runs the built tool with `args`, feeding `input` to its standard input through a pipe (so the
// tool sees a stream, not a file) while collecting both of its outputs.
Result runTool(const std::vector<std::string>& args, const std::string& input = "") {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> argvText = {QUORIN_CSV_TOOL};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, QUORIN_CSV_TOOL, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) throw std::runtime_error(std::string("spawn failed: ") + strerror(spawned));

  Result result;
  std::size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  } else {
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  bool outOpen = true;
  bool errOpen = true;
  char buffer[65536];
  while (outOpen || errOpen) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, inFd >= 0 ? 3 : 2, 10000) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
    if (inFd >= 0 && fds[2].revents != 0) {
      const ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string lines(std::initializer_list<const char*> items) {
  std::string text;
  for (const char* item : items) text += std::string(item) + "\n";
  return text;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quorin_csv_tool_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const char* name) const { return (path_ / name).string(); }
  std::string write(const char* name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return *this / name;
  }

 private:
  fs::path path_;
};

// ---- usage ----

TEST(ToolUsageTest, HelpDescribesEveryCommandAndOption) {
  const Result r = runTool({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"events", "rows", "count", "write", "--delimiter", "--encoding",
                           "--atomic", "-o", "utf-16le", "macroman", "0x90000100"}) {
    EXPECT_THAT(r.out, HasSubstr(word));
  }
  EXPECT_EQ(runTool({"write", "-h"}).status, 0);
}

TEST(ToolUsageTest, MistakesExitWithTwoAndSayWhat) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "quorin-csv: no command given\n"},
      {{"parse"}, "quorin-csv: unknown command 'parse'\n"},
      {{"events", "--bogus"}, "quorin-csv: unknown option '--bogus' for events\n"},
      {{"write", "--encoding", "4"}, "quorin-csv: unknown option '--encoding' for write\n"},
      {{"count", "--delimiter"}, "quorin-csv: --delimiter needs a value\n"},
      {{"rows", "a.csv", "b.csv"}, "quorin-csv: more than one input file given\n"},
      {{"write", "--atomic"}, "quorin-csv: --atomic needs -o FILE\n"},
      {{"events", "--encoding", "latin9"}, "quorin-csv: unknown encoding 'latin9'"},
      {{"events", "--encoding", "0x1FFFFFFFF"}, "quorin-csv: unknown encoding '0x1FFFFFFFF'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Result r = runTool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, StartsWith(c.message));
    EXPECT_THAT(r.err, HasSubstr("Try 'quorin-csv --help'."));
    EXPECT_EQ(r.out, "");
  }
}

TEST(ToolUsageTest, RefusedDelimiterPrintsTheLibrarysMessage) {
  TempFolder folder;
  for (const char* command : {"events", "rows", "count"}) {
    const Result r = runTool({command, "--delimiter", "#", folder / "missing.csv"}, "a\n");
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_EQ(r.err, "quorin-csv: # cannot be used as a delimiter\n");
  }
  const Result r = runTool({"write", "--delimiter=ab", "-o", folder / "out.csv"}, "[[\"a\"]]");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quorin-csv: ab cannot be used as a delimiter\n");
  EXPECT_FALSE(fs::exists(folder / "out.csv"));
}

// ---- events ----

constexpr const char* kAssumedUTF8 =
    "quorin-csv: note: unable to determine file encoding; assuming UTF8\n";

TEST(ToolEventsTest, DetectionWithoutAMarkLeavesANote) {
  EXPECT_EQ(runTool({"count"}, "a,b\n").err, kAssumedUTF8);
  EXPECT_EQ(runTool({"count"}, "a,\x8E\n").err,
            "quorin-csv: note: unable to determine file encoding; assuming MacOSRoman\n");
  EXPECT_EQ(runTool({"count"},
                    "\xEF\xBB\xBF"
                    "a,b\n")
                .err,
            "");
  EXPECT_EQ(runTool({"count", "--encoding", "4"}, "a,b\n").err, "");
}

struct EventCase {
  const char* name;
  std::string input;
  std::vector<std::string> options;
  std::string events;
  int status;
};

TEST(ToolEventsTest, PrintsEveryDelegateCallInOrder) {
  const EventCase cases[] = {
      {"two lines",
       "a,b\nc,d\n",
       {},
       lines({"startDocument", "startLine 1", "field \"a\"", "field \"b\"", "endLine 1",
              "startLine 2", "field \"c\"", "field \"d\"", "endLine 2", "endDocument"}),
       0},
      {"empty input", "", {}, lines({"startDocument", "endDocument"}), 0},
      {"comment and blank line",
       "#note\na\n\nb\n",
       {},
       lines({"startDocument", "startLine 1", "field \"a\"", "endLine 1", "startLine 2",
              "field \"b\"", "endLine 2", "endDocument"}),
       0},
      {"trailing delimiter",
       "a,",
       {},
       lines({"startDocument", "startLine 1", "field \"a\"", "endLine 1", "endDocument"}),
       0},
      {"quoted line break, doubled quote, escape",
       "\"a\nb\",\"say \"\"hi\"\"\",c\\,d\n",
       {},
       lines({"startDocument", "startLine 1", "field \"a\\nb\"", "field \"say \\\"hi\\\"\"",
              "field \"c,d\"", "endLine 1", "endDocument"}),
       0},
      {"other delimiter",
       "a;b,c\n",
       {"--delimiter", ";"},
       lines({"startDocument", "startLine 1", "field \"a\"", "field \"b,c\"", "endLine 1",
              "endDocument"}),
       0},
      {"character after a closing quote",
       "\"abc\"d\n",
       {},
       lines({"startDocument", "startLine 1", "field \"abc\"", "endLine 1",
              "fail 2 \"Invalid CSV format on line #1 immediately after \\\"\\\"abc\\\"\\\"\""}),
       1},
      {"non-ASCII text",
       "caf\xC3\xA9,\xE6\x97\xA5\n",
       {"--encoding", "utf-8"},
       lines({"startDocument", "startLine 1", "field \"caf\xC3\xA9\"", "field \"\xE6\x97\xA5\"",
              "endLine 1", "endDocument"}),
       0},
  };
  TempFolder folder;
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    // From standard input (with and without "-") and from a file: all alike.
    std::vector<std::string> args = {"events"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Result r = runTool(args, c.input);
    EXPECT_EQ(r.out, c.events);
    EXPECT_EQ(r.status, c.status);
    // Nothing but, for input without a byte-order mark and no --encoding, the detector's note.
    EXPECT_THAT(r.err, ::testing::AnyOf("", kAssumedUTF8));
    args.push_back("-");
    EXPECT_EQ(runTool(args, c.input).out, c.events);
    args.back() = folder.write("in.csv", c.input);
    r = runTool(args);
    EXPECT_EQ(r.out, c.events);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(ToolEventsTest, UnopenableFileIsAFailure) {
  TempFolder folder;
  const Result r = runTool({"events", folder / "missing.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "quorin-csv: error 1: Unable to open file for reading\n");
}

TEST(ToolEventsTest, EncodingByNumberOrName) {
  const std::string utf16le("a\0,\0\xE9\0\n\0", 8);
  const std::string expected = lines({"startDocument", "startLine 1", "field \"a\"",
                                      "field \"\xC3\xA9\"", "endLine 1", "endDocument"});
  for (const char* encoding : {"0x94000100", "0X94000100", "2483028224", "utf-16le", "UTF-16LE"}) {
    SCOPED_TRACE(encoding);
    const Result r = runTool({"events", "--encoding", encoding}, utf16le);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0);
  }
  // Mac OS Roman by code and by name: 0x8E is e with acute accent.
  EXPECT_EQ(runTool({"events", "--encoding=30"}, "a,\x8E\n").out, expected);
  EXPECT_EQ(runTool({"events", "--encoding", "macroman"}, "a,\x8E\n").out, expected);
}

// ---- rows ----

TEST(ToolRowsTest, PrintsTheDocumentAsJSON) {
  Result r = runTool({"rows"}, "a,b\n\"c,\"\"d\"\"\"\n\xE6\x97\xA5\\\\\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[[\"a\",\"b\"],[\"c,\\\"d\\\"\"],[\"\xE6\x97\xA5\\\\\"]]\n");
  EXPECT_EQ(runTool({"rows"}, "").out, "[]\n");
  EXPECT_EQ(runTool({"rows", "--delimiter", "\t"}, "a\tb,c\n").out, "[[\"a\",\"b,c\"]]\n");
}

TEST(ToolRowsTest, FailuresGoToStandardErrorWithTheirCode) {
  TempFolder folder;
  Result r = runTool({"rows", "--encoding", "utf-8"}, "a,b\nc,d\n\"abc\"d\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "quorin-csv: error 2: Invalid CSV format on line #3 immediately after \"\"abc\"\"\n");
  r = runTool({"rows", folder / "missing.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "quorin-csv: error 1: Unable to open file for reading\n");
}

// ---- count ----

TEST(ToolCountTest, CountsLinesAndFields) {
  EXPECT_EQ(runTool({"count"}, "a,b\nc\n").out, "2 3\n");
  EXPECT_EQ(runTool({"count"}, "").out, "0 0\n");
  EXPECT_EQ(runTool({"count", "--delimiter", ";"}, "a;b,c\n#x,y\n\"1;2\";3\n").out, "2 4\n");
  const Result r = runTool({"count", "--encoding", "utf-8"}, "\"abc\"d\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, StartsWith("quorin-csv: error 2: Invalid CSV format on line #1"));
}

TEST(ToolCountTest, ReadsALargeStreamPieceByPiece) {
  // Far more than a pipe holds, so the tool must read while the test still writes.
  std::string input;
  for (int i = 0; i < 100000; ++i) input += "field" + std::to_string(i) + ",\"q,\"\"x\"\"\",z\n";
  const Result r = runTool({"count", "-"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "100000 300000\n");
}

// ---- write ----

TEST(ToolWriteTest, WritesJSONRowsAsCSV) {
  Result r = runTool({"write"}, R"([["a", "b,c"], ["x"], [], [1, -3, 2.5, true, false, "#h"]])");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "a,\"b,c\"\nx\n\n1,-3,2.5,1,0,\"#h\"\n");
  EXPECT_EQ(runTool({"write", "--delimiter", ";"}, R"([["a;b", "c,d"]])").out, "\"a;b\";c,d\n");
  r = runTool({"write"}, "[]");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(ToolWriteTest, WritesAFileAtomicallyOrNot) {
  TempFolder folder;
  for (const bool atomic : {false, true}) {
    const std::string path = folder.write("out.csv", "old\n");
    std::vector<std::string> args = {"write", "-o", path};
    if (atomic) args.push_back("--atomic");
    const Result r = runTool(args, R"([["a", "b\nc"]])");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(path), "a,\"b\nc\"\n");
  }
}

TEST(ToolWriteTest, RowThatIsNoArrayFailsAndLeavesTheFileAlone) {
  TempFolder folder;
  const std::string path = folder.write("out.csv", "keep,me\n");
  for (const bool toFile : {false, true}) {
    std::vector<std::string> args = {"write"};
    if (toFile) args.insert(args.end(), {"-o", path});
    const Result r = runTool(args, R"([["a"], "b", ["c"]])");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quorin-csv: error 2: Invalid array structure\n");
  }
  EXPECT_EQ(readFile(path), "keep,me\n");
}

TEST(ToolWriteTest, BadInputAndWriteFailuresExitWithOne) {
  TempFolder folder;
  Result r = runTool({"write"}, "[[\"a\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quorin-csv: the input is not JSON:"));
  r = runTool({"write"}, R"({"a": 1})");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorin-csv: the input must be a JSON array of rows\n");
  r = runTool({"write"}, R"([["a", null]])");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorin-csv: row 1, field 2: a field must be a string, a number or a boolean, not "
            "null\n");
  r = runTool({"write", "-o", folder / "none/out.csv"}, R"([["a"]])");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quorin-csv: error " + std::to_string(ENOENT) + ": "));
  EXPECT_THAT(r.err, HasSubstr(strerror(ENOENT)));
  if (access("/dev/full", W_OK) == 0) {
    r = runTool({"write", "-o", "/dev/full"}, R"([["a"]])");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(strerror(ENOSPC)));
  }
}

TEST(ToolWriteTest, WrittenRowsReadBack) {
  TempFolder folder;
  const std::string json = R"([["a","b,c","say \"hi\"","back\\slash","#x"],["line\nbreak"]])";
  ASSERT_EQ(runTool({"write", "-o", folder / "doc.csv"}, json).status, 0);
  const Result r = runTool({"rows", folder / "doc.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(json) + "\n");
}

}  // namespace
