#include "win32/port_setup_dlg.h"

#include <array>
#include <cstring>
#include <memory>

#include "app/router_list.h"
#include "discovery/router_table.h"
#include "platform/registry.h"
#include "portsetup/server_address.h"
#include "text/interface_text.h"
#include "text/ui_texts.h"
#include "win32/about_dlg.h"
#include "win32/app_message.h"
#include "win32/async_socket.h"

namespace corvalink {
namespace {

void SetText(HWND window, const InterfaceTextTable& table, UiText text) {
  ::SetWindowTextA(window, std::string(ShownText(table, text)).c_str());
}
// The template's width in dialog units.
constexpr int DIALOG_CX = 339;
constexpr DWORD LIST_EXTENDED_STYLES = LVS_EX_FULLROWSELECT | LVS_EX_TWOCLICKACTIVATE;

// The current directory offered to the file chooser: 99 bytes with the NUL.
constexpr DWORD INITIAL_DIR_LIMIT = 99;
// The open-file record without the fields Windows 2000 added.
constexpr DWORD OPEN_FILE_FLAGS = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                                  OFN_OVERWRITEPROMPT;
// Each pattern is its own description; the list ends with a second NUL.
constexpr char FIRMWARE_FILTER[] = "*.all\0*.all\0*.rst\0*.rst\0*.*\0*.*\0";

std::unique_ptr<Registry> SystemRegistry() { return OpenSystemRegistry(); }

// The template's one control without an identifier, found by its kind: an identifier of -1
// reads back differently from one system to another.
HWND EtchedLine(HWND dialog) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    char cls[16] = {};
    ::GetClassNameA(child, cls, sizeof cls);
    const auto style = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE));
    if (::lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ETCHEDHORZ) return child;
  }
  return nullptr;
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SetRowState(HWND list, int row, UINT state, UINT mask) {
  LVITEMA item{};
  item.state = state;
  item.stateMask = mask;
  ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

POINT MinimisedIconPosition(SIZE client, SIZE icon) {
  // C++ division truncates towards zero, which is the rule the picture is placed by.
  return POINT{(client.cx - icon.cx + 1) / 2, (client.cy - icon.cy + 1) / 2};
}

CPortSetupDlg::CPortSetupDlg(AppState& state, HWND parent)
    : CDialog(IDD_PORT_SETUP, parent),
      m_state(state),
      m_upgradeDlg(state),
      m_searchSocket([this](const Packet& reply) { OnSearchReply(reply); }),
      m_hIcon(::LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_passwordDlg(state) {}

BOOL CPortSetupDlg::OnInitDialog() {
  m_btnSearch = Item(IDC_SEARCH);
  m_btnSelect = Item(IDC_SELECT_FILE);
  m_btnInstall = Item(IDC_INSTALL);
  m_staticRouterLabel = Item(IDC_ROUTER_LABEL);
  m_staticFirmwareLabel = Item(IDC_FIRMWARE_LABEL);
  m_editFirmwarePath = Item(IDC_FIRMWARE_PATH);

  // The system menu stays as the template makes it: no About entry.
  ::GetSystemMenu(m_hWnd, FALSE);
  SetIcons(m_hIcon);
  m_state.firmwarePath = FirmwarePath{};

  std::string err;
  if (!m_searchSocket.Create(&err) || !AsyncSelect(m_searchSocket, m_hWnd, WM_SEARCH_SOCKET)) {
    // Without the search socket no router can ever be listed: the application says so rather
    // than vanish. Ending here keeps the dialog from ever being shown.
    if (err.empty()) err = SocketErrorText(LastSocketError());
    m_failure = "The search socket could not be created, so no router can be found (" + err + ").";
    EndDialog(RESULT_SEARCH_SOCKET_FAILED);
    return TRUE;
  }

  m_state.interfaceText = InterfaceTextTable{};
  LoadInterfaceText();
  ::EnableWindow(m_btnInstall, FALSE);
  if (InFirmwareConfiguration()) ShowFirmwareRow();
  return TRUE;
}

void CPortSetupDlg::ShowFirmwareRow() {
  // The dialog keeps its width and grows downwards; its frame stays what the template makes.
  RECT client{0, 0, DIALOG_CX, FIRMWARE_DIALOG_CY};
  ::MapDialogRect(m_hWnd, &client);
  const DWORD style = static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_EXSTYLE));
  ::AdjustWindowRectEx(&client, style, FALSE, exStyle);
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  const auto place = [this](HWND control, const DialogUnitRect& du) {
    RECT r{du.x, du.y, du.x + du.cx, du.y + du.cy};
    ::MapDialogRect(m_hWnd, &r);
    ::SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::EnableWindow(control, TRUE);
    ::ShowWindow(control, SW_SHOW);
  };
  place(EtchedLine(m_hWnd), FIRMWARE_LINE_RECT);
  place(m_staticFirmwareLabel, FIRMWARE_LABEL_RECT);
  place(m_editFirmwarePath, FIRMWARE_PATH_RECT);
  place(m_btnSelect, FIRMWARE_SELECT_RECT);
  // The field shows the chosen file; only "&Select" chooses one, so typing there would change
  // nothing that is sent.
  ::SendMessageA(m_editFirmwarePath, EM_SETREADONLY, TRUE, 0);
}

