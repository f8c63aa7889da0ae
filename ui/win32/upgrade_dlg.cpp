#include "win32/upgrade_dlg.h"

#include <algorithm>
#include <string>

#include "platform/ipv4.h"
#include "text/interface_text.h"
#include "text/ui_texts.h"
#include "upgrade/flash_wait.h"
#include "win32/async_socket.h"

namespace corvalink {
namespace {

void SetText(HWND window, const InterfaceTextTable& table, UiText text) {
  ::SetWindowTextA(window, std::string(ShownText(table, text)).c_str());
}

std::string ItemText(HWND control, int maxChars) {
  std::string text(static_cast<std::size_t>(maxChars) + 1, '\0');
  const int n = ::GetWindowTextA(control, text.data(), maxChars + 1);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

}  // namespace

CUpgradeDlg::CUpgradeDlg(AppState& state, HWND parent)
    : CDialog(IDD_UPGRADE, parent),
      m_state(state),
      m_hIcon(::LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_socket(state.upgradeAcknowledged),
      m_handshake(m_socket, state.upgradeAcknowledged) {}

BOOL CUpgradeDlg::OnInitDialog() {
  m_staticRouterIp = Item(IDC_ROUTER_IP_LABEL);
  m_btnAbort = Item(IDC_ABORT);
  m_btnSend = Item(IDC_SEND);
  m_progress.Attach(Item(IDC_PROGRESS));
  m_editRouterIp = Item(IDC_ROUTER_IP);

  SetIcons(m_hIcon);
  ApplyInterfaceText();
  ::SetWindowTextA(m_editRouterIp, Ipv4ToText(m_state.selectedRouter.ipAddress).c_str());
  m_state.upgradeAcknowledged = false;
  ::EnableWindow(m_btnSend, FALSE);
  // A socket left open by an earlier opening is replaced.
  if (m_socket.Create()) AsyncSelect(m_socket, m_hWnd, WM_UPGRADE_SOCKET);
  m_handshake.Open(m_state.selectedRouter, m_progress);
  // Nothing is sent now: the first request goes out with the first tick.
  ::SetTimer(m_hWnd, UPGRADE_POLL_TIMER, UPGRADE_REQUEST_INTERVAL_MS, nullptr);
  return TRUE;
}

int CUpgradeDlg::ApplyInterfaceText() {
  InterfaceTextTable& table = m_state.interfaceText;
  if (table.loaded == 0) return 0;
  TrimUpgradeDialogSlots(table);
  SetText(m_hWnd, table, UiText::UpgradeCaption);
  SetText(m_staticRouterIp, table, UiText::UpgradeRouterIpLabel);
  SetText(m_btnSend, table, UiText::UpgradeSend);
  return 1;
}

INT_PTR CUpgradeDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      OnTimer(wParam);
      return FALSE;  // and on to the system's own handling
    case WM_UPGRADE_SOCKET:
      if (IsReadNotification(lParam)) m_socket.OnReceive(WSAGETSELECTERROR(lParam));
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
          case IDC_SEND:
            OnSend();
            return TRUE;
          case IDC_ABORT:
            OnAbort();
            return TRUE;
          default:
            break;
        }
      }
      break;
    case WM_DESTROY:
      // The timer belongs to the window. The socket goes with it too: its notifications would
      // have no window to reach, and the next opening makes a new one.
      ::KillTimer(m_hWnd, UPGRADE_POLL_TIMER);
      m_socket.Close();
      m_progress.Attach(nullptr);
      break;
    default:
      break;
  }
  return CDialog::OnMessage(msg, wParam, lParam);
}

void CUpgradeDlg::OnTimer(UINT_PTR timerId) {
  if (timerId != UPGRADE_POLL_TIMER) return;
  m_handshake.OnPollTimer(*this, m_progress, m_state.upgradePort);
}

std::string CUpgradeDlg::RouterAddressField() const {
  // The edit is filled from the selected router, so it always holds a dotted address; should it
  // ever hold anything else the tick sends nothing.
  return ItemText(m_editRouterIp, static_cast<int>(ROUTER_ADDRESS_FIELD_CHARS));
}

void CUpgradeDlg::PumpMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (m_hWnd != nullptr && ::IsDialogMessageA(m_hWnd, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void CUpgradeDlg::OnSend() {
  // The transfer dispatches window messages while it waits, so a second Send could try to start
  // another one inside it.
  if (m_transferring) return;
  const std::string routerIp = ItemText(m_editRouterIp, 255);
  ::EnableWindow(m_btnSend, FALSE);

  m_closeAfterTransfer.reset();
  TftpControl control{m_progress, m_abortRequested, [this] { PumpMessages(); }, {},
                      [this] { return m_closeAfterTransfer.has_value(); }, {}};
  TftpEnv env{m_transferClock, {}, m_state.tftpPort, {}};
  m_transferring = true;
  const TftpResult result = SendFirmware(m_state.firmwarePath.Path(), routerIp, control, env);
  m_transferring = false;

  const TransferEnding ending = EndOfTransfer(result, m_closeAfterTransfer);
  if (ending.showResult) ShowResult(result);
  if (ending.closeWith) {
    EndDialog(static_cast<INT_PTR>(*ending.closeWith));
    return;
  }
  // The router has already accepted the upgrade: Send retries the transfer without a new
  // handshake.
  ::EnableWindow(m_btnSend, TRUE);
}

void CUpgradeDlg::ShowResult(const TftpResult& result) {
  const bool ok = result.ok();
  const InterfaceTextTable& table = m_state.interfaceText;
  std::string text(
      ShownText(table, ok ? UiText::UpgradeCompleteText : UiText::UpgradeFailedText));
  const std::string caption(
      ShownText(table, ok ? UiText::UpgradeCompleteCaption : UiText::UpgradeFailedCaption));
  // Beneath the fixed text, why it failed: the file, the block, what the router said.
  if (!ok && !result.message.empty()) text += "\n\n" + result.message;
  ::MessageBoxA(m_hWnd, text.c_str(), caption.c_str(), MB_OK);
}

void CUpgradeDlg::OnCancel() {
  if (m_transferring) {
    // Stops this transfer at its next check; OnSend ends the dialog once it has returned. The
    // abort flag stays as it is: only "&Abort" sets it, and later transfers must still work.
    m_closeAfterTransfer = IDCANCEL;
    return;
  }
  EndDialog(IDCANCEL);
}

}  // namespace corvalink
