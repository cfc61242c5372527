// quorin-csv through its process interface: arguments, standard input, output, exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "temp_folder.hpp"

namespace {

using quorin::test::readFile;
using quorin::test::TempFolder;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Result {
  int status = -1;  // the tool's exit status (128 + the signal's number if one ended it)
  std::string out, err;
};

// Runs the built tool with `args`, shell words. Its standard input is a pipe that cat feeds with
// `input`, so the tool reads a stream, not a file, and a tool that stops reading only ends cat.
Result runTool(const std::string& args, const std::string& input = "") {
  const TempFolder folder;
  const std::string command = "cat " + folder.write("in", input) + " | " QUORIN_CSV_TOOL " " +
                              args + " >" + folder / "out" + " 2>" + folder / "err";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, *readFile(folder / "out"),
          *readFile(folder / "err")};
}

// The events of a document: "startDocument", the lines given as "a|b|c", and `end`.
std::string events(const std::string& body, const std::string& end = "endDocument") {
  std::string text = "startDocument|" + body + "|" + end + "|";
  std::replace(text.begin(), text.end(), '|', '\n');
  return text;
}

TEST(ToolUsageTest, MistakesExitWithTwoAndSayWhat) {
  TempFolder folder;
  const std::pair<std::string, std::string> cases[] = {
      {"", "no command given\n"},
      {"parse", "unknown command 'parse'\n"},
      {"events --bogus", "unknown option '--bogus' for events\n"},
      {"write --encoding 4", "unknown option '--encoding' for write\n"},
      {"count --delimiter", "--delimiter needs a value\n"},
      {"rows a.csv b.csv", "more than one input file given\n"},
      {"write --atomic", "--atomic needs -o FILE\n"},
      {"write --atomic -o -", "--atomic needs -o FILE; standard output cannot be replaced\n"},
      {"write -o ''", "-o needs a file name\n"},
      {"rows ''", "the input file name is empty\n"},
      {"events --encoding latin9", "unknown encoding 'latin9'"},
      {"events --encoding 0x1FFFFFFFF", "unknown encoding '0x1FFFFFFFF'"},
      {"rows --encoding 99999", "unsupported encoding '99999'\n"},
  };
  EXPECT_EQ(runTool("write --help").status, 0);
  EXPECT_EQ(runTool("write -o -h", "[]").err, "");  // a file named -h, not a request for help
  EXPECT_EQ(readFile("-h"), "");
  std::filesystem::remove("-h");
  for (const auto& [args, message] : cases) {
    const Result r = runTool(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_THAT(r.err, StartsWith("quorin-csv: " + message));
    EXPECT_EQ(r.out, "");
  }
  // A refused delimiter is named, escaped so that it shows, before any file is read or written.
  for (const auto& [args, shown] :
       {std::pair{"events --delimiter '#' " + folder / "missing.csv", "\"#\""},
        {"write --delimiter='' -o " + folder / "out.csv", "\"\""},
        {"count --delimiter '\u2028'", "\"\\u2028\""},
        {"rows --delimiter \"$(printf '\\246')\"",
         "\\xA6 (not UTF-8, which options are read as)"}}) {
    const Result r = runTool(args, "[[\"a\"]]");
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_THAT(r.err, StartsWith("quorin-csv: " + std::string(shown) +
                                  " cannot be used as a delimiter (see --delimiter in --help)\n"));
  }
  EXPECT_EQ(readFile(folder / "out.csv"), std::nullopt);
}

const std::string kNote = "quorin-csv: note: unable to determine file encoding; assuming ";

// The dialect itself is the tokenizer tests'; here how the calls are printed, from standard
// input (with and without "-") and from a file alike, the detector's note for every guess, and
// encodings by number or name (0x8E is e with acute accent in Mac OS Roman).
TEST(ToolEventsTest, PrintsEveryDelegateCallInOrder) {
  const std::string utf16 = std::string("a\0,\0\xE9\0\n\0", 8);
  const std::string e = events("startLine 1|field \"a\"|field \"\xC3\xA9\"|endLine 1");
  const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
      {"", "a,b\nc\n",
       events("startLine 1|field \"a\"|field \"b\"|endLine 1|startLine 2|field \"c\"|endLine 2"), 0,
       kNote + "UTF8\n"},
      {"", "\"a\nb\",\"say \"\"hi\"\"\",c\\,d\n",
       events("startLine 1|field \"a\\nb\"|field \"say \\\"hi\\\"\"|field \"c,d\"|endLine 1"), 0,
       kNote + "UTF8\n"},
      {"--delimiter ';'", "\uFEFFa;b,c\n",
       events("startLine 1|field \"a\"|field \"b,c\"|endLine 1"), 0, ""},
      {"--encoding utf-8", "\"abc\"d\n",
       events("startLine 1|field \"abc\"|endLine 1",
              "fail 2 \"Invalid CSV format on line #1 immediately after \\\"\\\"abc\\\"\\\"\""),
       1, "quorin-csv: error 2: Invalid CSV format on line #1 immediately after \"\"abc\"\"\n"},
      {"", "a,\x8E\n", e, 0, kNote + "MacOSRoman\n"},
      // U+FF08 begins with EF, as a mark does; a lone FE is the system's (here Latin 1).
      {"", "\xEF\xBC\x88,\xC3\xA9\n",
       events("startLine 1|field \"\xEF\xBC\x88\"|field \"\xC3\xA9\"|endLine 1"), 0,
       kNote + "UTF8\n"},
      {"", "\xFE,\xE9\n", events("startLine 1|field \"\xC3\xBE\"|field \"\xC3\xA9\"|endLine 1"), 0,
       kNote + "the system encoding, ISO Latin 1\n"},
      {"--encoding=0x94000100", utf16, e, 0, ""},
      {"--encoding=30", "a,\x8E\n", e, 0, ""},
      {"--encoding=macroman", "a,\x8E\n", e, 0, ""},
  };
  TempFolder folder;
  ::setenv("LC_ALL", "xx_XX.ISO-8859-1", 1);  // not installed, but it names its character set
  for (const auto& [args, input, out, status, err] : cases) {
    const std::string file = folder.write("in.csv", input);
    for (const std::string& source : {std::string(), std::string(" -"), " " + file}) {
      SCOPED_TRACE(args + source);
      const Result r = runTool("events " + args + source, source == " " + file ? "" : input);
      EXPECT_EQ(r.out, out);
      EXPECT_EQ(r.status, status);
      EXPECT_EQ(r.err, err);
    }
  }
}

