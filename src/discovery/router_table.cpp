#include "discovery/router_table.h"

#include <algorithm>

#include "password/scrambler.h"
#include "platform/ipv4.h"

namespace corvalink {

AddResult RouterTable::Add(const Packet& reply) {
  const RouterRecord incoming = DecodeReplyRecord(reply);
  // The list shows exactly the stored slots, one row each, so a MAC already stored is already
  // listed.
  if (FindByMac(incoming.macAddress)) return AddResult::Duplicate;
  // No room: the router is neither stored nor listed, so list and table stay in step.
  if (m_routerCount >= MAX_ROUTERS) return AddResult::TableFull;

  RouterRecord& slot = m_slots[static_cast<std::size_t>(m_routerCount)];
  // The reply carries only the first 12 password bytes. The rest of the slot is cleared rather
  // than kept: otherwise a reused slot would mix in the password tail of whichever router held
  // it in an earlier search, and the same router would be held under a different password.
  slot = incoming;
  Scramble(slot.password);
  ++m_routerCount;
  return AddResult::Added;
}

std::vector<int> RouterTable::NewestFirst() const {
  std::vector<int> slots;
  for (int slot = m_routerCount - 1; slot >= 0; --slot) slots.push_back(slot);
  return slots;
}

std::optional<int> RouterTable::FindByMac(const MacAddress& mac) const {
  for (int i = 0; i < m_routerCount; ++i) {
    if (Slot(i).macAddress == mac) return i;
  }
  return std::nullopt;
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

std::string LocationText(const RouterRecord& record) {
  const auto& loc = record.location;
  const auto end = std::find(loc.begin(), loc.end(), '\0');
  return std::string(loc.begin(), end);
}

RouterRowCells RowCells(const RouterRecord& record) {
  return {MacText(record.macAddress), Ipv4ToText(record.ipAddress), Ipv4ToText(record.ipMask),
          LocationText(record)};
}

}  // namespace corvalink
