#include "WinImplBase.h"

#include "UIControl.h"
#include "UIDlgBuilder.h"
#include "UILabel.h"
#include "StartupTrace.h"

namespace DuiLib {

DUI_BEGIN_MESSAGE_MAP(WindowImplBase, CNotifyPump)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, WindowImplBase::OnClick)
DUI_END_MESSAGE_MAP()

WindowImplBase::WindowImplBase() {}

WindowImplBase::~WindowImplBase() {}

UINT WindowImplBase::GetClassStyle() const { return CS_DBLCLKS; }

CPaintManagerUI& WindowImplBase::GetPaintManager() { return m_pm; }

void WindowImplBase::OnFinalMessage(HWND /*hWnd*/) {
    m_pm.RemovePreMessageFilter(this);
    m_pm.RemoveNotifier(this);
    m_pm.Init(NULL);
}

void WindowImplBase::InitWindow() {}
void WindowImplBase::OnClick(TNotifyUI& /*msg*/) {}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM wParam) {
    if (wParam == VK_RETURN) return FALSE;
    if (wParam == VK_ESCAPE) {
        Close();
        return TRUE;
    }
    return FALSE;
}

UILIB_RESOURCETYPE WindowImplBase::GetResourceType() const { return UILIB_FILE; }
CDuiString WindowImplBase::GetZIPFileName() const { return CDuiString(); }
LPCTSTR WindowImplBase::GetResourceID() const { return NULL; }

CControlUI* WindowImplBase::CreateControl(LPCTSTR /*pstrClass*/) { return NULL; }

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM /*lParam*/, bool& bHandled) {
    if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        LRESULT lRes = ResponseDefaultKeyEvent(wParam);
        if (lRes) bHandled = true;
        return lRes;
    }
    return FALSE;
}

void WindowImplBase::Notify(TNotifyUI& msg) { NotifyPump(msg); }

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnNcActivate(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, BOOL& bHandled) {
    if (::IsIconic(m_hWnd)) bHandled = FALSE;
    return (wParam == 0) ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM, BOOL& /*bHandled*/) {
    // The client area is the whole window: the skin draws everything.
    return 0;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, BOOL& /*bHandled*/) { return 0; }

