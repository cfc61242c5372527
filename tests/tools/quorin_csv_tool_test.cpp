// quorin-csv through its process interface: arguments, standard input, output, exit status.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "temp_folder.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Args = std::vector<std::string>;
using quorin::test::readFile;
using quorin::test::TempFolder;

struct Result {
  int status = -1;  // exit status; -1 when the tool did not exit normally
  std::string out, err;
};

std::string readAll(FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// Runs the built tool with `args`, feeding `input` to its standard input through a pipe (so the
// tool sees a stream, not a file) from a thread of its own, while its outputs go to files.
Result runTool(Args args, const std::string& input = "") {
  int in[2];
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (pipe2(in, O_CLOEXEC) != 0 || !out || !err) throw std::runtime_error("pipe or file failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  args.insert(args.begin(), QUORIN_CSV_TOOL);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // A tool that exits without reading makes the feeder's write fail (EPIPE) rather than kill the
  // test (the signal goes to the process, not to the writing thread); the tool keeps the default.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, QUORIN_CSV_TOOL, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  if (spawned != 0) throw std::runtime_error(std::string("spawn failed: ") + strerror(spawned));
  // A tool that exits before reading all of its input must not take the test down with SIGPIPE.
  static const bool ignored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)ignored;
  std::thread feeder([&] {
    for (std::size_t at = 0; at < input.size();) {
      const ssize_t n = write(in[1], input.data() + at, input.size() - at);
      if (n <= 0) break;  // the tool stopped reading
      at += static_cast<std::size_t>(n);
    }
    close(in[1]);
  });
  int status = 0;
  waitpid(pid, &status, 0);
  feeder.join();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out), readAll(err)};
}

// Event lines written as "a|b|c".
std::string lines(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\n');
  return text + "\n";
}

// ---- usage ----

TEST(ToolUsageTest, MistakesExitWithTwoAndSayWhat) {
  TempFolder folder;
  const std::pair<Args, std::string> cases[] = {
      {{}, "no command given\n"},
      {{"parse"}, "unknown command 'parse'\n"},
      {{"events", "--bogus"}, "unknown option '--bogus' for events\n"},
      {{"write", "--encoding", "4"}, "unknown option '--encoding' for write\n"},
      {{"count", "--delimiter"}, "--delimiter needs a value\n"},
      {{"rows", "a.csv", "b.csv"}, "more than one input file given\n"},
      {{"write", "--atomic"}, "--atomic needs -o FILE\n"},
      {{"events", "--encoding", "latin9"}, "unknown encoding 'latin9'"},
      {{"events", "--encoding", "0x1FFFFFFFF"}, "unknown encoding '0x1FFFFFFFF'"},
  };
  EXPECT_EQ(runTool({"write", "--help"}).status, 0);
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    const Result r = runTool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, StartsWith("quorin-csv: " + message));
    EXPECT_THAT(r.err, HasSubstr("Try 'quorin-csv --help'."));
    EXPECT_EQ(r.out, "");
  }
  // A refused delimiter prints the library's message, before any file is read or written.
  const std::pair<Args, std::string> refused[] = {
      {{"events", "--delimiter", "#", folder / "missing.csv"}, "#"},
      {{"rows", "--delimiter", "#"}, "#"},
      {{"count", "--delimiter", "#"}, "#"},
      {{"write", "--delimiter=ab", "-o", folder / "out.csv"}, "ab"},
  };
  for (const auto& [args, delimiter] : refused) {
    const Result r = runTool(args, "[[\"a\"]]");
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err, "quorin-csv: " + delimiter + " cannot be used as a delimiter\n");
  }
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

TEST(ToolEventsTest, PrintsEveryDelegateCallInOrderFromAStreamOrAFile) {
  struct Case {
    const char* name;
    std::string input, events;
    int status = 0;
    Args options = {};
  };
  // The dialect itself is the tokenizer tests'; here how the calls are printed.
  const Case cases[] = {
      {"two lines", "a,b\nc,d\n",
       lines("startDocument|startLine 1|field \"a\"|field \"b\"|endLine 1|startLine 2|field "
             "\"c\"|field \"d\"|endLine 2|endDocument")},
      {"quoted line break, doubled quote, escape", "\"a\nb\",\"say \"\"hi\"\"\",c\\,d\n",
       lines("startDocument|startLine 1|field \"a\\nb\"|field \"say \\\"hi\\\"\"|field "
             "\"c,d\"|endLine 1|endDocument")},
      {"other delimiter",
       "a;b,c\n",
       lines("startDocument|startLine 1|field \"a\"|field \"b,c\"|endLine 1|endDocument"),
       0,
       {"--delimiter", ";"}},
      {"character after a closing quote", "\"abc\"d\n",
       lines("startDocument|startLine 1|field \"abc\"|endLine 1|fail 2 \"Invalid CSV format on "
             "line #1 immediately after \\\"\\\"abc\\\"\\\"\""),
       1},
      {"non-ASCII text",
       "caf\xC3\xA9,\xE6\x97\xA5\n",
       lines("startDocument|startLine 1|field \"caf\xC3\xA9\"|field \"\xE6\x97\xA5\"|endLine "
             "1|endDocument"),
       0,
       {"--encoding", "utf-8"}},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Args args = {"events"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    // From standard input (with and without "-") and from a file: all alike.
    for (const char* source : {"", "-", "file"}) {
      if (*source) args.push_back(*source == '-' ? "-" : folder.write("in.csv", c.input));
      const Result r = runTool(args, *source == 'f' ? "" : c.input);
      EXPECT_EQ(r.out, c.events) << source;
      EXPECT_EQ(r.status, c.status);
      // Nothing but, for input without a byte-order mark and no --encoding, the detector's note.
      EXPECT_THAT(r.err, ::testing::AnyOf("", kAssumedUTF8));
      if (*source) args.pop_back();
    }
  }
}

TEST(ToolEventsTest, EncodingByNumberOrName) {
  const std::string expected =
      lines("startDocument|startLine 1|field \"a\"|field \"\xC3\xA9\"|endLine 1|endDocument");
  const std::pair<const char*, std::string> cases[] = {
      {"0x94000100", std::string("a\0,\0\xE9\0\n\0", 8)},
      {"2483028224", std::string("a\0,\0\xE9\0\n\0", 8)},
      {"UTF-16LE", std::string("a\0,\0\xE9\0\n\0", 8)},
      {"30", "a,\x8E\n"},  // Mac OS Roman by code and by name: 0x8E is e with acute accent
      {"macroman", "a,\x8E\n"},
  };
  for (const auto& [encoding, input] : cases) {
    SCOPED_TRACE(encoding);
    const Result r = runTool({"events", std::string("--encoding=") + encoding}, input);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0);
  }
}

