#include "CommonTestUtil.h"

#include <cstdio>

#include "PathUtils.h"

namespace ct {

std::wstring UniqueName(const wchar_t* tag)
{
    static LONG s_counter = 0;
    LONG n = InterlockedIncrement(&s_counter);
    return FormatW(L"%s_%lu_%lu_%ld", tag, GetCurrentProcessId(), GetTickCount(), n);
}

TempDir::TempDir(const wchar_t* tag)
{
    wchar_t szTemp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, szTemp);
    std::wstring base = szTemp;
    if (!base.empty() && base.back() == L'\\') {
        base.pop_back();
    }
    m_path = base + L"\\" + UniqueName(tag);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir()
{
    RemoveTree(m_path);
}

bool FileExists(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) {
        out.append(buf, got);
    }
    CloseHandle(h);
    return out;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD put = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
    return ok && put == bytes.size();
}

std::wstring ReadFileWide(const std::wstring& path)
{
    std::string bytes = ReadFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring BinPath(const wchar_t* exeName)
{
    return GetModuleDir() + L"\\" + exeName;
}

std::wstring Quote(const std::wstring& s)
{
    return L"\"" + s + L"\"";
}

Child::~Child()
{
    if (m_pi.hProcess != nullptr) {
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_pi.hProcess, 99);
            WaitForSingleObject(m_pi.hProcess, 5000);
        }
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
}

bool Child::Start(const std::wstring& application, const std::wstring& commandLine, const std::wstring& curDir,
                  DWORD flags)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    return CreateProcessW(application.empty() ? nullptr : application.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                          flags, nullptr, curDir.empty() ? nullptr : curDir.c_str(), &si, &m_pi) != FALSE;
}

bool Child::Wait(DWORD timeoutMs, bool pumpMessages)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0;
        }
        if (!pumpMessages) {
            return WaitForSingleObject(m_pi.hProcess, timeoutMs - elapsed) == WAIT_OBJECT_0;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &m_pi.hProcess, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            return true;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

DWORD Child::ExitCode() const
{
    DWORD code = ~0u;
    GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
}

DWORD Run(const std::wstring& application, const std::wstring& commandLine, DWORD timeoutMs, bool pumpMessages)
{
    Child child;
    if (!child.Start(application, commandLine)) {
        return ~0u;
    }
    if (!child.Wait(timeoutMs, pumpMessages)) {
        return ~0u;
    }
    return child.ExitCode();
}

}  // namespace ct
