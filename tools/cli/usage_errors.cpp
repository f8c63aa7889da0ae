#include "usage_errors.h"

#include <cstdio>

namespace corvalink::cli {
namespace {

std::string CommandList(std::span<const std::string_view> commands) {
  std::string out;
  for (std::string_view c : commands) out += (out.empty() ? "" : ", ") + std::string(c);
  return out;
}

}  // namespace

std::optional<std::string> UnknownCommand(std::span<const std::string> args,
                                          std::span<const std::string_view> commands) {
  for (const std::string& a : args) {
    if (a.starts_with("-")) continue;
    for (std::string_view c : commands) {
      if (a == c) return std::nullopt;
    }
    return a;
  }
  return std::nullopt;
}

std::string UsageErrorText(std::string_view m, std::span<const std::string_view> commands) {
  // "The following argument(s) were/was not expected: A B"
  constexpr std::string_view NOT_EXPECTED = " not expected: ";
  if (const std::size_t at = m.find(NOT_EXPECTED); at != std::string_view::npos) {
    std::string_view word = m.substr(at + NOT_EXPECTED.size());
    word = word.substr(0, word.find(' '));
    return std::string(word.starts_with("-") ? "unknown option '" : "unexpected argument '") +
           std::string(word) + "'";
  }
  if (m.starts_with("A subcommand is required")) {
    return "which command? one of: " + CommandList(commands);
  }
  // "--timeout: 1 required FLOAT missing"
  if (const std::size_t at = m.find(": 1 required "); at != std::string_view::npos && m.ends_with(" missing")) {
    return std::string(m.substr(0, at)) + " needs a value";
  }
  return std::string(m);
}

std::string SecondsValueError(std::string_view text, double min, double max) {
  char range[64];
  std::snprintf(range, sizeof range, " (a decimal from %g to %g)", min, max);
  return "'" + std::string(text) + "' is not a number of seconds" + range;
}

}  // namespace corvalink::cli
