#pragma once
// One router's whole upgrade without a window: the handshake, then the TFTP transfer and the
// wait while the router writes its flash. Everything it uses belongs to the call (its own
// upgrade socket, TFTP socket, progress model and clock), so several may run at once, one per
// thread, for a fleet of routers.

#include <cstdint>
#include <functional>
#include <string>

#include "discovery/packet_header.h"
#include "discovery/router_record.h"
#include "platform/ipv4.h"
#include "upgrade/flash_wait.h"

namespace corvalink {

enum class RouterUpgradeStage {
  Handshake,  ///< upgrade requests go out until the router acknowledges
  Transfer,   ///< the image goes over TFTP
  FlashWait,  ///< every block was acknowledged; the router writes its flash
};

enum class RouterUpgradeEnd {
  Complete,          ///< the image went over and the flash wait was seen through
  SocketFailed,      ///< no upgrade socket, or it could not be waited on; nothing was transferred
  HandshakeTimeout,  ///< no acknowledgement in time; nothing was transferred
  HandshakeStopped,  ///< stopped before the router acknowledged; nothing was transferred
  TransferFailed,    ///< the transfer failed; `transfer` says how
  /// Stopped during the transfer; the router was sent an ERROR.
  TransferStopped,
  /// Stopped during the flash wait: the image arrived whole and the router may still write it.
  FlashWaitStopped,
};

/// What a caller sees while the upgrade runs.
struct RouterUpgradeProgress {
  RouterUpgradeStage stage = RouterUpgradeStage::Handshake;
  int requestsSent = 0;
  TftpStats stats;
  /// The time the flash wait still lasts (FlashWait::MsLeft).
  uint32_t flashMsLeft = 0;
};

struct RouterUpgradeOptions {
  uint32_t handshakeTimeoutMs = 30000;
  uint16_t upgradePort = DISCOVERY_PORT;
  uint16_t tftpPort = TFTP_PORT;
  /// Asked often (during waits too); true stops the upgrade. May be empty.
  std::function<bool()> stop;
  /// Called on the upgrading thread at each change of stage, after each request and each
  /// acknowledged block, and now and then during the flash wait. May be empty.
  std::function<void(const RouterUpgradeProgress&)> onProgress;
};

struct RouterUpgradeResult {
  RouterUpgradeEnd end = RouterUpgradeEnd::SocketFailed;
  int requestsSent = 0;
  TftpResult transfer;  ///< outcome Ok and empty stats until a transfer ran
  std::string message;  ///< for people, when the end is not Complete
  bool ok() const { return end == RouterUpgradeEnd::Complete; }
};

/// Upgrades `router` (its record as the search stored it, password included) with the file at
/// `path`, which the caller checked. Blocks until the end. Thread-safe as long as each call has
/// its own `clock` or a clock that may be read from several threads (MsClock).
RouterUpgradeResult RunRouterUpgrade(const RouterRecord& router, const std::string& path,
                                     Clock& clock, const RouterUpgradeOptions& options);

}  // namespace corvalink
