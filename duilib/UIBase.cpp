#include "UIBase.h"

#include "UIControl.h"
#include "UIManager.h"

namespace DuiLib {

// ---------------------------------------------------------------- CNotifyPump

const DUI_MSGMAP* CNotifyPump::_GetBaseMessageMap() { return NULL; }
const DUI_MSGMAP* CNotifyPump::_GetThisMessageMap() { return &CNotifyPump::messageMap; }
const DUI_MSGMAP* CNotifyPump::GetMessageMap() const { return &CNotifyPump::messageMap; }
const DUI_MSGMAP CNotifyPump::messageMap = {&CNotifyPump::_GetBaseMessageMap, &CNotifyPump::_messageEntries[0]};
const DUI_MSGMAP_ENTRY CNotifyPump::_messageEntries[] = {{NULL, NULL, DuiSig_end, (DUI_PMSG)0}};

CNotifyPump::~CNotifyPump() {}

void CNotifyPump::NotifyPump(TNotifyUI& msg) { LoopDispatch(msg); }

bool CNotifyPump::LoopDispatch(TNotifyUI& msg) {
    CDuiString sName = msg.pSender ? msg.pSender->GetName() : CDuiString();
    for (const DUI_MSGMAP* pMap = GetMessageMap(); pMap != NULL; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : NULL) {
        for (const DUI_MSGMAP_ENTRY* e = pMap->lpEntries; e->nSig != DuiSig_end; ++e) {
            if (msg.sType != e->sMsgType) continue;
            if (e->sCtrlName && e->sCtrlName[0] && sName != e->sCtrlName) continue;
            (this->*(e->pfn))(msg);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- CWindowWnd

CWindowWnd::CWindowWnd()
    : m_hWnd(NULL), m_OldWndProc(::DefWindowProc), m_bSubclassed(false), m_pModalResult(NULL) {}

CWindowWnd::~CWindowWnd() {}

HWND CWindowWnd::GetHWND() const { return m_hWnd; }
CWindowWnd::operator HWND() const { return m_hWnd; }

LPCTSTR CWindowWnd::GetSuperClassName() const { return NULL; }
UINT CWindowWnd::GetClassStyle() const { return 0; }

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = GetClassStyle() | CS_DBLCLKS;
    wc.lpfnWndProc = CWindowWnd::__WndProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = ::LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = NULL;
    wc.lpszClassName = GetWindowClassName();
    ATOM ret = ::RegisterClassExW(&wc);
    return ret != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindowWnd::RegisterSuperclass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(NULL, GetSuperClassName(), &wc)) {
        if (!::GetClassInfoExW(CPaintManagerUI::GetInstance(), GetSuperClassName(), &wc)) return false;
    }
    m_OldWndProc = wc.lpfnWndProc;
    wc.lpfnWndProc = CWindowWnd::__ControlProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.lpszClassName = GetWindowClassName();
    ATOM ret = ::RegisterClassExW(&wc);
    return ret != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT rc,
                        HMENU hMenu) {
    return Create(hwndParent, pstrName, dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left,
                  rc.bottom - rc.top, hMenu);
}

HWND CWindowWnd::Create(HWND hwndParent, LPCTSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx,
                        int cy, HMENU hMenu) {
    if (GetSuperClassName() != NULL && !RegisterSuperclass()) return NULL;
    if (GetSuperClassName() == NULL && !RegisterWindowClass()) return NULL;
    m_hWnd = ::CreateWindowExW(dwExStyle, GetWindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                               CPaintManagerUI::GetInstance(), this);
    return m_hWnd;
}

HWND CWindowWnd::Subclass(HWND hWnd) {
    if (!::IsWindow(hWnd)) return NULL;
    m_OldWndProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(__WndProc)));
    if (m_OldWndProc == NULL) return NULL;
    m_bSubclassed = true;
    m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return m_hWnd;
}

void CWindowWnd::Unsubclass() {
    if (!::IsWindow(m_hWnd) || !m_bSubclassed) return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_OldWndProc));
    m_OldWndProc = ::DefWindowProc;
    m_bSubclassed = false;
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
    if (!::IsWindow(m_hWnd)) return;
    ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
    // Only locals after the loop: the object may delete itself in
    // OnFinalMessage while the loop runs.
    HWND hWnd = m_hWnd;
    if (!::IsWindow(hWnd)) return 0;
    UINT nRet = 0;
    m_pModalResult = &nRet;
    HWND hWndOwner = ::GetWindow(hWnd, GW_OWNER);
    ::ShowWindow(hWnd, SW_SHOWNORMAL);
    if (hWndOwner) ::EnableWindow(hWndOwner, FALSE);
    MSG msg = {};
    bool bQuit = false;
    while (::IsWindow(hWnd)) {
        BOOL r = ::GetMessageW(&msg, NULL, 0, 0);
        if (r == 0) {  // WM_QUIT: end the modal loop and let the outer loop see it
            bQuit = true;
            break;
        }
        if (r == -1) break;
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (::IsWindow(hWnd)) {
        m_pModalResult = NULL;
    }
    if (hWndOwner) {
        ::EnableWindow(hWndOwner, TRUE);
        ::SetFocus(hWndOwner);
    }
    if (bQuit) ::PostQuitMessage(static_cast<int>(msg.wParam));
    return nRet;
}

