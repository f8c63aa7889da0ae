#pragma once
// The main dialog (template IDD_PORT_SETUP): finds the routers on the LAN, lists them, and
// stores the chosen one's address for the LPR printer-port software. It owns the search socket
// for its whole life, whose notifications arrive as WM_SEARCH_SOCKET, and carries a
// firmware-file row, hidden by default; in the firmware configuration the row is shown and
// "Install / Modify" upgrades the marked router instead.

#include <string>

#include "app/app_state.h"
#include "app/resource_ids.h"
#include "discovery/search_socket.h"
#include "win32/password_dlg.h"
#include "win32/upgrade_dlg.h"
#include "win32/win_dialog.h"

namespace corvalink {

/// The window message that carries the search socket's notifications.
inline constexpr UINT WM_SEARCH_SOCKET = WM_APP + 1;

/// Where the icon of a minimised window is drawn: centred, the fraction of a signed division
/// dropped, so a client area one pixel smaller than the icon gives 0, not -1.
POINT MinimisedIconPosition(SIZE client, SIZE icon);

class CPortSetupDlg : public CDialog {
 public:
  /// Besides IDOK (address stored) and IDCANCEL: the dialog's results when it could not work.
  static constexpr INT_PTR RESULT_STORE_FAILED = 1000;
  static constexpr INT_PTR RESULT_SEARCH_SOCKET_FAILED = 1001;

  /// `state` must outlive the dialog.
  explicit CPortSetupDlg(AppState& state, HWND parent = nullptr);

  /// Why the dialog ended with RESULT_SEARCH_SOCKET_FAILED or RESULT_STORE_FAILED.
  const std::string& Failure() const { return m_failure; }

  /// Empties the list, forgets the current routers and sends one search request to
  /// state.discoveryDestination. Returns the bytes sent, or -1.
  int StartSearch();
  /// Stores the marked router's address, confirms and ends the dialog; without a marked row it
  /// does nothing. In the firmware configuration it upgrades the marked router instead (after
  /// its password, when it has one) and the dialog stays open.
  void OnInstall();
  void OnDblclkRouterList(NMHDR* header, LRESULT* result);
  /// Lets the user choose a firmware file; a confirmed choice fills FirmwarePath and starts a
  /// new search.
  void OnSelectFile();

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;

 private:
  void LoadInterfaceText();
  bool InFirmwareConfiguration() const {
    return m_state.configuration == MainDialogConfiguration::Firmware;
  }
  void ShowFirmwareRow();
  void UpgradeMarkedRouter();
  void SetUpRouterList();
  void OnSearchReply(const Packet& reply);
  bool SelectRouterFromList();
  bool OnSysCommand(WPARAM command);
  bool OnPaint();
  HWND RouterList() const { return Item(IDC_ROUTER_LIST); }

  AppState& m_state;
  // Only the firmware configuration opens the upgrade and password dialogs; they live as long
  // as this dialog does, each constructed without a parent window and run owned by it.
  CUpgradeDlg m_upgradeDlg;
  CSearchSocket m_searchSocket;
  HWND m_btnSearch = nullptr;
  HWND m_btnSelect = nullptr;
  HWND m_btnInstall = nullptr;
  HWND m_staticRouterLabel = nullptr;
  HWND m_staticFirmwareLabel = nullptr;
  HWND m_editFirmwarePath = nullptr;
  HICON m_hIcon;
  CPasswordDlg m_passwordDlg;
  std::string m_failure;
};

}  // namespace corvalink