void CPortSetupDlg::LoadInterfaceText() {
  const InterfaceTextTable& text = m_state.interfaceText;
  if (ReloadInterfaceText(m_state.interfaceText, *SystemRegistry())) {
    SetText(m_hWnd, text, UiText::MainCaption);
    SetText(m_staticFirmwareLabel, text, UiText::FirmwareLabel);
    SetText(m_btnSelect, text, UiText::SelectFile);
    SetText(m_staticRouterLabel, text, UiText::RouterLabel);
    SetText(m_btnInstall, text, UiText::Install);
    SetText(m_btnSearch, text, UiText::Search);
  }
  SetUpRouterList();
}

void CPortSetupDlg::SetUpRouterList() {
  HWND list = RouterList();
  const LRESULT styles = ::SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 static_cast<LPARAM>(styles) | LIST_EXTENDED_STYLES);
  for (std::size_t i = 0; i < std::size(LIST_COLUMNS); ++i) {
    std::string heading(ShownText(m_state.interfaceText, LIST_COLUMNS[i].heading));
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = LIST_COLUMNS[i].width;
    column.pszText = heading.data();
    ::SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
  }
}

INT_PTR CPortSetupDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      // One of the messages whose answer a dialog returns directly.
      return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_SEARCH_SOCKET:
      // wParam names the socket: the one on any address or an interface's of the last search.
      if (IsReadNotification(lParam)) m_searchSocket.OnReceiveOn(static_cast<SocketHandle>(wParam));
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      switch (LOWORD(wParam)) {
        case IDC_INSTALL:
          OnInstall();
          return TRUE;
        case IDC_SELECT_FILE:
          OnSelectFile();
          return TRUE;
        case IDC_SEARCH:
          StartSearch();
          return TRUE;
        default:
          break;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom == IDC_ROUTER_LIST && header->code == NM_DBLCLK) {
        LRESULT result = 0;
        OnDblclkRouterList(header, &result);
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return CDialog::OnMessage(msg, wParam, lParam);
}

int CPortSetupDlg::StartSearch() {
  ::SendMessageA(RouterList(), LVM_DELETEALLITEMS, 0, 0);
  const int sent =
      corvalink::StartSearch(m_state.routerTable, m_searchSocket, m_state.discoveryDestination);
  // The sockets the search opened on the interfaces report as the first one does; a socket
  // already watched is simply asked again, and a closed one has left the layer by itself.
  for (SocketHandle handle : m_searchSocket.Descriptors()) AsyncSelect(handle, m_hWnd, WM_SEARCH_SOCKET);
  return sent;
}

void CPortSetupDlg::OnSearchReply(const Packet& reply) {
  RouterTable& table = m_state.routerTable;
  // The table refuses a MAC address it already holds, so list and table stay in step.
  if (table.Add(reply) != AddResult::Added) return;
  const int slot = table.Count() - 1;
  RouterRowCells cells = RowCells(table.Slot(slot));

  HWND list = RouterList();
  ::EnableWindow(list, TRUE);
  // The row keeps the router's slot; its cells are only for the eye.
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = 0;
  item.pszText = cells.mac.data();
  item.lParam = slot;
  ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  SetCell(list, 0, 1, cells.ip);
  SetCell(list, 0, 2, cells.mask);
  SetCell(list, 0, 3, cells.location);

  // The newest row is marked, selected and focused; the row that was on top before loses its
  // selection, rows the user picked further down keep theirs.
  ::SendMessageA(list, LVM_SETSELECTIONMARK, 0, 0);
  SetRowState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  SetRowState(list, 1, 0, LVIS_SELECTED);
  // In the firmware configuration there is nothing to install before a file is chosen.
  ::EnableWindow(m_btnInstall,
                 !InFirmwareConfiguration() || FirmwareChosen(m_state.firmwarePath));
}

