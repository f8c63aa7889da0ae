// The command line's help layout, usage-error wording, verbose trace lines and interface table.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "discovery/packet_header.h"
#include "help_format.h"
#include "interfaces_command.h"
#include "trace_output.h"
#include "usage_errors.h"

namespace corvalink::cli {
namespace {

constexpr std::string_view COMMANDS[] = {"search", "install", "help"};

TEST(CliHelp, WrapTextBreaksAtSpacesWithinTheWidth) {
  struct Row {
    std::string text;
    std::size_t width, indent;
    bool indentFirst;
    std::string want;
  } rows[] = {
      {"aa bb cc", 5, 0, false, "aa bb\ncc\n"},
      {"aa bb cc", 6, 2, true, "  aa\n  bb\n  cc\n"},
      {"averyverylongword x", 5, 0, false, "averyverylongword\nx\n"},  // a long word stands alone
      {"one\ntwo  three", 80, 1, false, "one\n two three\n"},          // line ends are kept
      {"", 10, 0, false, "\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(WrapText(r.text, r.width, r.indent, r.indentFirst), r.want) << r.text;
}

TEST(CliHelp, UsageErrorsNameTheWord) {
  EXPECT_EQ(UnknownCommand(std::vector<std::string>{"-h", "foo", "search"}, COMMANDS), "foo");
  EXPECT_EQ(UnknownCommand(std::vector<std::string>{"search", "foo"}, COMMANDS), std::nullopt);
  EXPECT_EQ(UnknownCommand(std::vector<std::string>{"--version"}, COMMANDS), std::nullopt);
  const std::pair<std::string, std::string> rows[] = {
      {"The following argument was not expected: --bogus", "unknown option '--bogus'"},
      {"The following arguments were not expected: x y", "unexpected argument 'x'"},
      {"A subcommand is required", "which command? one of: search, install, help"},
      {"--timeout: 1 required SECONDS missing", "--timeout needs a value"},
      {"--timeout: 'x' is not a number of seconds", "--timeout: 'x' is not a number of seconds"},
  };
  for (const auto& [cli11, want] : rows) EXPECT_EQ(UsageErrorText(cli11, COMMANDS), want);
  EXPECT_EQ(SecondsValueError("abc", 0.01, 3600),
            "'abc' is not a number of seconds (a decimal from 0.01 to 3600)");
}

TEST(CliTrace, OneLinePerDatagramWithWhatItIsAndWhyItWasRefused) {
  const std::vector<uint8_t> search = {0xDD, 0x80, 0x00, 0x36, 0, 0};
  const std::vector<uint8_t> wrongType = {0xDD, 0x82};
  const std::vector<uint8_t> wrq = {0, 2, 'f', 'w', '.', 'a', 'l', 'l', 0, 'o', 'c', 't', 'e', 't', 0};
  const std::vector<uint8_t> data = {0, 3, 0x01, 0x00, 'x'};
  const std::vector<uint8_t> error = {0, 5, 0, 5, 'b', 'a', 'd', '\x1b', 0};
  const std::vector<uint8_t> runt = {7};
  const Endpoint bcast{{255, 255, 255, 255}, 56415};
  const Endpoint router{{198, 18, 0, 2}, 40000};
  struct Row {
    DatagramTrace trace;
    std::string want;
  } rows[] = {
      {{TraceChannel::Search, true, bcast, search, {}},
       "> search 255.255.255.255:56415 6 bytes DD 80 00 36 search request"},
      {{TraceChannel::Search, false, router, wrongType, PacketRefusal(wrongType, TYPE_SEARCH)},
       "< search 198.18.0.2:40000 2 bytes DD 82 upgrade reply refused: wrong type (a search "
       "reply is DD 80)"},
      {{TraceChannel::Upgrade, false, router, runt, PacketRefusal(runt, TYPE_UPGRADE)},
       "< upgrade 198.18.0.2:40000 1 byte 07 refused: wrong magic (not DD)"},
      {{TraceChannel::Tftp, true, router, wrq, {}}, "> tftp 198.18.0.2:40000 15 bytes WRQ \"fw.all\" \"octet\""},
      {{TraceChannel::Tftp, false, router, data, "stray TFTP sender"},
       "< tftp 198.18.0.2:40000 5 bytes DATA 256 refused: stray TFTP sender"},
      {{TraceChannel::Tftp, false, router, error, {}},
       "< tftp 198.18.0.2:40000 9 bytes ERROR 5 \"bad\\x1B\""},
      {{TraceChannel::Tftp, false, router, runt, {}}, "< tftp 198.18.0.2:40000 1 byte runt 07"},
  };
  for (const Row& r : rows) EXPECT_EQ(FormatTrace(r.trace), r.want);
  EXPECT_STREQ(PacketRefusal(search, TYPE_SEARCH), "");
}

TEST(CliInterfaces, TableShowsWhereASearchGoesAndTheState) {
  std::vector<InterfaceAddress> list(4);
  list[0] = {"lab0", "", Ipv4{198, 18, 0, 1}, Ipv4{255, 255, 255, 0}, Ipv4{0, 0, 0, 0}, false, true};
  list[1] = {"ppp0", "", Ipv4{10, 0, 0, 1}, Ipv4{255, 255, 255, 255}, std::nullopt, true, false};
  list[2] = {"eth9", "", std::nullopt, std::nullopt, std::nullopt, false, true};  // no IPv4
  list[3] = {"wlan-long1", "", Ipv4{192, 168, 7, 9}, Ipv4{255, 255, 0, 0}, Ipv4{192, 168, 255, 255}, false, false};
  EXPECT_EQ(FormatInterfaceTable(list),
            "NAME        ADDRESS          BROADCAST        STATE\n"
            "lab0        198.18.0.1       198.18.0.255     up\n"
            "ppp0        10.0.0.1         -                down\n"
            "wlan-long1  192.168.7.9      192.168.255.255  down\n");
  EXPECT_EQ(InterfaceSummary(list), "lab0 198.18.0.1 up, ppp0 10.0.0.1 down, wlan-long1 192.168.7.9 down");
  EXPECT_EQ(FormatInterfaceTable({list[2]}), "");
  EXPECT_EQ(InterfaceSummary({}), "none");
}

}  // namespace
}  // namespace corvalink::cli
