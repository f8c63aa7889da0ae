// Drives the dialogs of a running corvalink.exe from another process, as a user and a screen
// reader would: windows found by their titles, controls by their identifiers, state read back
// with window messages, clicks posted as the buttons post them. Each command is one scenario of
// tests/gui_win32/run_tests.sh; it prints "FAIL: ..." for every check that does not hold and
// exits non-zero when any failed.
//
//   win32_gui_driver main SHOTDIR PORT         main dialog, about box, injected replies, Install
//   win32_gui_driver password SHOTDIR MODE     first | right | cancel | stays
//   win32_gui_driver upgrade SHOTDIR FIRMWARE SIZE
//   win32_gui_driver upgrade-again SHOTDIR     a complete upgrade, then the second opening
//   win32_gui_driver lab SHOTDIR ROW [ROWS]    Search, wait for ROWS rows (default ROW + 1),
//                                              print them, choose row ROW, Install (lab only)
//   win32_gui_driver firmware SHOTDIR          the firmware configuration's layout, then Cancel
//   win32_gui_driver firmware-lab SHOTDIR FIRMWARE RECEIVED
//                                              "&Select", the search, each router upgraded
//                                              after its password (lab only)
//   win32_gui_driver server-ip DOTTED          the 60 bytes of "Server IP", in the 32-bit view
//   win32_gui_driver window TITLE SHOTDIR NAME a dialog titled TITLE opens; shot NAME; closed
//   win32_gui_driver message CAPTION SHOTDIR NAME  a message box: its text printed; shot NAME
//   win32_gui_driver scramble TEXT             the 24 held bytes of a router password, as hex

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/firmware_config.h"
#include "app/resource_ids.h"
#include "password/scrambler.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* fmt, ...) {
  if (ok) return;
  ++g_failures;
  std::va_list args;
  va_start(args, fmt);
  std::printf("FAIL: ");
  std::vprintf(fmt, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
}

HWND WaitWindow(const char* title, int timeoutMs, HWND other = nullptr) {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    HWND w = ::FindWindowA("#32770", title);
    while (w != nullptr && w == other) w = ::FindWindowExA(nullptr, w, "#32770", title);
    if (w != nullptr && ::IsWindowVisible(w)) return w;
    ::Sleep(50);
  }
  Check(false, "no window \"%s\" within %d ms", title, timeoutMs);
  return nullptr;
}

bool WaitGone(HWND w, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    if (!::IsWindow(w)) return true;
    ::Sleep(50);
  }
  return false;
}

std::string Text(HWND w) {
  char buffer[512] = {};
  ::SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

void Click(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

/// Memory in the dialog's process, for the list view messages that carry a pointer.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND w, std::size_t size) : m_size(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    m_process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_process != nullptr) {
      m_at = static_cast<char*>(
          ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
  }
  ~RemoteBuffer() {
    if (m_at != nullptr) ::VirtualFreeEx(m_process, m_at, 0, MEM_RELEASE);
    if (m_process != nullptr) ::CloseHandle(m_process);
  }
  char* At(std::size_t offset) const { return m_at + offset; }
  void Write(std::size_t offset, const void* data, std::size_t n) const {
    ::WriteProcessMemory(m_process, m_at + offset, data, n, nullptr);
  }
  void Read(std::size_t offset, void* data, std::size_t n) const {
    ::ReadProcessMemory(m_process, m_at + offset, data, n, nullptr);
  }

 private:
  HANDLE m_process = nullptr;
  char* m_at = nullptr;
  std::size_t m_size;
};

// Sends `message` to the list in the other process with `item` (an LVITEMA or LVCOLUMNA) whose
// text points into a buffer there, and returns the text the list filled in.
template <typename Item>
std::string RemoteText(HWND list, UINT message, int index, Item item) {
  RemoteBuffer remote(list, sizeof item + 128);
  item.pszText = remote.At(sizeof item);
  item.cchTextMax = 128;
  remote.Write(0, &item, sizeof item);
  ::SendMessageA(list, message, index, reinterpret_cast<LPARAM>(remote.At(0)));
  char text[128] = {};
  remote.Read(sizeof item, text, sizeof text - 1);
  return text;
}

std::string CellText(HWND list, int row, int column) {
  LVITEMA item{};
  item.iSubItem = column;
  return RemoteText(list, LVM_GETITEMTEXTA, row, item);
}

std::string Heading(HWND list, int column) {
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT;
  return RemoteText(list, LVM_GETCOLUMNA, column, col);
}

void SetRowState(HWND list, int row, UINT state, UINT mask) {
  RemoteBuffer remote(list, sizeof(LVITEMA));
  LVITEMA item{};
  item.state = state;
  item.stateMask = mask;
  remote.Write(0, &item, sizeof item);
  ::SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.At(0)));
}

/// The window's picture as the screen shows it, as a 24-bit BMP.
void Screenshot(HWND w, const std::string& path) {
  ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(300);
  RECT r;
  ::GetWindowRect(w, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC mem = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  ::BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u), size = stride * height;
  BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader + size), 0, 0,
                      static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader)};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&fh), sizeof fh);
  out.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  ::SelectObject(mem, old);
  ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::ReleaseDC(nullptr, screen);
  Check(out.good(), "screenshot %s not written", path.c_str());
}

