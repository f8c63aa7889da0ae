#include "platform/datagram_trace.h"

#include <utility>

namespace corvalink {
namespace {

DatagramTraceHook& Hook() {
  static DatagramTraceHook hook;
  return hook;
}

}  // namespace

void SetDatagramTraceHook(DatagramTraceHook hook) { Hook() = std::move(hook); }

bool DatagramTraceOn() { return static_cast<bool>(Hook()); }

void TraceDatagram(TraceChannel channel, bool sent, const Endpoint& peer,
                   std::span<const uint8_t> bytes, std::string_view refusedBecause) {
  const DatagramTraceHook& hook = Hook();
  if (!hook) return;
  hook(DatagramTrace{channel, sent, peer, bytes, refusedBecause});
}

}  // namespace corvalink
