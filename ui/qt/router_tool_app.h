#pragma once
// The application object: starts the socket layer, runs the main window once, and turns how it
// ended into the process's exit code.

#include "app/app_state.h"
#include "qt/port_setup_dlg.h"
#include "platform/socket_layer.h"

namespace corvalink {

/// Exit codes of the program. A stored address and a Cancel both end with EXIT_OK.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_SOCKETS_INIT_FAILED = 1;
inline constexpr int EXIT_SEARCH_SOCKET_FAILED = 2;
inline constexpr int EXIT_STORE_FAILED = 3;
inline constexpr int EXIT_NO_DISPLAY = 4;
inline constexpr int EXIT_USAGE = 64;

class CRouterToolApp {
 public:
  /// `state` must outlive the application object. `openSearchSocket` is passed to the main
  /// window (empty: a real socket).
  CRouterToolApp(AppState& state, SocketLayerInit initSockets,
                 CPortSetupDlg::SearchSocketOpener openSearchSocket = {});
  CRouterToolApp(const CRouterToolApp&) = delete;
  CRouterToolApp& operator=(const CRouterToolApp&) = delete;

  /// Runs the whole program inside an existing QApplication and returns the exit code.
  int Run();

 private:
  AppState& m_state;
  SocketLayerInit m_initSockets;
  CPortSetupDlg::SearchSocketOpener m_openSearchSocket;
};

}  // namespace corvalink
