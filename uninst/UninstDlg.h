// CUninstDlg: the uninstaller's one window. Page 0 is the farewell form
// (three reasons to tick, a contact field and a suggestion field), page 1
// follows the uninstall engine's progress, page 2 says it is done. When the
// engine reports completion the dialog sends the feedback report; when the
// finished dialog is closed with its close or finish button it starts the
// deferred self-deletion of the installation folder.
#pragma once

#include <string>

#include "Feedback.h"
#include "WinBaseEx.h"

class CUninstMgr;

// Window title of the uninstaller, which the single-instance guard also
// looks for: the product key's "appname" (default "KeloPDF阅读器") + "卸载程序".
std::wstring UninstWindowTitle();

// Tab pages of "mainTab".
enum UninstPage {
    UNINST_PAGE_FORM = 0,
    UNINST_PAGE_PROGRESS = 1,
    UNINST_PAGE_FINISHED = 2,
};

// Field limits of the farewell form, in characters.
constexpr int kContactMaxChars = 100;
constexpr int kSuggestionMaxChars = 200;

class CUninstDlg : public CWinBaseEx {
public:
    // reportBase: scheme and host of the report service (the build's
    // KELO_REPORT_HOST in the program).
    explicit CUninstDlg(const wchar_t* reportBase = Product::kReportHost);
    // Destroys the manager (which stops a worker that still runs) and posts
    // the quit message that ends the program's message loop.
    ~CUninstDlg() override;

protected:
    LPCTSTR GetWindowClassName() const override;
    DuiLib::CDuiString GetSkinFile() override;
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    LRESULT OnUninstProgress(WPARAM wParam, BOOL& bHandled);
    // Version, channel and machine id, read before the uninstall deletes them.
    void ReadIdentity();

    DuiLib::CTabLayoutUI* m_pMainTab;
    DuiLib::CProgressUI* m_pProgress;
    DuiLib::CLabelUI* m_pStatus;
    DuiLib::CRichEditUI* m_pEditContact;
    DuiLib::CRichEditUI* m_pEditSuggestion;
    DuiLib::CCheckBoxUI* m_pCkFunction;
    DuiLib::CCheckBoxUI* m_pCkAlwaysClose;
    DuiLib::CCheckBoxUI* m_pCkDirectUninstall;

    CUninstMgr* m_pUninstMgr;
    std::wstring m_strVersion;
    std::wstring m_strChannel;
    std::wstring m_strMachineId;
    std::wstring m_strReportBase;
    bool m_bFinished;
    UninstFeedback m_report;
};
