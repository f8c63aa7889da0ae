#include "password_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace corvalink::cli {
namespace {

// Feeds `input` through a pipe, reads one password line, and returns it with what the read
// left in the pipe.
std::pair<std::string, std::string> ReadThroughPipe(const std::string& input) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  PasswordBuffer buffer;
  std::string err;
  EXPECT_EQ(ReadPasswordLine(fds[0], buffer, &err), PasswordRead::Ok) << err;
  std::string rest;
  char c;
  while (::read(fds[0], &c, 1) == 1) rest += c;
  ::close(fds[0]);
  return {std::string(buffer.Text()), rest};
}

TEST(ReadPasswordLine, OneLineWithoutItsLineEndAndNothingMore) {
  const std::string longLine(300, 'p');
  const struct {
    std::string input, password, rest;
  } rows[] = {
      {"secret\nnext\n", "secret", "next\n"},
      {"secret\r\nnext", "secret", "next"},
      {"with space \n", "with space ", ""},
      {"no line end", "no line end", ""},
      {"\n", "", ""},
      {"", "", ""},
      {"a\rb\n", "a\rb", ""},
      {longLine + "\nrest", longLine.substr(0, PASSWORD_LINE_MAX), "rest"},
  };
  for (const auto& row : rows) {
    const auto [password, rest] = ReadThroughPipe(row.input);
    EXPECT_EQ(password, row.password) << row.input.substr(0, 20);
    EXPECT_EQ(rest, row.rest) << row.input.substr(0, 20);
  }
}

TEST(ReadPasswordLine, UnreadableInputFailsWithAReason) {
  PasswordBuffer buffer;
  std::string err;
  EXPECT_EQ(ReadPasswordLine(-1, buffer, &err), PasswordRead::Failed);
  EXPECT_FALSE(err.empty());
  EXPECT_TRUE(buffer.Text().empty());
}

}  // namespace
}  // namespace corvalink::cli
