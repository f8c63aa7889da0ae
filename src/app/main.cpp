// The corvalink program: finds the Corvalink routers on the LAN and stores the chosen one as
// the LPR printer-port software's server.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/app_icon.h"
#include "app/app_state.h"
#include "app/dev_dialogs.h"
#include "app/resource_ids.h"
#include "app/router_tool_app.h"
#include "app/version_info.h"
#include "platform/registry_store.h"
#include "platform/socket_layer.h"

namespace {

void PrintVersion() {
  std::printf("%s %s\n%s, file version %s\n", corvalink::VERSION_PRODUCT_NAME,
              corvalink::VERSION_PRODUCT_VERSION, corvalink::VERSION_FILE_DESCRIPTION,
              corvalink::VERSION_FILE_VERSION);
}

void PrintUsage() {
  std::printf("usage: corvalink [--version] [--help]\n%s",
              qPrintable(corvalink::DevDialogUsage()));
}

}  // namespace

int main(int argc, char** argv) {
  // The window itself takes no options; these are for packagers and developers.
  bool devDialog = false;
  for (int i = 1; i < argc && !devDialog; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      PrintVersion();
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage();
      return 0;
    }
    if (std::strcmp(argv[i], "--dev-dialog") == 0) devDialog = true;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(corvalink::VERSION_PRODUCT_NAME));
  QApplication::setApplicationVersion(QString::fromLatin1(corvalink::VERSION_PRODUCT_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("corvalink"));
  QApplication::setWindowIcon(corvalink::AppIcon());

  corvalink::AppState state;
  state.registryRoot = corvalink::RegistryStore::DefaultRoot();

  if (devDialog) {
    // Looked up again: QApplication has taken its own options (-platform ...) out of the list.
    const QStringList args = QApplication::arguments();
    const qsizetype devDialogAt = args.indexOf(QStringLiteral("--dev-dialog"));
    if (devDialogAt + 1 >= args.size()) {
      PrintUsage();
      return corvalink::DEV_DIALOG_USAGE_ERROR;
    }
    return corvalink::RunDevDialog(state, args[devDialogAt + 1], args.mid(devDialogAt + 2));
  }

  corvalink::CRouterToolApp tool(state, corvalink::InitializeSocketLayer);
  return tool.Run();
}
