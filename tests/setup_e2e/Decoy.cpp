// A DLL that only leaves a mark: loaded into a process, it appends that
// process's program path to "<its own path>.loaded". Copied under the names
// of system DLLs into the delivered setup folder, it shows whether anything
// took a library from there instead of the system folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*reserved*/) {
    if (dwReason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t self[MAX_PATH + 16] = L"";
    GetModuleFileNameW(hInstance, self, MAX_PATH);
    lstrcatW(self, L".loaded");
    wchar_t exe[MAX_PATH + 2] = L"";
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    lstrcatW(exe, L"\r\n");
    HANDLE h = CreateFileW(self, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, exe, static_cast<DWORD>(lstrlenW(exe) * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(h);
    }
    return TRUE;
}
