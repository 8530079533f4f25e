#include "SysLib.h"

#include <cwchar>

namespace DuiLib {

HMODULE LoadSystemLibrary(LPCWSTR pstrName) {
    wchar_t szPath[MAX_PATH] = {};
    UINT n = ::GetSystemDirectoryW(szPath, MAX_PATH);
    if (n == 0 || n + wcslen(pstrName) + 2 > MAX_PATH) return NULL;
    wcscat(szPath, L"\\");
    wcscat(szPath, pstrName);
    // Altered search path: the DLL's own dependencies resolve from its folder.
    return ::LoadLibraryExW(szPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace DuiLib
