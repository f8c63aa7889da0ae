#include "qt/dev_dialogs.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>

#include "app/app_state.h"
#include "password/password_check.h"
#include "qt/password_dlg.h"
#include "password/scrambler.h"
#include "platform/ipv4.h"
#include "platform/registry.h"
#include "text/interface_text.h"
#include "qt/upgrade_dlg.h"

namespace corvalink {
namespace {

struct DevArgs {
  std::map<QString, QString> values;
};

const QStringList kOptions = {"--router-ip", "--mask",         "--mac",      "--password",
                              "--firmware",  "--upgrade-port", "--tftp-port"};

bool Fail(const QString& why) {
  std::fprintf(stderr, "corvalink --dev-dialog: %s\n%s", qPrintable(why),
               qPrintable(DevDialogUsage()));
  return false;
}

bool ParseArgs(const QStringList& args, DevArgs& out) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString name = args[i];
    QString value;
    const qsizetype eq = name.indexOf('=');
    if (eq > 0) {
      value = name.mid(eq + 1);
      name = name.left(eq);
    } else {
      if (!kOptions.contains(name))
        return Fail(QStringLiteral("unknown argument \"%1\"").arg(name));
      if (i + 1 >= args.size()) return Fail(QStringLiteral("%1 needs a value").arg(name));
      value = args[++i];
    }
    if (!kOptions.contains(name)) return Fail(QStringLiteral("unknown argument \"%1\"").arg(name));
    out.values[name] = value;
  }
  return true;
}

std::optional<QString> Value(const DevArgs& args, const QString& name) {
  auto it = args.values.find(name);
  if (it == args.values.end()) return std::nullopt;
  return it->second;
}

bool ParseAddress(const DevArgs& args, const QString& name, Ipv4& out) {
  std::optional<QString> text = Value(args, name);
  if (!text) return true;
  std::optional<Ipv4> address = ParseIpv4(text->toStdString());
  if (!address) return Fail(QStringLiteral("%1: \"%2\" is not a dotted address").arg(name, *text));
  out = *address;
  return true;
}

bool ParsePort(const DevArgs& args, const QString& name, uint16_t& out) {
  std::optional<QString> text = Value(args, name);
  if (!text) return true;
  bool ok = false;
  const uint value = text->toUInt(&ok);
  if (!ok || value == 0 || value > 65535) {
    return Fail(QStringLiteral("%1: \"%2\" is not a port number").arg(name, *text));
  }
  out = static_cast<uint16_t>(value);
  return true;
}

/// Twelve hexadecimal digits, with or without ':' or '-' between the pairs.
bool ParseMac(const DevArgs& args, MacAddress& out) {
  std::optional<QString> text = Value(args, QStringLiteral("--mac"));
  if (!text) return true;
  QString digits = *text;
  digits.remove(':').remove('-');
  const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
  const bool allHex = std::all_of(digits.begin(), digits.end(), [](QChar c) {
    return c.isDigit() || (c.toLower() >= 'a' && c.toLower() <= 'f');
  });
  if (digits.size() != 12 || !allHex || bytes.size() != static_cast<qsizetype>(MAC_SIZE)) {
    return Fail(QStringLiteral("--mac: \"%1\" is not 12 hexadecimal digits").arg(*text));
  }
  std::copy_n(bytes.constData(), MAC_SIZE, out.begin());
  return true;
}

