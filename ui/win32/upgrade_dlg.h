#pragma once
// The upgrade dialog (template IDD_UPGRADE): shows the chosen router's address, repeats the
// upgrade request every 500 ms (timer 101) until the router acknowledges it, then sends the
// firmware file with the core's TFTP client and reports the result. The handshake's steps, the
// request format, the reply test and the transfer are the core's; this class wires them to the
// window.

#include <cstdint>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/resource_ids.h"
#include "upgrade/handshake.h"
#include "upgrade/tftp_client.h"
#include "upgrade/upgrade_socket.h"
#include "win32/progress_ctrl.h"
#include "win32/win_dialog.h"

namespace corvalink {

/// The window message that carries the upgrade socket's notifications.
inline constexpr UINT WM_UPGRADE_SOCKET = WM_APP + 2;

/// Opened by a caller once state.selectedRouter and state.firmwarePath are filled. Ends with 0
/// after "Upgrade complete", or with IDCANCEL when the user closes it. Each opening starts a
/// fresh handshake; the abort flag, once set by "&Abort", stays set for the life of the object.
/// `state` must outlive the dialog. UI thread only.
class CUpgradeDlg : public CDialog, private HandshakeWindow {
 public:
  explicit CUpgradeDlg(AppState& state, HWND parent = nullptr);

  /// 1 when the interface text file was loaded and slots 13-15 were applied, else 0.
  int ApplyInterfaceText();
  /// The poll timer's tick: one step of the core's handshake (a request to the address in the
  /// RouterIP edit), or, once the router has acknowledged, the transfer.
  void OnTimer(UINT_PTR timerId);
  void OnAbort() { m_abortRequested = true; }
  /// Runs the transfer and shows its result. Refused while a transfer is already running.
  void OnSend();

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  void OnOK() override {}  // Enter presses the default button, "&Send", which has its own id
  void OnCancel() override;

 private:
  // What the handshake's ticks ask of the window.
  std::string RouterAddressField() const override;
  void EnableSendButton() override { ::EnableWindow(m_btnSend, TRUE); }
  void StopPollTimer() override { ::KillTimer(m_hWnd, UPGRADE_POLL_TIMER); }
  void StartTransfer() override { OnSend(); }

  void ShowResult(const TftpResult& result);
  /// Dispatches waiting window messages while the transfer waits.
  void PumpMessages();

  AppState& m_state;
  HWND m_staticRouterIp = nullptr;
  HWND m_btnAbort = nullptr;
  HWND m_btnSend = nullptr;
  CProgressCtrl m_progress;
  HWND m_editRouterIp = nullptr;
  HICON m_hIcon;
  bool m_abortRequested = false;
  CUpgradeSocket m_socket;
  UpgradeHandshake m_handshake;

  MsClock m_transferClock;
  bool m_transferring = false;
  /// The result asked for by closing the dialog during a transfer; set, it stops that transfer.
  std::optional<INT_PTR> m_closeAfterTransfer;
};

}  // namespace corvalink
