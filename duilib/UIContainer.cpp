#include "UIContainer.h"

#include "UIInternal.h"
#include "UIManager.h"

#include <algorithm>
#include <cwchar>

namespace DuiLib {

// ---------------------------------------------------------------- CContainerUI

CContainerUI::CContainerUI() : m_iChildPadding(0), m_bMouseChildEnabled(true) { m_rcInset = RECT{0, 0, 0, 0}; }

CContainerUI::~CContainerUI() {
    std::vector<CControlUI*> items;
    items.swap(m_items);
    for (CControlUI* p : items) delete p;
}

LPCTSTR CContainerUI::GetClass() const { return L"ContainerUI"; }

LPVOID CContainerUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_CONTAINER) == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

CControlUI* CContainerUI::GetItemAt(int iIndex) const {
    if (iIndex < 0 || iIndex >= static_cast<int>(m_items.size())) return NULL;
    return m_items[iIndex];
}

int CContainerUI::GetItemIndex(CControlUI* pControl) const {
    auto it = std::find(m_items.begin(), m_items.end(), pControl);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

int CContainerUI::GetCount() const { return static_cast<int>(m_items.size()); }

bool CContainerUI::Add(CControlUI* pControl) { return AddAt(pControl, GetCount()); }

bool CContainerUI::AddAt(CControlUI* pControl, int iIndex) {
    if (pControl == NULL || iIndex < 0 || iIndex > GetCount()) return false;
    m_items.insert(m_items.begin() + iIndex, pControl);
    if (m_pManager != NULL)
        m_pManager->InitControls(pControl, this);
    else
        pControl->SetManager(NULL, this, false);
    pControl->SetInternVisible(IsVisible());
    NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* pControl, bool bDoNotDestroy) {
    int i = GetItemIndex(pControl);
    if (i < 0) return false;
    return RemoveAt(i, bDoNotDestroy);
}

bool CContainerUI::RemoveAt(int iIndex, bool bDoNotDestroy) {
    CControlUI* p = GetItemAt(iIndex);
    if (p == NULL) return false;
    m_items.erase(m_items.begin() + iIndex);
    if (bDoNotDestroy) {
        if (m_pManager) m_pManager->ReapObjects(p);
    } else {
        delete p;
    }
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll() {
    std::vector<CControlUI*> items;
    items.swap(m_items);
    for (CControlUI* p : items) delete p;
    NeedUpdate();
}

RECT CContainerUI::GetInset() const { return m_rcInset; }

void CContainerUI::SetInset(RECT rcInset) {
    m_rcInset = rcInset;
    NeedUpdate();
}

int CContainerUI::GetChildPadding() const { return m_iChildPadding; }

void CContainerUI::SetChildPadding(int iPadding) {
    m_iChildPadding = iPadding;
    NeedUpdate();
}

bool CContainerUI::IsMouseChildEnabled() const { return m_bMouseChildEnabled; }
void CContainerUI::SetMouseChildEnabled(bool bEnable) { m_bMouseChildEnabled = bEnable; }

void CContainerUI::SetVisible(bool bVisible) {
    if (m_bVisible == bVisible) return;
    CControlUI::SetVisible(bVisible);
    for (CControlUI* p : m_items) p->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool bVisible) {
    CControlUI::SetInternVisible(bVisible);
    for (CControlUI* p : m_items) p->SetInternVisible(IsVisible());
}

void CContainerUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
    for (CControlUI* p : m_items) p->SetManager(pManager, this, bInit);
    CControlUI::SetManager(pManager, pParent, bInit);
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
    if ((uFlags & UIFIND_VISIBLE) != 0 && !IsVisible()) return NULL;
    if ((uFlags & UIFIND_ENABLED) != 0 && !IsEnabled()) return NULL;
    if ((uFlags & UIFIND_HITTEST) == 0) {
        CControlUI* pResult = Proc(this, pData);
        if (pResult != NULL) return pResult;
        for (CControlUI* p : m_items) {
            pResult = p->FindControl(Proc, pData, uFlags);
            if (pResult != NULL) return pResult;
        }
        return NULL;
    }
    const POINT pt = *static_cast<LPPOINT>(pData);
    const bool bInside = ::PtInRect(&m_rcItem, pt) != FALSE;
    if (m_bMouseChildEnabled) {
        // Later children are drawn on top, so they are hit first. Every
        // child is asked: floating controls (also those of a child) may lie
        // outside this container.
        for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
            CControlUI* p = *it;
            CControlUI* pResult = p->FindControl(Proc, pData, uFlags);
            if (pResult != NULL) return pResult;
        }
    }
    if (bInside && m_bMouseEnabled) return Proc(this, pData);
    return NULL;
}

