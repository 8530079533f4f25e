#include "UIEdit.h"

#include "SysLib.h"
#include "UIInternal.h"
#include "UIManager.h"
#include "UIRender.h"

#include <cwchar>

namespace DuiLib {

namespace {

const wchar_t kPropControl[] = L"DuiLib.Control";
const wchar_t kPropOldProc[] = L"DuiLib.OldProc";

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

// Rich edit window class, from the system folder only.
LPCWSTR RichEditClass() {
    static LPCWSTR s_pClass = NULL;
    if (s_pClass == NULL) {
        if (LoadSystemLibrary(L"msftedit.dll") != NULL) {
            s_pClass = L"RICHEDIT50W";
        } else if (LoadSystemLibrary(L"riched20.dll") != NULL) {
            s_pClass = L"RichEdit20W";
        } else {
            s_pClass = L"";
        }
    }
    return s_pClass;
}

struct NativeLook {
    LPCTSTR pTip;
    DWORD dwTipColor;
    HFONT hFont;
    bool bWantTab;
    bool bMultiLine;
};

bool LookOf(HWND hWnd, NativeLook& look) {
    CControlUI* p = static_cast<CControlUI*>(::GetPropW(hWnd, kPropControl));
    if (p == NULL) return false;
    CPaintManagerUI* pm = p->GetManager();
    if (CEditUI* e = static_cast<CEditUI*>(p->GetInterface(DUI_CTR_EDIT))) {
        look.pTip = e->GetTipValue();
        look.dwTipColor = e->GetTipValueColor();
        look.hFont = pm ? pm->GetFont(e->GetFont()) : NULL;
        look.bWantTab = false;
        look.bMultiLine = false;
        return true;
    }
    if (CRichEditUI* r = static_cast<CRichEditUI*>(p->GetInterface(DUI_CTR_RICHEDIT))) {
        look.pTip = r->GetTipValue();
        look.dwTipColor = r->GetTipValueColor();
        look.hFont = pm ? pm->GetFont(r->GetFont()) : NULL;
        look.bWantTab = r->IsWantTab();
        look.bMultiLine = r->IsMultiLine();
        return true;
    }
    return false;
}

// Subclass of the native windows: the placeholder text, and tab input
// refused where the layout asks for it.
LRESULT CALLBACK NativeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WNDPROC pOld = reinterpret_cast<WNDPROC>(::GetPropW(hWnd, kPropOldProc));
    if (pOld == NULL) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    NativeLook look = {};
    bool bLook = LookOf(hWnd, look);
    switch (uMsg) {
    case WM_CHAR:
        if (wParam == L'\t' && bLook && !look.bWantTab) return 0;
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        LRESULT lRes = ::CallWindowProcW(pOld, hWnd, uMsg, wParam, lParam);
        ::InvalidateRect(hWnd, NULL, TRUE);
        return lRes;
    }
    case WM_PAINT: {
        LRESULT lRes = ::CallWindowProcW(pOld, hWnd, uMsg, wParam, lParam);
        if (bLook && look.pTip && *look.pTip && ::GetWindowTextLengthW(hWnd) == 0 && ::GetFocus() != hWnd) {
            RECT rc = {};
            ::SendMessageW(hWnd, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rc));
            if (::IsRectEmpty(&rc)) ::GetClientRect(hWnd, &rc);
            HDC hdc = ::GetDC(hWnd);
            HGDIOBJ hOld = ::SelectObject(hdc, look.hFont ? look.hFont : ::GetStockObject(DEFAULT_GUI_FONT));
            ::SetBkMode(hdc, TRANSPARENT);
            ::SetTextColor(hdc, ToColorRef(look.dwTipColor));
            ::DrawTextW(hdc, look.pTip, -1, &rc,
                        DT_NOPREFIX | (look.bMultiLine ? DT_WORDBREAK : DT_SINGLELINE) | DT_LEFT | DT_TOP);
            ::SelectObject(hdc, hOld);
            ::ReleaseDC(hWnd, hdc);
        }
        return lRes;
    }
    case WM_NCDESTROY: {
        // The control forgets the handle: it may be reused by another window.
        CControlUI* pControl = static_cast<CControlUI*>(::GetPropW(hWnd, kPropControl));
        LRESULT lIgnored = 0;
        if (pControl) pControl->HandleNativeMessage(WM_NCDESTROY, 0, reinterpret_cast<LPARAM>(hWnd), lIgnored);
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pOld));
        ::RemovePropW(hWnd, kPropOldProc);
        ::RemovePropW(hWnd, kPropControl);
        return ::CallWindowProcW(pOld, hWnd, uMsg, wParam, lParam);
    }
    default:
        break;
    }
    return ::CallWindowProcW(pOld, hWnd, uMsg, wParam, lParam);
}

