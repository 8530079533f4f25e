#include "UIControl.h"

#include "UIInternal.h"
#include "UIManager.h"
#include "UIRender.h"

#include <cwchar>
#include <cwctype>

namespace DuiLib {

// ---------------------------------------------------------------- attribute values

RECT ParseRect(LPCTSTR pstrValue) {
    RECT rc = {0, 0, 0, 0};
    if (pstrValue == NULL) return rc;
    LPTSTR pEnd = NULL;
    LONG* v[4] = {&rc.left, &rc.top, &rc.right, &rc.bottom};
    LPCTSTR p = pstrValue;
    for (int i = 0; i < 4 && *p; ++i) {
        *v[i] = wcstol(p, &pEnd, 10);
        if (pEnd == p) break;
        p = pEnd;
        while (*p == L',' || *p == L' ') ++p;
    }
    return rc;
}

SIZE ParseSize(LPCTSTR pstrValue) {
    RECT rc = ParseRect(pstrValue);
    SIZE sz = {rc.left, rc.top};
    return sz;
}

DWORD ParseColor(LPCTSTR pstrValue) {
    if (pstrValue == NULL) return 0;
    while (*pstrValue == L' ' || *pstrValue == L'#') ++pstrValue;
    if (pstrValue[0] == L'0' && (pstrValue[1] == L'x' || pstrValue[1] == L'X')) pstrValue += 2;
    LPTSTR pEnd = NULL;
    DWORD c = wcstoul(pstrValue, &pEnd, 16);
    if (pEnd - pstrValue <= 6) c |= 0xFF000000;  // RRGGBB: opaque
    return c;
}

bool ParseBool(LPCTSTR pstrValue) {
    return pstrValue != NULL && (_wcsicmp(pstrValue, L"true") == 0 || wcscmp(pstrValue, L"1") == 0);
}

// ---------------------------------------------------------------- CControlUI

CControlUI::CControlUI()
    : m_pManager(NULL),
      m_pParent(NULL),
      m_pTag(0),
      m_bUpdateNeeded(true),
      m_bVisible(true),
      m_bInternVisible(true),
      m_bEnabled(true),
      m_bMouseEnabled(true),
      m_bFocused(false),
      m_bFloat(false),
      m_bSetPos(false),
      m_dwBackColor(0),
      m_dwBorderColor(0),
      m_nBorderSize(0) {
    m_rcItem = RECT{0, 0, 0, 0};
    m_rcPadding = RECT{0, 0, 0, 0};
    m_cXY = SIZE{0, 0};
    m_cxyFixed = SIZE{0, 0};
    m_cxyMin = SIZE{0, 0};
    m_cxyMax = SIZE{9999, 9999};
    m_rcPaint = RECT{0, 0, 0, 0};
}

CControlUI::~CControlUI() {
    if (m_pManager != NULL) m_pManager->ReapObjects(this);
}

CDuiString CControlUI::GetName() const { return m_sName; }
void CControlUI::SetName(LPCTSTR pstrName) { m_sName = pstrName; }
LPCTSTR CControlUI::GetClass() const { return L"ControlUI"; }

LPVOID CControlUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_CONTROL) == 0) return this;
    return NULL;
}

UINT CControlUI::GetControlFlags() const { return 0; }
CPaintManagerUI* CControlUI::GetManager() const { return m_pManager; }

void CControlUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
    m_pManager = pManager;
    m_pParent = pParent;
    if (bInit && m_pManager != NULL) Init();
}

CControlUI* CControlUI::GetParent() const { return m_pParent; }

CDuiString CControlUI::GetText() const { return m_sText; }

void CControlUI::SetText(LPCTSTR pstrText) {
    if (m_sText == (pstrText ? pstrText : L"")) return;
    m_sText = pstrText;
    Invalidate();
}

CDuiString CControlUI::GetToolTip() const { return m_sToolTip; }
void CControlUI::SetToolTip(LPCTSTR pstrText) { m_sToolTip = pstrText; }

DWORD CControlUI::GetBkColor() const { return m_dwBackColor; }

void CControlUI::SetBkColor(DWORD dwBackColor) {
    m_dwBackColor = dwBackColor;
    Invalidate();
}

LPCTSTR CControlUI::GetBkImage() { return m_sBkImage; }

void CControlUI::SetBkImage(LPCTSTR pStrImage) {
    m_sBkImage = pStrImage;
    Invalidate();
}

DWORD CControlUI::GetBorderColor() const { return m_dwBorderColor; }

void CControlUI::SetBorderColor(DWORD dwBorderColor) {
    m_dwBorderColor = dwBorderColor;
    Invalidate();
}

int CControlUI::GetBorderSize() const { return m_nBorderSize; }

void CControlUI::SetBorderSize(int nSize) {
    m_nBorderSize = nSize;
    Invalidate();
}

bool CControlUI::DrawImage(HDC hDC, LPCTSTR pStrImage, LPCTSTR pStrModify) {
    return CRenderEngine::DrawImageString(hDC, m_pManager, m_rcItem, m_rcPaint, pStrImage, pStrModify);
}

