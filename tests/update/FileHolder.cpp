// Plays a running copy of the application that keeps one of its files open:
// copied under the application's name, started with the file to hold. It
// opens the file without sharing, writes "<file>.held" when it has it, and
// runs a window's message loop until it is ended.
#include <windows.h>

#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argv && argc >= 2) {
        held = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (held == INVALID_HANDLE_VALUE) return 2;
        std::wstring marker = std::wstring(argv[1]) + L".held";
        HANDLE m = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (m != INVALID_HANDLE_VALUE) CloseHandle(m);
    }
    if (argv) LocalFree(argv);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"KeloUpdateTestFileHolder";
    RegisterClassW(&wc);
    CreateWindowExW(0, wc.lpszClassName, L"file holder", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, instance,
                    nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return 0;
}