bool CPortSetupDlg::SelectRouterFromList() {
  HWND list = RouterList();
  const int marked = static_cast<int>(::SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0));
  if (marked < 0) return false;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = marked;
  item.lParam = -1;
  if (!::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return false;
  // Every row shows a router of the current search: StartSearch empties list and table together.
  return m_state.routerTable.CopySlot(static_cast<int>(item.lParam), m_state.selectedRouter);
}

void CPortSetupDlg::OnInstall() {
  if (InFirmwareConfiguration()) {
    UpgradeMarkedRouter();
    return;
  }
  if (!SelectRouterFromList()) return;
  // No reply may change the table or the list from here on, not even inside the message box.
  m_searchSocket.Close();

  std::string err;
  if (!StoreServerAddress(*SystemRegistry(), m_state.selectedRouter.ipAddress, &err)) {
    // Reported, not confirmed: the printer-port software would not find the address.
    m_failure = err;
    ShowAppMessage(m_hWnd, err.c_str(), MB_ICONHAND);
    EndDialog(RESULT_STORE_FAILED);
    return;
  }
  const std::string confirmation(ShownText(m_state.interfaceText, UiText::InstallConfirmation));
  ShowAppMessage(m_hWnd, confirmation.c_str());
  EndDialog(IDOK);
}

void CPortSetupDlg::UpgradeMarkedRouter() {
  if (!FirmwareChosen(m_state.firmwarePath) || !SelectRouterFromList()) return;
  // The search socket stays open and the list as it is: after this router comes the next.
  if (RouterHasPassword(m_state.selectedRouter) &&
      !PasswordLetsUpgradeGoOn(static_cast<int>(m_passwordDlg.DoModal(m_hWnd)))) {
    return;
  }
  m_upgradeDlg.DoModal(m_hWnd);
}

void CPortSetupDlg::OnDblclkRouterList(NMHDR* /*header*/, LRESULT* result) {
  // Acts on the selection mark, not on the row under the pointer.
  OnInstall();
  *result = 0;
}

void CPortSetupDlg::OnSelectFile() {
  std::array<char, 100> initialDir{};
  const DWORD n = ::GetCurrentDirectoryA(INITIAL_DIR_LIMIT, initialDir.data());
  // A longer current directory is not offered: the system then picks the folder itself.
  if (n == 0 || n >= INITIAL_DIR_LIMIT) initialDir.fill('\0');

  OPENFILENAMEA ofn{};
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = FIRMWARE_FILTER;
  ofn.nFilterIndex = 6;
  // Not cleared first: the previous choice is offered again.
  ofn.lpstrFile = m_state.firmwarePath.path.data();
  ofn.nMaxFile = static_cast<DWORD>(m_state.firmwarePath.path.size());
  ofn.lpstrFileTitle = m_state.firmwarePath.title.data();
  ofn.nMaxFileTitle = static_cast<DWORD>(m_state.firmwarePath.title.size());
  ofn.lpstrInitialDir = initialDir[0] != '\0' ? initialDir.data() : nullptr;
  ofn.Flags = OPEN_FILE_FLAGS;
  if (!::GetOpenFileNameA(&ofn)) return;

  ::SetWindowTextA(m_editFirmwarePath, m_state.firmwarePath.path.data());
  StartSearch();
  ::EnableWindow(m_btnSearch, TRUE);
}

bool CPortSetupDlg::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;  // the system's own course
  CAboutDlg about;
  about.DoModal();
  return true;
}

bool CPortSetupDlg::OnPaint() {
  if (!::IsIconic(m_hWnd)) return false;
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const SIZE icon{::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)};
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const POINT at =
      MinimisedIconPosition(SIZE{client.right - client.left, client.bottom - client.top}, icon);
  ::DrawIcon(dc, at.x, at.y, m_hIcon);
  ::EndPaint(m_hWnd, &ps);
  return true;
}

}  // namespace corvalink
