// corvalink.exe: finds the Corvalink routers on the LAN and stores the chosen one as the LPR
// printer-port software's server. The window takes no options and opens whatever it is given (a
// file dropped on it, a shortcut's argument); --version, --help and the developer's --dev-dialog
// are for packagers and developers.

#include <cstdio>
#include <cstdlib>
#include <iterator>
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
#include "win32/app_message.h"
#include "win32/password_dlg.h"
#include "win32/router_tool_app.h"
#include "win32/upgrade_dlg.h"

namespace {

// A window program has no console of its own. The text goes to standard output (or error) where
// that was redirected to a file or a pipe, to the console of the program that started this one
// where there is one (a command prompt), and into a message box otherwise (Explorer, a
// shortcut, a file dropped on the program).
void Tell(const std::string& text, bool isError) {
  HANDLE out = ::GetStdHandle(isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  const DWORD type = out != nullptr && out != INVALID_HANDLE_VALUE ? ::GetFileType(out)
                                                                   : FILE_TYPE_UNKNOWN;
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
    std::FILE* stream = isError ? stderr : stdout;
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
    return;
  }
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console = ::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      // The prompt was printed before this program started; a line end first keeps the text
      // off it.
      std::string lines = "\r\n";
      for (char c : text) lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
      DWORD written = 0;
      ::WriteFile(console, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
      ::CloseHandle(console);
      ::FreeConsole();
      return;
    }
    ::FreeConsole();
  }
  corvalink::ShowAppMessage(nullptr, text.c_str(), isError ? MB_ICONEXCLAMATION : MB_ICONINFORMATION);
}

// "--openings N" (1 to 9) of the Windows program's --dev-dialog: the same dialog object is opened
// N times in turn, as a caller that opens it again would. Taken out of `args`; false, with `err`,
// for a bad count.
bool TakeOpenings(std::vector<std::string>& args, int* openings, std::string* err) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it != "--openings") continue;
    const auto value = std::next(it);
    if (value == args.end() || value->size() != 1 || (*value)[0] < '1' || (*value)[0] > '9') {
      *err = "--openings: a count from 1 to 9";
      return false;
    }
    *openings = (*value)[0] - '0';
    args.erase(it, std::next(value));
    return true;
  }
  return true;
}

// Opens the dialog named on the command line for a router described there, with the interface
// texts loaded as the main dialog loads them, `openings` times; prints each result and returns
// the last.
int RunDevDialog(corvalink::AppState& state, corvalink::DevDialog which, int openings) {
  if (!corvalink::InitializeSocketLayer()) {
    std::fprintf(stderr, "corvalink: Windows sockets initialization failed.\n");
    return corvalink::gui::EXIT_SOCKETS_INIT_FAILED;
  }
  corvalink::InitCommonControlClasses();
  corvalink::ReloadInterfaceText(state.interfaceText, *corvalink::OpenSystemRegistry());
  INT_PTR result = 0;
  corvalink::CUpgradeDlg upgrade(state);
  corvalink::CPasswordDlg password(state);
  for (int i = 0; i < openings; ++i) {
    result = which == corvalink::DevDialog::Upgrade ? upgrade.DoModal() : password.DoModal();
    std::printf("result: %d\n", static_cast<int>(result));
    std::fflush(stdout);
  }
  return static_cast<int>(result);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string_view> args(__argv + 1, __argv + __argc);
  corvalink::AppState state;
  // --firmware: the main dialog for firmware upgrades (the Start-menu shortcut "Corvalink
  // firmware upgrade"). Anything else on the command line is not ours to judge: the window opens
  // as without it.
  if (!args.empty() && args[0] == "--firmware") {
    state.configuration = corvalink::MainDialogConfiguration::Firmware;
    args.clear();
  }
  if (!args.empty() && args[0] == "--version") {
    Tell(std::string("corvalink ") + corvalink::VERSION_TEXT + "\n", false);
    return corvalink::gui::EXIT_OK;
  }
  if (!args.empty() && args[0] == "--help") {
    Tell("Usage: corvalink [--help] [--version] [--firmware]\n" + corvalink::DevDialogUsage(), false);
    return corvalink::gui::EXIT_OK;
  }
  if (!args.empty() && args[0] == "--dev-dialog") {
    std::string err = "which dialog? (upgrade or password)";
    std::optional<corvalink::DevDialog> which;
    int openings = 1;
    if (args.size() > 1) {
      std::vector<std::string> rest(args.begin() + 2, args.end());
      if (TakeOpenings(rest, &openings, &err)) {
        which = corvalink::ParseDevDialogArgs(args[1], rest, state, &err);
      }
    }
    if (!which) {
      Tell("corvalink --dev-dialog: " + err + "\n" + corvalink::DevDialogUsage(), true);
      return corvalink::gui::EXIT_USAGE;
    }
    return RunDevDialog(state, *which, openings);
  }
  corvalink::CRouterToolApp tool(state, corvalink::InitializeSocketLayer);
  return tool.Run();
}