// ---- rows and count ----

TEST(ToolRowsTest, PrintsTheDocumentAsJSONOrItsCounts) {
  const std::pair<Args, std::string> cases[] = {
      {{"rows"}, "[[\"a\",\"b\"],[\"c,\\\"d\\\"\"],[\"\xE6\x97\xA5\\\\\"]]\n"},
      {{"rows", "--delimiter", "\t"}, "[[\"a,b\",\"c\"]]\n"},
      {{"count"}, "3 4\n"},
      {{"count", "--delimiter", ";"}, "3 3\n"},
  };
  const std::string input = "a,b\n\"c,\"\"d\"\"\"\n#x;y\n\xE6\x97\xA5\\\\\n";
  for (const auto& [args, out] : cases) {
    const Result r = runTool(args, args.back() == "\t" ? "a,b\tc\n" : input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, out);
  }
  EXPECT_EQ(runTool({"rows"}, "").out, "[]\n");
  EXPECT_EQ(runTool({"count"}, "").out, "0 0\n");
}

TEST(ToolRowsTest, FailuresGoToStandardErrorWithTheirCode) {
  TempFolder folder;
  const std::pair<Args, std::string> cases[] = {
      {{"rows", "--encoding", "utf-8"},
       "error 2: Invalid CSV format on line #3 immediately after \"\"abc\"\""},
      {{"events", folder / "missing.csv"}, "error 1: Unable to open file for reading"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args[0]);
    const Result r = runTool(args, "a,b\nc,d\n\"abc\"d\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quorin-csv: " + message + "\n");
  }
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

TEST(ToolWriteTest, WritesJSONRowsAsCSVToStandardOutputOrAFile) {
  Result r = runTool({"write"}, R"([["a", "b,c"], ["x"], [], [1, -3, 2.5, true, false, "#h"]])");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "a,\"b,c\"\nx\n\n1,-3,2.5,1,0,\"#h\"\n");
  EXPECT_EQ(runTool({"write", "--delimiter", ";"}, R"([["a;b", "c,d"]])").out, "\"a;b\";c,d\n");
  r = runTool({"write"}, "[]");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  TempFolder folder;
  for (const bool atomic : {false, true}) {
    const std::string path = folder.write("out.csv", "old\n");
    Args args = {"write", "-o", path};
    if (atomic) args.push_back("--atomic");
    r = runTool(args, R"([["a", "b\nc"]])");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(path), "a,\"b\nc\"\n");
  }
  // What is written reads back the same.
  const std::string json = R"([["a","b,c","say \"hi\"","back\\slash","#x"],["line\nbreak"]])";
  ASSERT_EQ(runTool({"write", "-o", folder / "doc.csv"}, json).status, 0);
  EXPECT_EQ(runTool({"rows", folder / "doc.csv"}).out, json + "\n");
}

std::string repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ToolWriteTest, BadInputAndWriteFailuresExitWithOneAndLeaveTheFileAlone) {
  TempFolder folder;
  const std::string path = folder.write("out.csv", "keep,me\n");
  const std::tuple<Args, std::string, std::string> cases[] = {
      {{"write"}, R"([["a"], "b", ["c"]])", "quorin-csv: error 2: Invalid array structure\n"},
      {{"write", "-o", path},
       R"([["a"], "b", ["c"]])",
       "quorin-csv: error 2: Invalid array structure\n"},
      {{"write", "-o", path, "--atomic"}, "[[\"a\"", "quorin-csv: the input is not JSON:"},
      // A non-row nested deeper than any stack could serialise is refused like any other.
      {{"write", "-o", path},
       "[" + repeated("{\"a\":", 200000) + "1" + std::string(200000, '}') + "]",
       "quorin-csv: error 2: Invalid array structure\n"},
      {{"write"}, R"({"a": 1})", "quorin-csv: the input must be a JSON array of rows\n"},
      {{"write"},
       R"([["a", null]])",
       "quorin-csv: row 1, field 2: a field must be a string, a number or a boolean, not null\n"},
      {{"write", "-o", folder / "none/out.csv"},
       R"([["a"]])",
       "quorin-csv: error " + std::to_string(ENOENT) + ": "},
  };
  for (const auto& [args, input, message] : cases) {
    SCOPED_TRACE(input);
    const Result r = runTool(args, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, StartsWith(message));
  }
  EXPECT_EQ(readFile(path), "keep,me\n");
  EXPECT_THAT(runTool({"write", "-o", folder / "none/out.csv"}, "[]").err,
              HasSubstr(strerror(ENOENT)));
  if (access("/dev/full", W_OK) == 0) {
    const Result r = runTool({"write", "-o", "/dev/full"}, R"([["a"]])");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(strerror(ENOSPC)));
  }
}

}  // namespace
