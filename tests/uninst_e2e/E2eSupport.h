// Helpers of the end-to-end tests, which run the real programs under Wine and
// drive them through their windows from outside, as a user would: posted
// clicks at layout coordinates, characters typed into the native edit
// controls, the system close command. Also: screenshots into the test
// artefacts, the delivered setup folder, installations made through the
// setup window, and a loopback server that receives the feedback report.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// ---------------------------------------------------------------- waiting and files

// Polls done() every stepMs until it holds or timeoutMs have passed.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 100);

std::wstring ModuleDir();
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Copies a folder tree; false at the first file that cannot be copied.
bool CopyTree(const std::wstring& from, const std::wstring& to);
// Deletes a folder tree as far as possible.
void RemoveTree(const std::wstring& path);
// A new empty folder under the temporary folder.
std::wstring NewTempDir(const std::wstring& prefix);
// Lines of a UTF-16LE file without byte-order mark (the stand-in's command-line record).
std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path);
// Lines of an ANSI text file, converted from the ANSI code page.
std::vector<std::wstring> ReadAnsiLines(const std::wstring& path);
// Full paths of every "*.log" file below root, with their last write times.
struct FileStamp {
    std::wstring path;
    ULONGLONG writeTime;
    bool operator==(const FileStamp& o) const { return path == o.path && writeTime == o.writeTime; }
};
std::vector<FileStamp> FindLogFiles(const std::wstring& root);

// GBK bytes of a wide text (the code page the suite's narrow text uses under the test locale).
std::string ToGbk(const std::wstring& text);
std::wstring FromGbk(const std::string& bytes);

// ---------------------------------------------------------------- registry (the suite's view)

std::wstring ReadHklmString(const wchar_t* subKey, const wchar_t* value);
bool HklmKeyExists(const wchar_t* subKey);
bool WriteHklmString(const wchar_t* subKey, const wchar_t* value, const std::wstring& text);

// ---------------------------------------------------------------- processes

struct Process {
    HANDLE handle = nullptr;
    DWORD pid = 0;
};
// Starts a program through the shell with the verb "runas", as Windows
// starts a requireAdministrator program; handle owned by the caller.
Process StartElevated(const std::wstring& exe, const std::wstring& args, const std::wstring& dir);
// Exit code, or STILL_ACTIVE when it has not ended within timeoutMs.
DWORD WaitExit(const Process& p, DWORD timeoutMs);
void CloseProcess(Process& p);
bool IsProcessRunning(const wchar_t* exeName);
// Full path of a running process's program file, or empty.
std::wstring ProcessImagePath(DWORD pid);
// Starts a program directly (not elevated), with this folder as working folder.
Process StartPlain(const std::wstring& exe, const std::wstring& args, const std::wstring& dir);
// Terminates every process of this executable name (cleanup between tests).
void KillAll(const wchar_t* exeName);

// ---------------------------------------------------------------- windows

// Top-level window with exactly this title (and class, when given), visible or not.
HWND FindTopWindow(const wchar_t* title, const wchar_t* cls = nullptr);
HWND WaitForTopWindow(const wchar_t* title, DWORD timeoutMs, const wchar_t* cls = nullptr);
DWORD WindowPid(HWND hWnd);
std::wstring WindowTitle(HWND hWnd);
// Native child windows (edits, rich edits) of a skinned window, in creation order.
std::vector<HWND> ChildWindows(HWND hWnd);
// True when a is above b in the Z order of top-level windows.
bool IsAbove(HWND a, HWND b);

// A mouse move, button down and button up at a client point; then waits
// afterMs for the program to handle them.
void PostClick(HWND hWnd, int x, int y, DWORD afterMs = 300);
// Each UTF-16 unit as a posted WM_CHAR; "\r" is the Enter key (key down and up).
void TypeText(HWND hEdit, const std::wstring& text);
// Alt+F4 as the window receives it: the system close command.
void PostAltF4(HWND hWnd);

// ---------------------------------------------------------------- pictures

// The Windows path of $KELO_ARTIFACTS; empty if unset.
std::wstring ArtifactsDir();
// Captures the screen around the window (margin pixels each side, for the
// shadow) into $KELO_ARTIFACTS/<name>.png. The window is put on top first
// and given settleMs to repaint.
bool SaveScreenshot(HWND hWnd, const std::wstring& name, int margin = 24, DWORD settleMs = 500);
// Pixels of the window's screen rectangle (0x00RRGGBB), for comparisons;
// the window is put on top first.
std::vector<DWORD> CapturePixels(HWND hWnd);
// A black window of this process just below the given one and reaching
// margin pixels past it, so that a translucent window shows the same
// picture whatever else is on the screen. DestroyWindow ends it.
HWND MakeBackdrop(HWND hAbove, int margin);
// Handles this thread's messages (the test's own windows) for ms milliseconds.
void PumpFor(DWORD ms);
// Prints a step of a scenario to stdout (the main command shows them).
void Step(const char* format, ...);

// ---------------------------------------------------------------- the suite

// The delivered setup folder of this build (<build>/delivery/KeloPdfReaderSetup).
std::wstring DeliveryDir();
// The uninstaller built to send its report to the loopback receiver.
std::wstring LoopbackUninstaller();
// A copy of the delivered setup folder whose payload carries the loopback
// uninstaller; tests install from it.
std::wstring MakeTestDelivery(const std::wstring& name);

// Title of a program's window with the default display name.
std::wstring SetupTitle();
std::wstring UninstTitle();
std::wstring UpdateTitle();

struct Installation {
    std::wstring dir;            // installation folder (the product key's "installDir")
    std::wstring uninstallString;
};
// Runs the setup program from `delivery` and installs through its window:
// "立即安装", wait for the finish page, "安装完成" (which starts the
// application). Screenshots "<shotPrefix>-setup-*.png".
bool InstallThroughSetup(const std::wstring& delivery, const std::wstring& shotPrefix, Installation& out);
// The uninstaller's path from an "UninstallString" (quoted or not).
std::wstring ExeFromCommand(const std::wstring& command);

// Window class of the stand-in application and its "检查更新" command.
constexpr wchar_t kStandinClass[] = L"KeloPdfReaderStandinWnd";
constexpr UINT kStandinCheckUpdate = 1001;
constexpr wchar_t kUpdateSourceVar[] = L"KELO_UPDATE_SOURCE";

// ---------------------------------------------------------------- report receiver

// An HTTP server on 127.0.0.1:port that answers every request with 200 and
// keeps each request (head and body) in arrival order.
class ReportReceiver {
public:
    explicit ReportReceiver(int port);
    ~ReportReceiver();
    ReportReceiver(const ReportReceiver&) = delete;
    ReportReceiver& operator=(const ReportReceiver&) = delete;

    bool IsListening() const { return m_listen != INVALID_SOCKET; }
    size_t Count();
    std::string Request(size_t i);  // the whole request
    std::string Body(size_t i);     // after the blank line
    bool WaitForCount(size_t n, DWORD timeoutMs);

private:
    static DWORD WINAPI ThreadProc(void* param);
    void Serve();

    SOCKET m_listen = INVALID_SOCKET;
    HANDLE m_hThread = nullptr;
    volatile LONG m_stop = 0;
    CRITICAL_SECTION m_cs;
    std::vector<std::string> m_requests;
};

// The JSON document of a report body "info=<Base64>", or empty.
std::string ReportJson(const std::string& body);

}  // namespace e2e
