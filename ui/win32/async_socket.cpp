#include "win32/async_socket.h"

namespace corvalink {

bool AsyncSelect(const EventSocket& socket, HWND window, UINT message) {
  return AsyncSelect(socket.Descriptor(), window, message);
}

bool AsyncSelect(SocketHandle handle, HWND window, UINT message) {
  if (handle == NO_SOCKET) return false;
  return ::WSAAsyncSelect(static_cast<SOCKET>(handle), window, message, ASYNC_EVENTS) == 0;
}

}  // namespace corvalink
