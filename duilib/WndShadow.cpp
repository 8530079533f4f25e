#include "WndShadow.h"

#include "UIInternal.h"
#include "UIRender.h"
#include "StartupTrace.h"

#include <cstring>

namespace {

const wchar_t kShadowClass[] = L"DuiLibWndShadow";
const wchar_t kPropShadow[] = L"DuiLib.Shadow";
HINSTANCE g_hShadowInstance = NULL;

}  // namespace

bool CWndShadow::Initialize(HINSTANCE hInstance) {
    g_hShadowInstance = hInstance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursor(NULL, IDC_ARROW);
    wc.lpszClassName = kShadowClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

CWndShadow::CWndShadow() : m_hWnd(NULL), m_hParent(NULL), m_pOriParentProc(NULL), m_bHasImage(false) {
    m_rcCorner = RECT{0, 0, 0, 0};
    m_rcHoleOffset = RECT{0, 0, 0, 0};
}

CWndShadow::~CWndShadow() {
    Detach();
    if (m_hWnd != NULL && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    m_hWnd = NULL;
}

HWND CWndShadow::GetHWND() const { return m_hWnd; }
HWND CWndShadow::GetParentHWND() const { return m_hParent; }

void CWndShadow::Create(HWND hParentWnd) {
    DuiLib::CStartupSpan span(DuiLib::STARTUP_SHADOW);
    if (m_hWnd != NULL || hParentWnd == NULL || !::IsWindow(hParentWnd)) return;
    if (g_hShadowInstance == NULL) Initialize(::GetModuleHandleW(NULL));
    // Owned by the window's owner (if any), so that it can sit right below
    // the window in the same owner group; never by the window itself,
    // which would keep it above.
    HWND hOwner = ::GetWindow(hParentWnd, GW_OWNER);
    m_hWnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kShadowClass,
                               NULL, WS_POPUP, 0, 0, 0, 0, hOwner, NULL, g_hShadowInstance, NULL);
    if (m_hWnd == NULL) return;
    m_hParent = hParentWnd;
    ::SetPropW(hParentWnd, kPropShadow, static_cast<HANDLE>(this));
    m_pOriParentProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hParentWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc)));
}

bool CWndShadow::SetImage(LPCTSTR szImage, RECT rcCorner, RECT rcHoleOffset) {
    m_sImage = szImage;
    DuiLib::CStartupSpan span(DuiLib::STARTUP_SHADOW);
    m_rcCorner = rcCorner;
    m_rcHoleOffset = rcHoleOffset;
    m_bHasImage = DuiLib::GetSkinImage(szImage) != NULL;
    if (!m_bHasImage) return false;
    if (m_hParent && ::IsWindowVisible(m_hParent) && !::IsIconic(m_hParent)) Update();
    return true;
}

void CWndShadow::Detach() {
    if (m_hParent == NULL) return;
    if (::IsWindow(m_hParent)) {
        // Only undo the subclass if nobody subclassed the window after us.
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hParent, GWLP_WNDPROC)) == ParentProc &&
            m_pOriParentProc != NULL)
            ::SetWindowLongPtrW(m_hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pOriParentProc));
        if (::GetPropW(m_hParent, kPropShadow) == this) ::RemovePropW(m_hParent, kPropShadow);
    }
    m_hParent = NULL;
}

