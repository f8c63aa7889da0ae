#pragma once
// Identifiers of the windows, controls, icon and strings the application is built from. The
// numbers are fixed: the interface text file and the tests name controls by them, and each
// control also carries its identifier's name as its Qt object name.

namespace corvalink {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_PORT_SETUP = 102;
inline constexpr int IDS_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDR_MAINFRAME = 128;

inline constexpr int IDC_FIRMWARE_PATH = 1000;
inline constexpr int IDC_ROUTER_LIST = 1004;
inline constexpr int IDC_INSTALL = 1005;
inline constexpr int IDC_SELECT_FILE = 1006;
inline constexpr int IDC_FIRMWARE_LABEL = 1007;
inline constexpr int IDC_ROUTER_LABEL = 1008;
inline constexpr int IDC_SEARCH = 1009;

/// The system command that opens the about box; the low four bits of a command are the
/// platform's own and are ignored.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

inline constexpr char STR_ABOUTBOX[] = "&About Corvalink...";
inline constexpr char STR_SOCKETS_INIT_FAILED[] = "Windows sockets initialization failed.";

/// The icon as the resources hold it: 32 x 32 pixels.
inline constexpr char ICON_RESOURCE[] = ":/corvalink.png";
inline constexpr int ICON_SIZE = 32;

}  // namespace corvalink
