#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/file_open.h"
#include "temp_tree.h"

namespace corvalink {
namespace {

using test::TempDir;
using test::WriteBytes;

std::vector<std::string> ReadAll(TextFile& file, std::size_t bufferSize) {
  std::vector<std::string> lines;
  std::vector<char> buffer(bufferSize, '#');
  while (lines.size() < 100 && file.ReadLine(buffer)) {
    std::size_t n = 0;
    while (n < buffer.size() && buffer[n] != '\0') ++n;
    EXPECT_LT(n, buffer.size()) << "no NUL inside the buffer";
    lines.emplace_back(buffer.data(), n);
  }
  return lines;
}

struct ReadCase {
  const char* name;
  std::string content;
  std::size_t bufferSize;
  std::vector<std::string> reads;
};

// Each case's content written to a file, then read in lines of its buffer size.
void ExpectReads(const std::vector<ReadCase>& cases) {
  TempDir tmp;
  for (const ReadCase& c : cases) {
    WriteBytes(tmp.Path() / "t.txt", c.content);
    TextFile file(tmp.Path() / "t.txt");
    ASSERT_TRUE(file.IsOpen()) << c.name;
    EXPECT_EQ(ReadAll(file, c.bufferSize), c.reads) << c.name;
  }
}

TEST(TextFile, ReadsAsTheTextModeRuntimeDoes) {
  using namespace std::string_literals;
  const std::vector<ReadCase> cases = {
      {"LF", "ab\ncd\n", 100, {"ab\n", "cd\n"}},
      {"CR LF reads as LF", "ab\r\ncd\r\n", 100, {"ab\n", "cd\n"}},
      {"lone CR kept", "ab\rcd\n", 100, {"ab\rcd\n"}},
      {"CR at end of file kept", "ab\r", 100, {"ab\r"}},
      {"CR CR LF", "a\r\r\nb", 100, {"a\r\n", "b"}},
      {"last line without line end", "ab\ncd", 100, {"ab\n", "cd"}},
      {"empty file", "", 100, {}},
      {"empty lines", "\n\r\n\n", 100, {"\n", "\n", "\n"}},
      {"long line continues", "abcdefg\n", 4, {"abc", "def", "g\n"}},
      {"exact fit then line end", "abc\ndef\n", 4, {"abc", "\n", "def", "\n"}},
      {"exact fit then CR LF", "abc\r\ndef\r\n", 4, {"abc", "\n", "def", "\n"}},
      // The CR is the last character that fits: the pair still becomes one LF in this read.
      {"CR LF across the limit", "ab\r\ncd", 4, {"ab\n", "cd"}},
      {"CR without LF at the limit", "ab\rcd", 4, {"ab\r", "cd"}},
      {"CR at the limit, CR LF after", "ab\r\r\n", 4, {"ab\r", "\n"}},
      {"smallest buffer", "a\r\nb", 2, {"a", "\n", "b"}},
      {"NUL inside a line", "a\0b\nc"s, 100, {"a", "c"}},
  };
  ExpectReads(cases);
}

// Windows' text mode ends the file at the first Ctrl-Z, in the middle of a line or at the start
// of one, and a later read finds nothing either; on Linux the byte is read like any other.
TEST(TextFile, CtrlZEndsTheTextOnWindowsOnly) {
  const bool ends = CtrlZEndsText();
  const std::vector<ReadCase> cases = {
      {"inside a line", "a\x1a" "b\ncd\n", 100,
       ends ? std::vector<std::string>{"a"} : std::vector<std::string>{"a\x1a" "b\n", "cd\n"}},
      {"after a line end", "ab\n\x1a" "cd\n", 100,
       ends ? std::vector<std::string>{"ab\n"} : std::vector<std::string>{"ab\n", "\x1a" "cd\n"}},
      {"after a CR", "ab\r\x1a\n", 100,
       ends ? std::vector<std::string>{"ab\r"} : std::vector<std::string>{"ab\r\x1a\n"}},
      {"at the buffer's limit", "abc\x1a" "d", 4,
       ends ? std::vector<std::string>{"abc"} : std::vector<std::string>{"abc", "\x1a" "d"}},
  };
  ExpectReads(cases);
}

TEST(TextFile, EndOfFileLeavesTheBufferAsItWas) {
  TempDir tmp;
  WriteBytes(tmp.Path() / "t.txt", "x");
  TextFile file(tmp.Path() / "t.txt");
  std::array<char, 8> buffer{};
  ASSERT_TRUE(file.ReadLine(buffer));
  buffer = {'k', 'e', 'e', 'p', '\0'};
  EXPECT_FALSE(file.ReadLine(buffer));
  EXPECT_EQ(std::string(buffer.data()), "keep");
}

TEST(TextFile, BufferWithoutRoomForACharacterReadsNothing) {
  TempDir tmp;
  WriteBytes(tmp.Path() / "t.txt", "abc\n");
  TextFile file(tmp.Path() / "t.txt");
  std::array<char, 1> one{'z'};
  EXPECT_FALSE(file.ReadLine(one));
  EXPECT_FALSE(file.ReadLine(std::span<char>()));
  std::array<char, 8> buffer{};
  ASSERT_TRUE(file.ReadLine(buffer));
  EXPECT_EQ(std::string(buffer.data()), "abc\n");
}

TEST(TextFile, MissingFilesAndDirectoriesDoNotOpen) {
  TempDir tmp;
  std::filesystem::create_directory(tmp.Path() / "lpr.txt");
  for (const auto& path : {tmp.Path() / "missing.txt", tmp.Path() / "lpr.txt", tmp.Path()}) {
    TextFile file(path);
    EXPECT_FALSE(file.IsOpen()) << path;
    std::array<char, 8> buffer{};
    EXPECT_FALSE(file.ReadLine(buffer));
  }
}

TEST(TextFile, MovedFileGoesOnWhereItStopped) {
  TempDir tmp;
  WriteBytes(tmp.Path() / "t.txt", "one\ntwo\nthree\n");
  TextFile first(tmp.Path() / "t.txt");
  std::array<char, 16> buffer{};
  ASSERT_TRUE(first.ReadLine(buffer));
  TextFile second(std::move(first));
  EXPECT_FALSE(first.IsOpen());
  ASSERT_TRUE(second.ReadLine(buffer));
  EXPECT_EQ(std::string(buffer.data()), "two\n");
  TextFile third;
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());
  ASSERT_TRUE(third.ReadLine(buffer));
  EXPECT_EQ(std::string(buffer.data()), "three\n");
}

}  // namespace
}  // namespace corvalink

namespace corvalink {
namespace {

TEST(TextFileKinds, OnlyRegularFilesOpenAndNothingBlocks) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.Path() / "folder");
  test::WriteBytes(dir.Path() / "file", "text\n");
  std::vector<std::pair<const char*, bool>> rows = {{"folder", false}, {"file", true}};
  if (test::MakeFifo(dir.Path() / "fifo", nullptr)) rows.emplace_back("fifo", false);
  for (auto [name, opens] : rows) {
    // In a child that ends after 5 s, so a blocking open fails the test instead of hanging it;
    // in this process where there are no child processes (and no FIFOs to block on).
    std::optional<bool> opened =
        test::NoChildProcess().empty()
            ? test::RunInChild([&] { return TextFile(dir.Path() / name).IsOpen(); }, false, 5)
            : std::optional<bool>(TextFile(dir.Path() / name).IsOpen());
    ASSERT_TRUE(opened.has_value()) << name << " hung or crashed";
    EXPECT_EQ(*opened, opens) << name;
  }
}

}  // namespace
}  // namespace corvalink