void AttachNative(HWND hWnd, CControlUI* pControl) {
    ::SetPropW(hWnd, kPropControl, static_cast<HANDLE>(pControl));
    LONG_PTR pOld = ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NativeProc));
    ::SetPropW(hWnd, kPropOldProc, reinterpret_cast<HANDLE>(pOld));
}

void DestroyNative(HWND& hWnd) {
    if (hWnd != NULL && ::IsWindow(hWnd)) {
        ::RemovePropW(hWnd, kPropControl);
        ::DestroyWindow(hWnd);
    }
    hWnd = NULL;
}

CDuiString WindowText(HWND hWnd) {
    int n = ::GetWindowTextLengthW(hWnd);
    if (n <= 0) return CDuiString();
    wchar_t* buf = new wchar_t[n + 1];
    int got = ::GetWindowTextW(hWnd, buf, n + 1);
    CDuiString s(buf, got);
    delete[] buf;
    return s;
}

// Single-line input is centred vertically in the control's box.
RECT NativeRect(const RECT& rcItem, const RECT& rcPadding, bool bMultiLine, HFONT hFont, HDC hdc) {
    RECT rc = {rcItem.left + rcPadding.left, rcItem.top + rcPadding.top, rcItem.right - rcPadding.right,
               rcItem.bottom - rcPadding.bottom};
    if (!bMultiLine && hdc) {
        TEXTMETRICW tm = {};
        HGDIOBJ hOld = ::SelectObject(hdc, hFont ? hFont : ::GetStockObject(DEFAULT_GUI_FONT));
        ::GetTextMetricsW(hdc, &tm);
        ::SelectObject(hdc, hOld);
        int h = tm.tmHeight + 2;
        int avail = rc.bottom - rc.top;
        if (h < avail) {
            rc.top += (avail - h) / 2;
            rc.bottom = rc.top + h;
        }
    }
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

}  // namespace

// ---------------------------------------------------------------- CEditUI

CEditUI::CEditUI()
    : m_hwndNative(NULL),
      m_hBkBrush(NULL),
      m_uMaxChar(255),
      m_bReadOnly(false),
      m_bPasswordMode(false),
      m_bSettingText(false),
      m_dwTipValueColor(0xFFA0A6AE),
      m_dwEditbkColor(0xFFFFFFFF) {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
}

CEditUI::~CEditUI() {
    DestroyNative(m_hwndNative);
    if (m_hBkBrush) ::DeleteObject(m_hBkBrush);
}

LPCTSTR CEditUI::GetClass() const { return L"EditUI"; }

LPVOID CEditUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_EDIT) == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

UINT CEditUI::GetControlFlags() const { return UIFLAG_TABSTOP | UIFLAG_SETCURSOR; }

CDuiString CEditUI::GetText() const {
    if (m_hwndNative) return WindowText(m_hwndNative);
    return m_sText;
}

void CEditUI::SetText(LPCTSTR pstrText) {
    m_sText = pstrText;
    if (m_hwndNative) {
        m_bSettingText = true;
        ::SetWindowTextW(m_hwndNative, m_sText);
        m_bSettingText = false;
    }
    Invalidate();
}

void CEditUI::SetEnabled(bool bEnable) {
    CLabelUI::SetEnabled(bEnable);
    if (m_hwndNative) ::EnableWindow(m_hwndNative, bEnable ? TRUE : FALSE);
}

void CEditUI::SetVisible(bool bVisible) {
    CLabelUI::SetVisible(bVisible);
    PlaceNative();
}

void CEditUI::SetInternVisible(bool bVisible) {
    CLabelUI::SetInternVisible(bVisible);
    PlaceNative();
}

void CEditUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CLabelUI::SetPos(rc, bNeedInvalidate);
    PlaceNative();
}

void CEditUI::SetFocus() {
    CLabelUI::SetFocus();
    if (m_hwndNative) ::SetFocus(m_hwndNative);
}

void CEditUI::PlaceNative() {
    if (m_hwndNative == NULL) return;
    if (!IsVisible() || ::IsRectEmpty(&m_rcItem)) {
        ::ShowWindow(m_hwndNative, SW_HIDE);
        return;
    }
    HFONT hFont = m_pManager ? m_pManager->GetFont(m_iFont) : NULL;
    RECT rc = NativeRect(m_rcItem, m_rcTextPadding, false, hFont, m_pManager ? m_pManager->GetPaintDC() : NULL);
    ::SetWindowPos(m_hwndNative, NULL, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void CEditUI::SetMaxChar(UINT uMax) {
    m_uMaxChar = uMax;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_LIMITTEXT, m_uMaxChar, 0);
}

UINT CEditUI::GetMaxChar() const { return m_uMaxChar; }

void CEditUI::SetReadOnly(bool bReadOnly) {
    m_bReadOnly = bReadOnly;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_SETREADONLY, bReadOnly ? TRUE : FALSE, 0);
}

bool CEditUI::IsReadOnly() const { return m_bReadOnly; }

void CEditUI::SetPasswordMode(bool bPasswordMode) {
    m_bPasswordMode = bPasswordMode;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_SETPASSWORDCHAR, bPasswordMode ? L'*' : 0, 0);
}

bool CEditUI::IsPasswordMode() const { return m_bPasswordMode; }
void CEditUI::SetTipValue(LPCTSTR p) { m_sTipValue = p; if (m_hwndNative) ::InvalidateRect(m_hwndNative, NULL, TRUE); }
LPCTSTR CEditUI::GetTipValue() const { return m_sTipValue; }
void CEditUI::SetTipValueColor(DWORD c) { m_dwTipValueColor = c; }
DWORD CEditUI::GetTipValueColor() const { return m_dwTipValueColor; }

void CEditUI::SetNativeEditBkColor(DWORD dwBkColor) {
    m_dwEditbkColor = dwBkColor;
    if (m_hBkBrush) ::DeleteObject(m_hBkBrush);
    m_hBkBrush = NULL;
    if (m_hwndNative) ::InvalidateRect(m_hwndNative, NULL, TRUE);
}

DWORD CEditUI::GetNativeEditBkColor() const { return m_dwEditbkColor; }

void CEditUI::SetSel(long nStartChar, long nEndChar) {
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_SETSEL, nStartChar, nEndChar);
}

HWND CEditUI::GetNativeWindow() const { return m_hwndNative; }

void CEditUI::DoInit() {
    if (m_hwndNative != NULL || m_pManager == NULL || m_pManager->GetPaintWindow() == NULL) return;
    DWORD dwStyle = WS_CHILD | WS_CLIPSIBLINGS | ES_AUTOHSCROLL | ES_LEFT;
    if (m_bReadOnly) dwStyle |= ES_READONLY;
    if (m_bPasswordMode) dwStyle |= ES_PASSWORD;
    m_hwndNative = ::CreateWindowExW(0, L"EDIT", m_sText, dwStyle, 0, 0, 0, 0, m_pManager->GetPaintWindow(), NULL,
                                     CPaintManagerUI::GetInstance(), NULL);
    if (m_hwndNative == NULL) return;
    AttachNative(m_hwndNative, this);
    HFONT hFont = m_pManager->GetFont(m_iFont);
    if (hFont) ::SendMessageW(m_hwndNative, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);
    ::SendMessageW(m_hwndNative, EM_LIMITTEXT, m_uMaxChar, 0);
    ::SendMessageW(m_hwndNative, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
    ::EnableWindow(m_hwndNative, IsEnabled() ? TRUE : FALSE);
    PlaceNative();
}

void CEditUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_BUTTONDOWN || event.Type == UIEVENT_DBLCLICK) {
        if (m_hwndNative && IsEnabled()) ::SetFocus(m_hwndNative);
        return;
    }
    if (event.Type == UIEVENT_SETCURSOR) {
        ::SetCursor(::LoadCursor(NULL, IDC_IBEAM));
        return;
    }
    CLabelUI::DoEvent(event);
}

