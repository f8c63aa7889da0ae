#pragma once
// corvalink-cli's fleet upgrade: one image to many routers at once. The routers named (or
// every router a search finds) are looked up in one search, their passwords checked as the
// single upgrade checks them, and each then goes through the whole upgrade on a job of its own,
// with its own sockets, so the transfers and the flash waits overlap.

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace corvalink::cli {

inline constexpr int FLEET_DEFAULT_JOBS = 8;

struct FleetCommand {
  SearchOptions search;
  std::string file;
  /// MAC or IP addresses as the user wrote them; empty with `all`.
  std::vector<std::string> routers;
  bool all = false;
  /// With `all`: go on without showing the list and asking first.
  bool yes = false;
  int jobs = FLEET_DEFAULT_JOBS;
  std::string passwordFile;
  bool passwordStdin = false;
  bool json = false;
  double handshakeTimeoutSeconds = 30.0;
  uint16_t upgradePort = DISCOVERY_PORT;
  uint16_t tftpPort = TFTP_PORT;
};

/// Runs the fleet upgrade to its end (or Ctrl-C) and returns the exit code: EXIT_OK only when
/// every router named was upgraded.
int RunFleetUpgradeCommand(const FleetCommand& command);

}  // namespace corvalink::cli
