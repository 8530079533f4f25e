// CWndShadow: a layered window behind a top-level window that draws a
// drop shadow from a skin image (9-grid) and follows the window's moves,
// size changes, showing and hiding. Exported without namespace.
#pragma once

#include "UIString.h"

class UILIB_API CWndShadow {
public:
    CWndShadow();
    virtual ~CWndShadow();
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Registers the shadow window class; once per program, before Create.
    static bool Initialize(HINSTANCE hInstance);
    // Attaches the shadow to a top-level window.
    void Create(HWND hParentWnd);
    // The image from the skin; the shadow reaches past the window by the
    // corner sizes, and the part under the window (moved in by the hole
    // offsets) stays clear.
    bool SetImage(LPCTSTR szImage, RECT rcCorner, RECT rcHoleOffset);
    HWND GetHWND() const;
    HWND GetParentHWND() const;

private:
    static LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Update();
    void Reposition();
    void Hide();
    void Detach();

    HWND m_hWnd;
    HWND m_hParent;
    WNDPROC m_pOriParentProc;
    DuiLib::CDuiString m_sImage;
    RECT m_rcCorner;
    RECT m_rcHoleOffset;
    bool m_bHasImage;
};
