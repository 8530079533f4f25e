// Helpers of the install tests: scratch folders and files, the stand-in
// programs and service, shell folders kept inside the Wine prefix, shell link
// read-back, and a message-only window that collects posted records.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "PathUtils.h"
#include "Product.h"

namespace installtest {

inline std::wstring TempRoot() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = temp;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::wstring& tag) {
        static LONG counter = 0;
        m_path = TempRoot() + L"\\kelo_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(InterlockedIncrement(&counter));
        RemoveDirTree(m_path);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempDir() { RemoveDirTree(m_path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool IsDir(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

inline std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) bytes.append(buf, got);
    CloseHandle(h);
    return bytes;
}

// Lines of a UTF-16LE file without byte-order mark, each ended by CR LF.
inline std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * 2);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find(L"\r\n", start)) != std::wstring::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    return lines;
}

// Lines of an ANSI (code page) text file, widened, without their line ends.
inline std::vector<std::wstring> ReadAnsiLines(const std::wstring& path) {
    const std::wstring text = ToWide(ReadBytes(path));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find(L'\n', start)) != std::wstring::npos; start = pos + 1) {
        std::wstring line = text.substr(start, pos - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Polls cond every 20 ms until it holds or the time is up.
inline bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > timeoutMs) return cond();
        Sleep(20);
    }
    return true;
}

// The folder of the test programs, where the stand-ins are built too.
inline std::wstring BinDir() { return GetModuleDir(); }

// Copies a built stand-in into folder under a name of the test's choice, so
// that every test has its own copy (and its own command-line record).
inline std::wstring PlaceStandin(const std::wstring& folder, const wchar_t* builtName, const std::wstring& asName) {
    const std::wstring dest = folder + L"\\" + asName;
    CreateDirectoryW(folder.c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((BinDir() + L"\\" + builtName).c_str(), dest.c_str(), FALSE))
        << "stand-in " << ToNarrow(builtName) << " is not built beside the test";
    return dest;
}

// A started program; ended (if still running) when the object goes.
class RunningProgram {
public:
    RunningProgram() = default;
    RunningProgram(const std::wstring& exe, const std::wstring& args = L"") { Start(exe, args); }
    ~RunningProgram() { Kill(); }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Start(const std::wstring& exe, const std::wstring& args = L"") {
        std::wstring cmd = L"\"" + exe + L"\"";
        if (!args.empty()) cmd += L" " + args;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ADD_FAILURE() << "cannot start " << ToNarrow(exe) << " error " << GetLastError();
            return false;
        }
        CloseHandle(pi.hThread);
        m_hProcess = pi.hProcess;
        m_pid = pi.dwProcessId;
        // Until its window exists the program is surely in the process list.
        WaitForInputIdle(m_hProcess, 5000);
        return true;
    }
    bool IsRunning() const { return m_hProcess && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitExit(DWORD ms) const { return m_hProcess && WaitForSingleObject(m_hProcess, ms) == WAIT_OBJECT_0; }
    DWORD pid() const { return m_pid; }
    void Kill() {
        if (m_hProcess) {
            if (IsRunning()) {
                TerminateProcess(m_hProcess, 1);
                WaitForSingleObject(m_hProcess, 5000);
            }
            CloseHandle(m_hProcess);
            m_hProcess = nullptr;
        }
    }

private:
    HANDLE m_hProcess = nullptr;
    DWORD m_pid = 0;
};

