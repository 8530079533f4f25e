// Containers: a plain container (children fill it), vertical and horizontal
// layouts, and the tab layout that shows one page at a time.
#pragma once

#include "UIControl.h"

#include <vector>

namespace DuiLib {

class UILIB_API CContainerUI : public CControlUI {
public:
    CContainerUI();
    virtual ~CContainerUI();

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    CControlUI* GetItemAt(int iIndex) const;
    int GetItemIndex(CControlUI* pControl) const;
    int GetCount() const;
    virtual bool Add(CControlUI* pControl);
    virtual bool AddAt(CControlUI* pControl, int iIndex);
    // Removes (and deletes, unless bDoNotDestroy) a child.
    virtual bool Remove(CControlUI* pControl, bool bDoNotDestroy = false);
    virtual bool RemoveAt(int iIndex, bool bDoNotDestroy = false);
    virtual void RemoveAll();

    RECT GetInset() const;
    void SetInset(RECT rcInset);  // space between the border and the children
    int GetChildPadding() const;
    void SetChildPadding(int iPadding);  // space between neighbours in a layout
    bool IsMouseChildEnabled() const;
    void SetMouseChildEnabled(bool bEnable = true);

    void SetVisible(bool bVisible = true) override;
    void SetInternVisible(bool bVisible = true) override;
    void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
    CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void DoPaint(HDC hDC, const RECT& rcPaint) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    // A floating child at its fixed position inside this container.
    void SetFloatPos(int iIndex);
    RECT InnerRect() const;

    std::vector<CControlUI*> m_items;
    RECT m_rcInset;
    int m_iChildPadding;
    bool m_bMouseChildEnabled;
};

class UILIB_API CVerticalLayoutUI : public CContainerUI {
public:
    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
};

class UILIB_API CHorizontalLayoutUI : public CContainerUI {
public:
    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
};

class UILIB_API CTabLayoutUI : public CContainerUI {
public:
    CTabLayoutUI();

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    void RemoveAll() override;
    int GetCurSel() const;
    // Shows page iIndex; with bTriggerEvent a "tabselect" notification
    // follows (wParam new page, lParam previous page).
    virtual bool SelectItem(int iIndex, bool bTriggerEvent = true);
    virtual bool SelectItem(CControlUI* pControl, bool bTriggerEvent = true);

    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    int m_iCurSel;
};

}  // namespace DuiLib
