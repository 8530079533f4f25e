// The update engine: one run on a worker thread that ends the application,
// unpacks "Update\Update.zip" over the installation folder, records the new
// version and removes the package folder. Each step is reported to the status
// window as a posted UpdateStatus record; the engine has no window code.
#pragma once

#include <windows.h>

#include <string>

// wParam: UpdateStatus* allocated by the worker; the receiver deletes it. lParam: 0.
#define WM_UPDATE_STATUS (WM_USER + 1002)

struct UpdateStatus {
    int kind;           // 1 download progress, 2 step in progress, 3 extraction failed, 4 update finished
    int percent;        // 0..100
    std::wstring text;
};

// Download notifications. The updater downloads nothing; the interface stays
// so that a downloader could drive the status window the same way.
class CLibcurlDownCallback {
public:
    // Total and current byte counts.
    virtual void OnDownProgress(double dTotal, double dNow) = 0;
    // libcurl's progress callback arguments (user pointer, download and upload totals and counts).
    virtual int OnCurlProgress(void* pClient, double dDownTotal, double dDownNow, double dUpTotal,
                               double dUpNow) = 0;

protected:
    ~CLibcurlDownCallback() = default;
};

// Window that receives the records; null drops them (without their delays).
// Set by the update dialog before the worker starts.
extern HWND g_hUpdateWnd;

class CUpdateMgr : public CLibcurlDownCallback {
public:
    CUpdateMgr();
    // Asks a running worker to stop and waits for it (StopWorker): it ends
    // after the entry or step it is at, and the package stays for a later run.
    virtual ~CUpdateMgr();
    CUpdateMgr(const CUpdateMgr&) = delete;
    CUpdateMgr& operator=(const CUpdateMgr&) = delete;

    // Creates the worker suspended and resumes it; logs a failure.
    void StartUpdateThread();
    // The worker; 0 after a run, (unsigned)-1 without a parameter.
    static unsigned __stdcall DownFileThreadProc(void* pParam);
    // Sleeps delayMs and posts a heap copy to g_hUpdateWnd; returns at once
    // without a window. A stop request ends the pause and drops the record.
    static void PostUpdateStatus(const UpdateStatus& status, DWORD delayMs);
    // Asks the worker to end after its current entry or step; returns at once.
    static void RequestStop();

    // Kind 1 "下载中..." with the percentage; not called by the updater.
    void OnDownProgress(double dTotal, double dNow) override;
    int OnCurlProgress(void*, double, double, double, double) override { return 0; }

    // Worker thread, INVALID_HANDLE_VALUE when none runs.
    static HANDLE GetThreadHandle();

    // Installation folder without trailing backslash, as the updater was given
    // it; the dialog copies its own value here before the worker starts.
    static std::wstring m_strMainExePath;
};
