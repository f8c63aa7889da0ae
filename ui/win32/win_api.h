#pragma once
// The system headers of the Windows front end, in the one order that works: Windows Sockets 2
// before windows.h (which would otherwise bring in the old winsock.h), then the common controls
// and the common file dialog.

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
