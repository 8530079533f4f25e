#include "UILabel.h"

#include "UIInternal.h"
#include "UIManager.h"
#include "UIRender.h"

#include <cwchar>
#include <vector>

namespace DuiLib {

namespace {

// DrawText, and word-wrapped text centred (or bottom-aligned) as a block,
// which DrawTextW itself only does for single lines.
void DrawLabelText(HDC hDC, CPaintManagerUI* pManager, RECT rc, const RECT& rcClip, LPCTSTR pstrText, DWORD dwColor,
                   int iFont, UINT uStyle) {
    if ((uStyle & DT_SINGLELINE) == 0 && (uStyle & (DT_VCENTER | DT_BOTTOM)) != 0) {
        RECT rcCalc = {0, 0, rc.right - rc.left, 0};
        CRenderEngine::DrawText(hDC, pManager, rcCalc, rcClip, pstrText, dwColor, iFont, uStyle | DT_CALCRECT);
        int spare = (rc.bottom - rc.top) - (rcCalc.bottom - rcCalc.top);
        if (spare > 0) rc.top += (uStyle & DT_BOTTOM) ? spare : spare / 2;
        uStyle &= ~(DT_VCENTER | DT_BOTTOM);
    }
    CRenderEngine::DrawText(hDC, pManager, rc, rcClip, pstrText, dwColor, iFont, uStyle);
}

RECT Inset(const RECT& rcItem, const RECT& rcPadding) {
    RECT rc = {rcItem.left + rcPadding.left, rcItem.top + rcPadding.top, rcItem.right - rcPadding.right,
               rcItem.bottom - rcPadding.bottom};
    return rc;
}

}  // namespace

// ---------------------------------------------------------------- CLabelUI

CLabelUI::CLabelUI()
    : m_uTextStyle(DT_VCENTER | DT_SINGLELINE), m_dwTextColor(0), m_dwDisabledTextColor(0), m_iFont(-1) {
    m_rcTextPadding = RECT{0, 0, 0, 0};
}

LPCTSTR CLabelUI::GetClass() const { return L"LabelUI"; }

LPVOID CLabelUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_LABEL) == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

void CLabelUI::SetTextStyle(UINT uStyle) {
    m_uTextStyle = uStyle;
    Invalidate();
}

UINT CLabelUI::GetTextStyle() const { return m_uTextStyle; }

void CLabelUI::SetTextColor(DWORD dwTextColor) {
    m_dwTextColor = dwTextColor;
    Invalidate();
}

DWORD CLabelUI::GetTextColor() const { return m_dwTextColor; }

void CLabelUI::SetDisabledTextColor(DWORD dwTextColor) {
    m_dwDisabledTextColor = dwTextColor;
    Invalidate();
}

DWORD CLabelUI::GetDisabledTextColor() const { return m_dwDisabledTextColor; }

void CLabelUI::SetFont(int index) {
    m_iFont = index;
    Invalidate();
}

int CLabelUI::GetFont() const { return m_iFont; }
RECT CLabelUI::GetTextPadding() const { return m_rcTextPadding; }

void CLabelUI::SetTextPadding(RECT rc) {
    m_rcTextPadding = rc;
    Invalidate();
}

SIZE CLabelUI::EstimateSize(SIZE szAvailable) {
    // No size of its own: a label without a fixed size takes what its
    // layout gives it.
    return CControlUI::EstimateSize(szAvailable);
}

DWORD CLabelUI::TextColorFor(DWORD dwStateColor) const {
    if (!IsEnabled()) {
        if (m_dwDisabledTextColor) return m_dwDisabledTextColor;
        return m_pManager ? m_pManager->GetDefaultDisabledColor() : 0xFFA7A6AA;
    }
    if (dwStateColor) return dwStateColor;
    if (m_dwTextColor) return m_dwTextColor;
    return m_pManager ? m_pManager->GetDefaultFontColor() : 0xFF000000;
}

void CLabelUI::PaintText(HDC hDC) {
    if (m_sText.IsEmpty()) return;
    DrawLabelText(hDC, m_pManager, Inset(m_rcItem, m_rcTextPadding), m_rcPaint, m_sText, TextColorFor(0), m_iFont,
                  m_uTextStyle);
}

void CLabelUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"align") == 0) {
        m_uTextStyle &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
        if (wcscmp(pstrValue, L"center") == 0)
            m_uTextStyle |= DT_CENTER;
        else if (wcscmp(pstrValue, L"right") == 0)
            m_uTextStyle |= DT_RIGHT;
        else
            m_uTextStyle |= DT_LEFT;
    } else if (wcscmp(pstrName, L"valign") == 0) {
        m_uTextStyle &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
        if (wcscmp(pstrValue, L"vcenter") == 0 || wcscmp(pstrValue, L"center") == 0)
            m_uTextStyle |= DT_VCENTER;
        else if (wcscmp(pstrValue, L"bottom") == 0)
            m_uTextStyle |= DT_BOTTOM;
        else
            m_uTextStyle |= DT_TOP;
    } else if (wcscmp(pstrName, L"endellipsis") == 0) {
        if (ParseBool(pstrValue))
            m_uTextStyle |= DT_END_ELLIPSIS;
        else
            m_uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (wcscmp(pstrName, L"wordbreak") == 0 || wcscmp(pstrName, L"multiline") == 0) {
        if (ParseBool(pstrValue)) {
            m_uTextStyle &= ~DT_SINGLELINE;
            m_uTextStyle |= DT_WORDBREAK | DT_EDITCONTROL;
        } else {
            m_uTextStyle &= ~(DT_WORDBREAK | DT_EDITCONTROL);
            m_uTextStyle |= DT_SINGLELINE;
        }
    } else if (wcscmp(pstrName, L"font") == 0) {
        SetFont(_wtoi(pstrValue));
    } else if (wcscmp(pstrName, L"textcolor") == 0) {
        SetTextColor(ParseColor(pstrValue));
    } else if (wcscmp(pstrName, L"disabledtextcolor") == 0) {
        SetDisabledTextColor(ParseColor(pstrValue));
    } else if (wcscmp(pstrName, L"textpadding") == 0) {
        SetTextPadding(ParseRect(pstrValue));
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

// ---------------------------------------------------------------- CTextUI

CTextUI::CTextUI() { m_uTextStyle = DT_WORDBREAK | DT_EDITCONTROL; }

LPCTSTR CTextUI::GetClass() const { return L"TextUI"; }

LPVOID CTextUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_TEXT) == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

// ---------------------------------------------------------------- CButtonUI

CButtonUI::CButtonUI() : m_uButtonState(0), m_dwHotTextColor(0), m_dwPushedTextColor(0), m_dwHotBkColor(0) {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

LPCTSTR CButtonUI::GetClass() const { return L"ButtonUI"; }

LPVOID CButtonUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_BUTTON) == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

UINT CButtonUI::GetControlFlags() const { return (IsEnabled() ? UIFLAG_SETCURSOR : 0) | UIFLAG_TABSTOP; }

bool CButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_pManager != NULL) m_pManager->SendNotify(this, DUI_MSGTYPE_CLICK);
    return true;
}

void CButtonUI::SetEnabled(bool bEnable) {
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState &= ~(UISTATE_HOT | UISTATE_PUSHED | UISTATE_CAPTURED);
}

void CButtonUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
        if (::PtInRect(&m_rcItem, event.ptMouse) && IsEnabled()) {
            m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSEMOVE:
        if (m_uButtonState & UISTATE_CAPTURED) {
            if (::PtInRect(&m_rcItem, event.ptMouse))
                m_uButtonState |= UISTATE_PUSHED;
            else
                m_uButtonState &= ~UISTATE_PUSHED;
            Invalidate();
        }
        return;
    case UIEVENT_BUTTONUP:
        if (m_uButtonState & UISTATE_CAPTURED) {
            const bool bClick = ::PtInRect(&m_rcItem, event.ptMouse) && IsEnabled();
            m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
            Invalidate();
            // The handler may close the window or change the tree: nothing
            // of this object is used after Activate.
            if (bClick) Activate();
        }
        return;
    case UIEVENT_MOUSEENTER:
        if (IsEnabled()) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSELEAVE:
        m_uButtonState &= ~UISTATE_HOT;
        Invalidate();
        return;
    case UIEVENT_SETCURSOR:
        ::SetCursor(::LoadCursor(NULL, IDC_HAND));
        return;
    default:
        CLabelUI::DoEvent(event);
    }
}

