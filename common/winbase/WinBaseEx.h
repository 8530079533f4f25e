// CWinBaseEx: the base of every dialog of the three programs, between
// DuiLib's WindowImplBase and the dialog classes. It takes the skin from
// the program's own "ZIPRES" resource, gives the window the program icon
// and a drop shadow from "shadow.png", and keeps Enter and Escape from
// closing the window or pressing a button.
//
// The class is the same in every program except for four values, which
// each program supplies in its own header "WinBaseSkin.h" (found on the
// program's include path):
//   struct WinBaseSkin {
//       static constexpr const wchar_t* kSkinFolder;  // "SetupSkin\\"
//       static constexpr const wchar_t* kZipName;     // "SetupSkin.zip"
//       static constexpr unsigned kZipResId;          // 105
//       static constexpr unsigned kIconId;            // 104
//   };
// That is why the class is defined in this header only.
#pragma once

#include <UIlib.h>

#include <memory>

#include "Product.h"
#include "SingleInstance.h"
#include "WinBaseSkin.h"

class CWinBaseEx : public DuiLib::WindowImplBase {
public:
    CWinBaseEx() = default;
    ~CWinBaseEx() override = default;

    CWinBaseEx(const CWinBaseEx&) = delete;
    CWinBaseEx& operator=(const CWinBaseEx&) = delete;

    DuiLib::CDuiString GetSkinFolder() override { return DuiLib::CDuiString(WinBaseSkin::kSkinFolder); }

    // 4: the skin is a zip archive in the program's own resources.
    DuiLib::UILIB_RESOURCETYPE GetResourceType() const override { return DuiLib::UILIB_ZIPRESOURCE; }

    DuiLib::CDuiString GetZIPFileName() const override { return DuiLib::CDuiString(WinBaseSkin::kZipName); }

    LPCTSTR GetResourceID() const override { return MAKEINTRESOURCE(WinBaseSkin::kZipResId); }

    // Enter and Escape: nothing, and the handled flag stays as it is, so the
    // key still reaches the controls but the base's default key response
    // (Escape closes the window) never runs.
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override {
        if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) return 0;
        return DuiLib::WindowImplBase::MessageHandler(uMsg, wParam, lParam, bHandled);
    }

    // The program icon and the drop shadow. Each dialog calls it once from
    // its InitWindow. A missing "shadow.png" leaves the window without one.
    virtual BOOL InitShadow() {
        SetIcon(WinBaseSkin::kIconId);
        if (!m_pWndShadow) m_pWndShadow.reset(new CWndShadow);
        m_pWndShadow->Create(GetHWND());
        RECT rcCorner = {16, 16, 16, 16};
        RECT rcHoleOffset = {0, 0, 0, 0};
        return m_pWndShadow->SetImage(Product::kShadowImage, rcCorner, rcHoleOffset) ? TRUE : FALSE;
    }

protected:
    // A second copy's request (WM_COPYDATA with COPYDATA_ACTIVATE): show the
    // window when hidden, restore it when minimised, else bring it to the
    // front. Any other data is taken and ignored.
    LRESULT OnCopyData(WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
        bHandled = TRUE;
        if (lParam == 0 || wParam != COPYDATA_ACTIVATE) return 0;
        HWND hWnd = GetHWND();
        if (!::IsWindowVisible(hWnd)) {
            ::ShowWindow(hWnd, SW_SHOWNORMAL);
        } else if (::IsIconic(hWnd)) {
            ::SendMessageW(hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
        } else {
            const UINT flags = SWP_NOMOVE | SWP_NOSIZE;
            ::SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, flags);
            ::SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
        }
        return 0;
    }

    std::unique_ptr<CWndShadow> m_pWndShadow;
};
