#include "E2eSupport.h"

#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <wincodec.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "Base64Decode.h"
#include "Product.h"

namespace e2e {

namespace {

const GUID kClsidWICImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kContainerFormatPng = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
const GUID kPixelFormat32bppBGR = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0e}};

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() { return p; }
};

struct Guard {
    explicit Guard(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    ~Guard() { LeaveCriticalSection(m_cs); }
    CRITICAL_SECTION* m_cs;
};

std::wstring Join(const std::wstring& a, const std::wstring& b) { return a + L"\\" + b; }

// Layout coordinates of the setup window (client pixels: the layout's
// positions plus the 1-pixel inset of its body).
const POINT kSetupInstall = {1 + 325, 1 + 293};  // "立即安装"
const POINT kSetupFinish = {1 + 325, 1 + 337};   // "安装完成"

}  // namespace

// ---------------------------------------------------------------- waiting and files

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return done();
        Sleep(stepMs);
    }
    return true;
}

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L'\\'));
}

bool FileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) data.append(buf, got);
    CloseHandle(h);
    return data;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Join(from, L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(Join(from, name), Join(to, name)) && ok;
        else
            ok = CopyFileW(Join(from, name).c_str(), Join(to, name).c_str(), FALSE) && ok;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return ok;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Join(path, L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = Join(path, name);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring NewTempDir(const std::wstring& prefix) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    for (int i = 0;; ++i) {
        wchar_t name[64];
        swprintf_s(name, 64, L"%ls%lu_%d", prefix.c_str(), GetCurrentProcessId(), i);
        const std::wstring dir = std::wstring(temp) + name;
        if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
    }
}

std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * 2);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find(L"\r\n", start)) != std::wstring::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::wstring> ReadAnsiLines(const std::wstring& path) {
    const std::wstring text = FromGbk(ReadFileBytes(path));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find(L'\n', start)) != std::wstring::npos; start = pos + 1) {
        std::wstring line = text.substr(start, pos - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

static void CollectLogs(const std::wstring& dir, std::vector<FileStamp>& out, int depth) {
    if (depth > 24) return;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Join(dir, L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // links out of the prefix
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectLogs(Join(dir, name), out, depth + 1);
        } else if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".log") == 0) {
            ULARGE_INTEGER t;
            t.LowPart = fd.ftLastWriteTime.dwLowDateTime;
            t.HighPart = fd.ftLastWriteTime.dwHighDateTime;
            out.push_back(FileStamp{Join(dir, name), t.QuadPart});
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::vector<FileStamp> FindLogFiles(const std::wstring& root) {
    std::vector<FileStamp> out;
    CollectLogs(root, out, 0);
    return out;
}

std::string ToGbk(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring FromGbk(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    const int n = MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

// ---------------------------------------------------------------- registry

std::wstring ReadHklmString(const wchar_t* subKey, const wchar_t* value) {
    wchar_t buf[1024] = L"";
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, subKey, value, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return std::wstring();
    return buf;
}

bool HklmKeyExists(const wchar_t* subKey) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

bool WriteHklmString(const wchar_t* subKey, const wchar_t* value, const std::wstring& text) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExW(h, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

// ---------------------------------------------------------------- processes

Process StartElevated(const std::wstring& exe, const std::wstring& args, const std::wstring& dir) {
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    sei.lpVerb = L"runas";
    sei.lpFile = exe.c_str();
    sei.lpParameters = args.empty() ? nullptr : args.c_str();
    sei.lpDirectory = dir.empty() ? nullptr : dir.c_str();
    sei.nShow = SW_SHOWNORMAL;
    Process p;
    if (ShellExecuteExW(&sei) && sei.hProcess) {
        p.handle = sei.hProcess;
        p.pid = GetProcessId(sei.hProcess);
    }
    return p;
}

DWORD WaitExit(const Process& p, DWORD timeoutMs) {
    if (!p.handle) return STILL_ACTIVE;
    if (WaitForSingleObject(p.handle, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(p.handle, &code);
    return code;
}

void CloseProcess(Process& p) {
    if (p.handle) CloseHandle(p.handle);
    p = Process();
}

static std::vector<DWORD> PidsOf(const wchar_t* exeName) {
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        if (_wcsicmp(pe.szExeFile, exeName) == 0) pids.push_back(pe.th32ProcessID);
    CloseHandle(snap);
    return pids;
}

bool IsProcessRunning(const wchar_t* exeName) { return !PidsOf(exeName).empty(); }

std::wstring ProcessImagePath(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return std::wstring();
    wchar_t path[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    const BOOL ok = QueryFullProcessImageNameW(h, 0, path, &size);
    CloseHandle(h);
    return ok ? std::wstring(path) : std::wstring();
}

Process StartPlain(const std::wstring& exe, const std::wstring& args, const std::wstring& dir) {
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    Process p;
    if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                       &si, &pi)) {
        CloseHandle(pi.hThread);
        p.handle = pi.hProcess;
        p.pid = pi.dwProcessId;
    }
    return p;
}

void KillAll(const wchar_t* exeName) {
    for (DWORD pid : PidsOf(exeName)) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!h) continue;
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
}

// ---------------------------------------------------------------- windows

namespace {

struct TopSearch {
    const wchar_t* title;
    const wchar_t* cls;
    HWND found;
};

BOOL CALLBACK FindTopProc(HWND hWnd, LPARAM lParam) {
    TopSearch* s = reinterpret_cast<TopSearch*>(lParam);
    if (WindowTitle(hWnd) != s->title) return TRUE;
    if (s->cls) {
        wchar_t cls[256] = L"";
        GetClassNameW(hWnd, cls, 256);
        if (wcscmp(cls, s->cls) != 0) return TRUE;
    }
    s->found = hWnd;
    return FALSE;
}

BOOL CALLBACK CollectChildProc(HWND hWnd, LPARAM lParam) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

}  // namespace

HWND FindTopWindow(const wchar_t* title, const wchar_t* cls) {
    TopSearch s = {title, cls, nullptr};
    EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitForTopWindow(const wchar_t* title, DWORD timeoutMs, const wchar_t* cls) {
    HWND h = nullptr;
    WaitFor([&] { return (h = FindTopWindow(title, cls)) != nullptr; }, timeoutMs);
    return h;
}

DWORD WindowPid(HWND hWnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    return pid;
}

std::wstring WindowTitle(HWND hWnd) {
    // For another process's window this reads the stored caption without
    // sending it a message, so a busy program does not stall the search.
    wchar_t title[512] = L"";
    GetWindowTextW(hWnd, title, 512);
    return title;
}

std::vector<HWND> ChildWindows(HWND hWnd) {
    std::vector<HWND> children;
    EnumChildWindows(hWnd, CollectChildProc, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool IsAbove(HWND a, HWND b) {
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (h == a) return true;
        if (h == b) return false;
    }
    return false;
}

void PostClick(HWND hWnd, int x, int y, DWORD afterMs) {
    const LPARAM lp = MAKELPARAM(x, y);
    PostMessageW(hWnd, WM_MOUSEMOVE, 0, lp);
    PostMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    PostMessageW(hWnd, WM_LBUTTONUP, 0, lp);
    Sleep(afterMs);
}

void TypeText(HWND hEdit, const std::wstring& text) {
    for (wchar_t c : text) {
        if (c == L'\r') {
            // The Enter key itself: the program's message loop makes the
            // character of it, and the rich edit breaks the line on the key.
            const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)) << 16;
            PostMessageW(hEdit, WM_KEYDOWN, VK_RETURN, scan | 1);
            PostMessageW(hEdit, WM_KEYUP, VK_RETURN, scan | 1 | (1u << 30) | (1u << 31));
        } else {
            PostMessageW(hEdit, WM_CHAR, c, 1);
        }
        Sleep(2);
    }
    Sleep(300);
}

void PostAltF4(HWND hWnd) {
    // What the system makes of Alt+F4 for the active window.
    PostMessageW(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(300);
}

// ---------------------------------------------------------------- pictures

std::wstring ArtifactsDir() {
    char unixPath[1024] = {};
    if (GetEnvironmentVariableA("KELO_ARTIFACTS", unixPath, sizeof(unixPath)) == 0) return std::wstring();
    typedef LPWSTR(CDECL * DosNameFn)(LPCSTR);
    DosNameFn toDos = reinterpret_cast<DosNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos && unixPath[0] == '/') {
        if (LPWSTR p = toDos(unixPath)) {
            std::wstring s(p);
            HeapFree(GetProcessHeap(), 0, p);
            return s;
        }
    }
    std::wstring s;
    for (const char* p = unixPath; *p; ++p) s += static_cast<wchar_t>(*p == '/' ? '\\' : *p);
    return s;
}

static std::vector<DWORD> GrabScreen(const RECT& rc) {
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    std::vector<DWORD> px;
    if (w <= 0 || h <= 0) return px;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    px.assign(p, p + static_cast<size_t>(w) * h);
    for (DWORD& v : px) v &= 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return px;
}

static bool WritePng(const std::wstring& path, int w, int h, std::vector<DWORD>& px) {
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    {
        ComPtr<IWICImagingFactory> factory;
        ComPtr<IWICStream> stream;
        ComPtr<IWICBitmapEncoder> encoder;
        ComPtr<IWICBitmapFrameEncode> frame;
        WICPixelFormatGUID fmt = kPixelFormat32bppBGR;
        ok = SUCCEEDED(CoCreateInstance(kClsidWICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IWICImagingFactory), reinterpret_cast<void**>(&factory))) &&
             SUCCEEDED(factory->CreateStream(&stream)) &&
             SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
             SUCCEEDED(factory->CreateEncoder(kContainerFormatPng, nullptr, &encoder)) &&
             SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
             SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
             SUCCEEDED(frame->SetSize(w, h)) && SUCCEEDED(frame->SetPixelFormat(&fmt)) &&
             SUCCEEDED(frame->WritePixels(h, w * 4, static_cast<UINT>(px.size() * 4),
                                          reinterpret_cast<BYTE*>(px.data()))) &&
             SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (SUCCEEDED(hrCom)) CoUninitialize();
    return ok;
}

bool SaveScreenshot(HWND hWnd, const std::wstring& name, int margin, DWORD settleMs) {
    const std::wstring dir = ArtifactsDir();
    if (dir.empty() || !IsWindow(hWnd)) return false;
    SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpFor(settleMs);
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    InflateRect(&rc, margin, margin);
    std::vector<DWORD> px = GrabScreen(rc);
    SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return WritePng(Join(dir, name + L".png"), rc.right - rc.left, rc.bottom - rc.top, px);
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

HWND MakeBackdrop(HWND hAbove, int margin) {
    RECT rc = {};
    GetWindowRect(hAbove, &rc);
    InflateRect(&rc, margin, margin);
    HWND h = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", L"",
                             WS_POPUP | WS_VISIBLE | SS_BLACKRECT, rc.left, rc.top, rc.right - rc.left,
                             rc.bottom - rc.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowPos(hAbove, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpFor(300);
    return h;
}

std::vector<DWORD> CapturePixels(HWND hWnd) {
    // Other test programs may show their windows on the same screen.
    SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpFor(300);
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    std::vector<DWORD> px = GrabScreen(rc);
    SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return px;
}

void Step(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    SYSTEMTIME t;
    GetLocalTime(&t);
    printf("[%02d:%02d:%02d] %s\n", t.wHour, t.wMinute, t.wSecond, line);
    fflush(stdout);
}

// ---------------------------------------------------------------- the suite

std::wstring DeliveryDir() { return ModuleDir() + L"\\..\\delivery\\KeloPdfReaderSetup"; }

std::wstring LoopbackUninstaller() { return ModuleDir() + L"\\loopback\\" + Product::kUninstExe; }

std::wstring MakeTestDelivery(const std::wstring& name) {
    const std::wstring dir = NewTempDir(name);
    if (dir.empty() || !CopyTree(DeliveryDir(), dir)) return std::wstring();
    const std::wstring payloadUninst = dir + L"\\" + Product::kPayloadFolder + L"\\" + Product::kUninstExe;
    if (!CopyFileW(LoopbackUninstaller().c_str(), payloadUninst.c_str(), FALSE)) return std::wstring();
    return dir;
}

std::wstring SetupTitle() { return std::wstring(Product::kDefaultAppName) + Product::kSetupTitleSuffix; }
std::wstring UninstTitle() { return std::wstring(Product::kDefaultAppName) + Product::kUninstTitleSuffix; }
std::wstring UpdateTitle() { return std::wstring(Product::kDefaultAppName) + Product::kUpdateTitleSuffix; }

std::wstring ExeFromCommand(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"') {
        const size_t end = command.find(L'"', 1);
        return command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return command;
}

bool InstallThroughSetup(const std::wstring& delivery, const std::wstring& shotPrefix, Installation& out) {
    const std::wstring setupExe = delivery + L"\\" + Product::kSetupExe;
    Step("install: starting %ls", setupExe.c_str());
    Process setup = StartElevated(setupExe, L"", delivery);
    if (!setup.handle) return false;
    HWND hSetup = WaitForTopWindow(SetupTitle().c_str(), 30000);
    if (!hSetup) {
        CloseProcess(setup);
        return false;
    }
    Sleep(1500);
    SaveScreenshot(hSetup, shotPrefix + L"-setup-1-folder");
    Step("install: clicking \"立即安装\"");
    PostClick(hSetup, kSetupInstall.x, kSetupInstall.y);

    // The engine's last step writes the uninstall entry; the finish page follows.
    const bool bRegistered = WaitFor(
        [&] { return !ReadHklmString(Product::kRegUninstallKey, Product::kValUninstallString).empty(); }, 60000);
    if (!bRegistered) {
        SaveScreenshot(hSetup, shotPrefix + L"-setup-failed");
        CloseProcess(setup);
        return false;
    }
    Sleep(1500);
    SaveScreenshot(hSetup, shotPrefix + L"-setup-2-finish");
    Step("install: clicking \"安装完成\"");
    PostClick(hSetup, kSetupFinish.x, kSetupFinish.y);
    const bool bEnded = WaitExit(setup, 20000) != STILL_ACTIVE;
    CloseProcess(setup);
    out.dir = ReadHklmString(Product::kRegProductKey, Product::kValInstallDir);
    out.uninstallString = ReadHklmString(Product::kRegUninstallKey, Product::kValUninstallString);
    Step("install: done in %ls", out.dir.c_str());
    return bEnded && !out.dir.empty();
}

// ---------------------------------------------------------------- report receiver

ReportReceiver::ReportReceiver(int port) {
    InitializeCriticalSection(&m_cs);
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listen == INVALID_SOCKET) return;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(m_listen, 8) != 0) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        return;
    }
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

ReportReceiver::~ReportReceiver() {
    InterlockedExchange(&m_stop, 1);
    if (m_listen != INVALID_SOCKET) closesocket(m_listen);
    if (m_hThread) {
        WaitForSingleObject(m_hThread, 5000);
        CloseHandle(m_hThread);
    }
    WSACleanup();
    DeleteCriticalSection(&m_cs);
}

DWORD WINAPI ReportReceiver::ThreadProc(void* param) {
    static_cast<ReportReceiver*>(param)->Serve();
    return 0;
}

void ReportReceiver::Serve() {
    while (!m_stop) {
        SOCKET c = accept(m_listen, nullptr, nullptr);
        if (c == INVALID_SOCKET) break;
        DWORD timeout = 10000;
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        std::string data;
        char buf[8192];
        size_t need = std::string::npos;
        for (;;) {
            const int n = recv(c, buf, sizeof(buf), 0);
            if (n <= 0) break;
            data.append(buf, static_cast<size_t>(n));
            const size_t headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos && need == std::string::npos) {
                size_t length = 0;
                std::string head = data.substr(0, headEnd);
                for (char& ch : head) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
                const size_t cl = head.find("content-length:");
                if (cl != std::string::npos) length = strtoul(head.c_str() + cl + 15, nullptr, 10);
                need = headEnd + 4 + length;
            }
            if (need != std::string::npos && data.size() >= need) break;
        }
        const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(c, reply, sizeof(reply) - 1, 0);
        closesocket(c);
        if (!data.empty()) {
            Guard g(&m_cs);
            m_requests.push_back(data);
        }
    }
}

size_t ReportReceiver::Count() {
    Guard g(&m_cs);
    return m_requests.size();
}

std::string ReportReceiver::Request(size_t i) {
    Guard g(&m_cs);
    return i < m_requests.size() ? m_requests[i] : std::string();
}

std::string ReportReceiver::Body(size_t i) {
    const std::string r = Request(i);
    const size_t p = r.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : r.substr(p + 4);
}

bool ReportReceiver::WaitForCount(size_t n, DWORD timeoutMs) {
    return WaitFor([&] { return Count() >= n; }, timeoutMs);
}

std::string ReportJson(const std::string& body) {
    if (body.compare(0, 5, "info=") != 0) return std::string();
    return DecodeBase64(body.substr(5));
}

}  // namespace e2e
