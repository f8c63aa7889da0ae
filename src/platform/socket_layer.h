#pragma once
// The socket layer under every datagram socket: its start-up, the handle type, the last error
// of a socket call as text for people, and the wait on several sockets at once. Each system
// has its side in socket_layer_posix.cpp / socket_layer_win32.cpp.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace corvalink {

/// A socket as the system names it: a descriptor on Linux, a SOCKET (pointer-sized) on
/// Windows. Wide enough for both; NO_SOCKET marks none, and every valid handle is >= 0.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle NO_SOCKET = -1;

using SocketLayerInit = std::function<bool()>;

/// Starts the socket layer; every program calls it before it opens a socket. Windows: asks
/// for Windows Sockets 1.1 and fails unless exactly 1.1 is granted. Linux: checks that an IPv4
/// datagram socket can be made (a sandbox or a kernel without IPv4 can refuse it).
bool InitializeSocketLayer();

/// The error of the last failed socket call on this thread (errno / WSAGetLastError).
int LastSocketError();
/// Forgets it, so a later LastSocketError() of 0 means the failure set no error.
void ClearSocketError();
/// The system's text for a socket error code, for people.
std::string SocketErrorText(int code);

/// One socket of a wait and what the wait found.
struct SocketWait {
  SocketHandle handle = NO_SOCKET;
  /// A datagram (or a pending socket error, which a read clears) is waiting.
  bool readable = false;
};

enum class WaitStatus {
  Ready,        ///< at least one socket is readable
  TimedOut,     ///< none became readable in time
  Interrupted,  ///< a signal cut the wait short (Linux); the caller looks at its stop flag
  Failed,       ///< the wait failed, e.g. a handle is not an open socket; `err` says why
};

/// Waits up to `timeoutMs` (0: only looks) until one of `sockets` is readable, and marks the
/// readable ones. On Windows a Ctrl-C does not cut a wait short, so callers that must stop
/// promptly wait in slices.
WaitStatus WaitForReadable(std::span<SocketWait> sockets, int timeoutMs, std::string* err);

}  // namespace corvalink
