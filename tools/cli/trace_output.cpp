#include "trace_output.h"

#include <cstdio>
#include <string_view>

#include "discovery/packet_header.h"
#include "platform/byte_order.h"
#include "upgrade/tftp_packets.h"
#include "text/escape_text.h"

namespace corvalink::cli {
namespace {

constexpr std::size_t SHOWN_TEXT = 40;

std::string Hex(std::span<const uint8_t> bytes, std::size_t count) {
  std::string out;
  char b[4];
  for (std::size_t i = 0; i < bytes.size() && i < count; ++i) {
    std::snprintf(b, sizeof b, "%s%02X", i == 0 ? "" : " ", bytes[i]);
    out += b;
  }
  return out;
}

// The NUL-terminated text at `at`, quoted and escaped, cut short.
std::string PeerText(std::span<const uint8_t> bytes, std::size_t at) {
  std::size_t end = at;
  while (end < bytes.size() && bytes[end] != 0) ++end;
  if (at >= end) return "\"\"";
  return QuoteForPeople(
      std::string_view(reinterpret_cast<const char*>(bytes.data() + at), end - at), SHOWN_TEXT);
}

// The routers' own protocol: the header's bytes and the datagram's name.
std::string DescribeFamily(const DatagramTrace& t) {
  std::string out = Hex(t.bytes, PACKET_HEADER_SIZE);
  if (t.bytes.size() < 2 || t.bytes[0] != PACKET_MAGIC) return out;
  const char* kind = t.bytes[1] == TYPE_SEARCH    ? "search"
                     : t.bytes[1] == TYPE_UPGRADE ? "upgrade"
                                                  : nullptr;
  if (kind == nullptr) return out;
  return out + " " + kind + (t.sent ? " request" : " reply");
}

// TFTP (RFC 1350 sec. 5): the opcode and what follows it.
std::string DescribeTftp(std::span<const uint8_t> b) {
  if (b.size() < 2) return "runt " + Hex(b, 2);
  const uint16_t op = GetU16Be(b, 0);
  const std::string number = b.size() >= 4 ? std::to_string(GetU16Be(b, 2)) : "?";
  switch (op) {
    case TFTP_OP_RRQ:
    case TFTP_OP_WRQ: {
      std::string out = op == TFTP_OP_RRQ ? "RRQ " : "WRQ ";
      out += PeerText(b, 2);
      std::size_t modeAt = 2;
      while (modeAt < b.size() && b[modeAt] != 0) ++modeAt;
      return out + " " + PeerText(b, modeAt + 1);
    }
    case TFTP_OP_DATA:
      return "DATA " + number;
    case TFTP_OP_ACK:
      return "ACK " + number;
    case TFTP_OP_ERROR:
      return "ERROR " + number + " " + PeerText(b, 4);
    default:
      return "opcode " + std::to_string(op);
  }
}

}  // namespace

std::string FormatTrace(const DatagramTrace& t) {
  const char* channel = t.channel == TraceChannel::Search    ? "search"
                        : t.channel == TraceChannel::Upgrade ? "upgrade"
                                                             : "tftp";
  std::string line = std::string(t.sent ? "> " : "< ") + channel + " " +
                     Ipv4ToText(t.peer.address) + ":" + std::to_string(t.peer.port) + " " +
                     std::to_string(t.bytes.size()) + (t.bytes.size() == 1 ? " byte " : " bytes ");
  line += t.channel == TraceChannel::Tftp ? DescribeTftp(t.bytes) : DescribeFamily(t);
  if (!t.refusedBecause.empty()) line += " refused: " + std::string(t.refusedBecause);
  return line;
}

void EnableVerboseTrace() {
  SetDatagramTraceHook([](const DatagramTrace& t) {
    std::fflush(stdout);  // keep the order of the two streams on one terminal
    std::fprintf(stderr, "%s\n", FormatTrace(t).c_str());
  });
}

}  // namespace corvalink::cli
