// CControlUI: the base of every element of a layout.
#pragma once

#include "UIBase.h"

namespace DuiLib {

class UILIB_API CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();

    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    virtual CDuiString GetName() const;
    virtual void SetName(LPCTSTR pstrName);
    virtual LPCTSTR GetClass() const;
    // The object as the class of the given name ("Button", "Option", ...), or NULL.
    virtual LPVOID GetInterface(LPCTSTR pstrName);
    virtual UINT GetControlFlags() const;

    virtual CPaintManagerUI* GetManager() const;
    virtual void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true);
    virtual CControlUI* GetParent() const;

    // Text
    virtual CDuiString GetText() const;
    virtual void SetText(LPCTSTR pstrText);
    virtual CDuiString GetToolTip() const;
    virtual void SetToolTip(LPCTSTR pstrText);

    // Drawing attributes
    DWORD GetBkColor() const;
    void SetBkColor(DWORD dwBackColor);
    LPCTSTR GetBkImage();
    void SetBkImage(LPCTSTR pStrImage);
    DWORD GetBorderColor() const;
    void SetBorderColor(DWORD dwBorderColor);
    int GetBorderSize() const;
    void SetBorderSize(int nSize);
    bool DrawImage(HDC hDC, LPCTSTR pStrImage, LPCTSTR pStrModify = NULL);

    // Position
    virtual const RECT& GetPos() const;
    virtual void SetPos(RECT rc, bool bNeedInvalidate = true);
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    virtual int GetX() const;
    virtual int GetY() const;
    virtual RECT GetPadding() const;
    virtual void SetPadding(RECT rcPadding);  // margins inside a layout
    virtual SIZE GetFixedXY() const;          // position of a floating control in its parent
    virtual void SetFixedXY(SIZE szXY);
    virtual int GetFixedWidth() const;
    virtual void SetFixedWidth(int cx);
    virtual int GetFixedHeight() const;
    virtual void SetFixedHeight(int cy);
    virtual int GetMinWidth() const;
    virtual void SetMinWidth(int cx);
    virtual int GetMaxWidth() const;
    virtual void SetMaxWidth(int cx);
    virtual int GetMinHeight() const;
    virtual void SetMinHeight(int cy);
    virtual int GetMaxHeight() const;
    virtual void SetMaxHeight(int cy);
    virtual SIZE EstimateSize(SIZE szAvailable);

    // State
    virtual bool IsVisible() const;
    virtual void SetVisible(bool bVisible = true);
    // Visibility given by the parents (a tab page that is not selected).
    virtual void SetInternVisible(bool bVisible = true);
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool bEnable = true);
    virtual bool IsMouseEnabled() const;
    virtual void SetMouseEnabled(bool bEnable = true);
    virtual bool IsFocused() const;
    virtual void SetFocus();
    virtual bool IsFloat() const;
    virtual void SetFloat(bool bFloat = true);

    virtual CDuiString GetUserData();
    virtual void SetUserData(LPCTSTR pstrText);
    virtual UINT_PTR GetTag() const;
    virtual void SetTag(UINT_PTR pTag);

    virtual CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags);

    void Invalidate();
    bool IsUpdateNeeded() const;
    void NeedUpdate();
    void NeedParentUpdate();

    virtual void Init();
    virtual void DoInit();
    virtual void Event(TEventUI& event);
    virtual void DoEvent(TEventUI& event);
    virtual bool Activate();

    // Messages a native child window of this control sends its parent
    // (WM_COMMAND, WM_CTLCOLOR*); true when handled, with the result in lRes.
    virtual bool HandleNativeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    virtual void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue);
    void ApplyAttributeList(LPCTSTR pstrList);

    virtual void DoPaint(HDC hDC, const RECT& rcPaint);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC);
    virtual void PaintText(HDC hDC);
    virtual void PaintBorder(HDC hDC);

protected:
    CPaintManagerUI* m_pManager;
    CControlUI* m_pParent;
    CDuiString m_sName;
    CDuiString m_sText;
    CDuiString m_sToolTip;
    CDuiString m_sUserData;
    UINT_PTR m_pTag;
    bool m_bUpdateNeeded;
    bool m_bVisible;
    bool m_bInternVisible;
    bool m_bEnabled;
    bool m_bMouseEnabled;
    bool m_bFocused;
    bool m_bFloat;
    bool m_bSetPos;  // guards against re-entrant SetPos
    RECT m_rcItem;
    RECT m_rcPadding;
    SIZE m_cXY;
    SIZE m_cxyFixed;
    SIZE m_cxyMin;
    SIZE m_cxyMax;
    DWORD m_dwBackColor;
    DWORD m_dwBorderColor;
    int m_nBorderSize;
    CDuiString m_sBkImage;
    RECT m_rcPaint;  // clip of the current DoPaint
};

}  // namespace DuiLib
