#include "qt/router_tool_app.h"

#include <cstdio>

#include "qt/app_message.h"
#include "app/resource_ids.h"

namespace corvalink {

CRouterToolApp::CRouterToolApp(AppState& state, SocketLayerInit initSockets,
                               CPortSetupDlg::SearchSocketOpener openSearchSocket)
    : m_state(state),
      m_initSockets(std::move(initSockets)),
      m_openSearchSocket(std::move(openSearchSocket)) {}

int CRouterToolApp::Run() {
  if (!m_initSockets || !m_initSockets()) {
    ShowAppMessage(nullptr, QString::fromLatin1(STR_SOCKETS_INIT_FAILED));
    return gui::EXIT_SOCKETS_INIT_FAILED;
  }

  CPortSetupDlg dlg(m_state, m_openSearchSocket);
  if (!dlg.InitError().isEmpty()) {
    // Without the search socket no router can ever be listed: say so rather than vanish.
    std::fprintf(stderr, "%s: %s\n", qPrintable(ApplicationTitle()), qPrintable(dlg.InitError()));
    ShowAppMessage(nullptr, dlg.InitError(), QMessageBox::Critical);
    return gui::EXIT_SEARCH_SOCKET_FAILED;
  }
  const int result = dlg.exec();
  return result == CPortSetupDlg::RESULT_STORE_FAILED ? gui::EXIT_STORE_FAILED : gui::EXIT_OK;
}

}  // namespace corvalink
