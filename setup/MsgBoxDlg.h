// CMsgBoxDlg: the setup program's skinned message box. ShowMsgBox shows
// it modally with a title, a message and one of four button pages, and
// returns the code of the button that closed it.
#pragma once

#include "WinBaseEx.h"

// Button pages of "mainTab".
enum MsgBoxPage {
    MSGBOX_PAGE_YESNO = 0,     // "否" / "是"
    MSGBOX_PAGE_YES = 1,       // one wide "是"
    MSGBOX_PAGE_CANCELOK = 2,  // "取消" / "确定"
    MSGBOX_PAGE_OK = 3,        // one wide "确定"
};

// Close codes: what ShowMsgBox returns.
enum MsgBoxCode {
    MSGBOX_CODE_CLOSE = 1,  // "closeBtn", on every page
    MSGBOX_CODE_YES = 2,
    MSGBOX_CODE_NO = 4,
    MSGBOX_CODE_OK = 8,
    MSGBOX_CODE_CANCEL = 16,
};

class CMsgBoxDlg : public CWinBaseEx {
public:
    CMsgBoxDlg();
    ~CMsgBoxDlg() override;

    // Puts the texts in, sizes the box to the message, selects the button
    // page and makes the whole box its caption area.
    void FitToText(LPCTSTR pstrTitle, LPCTSTR pstrMessage, int nPage);

protected:
    LPCTSTR GetWindowClassName() const override;
    DuiLib::CDuiString GetSkinFile() override;
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;

private:
    DuiLib::CButtonUI* m_pCloseBtn;
    DuiLib::CTabLayoutUI* m_pMainTab;
};

// Modal to hWndOwner (may be NULL). nPage: MsgBoxPage. Returns a MsgBoxCode
// (0 when the box was closed some other way, e.g. the system close command).
UINT ShowMsgBox(HWND hWndOwner, LPCTSTR pstrTitle, LPCTSTR pstrMessage, int nPage);
