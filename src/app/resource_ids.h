/* Identifiers of the dialog templates, controls, icon, strings, command and timer the
   application is built from. The Windows resource script includes this header as well as the
   code of both front ends, so it holds #define lines only: no C++, nothing a resource compiler
   cannot read. The numbers are fixed: the Win32 dialogs find their controls by them, and each
   Qt control carries its identifier's name as object name and its number as property. */
#pragma once

/* Dialog templates, the icon and the string table. */
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_PORT_SETUP 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME 128
#define IDD_UPGRADE 129
#define IDD_PASSWORD 130

/* The strings of the string table, for the resource script and for a front end without one. */
#define STR_ABOUTBOX "&About Corvalink..."
#define STR_SOCKETS_INIT_FAILED "Windows sockets initialization failed."

/* The main dialog (IDD_PORT_SETUP). */
#define IDC_FIRMWARE_PATH 1000
#define IDC_ROUTER_LIST 1004
#define IDC_INSTALL 1005
#define IDC_SELECT_FILE 1006
#define IDC_FIRMWARE_LABEL 1007
#define IDC_ROUTER_LABEL 1008
#define IDC_SEARCH 1009

/* The upgrade dialog (IDD_UPGRADE). IDC_PROGRESS shares its number with IDC_SEARCH, which
   belongs to another template. */
#define IDC_ABORT 3
#define IDC_PROGRESS 1009
#define IDC_ROUTER_IP 1012
#define IDC_SEND 1013
#define IDC_ROUTER_IP_LABEL 1014
/* The upgrade dialog's poll timer. */
#define UPGRADE_POLL_TIMER 101

/* The password dialog (IDD_PASSWORD); its buttons are the system's IDOK and IDCANCEL. */
#define IDC_PASSWORD 1015

/* The system command that opens the about box; the low four bits of a command are the
   platform's own and are ignored. */
#define IDM_ABOUTBOX 0x0010

/* The icon's size as the resources hold it, in pixels. */
#define ICON_SIZE 32
