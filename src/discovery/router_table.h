#pragma once
// The routers found by the current search, in the order their first replies arrived. The GUI's
// lists and the CLI's output are all drawn from this table, and each list row keeps the slot of
// the router it shows.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "discovery/router_record.h"
#include "discovery/search_formats.h"

namespace corvalink {

inline constexpr int MAX_ROUTERS = 30;

enum class AddResult {
  Added,      ///< stored in slot Count() - 1; the list shows it as its new row 0
  Duplicate,  ///< a router with this MAC is already stored; nothing changed
  TableFull,  ///< MAX_ROUTERS are stored; neither stored nor listed
};

class RouterTable {
 public:
  /// Forgets the routers of the last search. Their slots keep their bytes until reused; only
  /// slots 0..Count()-1 can be reached.
  void Clear() { m_routerCount = 0; }

  /// Stores a new router from an accepted search reply and scrambles its password at once.
  AddResult Add(const Packet& reply);

  int Count() const { return m_routerCount; }

  /// The router in `slot`, 0 <= slot < Count(); slot 0 answered first.
  const RouterRecord& Slot(int slot) const { return m_slots[static_cast<std::size_t>(slot)]; }
  /// Copies the router in `slot` into `out` (the list row's router becoming the chosen one);
  /// false, leaving `out` alone, when the slot holds no router of the current search.
  bool CopySlot(int slot, RouterRecord& out) const {
    if (slot < 0 || slot >= m_routerCount) return false;
    out = Slot(slot);
    return true;
  }

  /// The slots in list order, newest first: Count()-1 down to 0.
  std::vector<int> NewestFirst() const;

  /// The slot of the stored router with this MAC, if any.
  std::optional<int> FindByMac(const MacAddress& mac) const;

  friend bool operator==(const RouterTable&, const RouterTable&) = default;

 private:
  std::array<RouterRecord, MAX_ROUTERS> m_slots{};
  int m_routerCount = 0;  ///< 0..MAX_ROUTERS, changed only by Clear and Add
};

/// Writes the 12 upper-case hexadecimal digits of `mac` to out[0..11]; no terminator.
void MacToText(std::span<const uint8_t, MAC_SIZE> mac, std::span<char, 12> out);
/// The same as a string.
std::string MacText(const MacAddress& mac);

/// The location as shown: up to its NUL, or all 24 bytes when it holds none.
std::string LocationText(const RouterRecord& record);

/// The cells of a router's row in every list of routers, in column order. The location is the
/// router's own bytes (Windows-1252); each front end turns it into its own kind of text.
struct RouterRowCells {
  std::string mac;       ///< 12 upper-case hexadecimal digits
  std::string ip;        ///< dotted quad
  std::string mask;      ///< dotted quad
  std::string location;  ///< as LocationText
};
RouterRowCells RowCells(const RouterRecord& record);

}  // namespace corvalink