RECT CContainerUI::InnerRect() const {
    RECT rc = m_rcItem;
    rc.left += m_rcInset.left;
    rc.top += m_rcInset.top;
    rc.right -= m_rcInset.right;
    rc.bottom -= m_rcInset.bottom;
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

void CContainerUI::SetFloatPos(int iIndex) {
    CControlUI* p = GetItemAt(iIndex);
    if (p == NULL) return;
    SIZE xy = p->GetFixedXY();
    int cx = p->GetFixedWidth();
    int cy = p->GetFixedHeight();
    RECT rc = {m_rcItem.left + xy.cx, m_rcItem.top + xy.cy, m_rcItem.left + xy.cx + cx, m_rcItem.top + xy.cy + cy};
    p->SetPos(rc, false);
}

void CContainerUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CControlUI::SetPos(rc, bNeedInvalidate);
    RECT rcInner = InnerRect();
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* p = m_items[i];
        if (!p->IsVisible()) continue;
        if (p->IsFloat())
            SetFloatPos(i);
        else
            p->SetPos(rcInner, false);
    }
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    // Children in a layout are clipped to this container; floating
    // children only to the window, so they may reach out of it.
    const bool bSelf = ::IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem) != FALSE;
    if (bSelf) {
        PaintBkColor(hDC);
        PaintBkImage(hDC);
        PaintStatusImage(hDC);
        PaintText(hDC);
    }
    RECT rcInner = InnerRect();
    RECT rcChildClip = {0, 0, 0, 0};
    const bool bInner = ::IntersectRect(&rcChildClip, &rcPaint, &rcInner) != FALSE;
    // Floating children clip to what the window paints, not to this container.
    RECT rcWindowPaint = m_pManager ? m_pManager->GetPaintRect() : rcPaint;
    for (CControlUI* p : m_items) {
        if (!p->IsVisible()) continue;
        if (p->IsFloat())
            p->DoPaint(hDC, rcWindowPaint);
        else
            p->DoPaint(hDC, bInner ? rcChildClip : RECT{0, 0, 0, 0});
    }
    if (bSelf) {
        ::IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem);
        PaintBorder(hDC);
    }
}

void CContainerUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"inset") == 0)
        SetInset(ParseRect(pstrValue));
    else if (wcscmp(pstrName, L"childpadding") == 0)
        SetChildPadding(_wtoi(pstrValue));
    else if (wcscmp(pstrName, L"mousechild") == 0)
        SetMouseChildEnabled(ParseBool(pstrValue));
    else
        CControlUI::SetAttribute(pstrName, pstrValue);
}

// ---------------------------------------------------------------- layouts

namespace {

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

LPCTSTR CVerticalLayoutUI::GetClass() const { return L"VerticalLayoutUI"; }

LPVOID CVerticalLayoutUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_VERTICALLAYOUT) == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CVerticalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CControlUI::SetPos(rc, bNeedInvalidate);
    RECT rcInner = InnerRect();
    const int cxAvail = rcInner.right - rcInner.left;
    const int cyAvail = rcInner.bottom - rcInner.top;
    int cyFixed = 0, nAdjustables = 0, nEstimate = 0;
    for (CControlUI* p : m_items) {
        if (!p->IsVisible() || p->IsFloat()) continue;
        SIZE sz = p->EstimateSize(SIZE{cxAvail, cyAvail});
        RECT pad = p->GetPadding();
        if (sz.cy == 0)
            ++nAdjustables;
        else
            cyFixed += Clamp(sz.cy, p->GetMinHeight(), p->GetMaxHeight());
        cyFixed += pad.top + pad.bottom;
        ++nEstimate;
    }
    if (nEstimate > 1) cyFixed += (nEstimate - 1) * m_iChildPadding;
    int cyExpand = nAdjustables > 0 ? std::max(0, (cyAvail - cyFixed) / nAdjustables) : 0;
    int cyRemain = nAdjustables > 0 ? std::max(0, cyAvail - cyFixed - cyExpand * nAdjustables) : 0;
    int iPosY = rcInner.top;
    int iAdjustable = 0;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* p = m_items[i];
        if (!p->IsVisible()) continue;
        if (p->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        RECT pad = p->GetPadding();
        SIZE sz = p->EstimateSize(SIZE{cxAvail, cyAvail});
        int cy;
        if (sz.cy == 0) {
            ++iAdjustable;
            cy = cyExpand + (iAdjustable == nAdjustables ? cyRemain : 0);
            cy = Clamp(cy, p->GetMinHeight(), p->GetMaxHeight());
        } else {
            cy = Clamp(sz.cy, p->GetMinHeight(), p->GetMaxHeight());
        }
        int cx = sz.cx == 0 ? cxAvail - pad.left - pad.right : Clamp(sz.cx, p->GetMinWidth(), p->GetMaxWidth());
        RECT rcCtrl = {rcInner.left + pad.left, iPosY + pad.top, rcInner.left + pad.left + cx, iPosY + pad.top + cy};
        p->SetPos(rcCtrl, false);
        iPosY += cy + pad.top + pad.bottom + m_iChildPadding;
    }
}

LPCTSTR CHorizontalLayoutUI::GetClass() const { return L"HorizontalLayoutUI"; }

