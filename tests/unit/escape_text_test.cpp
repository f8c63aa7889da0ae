#include "text/escape_text.h"

#include <gtest/gtest.h>

namespace corvalink {
namespace {

// Every way a received byte is shown to people: ASCII alone, Windows-1252 letters kept (the
// router list on a terminal), quoted, with a cut.
TEST(EscapeForPeople, ShowsTextAndEscapesWhatCouldMisleadAScreen) {
  const EscapeOptions ascii{}, letters{.letters = true}, spaces{.limit = 6, .alsoEscaped = " "};
  const struct {
    std::string in;
    const EscapeOptions& options;
    std::string out;
  } rows[] = {
      {"Lab room 1", ascii, "Lab room 1"},
      {"\x1B[31mred", letters, "\\x1B[31mred"},
      {"a\nb\rc\td", letters, "a\\x0Ab\\x0Dc\\x09d"},
      {"del\x7F", ascii, "del\\x7F"},
      {"c1\x81\x8D\x8F\x90\x9D", letters, "c1\\x81\\x8D\\x8F\\x90\\x9D"},
      {"\x80\x85\x9F", letters, "\xE2\x82\xAC\xE2\x80\xA6\xC5\xB8"},
      {"\x80\x85\x9F", ascii, "\\x80\\x85\\x9F"},
      {"caf\xE9 \xA0\xFF", letters, "caf\xC3\xA9 \xC2\xA0\xC3\xBF"},
      {"back\\x1B", ascii, "back\\x5Cx1B"},
      {std::string("nul\0end", 7), ascii, "nul\\x00end"},
      {"a b c d", spaces, "a\\x20b\\x20c\\x20..."},
      {"a b c", spaces, "a\\x20b\\x20c"},
  };
  for (const auto& row : rows) EXPECT_EQ(EscapeForPeople(row.in, row.options), row.out) << row.out;
}

TEST(QuoteForPeople, QuotesInsideAreEscapedAndACutIsShownInsideTheQuotes) {
  EXPECT_EQ(QuoteForPeople("say \"hi\""), "\"say \\x22hi\\x22\"");
  EXPECT_EQ(QuoteForPeople("abcdef", 3), "\"abc...\"");
  EXPECT_EQ(QuoteForPeople("abc", 3), "\"abc\"");
}

}  // namespace
}  // namespace corvalink
