#include "csv/csv_writer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <tuple>

#include "csv/csv_document.hpp"
#include "csv/durable_file.hpp"
#include "diagnostic_capture.hpp"
#include "private_tmpfs.hpp"
#include "temp_folder.hpp"

namespace csv {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using quorin::test::inPrivateTmpfs;
using quorin::test::listFolder;
using quorin::test::readFile;
using quorin::test::TempFolder;
using quorin::test::writeFile;
using namespace std::string_literals;

// A writer's error as "domain code", or "none".
std::string errorOf(const CSVWriter& writer) {
  const std::optional<Error>& e = writer.error();
  return e ? e->domain + " " + std::to_string(e->code) : "none";
}
std::string posix(int code) { return "NSPOSIXErrorDomain " + std::to_string(code); }

std::string utf8Of(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  std::string out = c < 0x800 ? std::string{static_cast<char>(0xC0 | (c >> 6))}
                              : std::string{static_cast<char>(0xE0 | (c >> 12)),
                                            static_cast<char>(0x80 | ((c >> 6) & 0x3F))};
  return out + static_cast<char>(0x80 | (c & 0x3F));
}

// The word-at-a-time scan against the rule stated plainly, with every special character at
// every position of fields that fill less than one, one, or two eight-byte words and a tail, in
// ASCII and non-ASCII text.
TEST(CSVWriterTest, QuotingAgreesWithThePlainRuleAtEveryPosition) {
  auto quoted = [](const std::string& text) {
    std::string out = "\"";
    for (const char c : text) out += c == '"' || c == '\\' ? std::string(2, c) : std::string(1, c);
    return out + "\"";
  };
  const std::string newlines[] = {"\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029"};
  const std::string specials[] = {
      ",",  "\t",     "é",      "€",      "\"",     "\\",     "#",    "\n",       "\r",    "\v",
      "\f", "\u0085", "\u2028", "\u2029", "\u00A0", "\u2027", "\xC2", "\xE2\x80", "\u00A9"};
  for (const std::string delimiter : {",", "\t", "é", "€", "§"}) {
    for (const std::string filler : {"a", "ü"}) {
      for (const std::string& special : specials) {
        // One writer takes all lines of a combination, each line checked as it is written.
        auto writer = CSVWriter::forWritingToString();
        writer->setDelimiter(delimiter);
        std::string expected;
        for (std::size_t length = 0; length <= 17; ++length) {
          for (std::size_t at = 0; at <= length; ++at) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) text += i == at ? special + filler : filler;
            if (at == length) text += special;
            bool quote = text.starts_with("#") || text.find_first_of("\"\\") != std::string::npos ||
                         text.find(delimiter) != std::string::npos;
            for (const std::string& n : newlines) quote |= text.find(n) != std::string::npos;
            expected += "x" + delimiter + (quote ? quoted(text) : text) + "\n";
            writer->writeLineWithFields({"x", text});
            if (writer->stringValue() != expected) {
              FAIL() << "delimiter '" << delimiter << "', text '" << text << "'";
            }
          }
        }
      }
    }
  }
}

