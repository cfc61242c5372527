#include "csv/input_stream.hpp"

#include <gtest/gtest.h>

#include <string>

#include "temp_folder.hpp"

namespace csv {
namespace {

// Reads `stream` to its end, `piece` bytes at a time; the last read returns 0.
std::string readAll(InputStream& stream, std::size_t piece) {
  std::string out;
  std::string buffer(piece, '\0');
  for (std::ptrdiff_t n;
       (n = stream.read(reinterpret_cast<std::uint8_t*>(buffer.data()), piece));) {
    if (n < 0) return out + "<failed>";
    out.append(buffer, 0, static_cast<std::size_t>(n));
  }
  return out;
}

// Reads fail before open() and after close(); an empty source ends at its first read.
TEST(InputStreamTest, MemoryStreamStatusesAndReads) {
  for (const std::string data : {"hello, world", ""}) {
    auto stream = InputStream::withData(data);
    EXPECT_EQ(stream->streamStatus(), StreamStatusNotOpen);
    EXPECT_EQ(readAll(*stream, 1), "<failed>");
    stream->open();
    EXPECT_EQ(stream->streamStatus(), StreamStatusOpen);
    std::uint8_t byte = 0;
    EXPECT_EQ(stream->read(&byte, 0), 0);
    EXPECT_EQ(readAll(*stream, 5), data);
    EXPECT_EQ(stream->streamStatus(), StreamStatusAtEnd);
    EXPECT_EQ(stream->read(&byte, 1), 0);
    EXPECT_FALSE(stream->streamError());
    stream->close();
    EXPECT_EQ(stream->streamStatus(), StreamStatusClosed);
    EXPECT_EQ(readAll(*stream, 1), "<failed>");
  }
}

// A file is read in large blocks however small each read is. (Files that do not open: the
// parser's construction tests.)
TEST(InputStreamTest, FileStreamReadsInAnyPieceSize) {
  quorin::test::TempFolder folder;
  std::string content;
  for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>(i * 7 % 251));
  const std::string path = folder.write("data.bin", content);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{2048}, std::size_t{1} << 20}) {
    auto stream = InputStream::withFileAtPath(path);
    stream->open();
    ASSERT_EQ(stream->streamStatus(), StreamStatusOpen);
    EXPECT_EQ(readAll(*stream, piece), content) << piece;
    EXPECT_EQ(stream->streamStatus(), StreamStatusAtEnd);
    stream->close();
    stream->close();
    EXPECT_EQ(stream->streamStatus(), StreamStatusClosed);
  }
}

}  // namespace
}  // namespace csv
