// The window wrapper CWindowWnd, the notification records and interfaces,
// and CNotifyPump with its message map (which routes notifications to
// member functions by notification type and control name).
#pragma once

#include "UIString.h"

namespace DuiLib {

// A notification sent by a control to the window's listeners.
struct TNotifyUI {
    CDuiString sType;        // DUI_MSGTYPE_CLICK, ...
    CDuiString sVirtualWnd;  // unused, kept empty
    CControlUI* pSender;     // the control that sent it
    DWORD dwTimestamp;
    POINT ptMouse;           // client coordinates at the time of sending
    WPARAM wParam;
    LPARAM lParam;
};

// An input event delivered by the paint manager to one control.
struct TEventUI {
    int Type;  // EVENTTYPE_UI
    CControlUI* pSender;
    DWORD dwTimestamp;
    POINT ptMouse;
    TCHAR chKey;
    WORD wKeyState;
    WPARAM wParam;
    LPARAM lParam;
};

class UILIB_API INotifyUI {
public:
    virtual void Notify(TNotifyUI& msg) = 0;
};

class UILIB_API IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

class UILIB_API IDialogBuilderCallback {
public:
    // Creates a control for a layout tag the library does not know; NULL skips it.
    virtual CControlUI* CreateControl(LPCTSTR pstrClass) = 0;
};

// ---------------------------------------------------------------- message map

class CNotifyPump;
typedef void (CNotifyPump::*DUI_PMSG)(TNotifyUI& msg);

enum DuiSig { DuiSig_end = 0, DuiSig_vn = 1 };

struct DUI_MSGMAP_ENTRY {
    LPCTSTR sMsgType;   // notification type
    LPCTSTR sCtrlName;  // control name, empty for any control
    UINT nSig;
    DUI_PMSG pfn;
};

struct DUI_MSGMAP {
    const DUI_MSGMAP* (*pfnGetBaseMap)();
    const DUI_MSGMAP_ENTRY* lpEntries;
};

#define DUI_DECLARE_MESSAGE_MAP()                                         \
private:                                                                  \
    static const DuiLib::DUI_MSGMAP_ENTRY _messageEntries[];              \
protected:                                                                \
    static const DuiLib::DUI_MSGMAP messageMap;                           \
    static const DuiLib::DUI_MSGMAP* _GetBaseMessageMap();                \
public:                                                                   \
    static const DuiLib::DUI_MSGMAP* _GetThisMessageMap();                \
    virtual const DuiLib::DUI_MSGMAP* GetMessageMap() const;

#define DUI_BEGIN_MESSAGE_MAP(theClass, baseClass)                                                            \
    const DuiLib::DUI_MSGMAP* theClass::_GetBaseMessageMap() { return baseClass::_GetThisMessageMap(); }      \
    const DuiLib::DUI_MSGMAP* theClass::_GetThisMessageMap() { return &theClass::messageMap; }                \
    const DuiLib::DUI_MSGMAP* theClass::GetMessageMap() const { return &theClass::messageMap; }               \
    const DuiLib::DUI_MSGMAP theClass::messageMap = {&theClass::_GetBaseMessageMap,                           \
                                                     &theClass::_messageEntries[0]};                          \
    const DuiLib::DUI_MSGMAP_ENTRY theClass::_messageEntries[] = {

#define DUI_END_MESSAGE_MAP() {NULL, NULL, DuiLib::DuiSig_end, (DuiLib::DUI_PMSG)0}};

// Every notification of one type, from any control.
#define DUI_ON_MSGTYPE(msgtype, memberFxn) \
    {msgtype, _T(""), DuiLib::DuiSig_vn, static_cast<DuiLib::DUI_PMSG>(&memberFxn)},

// Notifications of one type from the control of one name.
#define DUI_ON_MSGTYPE_CTRNAME(msgtype, ctrname, memberFxn) \
    {msgtype, ctrname, DuiLib::DuiSig_vn, static_cast<DuiLib::DUI_PMSG>(&memberFxn)},

#define DUI_ON_CLICK_CTRNAME(ctrname, memberFxn) DUI_ON_MSGTYPE_CTRNAME(DUI_MSGTYPE_CLICK, ctrname, memberFxn)

class UILIB_API CNotifyPump {
public:
    virtual ~CNotifyPump();
    // Routes a notification through the message map, most derived class first.
    void NotifyPump(TNotifyUI& msg);

private:
    bool LoopDispatch(TNotifyUI& msg);

    DUI_DECLARE_MESSAGE_MAP()
};

// ---------------------------------------------------------------- window

class UILIB_API CWindowWnd {
public:
    CWindowWnd();

    HWND GetHWND() const;
    operator HWND() const;

    bool RegisterWindowClass();
    bool RegisterSuperclass();

    HWND Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT rc,
                HMENU hMenu = NULL);
    HWND Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = NULL);
    HWND Subclass(HWND hWnd);
    void Unsubclass();
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    // Runs the window modally to its owner; returns the code given to Close.
    UINT ShowModal();
    // Posts WM_CLOSE with the code; ShowModal returns it.
    void Close(UINT nRet = IDOK);
    void CenterWindow();
    void SetIcon(UINT nRes);

    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0L);
    LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0L);
    void ResizeClient(int cx = -1, int cy = -1);

protected:
    // Primary virtual operations, in this order.
    virtual LPCTSTR GetWindowClassName() const = 0;
    virtual LPCTSTR GetSuperClassName() const;
    virtual UINT GetClassStyle() const;
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Runs after WM_NCDESTROY, when the window no longer exists.
    virtual void OnFinalMessage(HWND hWnd);

public:
    virtual ~CWindowWnd();

protected:
    static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK __ControlProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void RecordModalResult(WPARAM wParam);

    HWND m_hWnd;
    WNDPROC m_OldWndProc;
    bool m_bSubclassed;
    UINT* m_pModalResult;  // while ShowModal runs: where WM_CLOSE's code goes
};

}  // namespace DuiLib
