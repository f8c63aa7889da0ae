#pragma once
// The application object: starts the socket layer, runs the main window once, and turns how it
// ended into the process's exit code.

#include "app/app_state.h"
#include "app/exit_codes.h"
#include "qt/port_setup_dlg.h"
#include "platform/socket_layer.h"

namespace corvalink {

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