LPCTSTR CButtonUI::GetNormalImage() { return m_sNormalImage; }
void CButtonUI::SetNormalImage(LPCTSTR p) { m_sNormalImage = p; Invalidate(); }
LPCTSTR CButtonUI::GetHotImage() { return m_sHotImage; }
void CButtonUI::SetHotImage(LPCTSTR p) { m_sHotImage = p; Invalidate(); }
LPCTSTR CButtonUI::GetPushedImage() { return m_sPushedImage; }
void CButtonUI::SetPushedImage(LPCTSTR p) { m_sPushedImage = p; Invalidate(); }
LPCTSTR CButtonUI::GetFocusedImage() { return m_sFocusedImage; }
void CButtonUI::SetFocusedImage(LPCTSTR p) { m_sFocusedImage = p; Invalidate(); }
LPCTSTR CButtonUI::GetDisabledImage() { return m_sDisabledImage; }
void CButtonUI::SetDisabledImage(LPCTSTR p) { m_sDisabledImage = p; Invalidate(); }
void CButtonUI::SetHotTextColor(DWORD c) { m_dwHotTextColor = c; }
DWORD CButtonUI::GetHotTextColor() const { return m_dwHotTextColor; }
void CButtonUI::SetPushedTextColor(DWORD c) { m_dwPushedTextColor = c; }
DWORD CButtonUI::GetPushedTextColor() const { return m_dwPushedTextColor; }
void CButtonUI::SetHotBkColor(DWORD c) { m_dwHotBkColor = c; }
DWORD CButtonUI::GetHotBkColor() const { return m_dwHotBkColor; }

UINT CButtonUI::GetButtonState() const {
    return m_uButtonState | (IsEnabled() ? 0 : UISTATE_DISABLED) | (IsFocused() ? UISTATE_FOCUSED : 0);
}

void CButtonUI::PaintStatusImage(HDC hDC) {
    if (!IsEnabled()) {
        if (!m_sDisabledImage.IsEmpty() && DrawImage(hDC, m_sDisabledImage)) return;
    } else if (m_uButtonState & UISTATE_PUSHED) {
        if (!m_sPushedImage.IsEmpty() && DrawImage(hDC, m_sPushedImage)) return;
    } else if (m_uButtonState & UISTATE_HOT) {
        if (m_dwHotBkColor) CRenderEngine::DrawColor(hDC, m_rcItem, m_rcPaint, m_dwHotBkColor);
        if (!m_sHotImage.IsEmpty() && DrawImage(hDC, m_sHotImage)) return;
    } else if (IsFocused()) {
        if (!m_sFocusedImage.IsEmpty() && DrawImage(hDC, m_sFocusedImage)) return;
    }
    if (!m_sNormalImage.IsEmpty()) DrawImage(hDC, m_sNormalImage);
}

void CButtonUI::PaintText(HDC hDC) {
    if (m_sText.IsEmpty()) return;
    DWORD dwState = 0;
    if (m_uButtonState & UISTATE_PUSHED)
        dwState = m_dwPushedTextColor;
    else if (m_uButtonState & UISTATE_HOT)
        dwState = m_dwHotTextColor;
    DrawLabelText(hDC, m_pManager, Inset(m_rcItem, m_rcTextPadding), m_rcPaint, m_sText, TextColorFor(dwState),
                  m_iFont, m_uTextStyle);
}

void CButtonUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"normalimage") == 0)
        SetNormalImage(pstrValue);
    else if (wcscmp(pstrName, L"hotimage") == 0)
        SetHotImage(pstrValue);
    else if (wcscmp(pstrName, L"pushedimage") == 0)
        SetPushedImage(pstrValue);
    else if (wcscmp(pstrName, L"focusedimage") == 0)
        SetFocusedImage(pstrValue);
    else if (wcscmp(pstrName, L"disabledimage") == 0)
        SetDisabledImage(pstrValue);
    else if (wcscmp(pstrName, L"hottextcolor") == 0)
        SetHotTextColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"pushedtextcolor") == 0)
        SetPushedTextColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"hotbkcolor") == 0)
        SetHotBkColor(ParseColor(pstrValue));
    else
        CLabelUI::SetAttribute(pstrName, pstrValue);
}

