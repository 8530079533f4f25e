#include "SetupE2e.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "Product.h"

namespace setup_e2e {

const wchar_t kSetupTitle[] = L"KeloPDF阅读器安装程序";
const wchar_t kSetupClass[] = L"SetupDlg";
const wchar_t kMsgBoxClass[] = L"MsgBoxDlg";

// ---------------------------------------------------------------- waiting, files, text

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(stepMs);
    }
}

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s = path;
    return s.substr(0, s.rfind(L'\\'));
}

bool FileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path) {
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
    HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring src = from + L"\\" + name;
        const std::wstring dst = to + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(src, dst) && ok;
        else
            ok = CopyFileW(src.c_str(), dst.c_str(), FALSE) && ok;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return ok;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring p = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(p);
            } else {
                SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(p.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

bool MakeDirs(const std::wstring& path) {
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return DirExists(path);
}

std::wstring NewTempDir(const std::wstring& prefix) {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    const std::wstring dir = base + L"\\" + prefix + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                             std::to_wstring(InterlockedIncrement(&counter));
    RemoveTree(dir);
    return CreateDirectoryW(dir.c_str(), nullptr) ? dir : std::wstring();
}

std::vector<std::wstring> FilesEndingWith(const std::wstring& dir, const std::wstring& suffix) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::wstring name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (name.size() >= suffix.size() && Lower(name.substr(name.size() - suffix.size())) == Lower(suffix))
            out.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
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

std::wstring ReadAnsiText(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    if (bytes.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::wstring ExpectedProgramFiles() {
    // Written out rather than asked of the shell, which the program asks too:
    // a 32-bit program on 64-bit Windows installs into "Program Files (x86)".
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring drive(windows, 2);
    return drive + (wow64 ? L"\\Program Files (x86)" : L"\\Program Files");
}

// ---------------------------------------------------------------- registry

namespace {
// The default view of a process of this build's bitness, as the programs
// open their keys: for the i686 build on 64-bit Windows that is the 32-bit
// view (WOW6432Node); the x86_64 test build sees the native one.
const REGSAM kView = 0;
}

std::wstring ReadHklm(const wchar_t* subKey, const wchar_t* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | kView, &h) != ERROR_SUCCESS) return std::wstring();
    wchar_t buf[1024] = L"";
    DWORD cb = sizeof(buf) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = RegQueryValueExW(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ) return std::wstring();
    return buf;
}

bool HklmKeyExists(const wchar_t* subKey) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | kView, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

bool WriteHklm(const wchar_t* subKey, const wchar_t* value, const std::wstring& text) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_WRITE | kView, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExW(h, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

void DeleteHklmTree(const wchar_t* subKey) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS | kView, &h) != ERROR_SUCCESS) return;
    for (;;) {
        wchar_t name[256];
        DWORD n = 256;
        if (RegEnumKeyExW(h, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteHklmTree((std::wstring(subKey) + L"\\" + name).c_str());
    }
    RegCloseKey(h);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey, kView, 0);
}

void ForgetInstallation() {
    DeleteHklmTree(Product::kRegProductKey);
    DeleteHklmTree(Product::kRegUninstallKey);
}

// ---------------------------------------------------------------- processes

Process::~Process() {
    if (m_h) CloseHandle(m_h);
}

bool Process::Start(const std::wstring& exe, const std::wstring& args, const std::wstring& dir) {
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        if (GetLastError() != 740) return false;  // ERROR_ELEVATION_REQUIRED
        // As Windows starts a program that asks for administrator rights.
        SHELLEXECUTEINFOW sei = {};
        sei.cbSize = sizeof(sei);
        sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        sei.lpVerb = L"runas";
        sei.lpFile = exe.c_str();
        sei.lpParameters = args.empty() ? nullptr : args.c_str();
        sei.lpDirectory = dir.empty() ? nullptr : dir.c_str();
        sei.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&sei) || !sei.hProcess) return false;
        m_h = sei.hProcess;
        m_pid = GetProcessId(sei.hProcess);
        return true;
    }
    CloseHandle(pi.hThread);
    m_h = pi.hProcess;
    m_pid = pi.dwProcessId;
    return true;
}