// An absent value ends a list. A line of no fields writes nothing at all, while an empty list of
// fields writes an empty line. Only a written field locks the delimiter, even an empty one. Value
// texts: integers in decimal (booleans as 1 and 0), reals in their shortest text, dates in UTC to
// the second (a fraction dropped, not rounded), lists in parentheses.
TEST(CSVWriterTest, ListsEndAtTheFirstAbsentValueAndOnlyAWrittenFieldLocksTheDelimiter) {
  using namespace std::chrono;
  auto writer = CSVWriter::forWritingToString();
  writer->writeLineWithFields({});
  writer->writeLineOfFields({std::nullopt, "a"});
  writer->writeFields({std::nullopt});
  writer->writeCommentLine("c");  // at the start of a line no line end comes first
  writer->setDelimiter(";");
  writer->setEncoding(kEncodingMacOSRoman);  // a string holds text, whatever the encoding
  writer->writeField("");
  EXPECT_THROW(writer->setDelimiter(","), std::invalid_argument);
  writer->writeFields({5, ValueList{"p", 1, ""}, std::nullopt, "x"});
  writer->writeLineWithFields({"\u65E5", ""});
  writer->writeLineOfFields({"a", 2, std::nullopt, "c"});
  writer->writeLineWithFields(
      {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max(), true,
       false, 0.1, -1e300,
       Date(sys_days{year{2013} / 4 / 2} + hours{14} + minutes{5} + seconds{9} + milliseconds{999}),
       Date(sys_days{year{1969} / 12 / 31} + seconds{86399}), Date::min(), Date::max()});
  EXPECT_EQ(writer->stringValue(),
            "\n#c\n;5;(p, 1, );\u65E5;\na;2\n-9223372036854775808;18446744073709551615;1;0;0.1;"
            "-1e+300;"
            "2013-04-02 14:05:09 +0000;1969-12-31 23:59:59 +0000;1677-09-21 00:12:43 +0000;"
            "2262-04-11 23:47:16 +0000\n");
  EXPECT_EQ(writer->error(), std::nullopt);
  // The shortest text still reads back as the same number.
  EXPECT_EQ(std::stod(Value(1.0 / 3.0).description()), 1.0 / 3.0);
}

TEST(CSVWriterTest, EveryLineOfACommentIsACommentLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "#\n"},
      {"x,\"y\"\\", "#x,\\\"y\"\\\n"},
      {"one\r\ntwo", "#one\n#two\n"},
      {"one\n\rtwo", "#one\n#\n#two\n"},
      {"a\rb\vc\fd\u0085e\u2028f\u2029g", "#a\n#b\n#c\n#d\n#e\n#f\n#g\n"},
      {"trailing\n", "#trailing\n#\n"},
      {"no\u2027break", "#no\u2027break\n"},
      // A quote before ordinary text would make a reader refuse the document, and a mark would
      // join the "#" and make the comment a row.
      {"say \"hi\", \"\"x\"", "#say \\\"hi\", \"\\\"x\"\n"},
      {"\u0301 note\n\u200Dx", "# \u0301 note\n# \u200Dx\n"},
  };
  for (const auto& [comment, written] : cases) {
    auto writer = CSVWriter::forWritingToString();
    writer->writeField("a");  // a comment ends the line of even one field
    writer->writeCommentLine(comment);
    EXPECT_EQ(writer->stringValue(), "a\n" + written) << comment;
    const CSVLines rows{{"a"}, {"b"}};
    EXPECT_EQ(CSVComponents(*writer->stringValue() + "b\n"), rows) << comment;
  }
  // After an empty line a reader takes a "#" line for a row: that comment is left out, and said
  // so. First in the text, or after a comment, it stays a comment.
  auto writer = CSVWriter::forWritingToString();
  writer->writeLineWithFields({});
  writer->writeCommentLine("first");
  writer->writeLineWithFields({"a"});
  writer->writeLineWithFields({});
  writer->writeCommentLine("secret");
  EXPECT_EQ(writer->stringValue(), "\n#first\na\n\n");
  ASSERT_TRUE(writer->error());
  EXPECT_EQ(writer->error()->code, EILSEQ);
  writer->writeLineWithFields({"b"});
  EXPECT_EQ(CSVComponents(*writer->stringValue()), (CSVLines{{""}, {"a"}, {"b"}}));
}

