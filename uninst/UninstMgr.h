// The uninstall engine: on a worker thread it terminates the product's
// programs, removes its service, shortcuts, firewall rules, registry keys and
// files, and posts a progress record to the dialog after each step. What is
// in use (the running uninstaller and its libraries) stays for the deferred
// self-deletion.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "ThreadHelper.h"

class CFirewallSettings;

// Posted to g_hUninstWnd after each step. wParam: UninstProgress* (the
// receiver owns and deletes it); lParam: 0.
constexpr UINT WM_UNINST_PROGRESS = WM_USER + 1001;

struct UninstProgress {
    int percent = 0;   // 0..100
    int status = 0;    // always 0 from the engine
    std::wstring text; // status text for the dialog
};

// The dialog's window, published by the dialog before the worker starts and
// read by the worker for every post. While it is null nothing is posted and
// the steps do not pause.
extern HWND g_hUninstWnd;

class CUninstMgr {
public:
    // Makes the firewall object that RemoveFirewall works through; called on
    // the worker thread. By default CFirewallSettings over the system policy.
    typedef std::function<std::unique_ptr<CFirewallSettings>()> FirewallFactory;

    CUninstMgr();
    // Asks a running worker to stop and waits for it (StopWorker): closing
    // the dialog mid-way stops the uninstall after the step or file it is at.
    ~CUninstMgr();
    CUninstMgr(const CUninstMgr&) = delete;
    CUninstMgr& operator=(const CUninstMgr&) = delete;

    // Starts the worker thread that runs UnIntallSoftware once.
    void BeginUnInstallThread();
    static unsigned __stdcall UninstProcThread(void* param);

    // The whole sequence; posts 5, 60, 70, 80, 90 and 100.
    void UnIntallSoftware();
    // The deletion steps; each reports true whatever happened.
    bool DeleteLink();
    bool RemoveFirewall();
    bool DeleteRegedit();
    bool DeleleOtherFile();

    // Installation folder, the folder of the running uninstaller; set by the
    // dialog before the worker starts.
    std::wstring installDir;
    // The worker thread; INVALID_HANDLE_VALUE until it has been started.
    HANDLE threadHandle = INVALID_HANDLE_VALUE;
    // Replaceable for tests, which bring a firewall policy double.
    FirewallFactory firewallFactory;
    // Asks the worker to end after its current step or file; returns at once.
    void RequestStop() { m_stop.Request(); }

private:
    StopSignal m_stop;

    // False, without posting, when a stop was requested during its pause.
    bool PostProgress(int percent, const wchar_t* text);
};
