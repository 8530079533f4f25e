// Text controls: CLabelUI (one line by default), CTextUI (word-wrapped),
// CButtonUI with state images, COptionUI / CCheckBoxUI with a selected
// state, and CProgressUI.
#pragma once

#include "UIControl.h"

namespace DuiLib {

#define UIFLAG_TABSTOP   0x00000001
#define UIFLAG_SETCURSOR 0x00000002

class UILIB_API CLabelUI : public CControlUI {
public:
    CLabelUI();

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    // DrawTextW flags (DT_*).
    void SetTextStyle(UINT uStyle);
    UINT GetTextStyle() const;
    void SetTextColor(DWORD dwTextColor);
    DWORD GetTextColor() const;
    void SetDisabledTextColor(DWORD dwTextColor);
    DWORD GetDisabledTextColor() const;
    // Font id of the layout; -1 is the window's default font.
    void SetFont(int index);
    int GetFont() const;
    RECT GetTextPadding() const;
    void SetTextPadding(RECT rc);

    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    DWORD TextColorFor(DWORD dwStateColor) const;

    UINT m_uTextStyle;
    DWORD m_dwTextColor;
    DWORD m_dwDisabledTextColor;
    int m_iFont;
    RECT m_rcTextPadding;
};

class UILIB_API CTextUI : public CLabelUI {
public:
    CTextUI();
    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
};

class UILIB_API CButtonUI : public CLabelUI {
public:
    CButtonUI();

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
    UINT GetControlFlags() const override;

    // Sends the "click" notification.
    bool Activate() override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(TEventUI& event) override;

    LPCTSTR GetNormalImage();
    void SetNormalImage(LPCTSTR pStrImage);
    LPCTSTR GetHotImage();
    void SetHotImage(LPCTSTR pStrImage);
    LPCTSTR GetPushedImage();
    void SetPushedImage(LPCTSTR pStrImage);
    LPCTSTR GetFocusedImage();
    void SetFocusedImage(LPCTSTR pStrImage);
    LPCTSTR GetDisabledImage();
    void SetDisabledImage(LPCTSTR pStrImage);
    void SetHotTextColor(DWORD dwColor);
    DWORD GetHotTextColor() const;
    void SetPushedTextColor(DWORD dwColor);
    DWORD GetPushedTextColor() const;
    void SetHotBkColor(DWORD dwColor);
    DWORD GetHotBkColor() const;
    UINT GetButtonState() const;  // UISTATE_* bits

    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    UINT m_uButtonState;
    DWORD m_dwHotTextColor;
    DWORD m_dwPushedTextColor;
    DWORD m_dwHotBkColor;
    CDuiString m_sNormalImage;
    CDuiString m_sHotImage;
    CDuiString m_sPushedImage;
    CDuiString m_sFocusedImage;
    CDuiString m_sDisabledImage;
};

class UILIB_API COptionUI : public CButtonUI {
public:
    COptionUI();
    ~COptionUI() override;

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    // The "click" notification goes out first, then the state changes
    // (toggles, or selects within a group) with "selectchanged".
    bool Activate() override;

    LPCTSTR GetGroup() const;
    void SetGroup(LPCTSTR pStrGroupName);
    bool IsSelected() const;
    virtual void Selected(bool bSelected, bool bTriggerEvent = true);

    LPCTSTR GetSelectedImage();
    void SetSelectedImage(LPCTSTR pStrImage);
    LPCTSTR GetSelectedHotImage();
    void SetSelectedHotImage(LPCTSTR pStrImage);
    void SetSelectedTextColor(DWORD dwTextColor);
    DWORD GetSelectedTextColor() const;
    LPCTSTR GetForeImage();
    void SetForeImage(LPCTSTR pStrImage);

    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    bool m_bSelected;
    CDuiString m_sGroupName;
    CDuiString m_sSelectedImage;
    CDuiString m_sSelectedHotImage;
    CDuiString m_sForeImage;
    DWORD m_dwSelectedTextColor;
};

class UILIB_API CCheckBoxUI : public COptionUI {
public:
    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    void SetCheck(bool bCheck, bool bTriggerEvent = true);
    bool GetCheck() const;
};

class UILIB_API CProgressUI : public CLabelUI {
public:
    CProgressUI();

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;

    bool IsHorizontal() const;
    void SetHorizontal(bool bHorizontal = true);
    int GetMinValue() const;
    void SetMinValue(int nMin);
    int GetMaxValue() const;
    void SetMaxValue(int nMax);
    int GetValue() const;
    // Clamped to the range.
    void SetValue(int nValue);
    LPCTSTR GetForeImage() const;
    void SetForeImage(LPCTSTR pStrImage);

    void PaintStatusImage(HDC hDC) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    bool m_bHorizontal;
    int m_nMin;
    int m_nMax;
    int m_nValue;
    CDuiString m_sForeImage;
};

}  // namespace DuiLib
