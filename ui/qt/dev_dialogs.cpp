#include "qt/dev_dialogs.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dev_dialog_args.h"
#include "password/password_check.h"
#include "platform/registry.h"
#include "qt/password_dlg.h"
#include "qt/upgrade_dlg.h"
#include "text/interface_text.h"

namespace corvalink {

int RunDevDialog(AppState& state, const QString& which, const QStringList& args) {
  const int checked = CheckDevDialogArgs(state, which, args);
  return checked != 0 ? checked : ShowDevDialog(state, which);
}

int CheckDevDialogArgs(AppState& state, const QString& which, const QStringList& args) {
  std::vector<std::string> texts;
  for (const QString& arg : args) texts.push_back(arg.toStdString());
  std::string err;
  const bool ok = ParseDevDialogArgs(which.toStdString(), texts, state, &err).has_value();
  for (std::string& text : texts) SecureWipe(text.data(), text.size());
  if (ok) return 0;
  std::fprintf(stderr, "corvalink --dev-dialog: %s\n%s", err.c_str(), DevDialogUsage().c_str());
  return DEV_DIALOG_USAGE_ERROR;
}

int ShowDevDialog(AppState& state, const QString& which) {
  // The interface texts, as the main window would load them.
  ReloadInterfaceText(state.interfaceText, *OpenRegistryAt(state.registryRoot));

  int result = 0;
  if (which == QLatin1String("upgrade")) {
    CUpgradeDlg dialog(state);
    result = dialog.exec();
  } else {
    CPasswordDlg dialog(state);
    result = dialog.exec();
  }
  std::printf("result: %d\n", result);
  std::fflush(stdout);
  return result;
}

}  // namespace corvalink