bool CEditUI::HandleNativeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    if (uMsg == WM_NCDESTROY) {
        if (reinterpret_cast<HWND>(lParam) == m_hwndNative) {
            m_sText = WindowText(m_hwndNative);
            m_hwndNative = NULL;
        }
        return true;
    }
    if (uMsg == WM_COMMAND) {
        if (HIWORD(wParam) == EN_CHANGE) {
            m_sText = WindowText(m_hwndNative);
            // Typing over a placeholder: repaint the whole field.
            ::InvalidateRect(m_hwndNative, NULL, TRUE);
            if (!m_bSettingText && m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_TEXTCHANGED);
            lRes = 0;
            return true;
        }
        return false;
    }
    if (uMsg == WM_CTLCOLOREDIT || uMsg == WM_CTLCOLORSTATIC) {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        DWORD dwText = IsEnabled() ? (m_dwTextColor ? m_dwTextColor : 0xFF333333)
                                   : (m_dwDisabledTextColor ? m_dwDisabledTextColor : 0xFFA7A6AA);
        ::SetTextColor(hdc, ToColorRef(dwText));
        ::SetBkColor(hdc, ToColorRef(m_dwEditbkColor));
        if (m_hBkBrush == NULL) m_hBkBrush = ::CreateSolidBrush(ToColorRef(m_dwEditbkColor));
        lRes = reinterpret_cast<LRESULT>(m_hBkBrush);
        return true;
    }
    return false;
}

void CEditUI::PaintText(HDC /*hDC*/) {
    // The native window shows the text.
}

void CEditUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"readonly") == 0)
        SetReadOnly(ParseBool(pstrValue));
    else if (wcscmp(pstrName, L"password") == 0)
        SetPasswordMode(ParseBool(pstrValue));
    else if (wcscmp(pstrName, L"maxchar") == 0)
        SetMaxChar(static_cast<UINT>(_wtoi(pstrValue)));
    else if (wcscmp(pstrName, L"tipvalue") == 0)
        SetTipValue(pstrValue);
    else if (wcscmp(pstrName, L"tipvaluecolor") == 0)
        SetTipValueColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"nativebkcolor") == 0)
        SetNativeEditBkColor(ParseColor(pstrValue));
    else
        CLabelUI::SetAttribute(pstrName, pstrValue);
}

// ---------------------------------------------------------------- CRichEditUI

CRichEditUI::CRichEditUI()
    : m_hwndNative(NULL),
      m_bMultiLine(true),
      m_bVScrollBar(false),
      m_bAutoVScroll(true),
      m_bWantTab(true),
      m_bWantReturn(true),
      m_bReadOnly(false),
      m_bSettingText(false),
      m_iLimitText(0),
      m_iFont(-1),
      m_dwTextColor(0xFF333333),
      m_dwNativeBkColor(0xFFFFFFFF),
      m_dwTipValueColor(0xFFA0A6AE) {
    m_rcTextPadding = RECT{0, 0, 0, 0};
}

CRichEditUI::~CRichEditUI() { DestroyNative(m_hwndNative); }

LPCTSTR CRichEditUI::GetClass() const { return L"RichEditUI"; }

LPVOID CRichEditUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_RICHEDIT) == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

UINT CRichEditUI::GetControlFlags() const { return UIFLAG_TABSTOP | UIFLAG_SETCURSOR; }

CDuiString CRichEditUI::GetText() const {
    if (m_hwndNative) return WindowText(m_hwndNative);
    return m_sText;
}

void CRichEditUI::SetText(LPCTSTR pstrText) {
    m_sText = pstrText;
    if (m_hwndNative) {
        m_bSettingText = true;
        ::SetWindowTextW(m_hwndNative, m_sText);
        m_bSettingText = false;
    }
}

int CRichEditUI::GetTextLength() const {
    if (m_hwndNative == NULL) return m_sText.GetLength();
    GETTEXTLENGTHEX gtl = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<int>(::SendMessageW(m_hwndNative, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&gtl), 0));
}

