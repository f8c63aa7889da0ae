#pragma once
// The parallel half of a fleet upgrade: the routers whose passwords were checked, each upgraded
// on a job of its own, at most `jobs` at once, while the calling thread shows their progress.

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/router_record.h"
#include "platform/console.h"
#include "fleet_report.h"
#include "upgrade/router_upgrade.h"

namespace corvalink::cli {

/// One router of the fleet. Routers whose row is already final (not found, password refused,
/// ...) are shown but not upgraded.
struct FleetTarget {
  RouterRecord record{};
  FleetRow row;
};

/// How the progress reaches its reader.
enum class FleetDisplay {
  Lines,  ///< a plain line per change of state (a file, a pipe, the verbose trace)
  Block,  ///< a terminal: one line per router, redrawn in place
};

struct FleetRunOptions {
  std::string file;
  int jobs = 8;
  RouterUpgradeOptions upgrade;  ///< its stop and onProgress are the run's own
  std::FILE* out = stdout;
  /// The stream `out` is, for the terminal's width.
  ConsoleStream stream = ConsoleStream::Output;
  FleetDisplay display = FleetDisplay::Lines;
};

/// Upgrades every target whose row is Waiting and fills in its row. Returns when all have
/// ended. Ctrl-C (InterruptRequested) stops the running ones and starts no more: those end as
/// Interrupted or FlashInterrupted.
void RunFleet(std::vector<FleetTarget>& targets, const FleetRunOptions& options);

/// The display a terminal of `rows` rows can hold for `routers` routers.
FleetDisplay ChooseFleetDisplay(bool terminal, bool sequences, bool tracing, int rows,
                                std::size_t routers);

}  // namespace corvalink::cli
