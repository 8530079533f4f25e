// Helpers for the UI tests: a skinned test window over any layout of the
// embedded skins, a message pump, clicks posted at layout coordinates,
// a notification recorder and screenshots into the test artefacts.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WinBaseEx.h"

namespace uitest {

// Skin archives embedded in the UI test programs (UiTestSkins.rc.in).
constexpr UINT kSetupZipId = 105;
constexpr UINT kUninstZipId = 203;
constexpr UINT kUpdateZipId = 303;

// Runs the thread's message loop (through DuiLib's pre-message filters,
// as CPaintManagerUI::MessageLoop does) for ms milliseconds.
void Pump(DWORD ms);
// Pumps until done() or the timeout; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Posts a mouse move, button down and button up at a client point
// (coordinates in lParam, as the window procedure reads them).
void PostClick(HWND hWnd, POINT pt);
// PostClick, then pumps until the messages are handled.
void Click(HWND hWnd, POINT pt);
POINT CenterOf(DuiLib::CControlUI* pControl);

// The Windows path of $KELO_ARTIFACTS (a Unix path under Wine); empty if unset.
std::wstring ArtifactsDir();

// A capture of the screen.
struct Shot {
    int x = 0, y = 0, w = 0, h = 0;  // screen rectangle
    std::vector<DWORD> px;            // 0x00RRGGBB, top-down
    DWORD At(int sx, int sy) const;   // by screen coordinates
};
// Captures the screen around a window (margin pixels on each side, for the
// shadow). The window is made topmost for the capture.
Shot Capture(HWND hWnd, int margin);
// Captures a screen rectangle as it is.
Shot CaptureRect(const RECT& rc);
// Writes a capture as $KELO_ARTIFACTS/<name>.png; false without artefacts dir.
bool SavePng(const Shot& shot, const std::wstring& name);

// The shadow window that follows hWnd, or NULL.
HWND FindShadowOf(HWND hWnd);

struct Note {
    std::wstring type;
    std::wstring name;
    WPARAM wParam;
    LPARAM lParam;
    int checked;  // check box state when the notification arrived, -1 for others
};

class CNotifyRecorder : public DuiLib::INotifyUI {
public:
    void Notify(DuiLib::TNotifyUI& msg) override;
    std::vector<Note> notes;
};

// A CWinBaseEx over one layout of one embedded skin archive.
class CTestWnd : public CWinBaseEx {
public:
    CTestWnd(const wchar_t* pClass, const wchar_t* pLayout, UINT nZipId, const wchar_t* pZipName);

    // Creates the window as the programs do (WS_OVERLAPPEDWINDOW | WS_VISIBLE,
    // 710 x 470) at the given position.
    HWND CreateLikeProgram(int x = 60, int y = 60);
    DuiLib::CPaintManagerUI& PM() { return m_pm; }
    template <class T>
    T* Find(const wchar_t* pName) {
        return static_cast<T*>(m_pm.FindControl(pName));
    }

    // Recorded behaviour.
    std::vector<std::wstring> clicks;
    struct CustomMsg {
        UINT uMsg;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<CustomMsg> custom;
    int initCount = 0;
    bool finalRan = false;
    int childrenAtFinal = -1;     // child windows (the native edits) left then
    HWND hwndAtFinal = NULL;      // GetHWND() then
    bool withShadow = true;

    LPCTSTR GetWindowClassName() const override;

protected:
    DuiLib::CDuiString GetSkinFile() override;
    LPCTSTR GetResourceID() const override;
    DuiLib::CDuiString GetZIPFileName() const override;
    void InitWindow() override;
    void OnClick(DuiLib::TNotifyUI& msg) override;
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    std::wstring m_class;
    std::wstring m_layout;
    UINT m_nZipId;
    std::wstring m_zipName;
};

// Owns a test window object: the window goes before the object does.
struct WndDeleter {
    void operator()(CTestWnd* p) const {
        if (IsWindow(p->GetHWND())) DestroyWindow(p->GetHWND());
        delete p;
    }
};
typedef std::unique_ptr<CTestWnd, WndDeleter> TestWndPtr;

// Sets up DuiLib as the programs' start-up does (instance, resource path,
// shadow support). Call once per test program.
void InitLibrary();

}  // namespace uitest