bool Process::IsRunning() const { return m_h && WaitForSingleObject(m_h, 0) == WAIT_TIMEOUT; }

DWORD Process::WaitExit(DWORD timeoutMs) {
    if (!m_h || WaitForSingleObject(m_h, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_h, &code);
    return code;
}

void Process::Kill() {
    if (IsRunning()) {
        TerminateProcess(m_h, 1);
        WaitForSingleObject(m_h, 10000);
    }
}

std::vector<DWORD> ProcessIds(const wchar_t* exeName) {
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        if (_wcsicmp(pe.szExeFile, exeName) == 0) ids.push_back(pe.th32ProcessID);
    CloseHandle(snap);
    return ids;
}

void KillAll(const wchar_t* exeName) {
    for (DWORD pid : ProcessIds(exeName)) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!h) continue;
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 10000);
        CloseHandle(h);
    }
}

// ---------------------------------------------------------------- layouts

struct Layout::Node {
    std::wstring tag;
    std::map<std::wstring, std::wstring> attrs;
    std::vector<std::shared_ptr<Node>> kids;

    std::wstring Attr(const wchar_t* name) const {
        auto it = attrs.find(name);
        return it == attrs.end() ? std::wstring() : it->second;
    }
};

namespace {

typedef std::shared_ptr<Layout::Node> NodePtr;

std::wstring Unescape(const std::wstring& s) {
    static const struct {
        const wchar_t* from;
        wchar_t to;
    } kEntities[] = {{L"&quot;", L'"'}, {L"&apos;", L'\''}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&amp;", L'&'}};
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        bool done = false;
        for (const auto& e : kEntities) {
            const size_t n = wcslen(e.from);
            if (s.compare(i, n, e.from) == 0) {
                out += e.to;
                i += n;
                done = true;
                break;
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

// Elements and attributes of the skins' XML (no text content is needed).
NodePtr ParseXml(const std::wstring& s) {
    NodePtr doc = std::make_shared<Layout::Node>();
    std::vector<NodePtr> stack{doc};
    size_t i = 0;
    while ((i = s.find(L'<', i)) != std::wstring::npos) {
        if (s.compare(i, 4, L"<!--") == 0) {
            i = s.find(L"-->", i);
            if (i == std::wstring::npos) break;
            i += 3;
            continue;
        }
        if (s.compare(i, 2, L"<?") == 0) {
            i = s.find(L"?>", i);
            if (i == std::wstring::npos) break;
            i += 2;
            continue;
        }
        if (s.compare(i, 2, L"</") == 0) {
            if (stack.size() > 1) stack.pop_back();
            i = s.find(L'>', i);
            if (i == std::wstring::npos) break;
            ++i;
            continue;
        }
        ++i;
        NodePtr node = std::make_shared<Layout::Node>();
        while (i < s.size() && !iswspace(s[i]) && s[i] != L'/' && s[i] != L'>') node->tag += s[i++];
        bool selfClosing = false;
        while (i < s.size()) {
            while (i < s.size() && iswspace(s[i])) ++i;
            if (s[i] == L'/') {
                selfClosing = true;
                ++i;
                continue;
            }
            if (s[i] == L'>') {
                ++i;
                break;
            }
            std::wstring name;
            while (i < s.size() && s[i] != L'=' && !iswspace(s[i]) && s[i] != L'>' && s[i] != L'/') name += s[i++];
            while (i < s.size() && (iswspace(s[i]) || s[i] == L'=')) ++i;
            if (i < s.size() && (s[i] == L'"' || s[i] == L'\'')) {
                const wchar_t q = s[i++];
                const size_t end = s.find(q, i);
                if (end == std::wstring::npos) break;
                node->attrs[name] = Unescape(s.substr(i, end - i));
                i = end + 1;
            }
        }
        stack.back()->kids.push_back(node);
        if (!selfClosing) stack.push_back(node);
    }
    return doc;
}

RECT ParseRect(const std::wstring& v) {
    RECT rc = {0, 0, 0, 0};
    swscanf(v.c_str(), L"%ld,%ld,%ld,%ld", &rc.left, &rc.top, &rc.right, &rc.bottom);
    return rc;
}

bool IsFloat(const Layout::Node& n) { return n.Attr(L"float") == L"true"; }

SIZE FixedSize(const Layout::Node& n) {
    SIZE sz = {0, 0};
    const std::wstring pos = n.Attr(L"pos");
    if (!pos.empty()) {
        const RECT rc = ParseRect(pos);
        sz.cx = rc.right - rc.left;
        sz.cy = rc.bottom - rc.top;
    }
    if (!n.Attr(L"width").empty()) sz.cx = _wtoi(n.Attr(L"width").c_str());
    if (!n.Attr(L"height").empty()) sz.cy = _wtoi(n.Attr(L"height").c_str());
    return sz;
}

bool IsControl(const Layout::Node& n) {
    return n.tag != L"Font" && n.tag != L"Default" && n.tag != L"Image" && n.tag != L"Include";
}

void Place(const Layout::Node& n, RECT rc, std::map<std::wstring, RECT>& out) {
    const std::wstring name = n.Attr(L"name");
    if (!name.empty()) out[name] = rc;
    const bool vertical = n.tag == L"VerticalLayout";
    const bool horizontal = n.tag == L"HorizontalLayout";
    const bool fill = n.tag == L"TabLayout" || n.tag == L"Container";
    if (!vertical && !horizontal && !fill) return;

    const RECT inset = ParseRect(n.Attr(L"inset"));
    const RECT inner = {rc.left + inset.left, rc.top + inset.top, rc.right - inset.right, rc.bottom - inset.bottom};
    const int childPadding = _wtoi(n.Attr(L"childpadding").c_str());
    const int avail = vertical ? inner.bottom - inner.top : inner.right - inner.left;

    int fixed = 0, adjustables = 0, count = 0;
    for (const NodePtr& k : n.kids) {
        if (!IsControl(*k) || IsFloat(*k)) continue;
        const SIZE sz = FixedSize(*k);
        const RECT pad = ParseRect(k->Attr(L"padding"));
        const int along = vertical ? sz.cy : sz.cx;
        if (along == 0) ++adjustables;
        fixed += along + (vertical ? pad.top + pad.bottom : pad.left + pad.right);
        ++count;
    }
    if (count > 1) fixed += (count - 1) * childPadding;
    const int expand = adjustables > 0 ? std::max(0, (avail - fixed) / adjustables) : 0;
    const int remain = adjustables > 0 ? std::max(0, avail - fixed - expand * adjustables) : 0;

    int cursor = vertical ? inner.top : inner.left;
    int adjustable = 0;
    for (const NodePtr& k : n.kids) {
        if (!IsControl(*k)) continue;
        const SIZE sz = FixedSize(*k);
        if (IsFloat(*k)) {
            const RECT pos = ParseRect(k->Attr(L"pos"));
            Place(*k, RECT{rc.left + pos.left, rc.top + pos.top, rc.left + pos.left + sz.cx, rc.top + pos.top + sz.cy},
                  out);
            continue;
        }
        if (fill) {
            Place(*k, inner, out);
            continue;
        }
        const RECT pad = ParseRect(k->Attr(L"padding"));
        if (vertical) {
            int cy = sz.cy;
            if (cy == 0) cy = expand + (++adjustable == adjustables ? remain : 0);
            const int cx = sz.cx == 0 ? inner.right - inner.left - pad.left - pad.right : sz.cx;
            Place(*k, RECT{inner.left + pad.left, cursor + pad.top, inner.left + pad.left + cx, cursor + pad.top + cy},
                  out);
            cursor += cy + pad.top + pad.bottom + childPadding;
        } else {
            int cx = sz.cx;
            if (cx == 0) cx = expand + (++adjustable == adjustables ? remain : 0);
            const int cy = sz.cy == 0 ? inner.bottom - inner.top - pad.top - pad.bottom : sz.cy;
            Place(*k, RECT{cursor + pad.left, inner.top + pad.top, cursor + pad.left + cx, inner.top + pad.top + cy},
                  out);
            cursor += cx + pad.left + pad.right + childPadding;
        }
    }
}

std::map<std::wstring, RECT> Compute(const NodePtr& doc, int cx, int cy) {
    std::map<std::wstring, RECT> out;
    for (const NodePtr& w : doc->kids) {
        if (w->tag != L"Window") continue;
        for (const NodePtr& k : w->kids)
            if (IsControl(*k)) {
                Place(*k, RECT{0, 0, cx, cy}, out);
                break;
            }
    }
    return out;
}

}  // namespace

std::unique_ptr<Layout> Layout::Load(const std::wstring& fileName) {
    std::wstring dir = KELO_SETUP_SKIN_DIR;
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    // The source tree as Wine shows the Unix root.
    const std::wstring path = L"Z:" + dir + L"\\" + fileName;
    const std::string bytes = ReadFileBytes(path);
    if (bytes.empty()) return nullptr;
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    std::unique_ptr<Layout> layout(new Layout);
    layout->m_root = ParseXml(text);
    return layout;
}

bool Layout::Has(const std::wstring& name, int cx, int cy) {
    const auto rects = Compute(m_root, cx, cy);
    return rects.find(name) != rects.end();
}

RECT Layout::Rect(const std::wstring& name, int cx, int cy) {
    const auto rects = Compute(m_root, cx, cy);
    auto it = rects.find(name);
    return it == rects.end() ? RECT{-1, -1, -1, -1} : it->second;
}

POINT Layout::Center(const std::wstring& name, int cx, int cy) {
    const RECT rc = Rect(name, cx, cy);
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// ---------------------------------------------------------------- windows and input

namespace {

struct FindData {
    const wchar_t* cls;
    const wchar_t* title;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam) {
    FindData* d = reinterpret_cast<FindData*>(lParam);
    wchar_t cls[256] = L"";
    GetClassNameW(hWnd, cls, 256);
    if (d->cls && wcscmp(cls, d->cls) != 0) return TRUE;
    if (d->title && WindowText(hWnd) != d->title) return TRUE;
    if (d->pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        if (pid != d->pid) return TRUE;
    }
    d->found = hWnd;
    return FALSE;
}

struct ChildData {
    const wchar_t* cls;
    HWND found;
};

BOOL CALLBACK ChildProc(HWND hWnd, LPARAM lParam) {
    ChildData* d = reinterpret_cast<ChildData*>(lParam);
    wchar_t cls[256] = L"";
    GetClassNameW(hWnd, cls, 256);
    if (_wcsnicmp(cls, d->cls, wcslen(d->cls)) != 0) return TRUE;
    d->found = hWnd;
    return FALSE;
}

}  // namespace

HWND FindTopWindow(const wchar_t* cls, const wchar_t* title, DWORD pid) {
    FindData d = {cls, title, pid, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

HWND WaitForTopWindow(const wchar_t* cls, const wchar_t* title, DWORD pid, DWORD timeoutMs) {
    HWND h = nullptr;
    WaitFor([&] { return (h = FindTopWindow(cls, title, pid)) != nullptr && IsWindowVisible(h); }, timeoutMs);
    return h;
}

HWND FindChild(HWND hParent, const wchar_t* cls) {
    ChildData d = {cls, nullptr};
    EnumChildWindows(hParent, ChildProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

std::wstring WindowText(HWND hWnd) {
    wchar_t buf[1024] = L"";
    // WM_GETTEXT with a time limit: a hung window must not hang the test.
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &n))
        return std::wstring();
    return std::wstring(buf, static_cast<size_t>(n));
}

SIZE ClientSize(HWND hWnd) {
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

void PostClick(HWND hWnd, POINT pt) {
    const LPARAM lp = MAKELPARAM(pt.x, pt.y);
    PostMessageW(hWnd, WM_MOUSEMOVE, 0, lp);
    PostMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    PostMessageW(hWnd, WM_LBUTTONUP, 0, lp);
}

void TypeInto(HWND hEdit, const std::wstring& text) {
    PostMessageW(hEdit, EM_SETSEL, 0, -1);
    for (wchar_t c : text) PostMessageW(hEdit, WM_CHAR, c, 1);
}

void PostKey(HWND hWnd, UINT vk) {
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    PostMessageW(hWnd, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(hWnd, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (1u << 30) | (1u << 31));
}

void PostAltF4(HWND hWnd) {
    const UINT scan = MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (1 << 29);  // context code: Alt is down
    PostMessageW(hWnd, WM_SYSKEYDOWN, VK_F4, down);
    PostMessageW(hWnd, WM_SYSKEYUP, VK_F4, down | (1u << 30) | (1u << 31));
}

// ---------------------------------------------------------------- remote tree view

namespace {
const size_t kRemoteBytes = 4096;
const size_t kTextOffset = 512;  // the text buffer after the TVITEMW
}  // namespace

RemoteTree::RemoteTree(HWND hTree) : m_hTree(hTree) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hTree, &pid);
    m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_hProcess)
        m_pRemote = VirtualAllocEx(m_hProcess, nullptr, kRemoteBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteTree::~RemoteTree() {
    if (m_pRemote) VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
    if (m_hProcess) CloseHandle(m_hProcess);
}

HTREEITEM RemoteTree::Root() const {
    return reinterpret_cast<HTREEITEM>(SendMessageW(m_hTree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

std::vector<HTREEITEM> RemoteTree::Children(HTREEITEM item) const {
    SendMessageW(m_hTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    std::vector<HTREEITEM> out;
    HTREEITEM c = reinterpret_cast<HTREEITEM>(
        SendMessageW(m_hTree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
    while (c) {
        out.push_back(c);
        c = reinterpret_cast<HTREEITEM>(SendMessageW(m_hTree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(c)));
    }
    return out;
}

std::wstring RemoteTree::Text(HTREEITEM item) const {
    if (!m_pRemote) return std::wstring();
    BYTE* remote = static_cast<BYTE*>(m_pRemote);
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = reinterpret_cast<LPWSTR>(remote + kTextOffset);
    tv.cchTextMax = static_cast<int>((kRemoteBytes - kTextOffset) / sizeof(wchar_t)) - 1;
    const wchar_t empty = 0;
    WriteProcessMemory(m_hProcess, remote + kTextOffset, &empty, sizeof(empty), nullptr);
    WriteProcessMemory(m_hProcess, remote, &tv, sizeof(tv), nullptr);
    SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote));
    wchar_t text[1024] = L"";
    ReadProcessMemory(m_hProcess, remote + kTextOffset, text, sizeof(text) - sizeof(wchar_t), nullptr);
    return text;
}

void RemoteTree::Select(HTREEITEM item) const {
    SendMessageW(m_hTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// ---------------------------------------------------------------- pictures

std::wstring ArtifactsDir() {
    wchar_t buf[MAX_PATH] = L"";
    if (!GetEnvironmentVariableW(L"KELO_ARTIFACTS", buf, MAX_PATH)) return std::wstring();
    std::wstring dir = buf;
    if (!dir.empty() && dir[0] == L'/') {
        for (wchar_t& c : dir)
            if (c == L'/') c = L'\\';
        dir = L"Z:" + dir;
    }
    return dir;
}

namespace {

std::vector<DWORD> GrabScreen(const RECT& rc) {
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    std::vector<DWORD> px;
    if (w <= 0 || h <= 0) return px;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        px.assign(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + static_cast<size_t>(w) * h);
        for (DWORD& p : px) p &= 0x00FFFFFF;
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return px;
}

void PutBigEndian(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    PutBigEndian(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                  static_cast<uInt>(body.size()))));
}

std::string EncodePng(const std::vector<DWORD>& px, int w, int h) {
    std::string raw;
    raw.reserve(static_cast<size_t>(h) * (1 + 3 * w));
    for (int y = 0; y < h; ++y) {
        raw += '\0';
        for (int x = 0; x < w; ++x) {
            const DWORD p = px[static_cast<size_t>(y) * w + x];
            raw += static_cast<char>((p >> 16) & 0xFF);
            raw += static_cast<char>((p >> 8) & 0xFF);
            raw += static_cast<char>(p & 0xFF);
        }
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::string z(zlen, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &zlen, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 6);
    z.resize(zlen);
    std::string ihdr;
    PutBigEndian(ihdr, static_cast<uint32_t>(w));
    PutBigEndian(ihdr, static_cast<uint32_t>(h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter method, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", std::string());
    return png;
}

bool IsTeal(DWORD p) {
    const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return g > 120 && g - r > 70 && b > 90;
}

}  // namespace

Pixels Pixels::Grab(HWND hWnd) {
    Pixels p;
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    POINT tl = {0, 0};
    ClientToScreen(hWnd, &tl);
    OffsetRect(&rc, tl.x, tl.y);
    p.m_px = GrabScreen(rc);
    p.m_cx = rc.right - rc.left;
    p.m_cy = rc.bottom - rc.top;
    if (p.m_px.empty()) p.m_cx = p.m_cy = 0;
    return p;
}

DWORD Pixels::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_cx || y >= m_cy) return 0;
    return m_px[static_cast<size_t>(y) * m_cx + x];
}

double Pixels::TealShare(const RECT& rc) const {
    int total = 0, teal = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x) {
            if (x < 0 || y < 0 || x >= m_cx || y >= m_cy) continue;
            ++total;
            if (IsTeal(At(x, y))) ++teal;
        }
    return total ? static_cast<double>(teal) / total : 0.0;
}

int Pixels::TealRun(int x0, int y) const {
    int n = 0;
    while (x0 + n < m_cx && IsTeal(At(x0 + n, y))) ++n;
    return n;
}

bool SaveScreenshot(HWND hWnd, const std::wstring& name, int margin) {
    const std::wstring dir = ArtifactsDir();
    if (dir.empty() || !IsWindow(hWnd)) return false;
    // Let the window finish painting what the last input changed.
    Sleep(400);
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    InflateRect(&rc, margin, margin);
    const std::vector<DWORD> px = GrabScreen(rc);
    if (px.empty()) return false;
    return WriteFileBytes(dir + L"\\" + name + L".png", EncodePng(px, rc.right - rc.left, rc.bottom - rc.top));
}

// ---------------------------------------------------------------- the setup program

std::wstring DeliveryDir() {
    wchar_t buf[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"KELO_SETUP_DELIVERY", buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return buf;
    return ModuleDir() + L"\\..\\delivery\\KeloPdfReaderSetup";
}

std::wstring CopyDelivery(const std::wstring& tag) {
    const std::wstring dir = NewTempDir(L"kelo_setup_" + tag);
    if (dir.empty() || !CopyTree(DeliveryDir(), dir)) return std::wstring();
    return dir;
}

const char* PageName(Page page) {
    switch (page) {
    case Page::Folder: return "folder";
    case Page::License: return "licence";
    case Page::Progress: return "progress";
    case Page::Finish: return "finish";
    default: return "unknown";
    }
}

namespace {

Layout& SetupLayout() {
    static std::unique_ptr<Layout> s_layout = Layout::Load(L"SetupDlg.xml");
    return *s_layout;
}

Layout& MsgBoxLayout() {
    static std::unique_ptr<Layout> s_layout = Layout::Load(L"MsgBoxDlg.xml");
    return *s_layout;
}

}  // namespace

SetupRun::SetupRun(const std::wstring& folder) : m_folder(folder) {}

SetupRun::~SetupRun() {
    m_proc.Kill();
    if (m_pid && !m_proc.IsRunning()) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, m_pid);
        if (h) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 10000);
            CloseHandle(h);
        }
    }
    m_launcher.Kill();
}

bool SetupRun::Start(const std::wstring& workDir) {
    if (!m_proc.Start(m_folder + L"\\" + Product::kSetupExe, L"", workDir.empty() ? m_folder : workDir)) return false;
    m_pid = m_proc.Pid();
    m_hWnd = WaitForTopWindow(kSetupClass, kSetupTitle, m_pid, 30000);
    return m_hWnd != nullptr;
}

bool SetupRun::StartThrough(const std::wstring& launcherExe) {
    const std::wstring setupExe = m_folder + L"\\" + Product::kSetupExe;
    if (!m_launcher.Start(launcherExe, L"\"" + setupExe + L"\"", m_folder)) return false;
    m_hWnd = WaitForTopWindow(kSetupClass, kSetupTitle, 0, 30000);
    if (!m_hWnd) return false;
    GetWindowThreadProcessId(m_hWnd, &m_pid);
    return true;
}

HWND SetupRun::PathEdit() const { return FindChild(m_hWnd, L"Edit"); }

std::wstring SetupRun::PathText() const { return WindowText(PathEdit()); }

void SetupRun::Click(const wchar_t* control) {
    const SIZE sz = ClientSize(m_hWnd);
    PostClick(m_hWnd, SetupLayout().Center(control, sz.cx, sz.cy));
}

void SetupRun::TypePath(const std::wstring& text) { TypeInto(PathEdit(), text); }

Page SetupRun::CurrentPage() const {
    if (!IsWindow(m_hWnd)) return Page::Unknown;
    HWND hEdit = PathEdit();
    if (hEdit && IsWindowVisible(hEdit)) return Page::Folder;
    HWND hRich = FindChild(m_hWnd, L"RichEdit");
    if (hRich && IsWindowVisible(hRich)) return Page::License;
    // Pages 2 and 3 differ in the finish button, drawn in teal.
    return TealShareOf(L"btnStartExe") > 0.5 ? Page::Finish : Page::Progress;
}

bool SetupRun::WaitPage(Page page, DWORD timeoutMs) {
    return WaitFor([&] { return CurrentPage() == page; }, timeoutMs, 100);
}

double SetupRun::TealShareOf(const wchar_t* control) const {
    const SIZE sz = ClientSize(m_hWnd);
    RECT rc = SetupLayout().Rect(control, sz.cx, sz.cy);
    // Inside the rounded corners of the button images.
    InflateRect(&rc, -4, -4);
    return Pixels::Grab(m_hWnd).TealShare(rc);
}

int SetupRun::ProgressFill() const {
    const SIZE sz = ClientSize(m_hWnd);
    const RECT rc = SetupLayout().Rect(L"instProgress", sz.cx, sz.cy);
    // The lower half of the bar has no highlight.
    return Pixels::Grab(m_hWnd).TealRun(rc.left, rc.bottom - 2);
}

bool SetupRun::Screenshot(const std::wstring& name) const { return SaveScreenshot(m_hWnd, name); }

HWND SetupRun::MessageBox() const {
    HWND h = FindTopWindow(kMsgBoxClass, nullptr, m_pid);
    return h && IsWindowVisible(h) ? h : nullptr;
}

HWND SetupRun::WaitMessageBox(DWORD timeoutMs) const {
    HWND h = nullptr;
    WaitFor([&] { return (h = MessageBox()) != nullptr; }, timeoutMs);
    // The box is sized to its text after it was created.
    if (h) Sleep(300);
    return h;
}

void SetupRun::ClickInMessageBox(HWND hBox, const wchar_t* control) const {
    const SIZE sz = ClientSize(hBox);
    PostClick(hBox, MsgBoxLayout().Center(control, sz.cx, sz.cy));
}

bool SetupRun::WaitExit(DWORD timeoutMs, DWORD* pExitCode) {
    DWORD code = STILL_ACTIVE;
    if (m_proc.Pid()) {
        code = m_proc.WaitExit(timeoutMs);
    } else if (m_pid) {
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, m_pid);
        if (h && WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(h, &code);
        if (h) CloseHandle(h);
    }
    if (pExitCode) *pExitCode = code;
    return code != STILL_ACTIVE;
}

namespace {
std::wstring InstallLogPath() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + Product::kLogFolderName + L"\\" + Product::kInstallLog;
}
}  // namespace

size_t InstallLogSize() { return ReadFileBytes(InstallLogPath()).size(); }

std::wstring InstallLogSince(size_t from) {
    const std::string bytes = ReadFileBytes(InstallLogPath());
    if (from >= bytes.size()) return std::wstring();
    const std::string part = bytes.substr(from);
    const int n = MultiByteToWideChar(CP_ACP, 0, part.data(), static_cast<int>(part.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, part.data(), static_cast<int>(part.size()), &text[0], n);
    return text;
}

}  // namespace setup_e2e