void CRichEditUI::SetEnabled(bool bEnable) {
    CControlUI::SetEnabled(bEnable);
    if (m_hwndNative) ::EnableWindow(m_hwndNative, bEnable ? TRUE : FALSE);
}

void CRichEditUI::SetVisible(bool bVisible) {
    CControlUI::SetVisible(bVisible);
    PlaceNative();
}

void CRichEditUI::SetInternVisible(bool bVisible) {
    CControlUI::SetInternVisible(bVisible);
    PlaceNative();
}

void CRichEditUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CControlUI::SetPos(rc, bNeedInvalidate);
    PlaceNative();
}

void CRichEditUI::SetFocus() {
    CControlUI::SetFocus();
    if (m_hwndNative) ::SetFocus(m_hwndNative);
}

void CRichEditUI::PlaceNative() {
    if (m_hwndNative == NULL) {
        if (IsVisible()) CreateNative();
        return;
    }
    if (!IsVisible() || ::IsRectEmpty(&m_rcItem)) {
        ::ShowWindow(m_hwndNative, SW_HIDE);
        return;
    }
    HFONT hFont = m_pManager ? m_pManager->GetFont(m_iFont) : NULL;
    RECT rc = NativeRect(m_rcItem, m_rcTextPadding, m_bMultiLine, hFont,
                         m_pManager ? m_pManager->GetPaintDC() : NULL);
    ::SetWindowPos(m_hwndNative, NULL, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

bool CRichEditUI::IsMultiLine() const { return m_bMultiLine; }
void CRichEditUI::SetMultiLine(bool b) { m_bMultiLine = b; }
bool CRichEditUI::IsReadOnly() const { return m_bReadOnly; }

void CRichEditUI::SetReadOnly(bool bReadOnly) {
    m_bReadOnly = bReadOnly;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_SETREADONLY, bReadOnly ? TRUE : FALSE, 0);
}

bool CRichEditUI::IsWantTab() const { return m_bWantTab; }
void CRichEditUI::SetWantTab(bool b) { m_bWantTab = b; }
bool CRichEditUI::IsWantReturn() const { return m_bWantReturn; }
void CRichEditUI::SetWantReturn(bool b) { m_bWantReturn = b; }
int CRichEditUI::GetFont() const { return m_iFont; }

void CRichEditUI::SetFont(int index) {
    m_iFont = index;
    ApplyCharFormat();
}

DWORD CRichEditUI::GetTextColor() const { return m_dwTextColor; }

void CRichEditUI::SetTextColor(DWORD dwTextColor) {
    m_dwTextColor = dwTextColor;
    ApplyCharFormat();
}

RECT CRichEditUI::GetTextPadding() const { return m_rcTextPadding; }

void CRichEditUI::SetTextPadding(RECT rc) {
    m_rcTextPadding = rc;
    PlaceNative();
}

void CRichEditUI::SetTipValue(LPCTSTR p) {
    m_sTipValue = p;
    if (m_hwndNative) ::InvalidateRect(m_hwndNative, NULL, TRUE);
}

LPCTSTR CRichEditUI::GetTipValue() const { return m_sTipValue; }
void CRichEditUI::SetTipValueColor(DWORD c) { m_dwTipValueColor = c; }
DWORD CRichEditUI::GetTipValueColor() const { return m_dwTipValueColor; }

void CRichEditUI::SetNativeBkColor(DWORD dwColor) {
    m_dwNativeBkColor = dwColor;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_SETBKGNDCOLOR, 0, ToColorRef(dwColor));
}

void CRichEditUI::SetLimitText(int iChars) {
    m_iLimitText = iChars;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_EXLIMITTEXT, 0, iChars);
}

LONG CRichEditUI::GetLimitText() const {
    if (m_hwndNative == NULL) return m_iLimitText;
    return static_cast<LONG>(::SendMessageW(m_hwndNative, EM_GETLIMITTEXT, 0, 0));
}

long CRichEditUI::GetSel(CHARRANGE& cr) const {
    cr.cpMin = cr.cpMax = 0;
    if (m_hwndNative) ::SendMessageW(m_hwndNative, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&cr));
    return cr.cpMax - cr.cpMin;
}