TEST(ToolRowsTest, PrintsTheDocumentAsJSONOrItsCountsAndFailuresWithTheirCode) {
  TempFolder folder;
  const std::string input = "a,b\n\"c,\"\"d\"\"\"\n#x;y\n\xE6\x97\xA5\\\\\n";
  const std::string bad = "a,b\nc,d\n\"abc\"d\n";
  const std::tuple<std::string, std::string, int, std::string, std::string> cases[] = {
      {"rows", input, 0, "[[\"a\",\"b\"],[\"c,\\\"d\\\"\"],[\"\xE6\x97\xA5\\\\\"]]\n", ""},
      {"rows --delimiter '\t'", "a,b\tc\n", 0, "[[\"a,b\",\"c\"]]\n", ""},
      {"count", input, 0, "3 4\n", ""},
      {"rows", "", 0, "[]\n", ""},
      {"count", "", 0, "0 0\n", ""},
      {"rows --encoding utf-8", bad, 1, "",
       "error 2: Invalid CSV format on line #3 immediately after \"\"abc\"\"\n"},
      // What the input holds reaches the terminal as one line, a NUL and an escape escaped.
      {"rows --encoding utf-8", "1,\"a\n\x1B[31m\"x\n", 1, "",
       "error 2: Invalid CSV format on line #1 immediately after \"\"a\\n\\x1B[31m\"\"\n"},
      {"write", "[1,", 1, "", "the input is not JSON: parse error at line 1, column 4"},
      {"events " + folder / "missing.csv", bad, 1, "",
       "error 1: Unable to open file for reading (" + folder / "missing.csv" +
           ": No such file or directory)\n"},
  };
  for (const auto& [args, in, status, out, err] : cases) {
    const Result r = runTool(args, in);
    EXPECT_EQ(r.status, status) << args;
    EXPECT_EQ(r.out, out) << args;
    EXPECT_THAT(r.err, StartsWith(err.empty() ? "" : "quorin-csv: " + err)) << args;
  }
  // Far more than a pipe holds, so the tool must read while the input is still being written.
  std::string large;
  for (int i = 0; i < 100000; ++i) large += "field" + std::to_string(i) + ",\"q,\"\"x\"\"\",z\n";
  EXPECT_EQ(runTool("count -", large).out, "100000 300000\n");
}

