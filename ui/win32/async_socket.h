#pragma once
// The socket layer's notifications as window messages (WSAAsyncSelect): a datagram arriving at
// a watched socket posts `message` to the window, and the window's handler calls the socket's
// OnReceive on the user-interface thread. Each read re-arms the notification while datagrams
// are still waiting, so every datagram brings its own message.

#include "platform/event_socket.h"
#include "win32/win_api.h"

namespace corvalink {

/// The six events the sockets ask for: read, write, out-of-band, accept, connect, close.
inline constexpr long ASYNC_EVENTS = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

/// Asks for notifications of `socket` as `message` to `window`. False when the socket is not
/// open or the layer refused.
bool AsyncSelect(const EventSocket& socket, HWND window, UINT message);
/// The same for a socket given by its handle. The message's wParam names the socket.
bool AsyncSelect(SocketHandle handle, HWND window, UINT message);

/// Whether a notification message reports an arriving datagram.
inline bool IsReadNotification(LPARAM lParam) { return WSAGETSELECTEVENT(lParam) == FD_READ; }

}  // namespace corvalink
