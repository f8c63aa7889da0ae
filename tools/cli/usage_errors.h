#pragma once
// Usage errors in the command line's own words, each naming the word that is wrong: "unknown
// command 'foo'", "unknown option '--bogus'", "--timeout: 'abc' is not a number of seconds".

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvalink::cli {

/// The first argument that is not an option, when it is none of `commands`; nothing when it is
/// one or there is none. The program's own options take no value, so every word before the
/// command is an option.
std::optional<std::string> UnknownCommand(std::span<const std::string> args,
                                          std::span<const std::string_view> commands);

/// CLI11's message for a parse error reworded: an unexpected argument or option is named in
/// quotes, a missing command or value says so; other messages (a validator's) stay as they are.
std::string UsageErrorText(std::string_view cli11Message, std::span<const std::string_view> commands);

/// The validator's message for a value of `--timeout` and the like that is not a number of
/// seconds from `min` to `max`.
std::string SecondsValueError(std::string_view text, double min, double max);

}  // namespace corvalink::cli
