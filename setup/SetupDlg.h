// CSetupDlg: the setup program's wizard window. Four pages of "mainTab":
// 0 folder and agreement, 1 licence text, 2 progress, 3 finish. It checks the
// chosen folder, asks before installing over a registered installation, hands
// the folder to CInstallMgr, follows its WM_INSTALL_PROGRESS records and at
// the end starts the installed reader. It deletes itself when its window is
// destroyed, and its destructor ends the program's message loop.
#pragma once

#include <string>

#include "WinBaseEx.h"

class CInstallMgr;

class CSetupDlg : public CWinBaseEx {
public:
    CSetupDlg();

    // Selects a page, sets the window to 640 x 400 and, for the progress
    // page, starts the bar at 0.
    void ShowPage(int nPage);
    // The chosen folder; the program-files folder + "\KeloPdfReader" until
    // one was chosen.
    std::wstring GetInstallPath();

protected:
    LPCTSTR GetWindowClassName() const override;
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;
    ~CSetupDlg() override;
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    DuiLib::CDuiString GetSkinFile() override;
    LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

    virtual LRESULT OnTimer(WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnInstallProgress(WPARAM wParam, LPARAM lParam, BOOL& bHandled);

private:
    // The drop shadow and the licence text, once.
    void AfterFirstPaint();
    void LoadLicenseText();
    void SelectInstallPath();
    void StartInstall();
    void RunInstalledApp();
    void OnAgreementClick();

    DuiLib::CTabLayoutUI* m_pMainTab;
    DuiLib::CEditUI* m_pEditPath;
    DuiLib::CCheckBoxUI* m_pCkOk;
    DuiLib::CProgressUI* m_pProgress;
    std::wstring m_strInstallPath;
    CInstallMgr* m_pInstallMgr;
    // The folder browser is open (its modal loop runs inside OnClick).
    bool m_bBrowsing;
    bool m_bAfterFirstPaintDone;

    DUI_DECLARE_MESSAGE_MAP()
};
