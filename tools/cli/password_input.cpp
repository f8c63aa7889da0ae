#include "password_input.h"

#include "password/password_check.h"

namespace corvalink::cli {

PasswordBuffer::~PasswordBuffer() { Clear(); }

void PasswordBuffer::Clear() {
  SecureWipe(m_text.data(), m_text.size());
  m_length = 0;
}

void PasswordBuffer::Append(char c) {
  if (m_length < m_text.size()) m_text[m_length++] = c;
}

void PasswordBuffer::TrimCarriageReturn() {
  if (m_length > 0 && m_text[m_length - 1] == '\r') m_text[--m_length] = '\0';
}

PasswordRead ReadPasswordLine(const ByteSource& read, PasswordBuffer& out, std::string* err) {
  out.Clear();
  for (;;) {
    char c = 0;
    const ConsoleRead r = read(c, err);
    if (r == ConsoleRead::End) break;
    if (r == ConsoleRead::Interrupted) {
      out.Clear();
      return PasswordRead::Interrupted;
    }
    if (r == ConsoleRead::Failed) {
      if (err != nullptr) *err = "cannot read the password: " + *err;
      out.Clear();
      return PasswordRead::Failed;
    }
    if (c == '\n') break;
    out.Append(c);
    SecureWipe(&c, 1);
  }
  out.TrimCarriageReturn();
  return PasswordRead::Ok;
}

PasswordRead ReadPasswordFromInput(PasswordBuffer& out, std::string* err) {
  return ReadPasswordLine(ReadInputByte, out, err);
}

PasswordRead PromptPassword(std::string_view prompt, PasswordBuffer& out, std::string* err) {
  // Never read a password that would be shown as it is typed.
  PasswordTerminal terminal;
  if (!terminal.Error().empty()) {
    if (err != nullptr) *err = "cannot ask for the password: " + terminal.Error();
    return PasswordRead::Failed;
  }
  if (!terminal.Write(prompt, err)) return PasswordRead::Failed;
  const PasswordRead result = ReadPasswordLine(
      [&terminal](char& c, std::string* e) { return terminal.ReadByte(c, e); }, out, err);
  // With echo off the interrupted line has no line end of its own.
  if (result == PasswordRead::Interrupted) terminal.Write("\n", nullptr);
  return result;
}

}  // namespace corvalink::cli