// The stand-in service installed as "KeloPdfReaderSvr" with the service
// manager; removed again (its process ended first) when the object goes.
class StandinService {
public:
    StandinService() {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!m_manager) {
            ADD_FAILURE() << "no service manager, error " << GetLastError();
            return;
        }
        RemoveLeftover();
        const std::wstring exe = L"\"" + BinDir() + L"\\KeloPdfReaderSvr.exe\"";
        m_service = CreateServiceW(m_manager, Product::kServiceName, Product::kServiceName, SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, exe.c_str(),
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!m_service) ADD_FAILURE() << "CreateService failed, error " << GetLastError();
    }
    ~StandinService() {
        if (m_service) {
            EndProcess();
            DeleteService(m_service);
            CloseServiceHandle(m_service);
        }
        if (m_manager) CloseServiceHandle(m_manager);
    }
    StandinService(const StandinService&) = delete;
    StandinService& operator=(const StandinService&) = delete;

    // Starts it with a stop behaviour ("stop=now", "stop=hint", ...) and waits until it runs.
    bool Start(const wchar_t* mode) {
        if (!m_service) return false;
        const wchar_t* args[] = {mode};
        if (!StartServiceW(m_service, 1, args)) {
            ADD_FAILURE() << "StartService failed, error " << GetLastError();
            return false;
        }
        return WaitFor([this] { return State() == SERVICE_RUNNING; }, 10000);
    }
    DWORD State() const {
        SERVICE_STATUS_PROCESS s = Status();
        return s.dwCurrentState;
    }
    SERVICE_STATUS_PROCESS Status() const {
        SERVICE_STATUS_PROCESS s = {};
        DWORD needed = 0;
        if (m_service)
            QueryServiceStatusEx(m_service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof(s), &needed);
        return s;
    }
    // Ends the service's process outright (for the ones that never stop).
    void EndProcess() {
        const SERVICE_STATUS_PROCESS s = Status();
        if (s.dwProcessId == 0 || s.dwCurrentState == SERVICE_STOPPED) return;
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, s.dwProcessId);
        if (h) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
        WaitFor([this] { return State() == SERVICE_STOPPED; }, 5000);
    }

private:
    void RemoveLeftover() {
        SC_HANDLE old = OpenServiceW(m_manager, Product::kServiceName, SERVICE_ALL_ACCESS);
        if (!old) return;
        SERVICE_STATUS_PROCESS s = {};
        DWORD needed = 0;
        QueryServiceStatusEx(old, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof(s), &needed);
        if (s.dwProcessId) {
            HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, s.dwProcessId);
            if (h) {
                TerminateProcess(h, 1);
                CloseHandle(h);
            }
        }
        DeleteService(old);
        CloseServiceHandle(old);
        Sleep(200);
    }

    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

// Sets a registry string (REG_SZ or REG_EXPAND_SZ); an empty name is the default value.
inline bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value,
                         DWORD type = REG_SZ) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExW(h, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

inline bool DeleteRegValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return false;
    const LONG rc = RegDeleteValueW(h, name);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

// Reads a REG_SZ value; view is KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
inline bool ReadRegString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring& value,
                          REGSAM view = 0, DWORD* typeOut = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS) return false;
    wchar_t buf[2048] = L"";
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return false;
    if (typeOut) *typeOut = type;
    value = buf;
    return true;
}

inline bool RegKeyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

inline void DeleteRegTree(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &h) != ERROR_SUCCESS) return;
    wchar_t name[256];
    while (RegEnumKeyW(h, 0, name, 256) == ERROR_SUCCESS) DeleteRegTree(h, name, view);
    RegCloseKey(h);
    RegDeleteKeyExW(root, key.c_str(), view, 0);
}

const wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Keeps the shell's links inside this Wine prefix: Wine links the user's
// desktop folder to the Linux home folder and its menu builder turns every
// desktop and start-menu link into Linux menu entries. Both would reach past
// the prefix (and race with other prefixes), so the test's prefix gets a
// desktop folder of its own and no menu builder. Only for OWN_PREFIX tests.
inline std::wstring KeepShellInsidePrefix() {
    EXPECT_TRUE(SetRegString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"winemenubuilder.exe", L""));
    wchar_t publicDir[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"PUBLIC", publicDir, MAX_PATH);
    std::wstring desktop = std::wstring(publicDir[0] ? publicDir : L"C:\\users\\Public") + L"\\KeloTestDesktop";
    CreateDirectoryW(desktop.c_str(), nullptr);
    EXPECT_TRUE(SetRegString(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", desktop, REG_EXPAND_SZ));
    SetRegString(HKEY_CURRENT_USER, kShellFolders, L"Desktop", desktop);
    // Present on every real Windows system; a fresh Wine prefix lacks it.
    wchar_t appData[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
    const std::wstring quickLaunch = std::wstring(appData) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
    CreateDirTree(quickLaunch);
    return desktop;
}

inline std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) && pidl) {
        SHGetPathFromIDListW(pidl, path);
        CoTaskMemFree(pidl);
    }
    return path;
}

