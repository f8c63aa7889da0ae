#include "discovery/router_table.h"

#include <algorithm>

#include "password/scrambler.h"

namespace corvalink {
namespace {

/// The stored slots, whatever a caller may have done to the count.
int StoredCount(const RouterTable& table) { return std::clamp(table.routerCount, 0, MAX_ROUTERS); }

/// A character's value as a hexadecimal digit. Letters A-F in either case are 10-15; for any
/// other character its code minus '0', which is the digit's value for 0-9. Only the low 8 bits
/// of the parsed byte are kept, so non-digits give a defined if meaningless byte.
int HexValue(char c) {
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return static_cast<unsigned char>(c) - 0x30;
}

}  // namespace

AddResult AddRouterFromReply(RouterTable& table, const Packet& reply) {
  const RouterRecord incoming = DecodeReplyRecord(reply);
  const int stored = StoredCount(table);

  // The list shows exactly the slots 0..routerCount-1, one row each, by MAC text; comparing the
  // MAC bytes of those slots is the same test as comparing the rows' texts without case.
  for (int i = 0; i < stored; ++i) {
    if (table.slots[static_cast<std::size_t>(i)].macAddress == incoming.macAddress) {
      return AddResult::Duplicate;
    }
  }
  // No room: the router is neither stored nor listed, so list and table stay in step.
  if (table.routerCount < 0 || table.routerCount >= MAX_ROUTERS) return AddResult::TableFull;

  RouterRecord& slot = table.slots[static_cast<std::size_t>(table.routerCount)];
  // The reply carries only the first 12 password bytes. The rest of the slot is cleared rather
  // than kept: otherwise a reused slot would mix in the password tail of whichever router held
  // it in an earlier search, and the same router would be held under a different password.
  slot = incoming;
  Scramble(slot.password);
  ++table.routerCount;
  return AddResult::Added;
}

void MacToText(std::span<const uint8_t, MAC_SIZE> mac, std::span<char, 12> out) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < MAC_SIZE; ++i) {
    out[2 * i] = DIGITS[mac[i] >> 4];
    out[2 * i + 1] = DIGITS[mac[i] & 0x0F];
  }
}

std::string MacText(const MacAddress& mac) {
  std::array<char, 12> text{};
  MacToText(mac, text);
  return std::string(text.data(), text.size());
}

void ParseMacText(const char* text, std::span<uint8_t> dest) {
  if (text == nullptr) return;
  std::size_t out = 0;
  // Pairs only: a last odd character writes nothing; the destination bounds the rest.
  for (const char* p = text; p[0] != '\0' && p[1] != '\0' && out < dest.size(); p += 2) {
    dest[out++] = static_cast<uint8_t>((16 * HexValue(p[0]) + HexValue(p[1])) & 0xFF);
  }
}

void SelectRouterByMacText(const RouterTable& table, RouterRecord& selected, const char* text) {
  ParseMacText(text, selected.macAddress);
  const int stored = StoredCount(table);
  for (int i = 0; i < stored; ++i) {
    const RouterRecord& slot = table.slots[static_cast<std::size_t>(i)];
    if (slot.macAddress == selected.macAddress) {
      selected = slot;
      return;
    }
  }
}

std::string LocationText(const RouterRecord& record) {
  const auto& loc = record.location;
  const auto end = std::find(loc.begin(), loc.end(), '\0');
  return std::string(loc.begin(), end);
}

}  // namespace corvalink
