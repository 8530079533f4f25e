// Stand-in for the product's windowed programs (the reader "KeloPdfReader.exe",
// "KeloPdfAdvertising.exe" and any other name it is copied to). It shows one
// window titled with the product name and runs until it is closed or ended.
//
// Every start appends the full command line, as GetCommandLineW returns it,
// to "<own path>.cmdline.txt" beside the program: UTF-16LE, no byte-order
// mark, one line per start ended by CR LF. Tests read it to see how the suite
// started the program.
//
// Its menu item "检查更新" (WM_COMMAND kCmdCheckUpdate, which tests post too)
// plays the application's part of an update: it takes "Update.zip" and
// "update.ini" from the folder named by the environment variable
// KELO_UPDATE_SOURCE (standing in for the publisher's download), places them
// in the "Update" folder of its own folder, copies "Update.exe" with the UI
// library into a new folder %TEMP%\KeloUpdate_<random> (the updater removes
// the folder it runs from) and starts it there, elevated as its manifest
// asks, with its own folder as the one argument.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "Product.h"

namespace {

const wchar_t kWindowClass[] = L"KeloPdfReaderStandinWnd";

// Menu command that starts an update.
constexpr UINT kCmdCheckUpdate = 1001;
const wchar_t kUpdateSourceVar[] = L"KELO_UPDATE_SOURCE";
const wchar_t kUpdaterFolderPrefix[] = L"KeloUpdate_";
// What the updater needs beside itself.
const wchar_t* const kUpdaterFiles[] = {Product::kUpdateExe, L"DuiLib.dll"};

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

void RecordCommandLine() {
    const std::wstring file = OwnPath() + L".cmdline.txt";
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const std::wstring line = std::wstring(GetCommandLineW()) + L"\r\n";
    DWORD written = 0;
    // One write per line, so that copies started together never interleave.
    WriteFile(h, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(h);
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring Join(const std::wstring& folder, const wchar_t* name) { return folder + L"\\" + name; }

// A new, so far unused folder under the temporary folder.
std::wstring MakeUpdaterFolder() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < 8; ++attempt) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        wchar_t name[32] = L"";
        wsprintfW(name, L"%08lX", static_cast<unsigned long>(seed >> 32));
        const std::wstring folder = std::wstring(temp) + kUpdaterFolderPrefix + name;
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    }
    return std::wstring();
}

// The application's side of an update; false when a file is missing or the
// updater could not be started.
bool StartUpdate(HWND hwnd) {
    wchar_t source[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(kUpdateSourceVar, source, MAX_PATH) == 0) return false;
    const std::wstring installDir = FolderOf(OwnPath());
    const std::wstring packageDir = Join(installDir, Product::kUpdateFolder);
    CreateDirectoryW(packageDir.c_str(), nullptr);
    if (!CopyFileW(Join(source, Product::kUpdateZip).c_str(), Join(packageDir, Product::kUpdateZip).c_str(), FALSE))
        return false;
    // The version file is optional.
    CopyFileW(Join(source, Product::kUpdateIni).c_str(), Join(packageDir, Product::kUpdateIni).c_str(), FALSE);

    const std::wstring updaterDir = MakeUpdaterFolder();
    if (updaterDir.empty()) return false;
    for (const wchar_t* file : kUpdaterFiles) {
        if (!CopyFileW(Join(installDir, file).c_str(), Join(updaterDir, file).c_str(), FALSE)) return false;
    }
    const std::wstring updater = Join(updaterDir, Product::kUpdateExe);
    const std::wstring args = L"\"" + installDir + L"\"";

    // CreateProcess of a requireAdministrator program fails with error 740;
    // the shell's "runas" start elevates it.
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOASYNC;
    sei.hwnd = hwnd;
    sei.lpVerb = L"runas";
    sei.lpFile = updater.c_str();
    sei.lpParameters = args.c_str();
    sei.lpDirectory = updaterDir.c_str();
    sei.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&sei)) return true;
    if (GetLastError() == ERROR_CANCELLED) return false;
    // A shell without the verb: its default start elevates as the manifest asks.
    sei.lpVerb = nullptr;
    return ShellExecuteExW(&sei) != FALSE;
}

HMENU MakeMenu() {
    HMENU bar = CreateMenu();
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, kCmdCheckUpdate, L"检查更新(&U)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"帮助(&H)");
    return bar;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kCmdCheckUpdate) {
                StartUpdate(hwnd);
                return 0;
            }
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        case WM_PAINT: {
            // What a screenshot should tell: how it was started and which
            // version "config.ini" beside it records.
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            wchar_t version[128] = L"";
            GetPrivateProfileStringW(Product::kSecConfig, Product::kKeyVersion, L"", version, 128,
                                     Join(FolderOf(OwnPath()), Product::kConfigIni).c_str());
            const std::wstring text = std::wstring(L"config.ini version: ") + version + L"\r\n" + GetCommandLineW();
            RECT rc;
            GetClientRect(hwnd, &rc);
            InflateRect(&rc, -12, -12);
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, text.c_str(), -1, &rc, DT_LEFT | DT_WORDBREAK);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCmd) {
    RecordCommandLine();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);

    HWND hwnd = CreateWindowExW(0, kWindowClass, Product::kDefaultAppName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 320, nullptr, MakeMenu(), instance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, showCmd);
    // The setup program and the updater start the reader with the hide flag;
    // the reader shows its main window all the same.
    if (!IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