inline std::wstring QuickLaunchFolder() {
    return ShellFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
}

// What a link file says, read back through IShellLinkW (COM initialised by the caller).
struct LinkInfo {
    bool loaded = false;
    std::wstring target, arguments, workingDir, description, icon;
    int iconIndex = 0;
    int showCmd = 0;
    WORD hotkey = 0;
};

inline LinkInfo ReadLink(const std::wstring& lnk) {
    LinkInfo info;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return info;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(lnk.c_str(), STGM_READ))) {
            info.loaded = true;
            wchar_t buf[MAX_PATH * 2];
            buf[0] = 0;
            if (SUCCEEDED(link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH))) info.target = buf;
            buf[0] = 0;
            if (SUCCEEDED(link->GetArguments(buf, MAX_PATH))) info.arguments = buf;
            buf[0] = 0;
            if (SUCCEEDED(link->GetWorkingDirectory(buf, MAX_PATH))) info.workingDir = buf;
            buf[0] = 0;
            if (SUCCEEDED(link->GetDescription(buf, MAX_PATH))) info.description = buf;
            buf[0] = 0;
            if (SUCCEEDED(link->GetIconLocation(buf, MAX_PATH, &info.iconIndex))) info.icon = buf;
            link->GetHotkey(&info.hotkey);
            // The show command straight from the link header (offset 60):
            // Wine's link object saves it but does not load it back.
            const std::string bytes = ReadBytes(lnk);
            if (bytes.size() >= 64) memcpy(&info.showCmd, bytes.data() + 60, 4);
        }
        file->Release();
    }
    link->Release();
    return info;
}

// A message-only window on the creating thread that keeps every
// WM_INSTALL_PROGRESS-style record posted to it (wParam a heap record of type
// T that the receiver owns) with the tick of its arrival.
template <class T>
class RecordSink {
public:
    struct Arrival {
        T record;
        DWORD tick;
    };

    explicit RecordSink(UINT message) : m_message(message) {
        static const wchar_t kClass[] = L"KeloInstallTestSink";
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &RecordSink::WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~RecordSink() {
        if (m_hWnd) DestroyWindow(m_hWnd);
    }
    RecordSink(const RecordSink&) = delete;
    RecordSink& operator=(const RecordSink&) = delete;

    HWND hwnd() const { return m_hWnd; }

    // Dispatches this thread's messages until the handle is signalled (or
    // done() holds) and then whatever is still queued.
    bool PumpUntil(HANDLE waitHandle, const std::function<bool()>& done, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        bool finished = false;
        while (!finished) {
            Dispatch();
            if (done && done()) finished = true;
            if (waitHandle && WaitForSingleObject(waitHandle, 0) == WAIT_OBJECT_0) finished = true;
            if (finished) break;
            if (GetTickCount() - start > timeoutMs) return false;
            MsgWaitForMultipleObjects(waitHandle ? 1 : 0, waitHandle ? &waitHandle : nullptr, FALSE, 20,
                                      QS_ALLINPUT);
        }
        Dispatch();
        return true;
    }

    std::vector<Arrival> arrivals;

private:
    void Dispatch() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<RecordSink*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && msg == self->m_message) {
            T* record = reinterpret_cast<T*>(wParam);
            self->arrivals.push_back({*record, GetTickCount()});
            delete record;
            return 0;
        }
        return DefWindowProcW(h, msg, wParam, lParam);
    }

    UINT m_message;
    HWND m_hWnd = nullptr;
};

}  // namespace installtest