void CWndShadow::Hide() {
    if (m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
}

void CWndShadow::Reposition() {
    if (m_hWnd == NULL || m_hParent == NULL || !m_bHasImage) return;
    RECT rc = {};
    ::GetWindowRect(m_hParent, &rc);
    ::SetWindowPos(m_hWnd, m_hParent, rc.left - m_rcCorner.left, rc.top - m_rcCorner.top, 0, 0,
                   SWP_NOSIZE | SWP_NOACTIVATE);
}

void CWndShadow::Update() {
    DuiLib::CStartupSpan span(DuiLib::STARTUP_SHADOW);
    if (m_hWnd == NULL || m_hParent == NULL || !m_bHasImage) return;
    const DuiLib::TImageInfo* pImage = DuiLib::GetSkinImage(m_sImage);
    if (pImage == NULL) return;
    RECT rcParent = {};
    ::GetWindowRect(m_hParent, &rcParent);
    const int cx = rcParent.right - rcParent.left + m_rcCorner.left + m_rcCorner.right;
    const int cy = rcParent.bottom - rcParent.top + m_rcCorner.top + m_rcCorner.bottom;
    if (cx <= 0 || cy <= 0) return;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HDC hdcMem = ::CreateCompatibleDC(NULL);
    HBITMAP hbm = ::CreateDIBSection(hdcMem, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (hbm == NULL) {
        ::DeleteDC(hdcMem);
        return;
    }
    HGDIOBJ hOld = ::SelectObject(hdcMem, hbm);
    memset(pBits, 0, static_cast<size_t>(cx) * cy * 4);
    RECT rcAll = {0, 0, cx, cy};
    RECT rcSrc = {0, 0, pImage->nX, pImage->nY};
    DuiLib::CRenderEngine::DrawBitmap(hdcMem, rcAll, rcAll, pImage, rcSrc, m_rcCorner, 255, false);
    // Clear the part under the window.
    RECT rcHole = {m_rcCorner.left + m_rcHoleOffset.left, m_rcCorner.top + m_rcHoleOffset.top,
                   cx - m_rcCorner.right - m_rcHoleOffset.right, cy - m_rcCorner.bottom - m_rcHoleOffset.bottom};
    for (int y = rcHole.top; y < rcHole.bottom; ++y) {
        if (y < 0 || y >= cy || rcHole.right <= rcHole.left) continue;
        DWORD* row = static_cast<DWORD*>(pBits) + static_cast<size_t>(y) * cx;
        int l = rcHole.left < 0 ? 0 : static_cast<int>(rcHole.left);
        int r = rcHole.right > cx ? cx : static_cast<int>(rcHole.right);
        if (r > l) memset(row + l, 0, static_cast<size_t>(r - l) * 4);
    }
    POINT ptDst = {rcParent.left - m_rcCorner.left, rcParent.top - m_rcCorner.top};
    POINT ptSrc = {0, 0};
    SIZE sz = {cx, cy};
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::UpdateLayeredWindow(m_hWnd, NULL, &ptDst, &sz, hdcMem, &ptSrc, 0, &bf, ULW_ALPHA);
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hbm);
    ::DeleteDC(hdcMem);
    ::SetWindowPos(m_hWnd, m_hParent, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

LRESULT CALLBACK CWndShadow::ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWndShadow* pThis = static_cast<CWndShadow*>(::GetPropW(hWnd, kPropShadow));
    if (pThis == NULL || pThis->m_pOriParentProc == NULL) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    WNDPROC pOri = pThis->m_pOriParentProc;
    switch (uMsg) {
    case WM_WINDOWPOSCHANGED: {
        LRESULT lRes = ::CallWindowProcW(pOri, hWnd, uMsg, wParam, lParam);
        pThis = static_cast<CWndShadow*>(::GetPropW(hWnd, kPropShadow));
        if (pThis == NULL) return lRes;
        const WINDOWPOS* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!::IsWindowVisible(hWnd) || ::IsIconic(hWnd) || ::IsZoomed(hWnd)) {
            pThis->Hide();
        } else if (wp && !(wp->flags & SWP_NOSIZE)) {
            pThis->Update();
        } else if (wp && (!(wp->flags & SWP_NOMOVE) || (wp->flags & SWP_SHOWWINDOW) || !(wp->flags & SWP_NOZORDER))) {
            if (::IsWindowVisible(pThis->m_hWnd))
                pThis->Reposition();
            else
                pThis->Update();
        }
        return lRes;
    }
    case WM_SHOWWINDOW: {
        LRESULT lRes = ::CallWindowProcW(pOri, hWnd, uMsg, wParam, lParam);
        pThis = static_cast<CWndShadow*>(::GetPropW(hWnd, kPropShadow));
        if (pThis == NULL) return lRes;
        if (wParam && !::IsIconic(hWnd))
            pThis->Update();
        else if (!wParam)
            pThis->Hide();
        return lRes;
    }
    case WM_DESTROY: {
        if (pThis->m_hWnd != NULL && ::IsWindow(pThis->m_hWnd)) ::DestroyWindow(pThis->m_hWnd);
        pThis->m_hWnd = NULL;
        return ::CallWindowProcW(pOri, hWnd, uMsg, wParam, lParam);
    }
    case WM_NCDESTROY: {
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pOri));
        ::RemovePropW(hWnd, kPropShadow);
        pThis->m_hParent = NULL;
        pThis->m_pOriParentProc = NULL;
        return ::CallWindowProcW(pOri, hWnd, uMsg, wParam, lParam);
    }
    default:
        return ::CallWindowProcW(pOri, hWnd, uMsg, wParam, lParam);
    }
}
