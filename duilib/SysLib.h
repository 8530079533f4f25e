// Loads a system DLL from the system folder by its full path, so that a
// file of the same name beside the program is never picked up instead.
#pragma once

#include <windows.h>

namespace DuiLib {

HMODULE LoadSystemLibrary(LPCWSTR pstrName);

}  // namespace DuiLib