// ---------------------------------------------------------------- COptionUI

COptionUI::COptionUI() : m_bSelected(false), m_dwSelectedTextColor(0) {}

COptionUI::~COptionUI() {}

LPCTSTR COptionUI::GetClass() const { return L"OptionUI"; }

LPVOID COptionUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_OPTION) == 0) return this;
    return CButtonUI::GetInterface(pstrName);
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    if (!m_sGroupName.IsEmpty())
        Selected(true);
    else
        Selected(!m_bSelected);
    return true;
}

LPCTSTR COptionUI::GetGroup() const { return m_sGroupName; }
void COptionUI::SetGroup(LPCTSTR pStrGroupName) { m_sGroupName = pStrGroupName; }
bool COptionUI::IsSelected() const { return m_bSelected; }

namespace {

struct GroupSearch {
    CDuiString sGroup;
    COptionUI* pExcept;
    std::vector<COptionUI*> found;
};

CControlUI* CALLBACK CollectGroup(CControlUI* pThis, LPVOID pData) {
    GroupSearch* s = static_cast<GroupSearch*>(pData);
    COptionUI* p = static_cast<COptionUI*>(pThis->GetInterface(DUI_CTR_OPTION));
    if (p != NULL && p != s->pExcept && s->sGroup == p->GetGroup()) s->found.push_back(p);
    return NULL;
}

}  // namespace

void COptionUI::Selected(bool bSelected, bool bTriggerEvent) {
    if (m_bSelected == bSelected) return;
    m_bSelected = bSelected;
    if (m_bSelected)
        m_uButtonState |= UISTATE_SELECTED;
    else
        m_uButtonState &= ~UISTATE_SELECTED;
    if (m_pManager != NULL) {
        if (m_bSelected && !m_sGroupName.IsEmpty() && m_pManager->GetRoot() != NULL) {
            GroupSearch s;
            s.sGroup = m_sGroupName;
            s.pExcept = this;
            m_pManager->GetRoot()->FindControl(CollectGroup, &s, UIFIND_ALL);
            for (COptionUI* p : s.found) p->Selected(false, bTriggerEvent);
        }
        if (bTriggerEvent) m_pManager->SendNotify(this, DUI_MSGTYPE_SELECTCHANGED, m_bSelected ? 1 : 0, 0);
    }
    Invalidate();
}

LPCTSTR COptionUI::GetSelectedImage() { return m_sSelectedImage; }
void COptionUI::SetSelectedImage(LPCTSTR p) { m_sSelectedImage = p; Invalidate(); }
LPCTSTR COptionUI::GetSelectedHotImage() { return m_sSelectedHotImage; }
void COptionUI::SetSelectedHotImage(LPCTSTR p) { m_sSelectedHotImage = p; Invalidate(); }
void COptionUI::SetSelectedTextColor(DWORD c) { m_dwSelectedTextColor = c; }
DWORD COptionUI::GetSelectedTextColor() const { return m_dwSelectedTextColor; }
LPCTSTR COptionUI::GetForeImage() { return m_sForeImage; }
void COptionUI::SetForeImage(LPCTSTR p) { m_sForeImage = p; Invalidate(); }

void COptionUI::PaintStatusImage(HDC hDC) {
    bool bDrawn = false;
    if (m_bSelected) {
        if ((m_uButtonState & UISTATE_HOT) && !m_sSelectedHotImage.IsEmpty())
            bDrawn = DrawImage(hDC, m_sSelectedHotImage);
        if (!bDrawn && !m_sSelectedImage.IsEmpty()) bDrawn = DrawImage(hDC, m_sSelectedImage);
    }
    if (!bDrawn) CButtonUI::PaintStatusImage(hDC);
    if (!m_sForeImage.IsEmpty()) DrawImage(hDC, m_sForeImage);
}

