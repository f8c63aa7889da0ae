#include "platform/socket_layer.h"

// Winsock's fd_set is a counted array; the simulator watches one socket per transfer, more
// than the default 64.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <windows.h>

#include <memory>

#include "platform/win_error.h"

namespace corvalink {

bool InitializeSocketLayer() {
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
  // The programs are written to the Windows Sockets 1.1 rules; a layer that cannot give
  // exactly that version does not count. The layer is released when the process ends.
  if (data.wVersion != MAKEWORD(1, 1)) {
    ::WSACleanup();
    return false;
  }
  return true;
}

int LastSocketError() { return ::WSAGetLastError(); }

void ClearSocketError() { ::WSASetLastError(0); }

std::string SocketErrorText(int code) { return WindowsErrorText(static_cast<unsigned long>(code), "Windows Sockets"); }

WaitStatus WaitForReadable(std::span<SocketWait> sockets, int timeoutMs, std::string* err) {
  if (sockets.size() > FD_SETSIZE) {
    if (err != nullptr) *err = "too many sockets to wait for";
    return WaitStatus::Failed;
  }
  if (sockets.empty()) {  // select refuses an empty set instead of sleeping
    ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    return WaitStatus::TimedOut;
  }
  // Big (8 KiB), so off the stack.
  auto set = std::make_unique<fd_set>();
  FD_ZERO(set.get());
  for (SocketWait& s : sockets) {
    s.readable = false;
    FD_SET(static_cast<SOCKET>(s.handle), set.get());
  }
  if (timeoutMs < 0) timeoutMs = 0;
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  // The first argument is ignored by Winsock.
  const int r = ::select(0, set.get(), nullptr, nullptr, &tv);
  if (r == SOCKET_ERROR) {
    if (err != nullptr) *err = SocketErrorText(::WSAGetLastError());
    return WaitStatus::Failed;
  }
  if (r == 0) return WaitStatus::TimedOut;
  for (SocketWait& s : sockets) s.readable = FD_ISSET(static_cast<SOCKET>(s.handle), set.get()) != 0;
  return WaitStatus::Ready;
}

}  // namespace corvalink