TEST(CSVWriterFileTest, NonAtomicReplacesTheFileOrLinkAtOnceAndWritesEachOperation) {
  TempFolder folder;
  const std::string path = folder / "results.csv";
  writeFile(path, "old contents\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, mode);  // kept: a private file stays private
  auto writer = CSVWriter::withCSVFile(path, false);
  EXPECT_EQ(readFile(path), "");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  writer->writeLineWithFields({"a", "b,c", 4, "", "x\ny"});
  const std::string line = "a,\"b,c\",4,,\"x\ny\"\n";
  EXPECT_EQ(readFile(path), line);
  writer->writeCommentLine("one\ntwo");
  writer->writeField("f");
  EXPECT_EQ(readFile(path), line + "#one\n#two\nf");
  EXPECT_EQ(writer->stringValue(), std::nullopt);
  writer->closeFile();
  writer->writeField("after");
  writer->closeFile();
  EXPECT_EQ(readFile(path), line + "#one\n#two\nf");
  EXPECT_EQ(writer->stringValue(), ",after");
  EXPECT_EQ(writer->error(), std::nullopt);
  EXPECT_EQ(listFolder(folder.path), Names{"results.csv"});

  // A link is replaced, not its target.
  fs::create_symlink("results.csv", folder / "link.csv");
  CSVWriter::withCSVFile(folder / "link.csv", false)->writeLine();
  EXPECT_EQ(readFile(path), line + "#one\n#two\nf");
  EXPECT_FALSE(fs::is_symlink(folder / "link.csv"));
  EXPECT_EQ(readFile(folder / "link.csv"), "\n");
}

TEST(CSVWriterFileTest, AtomicTouchesTheDestinationOnlyOnCloseAndKeepsItsPermissions) {
  TempFolder folder;
  const std::string path = folder / "results.csv";
  writeFile(path, "old\n");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  auto writer = CSVWriter::withCSVFile(path, true);
  writer->writeLineWithFields({"a", "b"});
  writer->writeCommentLine("c");
  EXPECT_EQ(readFile(path), "old\n");
  writer->closeFile();
  EXPECT_EQ(readFile(path), "a,b\n#c\n");
  EXPECT_EQ(listFolder(folder.path), Names{"results.csv"});
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  writeFile(path, "changed later\n");
  writer->closeFile();
  EXPECT_EQ(readFile(path), "changed later\n");
  EXPECT_EQ(writer->error(), std::nullopt);
  // Destroyed by an exception on its way through (the rows' source failed), it has no whole
  // document to put in place.
  try {
    auto unwinding = CSVWriter::withCSVFile(path, true);
    unwinding->writeLineWithFields({"partial"});
    throw std::runtime_error("the database went away");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(readFile(path), "changed later\n");
  // A relative name means the folder it was given in, though the program moves on before close.
  const fs::path start = fs::current_path();
  fs::create_directory(folder / "elsewhere");
  fs::current_path(folder.path);
  auto relative = CSVWriter::withCSVFile("relative.csv", true);
  relative->writeLineWithFields({"r"});
  fs::current_path(folder / "elsewhere");
  relative->closeFile();
  fs::current_path(start);
  EXPECT_EQ(readFile(folder / "relative.csv"), "r\n");
  EXPECT_EQ(listFolder(folder / "elsewhere"), Names{});
}

// Atomic writers name nothing until they commit, so a crash leaves nothing behind. A named
// temporary that an interrupted writer on another file system left is removed by the next atomic
// writer of the same destination only when provably abandoned: unlocked and over a minute old.
TEST(CSVWriterFileTest, AtomicWritersLeaveNothingBehind) {
  TempFolder folder;
  std::vector<std::unique_ptr<CSVWriter>> writers;
  for (int i = 0; i < 4; ++i) {
    writers.push_back(CSVWriter::withCSVFile(folder / "r.csv", true));
    writers.back()->writeField(i);
  }
  EXPECT_EQ(listFolder(folder.path), Names{}) << "nothing is named before the commit";
  writers.clear();
  EXPECT_EQ(readFile(folder / "r.csv"), "3");
  EXPECT_EQ(listFolder(folder.path), Names{"r.csv"});

  const auto leftBehind = [&](const std::string& name, bool old) {
    writeFile(folder.path / name, "partial");
    if (old)
      fs::last_write_time(folder.path / name,
                          fs::file_time_type::clock::now() - std::chrono::minutes(2));
  };
  leftBehind(".r.csv.0123456789abcdef.tmp", true);   // abandoned
  leftBehind(".r.csv.1123456789abcdef.tmp", false);  // its writer may not have locked it yet
  leftBehind(".r.csv.2123456789abcdef.tmp", true);   // locked below: its writer is alive
  leftBehind(".q.csv.3123456789abcdef.tmp", true);   // another destination's
  leftBehind("-12345-r.csv", true);                  // not a name this library makes
  const int locked = ::open((folder.path / ".r.csv.2123456789abcdef.tmp").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(locked, LOCK_EX), 0);
  CSVWriter::withCSVFile(folder / "r.csv", true)->writeField("new");
  ::close(locked);
  EXPECT_EQ(listFolder(folder.path),
            (Names{"-12345-r.csv", ".q.csv.3123456789abcdef.tmp", ".r.csv.1123456789abcdef.tmp",
                   ".r.csv.2123456789abcdef.tmp", "r.csv"}));
  EXPECT_EQ(readFile(folder / "r.csv"), "new");

  // Names of every legal length, whose temporaries hold them cut (between characters): written
  // and replaced, and an abandoned temporary of theirs swept.
  for (const std::string& name : {std::string(251, 'n') + ".csv", [] {
                                    std::string japanese;
                                    while (japanese.size() < 249) japanese += "\u60A3";
                                    return japanese + ".csv";
                                  }()}) {
    TempFolder longNames;
    const std::string cut = name.substr(0, name[0] == 'n' ? 233 : 231);
    writeFile(longNames.path / ("." + cut + ".0123456789abcdef.tmp"), "partial");
    fs::last_write_time(longNames.path / ("." + cut + ".0123456789abcdef.tmp"),
                        fs::file_time_type::clock::now() - std::chrono::minutes(2));
    for (const char* text : {"first", "second"}) {
      CSVWriter::withCSVFile(longNames / name, true)->writeField(text);
      EXPECT_EQ(readFile(longNames / name), text) << name.size() << " bytes";
      EXPECT_EQ(listFolder(longNames.path), Names{name});
    }
  }
}

// Nothing is lost: what could not go to the file is in stringValue; a folder in the way keeps
// its contents, an atomic writer that cannot rename leaves no temporary file, and no link is
// replaced that names a pipe, a device or an open file.
TEST(CSVWriterFileTest, FilesThatCannotBeCreatedOrReplacedAreReported) {
  TempFolder folder;
  fs::create_directory(folder.path / "dir.csv");
  writeFile(folder.path / "dir.csv" / "inside", "keep");
  // A pipe or a device, even behind a link, is written to or reported, never replaced by a file.
  ASSERT_EQ(mkfifo((folder / "pipe.csv").c_str(), 0600), 0);
  fs::create_symlink("pipe.csv", folder / "pipe-link.csv");
  fs::create_symlink("/dev/null", folder / "null.csv");
  const Names names{"dir.csv", "null.csv", "pipe-link.csv", "pipe.csv"};
  const std::tuple<std::string, bool, int, bool> cases[] = {
      {folder / "missing/r.csv", false, ENOENT, true},
      {folder / "missing/r.csv", true, ENOENT, true},
      {folder / "dir.csv", false, EISDIR, true},
      {folder / "dir.csv", true, EISDIR, true},
      {folder / "pipe.csv", true, EINVAL, true},
      {folder / "pipe-link.csv", false, ENXIO, true},  // nobody reads the pipe
      {folder / "null.csv", true, EINVAL, true},
      {folder / "null.csv", false, 0, false},
      {"", false, ENOENT, true},
      {"", true, ENOENT, true},
      {folder / "r.csv" + std::string(1, '\0') + "x", false, EINVAL, true},  // not r.csv
      {folder / "r.csv" + std::string(1, '\0') + "x", true, EINVAL, true},
  };
  for (const auto& [path, atomic, code, fails] : cases) {
    SCOPED_TRACE(path + (atomic ? " atomic" : ""));
    auto writer = CSVWriter::withCSVFile(path, atomic);
    EXPECT_EQ(writer->error().has_value(), fails);
    writer->writeLineWithFields({"a", "b"});
    writer->closeFile();
    EXPECT_EQ(writer->stringValue(), fails ? std::optional<std::string>("a,b\n") : std::nullopt);
    if (fails) {
      EXPECT_EQ(errorOf(*writer), posix(code));
      EXPECT_FALSE(writer->flush());
    }
    if (code == ENXIO) {
      EXPECT_NE(writer->error()->description->find("no program is reading it"), std::string::npos);
    }
    EXPECT_EQ(listFolder(folder.path), names);
  }
  EXPECT_EQ(readFile(folder.path / "dir.csv" / "inside"), "keep");
  EXPECT_TRUE(fs::is_fifo(folder / "pipe.csv"));
  EXPECT_TRUE(fs::is_symlink(folder / "pipe-link.csv") && fs::is_symlink(folder / "null.csv"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A name for this process's open file, as /dev/stdout is for a shell's "> out.csv" or a
  // service's journal socket: written through that very file, where the process's output stands,
  // or reported by an atomic writer; the links stay.
  const int out = ::open((folder / "out.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int journal[2];
  ASSERT_TRUE(out >= 0 && ::write(out, "kept\n", 5) == 5);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, journal), 0);
  fs::create_symlink("/proc/self/fd/" + std::to_string(out), folder / "stdout");
  fs::create_symlink("/dev/fd/" + std::to_string(journal[0]), folder / "journal");
  for (const char* name : {"stdout", "journal"}) {
    for (const bool atomic : {true, false}) {
      auto writer = CSVWriter::withCSVFile(folder / name, atomic);
      writer->writeLineWithFields({"a", "b"});
      writer->closeFile();
      EXPECT_EQ(errorOf(*writer), atomic ? posix(EINVAL) : "none") << name;
    }
    EXPECT_TRUE(fs::is_symlink(folder / name));
  }
  ASSERT_EQ(::write(out, "end\n", 4), 4);
  ::close(out);
  EXPECT_EQ(readFile(folder / "out.csv"), "kept\na,b\nend\n");
  char received[16] = {};
  EXPECT_EQ(::read(journal[1], received, sizeof received), 4);
  EXPECT_STREQ(received, "a,b\n");
  ::close(journal[0]);
  ::close(journal[1]);

  // A socket whose reader has gone: reported, what was not written kept, and the program lives on
  // (the system's SIGPIPE would end it).
  int gone[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, gone), 0);
  ::close(gone[1]);
  fs::create_symlink("/dev/fd/" + std::to_string(gone[0]), folder / "gone");
  auto unread = CSVWriter::withCSVFile(folder / "gone", false);
  unread->writeLineWithFields({"a", "b"});
  unread->closeFile();
  ::close(gone[0]);
  EXPECT_EQ(errorOf(*unread), posix(EPIPE));
  EXPECT_EQ(unread->stringValue(), "a,b\n");

  // An atomic writer whose new file cannot be put in place (a folder appeared there) keeps the
  // whole output in stringValue.
  auto late = CSVWriter::withCSVFile(folder / "late.csv", true);
  late->writeLineWithFields({"a", "b"});
  late->writeLineWithFields({"c", "d"});
  fs::create_directory(folder / "late.csv");
  late->closeFile();
  EXPECT_EQ(errorOf(*late), posix(EISDIR));
  EXPECT_EQ(late->stringValue(), "a,b\nc,d\n");
}

TEST(CSVWriterFileTest, ConvertsEachPieceToTheEncodingWithoutByteOrderMarks) {
  // {encoding, field, the file's bytes, errno noted}
  const std::tuple<StringEncoding, std::string, std::string, int> cases[] = {
      {kEncodingUTF8, "\xFF", "a,\xFF\n", 0},  // UTF-8 output passes bytes through unchecked
      {kEncodingUTF16BE, "😀", "\0a\0,\xD8\x3D\xDE\x00\0\n"s, 0},
      {kEncodingUTF32LE, "é", "a\0\0\0,\0\0\0\xE9\0\0\0\n\0\0\0"s, 0},
      {kEncodingMacOSRoman, "é", "a,\x8E\n", 0},
      // The platform's table, not glibc's: the Apple logo, the increment sign and the euro.
      {kEncodingMacOSRoman, "\uF8FF\u2206€", "a,\xF0\xC6\xDB\n", 0},
      {kEncodingISOLatin1, "é", "a,\xE9\n", 0},
      {12, "€", "a,\x80\n", 0},  // Windows-1252
      // A piece that cannot be converted is left out; the rest is written and the loss noted.
      {kEncodingMacOSRoman, "日本", "a,\n", EILSEQ},
      {kEncodingUTF16LE, "\xFF", "a\0,\0\n\0"s, EILSEQ},
      {12345, "x", "", EINVAL},
  };
  TempFolder folder;
  const std::string path = folder / "enc.csv";
  for (const auto& [encoding, field, bytes, error] : cases) {
    SCOPED_TRACE("encoding " + std::to_string(encoding) + ", field '" + field + "'");
    auto writer = CSVWriter::withCSVFile(path, true);
    writer->setEncoding(encoding);
    writer->writeLineWithFields({"a", field});
    writer->closeFile();
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_EQ(errorOf(*writer), error ? posix(error) : "none");
  }
  // The encoding in force when a piece is written is the one it gets.
  auto writer = CSVWriter::withCSVFile(path, false);
  writer->setBuffered(true);
  writer->writeField("é");
  writer->setEncoding(kEncodingUTF16LE);
  writer->writeField("é");
  writer->setEncoding(kEncodingMacOSRoman);
  writer->writeLine();
  writer->closeFile();
  EXPECT_EQ(readFile(path), "\xC3\xA9,\0\xE9\0\n"s);
  // A row whose one field is left out is a row of one empty field, not a blank line that a reader
  // would skip.
  auto lone = CSVWriter::withCSVFile(path, false);
  lone->setEncoding(kEncodingISOLatin1);
  for (const char* field : {"first", "日本", "\"日\"", "last"}) lone->writeLineWithFields({field});
  lone->closeFile();
  EXPECT_EQ(readFile(path), "first\n\"\"\n\"\"\nlast\n");
  EXPECT_EQ(errorOf(*lone), posix(EILSEQ));
  EXPECT_EQ(lone->error()->description->find("Invalid"), std::string::npos)
      << "the system's words would blame the input: " << *lone->error()->description;
  // A delimiter the encoding cannot hold would run the fields together: the file stops at the
  // last whole line, and the text goes on in memory.
  auto euro = CSVWriter::withCSVFile(path, false);
  euro->setEncoding(kEncodingISOLatin1);
  euro->setDelimiter("€");
  for (const std::vector<Value>& line : {std::vector<Value>{"one"}, {"a", "b"}, {"c", "d"}}) {
    euro->writeLineWithFields(line);
  }
  euro->closeFile();
  EXPECT_EQ(readFile(path), "one\n");
  EXPECT_EQ(euro->stringValue(), "a€b\nc€d\n");
  EXPECT_EQ(errorOf(*euro), posix(EILSEQ));
}

// Every encoding the reader reads, the writer writes: a document written in it reads back the
// same, a character reads back as itself or is left out and noted (never as another: EUC-JP's
// and Shift JIS's tables disagree on where the yen sign and the backslash are).
TEST(CSVWriterFileTest, EveryEncodingTheReaderReadsIsWritten) {
  const StringEncoding codes[] = {
      1,          3,          4,          5,          8,          9,          11,
      12,         13,         14,         15,         21,         30,         0x90000100,
      0x94000100, 0x98000100, 0x9C000100, 0x80000203, 0x80000204, 0x80000205, 0x80000206,
      0x80000207, 0x80000208, 0x80000209, 0x8000020A, 0x8000020B, 0x8000020D, 0x8000020E,
      0x8000020F, 0x80000210, 0x80000505, 0x80000506, 0x80000507, 0x80000508, 0x80000631,
      0x80000632, 0x80000930, 0x80000931, 0x80000940, 0x80000A02, 0x80000A03, 0x80000A06,
      0x80000A08};
  TempFolder folder;
  const std::string path = folder / "enc.csv";
  const std::vector<std::vector<std::string>> rows = {{"a", "b c"}, {"d,e", "\"f\""}};
  std::vector<char32_t> characters = {0x5C, 0x7E, 0xA5, 0x203E, 0xFFE0, 0xFFE1, 0xFFE2};
  for (char32_t c = 0xA0; c < 0x10000; c += c < 0x3000 ? 5 : 101) {
    if (c < 0xD800 || c >= 0xE000) characters.push_back(c);
  }
  for (const StringEncoding code : codes) {
    SCOPED_TRACE("encoding " + std::to_string(code));
    auto writer = CSVWriter::withCSVFile(path, false);
    writer->setEncoding(code);
    // Its quote needs a backslash, which Shift JIS lacks: there the quote is left out instead.
    writer->writeCommentLine("said \"hi\" twice");
    for (const auto& row : rows) writer->writeLineWithFields({row[0], row[1]});
    writer->closeFile();
    EXPECT_EQ(errorOf(*writer), code == 8 ? posix(EILSEQ) : "none");
    EXPECT_EQ(arrayWithContentsOfCSVFile(path, code), rows);

    writer = CSVWriter::withCSVFile(path, false);
    writer->setEncoding(code);
    writer->setBuffered(true);
    for (const char32_t c : characters) {
      writer->writeLineWithFields({static_cast<std::int64_t>(c), "x" + utf8Of(c) + "x"});
    }
    writer->closeFile();
    const std::optional<CSVLines> read = arrayWithContentsOfCSVFile(path, code);
    ASSERT_TRUE(read && read->size() == characters.size());
    bool leftOut = false;
    for (std::size_t i = 0; i < characters.size(); ++i) {
      const std::string& field = read->at(i).at(1);
      leftOut |= field.empty();
      EXPECT_TRUE(field.empty() || field == "x" + utf8Of(characters[i]) + "x")
          << "U+" << std::hex << static_cast<unsigned>(characters[i]) << " read back as " << field;
    }
    EXPECT_EQ(errorOf(*writer), leftOut ? posix(EILSEQ) : "none");
  }
}

TEST(CSVWriterFaultTest, ReadOnlyFolder) {
  for (const bool atomic : {false, true}) {
    SCOPED_TRACE(atomic ? "atomic" : "non-atomic");
    inPrivateTmpfs("size=64k", [&](const fs::path& folder) {
      const std::string path = folder / "results.csv";
      writeFile(path, "old\n");
      ASSERT_EQ(mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
          << std::strerror(errno);
      auto writer = CSVWriter::withCSVFile(path, atomic);
      ASSERT_EQ(errorOf(*writer), posix(EROFS));
      writer->writeLineWithFields({"a", "b"});
      writer->closeFile();
      EXPECT_EQ(writer->stringValue(), "a,b\n");
      EXPECT_EQ(errorOf(*writer), posix(EROFS));
      EXPECT_EQ(readFile(path), "old\n");
      EXPECT_EQ(listFolder(folder), Names{"results.csv"});
    });
  }
}

// A file its owner marked read-only is not replaced, as a shell's ">" would not write it, though
// the folder would allow a new file in its place. As an ordinary user: root may write any file.
TEST(CSVWriterFaultTest, AFileMarkedReadOnlyIsNotReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to become an ordinary user";
  constexpr uid_t kNobody = 65534;
  TempFolder folder;
  const std::string path = folder / "results.csv";
  writeFile(path, "kept\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chown(folder.path.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
      ::_exit(99);
    int wrong = 0;
    for (const bool atomic : {false, true}) {
      auto writer = CSVWriter::withCSVFile(path, atomic);
      writer->writeLineWithFields({"new"});
      writer->closeFile();
      wrong += errorOf(*writer) != posix(EACCES);
    }
    ::_exit(wrong);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(readFile(path), "kept\n");
  EXPECT_EQ(listFolder(folder.path), Names{"results.csv"});
}

// Non-atomic, unbuffered or buffered: the file keeps the whole operations written before the
// failure, and stringValue the rest. Atomic: the temporary file goes at once, the destination
// stays.
TEST(CSVWriterFaultTest, FullDiskLosesNothingAndLeavesTheAtomicDestinationAlone) {
  for (const auto& mode : {std::pair{false, false}, {false, true}, {true, false}}) {
    // Named copies: clang 14 cannot capture structured bindings in the lambda below.
    const bool atomic = mode.first;
    const bool buffered = mode.second;
    SCOPED_TRACE(std::string(atomic ? "atomic" : "non-atomic") + (buffered ? ", buffered" : ""));
    inPrivateTmpfs("size=16k", [&](const fs::path& folder) {
      const std::string path = folder / "results.csv";
      writeFile(path, "old\n");
      auto writer = CSVWriter::withCSVFile(path, atomic);
      writer->setBuffered(buffered);
      // A piece MacRoman cannot hold is noted first; the disk failure must outrank it.
      writer->setEncoding(kEncodingMacOSRoman);
      writer->writeCommentLine("日本");
      ASSERT_EQ(errorOf(*writer), posix(EILSEQ));
      std::string expected = "#\n";
      const std::string padding(90, 'p');  // 400 lines overflow the 16 KiB several times
      for (int i = 0; i < 400; ++i) {
        writer->writeLineWithFields({i, "x,y", padding});
        expected += std::to_string(i) + ",\"x,y\"," + padding + "\n";
        if (i == 50) {
          EXPECT_TRUE(writer->flush());
        }
      }
      // Unbuffered, every operation reaches the file before it returns, and so does its failure.
      if (!buffered) {
        ASSERT_EQ(errorOf(*writer), posix(ENOSPC));
        EXPECT_EQ(listFolder(folder), Names{"results.csv"}) << "the temporary file goes at once";
      }
      EXPECT_FALSE(writer->flush());
      ASSERT_EQ(errorOf(*writer), posix(ENOSPC));
      writer->closeFile();
      EXPECT_EQ(errorOf(*writer), posix(ENOSPC));
      if (atomic) {
        EXPECT_EQ(readFile(path), "old\n");
        return;
      }
      const std::string inFile = readFile(path).value_or("<missing>");
      const std::string rest = writer->stringValue().value_or("");
      EXPECT_FALSE(inFile.empty() || rest.empty());
      EXPECT_EQ(inFile.back(), '\n') << "the file ends after a whole operation";
      EXPECT_EQ(inFile + rest, expected) << "nothing is lost";
    });
  }
  // Destroyed with its last block unwritten, a writer can only say so in the log.
  inPrivateTmpfs("size=16k", [&](const fs::path& folder) {
    quorin::test::DiagnosticCapture log;
    {
      auto writer = CSVWriter::withCSVFile(folder / "r.csv", false);
      writer->setBuffered(true);
      for (int i = 0; i < 400; ++i) writer->writeLineWithFields({i, std::string(90, 'p')});
    }
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find(std::strerror(ENOSPC)), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[0].find("bytes of output are lost"), std::string::npos) << log.lines[0];
  });
}

}  // namespace
}  // namespace csv
