// Driving the delivered setup program from outside, as a user would: the
// program is started from a private copy of the delivered folder, its window
// is found by its title, clicks are posted at the positions that the skin's
// layout gives the controls, text is typed into the native path edit, keys
// are posted. Also what the tests look at afterwards: the registry in the
// programs' view, files, the log, screenshots and pixels of the window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace setup_e2e {

// ---------------------------------------------------------------- waiting, files, text

// Polls done() every stepMs until it holds or timeoutMs have passed.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 50);

std::wstring ModuleDir();
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool CopyTree(const std::wstring& from, const std::wstring& to);
void RemoveTree(const std::wstring& path);
// Creates a folder with all missing parents; true when it exists afterwards.
bool MakeDirs(const std::wstring& path);
// A new empty folder under the temporary folder ("<tmp>\<prefix>_<n>").
std::wstring NewTempDir(const std::wstring& prefix);
// Files directly in a folder whose names end with suffix.
std::vector<std::wstring> FilesEndingWith(const std::wstring& dir, const std::wstring& suffix);
// Lines of a UTF-16LE file without byte-order mark (the stand-in's record).
std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path);
// Text of a file in the ANSI code page.
std::wstring ReadAnsiText(const std::wstring& path);
std::wstring Lower(std::wstring text);
bool Contains(const std::wstring& text, const std::wstring& part);
// Program-files folder the setup program defaults to, for this build's bitness.
std::wstring ExpectedProgramFiles();

// ---------------------------------------------------------------- registry (the programs' own view)

std::wstring ReadHklm(const wchar_t* subKey, const wchar_t* value);
bool HklmKeyExists(const wchar_t* subKey);
bool WriteHklm(const wchar_t* subKey, const wchar_t* value, const std::wstring& text);
void DeleteHklmTree(const wchar_t* subKey);
// Removes the product key and the uninstall entry.
void ForgetInstallation();

// ---------------------------------------------------------------- processes

class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    bool Start(const std::wstring& exe, const std::wstring& args, const std::wstring& dir);
    bool IsRunning() const;
    // Exit code, or STILL_ACTIVE when the process has not ended within timeoutMs.
    DWORD WaitExit(DWORD timeoutMs);
    void Kill();
    DWORD Pid() const { return m_pid; }

private:
    HANDLE m_h = nullptr;
    DWORD m_pid = 0;
};

// Process ids of every running process with this executable name.
std::vector<DWORD> ProcessIds(const wchar_t* exeName);
void KillAll(const wchar_t* exeName);

// ---------------------------------------------------------------- the skins' layouts

// Rectangles of the named controls of a layout file, computed the way the UI
// library lays them out (floating positions, fixed and flexible sizes,
// padding, insets) for a given client size.
class Layout {
public:
    // "SetupDlg.xml", "MsgBoxDlg.xml" of the setup skin in the source tree.
    static std::unique_ptr<Layout> Load(const std::wstring& fileName);
    bool Has(const std::wstring& name, int cx, int cy);
    RECT Rect(const std::wstring& name, int cx, int cy);
    POINT Center(const std::wstring& name, int cx, int cy);

    struct Node;

private:
    std::shared_ptr<Node> m_root;
};

// ---------------------------------------------------------------- windows and input

HWND FindTopWindow(const wchar_t* cls, const wchar_t* title, DWORD pid = 0);
HWND WaitForTopWindow(const wchar_t* cls, const wchar_t* title, DWORD pid, DWORD timeoutMs);
// The first native child window of a class ("Edit", "RICHEDIT50W", ...).
HWND FindChild(HWND hParent, const wchar_t* cls);
std::wstring WindowText(HWND hWnd);
SIZE ClientSize(HWND hWnd);

// Mouse move, button down and up at a client point (posted, as the input
// queue would deliver them).
void PostClick(HWND hWnd, POINT pt);
// Select everything in an edit and type text over it, one WM_CHAR per unit.
void TypeInto(HWND hEdit, const std::wstring& text);
// A key as the window receives it: WM_KEYDOWN and WM_KEYUP.
void PostKey(HWND hWnd, UINT vk);
// Alt+F4 as it reaches the focused window: WM_SYSKEYDOWN with the Alt bit;
// the default window procedure turns it into the system close command.
void PostAltF4(HWND hWnd);