/// The router's password as discovery would hold it: the text, zeros after it, scrambled.
/// Router passwords are single-byte (Latin-1) text, as the password dialog reads them.
bool ParsePassword(const DevArgs& args, std::array<uint8_t, PASSWORD_SIZE>& out) {
  std::optional<QString> text = Value(args, QStringLiteral("--password"));
  if (!text) return true;
  if (text->size() > static_cast<qsizetype>(PASSWORD_SIZE)) {
    return Fail(QStringLiteral("--password: a router password has at most %1 characters")
                    .arg(PASSWORD_SIZE));
  }
  out.fill(0);
  for (qsizetype i = 0; i < text->size(); ++i) {
    const char16_t c = text->at(i).unicode();
    if (c == 0 || c > 0xFF) {
      out.fill(0);
      return Fail(QStringLiteral("--password: only Latin-1 characters can be a router password"));
    }
    out[static_cast<std::size_t>(i)] = static_cast<uint8_t>(c);
  }
  ScrambleBuffer(out.data(), static_cast<int32_t>(out.size()), 1);
  return true;
}

bool ParseFirmware(const DevArgs& args, FirmwarePath& out) {
  std::optional<QString> text = Value(args, QStringLiteral("--firmware"));
  if (!text) return true;
  const QByteArray path = text->toLocal8Bit();
  if (static_cast<std::size_t>(path.size()) >= FIRMWARE_FIELD_SIZE) {
    return Fail(
        QStringLiteral("--firmware: the path has more than %1 bytes").arg(FIRMWARE_FIELD_SIZE - 1));
  }
  out = FirmwarePath{};
  std::copy(path.begin(), path.end(), out.path.begin());
  const QByteArray title =
      QByteArray::fromStdString(std::filesystem::path(path.toStdString()).filename().string());
  std::copy_n(title.begin(), std::min<std::size_t>(title.size(), FIRMWARE_FIELD_SIZE - 1),
              out.title.begin());
  return true;
}

void LoadTexts(AppState& state) {
  ReloadInterfaceText(state.interfaceText, *OpenRegistryAt(state.registryRoot));
}

}  // namespace

QString DevDialogUsage() {
  return QStringLiteral(
      "usage: corvalink --dev-dialog upgrade --router-ip A.B.C.D --firmware FILE\n"
      "                  [--mask A.B.C.D] [--mac HEX12] [--password TEXT]\n"
      "                  [--upgrade-port N] [--tftp-port N]\n"
      "       corvalink --dev-dialog password [--password TEXT]\n");
}

int RunDevDialog(AppState& state, const QString& which, const QStringList& args) {
  const int checked = CheckDevDialogArgs(state, which, args);
  return checked != 0 ? checked : ShowDevDialog(state, which);
}

int CheckDevDialogArgs(AppState& state, const QString& which, const QStringList& args) {
  DevArgs parsed;
  if (which != QLatin1String("upgrade") && which != QLatin1String("password")) {
    Fail(QStringLiteral("unknown dialog \"%1\"").arg(which));
    return DEV_DIALOG_USAGE_ERROR;
  }
  if (!ParseArgs(args, parsed)) return DEV_DIALOG_USAGE_ERROR;
  RouterRecord router = state.selectedRouter;
  if (!ParseAddress(parsed, QStringLiteral("--router-ip"), router.ipAddress) ||
      !ParseAddress(parsed, QStringLiteral("--mask"), router.ipMask) ||
      !ParseMac(parsed, router.macAddress) || !ParsePassword(parsed, router.password) ||
      !ParseFirmware(parsed, state.firmwarePath) ||
      !ParsePort(parsed, QStringLiteral("--upgrade-port"), state.upgradePort) ||
      !ParsePort(parsed, QStringLiteral("--tftp-port"), state.tftpPort)) {
    return DEV_DIALOG_USAGE_ERROR;
  }
  if (which == QLatin1String("upgrade") && !Value(parsed, QStringLiteral("--router-ip"))) {
    // Without it the requests would go to 0.0.0.0, which is this very machine.
    Fail(QStringLiteral("the upgrade dialog needs --router-ip"));
    return DEV_DIALOG_USAGE_ERROR;
  }
  state.selectedRouter = router;
  SecureWipe(router.password.data(), router.password.size());
  return 0;
}

int ShowDevDialog(AppState& state, const QString& which) {
  LoadTexts(state);

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
