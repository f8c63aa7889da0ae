#include "upgrade/upgrade_session.h"

#include <algorithm>

#include "discovery/search_loop.h"
#include "upgrade/upgrade_formats.h"

namespace corvalink {

HandshakeResult RunUpgradeHandshake(CUpgradeSocket& socket, const int32_t& acknowledged,
                                    const RouterRecord& router, const Endpoint& to, Clock& clock,
                                    const HandshakeOptions& options) {
  HandshakeResult result;
  const Packet request = BuildUpgradeRequest(router);
  const uint32_t start = clock.NowMs();
  auto descriptor = [&socket] { return socket.Descriptor(); };
  auto onReadable = [&socket] { socket.OnReceive(0); };
  auto done = [&] { return acknowledged != 0 || (options.stop && options.stop()); };

  for (;;) {
    if (acknowledged != 0) {
      result.end = HandshakeEnd::Acknowledged;
      return result;
    }
    if (options.stop && options.stop()) {
      result.end = HandshakeEnd::Stopped;
      return result;
    }
    const uint32_t elapsed = ElapsedMs(start, clock.NowMs());
    if (elapsed >= options.timeoutMs) {
      result.end = HandshakeEnd::Timeout;
      return result;
    }
    // A failed send is not reported: like a lost datagram, it shows as a reply that never comes.
    socket.SendRequest(request, to);
    ++result.requestsSent;
    if (options.onRequestSent) options.onRequestSent(result.requestsSent);
    const uint32_t wait = std::min(options.intervalMs, options.timeoutMs - elapsed);
    const PollResult waited = PollReadable(descriptor, onReadable, clock, wait, done);
    if (waited.end == PollEnd::Failed) {
      result.end = HandshakeEnd::Failed;
      result.error = waited.error;
      return result;
    }
    if (waited.end == PollEnd::Closed && acknowledged == 0) {
      result.end = HandshakeEnd::Failed;
      result.error = "the upgrade socket was closed before the router answered";
      return result;
    }
  }
}

}  // namespace corvalink