// ---- Templates -----------------------------------------------------------------------------

struct Control {
  int id;
  const char* cls;   // window class as the live control reports it
  const char* text;  // template text
  short x, y, cx, cy;
  DWORD styleOn;   // bits that must be set
  DWORD styleOff;  // bits that must be clear
  bool visible, enabled;
};

struct Template {
  int id;
  const char* caption;
  short cx, cy;
  DWORD styleOn, styleOff, exStyleOn;
  std::vector<Control> controls;  // in template (tab) order
};

constexpr DWORD BTN = BS_PUSHBUTTON, DEF = BS_DEFPUSHBUTTON;
constexpr DWORD NO_MINMAX = WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

const Template MAIN_TEMPLATE{
    IDD_PORT_SETUP, "ZUD Arora Ruza vez Udu98/De", 339, 122,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, NO_MINMAX, WS_EX_APPWINDOW,
    {{IDC_SELECT_FILE, "Button", "&Select", 272, 98, 60, 14, DEF | WS_TABSTOP, 0, false, false},
     {IDC_INSTALL, "Button", "Install / Modify", 265, 6, 67, 14, BTN | WS_TABSTOP, 0, true, false},
     {IDC_FIRMWARE_LABEL, "Static", "Choose Firmware File : ", 7, 101, 325, 8, SS_LEFT | WS_GROUP, 0,
      false, true},
     {IDC_FIRMWARE_PATH, "Edit", "", 7, 100, 222, 12, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0,
      false, true},
     {-1, "Static", "", 40, 115, 292, 1, SS_ETCHEDHORZ, 0, false, true},
     {IDC_ROUTER_LABEL, "Static", "Select K4410 Router :", 7, 9, 148, 8, SS_LEFT | WS_GROUP, 0, true,
      true},
     {IDC_ROUTER_LIST, "SysListView32", "", 7, 24, 325, 91,
      LVS_REPORT | WS_BORDER | WS_GROUP | WS_TABSTOP, 0, true, false},
     {IDC_SEARCH, "Button", "Search", 192, 6, 60, 14, BTN | WS_TABSTOP, 0, true, true}}};

const Template ABOUT_TEMPLATE{
    IDD_ABOUTBOX, "About Corvalink", 235, 55,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0,
    // The icon static takes its icon's size, so only its origin is the template's.
    {{-1, "Static", "", 11, 17, 20, 20, SS_ICON, 0, true, true},
     {-1, "Static", "Corvalink Version 1.0", 40, 10, 119, 8, SS_NOPREFIX, 0, true, true},
     {-1, "Static", "Router setup and upgrade tool", 40, 25, 119, 8, 0, 0, true, true},
     {IDOK, "Button", "OK", 178, 7, 50, 14, DEF | WS_TABSTOP, 0, true, true}}};

const Template UPGRADE_TEMPLATE{
    IDD_UPGRADE, "Router Firmware Upgrade Utility", 211, 108,
    WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0,
    {{IDC_SEND, "Button", "&Send", 95, 50, 93, 14, DEF | WS_TABSTOP, 0, true, false},
     {IDC_ABORT, "Button", "&Abort", 21, 66, 77, 16, BTN | WS_TABSTOP, 0, false, true},
     {IDC_PROGRESS, "msctls_progress32", "", 7, 87, 197, 14, WS_BORDER, 0, true, true},
     {IDC_ROUTER_IP_LABEL, "Static", "RouterIP :", 15, 27, 77, 8, SS_RIGHT | WS_GROUP, 0, true, true},
     {IDC_ROUTER_IP, "Edit", "", 95, 24, 93, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, true,
      false},
     {-1, "Button", "", 7, 7, 197, 73, BS_GROUPBOX, 0, true, true}}};

const Template PASSWORD_TEMPLATE{
    IDD_PASSWORD, "Please input router password", 151, 50,
    WS_CAPTION | WS_SYSMENU, NO_MINMAX, 0,
    {{IDOK, "Button", "&OK", 7, 28, 60, 14, DEF | WS_TABSTOP, 0, true, true},
     {IDCANCEL, "Button", "&Cancel", 84, 28, 60, 14, BTN | WS_TABSTOP, 0, true, true},
     {IDC_PASSWORD, "Edit", "", 7, 7, 137, 14,
      ES_PASSWORD | ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0, true, true}}};

/// The style bits asked for are set, and a button's or static's kind is exactly the one asked for.
/// On a live control (`live`), a template's WS_BORDER may show as a sunken edge, which the dialog
/// manager and the common controls draw instead; Wine's progress bar draws its own frame.
bool StyleMatches(DWORD style, const Control& c, bool live = false, DWORD exStyle = 0) {
  if (live && ((exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) ||
               std::strcmp(c.cls, "msctls_progress32") == 0)) {
    style |= WS_BORDER;
  }
  if ((style & c.styleOn) != c.styleOn || (style & c.styleOff) != 0) return false;
  if (std::strcmp(c.cls, "Button") == 0) return (style & BS_TYPEMASK) == (c.styleOn & BS_TYPEMASK);
  if (std::strcmp(c.cls, "Static") == 0) return (style & SS_TYPEMASK) == (c.styleOn & SS_TYPEMASK);
  return true;
}

