#include "junk.h"

#include <chrono>
#include <cstring>

namespace corvalink::sim {
namespace {

// The largest UDP payload that fits one Ethernet frame without fragments.
constexpr std::size_t OVERLONG_SIZE = 1472;
constexpr std::size_t LONG_EXTRA = 12;
constexpr char FOREIGN_TEXT[] = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n\r\n";

uint32_t MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

}  // namespace

std::optional<JunkKind> ParseJunkKind(std::string_view name) {
  struct Entry {
    std::string_view name;
    JunkKind kind;
  };
  static constexpr Entry ENTRIES[] = {
      {"empty", JunkKind::Empty},           {"onebyte", JunkKind::OneByte},
      {"short", JunkKind::Short},           {"long", JunkKind::Long},
      {"wrongmagic", JunkKind::WrongMagic}, {"wrongtype", JunkKind::WrongType},
      {"overlong", JunkKind::OverLong},     {"foreign", JunkKind::Foreign},
  };
  for (const Entry& e : ENTRIES) {
    if (e.name == name) return e.kind;
  }
  return std::nullopt;
}

std::vector<uint8_t> MakeJunk(JunkKind kind, const SimRouter& router) {
  ReplyBytes reply = BuildSimSearchReply(router);
  switch (kind) {
    case JunkKind::Empty:
      return {};
    case JunkKind::OneByte:
      return {0xDD};
    case JunkKind::Short:
      return {0xDD, 0x80};
    case JunkKind::Long: {
      std::vector<uint8_t> b(reply.begin(), reply.end());
      b.resize(SIM_REPLY_SIZE + LONG_EXTRA, 0xEE);
      return b;
    }
    case JunkKind::WrongMagic:
      reply[0] = 0xDC;
      return {reply.begin(), reply.end()};
    case JunkKind::WrongType:
      reply[1] = 0x82;
      return {reply.begin(), reply.end()};
    case JunkKind::OverLong: {
      std::vector<uint8_t> b(OVERLONG_SIZE);
      for (std::size_t i = 2; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
      return b;
    }
    case JunkKind::Foreign:
      return {FOREIGN_TEXT, FOREIGN_TEXT + sizeof FOREIGN_TEXT - 1};
  }
  return {};
}

FloodResult SendFlood(DatagramSocket& socket, const Endpoint& target, int count, uint32_t maxMs) {
  SimRouter filler;
  std::vector<std::vector<uint8_t>> datagrams;
  for (JunkKind kind : FLOOD_KINDS) datagrams.push_back(MakeJunk(kind, filler));

  FloodResult result;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    // Reading the clock costs more than a send; every 256th datagram is often enough.
    if ((i & 0xFF) == 0 && MsSince(start) >= maxMs) break;
    const auto& d = datagrams[static_cast<std::size_t>(i) % datagrams.size()];
    if (socket.SendTo(d, target) < 0) {
      ++result.failed;
    } else {
      ++result.sent;
    }
  }
  result.elapsedMs = MsSince(start);
  return result;
}

}  // namespace corvalink::sim