void CRichEditUI::GetSel(long& nStartChar, long& nEndChar) const {
    CHARRANGE cr;
    GetSel(cr);
    nStartChar = cr.cpMin;
    nEndChar = cr.cpMax;
}

int CRichEditUI::SetSel(CHARRANGE& cr) {
    if (CreateNative() == NULL) return 0;
    return static_cast<int>(::SendMessageW(m_hwndNative, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&cr)));
}

int CRichEditUI::SetSel(long nStartChar, long nEndChar) {
    CHARRANGE cr = {nStartChar, nEndChar};
    return SetSel(cr);
}

void CRichEditUI::ReplaceSel(LPCTSTR lpszNewText, bool bCanUndo) {
    if (CreateNative() != NULL)
        ::SendMessageW(m_hwndNative, EM_REPLACESEL, bCanUndo ? TRUE : FALSE, reinterpret_cast<LPARAM>(lpszNewText));
}

long CRichEditUI::StreamIn(int nFormat, EDITSTREAM& es) {
    if (CreateNative() == NULL) return 0;
    long n = static_cast<long>(
        ::SendMessageW(m_hwndNative, EM_STREAMIN, static_cast<WPARAM>(nFormat), reinterpret_cast<LPARAM>(&es)));
    // Documents that name a face this machine lacks show in the control's
    // own face (resolved to one with Chinese glyphs); sizes and styles stay.
    if (m_pManager != NULL) {
        TFontInfo* pFont = m_pManager->GetFontInfo(m_iFont);
        if (pFont != NULL) {
            CHARFORMAT2W cf = {};
            cf.cbSize = sizeof(cf);
            cf.dwMask = CFM_FACE | CFM_CHARSET;
            cf.bCharSet = DEFAULT_CHARSET;
            wcsncpy(cf.szFaceName, pFont->sFontName, LF_FACESIZE - 1);
            ::SendMessageW(m_hwndNative, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
        }
    }
    return n;
}

long CRichEditUI::StreamOut(int nFormat, EDITSTREAM& es) {
    if (CreateNative() == NULL) return 0;
    return static_cast<long>(
        ::SendMessageW(m_hwndNative, EM_STREAMOUT, static_cast<WPARAM>(nFormat), reinterpret_cast<LPARAM>(&es)));
}

HWND CRichEditUI::GetNativeWindow() const { return const_cast<CRichEditUI*>(this)->CreateNative(); }

void CRichEditUI::ApplyCharFormat() {
    if (m_hwndNative == NULL || m_pManager == NULL) return;
    TFontInfo* pFont = m_pManager->GetFontInfo(m_iFont);
    CHARFORMAT2W cf = {};
    cf.cbSize = sizeof(cf);
    cf.dwMask = CFM_COLOR | CFM_FACE | CFM_SIZE | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_CHARSET;
    cf.crTextColor = ToColorRef(m_dwTextColor);
    cf.bCharSet = DEFAULT_CHARSET;
    if (pFont != NULL) {
        wcsncpy(cf.szFaceName, pFont->sFontName, LF_FACESIZE - 1);
        cf.yHeight = pFont->iSize * 15;  // pixels at 96 dpi to twips
        if (pFont->bBold) cf.dwEffects |= CFE_BOLD;
        if (pFont->bItalic) cf.dwEffects |= CFE_ITALIC;
        if (pFont->bUnderline) cf.dwEffects |= CFE_UNDERLINE;
    }
    ::SendMessageW(m_hwndNative, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
    ::SendMessageW(m_hwndNative, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
}

// A rich edit on a page not shown yet gets its window (and the rich edit
// library) when the page first shows or when its content is first used:
// loading that library is a good part of a window's start.
void CRichEditUI::DoInit() {
    if (IsVisible()) CreateNative();
}

HWND CRichEditUI::CreateNative() {
    if (m_hwndNative != NULL) return m_hwndNative;
    if (m_pManager == NULL || !::IsWindow(m_pManager->GetPaintWindow())) return NULL;
    LPCWSTR pClass = RichEditClass();
    if (pClass == NULL || *pClass == 0) return NULL;
    DWORD dwStyle = WS_CHILD | WS_CLIPSIBLINGS | ES_LEFT | ES_NOHIDESEL;
    if (m_bMultiLine) {
        dwStyle |= ES_MULTILINE;
        if (m_bAutoVScroll) dwStyle |= ES_AUTOVSCROLL;
        if (m_bWantReturn) dwStyle |= ES_WANTRETURN;
        if (m_bVScrollBar) dwStyle |= WS_VSCROLL;
    } else {
        dwStyle |= ES_AUTOHSCROLL;
    }
    if (m_bReadOnly) dwStyle |= ES_READONLY;
    m_hwndNative = ::CreateWindowExW(0, pClass, L"", dwStyle, 0, 0, 0, 0, m_pManager->GetPaintWindow(), NULL,
                                     CPaintManagerUI::GetInstance(), NULL);
    if (m_hwndNative == NULL) return NULL;
    AttachNative(m_hwndNative, this);
    ::SendMessageW(m_hwndNative, EM_SETBKGNDCOLOR, 0, ToColorRef(m_dwNativeBkColor));
    ::SendMessageW(m_hwndNative, EM_SETEVENTMASK, 0, ENM_CHANGE);
    ::SendMessageW(m_hwndNative, EM_SETTEXTMODE, TM_RICHTEXT, 0);
    HFONT hFont = m_pManager->GetFont(m_iFont);
    if (hFont) ::SendMessageW(m_hwndNative, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);
    ApplyCharFormat();
    if (m_iLimitText > 0) ::SendMessageW(m_hwndNative, EM_EXLIMITTEXT, 0, m_iLimitText);
    if (!m_sText.IsEmpty()) {
        m_bSettingText = true;
        ::SetWindowTextW(m_hwndNative, m_sText);
        m_bSettingText = false;
    }
    ::EnableWindow(m_hwndNative, IsEnabled() ? TRUE : FALSE);
    PlaceNative();
    return m_hwndNative;
}

bool CRichEditUI::HandleNativeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    if (uMsg == WM_NCDESTROY) {
        if (reinterpret_cast<HWND>(lParam) == m_hwndNative) {
            m_sText = WindowText(m_hwndNative);
            m_hwndNative = NULL;
        }
        return true;
    }
    if (uMsg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        m_sText = WindowText(m_hwndNative);
        if (!m_bSettingText && m_pManager) m_pManager->SendNotify(this, DUI_MSGTYPE_TEXTCHANGED);
        lRes = 0;
        return true;
    }
    return false;
}

void CRichEditUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_BUTTONDOWN || event.Type == UIEVENT_DBLCLICK) {
        if (m_hwndNative && IsEnabled()) ::SetFocus(m_hwndNative);
        return;
    }
    if (event.Type == UIEVENT_SETCURSOR) {
        ::SetCursor(::LoadCursor(NULL, IDC_IBEAM));
        return;
    }
    CControlUI::DoEvent(event);
}

void CRichEditUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"multiline") == 0)
        m_bMultiLine = ParseBool(pstrValue);
    else if (wcscmp(pstrName, L"vscrollbar") == 0)
        m_bVScrollBar = ParseBool(pstrValue);
    else if (wcscmp(pstrName, L"autovscroll") == 0)
        m_bAutoVScroll = ParseBool(pstrValue);
    else if (wcscmp(pstrName, L"wanttab") == 0)
        m_bWantTab = ParseBool(pstrValue);
    else if (wcscmp(pstrName, L"wantreturn") == 0)
        m_bWantReturn = ParseBool(pstrValue);
    else if (wcscmp(pstrName, L"readonly") == 0)
        SetReadOnly(ParseBool(pstrValue));
    else if (wcscmp(pstrName, L"maxchar") == 0)
        SetLimitText(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"font") == 0)
        SetFont(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"textcolor") == 0)
        SetTextColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"textpadding") == 0 || wcscmp(pstrName, L"inset") == 0)
        SetTextPadding(ParseRect(pstrValue));
    else if (wcscmp(pstrName, L"tipvalue") == 0)
        SetTipValue(pstrValue);
    else if (wcscmp(pstrName, L"tipvaluecolor") == 0)
        SetTipValueColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"nativebkcolor") == 0)
        SetNativeBkColor(ParseColor(pstrValue));
    else
        CControlUI::SetAttribute(pstrName, pstrValue);
}

}  // namespace DuiLib