LRESULT WindowImplBase::OnNcHitTest(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM lParam, BOOL& /*bHandled*/) {
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ScreenToClient(m_hWnd, &pt);
    RECT rcClient = {};
    ::GetClientRect(m_hWnd, &rcClient);
    const LONG style = static_cast<LONG>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
    if (!::IsZoomed(m_hWnd) && (style & WS_THICKFRAME)) {
        RECT rcSizeBox = m_pm.GetSizeBox();
        if (pt.y < rcClient.top + rcSizeBox.top) {
            if (pt.x < rcClient.left + rcSizeBox.left) return HTTOPLEFT;
            if (pt.x > rcClient.right - rcSizeBox.right) return HTTOPRIGHT;
            return HTTOP;
        }
        if (pt.y > rcClient.bottom - rcSizeBox.bottom) {
            if (pt.x < rcClient.left + rcSizeBox.left) return HTBOTTOMLEFT;
            if (pt.x > rcClient.right - rcSizeBox.right) return HTBOTTOMRIGHT;
            return HTBOTTOM;
        }
        if (pt.x < rcClient.left + rcSizeBox.left) return HTLEFT;
        if (pt.x > rcClient.right - rcSizeBox.right) return HTRIGHT;
    }
    RECT rcCaption = m_pm.GetCaptionRect();
    if (pt.x >= rcClient.left + rcCaption.left && pt.x < rcClient.right - rcCaption.right &&
        pt.y >= rcCaption.top && pt.y < rcCaption.bottom) {
        // Buttons, boxes and edits in the caption area stay clickable.
        CControlUI* pControl = m_pm.FindControl(pt);
        if (pControl == NULL || (pControl->GetControlFlags() & (UIFLAG_TABSTOP | UIFLAG_SETCURSOR)) == 0)
            return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM lParam, BOOL& bHandled) {
    LPMINMAXINFO lpMMI = reinterpret_cast<LPMINMAXINFO>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    RECT rcWork = mi.rcWork;
    ::OffsetRect(&rcWork, -mi.rcMonitor.left, -mi.rcMonitor.top);
    lpMMI->ptMaxPosition.x = rcWork.left;
    lpMMI->ptMaxPosition.y = rcWork.top;
    lpMMI->ptMaxSize.x = rcWork.right - rcWork.left;
    lpMMI->ptMaxSize.y = rcWork.bottom - rcWork.top;
    SIZE szMin = m_pm.GetMinInfo();
    SIZE szMax = m_pm.GetMaxInfo();
    if (szMin.cx > 0) lpMMI->ptMinTrackSize.x = szMin.cx;
    if (szMin.cy > 0) lpMMI->ptMinTrackSize.y = szMin.cy;
    if (szMax.cx > 0) lpMMI->ptMaxTrackSize.x = szMax.cx;
    if (szMax.cy > 0) lpMMI->ptMaxTrackSize.y = szMax.cy;
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseWheel(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseHover(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, BOOL& bHandled) {
    SIZE szRound = m_pm.GetRoundCorner();
    if (!::IsIconic(m_hWnd) && wParam != SIZE_MAXIMIZED && (szRound.cx != 0 || szRound.cy != 0)) {
        RECT rc = {};
        ::GetWindowRect(m_hWnd, &rc);
        ::OffsetRect(&rc, -rc.left, -rc.top);
        HRGN hRgn = ::CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, szRound.cx, szRound.cy);
        ::SetWindowRgn(m_hWnd, hRgn, TRUE);  // the window owns the region now
    }
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnChar(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        bHandled = TRUE;
        SendMessage(WM_CLOSE);
        return 0;
    }
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

LONG WindowImplBase::GetStyle() {
    LONG styleValue = static_cast<LONG>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
    styleValue &= ~WS_CAPTION;
    return styleValue | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
}

LRESULT WindowImplBase::OnCreate(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, BOOL& /*bHandled*/) {
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetStyle());
    // The style change only takes effect on the frame after this.
    ::SetWindowPos(m_hWnd, NULL, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    m_pm.Init(m_hWnd);
    m_pm.AddPreMessageFilter(this);

    switch (GetResourceType()) {
    case UILIB_ZIPRESOURCE: {
        HINSTANCE hInst = CPaintManagerUI::GetResourceDll();
        HRSRC hResource = ::FindResourceW(hInst, GetResourceID(), L"ZIPRES");
        HGLOBAL hGlobal = hResource ? ::LoadResource(hInst, hResource) : NULL;
        DWORD dwSize = hResource ? ::SizeofResource(hInst, hResource) : 0;
        // Without the resource no archive is loaded (not another window's).
        CPaintManagerUI::SetResourceZip(hGlobal && dwSize ? ::LockResource(hGlobal) : NULL, dwSize, GetZIPFileName());
        break;
    }
    case UILIB_ZIP:
        CPaintManagerUI::SetResourceZip(GetZIPFileName(), true);
        break;
    case UILIB_FILE:
    case UILIB_RESOURCE:
    default:
        break;
    }

    CDialogBuilder builder;
    CControlUI* pRoot = builder.Create(GetSkinFile(), NULL, this, &m_pm);
    StartupMark(L"built");
    if (pRoot != NULL) {
        m_pm.AttachDialog(pRoot);
        m_pm.AddNotifier(this);
    } else {
        ::OutputDebugStringW(builder.GetLastErrorMessage());
    }
    StartupMark(L"attached");
    InitWindow();
    StartupMark(L"initialised");
    return 0;
}

LRESULT WindowImplBase::OnKeyDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnKillFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    LRESULT lRes = 0;
    BOOL bHandled = TRUE;
    switch (uMsg) {
    case WM_CREATE: lRes = OnCreate(uMsg, wParam, lParam, bHandled); break;
    case WM_CLOSE: lRes = OnClose(uMsg, wParam, lParam, bHandled); break;
    case WM_DESTROY: lRes = OnDestroy(uMsg, wParam, lParam, bHandled); break;
    case WM_NCACTIVATE: lRes = OnNcActivate(uMsg, wParam, lParam, bHandled); break;
    case WM_NCCALCSIZE: lRes = OnNcCalcSize(uMsg, wParam, lParam, bHandled); break;
    case WM_NCPAINT: lRes = OnNcPaint(uMsg, wParam, lParam, bHandled); break;
    case WM_NCHITTEST: lRes = OnNcHitTest(uMsg, wParam, lParam, bHandled); break;
    case WM_GETMINMAXINFO: lRes = OnGetMinMaxInfo(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEWHEEL: lRes = OnMouseWheel(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEHOVER: lRes = OnMouseHover(uMsg, wParam, lParam, bHandled); break;
    case WM_SIZE: lRes = OnSize(uMsg, wParam, lParam, bHandled); break;
    case WM_CHAR: lRes = OnChar(uMsg, wParam, lParam, bHandled); break;
    case WM_SYSCOMMAND: lRes = OnSysCommand(uMsg, wParam, lParam, bHandled); break;
    case WM_KEYDOWN: lRes = OnKeyDown(uMsg, wParam, lParam, bHandled); break;
    case WM_KILLFOCUS: lRes = OnKillFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_SETFOCUS: lRes = OnSetFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONUP: lRes = OnLButtonUp(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONDOWN: lRes = OnLButtonDown(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEMOVE: lRes = OnMouseMove(uMsg, wParam, lParam, bHandled); break;
    default: bHandled = FALSE; break;
    }
    if (bHandled) return lRes;
    lRes = HandleCustomMessage(uMsg, wParam, lParam, bHandled);
    if (bHandled) return lRes;
    if (m_pm.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace DuiLib