TEST(ToolWriteTest, WritesJSONRowsAsCSVToStandardOutputOrAFile) {
  Result r = runTool("write", R"([["a", "b,c"], ["x"], [], [1, -3, 2.5, true, false, "#h"]])");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "a,\"b,c\"\nx\n\n1,-3,2.5,1,0,\"#h\"\n");
  EXPECT_EQ(runTool("write --delimiter ';' -o -", R"([["a;b", "c,d"]])").out, "\"a;b\";c,d\n");
  EXPECT_EQ(runTool("write", "[]").out, "");
  TempFolder folder;
  for (const std::string atomic : {"", " --atomic"}) {
    const std::string path = folder.write("out.csv", "old\n");
    r = runTool("write -o " + path + atomic, R"([["a", "b\nc"]])");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(path), "a,\"b\nc\"\n");
  }
  // What is written reads back the same.
  const std::string json = R"([["a","b,c","say \"hi\"","back\\slash","#x"],["line\nbreak"]])";
  ASSERT_EQ(runTool("write -o " + folder / "doc.csv", json).status, 0);
  EXPECT_EQ(runTool("rows " + folder / "doc.csv").out, json + "\n");
}

TEST(ToolWriteTest, BadInputAndWriteFailuresExitWithOneAndLeaveTheFileAlone) {
  TempFolder folder;
  const std::string path = folder.write("out.csv", "keep,me\n");
  const auto notRow = StartsWith("quorin-csv: error 2: Invalid array structure\n");
  std::string deep;  // a non-row nested deeper than any stack could serialise
  for (int i = 0; i < 200000; ++i) deep += "{\"a\":";
  const std::tuple<std::string, std::string, ::testing::Matcher<std::string>> cases[] = {
      {"write", R"([["a"], "b", ["c"]])", notRow},
      {"write -o " + path, R"([["a"], "b", ["c"]])", notRow},
      {"write --atomic -o " + path, "[[\"a\"", StartsWith("quorin-csv: the input is not JSON:")},
      {"write -o " + path, "[" + deep + "1" + std::string(200000, '}') + "]", notRow},
      {"write", R"({"a": 1})", "quorin-csv: the input must be a JSON array of rows\n"},
      {"write", "[[1e400]]",
       "quorin-csv: a number in the input is out of range: number overflow parsing '1e400'\n"},
      {"write -o " + path, "[[1, 18446744073709551616]]",  // not rounded to a double
       "quorin-csv: a number in the input is out of range: 18446744073709551616\n"},
      {"write", "[[1e-400]]", "quorin-csv: a number in the input is out of range: 1e-400\n"},
      {"write", std::string("[[\"a\"]]\0[[\"b\"]]", 15),  // a NUL is no end of the input
       "quorin-csv: the input is not JSON: a NUL byte at byte 7\n"},
      {"write", R"([["a", null]])",
       "quorin-csv: row 1, field 2: a field must be a string, a number or a boolean, not null\n"},
      {"write -o " + folder / "none/out.csv", R"([["a"]])",
       "quorin-csv: cannot create " + folder / "none/out.csv" + ": " + strerror(ENOENT) + "\n"},
  };
  for (const auto& [args, input, message] : cases) {
    const Result r = runTool(args, input);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, message) << args;
  }
  EXPECT_EQ(readFile(path), "keep,me\n");
  const auto status = [](const std::string& command) {
    const int s = std::system(command.c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  };
  EXPECT_EQ(status(QUORIN_CSV_TOOL " write < / 2>" + folder / "err"), 1);
  EXPECT_EQ(readFile(folder / "err"),
            "quorin-csv: cannot read standard input: " + std::string(strerror(EISDIR)) + "\n");
  if (access("/dev/full", W_OK) == 0) {
    // Events stop at the first output that fails, not at the end of an endless input.
    EXPECT_EQ(status("yes a,b | timeout 60 " QUORIN_CSV_TOOL " events >/dev/full 2>&-"), 1);
    const Result r = runTool("write -o /dev/full", R"([["a"]])");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(strerror(ENOSPC)));
    for (const std::string info : {" --help", " --version"}) {
      EXPECT_EQ(status(QUORIN_CSV_TOOL + info + " >/dev/full 2>&-"), 1) << info;
    }
  }
#ifdef QUORIN_FAULT_SHIM
  // A file system that answers "try again" for a regular file, which is always ready: a failure,
  // not a wait that never ends.
  EXPECT_EQ(status("echo '[[\"a\"]]' | LD_PRELOAD=" QUORIN_FAULT_SHIM " QFAULT_PREFIX=" +
                   folder.path.string() +
                   " QFAULT_FN=write QFAULT_N=1 QFAULT_DO=eagain QFAULT_PERSIST=1 timeout "
                   "60 " QUORIN_CSV_TOOL " write -o " +
                   folder / "again.csv" + " 2>" + folder / "err"),
            1);
  EXPECT_THAT(readFile(folder / "err").value_or(""), HasSubstr(strerror(EAGAIN)));
#endif
}

}  // namespace
