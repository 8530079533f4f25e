// Small helpers for the foundation's tests: private temporary folders, files,
// child processes and the helper programs built beside the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ct {

// A fresh folder under the temporary folder, removed (best effort) when destroyed.
class TempDir {
public:
    explicit TempDir(const wchar_t* tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// A name unique to this process and call.
std::wstring UniqueName(const wchar_t* tag);

bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// UTF-16 file content written by the probe helper.
std::wstring ReadFileWide(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Full path of a program in the tests' output folder.
std::wstring BinPath(const wchar_t* exeName);

// A started child process; the destructor kills it if it still runs.
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // application may be empty (then the first token of the command line is used).
    bool Start(const std::wstring& application, const std::wstring& commandLine, const std::wstring& curDir = L"",
               DWORD flags = 0);
    // Waits, pumping this thread's messages; false on time-out.
    bool Wait(DWORD timeoutMs, bool pumpMessages = false);
    DWORD ExitCode() const;
    HANDLE Process() const { return m_pi.hProcess; }
    DWORD Pid() const { return m_pi.dwProcessId; }

private:
    PROCESS_INFORMATION m_pi = {};
};

// Runs a command line to its end; returns the exit code or ~0u on time-out.
DWORD Run(const std::wstring& application, const std::wstring& commandLine, DWORD timeoutMs = 60000,
          bool pumpMessages = false);

std::wstring Quote(const std::wstring& s);

}  // namespace ct
