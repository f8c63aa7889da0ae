#pragma once
// The verbose mode (-v): one line on standard error for each datagram sent or received, with
// what it is and, for one the core refused, why. The core reports through the datagram trace
// hook; this is the front end's side of it.

#include <string>

#include "platform/datagram_trace.h"

namespace corvalink::cli {

/// "> search 255.255.255.255:56415 54 bytes DD 80 00 36 search request", "< tftp
/// 198.18.0.10:40000 4 bytes ACK 0", "... refused: <reason>"; no line end. Texts a peer chose
/// (file names, error messages) are shown printable and cut short.
std::string FormatTrace(const DatagramTrace& trace);

/// Sets the hook that writes FormatTrace lines to standard error.
void EnableVerboseTrace();

}  // namespace corvalink::cli
