// CUpdateDlg: the updater's one window, a small strip that says the product
// is being upgraded. It starts the update engine as soon as it exists; on the
// engine's final report it restarts the application with "-run update",
// schedules the removal of the updater's own folder and closes.
#pragma once

#include <string>

#include "WinBaseEx.h"

class CUpdateMgr;

// Window title of the updater, which the single-instance guard also looks
// for: the product key's "appname" (default "KeloPDF阅读器") + "升级程序".
std::wstring UpdateWindowTitle();

// The application's command line after an update: "<folder>\KeloPdfReader.exe -run update".
std::wstring FormatRestartCommand(const std::wstring& installDir);

class CUpdateDlg : public CWinBaseEx {
public:
    CUpdateDlg();
    // Deletes the manager (which ends a worker that still runs) and posts the
    // quit message that ends the program's message loop.
    ~CUpdateDlg() override;

    // Installation folder as the updater was given it, without trailing backslash.
    std::wstring m_strMainExePath;

protected:
    LPCTSTR GetWindowClassName() const override;
    DuiLib::CDuiString GetSkinFile() override;
    void InitWindow() override;
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    // Hides the strip, starts the application, schedules the self-deletion and closes.
    void StartMainExe();

    bool m_bStarted;
    DuiLib::CLabelUI* m_pStatus;
    CUpdateMgr* m_pUpdateMgr;
};
