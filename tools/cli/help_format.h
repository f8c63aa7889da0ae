#pragma once
// corvalink-cli's help as the tools beside it write theirs: the usage line first, then what
// the command does, the options and the commands, every line within 80 columns.

#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace corvalink::cli {

/// The longest help line, without its line end.
inline constexpr std::size_t HELP_WIDTH = 79;

/// `text` broken at spaces into lines of at most `width` characters (a longer word stands
/// alone); lines after the first start with `indent` spaces, and so does the first when
/// `indentFirst`. Line ends in `text` are kept. Each line ends with '\n'.
std::string WrapText(std::string_view text, std::size_t width, std::size_t indent,
                     bool indentFirst);

/// CLI11's formatter with the usage before the description and every entry wrapped.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter();
  std::string make_description(const CLI::App* app) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_option(const CLI::Option* opt, bool isPositional) const override;
  std::string make_subcommand(const CLI::App* sub) const override;
  std::string make_footer(const CLI::App* app) const override;

 private:
  std::string Entry(const std::string& left, const std::string& description) const;
};

}  // namespace corvalink::cli
