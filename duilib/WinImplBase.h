// WindowImplBase: a skinned top-level window. On WM_CREATE it loads the
// skin named by the skin queries, builds the layout, and then calls
// InitWindow. Notifications reach Notify, whose message map sends every
// "click" to OnClick. Messages it does not handle itself go to
// HandleCustomMessage first, then to the paint manager.
#pragma once

#include "UIBase.h"
#include "UIManager.h"

namespace DuiLib {

class UILIB_API WindowImplBase : public CWindowWnd,
                                 public CNotifyPump,
                                 public INotifyUI,
                                 public IMessageFilterUI,
                                 public IDialogBuilderCallback {
public:
    WindowImplBase();
    ~WindowImplBase() override;

    // From CWindowWnd: GetWindowClassName stays pure.
    UINT GetClassStyle() const override;
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

    virtual void InitWindow();
    virtual void OnClick(TNotifyUI& msg);
    // Skin queries.
    virtual CDuiString GetSkinFolder() = 0;
    virtual CDuiString GetSkinFile() = 0;
    // The default key response: Escape closes the window, Enter does nothing.
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam);
    virtual UILIB_RESOURCETYPE GetResourceType() const;
    virtual CDuiString GetZIPFileName() const;
    virtual LPCTSTR GetResourceID() const;

    virtual LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcActivate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcCalcSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnGetMinMaxInfo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseWheel(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseHover(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnKeyDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnKillFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSetFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnLButtonDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // Every message the handlers above leave alone, before the paint
    // manager sees it; set bHandled to stop it there.
    virtual LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // Window style after creation (the native caption is removed).
    virtual LONG GetStyle();

    // IMessageFilterUI: the window's pre-message filter (Enter/Escape).
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
    // INotifyUI: routes through the message map.
    void Notify(TNotifyUI& msg) override;
    // IDialogBuilderCallback: no extra control classes.
    CControlUI* CreateControl(LPCTSTR pstrClass) override;

    CPaintManagerUI& GetPaintManager();

protected:
    CPaintManagerUI m_pm;

    DUI_DECLARE_MESSAGE_MAP()
};

}  // namespace DuiLib
