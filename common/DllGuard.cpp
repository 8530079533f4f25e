#include "DllGuard.h"

#include <delayimp.h>

#include <cwchar>

#include "Product.h"

namespace {

// Room for a DLL's full path; longer folders are refused, never cut.
constexpr DWORD kDllPathChars = MAX_PATH * 2;

// System DLLs that the system's own DLLs load later by bare name (delay
// imports of the shell, the theme and drawing code, the folder browser), and
// those that the suite's own libraries import. Such a load is not always held
// to the restricted search: on some systems it still looks in the program's
// (or the importing DLL's) folder first. Loaded now from the system folder,
// each is found already loaded, by its name, when it is asked for.
// (crypt32: imported by libcurl.dll and the OpenSSL library.)
const wchar_t* const kPreloadedSystemDlls[] = {L"uxtheme.dll", L"msimg32.dll", L"dwmapi.dll", L"comctl32.dll",
                                               L"version.dll", L"crypt32.dll"};

bool g_bInstalled = false;

// Set once the system restricts run-time loads to the system folder.
bool g_bSearchRestricted = false;

HMODULE LoadFrom(const wchar_t* pszFolder, size_t nFolder, const wchar_t* pszDll) {
    const size_t nName = wcslen(pszDll);
    if (nFolder == 0 || nFolder + 1 + nName >= kDllPathChars) return NULL;
    wchar_t szPath[kDllPathChars] = {0};
    wmemcpy(szPath, pszFolder, nFolder);
    szPath[nFolder] = L'\\';
    wmemcpy(szPath + nFolder + 1, pszDll, nName + 1);
    // The DLL's own dependencies are looked for beside it (the OpenSSL DLLs
    // beside libcurl), then in the system folder; never beside the program
    // or in the current folder. Where the restriction is in force, it would
    // also keep the DLL's own folder out of the search unless named here.
    const DWORD dwFlags = g_bSearchRestricted ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                             : LOAD_WITH_ALTERED_SEARCH_PATH;
    return ::LoadLibraryExW(szPath, NULL, dwFlags);
}

bool IsRuntimeLib(const wchar_t* pszDll) {
    for (const wchar_t* pszLib : Product::kRuntimeLibs)
        if (_wcsicmp(pszLib, pszDll) == 0) return true;
    return false;
}

FARPROC WINAPI DelayLoadNotify(unsigned dliNotify, PDelayLoadInfo pdli) {
    if (dliNotify != dliNotePreLoadLibrary || pdli == NULL || pdli->szDll == NULL) return NULL;
    // Import names are ASCII.
    wchar_t szName[MAX_PATH] = {0};
    for (size_t i = 0; pdli->szDll[i] != 0; ++i) {
        if (i + 1 >= MAX_PATH) return NULL;
        szName[i] = static_cast<wchar_t>(static_cast<unsigned char>(pdli->szDll[i]));
    }
    const HMODULE h = IsRuntimeLib(szName) ? LoadRuntimeLib(szName) : LoadSystemDll(szName);
    return reinterpret_cast<FARPROC>(h);
}

}  // namespace

HMODULE LoadSystemDll(const wchar_t* pszDll) {
    wchar_t szDir[kDllPathChars] = {0};
    const UINT n = ::GetSystemDirectoryW(szDir, kDllPathChars);
    if (n == 0 || n >= kDllPathChars) return NULL;
    return LoadFrom(szDir, n, pszDll);
}

HMODULE LoadRuntimeLib(const wchar_t* pszDll) {
    wchar_t szExe[kDllPathChars] = {0};
    const DWORD n = ::GetModuleFileNameW(NULL, szExe, kDllPathChars);
    if (n == 0 || n >= kDllPathChars) return NULL;  // a cut path would name another folder
    const wchar_t* pszSlash = wcsrchr(szExe, L'\\');
    if (pszSlash == NULL) return NULL;
    return LoadFrom(szExe, static_cast<size_t>(pszSlash - szExe), pszDll);
}

void InstallDllSearchGuard() {
    if (g_bInstalled) return;
    g_bInstalled = true;
    __pfnDliNotifyHook2 = DelayLoadNotify;
    for (const wchar_t* pszDll : kPreloadedSystemDlls) LoadSystemDll(pszDll);
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    if (hKernel == NULL) return;
    // Looked up: neither exists on every system the programs run on.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    SetDefaultDllDirectoriesFn pfnDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "SetDefaultDllDirectories")));
    if (pfnDefault != NULL) g_bSearchRestricted = pfnDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    SetDllDirectoryFn pfnDir =
        reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(::GetProcAddress(hKernel, "SetDllDirectoryW")));
    if (pfnDir != NULL) pfnDir(L"");
}