LPVOID CHorizontalLayoutUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_HORIZONTALLAYOUT) == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CControlUI::SetPos(rc, bNeedInvalidate);
    RECT rcInner = InnerRect();
    const int cxAvail = rcInner.right - rcInner.left;
    const int cyAvail = rcInner.bottom - rcInner.top;
    int cxFixed = 0, nAdjustables = 0, nEstimate = 0;
    for (CControlUI* p : m_items) {
        if (!p->IsVisible() || p->IsFloat()) continue;
        SIZE sz = p->EstimateSize(SIZE{cxAvail, cyAvail});
        RECT pad = p->GetPadding();
        if (sz.cx == 0)
            ++nAdjustables;
        else
            cxFixed += Clamp(sz.cx, p->GetMinWidth(), p->GetMaxWidth());
        cxFixed += pad.left + pad.right;
        ++nEstimate;
    }
    if (nEstimate > 1) cxFixed += (nEstimate - 1) * m_iChildPadding;
    int cxExpand = nAdjustables > 0 ? std::max(0, (cxAvail - cxFixed) / nAdjustables) : 0;
    int cxRemain = nAdjustables > 0 ? std::max(0, cxAvail - cxFixed - cxExpand * nAdjustables) : 0;
    int iPosX = rcInner.left;
    int iAdjustable = 0;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* p = m_items[i];
        if (!p->IsVisible()) continue;
        if (p->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        RECT pad = p->GetPadding();
        SIZE sz = p->EstimateSize(SIZE{cxAvail, cyAvail});
        int cx;
        if (sz.cx == 0) {
            ++iAdjustable;
            cx = cxExpand + (iAdjustable == nAdjustables ? cxRemain : 0);
            cx = Clamp(cx, p->GetMinWidth(), p->GetMaxWidth());
        } else {
            cx = Clamp(sz.cx, p->GetMinWidth(), p->GetMaxWidth());
        }
        int cy = sz.cy == 0 ? cyAvail - pad.top - pad.bottom : Clamp(sz.cy, p->GetMinHeight(), p->GetMaxHeight());
        RECT rcCtrl = {iPosX + pad.left, rcInner.top + pad.top, iPosX + pad.left + cx, rcInner.top + pad.top + cy};
        p->SetPos(rcCtrl, false);
        iPosX += cx + pad.left + pad.right + m_iChildPadding;
    }
}

// ---------------------------------------------------------------- CTabLayoutUI

CTabLayoutUI::CTabLayoutUI() : m_iCurSel(-1) {}

LPCTSTR CTabLayoutUI::GetClass() const { return L"TabLayoutUI"; }

LPVOID CTabLayoutUI::GetInterface(LPCTSTR pstrName) {
    if (wcscmp(pstrName, DUI_CTR_TABLAYOUT) == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

bool CTabLayoutUI::Add(CControlUI* pControl) { return AddAt(pControl, GetCount()); }

bool CTabLayoutUI::AddAt(CControlUI* pControl, int iIndex) {
    if (!CContainerUI::AddAt(pControl, iIndex)) return false;
    if (m_iCurSel == -1 && pControl->IsVisible()) {
        m_iCurSel = GetItemIndex(pControl);
    } else {
        if (iIndex <= m_iCurSel) ++m_iCurSel;
        pControl->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::Remove(CControlUI* pControl, bool bDoNotDestroy) {
    int i = GetItemIndex(pControl);
    if (i < 0) return false;
    if (!CContainerUI::RemoveAt(i, bDoNotDestroy)) return false;
    if (m_iCurSel == i) {
        m_iCurSel = -1;
        if (GetCount() > 0) SelectItem(i < GetCount() ? i : GetCount() - 1, false);
    } else if (m_iCurSel > i) {
        --m_iCurSel;
    }
    return true;
}

void CTabLayoutUI::RemoveAll() {
    m_iCurSel = -1;
    CContainerUI::RemoveAll();
}

int CTabLayoutUI::GetCurSel() const { return m_iCurSel; }

bool CTabLayoutUI::SelectItem(int iIndex, bool bTriggerEvent) {
    if (iIndex < 0 || iIndex >= GetCount()) return false;
    if (iIndex == m_iCurSel) return true;
    int iOld = m_iCurSel;
    m_iCurSel = iIndex;
    for (int i = 0; i < GetCount(); ++i) m_items[i]->SetVisible(i == iIndex);
    NeedParentUpdate();
    if (m_pManager != NULL) {
        m_pManager->SetFocus(NULL);
        if (bTriggerEvent) m_pManager->SendNotify(this, DUI_MSGTYPE_TABSELECT, m_iCurSel, iOld);
    }
    return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* pControl, bool bTriggerEvent) {
    int i = GetItemIndex(pControl);
    return i >= 0 && SelectItem(i, bTriggerEvent);
}

void CTabLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
    CControlUI::SetPos(rc, bNeedInvalidate);
    RECT rcInner = InnerRect();
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* p = m_items[i];
        if (p->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        if (i != m_iCurSel) continue;
        p->SetPos(rcInner, false);
    }
}

void CTabLayoutUI::SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) {
    if (wcscmp(pstrName, L"selectedid") == 0)
        SelectItem(_wtoi(pstrValue), false);
    else
        CContainerUI::SetAttribute(pstrName, pstrValue);
}

}  // namespace DuiLib