/// A control without identifier is -1, which some layers report as its low 16 bits.
bool IdMatches(int id, int expected) {
  return id == expected || (expected == -1 && (id == 0xFFFF || id == -1));
}

/// The live dialog against the template: its frame, and each child in tab order with its
/// identifier, class, text, rectangle (through the dialog's base units), style and initial
/// state. (The compiled templates' fonts and sizes are checked by run_tests.sh.)
void CheckLiveDialog(HWND dlg, const Template& t) {
  const DWORD style = static_cast<DWORD>(::GetWindowLongA(dlg, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(dlg, GWL_EXSTYLE));
  Check((style & t.styleOn) == t.styleOn && (style & t.styleOff) == 0, "%s: window style %08lx",
        t.caption, style);
  Check((exStyle & t.exStyleOn) == t.exStyleOn, "%s: extended style %08lx", t.caption, exStyle);
  RECT client;
  ::GetClientRect(dlg, &client);
  // The base units are whole numbers: the one pair that gives this client size.
  int bx = 0, by = 0;
  for (int u = 1; u < 64; ++u) {
    if (::MulDiv(t.cx, u, 4) == client.right) bx = u;
    if (::MulDiv(t.cy, u, 8) == client.bottom) by = u;
  }
  Check(bx != 0 && by != 0, "%s: client %ld x %ld fits no base units for %d x %d", t.caption,
        client.right, client.bottom, t.cx, t.cy);
  HWND child = ::GetWindow(dlg, GW_CHILD);
  for (const Control& c : t.controls) {
    Check(child != nullptr, "%s: fewer children than controls", t.caption);
    if (child == nullptr) return;
    char cls[64] = {};
    ::GetClassNameA(child, cls, sizeof cls);
    const int id = ::GetDlgCtrlID(child);
    Check(IdMatches(id, c.id), "%s: child id %d, not %d", t.caption, id, c.id);
    Check(lstrcmpiA(cls, c.cls) == 0, "%s id %d: class %s", t.caption, c.id, cls);
    // Edits show what the dialog put there, an icon static its icon; the others their text.
    const DWORD kind = std::strcmp(c.cls, "Static") == 0 ? (c.styleOn & SS_TYPEMASK) : 0;
    Check(std::strcmp(c.cls, "Edit") == 0 || kind == SS_ICON || Text(child) == c.text, "%s id %d: text \"%s\"",
          t.caption, c.id, Text(child).c_str());
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    // An icon static takes its icon's size; an etched line is drawn two pixels thick and may
    // reach one edge further.
    const long w = r.right - r.left, h = r.bottom - r.top;
    const long wantW = ::MulDiv(c.cx, bx, 4), wantH = ::MulDiv(c.cy, by, 8);
    const bool sized = kind == SS_ICON ||
                       (kind == SS_ETCHEDHORZ ? (w >= wantW && w <= wantW + 2 && h <= 2)
                                              : (w == wantW && h == wantH));
    Check(r.left == ::MulDiv(c.x, bx, 4) && r.top == ::MulDiv(c.y, by, 8) && sized,
          "%s id %d: at %ld,%ld %ldx%ld pixels", t.caption, c.id, r.left, r.top, r.right - r.left,
          r.bottom - r.top);
    const DWORD cs = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE));
    const DWORD ces = static_cast<DWORD>(::GetWindowLongA(child, GWL_EXSTYLE));
    Check(StyleMatches(cs, c, true, ces), "%s id %d: style %08lx", t.caption, c.id, cs);
    Check((::IsWindowVisible(child) != 0) == c.visible, "%s id %d: visible %d", t.caption, c.id,
          ::IsWindowVisible(child));
    Check((::IsWindowEnabled(child) != 0) == c.enabled, "%s id %d: enabled %d", t.caption, c.id,
          ::IsWindowEnabled(child));
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  Check(child == nullptr, "%s: more children than controls", t.caption);
}

HWND WaitMessageBox(const char* caption, HWND owner, int timeoutMs, std::string* text) {
  HWND box = WaitWindow(caption, timeoutMs, owner);
  if (box != nullptr && text != nullptr) *text = Text(::GetDlgItem(box, 0xFFFF));
  return box;
}

void Dismiss(HWND box) {
  if (box == nullptr) return;
  ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  Check(WaitGone(box, 5000), "message box did not close");
}

// ---- Scenarios -----------------------------------------------------------------------------

struct Reply {
  uint8_t ip[4], mask[4], mac[6];
  const char* location;
};

void SendReply(SOCKET s, uint16_t port, const std::vector<uint8_t>& bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::sendto(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  ::Sleep(100);
}

std::vector<uint8_t> SearchReply(const Reply& r) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 0xDD, b[1] = 0x80, b[3] = 54;
  std::memcpy(&b[4], r.ip, 4);
  std::memcpy(&b[8], r.mask, 4);
  std::memcpy(&b[12], r.mac, 6);
  std::strncpy(reinterpret_cast<char*>(&b[18]), r.location, 23);
  return b;
}