void CWindowWnd::Close(UINT nRet) {
    if (!::IsWindow(m_hWnd)) return;
    PostMessage(WM_CLOSE, static_cast<WPARAM>(nRet), 0L);
}

void CWindowWnd::CenterWindow() {
    if (!::IsWindow(m_hWnd)) return;
    RECT rcDlg = {};
    ::GetWindowRect(m_hWnd, &rcDlg);
    RECT rcArea = {};
    RECT rcCenter = {};
    HWND hWndCenter = ::GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    rcArea = mi.rcWork;
    if (hWndCenter == NULL || !::IsWindowVisible(hWndCenter) || ::IsIconic(hWndCenter))
        rcCenter = rcArea;
    else
        ::GetWindowRect(hWndCenter, &rcCenter);
    int w = rcDlg.right - rcDlg.left;
    int h = rcDlg.bottom - rcDlg.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - w / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - h / 2;
    if (x < rcArea.left) x = rcArea.left;
    else if (x + w > rcArea.right) x = rcArea.right - w;
    if (y < rcArea.top) y = rcArea.top;
    else if (y + h > rcArea.bottom) y = rcArea.bottom - h;
    ::SetWindowPos(m_hWnd, NULL, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT nRes) {
    if (!::IsWindow(m_hWnd)) return;
    HINSTANCE hInst = CPaintManagerUI::GetResourceDll();
    HICON hIcon = static_cast<HICON>(::LoadImageW(hInst, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                  LR_DEFAULTCOLOR | LR_SHARED));
    if (hIcon) ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
    hIcon = static_cast<HICON>(::LoadImageW(hInst, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                            LR_DEFAULTCOLOR | LR_SHARED));
    if (hIcon) ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
    RECT rc = {};
    if (!::GetClientRect(m_hWnd, &rc)) return;
    if (cx != -1) rc.right = cx;
    if (cy != -1) rc.bottom = cy;
    DWORD dwStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
    DWORD dwExStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&rc, dwStyle, ::GetMenu(m_hWnd) != NULL, dwExStyle);
    ::SetWindowPos(m_hWnd, NULL, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(m_OldWndProc, m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::OnFinalMessage(HWND /*hWnd*/) {}

void CWindowWnd::RecordModalResult(WPARAM wParam) {
    if (m_pModalResult == NULL) return;
    *m_pModalResult = static_cast<UINT>(wParam);
    // The owner must be enabled again before this window goes away, or
    // Windows activates some other program's window.
    HWND hWndOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hWndOwner) ::EnableWindow(hWndOwner, TRUE);
}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* pThis = NULL;
    if (uMsg == WM_NCCREATE) {
        LPCREATESTRUCTW lpcs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        pThis = static_cast<CWindowWnd*>(lpcs->lpCreateParams);
        pThis->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
    } else {
        pThis = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (uMsg == WM_NCDESTROY && pThis != NULL) {
            LRESULT lRes = ::CallWindowProcW(pThis->m_OldWndProc, hWnd, uMsg, wParam, lParam);
            ::SetWindowLongPtrW(pThis->m_hWnd, GWLP_USERDATA, 0L);
            if (pThis->m_bSubclassed) pThis->Unsubclass();
            pThis->m_hWnd = NULL;
            pThis->m_pModalResult = NULL;
            pThis->OnFinalMessage(hWnd);
            return lRes;
        }
    }
    if (pThis != NULL) {
        if (uMsg == WM_CLOSE) pThis->RecordModalResult(wParam);
        return pThis->HandleMessage(uMsg, wParam, lParam);
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::__ControlProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* pThis = NULL;
    if (uMsg == WM_NCCREATE) {
        LPCREATESTRUCTW lpcs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        pThis = static_cast<CWindowWnd*>(lpcs->lpCreateParams);
        ::SetPropW(hWnd, L"DuiLib.WndX", static_cast<HANDLE>(pThis));
        pThis->m_hWnd = hWnd;
    } else {
        pThis = static_cast<CWindowWnd*>(::GetPropW(hWnd, L"DuiLib.WndX"));
        if (uMsg == WM_NCDESTROY && pThis != NULL) {
            LRESULT lRes = ::CallWindowProcW(pThis->m_OldWndProc, hWnd, uMsg, wParam, lParam);
            if (pThis->m_bSubclassed) pThis->Unsubclass();
            ::RemovePropW(hWnd, L"DuiLib.WndX");
            pThis->m_hWnd = NULL;
            pThis->m_pModalResult = NULL;
            pThis->OnFinalMessage(hWnd);
            return lRes;
        }
    }
    if (pThis != NULL) {
        if (uMsg == WM_CLOSE) pThis->RecordModalResult(wParam);
        return pThis->HandleMessage(uMsg, wParam, lParam);
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace DuiLib
