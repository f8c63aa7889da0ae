#pragma once
// The routers found by the current search, in the order their first replies arrived, and the
// one the user chose last. The GUI's list and the CLI's output are both drawn from this table.

#include <array>
#include <cstdint>

#include "discovery/router_record.h"

namespace corvalink {

inline constexpr int MAX_ROUTERS = 30;

struct RouterTable {
  std::array<RouterRecord, MAX_ROUTERS> slots{};
  /// Records stored by the current search; a search resets only this count.
  int32_t routerCount = 0;
};

}  // namespace corvalink

#include <span>
#include <string>

#include "discovery/search_formats.h"

namespace corvalink {

enum class AddResult {
  Added,      ///< stored in slot routerCount - 1; the list shows it as its new row 0
  Duplicate,  ///< a router with this MAC is already listed; nothing changed
  TableFull,  ///< MAX_ROUTERS are stored; neither stored nor listed
};

/// Stores a new router from an accepted search reply and scrambles its password at once.
AddResult AddRouterFromReply(RouterTable& table, const Packet& reply);

/// Writes the 12 upper-case hexadecimal digits of `mac` to out[0..11]; no terminator.
void MacToText(std::span<const uint8_t, MAC_SIZE> mac, std::span<char, 12> out);
/// The same as a string.
std::string MacText(const MacAddress& mac);

/// Turns pairs of hexadecimal digits of the NUL-terminated `text` into bytes, writing at most
/// dest.size() bytes; an odd last character writes nothing.
void ParseMacText(const char* text, std::span<uint8_t> dest);

/// Parses `text` into selected.macAddress, then copies the first stored record with that MAC
/// (slots 0..routerCount-1) into `selected`. With no match, only macAddress changes.
void SelectRouterByMacText(const RouterTable& table, RouterRecord& selected, const char* text);

/// The location as shown: up to its NUL, or all 24 bytes when it holds none.
std::string LocationText(const RouterRecord& record);

}  // namespace corvalink
