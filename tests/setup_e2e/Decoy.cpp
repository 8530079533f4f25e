// A DLL that only leaves a mark: loaded into a process, it appends that
// process's program path to "<its own file name>.loaded" in the folder named
// by KELO_DECOY_MARKS (beside itself when that is not set; the uninstaller and
// the updater delete their own folders). Copied under the names of system
// DLLs beside a program, it shows whether anything took a library from there
// instead of the system folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*reserved*/) {
    if (dwReason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(hInstance, self, MAX_PATH);
    wchar_t mark[2 * MAX_PATH + 16] = L"";
    const DWORD nDir = GetEnvironmentVariableW(L"KELO_DECOY_MARKS", mark, MAX_PATH);
    if (nDir > 0 && nDir < MAX_PATH) {
        const wchar_t* name = self;
        for (const wchar_t* p = self; *p; ++p)
            if (*p == L'\\') name = p + 1;
        lstrcatW(mark, L"\\");
        lstrcatW(mark, name);
    } else {
        lstrcpyW(mark, self);
    }
    lstrcatW(mark, L".loaded");
    wchar_t exe[MAX_PATH + 2] = L"";
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    lstrcatW(exe, L"\r\n");
    HANDLE h = CreateFileW(mark, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, exe, static_cast<DWORD>(lstrlenW(exe) * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(h);
    }
    return TRUE;
}
