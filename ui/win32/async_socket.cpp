#include "win32/async_socket.h"

namespace corvalink {

bool AsyncSelect(const EventSocket& socket, HWND window, UINT message) {
  const SocketHandle handle = socket.Descriptor();
  if (handle == NO_SOCKET) return false;
  return ::WSAAsyncSelect(static_cast<SOCKET>(handle), window, message, ASYNC_EVENTS) == 0;
}

}  // namespace corvalink