const RECT& CControlUI::GetPos() const { return m_rcItem; }

void CControlUI::SetPos(RECT rc, bool bNeedInvalidate) {
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    if (bNeedInvalidate && !::EqualRect(&m_rcItem, &rc)) Invalidate();
    m_rcItem = rc;
    m_bUpdateNeeded = false;
    if (bNeedInvalidate) Invalidate();
}

int CControlUI::GetWidth() const { return m_rcItem.right - m_rcItem.left; }
int CControlUI::GetHeight() const { return m_rcItem.bottom - m_rcItem.top; }
int CControlUI::GetX() const { return m_rcItem.left; }
int CControlUI::GetY() const { return m_rcItem.top; }
RECT CControlUI::GetPadding() const { return m_rcPadding; }

void CControlUI::SetPadding(RECT rcPadding) {
    m_rcPadding = rcPadding;
    NeedParentUpdate();
}

SIZE CControlUI::GetFixedXY() const { return m_cXY; }

void CControlUI::SetFixedXY(SIZE szXY) {
    m_cXY = szXY;
    NeedParentUpdate();
}

int CControlUI::GetFixedWidth() const { return m_cxyFixed.cx; }

void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    m_cxyFixed.cx = cx;
    NeedParentUpdate();
}

int CControlUI::GetFixedHeight() const { return m_cxyFixed.cy; }

void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    m_cxyFixed.cy = cy;
    NeedParentUpdate();
}

int CControlUI::GetMinWidth() const { return m_cxyMin.cx; }
void CControlUI::SetMinWidth(int cx) { m_cxyMin.cx = cx < 0 ? 0 : cx; NeedParentUpdate(); }
int CControlUI::GetMaxWidth() const { return m_cxyMax.cx; }
void CControlUI::SetMaxWidth(int cx) { m_cxyMax.cx = cx < 0 ? 0 : cx; NeedParentUpdate(); }
int CControlUI::GetMinHeight() const { return m_cxyMin.cy; }
void CControlUI::SetMinHeight(int cy) { m_cxyMin.cy = cy < 0 ? 0 : cy; NeedParentUpdate(); }
int CControlUI::GetMaxHeight() const { return m_cxyMax.cy; }
void CControlUI::SetMaxHeight(int cy) { m_cxyMax.cy = cy < 0 ? 0 : cy; NeedParentUpdate(); }

SIZE CControlUI::EstimateSize(SIZE /*szAvailable*/) { return m_cxyFixed; }

bool CControlUI::IsVisible() const { return m_bVisible && m_bInternVisible; }

void CControlUI::SetVisible(bool bVisible) {
    if (m_bVisible == bVisible) return;
    bool v = IsVisible();
    m_bVisible = bVisible;
    if (m_bFocused && !bVisible && m_pManager) m_pManager->SetFocus(NULL);
    if (IsVisible() != v) NeedParentUpdate();
}

void CControlUI::SetInternVisible(bool bVisible) {
    m_bInternVisible = bVisible;
    if (!bVisible && m_bFocused && m_pManager) m_pManager->SetFocus(NULL);
}

bool CControlUI::IsEnabled() const { return m_bEnabled; }

void CControlUI::SetEnabled(bool bEnable) {
    if (m_bEnabled == bEnable) return;
    m_bEnabled = bEnable;
    Invalidate();
}

bool CControlUI::IsMouseEnabled() const { return m_bMouseEnabled; }
void CControlUI::SetMouseEnabled(bool bEnable) { m_bMouseEnabled = bEnable; }
bool CControlUI::IsFocused() const { return m_bFocused; }

void CControlUI::SetFocus() {
    if (m_pManager != NULL) m_pManager->SetFocus(this);
}

bool CControlUI::IsFloat() const { return m_bFloat; }

void CControlUI::SetFloat(bool bFloat) {
    if (m_bFloat == bFloat) return;
    m_bFloat = bFloat;
    NeedParentUpdate();
}

CDuiString CControlUI::GetUserData() { return m_sUserData; }
void CControlUI::SetUserData(LPCTSTR pstrText) { m_sUserData = pstrText; }
UINT_PTR CControlUI::GetTag() const { return m_pTag; }
void CControlUI::SetTag(UINT_PTR pTag) { m_pTag = pTag; }

CControlUI* CControlUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
    if ((uFlags & UIFIND_VISIBLE) != 0 && !IsVisible()) return NULL;
    if ((uFlags & UIFIND_ENABLED) != 0 && !IsEnabled()) return NULL;
    if ((uFlags & UIFIND_HITTEST) != 0 &&
        (!m_bMouseEnabled || !::PtInRect(&m_rcItem, *static_cast<LPPOINT>(pData))))
        return NULL;
    return Proc(this, pData);
}

void CControlUI::Invalidate() {
    if (!IsVisible() || m_pManager == NULL) return;
    RECT rc = m_rcItem;
    m_pManager->Invalidate(rc);
}

