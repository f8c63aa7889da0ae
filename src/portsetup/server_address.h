#pragma once
// Stores the chosen router's address where the printer-port software reads it, and reads it back
// for printing: the value "Server IP" under HKEY_LOCAL_MACHINE "SOFTWARE\DED Orezadu Devo",
// REG_SZ, always 60 bytes.

#include <array>
#include <cstdint>
#include <string>

#include "platform/ipv4.h"
#include "platform/registry.h"

namespace corvalink {

inline constexpr char SERVER_IP_VALUE[] = "Server IP";
inline constexpr std::size_t SERVER_IP_DATA_SIZE = 60;

/// The dotted address, a NUL, zeros up to 60 bytes.
std::array<uint8_t, SERVER_IP_DATA_SIZE> BuildServerIpData(const Ipv4& address);

/// Opens the existing key for writing (never creates it) and writes the value. False with a
/// message naming the key and the cause when the key is missing, not writable, or the write fails.
bool StoreServerAddress(const Registry& registry, const Ipv4& address, std::string* err);

/// Reads "Server IP" as the printer-port software does: the text before the first NUL of the
/// string value. True with `address` when that text is a dotted address as StoreServerAddress
/// writes it (no leading zeros, nothing around it) and one a print job can be sent to; false
/// with `reason`, for people, when the value is missing, not a string, not such an address, or
/// 0.0.0.0/8 ("this host"), multicast or reserved (224.0.0.0 and above, broadcast included).
bool ReadServerAddress(const Registry& registry, Ipv4* address, std::string* reason);

}  // namespace corvalink
