#include "router_output.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "discovery/router_table.h"
#include "text/ansi_text.h"
#include "text/escape_text.h"

namespace corvalink::cli {
namespace {

// "lab0 198.18.0.1", or "-" when the reply's interface is not known.
std::string ArrivalText(const ReplyArrival& a) {
  if (a.interfaceName.empty() && a.localAddress == Ipv4{}) return "-";
  if (a.interfaceName.empty()) return Ipv4ToText(a.localAddress);
  return TerminalSafe(a.interfaceName) + " " + Ipv4ToText(a.localAddress);
}

// Columns are padded by characters on screen, not by bytes of UTF-8.
std::size_t ScreenWidth(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(),
                    [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  out.append(width - std::min(width, ScreenWidth(text)) + 2, ' ');
}

}  // namespace

std::string TerminalSafe(std::string_view bytes) {
  return EscapeForPeople(bytes, {.letters = true});
}

std::string FormatRouterTable(const RouterTable& table, std::span<const ReplyArrival> arrivals) {
  struct Row {
    std::string mac, ip, mask, via, location;
  };
  const bool withVia = !arrivals.empty();
  std::vector<Row> rows;
  // In list order: the newest reply on top, as the windows' lists show them.
  for (int slot : table.NewestFirst()) {
    RouterRowCells cells = RowCells(table.Slot(slot));
    const auto s = static_cast<std::size_t>(slot);
    rows.push_back({std::move(cells.mac), std::move(cells.ip), std::move(cells.mask),
                    withVia && s < arrivals.size() ? ArrivalText(arrivals[s]) : "-",
                    TerminalSafe(cells.location)});
  }
  if (rows.empty()) return {};
  Row heading{"MAC ADDRESS", "IP ADDRESS", "IP MASK", "INTERFACE", "Location"};
  std::size_t wMac = heading.mac.size(), wIp = heading.ip.size(), wMask = heading.mask.size();
  std::size_t wVia = heading.via.size();
  for (const Row& row : rows) {
    wMac = std::max(wMac, row.mac.size());
    wIp = std::max(wIp, row.ip.size());
    wMask = std::max(wMask, row.mask.size());
    wVia = std::max(wVia, ScreenWidth(row.via));
  }
  std::string out;
  auto line = [&](const Row& row) {
    AppendPadded(out, row.mac, wMac);
    AppendPadded(out, row.ip, wIp);
    AppendPadded(out, row.mask, wMask);
    if (withVia) AppendPadded(out, row.via, wVia);
    out += row.location;
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  };
  line(heading);
  for (const Row& row : rows) line(row);
  return out;
}

std::string FormatRouterJson(const RouterTable& table, bool pretty,
                             std::span<const ReplyArrival> arrivals) {
  nlohmann::ordered_json routers = nlohmann::ordered_json::array();
  for (int slot : table.NewestFirst()) {
    const RouterRowCells cells = RowCells(table.Slot(slot));
    nlohmann::ordered_json router;
    router["mac"] = cells.mac;
    router["ip"] = cells.ip;
    router["mask"] = cells.mask;
    router["location"] = AnsiToUtf8(cells.location);
    if (!arrivals.empty()) {
      const ReplyArrival none;
      const auto s = static_cast<std::size_t>(slot);
      const ReplyArrival& a = s < arrivals.size() ? arrivals[s] : none;
      // Windows names interfaces in its ANSI code page, as it names everything here.
      router["interface"] = a.interfaceName.empty() ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(AnsiToUtf8(a.interfaceName));
      router["local_ip"] = a.localAddress == Ipv4{} ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(Ipv4ToText(a.localAddress));
    }
    routers.push_back(std::move(router));
  }
  return routers.dump(pretty ? 2 : -1) + "\n";
}

}  // namespace corvalink::cli
