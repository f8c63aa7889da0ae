#include "interfaces_command.h"

#include <algorithm>
#include <cstdio>

#include "app/exit_codes.h"
#include "commands.h"
#include "discovery/interface_broadcast.h"
#include "router_output.h"

namespace corvalink::cli {
namespace {

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

}  // namespace

std::string FormatInterfaceTable(const std::vector<InterfaceAddress>& list) {
  struct Row {
    std::string name, address, broadcast, state;
  };
  std::vector<Row> rows;
  std::size_t nameWidth = 4;  // "NAME"
  for (const InterfaceAddress& a : list) {
    if (!a.address) continue;
    const std::optional<Ipv4> broadcast = SearchBroadcast(a);
    rows.push_back({TerminalSafe(a.name), Ipv4ToText(*a.address),
                    broadcast ? Ipv4ToText(*broadcast) : "-", a.up ? "up" : "down"});
    nameWidth = std::max(nameWidth, rows.back().name.size());
  }
  if (rows.empty()) return {};
  std::string out = Pad("NAME", nameWidth + 2) + Pad("ADDRESS", 17) + Pad("BROADCAST", 17) + "STATE\n";
  for (const Row& r : rows) {
    out += Pad(r.name, nameWidth + 2) + Pad(r.address, 17) + Pad(r.broadcast, 17) + r.state + "\n";
  }
  return out;
}

std::string InterfaceSummary(const std::vector<InterfaceAddress>& list) {
  std::string out;
  for (const InterfaceAddress& a : list) {
    if (!a.address) continue;
    out += (out.empty() ? "" : ", ") + TerminalSafe(a.name) + " " + Ipv4ToText(*a.address) +
           (a.up ? " up" : " down");
  }
  return out.empty() ? "none" : out;
}

std::string SystemInterfaceSummary() {
  std::vector<InterfaceAddress> list;
  std::string err;
  if (!ListInterfaceAddresses(&list, &err)) return "they cannot be listed: " + err;
  return InterfaceSummary(list);
}

int RunInterfacesCommand() {
  std::vector<InterfaceAddress> list;
  std::string err;
  if (!ListInterfaceAddresses(&list, &err)) {
    PrintError("cannot list the network interfaces: " + err);
    return EXIT_ERROR;
  }
  const std::string table = FormatInterfaceTable(list);
  if (table.empty()) {
    PrintError("no network interface has an IPv4 address");
    return EXIT_NOT_FOUND;
  }
  std::fputs(table.c_str(), stdout);
  return EXIT_OK;
}

}  // namespace corvalink::cli
