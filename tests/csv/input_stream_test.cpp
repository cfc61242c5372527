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

// Memory and file streams alike: reads fail before open() and after close(), an empty source
// ends at its first read, and a file larger than any buffer reads whole in any piece size.
// (Files that do not open: the parser's construction tests.)
TEST(InputStreamTest, StreamsReadTheirBytesOnlyWhileOpenInAnyPieceSize) {
  quorin::test::TempFolder folder;
  std::string large;
  for (int i = 0; i < 300000; ++i) large.push_back(static_cast<char>(i * 7 % 251));
  const std::string path = folder.write("data.bin", large);
  for (const std::size_t piece :
       {std::size_t{1}, std::size_t{5}, std::size_t{2048}, std::size_t{1} << 20}) {
    const std::pair<std::unique_ptr<InputStream>, std::string> sources[] = {
        {InputStream::withData("hello, world"), "hello, world"},
        {InputStream::withData(""), ""},
        {InputStream::withFileAtPath(path), large},
    };
    for (const auto& [stream, content] : sources) {
      SCOPED_TRACE(std::to_string(content.size()) + " bytes, " + std::to_string(piece) + " a read");
      EXPECT_EQ(stream->streamStatus(), StreamStatusNotOpen);
      EXPECT_EQ(readAll(*stream, 1), "<failed>");
      stream->open();
      ASSERT_EQ(stream->streamStatus(), StreamStatusOpen);
      std::uint8_t byte = 0;
      EXPECT_EQ(stream->read(&byte, 0), 0);
      EXPECT_TRUE(readAll(*stream, piece) == content);  // a printed difference would be huge
      EXPECT_EQ(stream->streamStatus(), StreamStatusAtEnd);
      EXPECT_EQ(stream->read(&byte, 1), 0);
      EXPECT_FALSE(stream->streamError());
      stream->close();
      stream->close();
      EXPECT_EQ(stream->streamStatus(), StreamStatusClosed);
      EXPECT_EQ(readAll(*stream, 1), "<failed>");
    }
  }
}

}  // namespace
}  // namespace csv