int MainScenario(const std::string& shots, uint16_t port) {
  HWND dlg = WaitWindow(MAIN_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  CheckLiveDialog(dlg, MAIN_TEMPLATE);
  HWND list = ::GetDlgItem(dlg, IDC_ROUTER_LIST);
  const LRESULT ex = ::SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  Check((ex & 0xA0) == 0xA0, "list extended style %08lx lacks 0xA0", static_cast<long>(ex));
  const char* headings[] = {"MAC ADDRESS", "IP ADDRESS", "IP MASK", "Location"};
  const int widths[] = {115, 115, 165, 170};
  HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
  Check(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) == 4, "list has not four columns");
  for (int i = 0; i < 4; ++i) {
    const LRESULT w = ::SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0);
    Check(w == widths[i], "column %d is %ld pixels wide, not %d", i, static_cast<long>(w), widths[i]);
    Check(Heading(list, i) == headings[i], "column %d heading \"%s\"", i, Heading(list, i).c_str());
  }
  Check(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 0, "list not empty at start");
  Screenshot(dlg, shots + "\\main.bmp");

  // The about box opens on system command 0x0010 whatever its low four bits say.
  ::PostMessageA(dlg, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
  if (HWND about = WaitWindow(ABOUT_TEMPLATE.caption, 5000)) {
      CheckLiveDialog(about, ABOUT_TEMPLATE);
    Screenshot(about, shots + "\\about.bmp");
    Click(about, IDOK);
    Check(WaitGone(about, 5000), "about box did not close");
  }

  // Replies arriving unasked are listed; the newest goes on top, marked, selected, focused.
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  // Router records in the payload only: every datagram goes to the dialog on 127.0.0.1.
  const Reply a{{198, 18, 0, 23}, {255, 255, 255, 0}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, "Hall"};
  const Reply b{{198, 18, 0, 22}, {255, 255, 0, 0}, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, "Office 2"};
  const Reply c{{198, 18, 0, 21}, {255, 0, 0, 0}, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
                "Twenty-three characters"};
  Reply aAgain = a;
  aAgain.ip[3] = 99;
  for (const Reply* r : std::initializer_list<const Reply*>{&a, &b, &c, &aAgain}) {
    SendReply(s, port, SearchReply(*r));
  }
  SendReply(s, port, {0xDD, 0x82, 0x00, 0x36});  // an upgrade reply: not a router
  SendReply(s, port, {0xDD, 0x80});              // two bytes: a router of zeros
  ::closesocket(s);
  for (int waited = 0; waited < 5000 && ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) < 4; waited += 50) {
    ::Sleep(50);
  }
  const std::vector<std::vector<std::string>> rows = {
      {"000000000000", "0.0.0.0", "0.0.0.0", ""},
      {"AABBCCDDEEFF", "198.18.0.21", "255.0.0.0", "Twenty-three characters"},
      {"021122334455", "198.18.0.22", "255.255.0.0", "Office 2"},
      {"001A2B3C4D5E", "198.18.0.23", "255.255.255.0", "Hall"}};
  Check(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 4, "%ld rows listed, not 4",
        static_cast<long>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));
  for (int r = 0; r < 4; ++r) {
    for (int col = 0; col < 4; ++col) {
      Check(CellText(list, r, col) == rows[r][col], "row %d column %d: \"%s\", not \"%s\"", r, col,
            CellText(list, r, col).c_str(), rows[r][col].c_str());
    }
  }
  Check(::SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0) == 0, "the mark is not on the newest row");
  const UINT both = LVIS_SELECTED | LVIS_FOCUSED;
  Check(::SendMessageA(list, LVM_GETITEMSTATE, 0, both) == both, "row 0 not selected and focused");
  Check(::SendMessageA(list, LVM_GETITEMSTATE, 1, LVIS_SELECTED) == 0, "row 1 still selected");
  Check(::IsWindowEnabled(list) && ::IsWindowEnabled(::GetDlgItem(dlg, IDC_INSTALL)),
        "list and Install / Modify not enabled");
  Screenshot(dlg, shots + "\\main_rows.bmp");

  // "Install / Modify" acts on the mark, wherever the selection is.
  ::SendMessageA(list, LVM_SETSELECTIONMARK, 0, 2);
  Click(dlg, IDC_INSTALL);
  std::string text = "?";
  if (HWND box = WaitMessageBox("corvalink", dlg, 5000, &text)) {
    Check(text.empty(), "confirmation without lpr.txt shows \"%s\"", text.c_str());
    Screenshot(box, shots + "\\confirm.bmp");
    Dismiss(box);
  }
  Check(WaitGone(dlg, 5000), "main dialog still open after Install");
  return 0;
}

