#pragma once
// The exit codes of each program, in one place: scripts, the tests and the packaging rely on
// them, and the window program has two front ends (Qt, Win32) that must end alike.

namespace corvalink {

/// corvalink, the window program (either front end). A stored address and a Cancel both end
/// with EXIT_OK. The developer dialogs (--dev-dialog) end with the dialog's own result instead.
namespace gui {
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_SOCKETS_INIT_FAILED = 1;
inline constexpr int EXIT_SEARCH_SOCKET_FAILED = 2;
inline constexpr int EXIT_STORE_FAILED = 3;
inline constexpr int EXIT_NO_DISPLAY = 4;
/// An option or a --dev-dialog argument that could not be used; nothing was opened.
inline constexpr int EXIT_USAGE = 64;
}  // namespace gui

/// corvalink-cli. They never change meaning.
namespace cli {
enum ExitCode : int {
  EXIT_OK = 0,                 ///< routers found, address stored, upgrade complete
  EXIT_ERROR = 1,              ///< the system refused something (no socket, no route, ...)
  EXIT_USAGE = 2,              ///< bad command line, unknown interface, unreadable firmware file
  EXIT_NOT_FOUND = 3,          ///< no router answered, or not exactly one matched
  EXIT_STORE_FAILED = 4,       ///< the registry key is missing or the value could not be written
  EXIT_PASSWORD_REFUSED = 5,   ///< wrong password; nothing was sent to the router
  EXIT_HANDSHAKE_TIMEOUT = 6,  ///< the router did not acknowledge the upgrade request in time
  EXIT_TRANSFER_FAILED = 7,    ///< the TFTP transfer failed or was aborted
  EXIT_INTERRUPTED = 130,      ///< stopped by Ctrl-C or SIGTERM
};
}  // namespace cli

/// router_sim.
namespace sim {
inline constexpr int EXIT_OK = 0;        ///< stopped by a signal or after --max-seconds; --help
inline constexpr int EXIT_OPEN_FAILED = 1;  ///< a socket could not be opened or bound
inline constexpr int EXIT_USAGE = 2;     ///< bad options
}  // namespace sim

}  // namespace corvalink