// A tree view of another process: items by their texts, read through a
// buffer in that process (the control's messages carry pointers).
class RemoteTree {
public:
    explicit RemoteTree(HWND hTree);
    ~RemoteTree();
    RemoteTree(const RemoteTree&) = delete;
    RemoteTree& operator=(const RemoteTree&) = delete;
    HTREEITEM Root() const;
    std::vector<HTREEITEM> Children(HTREEITEM item) const;  // expands it first
    std::wstring Text(HTREEITEM item) const;
    void Select(HTREEITEM item) const;

private:
    HWND m_hTree;
    HANDLE m_hProcess = nullptr;
    void* m_pRemote = nullptr;
};

// ---------------------------------------------------------------- pictures

std::wstring ArtifactsDir();
// Screen pixels (0x00RRGGBB) of the window's client area.
class Pixels {
public:
    static Pixels Grab(HWND hWnd);
    DWORD At(int x, int y) const;
    int Width() const { return m_cx; }
    int Height() const { return m_cy; }
    // Share of the pixels in rc that are the setup skin's teal (green well
    // above red, as in the install buttons and the progress bar).
    double TealShare(const RECT& rc) const;
    // Longest run of teal pixels on row y starting at x0.
    int TealRun(int x0, int y) const;

private:
    int m_cx = 0;
    int m_cy = 0;
    std::vector<DWORD> m_px;
};
// Captures the window with a margin for its shadow into
// $KELO_ARTIFACTS/<name>.png; false when nothing could be written.
bool SaveScreenshot(HWND hWnd, const std::wstring& name, int margin = 24);

// ---------------------------------------------------------------- the setup program

// Texts of the setup program (as the user sees them).
extern const wchar_t kSetupTitle[];      // "KeloPDF阅读器安装程序"
extern const wchar_t kSetupClass[];      // "SetupDlg"
extern const wchar_t kMsgBoxClass[];     // "MsgBoxDlg"

// The delivered setup folder of this build, or the one named by the
// environment variable KELO_SETUP_DELIVERY (e.g. a signed build's).
std::wstring DeliveryDir();
// A private copy of the delivered folder.
std::wstring CopyDelivery(const std::wstring& tag);

enum class Page { Folder, License, Progress, Finish, Unknown };
const char* PageName(Page page);

// One run of the setup program.
class SetupRun {
public:
    explicit SetupRun(const std::wstring& folder);
    ~SetupRun();
    SetupRun(const SetupRun&) = delete;
    SetupRun& operator=(const SetupRun&) = delete;

    // Starts the program (directly, or through a launcher program that
    // starts it as its child) and waits for its window. The working folder
    // is the setup folder unless another is given.
    bool Start(const std::wstring& workDir = L"");
    bool StartThrough(const std::wstring& launcherExe);

    HWND Window() const { return m_hWnd; }
    Process& Proc() { return m_proc; }
    const std::wstring& Folder() const { return m_folder; }
    HWND PathEdit() const;
    std::wstring PathText() const;

    // A control of "SetupDlg.xml" clicked at its centre.
    void Click(const wchar_t* control);
    void TypePath(const std::wstring& text);
    // The page shown now, from the native edits' visibility and the pixels.
    Page CurrentPage() const;
    bool WaitPage(Page page, DWORD timeoutMs);
    // Share of teal in a control's rectangle (an enabled install button is teal).
    double TealShareOf(const wchar_t* control) const;
    // Length in pixels of the progress bar's filled part.
    int ProgressFill() const;
    bool Screenshot(const std::wstring& name) const;

    // The message box this run shows, if any.
    HWND MessageBox() const;
    HWND WaitMessageBox(DWORD timeoutMs) const;
    // A button of "MsgBoxDlg.xml" clicked at its centre in the shown box.
    void ClickInMessageBox(HWND hBox, const wchar_t* control) const;

    bool WaitExit(DWORD timeoutMs, DWORD* pExitCode = nullptr);

private:
    std::wstring m_folder;
    Process m_proc;
    Process m_launcher;
    HWND m_hWnd = nullptr;
    DWORD m_pid = 0;
};

// Lines of %TEMP%\KeloPdfReader\install.log that were added since `from` bytes.
std::wstring InstallLogSince(size_t from);
size_t InstallLogSize();

}  // namespace setup_e2e