int PasswordScenario(const std::string& shots, const std::string& mode) {
  HWND dlg = WaitWindow(PASSWORD_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  HWND edit = ::GetDlgItem(dlg, IDC_PASSWORD);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ::Sleep(300);
  gui.cbSize = sizeof gui;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dlg, nullptr), &gui);
  Check(gui.hwndFocus == edit, "the focus is not in the password edit");
  auto type = [&](const char* text) {
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    Click(dlg, IDOK);
  };
  std::string text;
  if (mode == "first") {
      CheckLiveDialog(dlg, PASSWORD_TEMPLATE);
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("wrong"));
    Screenshot(dlg, shots + "\\password.bmp");
    Click(dlg, IDOK);
    HWND box = WaitMessageBox("Error Message", dlg, 5000, &text);
    Check(text == "Password Error", "error text \"%s\"", text.c_str());
    Check(Text(edit).empty(), "the typed password is still in the edit");
    if (box != nullptr) Screenshot(box, shots + "\\password_error.bmp");
    Dismiss(box);
  } else if (mode == "right") {
    type("secret");
  } else if (mode == "cancel") {
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("secret"));
    Click(dlg, IDCANCEL);
  } else if (mode == "stays") {
    // A router without a password: a typed text is refused and the dialog stays with it.
    type("x");
    Dismiss(WaitMessageBox("Error Message", dlg, 5000, &text));
    Check(::IsWindowVisible(dlg) && Text(edit) == "x", "the dialog did not stay with its text");
    ::Sleep(300);
    gui.cbSize = sizeof gui;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dlg, nullptr), &gui);
    Check(gui.hwndFocus == edit, "the focus did not come back to the edit after the message");
    type("");
  }
  Check(WaitGone(dlg, 5000), "password dialog still open");
  return 0;
}

struct Range {
  int low, high;
};
Range GetRange(HWND bar) {
  return {static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, TRUE, 0)),
          static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0))};
}

