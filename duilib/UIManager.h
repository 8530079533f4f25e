// CPaintManagerUI: one per skinned window. It owns the control tree, lays
// it out, paints it double-buffered (or through UpdateLayeredWindow for a
// layered window), turns mouse messages into control events, delivers
// notifications to the listeners, and keeps the window's fonts. Its static
// part holds the program instance, the resource path and the skin archive.
#pragma once

#include "UIBase.h"

namespace DuiLib {

struct TImageInfo;

struct TFontInfo {
    HFONT hFont;
    CDuiString sFontName;  // the face actually used (after fallback)
    int iSize;             // pixel height
    bool bBold;
    bool bUnderline;
    bool bItalic;
    TEXTMETRICW tm;
};

class UILIB_API CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    void Init(HWND hWnd);
    HWND GetPaintWindow() const;
    // A memory device context of the window, for measuring text.
    HDC GetPaintDC() const;
    // The part of the window the current WM_PAINT draws (floating controls
    // clip only to this, not to their parents).
    const RECT& GetPaintRect() const;
    POINT GetMousePos() const;
    SIZE GetClientSize() const;

    void NeedUpdate();
    void Invalidate();
    void Invalidate(RECT& rcItem);
    // Lays the tree out now if anything changed since the last layout.
    void UpdateLayout();

    // Window attributes of the layout.
    SIZE GetInitSize();
    void SetInitSize(int cx, int cy);
    RECT& GetSizeBox();
    void SetSizeBox(RECT& rcSizeBox);
    // Caption: left/right are distances from the edges, top/bottom from the top.
    RECT& GetCaptionRect();
    void SetCaptionRect(RECT& rcCaption);
    SIZE GetRoundCorner() const;
    void SetRoundCorner(int cx, int cy);
    SIZE GetMinInfo() const;
    void SetMinInfo(int cx, int cy);
    SIZE GetMaxInfo() const;
    void SetMaxInfo(int cx, int cy);
    bool IsLayered() const;
    void SetLayered(bool bLayered);
    BYTE GetLayeredOpacity() const;
    void SetLayeredOpacity(BYTE nOpacity);
    LPCTSTR GetLayeredImage() const;
    void SetLayeredImage(LPCTSTR pstrImage);

    // Process-wide settings.
    static HINSTANCE GetInstance();
    static CDuiString GetInstancePath();  // folder of the program, with a trailing backslash
    static CDuiString GetCurrentPath();
    static HINSTANCE GetResourceDll();
    static const CDuiString& GetResourcePath();
    // Name of the loaded skin archive; empty when none is loaded.
    static const CDuiString& GetResourceZip();
    static bool IsCachedResourceZip();
    static void SetInstance(HINSTANCE hInst);
    static void SetCurrentPath(LPCTSTR pStrPath);
    static void SetResourceDll(HINSTANCE hInst);
    static void SetResourcePath(LPCTSTR pStrPath);
    // An archive in memory (the bytes are copied), e.g. a "ZIPRES" resource.
    static void SetResourceZip(LPVOID pVoid, unsigned int len, LPCTSTR pstrName = NULL);
    // An archive file under the resource path.
    static void SetResourceZip(LPCTSTR pstrZip, bool bCachedResourceZip = false);

    // Fonts, by the ids of the layout. -1 is the default font.
    HFONT AddFont(int id, LPCTSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic);
    void SetDefaultFont(LPCTSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic);
    HFONT GetFont(int id);
    TFontInfo* GetFontInfo(int id);
    TFontInfo* GetFontInfo(HFONT hFont);
    TFontInfo* GetDefaultFontInfo();
    DWORD GetDefaultFontColor() const;
    void SetDefaultFontColor(DWORD dwColor);
    DWORD GetDefaultDisabledColor() const;
    void SetDefaultDisabledColor(DWORD dwColor);
    // The face used for a requested one: itself when installed, otherwise
    // an installed face with Chinese glyphs.
    static CDuiString ResolveFontFace(LPCTSTR pStrFontName);

    const TImageInfo* GetImage(LPCTSTR bitmap);

    // Attributes given by <Default name="Button" value="..."/>.
    void AddDefaultAttributeList(LPCTSTR pStrControlName, LPCTSTR pStrControlAttrList);
    LPCTSTR GetDefaultAttributeList(LPCTSTR pStrControlName) const;

    bool AttachDialog(CControlUI* pControl);
    bool InitControls(CControlUI* pControl, CControlUI* pParent = NULL);
    // Forgets a control that is being deleted (hover, capture, focus, timers).
    void ReapObjects(CControlUI* pControl);

    CControlUI* GetFocus() const;
    void SetFocus(CControlUI* pControl);
    bool SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse);
    bool KillTimer(CControlUI* pControl, UINT nTimerID);
    void KillTimer(CControlUI* pControl);
    void SetCapture();
    void ReleaseCapture();
    bool IsCaptured();

    bool AddNotifier(INotifyUI* pControl);
    bool RemoveNotifier(INotifyUI* pControl);
    void SendNotify(TNotifyUI& Msg, bool bAsync = false);
    void SendNotify(CControlUI* pControl, LPCTSTR pstrMessage, WPARAM wParam = 0, LPARAM lParam = 0,
                    bool bAsync = false);

    // Pre-message filters see the window's (and its child windows') messages
    // in the message loop, before they are dispatched.
    bool AddPreMessageFilter(IMessageFilterUI* pFilter);
    bool RemovePreMessageFilter(IMessageFilterUI* pFilter);
    bool AddMessageFilter(IMessageFilterUI* pFilter);
    bool RemoveMessageFilter(IMessageFilterUI* pFilter);

    CControlUI* GetRoot() const;
    // Top-most visible, enabled, mouse-enabled control at a client point.
    CControlUI* FindControl(POINT pt) const;
    CControlUI* FindControl(LPCTSTR pstrName) const;
    CControlUI* FindSubControlByName(CControlUI* pParent, LPCTSTR pstrName) const;

    // Runs until WM_QUIT.
    static void MessageLoop();
    // The pre-message filters of the window a message is for; true = eaten.
    static bool TranslateMessage(const LPMSG pMsg);
    static void Term();

    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

private:
    struct Data;
    Data* m_p;

    void Paint();
    void PaintWindow();
    void PaintLayered();
    bool EnsureOffscreen(int cx, int cy);
    void DeliverAsyncNotifications();
};

}  // namespace DuiLib
