// The corvalink program: finds the Corvalink routers on the LAN and stores the chosen one as
// the LPR printer-port software's server.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "qt/app_icon.h"
#include "app/app_state.h"
#include "app/dev_dialog_args.h"
#include "app/exit_codes.h"
#include "qt/dev_dialogs.h"
#include "app/resource_ids.h"
#include "qt/router_tool_app.h"
#include "app/version_info.h"
#include "platform/registry_store.h"
#include "platform/socket_layer.h"

namespace {

// GNU style: the program's name and the package's version.
void PrintVersion() { std::printf("corvalink %s\n", corvalink::VERSION_TEXT); }

void PrintUsage() {
  std::printf("Usage: corvalink [--help] [--version] [--firmware]\n"
              "  --firmware  open the window for firmware upgrades: choose a file, then upgrade\n"
              "              the marked router (nothing is stored as \"Server IP\")\n%s",
              corvalink::DevDialogUsage().c_str());
}

// Qt's own command-line options, which QApplication takes out of the list; those in the first
// list take a value.
bool IsQtOption(std::string_view arg, bool* takesValue) {
  static constexpr std::string_view WITH_VALUE[] = {
      "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
      "-qwindowicon", "-qwindowtitle", "-session", "-display", "-geometry", "-style",
      "-stylesheet"};
  static constexpr std::string_view ALONE[] = {"-reverse", "-widgetcount", "-nograb", "-dograb",
                                               "-sync"};
  for (std::string_view o : WITH_VALUE) {
    if (arg == o) return *takesValue = true;
  }
  for (std::string_view o : ALONE) {
    if (arg == o) return !(*takesValue = false);
  }
  return false;
}

// Whether the window system Qt would start needs a display server that is not there: the X11
// and Wayland platforms do, the offscreen and similar ones do not.
bool DisplayMissing(const char* platformOption) {
  const char* platform = platformOption != nullptr ? platformOption : std::getenv("QT_QPA_PLATFORM");
  const std::string_view name = platform != nullptr ? platform : "";
  const bool needsServer = name.empty() || name.starts_with("xcb") || name.starts_with("wayland");
  auto set = [](const char* var) {
    const char* v = std::getenv(var);
    return v != nullptr && *v != '\0';
  };
  return needsServer && !set("DISPLAY") && !set("WAYLAND_DISPLAY");
}

// While the window system starts, Qt's own complaints about a display it cannot reach (several
// lines, then an abort that suggests reinstalling) become one line of ours and the exit status
// for "no display". Any other message goes to Qt's usual handler.
QtMessageHandler g_qtHandler = nullptr;

void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const std::string_view category = context.category != nullptr ? context.category : "";
  if (type == QtFatalMsg) {
    auto shown = [](const char* var) {
      const char* v = std::getenv(var);
      return std::string(var) + "=" + (v != nullptr && *v != '\0' ? v : "(unset)");
    };
    std::fprintf(stderr,
                 "corvalink: cannot open a display (%s, %s): no display server answers there; "
                 "corvalink-cli works without one\n",
                 shown("DISPLAY").c_str(), shown("WAYLAND_DISPLAY").c_str());
    std::fflush(stderr);
    std::_Exit(corvalink::gui::EXIT_NO_DISPLAY);
  }
  if (category.starts_with("qt.qpa")) return;
  if (g_qtHandler != nullptr) g_qtHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  // The window itself takes no options; these are for packagers and developers. All of them are
  // checked before the window system starts, so a mistake is reported even without a display.
  int devDialogAt = 0;
  bool firmware = false;
  const char* platformOption = nullptr;
  for (int i = 1; i < argc && devDialogAt == 0; ++i) {
    const std::string_view arg = argv[i];
    bool takesValue = false;
    if (arg == "--version") {
      PrintVersion();
      return corvalink::gui::EXIT_OK;
    }
    if (arg == "--help") {
      PrintUsage();
      return corvalink::gui::EXIT_OK;
    }
    if (arg == "--dev-dialog") {
      devDialogAt = i;
    } else if (arg == "--firmware") {
      firmware = true;
    } else if (IsQtOption(arg, &takesValue)) {
      if (takesValue && i + 1 < argc) {
        if (arg == "-platform") platformOption = argv[i + 1];
        ++i;
      }
    } else {
      std::fprintf(stderr, "corvalink: unknown option \"%s\"; usage: corvalink [--version] [--help] [--firmware] [--dev-dialog DIALOG ...]\n", argv[i]);
      return corvalink::gui::EXIT_USAGE;
    }
  }

  corvalink::AppState state;
  state.registryRoot = corvalink::RegistryStore::DefaultRoot();
  if (firmware) state.configuration = corvalink::MainDialogConfiguration::Firmware;
  QString devDialog;
  if (devDialogAt != 0) {
    if (devDialogAt + 1 >= argc) {
      std::fprintf(stderr, "corvalink --dev-dialog: which dialog?\n%s",
                   corvalink::DevDialogUsage().c_str());
      return corvalink::DEV_DIALOG_USAGE_ERROR;
    }
    devDialog = QString::fromLocal8Bit(argv[devDialogAt + 1]);
    QStringList rest;
    for (int i = devDialogAt + 2; i < argc; ++i) rest << QString::fromLocal8Bit(argv[i]);
    if (const int checked = corvalink::CheckDevDialogArgs(state, devDialog, rest); checked != 0) {
      return checked;
    }
  }

  if (DisplayMissing(platformOption)) {
    std::fprintf(stderr,
                 "corvalink: needs a display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                 "corvalink-cli works without one\n");
    return corvalink::gui::EXIT_NO_DISPLAY;
  }

  g_qtHandler = qInstallMessageHandler(StartupMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(g_qtHandler);
  QApplication::setApplicationName(QString::fromLatin1(corvalink::VERSION_PRODUCT_NAME));
  QApplication::setApplicationVersion(QString::fromLatin1(corvalink::VERSION_PRODUCT_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("corvalink"));
  QApplication::setWindowIcon(corvalink::AppIcon());

  if (devDialogAt != 0) return corvalink::ShowDevDialog(state, devDialog);

  corvalink::CRouterToolApp tool(state, corvalink::InitializeSocketLayer);
  return tool.Run();
}
