#pragma once
// What a fleet upgrade shows: one line per router while it runs, and at the end a summary
// table or JSON with each router's result. Pure formatting, so the tests can feed it any state.

#include <cstdint>
#include <string>
#include <vector>

namespace corvalink::cli {

/// Where one router's upgrade stands or how it ended.
enum class FleetState {
  Waiting,    ///< not started: every job slot is busy
  Asking,     ///< upgrade requests go out
  Sending,    ///< the image goes over TFTP
  Flashing,   ///< every block acknowledged; the router writes its flash
  Complete,
  NotFound,          ///< no router answered to the name given
  Ambiguous,         ///< several routers answered with the IP address given
  NoPassword,        ///< it has a password and none was given; nothing sent
  PasswordRefused,   ///< the password given is not its password; nothing sent
  NoAcknowledgement, ///< it never acknowledged the upgrade request; nothing transferred
  TransferFailed,
  Error,             ///< the system refused a socket
  Interrupted,       ///< Ctrl-C before or during the handshake or transfer
  FlashInterrupted,  ///< Ctrl-C during the flash wait: the image arrived whole
};

/// The word a state shows as in the table, the progress lines and the JSON: "complete",
/// "password-refused", ...
const char* FleetStateName(FleetState state);
/// The exit code a router in this final state stands for (EXIT_OK for Complete).
int FleetStateExitCode(FleetState state);

/// One router's row: what the progress line and the summary show.
struct FleetRow {
  std::string router;  ///< its MAC (12 digits), or the name given when none answered to it
  std::string ip;      ///< dotted; empty when none answered
  FleetState state = FleetState::Waiting;
  int requests = 0;    ///< upgrade requests sent
  uint64_t bytes = 0;  ///< bytes acknowledged
  uint64_t fileSize = 0;
  uint32_t retransmissions = 0;
  uint32_t flashMsLeft = 0;  ///< while Flashing
  uint32_t ms = 0;           ///< from its start to its end (or now)
  std::string message;       ///< why it failed, for people
};

/// "02C04C000001  198.18.0.10  sending  42%  1.2 MiB of 2.9 MiB  3 retransmissions".
std::string FormatFleetLine(const FleetRow& row);

/// The summary: a header line ROUTER, IP ADDRESS, RESULT, BYTES, RETRANSMISSIONS, TIME, one
/// line per row in the order given, then one line per failed router with its message.
std::string FormatFleetTable(const std::vector<FleetRow>& rows);

/// A JSON array of objects, one per row in the order given, with the keys "router", "ip"
/// (null when none), "result", "exit_code", "bytes", "file_size", "retransmissions",
/// "requests", "seconds" and "message".
std::string FormatFleetJson(const std::vector<FleetRow>& rows);

/// EXIT_OK when every row is Complete (and there is at least one), EXIT_INTERRUPTED when
/// `interrupted`, otherwise the exit code of the first row that is not Complete.
int FleetExitCode(const std::vector<FleetRow>& rows, bool interrupted);

}  // namespace corvalink::cli