int UpgradeScenario(const std::string& shots, const char* firmware, long size) {
  HWND dlg = WaitWindow(UPGRADE_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  CheckLiveDialog(dlg, UPGRADE_TEMPLATE);
  HWND bar = ::GetDlgItem(dlg, IDC_PROGRESS);
  HWND send = ::GetDlgItem(dlg, IDC_SEND);
  Check(Text(::GetDlgItem(dlg, IDC_ROUTER_IP)) == "127.0.0.1", "RouterIP edit shows \"%s\"",
        Text(::GetDlgItem(dlg, IDC_ROUTER_IP)).c_str());
  const Range r = GetRange(bar);
  Check(r.low == 0 && r.high == 5, "handshake range %d..%d, not 0..5", r.low, r.high);
  Screenshot(dlg, shots + "\\upgrade.bmp");

  // Each tick steps the bar and sends a request; the router answers the third; the next tick
  // sets the bar to 0 and runs the transfer, which fails at once: the file is not there yet.
  std::vector<int> seen;
  HWND box = nullptr;
  for (int waited = 0; waited < 15000 && box == nullptr; waited += 20) {
    const int pos = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
    if (seen.empty() || seen.back() != pos) seen.push_back(pos);
    box = ::FindWindowA("#32770", "Upgrade failed");
    ::Sleep(20);
  }
  if (!seen.empty() && seen.front() == 0) seen.erase(seen.begin());
  std::string steps;
  for (int p : seen) steps += std::to_string(p) + " ";
  Check(seen == std::vector<int>{1, 2, 3, 0}, "progress during the handshake: %s", steps.c_str());
  std::string text;
  box = WaitMessageBox("Upgrade failed", dlg, 1000, &text);
  Check(text.rfind("Upgrade failed", 0) == 0, "failure text \"%s\"", text.c_str());
  if (box != nullptr) Screenshot(box, shots + "\\upgrade_failed.bmp");
  Dismiss(box);
  Check(::IsWindowEnabled(send) && Text(send) == "&Send", "\"&Send\" not offered again");

  // "&Send" retries the transfer without a new handshake.
  {
    std::ofstream out(firmware, std::ios::binary);
    for (long i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
  }
  Click(dlg, IDC_SEND);
  box = WaitMessageBox("Upgrade complete", dlg, 30000, &text);
  const Range filled = GetRange(bar);
  const int pos = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
  Check(filled.low == 0 && filled.high == size / 512 + 1 && pos == filled.high,
        "after the transfer: range %d..%d, position %d", filled.low, filled.high, pos);
  Check(text == "Upgrade complete", "success text \"%s\"", text.c_str());
  if (box != nullptr) Screenshot(box, shots + "\\upgrade_complete.bmp");
  Dismiss(box);
  Check(WaitGone(dlg, 5000), "upgrade dialog still open after \"Upgrade complete\"");
  return 0;
}

// The same dialog object opened a second time after a complete upgrade: its bar starts at 0 of
// 0..5 again, not where the transfer left it (full).
int UpgradeAgainScenario(const std::string& shots) {
  HWND first = WaitWindow(UPGRADE_TEMPLATE.caption, 30000);
  if (first == nullptr) return 1;
  Dismiss(WaitMessageBox("Upgrade complete", first, 30000, nullptr));
  Check(WaitGone(first, 5000), "the first opening did not end after \"Upgrade complete\"");
  HWND again = WaitWindow(UPGRADE_TEMPLATE.caption, 30000, first);
  if (again == nullptr) return 1;
  // Read at once: the first tick, 500 ms after the opening, steps the bar to 1.
  HWND bar = ::GetDlgItem(again, IDC_PROGRESS);
  const int pos = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
  const Range r = GetRange(bar);
  Check(pos <= 1 && r.low == 0 && r.high == 5, "second opening: position %d of %d..%d", pos,
        r.low, r.high);
  Screenshot(again, shots + "\\upgrade_again.bmp");
  ::PostMessageA(again, WM_COMMAND, IDCANCEL, 0);
  Check(WaitGone(again, 5000), "the second opening did not close");
  return 0;
}

// Only ever run inside the network lab: it presses "Search".
int LabScenario(const std::string& shots, int row, int rows) {
  if (std::getenv("CORVALINK_LAB_ID") == nullptr) {
    Check(false, "refusing to press Search outside the network lab");
    return 1;
  }
  HWND dlg = WaitWindow(MAIN_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  HWND list = ::GetDlgItem(dlg, IDC_ROUTER_LIST);
  Click(dlg, IDC_SEARCH);
  const int wanted = std::max(rows, row + 1);
  for (int waited = 0; waited < 10000 && ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) < wanted;
       waited += 50) {
    ::Sleep(50);
  }
  const int listed = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  Check(listed >= wanted, "too few routers listed: %d of %d", listed, wanted);
  for (int i = 0; i < listed; ++i) {
    std::printf("listed: %s %s\n", CellText(list, i, 0).c_str(), CellText(list, i, 1).c_str());
  }
  Screenshot(dlg, shots + "\\lab_rows.bmp");
  // The user clicks the row: it becomes the only selected one and the mark.
  SetRowState(list, -1, 0, LVIS_SELECTED);
  SetRowState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ::SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
  std::printf("chosen: %s %s\n", CellText(list, row, 0).c_str(), CellText(list, row, 1).c_str());
  Click(dlg, IDC_INSTALL);
  Dismiss(WaitMessageBox("corvalink", dlg, 5000, nullptr));
  Check(WaitGone(dlg, 5000), "main dialog still open after Install");
  return 0;
}

// ---- The firmware configuration -------------------------------------------------------------

/// The window's horizontal dialog base unit, from its client width (the template's 339 units).
int BaseUnitX(HWND dlg) {
  RECT client;
  ::GetClientRect(dlg, &client);
  for (int u = 1; u < 64; ++u) {
    if (::MulDiv(339, u, 4) == client.right) return u;
  }
  return 0;
}

/// The firmware row as the user sees it: each control shown and enabled where the firmware
/// configuration puts it, below the list; "Install / Modify" waits for a file.
void CheckFirmwareRow(HWND dlg) {
  RECT client;
  ::GetClientRect(dlg, &client);
  const int bx = BaseUnitX(dlg);
  int by = 0;
  for (int u = 1; u < 64; ++u) {
    if (::MulDiv(corvalink::FIRMWARE_DIALOG_CY, u, 8) == client.bottom) by = u;
  }
  Check(bx != 0 && by != 0, "firmware configuration: client %ld x %ld is not 339 x %d units",
        client.right, client.bottom, corvalink::FIRMWARE_DIALOG_CY);
  const struct {
    int id;
    corvalink::DialogUnitRect at;
  } row[] = {{IDC_SELECT_FILE, corvalink::FIRMWARE_SELECT_RECT},
             {IDC_FIRMWARE_LABEL, corvalink::FIRMWARE_LABEL_RECT},
             {IDC_FIRMWARE_PATH, corvalink::FIRMWARE_PATH_RECT}};
  for (const auto& c : row) {
    HWND w = ::GetDlgItem(dlg, c.id);
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    // Placed as MapDialogRect maps a rectangle: each edge on its own.
    Check(r.left == ::MulDiv(c.at.x, bx, 4) && r.top == ::MulDiv(c.at.y, by, 8) &&
              r.right == ::MulDiv(c.at.x + c.at.cx, bx, 4) &&
              r.bottom == ::MulDiv(c.at.y + c.at.cy, by, 8),
          "firmware row id %d at %ld,%ld %ldx%ld pixels", c.id, r.left, r.top, r.right - r.left,
          r.bottom - r.top);
    Check(::IsWindowVisible(w) && ::IsWindowEnabled(w), "firmware row id %d hidden or disabled", c.id);
  }
  // The etched line, the one static without an identifier.
  bool lineShown = false;
  for (HWND c = ::GetWindow(dlg, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
    const DWORD style = static_cast<DWORD>(::GetWindowLongA(c, GWL_STYLE));
    if ((style & SS_TYPEMASK) == SS_ETCHEDHORZ) lineShown = ::IsWindowVisible(c) != 0;
  }
  Check(lineShown, "the etched line is not shown");
  Check(Text(::GetDlgItem(dlg, IDC_FIRMWARE_LABEL)) == "Choose Firmware File : ", "label \"%s\"",
        Text(::GetDlgItem(dlg, IDC_FIRMWARE_LABEL)).c_str());
  const DWORD pathStyle = static_cast<DWORD>(::GetWindowLongA(::GetDlgItem(dlg, IDC_FIRMWARE_PATH), GWL_STYLE));
  Check((pathStyle & ES_READONLY) != 0, "the path field can be typed into");
}

int FirmwareScenario(const std::string& shots) {
  HWND dlg = WaitWindow(MAIN_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  CheckFirmwareRow(dlg);
  Check(!::IsWindowEnabled(::GetDlgItem(dlg, IDC_INSTALL)), "Install / Modify enabled at start");
  Screenshot(dlg, shots + "\\main_firmware.bmp");
  Click(dlg, IDCANCEL);
  Check(WaitGone(dlg, 5000), "main dialog still open after Cancel");
  return 0;
}

/// Every visible edit control of `dialog`, however deep: the file name field of the system's
/// open-file dialog lies inside a combo box on some systems.
BOOL CALLBACK CollectEdit(HWND w, LPARAM found) {
  char cls[16] = {};
  ::GetClassNameA(w, cls, sizeof cls);
  if (lstrcmpiA(cls, "Edit") == 0 && ::IsWindowVisible(w)) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(w);
  }
  return TRUE;
}

/// Answers the open-file dialog as a user who types the full path and presses Open.
bool ChooseInOpenDialog(HWND owner, const char* path) {
  HWND open = nullptr;
  for (int waited = 0; waited < 15000 && open == nullptr; waited += 50) {
    ::Sleep(50);
    for (HWND w = ::FindWindowA("#32770", nullptr); w != nullptr;
         w = ::FindWindowExA(nullptr, w, "#32770", nullptr)) {
      if (w != owner && ::GetWindow(w, GW_OWNER) == owner && ::IsWindowVisible(w)) open = w;
    }
  }
  Check(open != nullptr, "no open-file dialog");
  if (open == nullptr) return false;
  std::vector<HWND> edits;
  ::EnumChildWindows(open, CollectEdit, reinterpret_cast<LPARAM>(&edits));
  Check(!edits.empty(), "the open-file dialog has no name field");
  if (edits.empty()) return false;
  ::SendMessageA(edits.front(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
  ::PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(open, IDOK)));
  const bool gone = WaitGone(open, 5000);
  Check(gone, "the open-file dialog did not close");
  return gone;
}

std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int RowWithAddress(HWND list, const char* ip) {
  const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    if (CellText(list, r, 1) == ip) return r;
  }
  return -1;
}

// Only ever run inside the network lab: "&Select" starts a search.
int FirmwareLabScenario(const std::string& shots, const char* firmware, const std::string& received) {
  if (std::getenv("CORVALINK_LAB_ID") == nullptr) {
    Check(false, "refusing to search outside the network lab");
    return 1;
  }
  HWND dlg = WaitWindow(MAIN_TEMPLATE.caption, 30000);
  if (dlg == nullptr) return 1;
  HWND list = ::GetDlgItem(dlg, IDC_ROUTER_LIST);
  HWND install = ::GetDlgItem(dlg, IDC_INSTALL);
  CheckFirmwareRow(dlg);

  Click(dlg, IDC_SELECT_FILE);
  if (!ChooseInOpenDialog(dlg, firmware)) return 1;
  Check(Text(::GetDlgItem(dlg, IDC_FIRMWARE_PATH)) == firmware, "path field shows \"%s\"",
        Text(::GetDlgItem(dlg, IDC_FIRMWARE_PATH)).c_str());
  for (int waited = 0; waited < 10000 && ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) < 2; waited += 50) {
    ::Sleep(50);
  }
  Check(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2, "the search after \"&Select\" listed %ld routers",
        static_cast<long>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));
  Check(::IsWindowEnabled(install) != 0, "Install / Modify not enabled with a file and routers");
  Screenshot(dlg, shots + "\\main_firmware_rows.bmp");

  const std::vector<char> image = FileBytes(firmware);
  const std::string stored = received + "\\image.all";
  const struct {
    const char* ip;
    const char* typed;  // null: the router has no password
    bool upgraded;
  } steps[] = {{"198.18.0.11", "wrong", false}, {"198.18.0.11", "pw", true}, {"198.18.0.10", nullptr, true}};
  for (const auto& step : steps) {
    ::DeleteFileA(stored.c_str());
    const int row = RowWithAddress(list, step.ip);
    Check(row >= 0, "%s is not listed", step.ip);
    if (row < 0) return 1;
    SetRowState(list, -1, 0, LVIS_SELECTED);
    SetRowState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ::SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
    Click(dlg, IDC_INSTALL);

    if (step.typed != nullptr) {
      HWND pw = WaitWindow(PASSWORD_TEMPLATE.caption, 5000);
      if (pw == nullptr) return 1;
      Check(!::IsWindowEnabled(dlg), "the main dialog takes clicks while the password dialog is open");
      ::SendMessageA(::GetDlgItem(pw, IDC_PASSWORD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.typed));
      Click(pw, IDOK);
      if (!step.upgraded) {
        std::string text;
        Dismiss(WaitMessageBox("Error Message", pw, 5000, &text));
        Check(text == "Password Error", "error text \"%s\"", text.c_str());
        Check(WaitGone(pw, 5000), "password dialog still open after a refusal");
      }
    }
    if (step.upgraded) {
      HWND up = WaitWindow(UPGRADE_TEMPLATE.caption, 5000);
      if (up == nullptr) return 1;
      Check(Text(::GetDlgItem(up, IDC_ROUTER_IP)) == step.ip, "upgrade dialog for \"%s\"",
            Text(::GetDlgItem(up, IDC_ROUTER_IP)).c_str());
      if (step.typed != nullptr) {
        // Taken during the handshake of the first upgrade, while the bar steps from empty.
        HWND bar = ::GetDlgItem(up, IDC_PROGRESS);
        for (int waited = 0; waited < 3000; waited += 20) {
          const LRESULT pos = ::SendMessageA(bar, PBM_GETPOS, 0, 0);
          if (pos >= 1 && pos < 5) break;
          ::Sleep(20);
        }
        Screenshot(up, shots + "\\upgrade_firmware.bmp");
      }
      std::string text;
      HWND box = WaitMessageBox("Upgrade complete", up, 30000, &text);
      Check(text == "Upgrade complete", "after the transfer: \"%s\"", text.c_str());
      Dismiss(box);
      Check(WaitGone(up, 5000), "upgrade dialog still open after \"Upgrade complete\"");
      Check(FileBytes(stored) == image, "%s did not get the image byte for byte", step.ip);
      std::printf("upgraded: %s\n", step.ip);
    } else {
      ::Sleep(1000);
      Check(::FindWindowA("#32770", UPGRADE_TEMPLATE.caption) == nullptr,
            "the upgrade dialog opened after a refused password");
    }
    Check(::IsWindowVisible(dlg) && ::IsWindowEnabled(dlg), "main dialog gone or disabled after the road");
    Check(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2, "the list was not kept");
  }
  Click(dlg, IDCANCEL);
  Check(WaitGone(dlg, 5000), "main dialog still open after Cancel");
  return 0;
}

