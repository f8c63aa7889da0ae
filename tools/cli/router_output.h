#pragma once
// How the command line shows the routers a search found: a table in the router list's order
// and columns, or JSON for scripts. A router's location is 24 bytes of single-byte text that
// the router chose; it is shown as Windows-1252, and in the table its control bytes are escaped, so
// a router cannot move the cursor or recolour the terminal of whoever runs a search.

#include <span>
#include <string>
#include <string_view>

#include "discovery/router_table.h"
#include "discovery/search_socket.h"

namespace corvalink::cli {

/// Windows-1252 to UTF-8 with the bytes that stand for C0 and C1 controls, DEL and the backslash
/// written as \xNN (EscapeForPeople), so the text is printable and the escaping cannot be forged.
std::string TerminalSafe(std::string_view bytes);

/// One line per router, newest first, under the headings MAC ADDRESS, IP ADDRESS, IP MASK and
/// Location; nothing at all for an empty table. With `arrivals` (one per slot, as many as the
/// table holds), an INTERFACE column before Location: the interface's name and local address
/// each router answered on, "-" where that is not known.
std::string FormatRouterTable(const RouterTable& table,
                              std::span<const ReplyArrival> arrivals = {});

/// A JSON array, newest first, of objects with the keys "mac", "ip", "mask" and "location",
/// and with `arrivals`, "interface" and "local_ip" (null where not known), pretty-printed when
/// `pretty`. Locations are Windows-1252 written as UTF-8; control characters are escaped by the
/// JSON writer.
std::string FormatRouterJson(const RouterTable& table, bool pretty,
                             std::span<const ReplyArrival> arrivals = {});

}  // namespace corvalink::cli
