#pragma once
// The application object: starts the socket layer, runs the main dialog once, and turns how it
// ended into the process's exit code. There is no message loop of its own.

#include "app/app_state.h"
#include "platform/socket_layer.h"

namespace corvalink {

class CRouterToolApp {
 public:
  /// `state` must outlive the application object.
  CRouterToolApp(AppState& state, SocketLayerInit initSockets);
  CRouterToolApp(const CRouterToolApp&) = delete;
  CRouterToolApp& operator=(const CRouterToolApp&) = delete;

  /// Runs the whole program and returns the exit code (gui::EXIT_*).
  int Run();

 private:
  AppState& m_state;
  SocketLayerInit m_initSockets;
};

/// Registers the common control classes the templates use (list view, progress bar).
void InitCommonControlClasses();

}  // namespace corvalink
