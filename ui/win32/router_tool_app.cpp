#include "win32/router_tool_app.h"

#include <cstdio>
#include <utility>

#include "app/exit_codes.h"
#include "app/resource_ids.h"
#include "win32/app_message.h"
#include "win32/port_setup_dlg.h"

namespace corvalink {

void InitCommonControlClasses() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
}

CRouterToolApp::CRouterToolApp(AppState& state, SocketLayerInit initSockets)
    : m_state(state), m_initSockets(std::move(initSockets)) {}

int CRouterToolApp::Run() {
  if (!m_initSockets || !m_initSockets()) {
    const std::string text = LoadResourceString(IDS_SOCKETS_INIT_FAILED);
    ShowAppMessage(nullptr, text.empty() ? STR_SOCKETS_INIT_FAILED : text.c_str());
    return gui::EXIT_SOCKETS_INIT_FAILED;
  }
  InitCommonControlClasses();

  CPortSetupDlg dlg(m_state);
  const INT_PTR result = dlg.DoModal();
  if (result == CPortSetupDlg::RESULT_SEARCH_SOCKET_FAILED) {
    std::fprintf(stderr, "%s: %s\n", ApplicationTitle().c_str(), dlg.Failure().c_str());
    ShowAppMessage(nullptr, dlg.Failure().c_str(), MB_ICONHAND);
    return gui::EXIT_SEARCH_SOCKET_FAILED;
  }
  if (result == CPortSetupDlg::RESULT_STORE_FAILED) return gui::EXIT_STORE_FAILED;
  if (result == -1) {
    std::fprintf(stderr, "%s: the main dialog could not be created (error %lu)\n",
                 ApplicationTitle().c_str(), ::GetLastError());
    return gui::EXIT_NO_DISPLAY;
  }
  return gui::EXIT_OK;
}

}  // namespace corvalink