int ServerIp(const std::string& dotted) {
  // The printer-port software is a 32-bit program: it reads the 32-bit view, and the value must
  // be there and not in the 64-bit one.
  HKEY native = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\DED Orezadu Devo", 0,
                      KEY_READ | KEY_WOW64_64KEY, &native) == ERROR_SUCCESS) {
    Check(::RegQueryValueExA(native, "Server IP", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS,
          "\"Server IP\" is in the 64-bit view");
    ::RegCloseKey(native);
  }
  HKEY key = nullptr;
  Check(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\DED Orezadu Devo", 0,
                        KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS,
        "no key in the 32-bit view");
  unsigned char data[100] = {};
  DWORD size = sizeof data, type = 0;
  Check(key != nullptr &&
            ::RegQueryValueExA(key, "Server IP", nullptr, &type, data, &size) == ERROR_SUCCESS,
        "no value \"Server IP\"");
  unsigned char expected[60] = {};
  std::memcpy(expected, dotted.data(), dotted.size());
  Check(type == REG_SZ && size == 60 && std::memcmp(data, expected, 60) == 0,
        "\"Server IP\": type %lu, %lu bytes, \"%s\"", type, size, data);
  if (key != nullptr) ::RegCloseKey(key);
  return 0;
}

// A dialog of the program opens with this title (an interface text, a caption); it is shot and
// closed as the close box closes it.
int WindowScenario(const char* title, const std::string& shots, const std::string& name) {
  HWND dlg = WaitWindow(title, 30000);
  if (dlg == nullptr) return 1;
  Screenshot(dlg, shots + "\\" + name + ".bmp");
  ::PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
  Check(WaitGone(dlg, 5000), "\"%s\" did not close", title);
  return 0;
}

