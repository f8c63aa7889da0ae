#include "help_format.h"

namespace corvalink::cli {
namespace {

constexpr std::size_t LEFT_COLUMN = 28;

}  // namespace

std::string WrapText(std::string_view text, std::size_t width, std::size_t indent,
                     bool indentFirst) {
  std::string out;
  bool firstLine = true;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    std::string_view paragraph = text.substr(start, end == std::string_view::npos ? end : end - start);
    std::string line((firstLine && !indentFirst) ? 0 : indent, ' ');
    bool lineHasWord = false;
    auto flush = [&] {
      out += line + "\n";
      line.assign(indent, ' ');
      lineHasWord = false;
      firstLine = false;
    };
    for (std::size_t pos = 0; pos < paragraph.size();) {
      if (paragraph[pos] == ' ') {
        ++pos;
        continue;
      }
      std::size_t wordEnd = paragraph.find(' ', pos);
      if (wordEnd == std::string_view::npos) wordEnd = paragraph.size();
      const std::string_view word = paragraph.substr(pos, wordEnd - pos);
      if (lineHasWord && line.size() + 1 + word.size() > width) flush();
      if (lineHasWord) line += ' ';
      line += word;
      lineHasWord = true;
      pos = wordEnd;
    }
    flush();
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

HelpFormatter::HelpFormatter() { column_width(LEFT_COLUMN); }

std::string HelpFormatter::make_description(const CLI::App* /*app*/) const { return {}; }

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  std::string usage = CLI::Formatter::make_usage(app, std::move(name));
  while (!usage.empty() && usage.back() == '\n') usage.pop_back();
  // A positional that takes a varying count shows as "name(1x)"; its type name says it better.
  for (const CLI::Option* opt : app->get_options([](const CLI::Option* o) {
         return o->get_positional() && o->get_items_expected_min() != o->get_items_expected_max();
       })) {
    const std::string shown = opt->get_name() + "(";
    const std::size_t at = usage.find(" " + shown);
    const std::size_t end = at == std::string::npos ? at : usage.find(')', at);
    if (end != std::string::npos && !opt->get_type_name().empty()) {
      usage.replace(at + 1, end + 1 - (at + 1), opt->get_type_name());
    }
  }
  std::string out = WrapText(usage, HELP_WIDTH, 7, false);
  const std::string& description = app->get_description();
  if (!description.empty()) out += "\n" + WrapText(description, HELP_WIDTH, 0, false);
  return out;
}

std::string HelpFormatter::Entry(const std::string& left, const std::string& description) const {
  const std::string head = "  " + left;
  if (description.empty()) return head + "\n";
  if (head.size() + 1 > LEFT_COLUMN) {
    return head + "\n" + WrapText(description, HELP_WIDTH, LEFT_COLUMN, true);
  }
  // Every line indented to the column, then the first one's indent replaced by the name.
  std::string out = WrapText(description, HELP_WIDTH, LEFT_COLUMN, true);
  return out.replace(0, head.size(), head);
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool isPositional) const {
  return Entry(make_option_name(opt, isPositional) + make_option_opts(opt), make_option_desc(opt));
}

std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
  return Entry(sub->get_display_name(), sub->get_description());
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  const std::string& footer = app->get_footer();
  return footer.empty() ? std::string() : WrapText(footer, HELP_WIDTH, 0, false);
}

}  // namespace corvalink::cli