bool CControlUI::IsUpdateNeeded() const { return m_bUpdateNeeded; }

void CControlUI::NeedUpdate() {
    m_bUpdateNeeded = true;
    if (m_pManager != NULL) m_pManager->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
    if (m_pParent != NULL) {
        m_pParent->NeedUpdate();
    } else {
        NeedUpdate();
    }
    if (m_pManager != NULL) m_pManager->NeedUpdate();
}

void CControlUI::Init() { DoInit(); }
void CControlUI::DoInit() {}

void CControlUI::Event(TEventUI& event) { DoEvent(event); }

void CControlUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_SETCURSOR) {
        ::SetCursor(::LoadCursor(NULL, IDC_ARROW));
        return;
    }
    if (event.Type == UIEVENT_SETFOCUS) {
        m_bFocused = true;
        Invalidate();
        return;
    }
    if (event.Type == UIEVENT_KILLFOCUS) {
        m_bFocused = false;
        Invalidate();
        return;
    }
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

bool CControlUI::HandleNativeMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CControlUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"pos") == 0) {
        RECT rc = ParseRect(pstrValue);
        SIZE szXY = {rc.left, rc.top};
        SetFixedXY(szXY);
        SetFixedWidth(rc.right - rc.left);
        SetFixedHeight(rc.bottom - rc.top);
    } else if (wcscmp(pstrName, L"padding") == 0) {
        SetPadding(ParseRect(pstrValue));
    } else if (wcscmp(pstrName, L"bkcolor") == 0) {
        SetBkColor(ParseColor(pstrValue));
    } else if (wcscmp(pstrName, L"bordercolor") == 0) {
        SetBorderColor(ParseColor(pstrValue));
    } else if (wcscmp(pstrName, L"bordersize") == 0) {
        SetBorderSize(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"bkimage") == 0) {
        SetBkImage(pstrValue);
    } else if (wcscmp(pstrName, L"width") == 0) {
        SetFixedWidth(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"height") == 0) {
        SetFixedHeight(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"minwidth") == 0) {
        SetMinWidth(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"minheight") == 0) {
        SetMinHeight(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"maxwidth") == 0) {
        SetMaxWidth(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"maxheight") == 0) {
        SetMaxHeight(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"name") == 0) {
        SetName(pstrValue);
    } else if (wcscmp(pstrName, L"text") == 0) {
        SetText(pstrValue);
    } else if (wcscmp(pstrName, L"tooltip") == 0) {
        SetToolTip(pstrValue);
    } else if (wcscmp(pstrName, L"userdata") == 0) {
        SetUserData(pstrValue);
    } else if (wcscmp(pstrName, L"enabled") == 0) {
        SetEnabled(ParseBool(pstrValue));
    } else if (wcscmp(pstrName, L"mouse") == 0) {
        SetMouseEnabled(ParseBool(pstrValue));
    } else if (wcscmp(pstrName, L"visible") == 0) {
        SetVisible(ParseBool(pstrValue));
    } else if (wcscmp(pstrName, L"float") == 0) {
        SetFloat(ParseBool(pstrValue));
    }
}

void CControlUI::ApplyAttributeList(LPCTSTR pstrList) {
    // name="value" pairs separated by blanks.
    LPCTSTR p = pstrList;
    while (p && *p) {
        while (*p == L' ' || *p == L'\t' || *p == L'\r' || *p == L'\n') ++p;
        LPCTSTR pKey = p;
        while (*p && *p != L'=') ++p;
        if (*p != L'=') break;
        CDuiString sKey(pKey, static_cast<int>(p - pKey));
        ++p;
        if (*p != L'"' && *p != L'\'') break;
        TCHAR q = *p++;
        LPCTSTR pValue = p;
        while (*p && *p != q) ++p;
        CDuiString sValue(pValue, static_cast<int>(p - pValue));
        if (*p == q) ++p;
        SetAttribute(sKey, sValue);
    }
}

void CControlUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    if (!::IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem)) return;
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    PaintStatusImage(hDC);
    PaintText(hDC);
    PaintBorder(hDC);
}

void CControlUI::PaintBkColor(HDC hDC) {
    if (m_dwBackColor != 0) CRenderEngine::DrawColor(hDC, m_rcItem, m_rcPaint, m_dwBackColor);
}

void CControlUI::PaintBkImage(HDC hDC) {
    if (!m_sBkImage.IsEmpty()) DrawImage(hDC, m_sBkImage);
}

void CControlUI::PaintStatusImage(HDC /*hDC*/) {}
void CControlUI::PaintText(HDC /*hDC*/) {}

void CControlUI::PaintBorder(HDC hDC) {
    if (m_nBorderSize > 0 && m_dwBorderColor != 0)
        CRenderEngine::DrawBorder(hDC, m_rcItem, m_rcPaint, m_nBorderSize, m_dwBorderColor);
}

}  // namespace DuiLib