// A message box of the program's own (no owner): its text goes to standard output.
int MessageScenario(const char* caption, const std::string& shots, const std::string& name) {
  std::string text;
  HWND box = WaitMessageBox(caption, nullptr, 30000, &text);
  if (box == nullptr) return 1;
  std::printf("%s\n", text.c_str());
  Screenshot(box, shots + "\\" + name + ".bmp");
  Dismiss(box);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  WSADATA wsa;
  ::WSAStartup(MAKEWORD(2, 2), &wsa);
  const std::string cmd = argc > 1 ? argv[1] : "";
  int rc = 2;
  if (cmd == "main" && argc == 4) {
    rc = MainScenario(argv[2], static_cast<uint16_t>(std::atoi(argv[3])));
  } else if (cmd == "password" && argc == 4) {
    rc = PasswordScenario(argv[2], argv[3]);
  } else if (cmd == "upgrade" && argc == 5) {
    rc = UpgradeScenario(argv[2], argv[3], std::atol(argv[4]));
  } else if (cmd == "lab" && (argc == 4 || argc == 5)) {
    rc = LabScenario(argv[2], std::atoi(argv[3]), argc == 5 ? std::atoi(argv[4]) : 0);
  } else if (cmd == "firmware" && argc == 3) {
    rc = FirmwareScenario(argv[2]);
  } else if (cmd == "firmware-lab" && argc == 5) {
    rc = FirmwareLabScenario(argv[2], argv[3], argv[4]);
  } else if (cmd == "upgrade-again" && argc == 3) {
    rc = UpgradeAgainScenario(argv[2]);
  } else if (cmd == "window" && argc == 5) {
    rc = WindowScenario(argv[2], argv[3], argv[4]);
  } else if (cmd == "message" && argc == 5) {
    rc = MessageScenario(argv[2], argv[3], argv[4]);
  } else if (cmd == "server-ip" && argc == 3) {
    rc = ServerIp(argv[2]);
  } else if (cmd == "scramble" && argc == 3) {
    uint8_t held[24] = {};
    std::memcpy(held, argv[2], std::min(std::strlen(argv[2]), sizeof held));
    corvalink::Scramble(held);
    for (uint8_t b : held) std::printf("%02X", b);
    std::printf("\n");
    return 0;
  } else {
    std::fprintf(stderr, "usage: see the top of win32_gui_driver.cpp\n");
    return 2;
  }
  return rc != 0 ? rc : (g_failures == 0 ? 0 : 1);
}