void COptionUI::PaintText(HDC hDC) {
    if (m_bSelected && m_dwSelectedTextColor && IsEnabled()) {
        if (m_sText.IsEmpty()) return;
        DrawLabelText(hDC, m_pManager, Inset(m_rcItem, m_rcTextPadding), m_rcPaint, m_sText, m_dwSelectedTextColor,
                      m_iFont, m_uTextStyle);
        return;
    }
    CButtonUI::PaintText(hDC);
}

void COptionUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"group") == 0)
        SetGroup(pstrValue);
    else if (wcscmp(pstrName, L"selected") == 0)
        Selected(ParseBool(pstrValue), false);
    else if (wcscmp(pstrName, L"selectedimage") == 0)
        SetSelectedImage(pstrValue);
    else if (wcscmp(pstrName, L"selectedhotimage") == 0)
        SetSelectedHotImage(pstrValue);
    else if (wcscmp(pstrName, L"selectedtextcolor") == 0)
        SetSelectedTextColor(ParseColor(pstrValue));
    else if (wcscmp(pstrName, L"foreimage") == 0)
        SetForeImage(pstrValue);
    else
        CButtonUI::SetAttribute(pstrName, pstrValue);
}

// ---------------------------------------------------------------- CCheckBoxUI

LPCTSTR CCheckBoxUI::GetClass() const { return L"CheckBoxUI"; }

LPVOID CCheckBoxUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_CHECKBOX) == 0) return this;
    return COptionUI::GetInterface(pstrName);
}

void CCheckBoxUI::SetCheck(bool bCheck, bool bTriggerEvent) { Selected(bCheck, bTriggerEvent); }
bool CCheckBoxUI::GetCheck() const { return IsSelected(); }

// ---------------------------------------------------------------- CProgressUI

CProgressUI::CProgressUI() : m_bHorizontal(true), m_nMin(0), m_nMax(100), m_nValue(0) {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

LPCTSTR CProgressUI::GetClass() const { return L"ProgressUI"; }

LPVOID CProgressUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_PROGRESS) == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

bool CProgressUI::IsHorizontal() const { return m_bHorizontal; }
void CProgressUI::SetHorizontal(bool b) { m_bHorizontal = b; Invalidate(); }
int CProgressUI::GetMinValue() const { return m_nMin; }
void CProgressUI::SetMinValue(int n) { m_nMin = n; Invalidate(); }
int CProgressUI::GetMaxValue() const { return m_nMax; }
void CProgressUI::SetMaxValue(int n) { m_nMax = n; Invalidate(); }
int CProgressUI::GetValue() const { return m_nValue; }

void CProgressUI::SetValue(int nValue) {
    if (nValue < m_nMin) nValue = m_nMin;
    if (nValue > m_nMax) nValue = m_nMax;
    if (nValue == m_nValue) return;
    m_nValue = nValue;
    Invalidate();
}

LPCTSTR CProgressUI::GetForeImage() const { return m_sForeImage; }
void CProgressUI::SetForeImage(LPCTSTR p) { m_sForeImage = p; Invalidate(); }

void CProgressUI::PaintStatusImage(HDC hDC) {
    if (m_nMax <= m_nMin || m_sForeImage.IsEmpty()) return;
    const int range = m_nMax - m_nMin;
    const int done = m_nValue - m_nMin;
    RECT rcFill = m_rcItem;
    if (m_bHorizontal)
        rcFill.right = m_rcItem.left + static_cast<int>(static_cast<long long>(GetWidth()) * done / range);
    else
        rcFill.top = m_rcItem.bottom - static_cast<int>(static_cast<long long>(GetHeight()) * done / range);
    RECT rcClip;
    if (!::IntersectRect(&rcClip, &rcFill, &m_rcPaint)) return;
    // The fore image spans the whole bar; only the filled part shows.
    CRenderEngine::DrawImageString(hDC, m_pManager, m_rcItem, rcClip, m_sForeImage);
}

void CProgressUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"hor") == 0)
        SetHorizontal(ParseBool(pstrValue));
    else if (wcscmp(pstrName, L"min") == 0)
        SetMinValue(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"max") == 0)
        SetMaxValue(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"value") == 0)
        SetValue(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"foreimage") == 0)
        SetForeImage(pstrValue);
    else
        CLabelUI::SetAttribute(pstrName, pstrValue);
}

}  // namespace DuiLib
