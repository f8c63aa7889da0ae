// corvalink.exe: finds the Corvalink routers on the LAN and stores the chosen one as the LPR
// printer-port software's server. The window takes no options; --version, --help and the
// developer's --dev-dialog are for packagers and developers.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/dev_dialog_args.h"
#include "app/exit_codes.h"
#include "app/version_info.h"
#include "platform/registry.h"
#include "platform/socket_layer.h"
#include "text/interface_text.h"
#include "win32/password_dlg.h"
#include "win32/router_tool_app.h"
#include "win32/upgrade_dlg.h"

namespace {

// Opens the dialog named on the command line for a router described there, with the interface
// texts loaded as the main dialog loads them; prints and returns its result.
int RunDevDialog(corvalink::AppState& state, corvalink::DevDialog which) {
  if (!corvalink::InitializeSocketLayer()) {
    std::fprintf(stderr, "corvalink: Windows sockets initialization failed.\n");
    return corvalink::gui::EXIT_SOCKETS_INIT_FAILED;
  }
  corvalink::InitCommonControlClasses();
  corvalink::ReloadInterfaceText(state.interfaceText, *corvalink::OpenSystemRegistry());
  INT_PTR result = 0;
  if (which == corvalink::DevDialog::Upgrade) {
    corvalink::CUpgradeDlg dialog(state);
    result = dialog.DoModal();
  } else {
    corvalink::CPasswordDlg dialog(state);
    result = dialog.DoModal();
  }
  std::printf("result: %d\n", static_cast<int>(result));
  std::fflush(stdout);
  return static_cast<int>(result);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string_view> args(__argv + 1, __argv + __argc);
  corvalink::AppState state;
  // --firmware alone: the main dialog for firmware upgrades (the Start-menu shortcut
  // "Corvalink firmware upgrade").
  if (args.size() == 1 && args[0] == "--firmware") {
    state.configuration = corvalink::MainDialogConfiguration::Firmware;
    args.clear();
  }
  if (!args.empty()) {
    if (args[0] == "--version") {
      std::printf("%s %s\n%s, file version %s\n", corvalink::VERSION_PRODUCT_NAME,
                  corvalink::VERSION_PRODUCT_VERSION, corvalink::VERSION_FILE_DESCRIPTION,
                  corvalink::VERSION_FILE_VERSION);
      return corvalink::gui::EXIT_OK;
    }
    if (args[0] == "--help") {
      std::printf("Usage: corvalink [--help] [--version] [--firmware]\n%s",
                  corvalink::DevDialogUsage().c_str());
      return corvalink::gui::EXIT_OK;
    }
    if (args[0] != "--dev-dialog") {
      std::fprintf(stderr, "corvalink: unknown option \"%s\"; usage: corvalink [--version] "
                   "[--help] [--dev-dialog DIALOG ...]\n", __argv[1]);
      return corvalink::gui::EXIT_USAGE;
    }
    std::string err = "which dialog? (upgrade or password)";
    std::optional<corvalink::DevDialog> which;
    if (args.size() > 1) {
      const std::vector<std::string> rest(args.begin() + 2, args.end());
      which = corvalink::ParseDevDialogArgs(args[1], rest, state, &err);
    }
    if (!which) {
      std::fprintf(stderr, "corvalink --dev-dialog: %s\n%s", err.c_str(),
                   corvalink::DevDialogUsage().c_str());
      return corvalink::gui::EXIT_USAGE;
    }
    return RunDevDialog(state, *which);
  }
  corvalink::CRouterToolApp tool(state, corvalink::InitializeSocketLayer);
  return tool.Run();
}
