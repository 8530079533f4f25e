// Text input through native child windows placed over the control:
// CEditUI is a Windows EDIT, CRichEditUI a rich edit (msftedit.dll, or
// riched20.dll when that is missing), both loaded from the system folder.
// Both can show a placeholder text while they are empty and unfocused.
#pragma once

#include "UILabel.h"

#include <richedit.h>

namespace DuiLib {

class UILIB_API CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
    UINT GetControlFlags() const override;

    CDuiString GetText() const override;
    void SetText(LPCTSTR pstrText) override;
    void SetEnabled(bool bEnable = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInternVisible(bool bVisible = true) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetFocus() override;

    void SetMaxChar(UINT uMax);
    UINT GetMaxChar() const;
    void SetReadOnly(bool bReadOnly);
    bool IsReadOnly() const;
    void SetPasswordMode(bool bPasswordMode);
    bool IsPasswordMode() const;
    void SetTipValue(LPCTSTR pStrTipValue);
    LPCTSTR GetTipValue() const;
    void SetTipValueColor(DWORD dwColor);
    DWORD GetTipValueColor() const;
    void SetNativeEditBkColor(DWORD dwBkColor);
    DWORD GetNativeEditBkColor() const;
    void SetSel(long nStartChar, long nEndChar);
    HWND GetNativeWindow() const;

    void DoInit() override;
    void DoEvent(TEventUI& event) override;
    bool HandleNativeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    void PlaceNative();

    HWND m_hwndNative;
    HBRUSH m_hBkBrush;
    UINT m_uMaxChar;
    bool m_bReadOnly;
    bool m_bPasswordMode;
    bool m_bSettingText;
    CDuiString m_sTipValue;
    DWORD m_dwTipValueColor;
    DWORD m_dwEditbkColor;
};

class UILIB_API CRichEditUI : public CControlUI {
public:
    CRichEditUI();
    ~CRichEditUI() override;

    LPCTSTR GetClass() const override;
    LPVOID GetInterface(LPCTSTR pstrName) override;
    UINT GetControlFlags() const override;

    CDuiString GetText() const override;
    void SetText(LPCTSTR pstrText) override;
    int GetTextLength() const;
    void SetEnabled(bool bEnable = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInternVisible(bool bVisible = true) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetFocus() override;

    bool IsMultiLine() const;
    void SetMultiLine(bool bMultiLine);  // before the window is created
    bool IsReadOnly() const;
    void SetReadOnly(bool bReadOnly);
    bool IsWantTab() const;
    void SetWantTab(bool bWantTab = true);
    bool IsWantReturn() const;
    void SetWantReturn(bool bWantReturn = true);
    int GetFont() const;
    void SetFont(int index);
    DWORD GetTextColor() const;
    void SetTextColor(DWORD dwTextColor);
    RECT GetTextPadding() const;
    void SetTextPadding(RECT rc);
    void SetTipValue(LPCTSTR pStrTipValue);
    LPCTSTR GetTipValue() const;
    void SetTipValueColor(DWORD dwColor);
    DWORD GetTipValueColor() const;
    void SetNativeBkColor(DWORD dwColor);

    // Maximum number of characters the user can enter.
    void SetLimitText(int iChars);
    LONG GetLimitText() const;
    long GetSel(CHARRANGE& cr) const;
    void GetSel(long& nStartChar, long& nEndChar) const;
    int SetSel(CHARRANGE& cr);
    int SetSel(long nStartChar, long nEndChar);
    void ReplaceSel(LPCTSTR lpszNewText, bool bCanUndo);
    // EM_STREAMIN / EM_STREAMOUT with the given SF_* flags.
    long StreamIn(int nFormat, EDITSTREAM& es);
    long StreamOut(int nFormat, EDITSTREAM& es);
    HWND GetNativeWindow() const;

    void DoInit() override;
    bool HandleNativeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) override;
    void DoEvent(TEventUI& event) override;
    void SetAttribute(LPCTSTR pstrName, LPCTSTR pstrValue) override;

protected:
    // The native window, created on first need; NULL while it cannot be.
    HWND CreateNative();
    void PlaceNative();
    void ApplyCharFormat();

    HWND m_hwndNative;
    bool m_bMultiLine;
    bool m_bVScrollBar;
    bool m_bAutoVScroll;
    bool m_bWantTab;
    bool m_bWantReturn;
    bool m_bReadOnly;
    bool m_bSettingText;
    int m_iLimitText;
    int m_iFont;
    DWORD m_dwTextColor;
    DWORD m_dwNativeBkColor;
    RECT m_rcTextPadding;
    CDuiString m_sTipValue;
    DWORD m_dwTipValueColor;
};

}  // namespace DuiLib
