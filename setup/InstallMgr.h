// The install engine of the setup program: one fixed sequence on a worker
// thread that ends the product's programs and service, copies the payload and
// the runtime libraries, stores the machine identifier and registers the
// product. Progress goes to the setup window as posted InstallProgress records;
// the engine itself has no window code.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "Firewall.h"
#include "ThreadHelper.h"

// wParam: InstallProgress* allocated by the worker; the receiver deletes it.
#define WM_INSTALL_PROGRESS (WM_USER + 1001)

struct InstallProgress {
    int percent;       // 0..100 for the progress bar
    int status;        // 0 step succeeded, -1 step failed (the installation stops)
    std::wstring text; // the step's status text; empty for the first record
};

// Window that receives the records; set by the setup dialog before any worker exists.
extern HWND g_hSetupWnd;
// Files copied by CoverFile in this process; the first copied file is logged with 0.
extern int g_nCopyCount;
// Parent process's executable name without folder and extension, kept by
// start-up; the channel rule takes its suffix after the first "_".
extern std::wstring g_strParentName;
// Machine identifier of the current run, set by WriteMachineInfo.
extern std::wstring g_strMachineId;

// Posts a heap copy of the record to g_hSetupWnd; does nothing without a window.
void PostInstallProgress(const InstallProgress& progress);

// The engine works relative to the current directory, which start-up sets to
// the setup program's folder: the payload "KeloInstaller", the four runtime
// libraries and "install.ini" are found there.
class CInstallMgr {
public:
    CInstallMgr();
    // Asks a running worker to stop and waits for it (StopWorker); the worker
    // ends after the file or step it is at, and the files copied so far stay.
    ~CInstallMgr();
    CInstallMgr(const CInstallMgr&) = delete;
    CInstallMgr& operator=(const CInstallMgr&) = delete;

    void SetShortcutOptions(bool bDesktop, bool bQuickLaunch);
    // Starts the worker running the whole sequence; returns at once.
    void BeginInstallThread();
    // Registers the firewall rule through this policy (and rule factory)
    // instead of the system's policy object; for tests. Not owned.
    void SetFirewallPolicy(INetFwPolicy2* pPolicy, CFirewallSettings::RuleFactory ruleFactory) {
        m_pFirewallPolicy = pPolicy;
        m_firewallRuleFactory = std::move(ruleFactory);
    }
    // Worker handle, INVALID_HANDLE_VALUE before BeginInstallThread.
    HANDLE GetThreadHandle() const { return m_hThread ? m_hThread.Get() : INVALID_HANDLE_VALUE; }

    static unsigned __stdcall InstallProc(void* pParam);

    // The sequence and its steps; each step takes the progress value it reports.
    void IntallSoftware();
    bool CopyInstallFile(int step);
    bool WriteMachineInfo(int step);
    bool CopyDependFile(int step);
    bool AfterInstall(int step);
    // Recursive copy of a folder's contents; true when every file was copied.
    // A stop request ends it before the next file (false).
    bool CoverFile(const wchar_t* destFolder, const wchar_t* srcFolder);
    // Asks the worker to end after its current file or step; returns at once.
    void RequestStop() { m_stop.Request(); }

    // Target folder without trailing backslash; the dialog assigns it before
    // the worker starts and has created it.
    std::wstring m_strInstallDir;

private:
    bool m_bDesktopShortcut;
    bool m_bQuickLaunchShortcut;
    AutoCloseHandle m_hThread;
    StopSignal m_stop;
    INetFwPolicy2* m_pFirewallPolicy = nullptr;
    CFirewallSettings::RuleFactory m_firewallRuleFactory;
};
