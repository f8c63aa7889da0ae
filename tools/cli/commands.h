#pragma once
// The three commands of corvalink-cli. Each runs one job on the core from start to end, writes
// its results to standard output and at most one error line to standard error, and returns the
// process's exit code.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "discovery/packet_header.h"
#include "discovery/router_table.h"
#include "discovery/search_socket.h"
#include "platform/ms_clock.h"
#include "upgrade/tftp_client.h"
#include "password_input.h"

namespace corvalink::cli {

/// Options every command that searches takes.
struct SearchOptions {
  double timeoutSeconds = 2.0;
  /// Send a directed broadcast on this interface instead of the limited broadcast.
  std::string interfaceName;
  /// Also ask these (an address, or a block swept address by address), for routed subnets.
  std::vector<std::string> targets;
  /// For tests: send the search here (a.b.c.d:port) instead of broadcasting.
  std::string destination;
};

struct SearchCommand {
  SearchOptions search;
  bool json = false;
};

struct InstallCommand {
  SearchOptions search;
  std::string router;
};

struct UpgradeCommand {
  SearchOptions search;
  std::string router;
  std::string file;
  bool passwordStdin = false;
  double handshakeTimeoutSeconds = 30.0;
  /// For tests: the ports a simulator listens on instead of the routers' own.
  uint16_t upgradePort = DISCOVERY_PORT;
  uint16_t tftpPort = TFTP_PORT;
};

/// What one search found.
struct Discovery {
  RouterTable table;
  /// Where each stored router answered, by slot.
  std::array<ReplyArrival, MAX_ROUTERS> arrivals{};
  /// Routers that answered after the table was full: neither stored nor shown. Each counted
  /// once, however often it answered.
  std::vector<MacAddress> turnedAway;
  std::string where;
};

/// One search, as the window's "Search" makes it, collected for the time given. `stopWhen` ends
/// it early once the caller has what it needs. Errors are written to standard error; returns
/// EXIT_OK or the code to end with.
int Discover(const SearchOptions& options, Clock& clock, Discovery& found,
             const std::function<bool()>& stopWhen = {});

int RunSearchCommand(const SearchCommand& command);
int RunInstallCommand(const InstallCommand& command);
int RunUpgradeCommand(const UpgradeCommand& command);

/// Flushes standard output and returns `code`, or, when a write to standard output failed at
/// any time in the run (a full disk, a closed pipe), says so on standard error and returns
/// EXIT_ERROR in place of EXIT_OK.
int EndOutput(int code);

/// Writes "corvalink-cli: <message>" as one line on standard error; line ends and other
/// control characters in the message become spaces.
void PrintError(const std::string& message);

/// How a password read ends the command: EXIT_OK when it read a password, else the error said
/// on standard error and EXIT_INTERRUPTED (Ctrl-C) or EXIT_ERROR (`err`).
int PasswordReadExit(PasswordRead read, const std::string& err);

}  // namespace corvalink::cli
