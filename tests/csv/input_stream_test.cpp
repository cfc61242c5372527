#include "csv/input_stream.hpp"

#include <gtest/gtest.h>

#include <string>

#include "temp_folder.hpp"

namespace csv {
namespace {

std::string readAll(InputStream& stream, std::size_t piece) {
  std::string out;
  std::string buffer(piece, '\0');
  for (;;) {
    const std::ptrdiff_t n = stream.read(reinterpret_cast<std::uint8_t*>(buffer.data()), piece);
    if (n <= 0) {
      EXPECT_EQ(n, 0);
      return out;
    }
    out.append(buffer, 0, static_cast<std::size_t>(n));
  }
}

TEST(MemoryInputStreamTest, StatusesAndReads) {
  auto stream = InputStream::withData("hello, world");
  EXPECT_EQ(stream->streamStatus(), StreamStatusNotOpen);
  std::uint8_t byte = 0;
  EXPECT_LT(stream->read(&byte, 1), 0);  // not open yet
  stream->open();
  EXPECT_EQ(stream->streamStatus(), StreamStatusOpen);
  EXPECT_EQ(stream->read(&byte, 0), 0);
  EXPECT_EQ(stream->streamStatus(), StreamStatusOpen);
  EXPECT_EQ(readAll(*stream, 5), "hello, world");
  EXPECT_EQ(stream->streamStatus(), StreamStatusAtEnd);
  EXPECT_EQ(stream->read(&byte, 1), 0);
  EXPECT_FALSE(stream->streamError());
  stream->close();
  EXPECT_EQ(stream->streamStatus(), StreamStatusClosed);
  EXPECT_LT(stream->read(&byte, 1), 0);
  auto empty = InputStream::withData("");  // empty data ends at the first read
  empty->open();
  EXPECT_EQ(empty->read(&byte, 1), 0);
  EXPECT_EQ(empty->streamStatus(), StreamStatusAtEnd);
}

class FileInputStreamTest : public ::testing::Test {
 protected:
  quorin::test::TempFolder folder_;
  std::string path_ = folder_ / "data.bin";
};

TEST_F(FileInputStreamTest, ReadsInAnyPieceSize) {
  std::string content;
  for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>(i * 7 % 251));
  quorin::test::writeFile(path_, content);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{2048}, std::size_t{1} << 20}) {
    auto stream = InputStream::withFileAtPath(path_);
    stream->open();
    ASSERT_EQ(stream->streamStatus(), StreamStatusOpen);
    EXPECT_EQ(readAll(*stream, piece), content) << piece;
    EXPECT_EQ(stream->streamStatus(), StreamStatusAtEnd);
    stream->close();
    EXPECT_EQ(stream->streamStatus(), StreamStatusClosed);
    stream->close();
  }
}

TEST_F(FileInputStreamTest, MissingFileAndFolderDoNotOpen) {
  for (const std::string& path : {path_, folder_.path.string()}) {
    auto stream = InputStream::withFileAtPath(path);
    stream->open();
    EXPECT_EQ(stream->streamStatus(), StreamStatusError) << path;
    ASSERT_TRUE(stream->streamError());
    EXPECT_EQ(stream->streamError()->domain, kPOSIXErrorDomain);
    EXPECT_EQ(stream->streamError()->code, path == path_ ? ENOENT : EISDIR);
    std::uint8_t byte = 0;
    EXPECT_LT(stream->read(&byte, 1), 0);
  }
}

}  // namespace
}  // namespace csv
