#include "password_input.h"

#include <gtest/gtest.h>

#include <string>

namespace corvalink::cli {
namespace {

// Feeds `input` one byte per call, reads one password line, and returns it with what the read
// left unread.
std::pair<std::string, std::string> ReadFromBytes(const std::string& input) {
  std::size_t next = 0;
  ByteSource source = [&](char& c, std::string*) {
    if (next == input.size()) return ConsoleRead::End;
    c = input[next++];
    return ConsoleRead::Byte;
  };
  PasswordBuffer buffer;
  std::string err;
  EXPECT_EQ(ReadPasswordLine(source, buffer, &err), PasswordRead::Ok) << err;
  return {std::string(buffer.Text()), input.substr(next)};
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
    const auto [password, rest] = ReadFromBytes(row.input);
    EXPECT_EQ(password, row.password) << row.input.substr(0, 20);
    EXPECT_EQ(rest, row.rest) << row.input.substr(0, 20);
  }
}

TEST(ReadPasswordLine, AFailedOrInterruptedReadKeepsNothingOfTheLine) {
  for (ConsoleRead end : {ConsoleRead::Failed, ConsoleRead::Interrupted}) {
    int calls = 0;
    ByteSource source = [&](char& c, std::string* err) {
      if (calls++ < 3) {
        c = 'x';
        return ConsoleRead::Byte;
      }
      if (err != nullptr) *err = "device gone";
      return end;
    };
    PasswordBuffer buffer;
    std::string err;
    const PasswordRead r = ReadPasswordLine(source, buffer, &err);
    EXPECT_EQ(r, end == ConsoleRead::Failed ? PasswordRead::Failed : PasswordRead::Interrupted);
    if (end == ConsoleRead::Failed) EXPECT_NE(err.find("device gone"), std::string::npos) << err;
    EXPECT_TRUE(buffer.Text().empty());
  }
}

}  // namespace
}  // namespace corvalink::cli
