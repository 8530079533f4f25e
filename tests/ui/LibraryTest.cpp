// What the programs rely on from DuiLib and the window base, shown on the
// real layouts of the skins: skin loading from the "ZIPRES" resource,
// controls by name, notifications and their order, keys, modal codes, the
// message loop, the final message, custom messages, tabs, caption, shadow,
// fonts and the native edits.
#include <gtest/gtest.h>

#include <richedit.h>

#include <memory>

#include "UiTestUtil.h"

using namespace DuiLib;
using namespace uitest;

namespace {

class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitLibrary(); }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

// A window of one layout, destroyed (if still there) after the test.
class WindowTest : public ::testing::Test {
protected:
    CTestWnd* Open(const wchar_t* pLayout, UINT nZipId, const wchar_t* pZipName, int x = 60, int y = 60) {
        m_wnd.reset(new CTestWnd(L"KeloUiLibWnd", pLayout, nZipId, pZipName));
        m_wnd->CreateLikeProgram(x, y);
        return m_wnd.get();
    }
    CTestWnd* OpenSetup() { return Open(L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip"); }
    CTestWnd* OpenUninst() { return Open(L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip"); }
    void TearDown() override {
        if (m_wnd && IsWindow(m_wnd->GetHWND())) DestroyWindow(m_wnd->GetHWND());
        Pump(50);
        m_wnd.reset();
    }
    TestWndPtr m_wnd;
};

// ---------------------------------------------------------------- skins and names

struct LayoutCase {
    const wchar_t* layout;
    UINT zipId;
    const wchar_t* zipName;
    int width, height;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> controls;  // name, class
};

class LayoutLoadTest : public WindowTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutLoadTest, LoadsFromTheZipResourceByIdAndFindsControlsByName) {
    const LayoutCase& c = GetParam();
    CTestWnd* w = Open(c.layout, c.zipId, c.zipName);
    ASSERT_TRUE(IsWindow(w->GetHWND()));
    EXPECT_EQ(w->GetResourceType(), UILIB_ZIPRESOURCE);
    EXPECT_STREQ(CPaintManagerUI::GetResourceZip(), c.zipName);
    EXPECT_EQ(w->initCount, 1);
    RECT rc = {};
    GetWindowRect(w->GetHWND(), &rc);
    EXPECT_EQ(rc.right - rc.left, c.width) << "the layout's window size takes over";
    EXPECT_EQ(rc.bottom - rc.top, c.height);
    for (const auto& ctl : c.controls) {
        CControlUI* p = w->PM().FindControl(ctl.first);
        ASSERT_NE(p, nullptr) << "control " << testing::PrintToString(std::wstring(ctl.first));
        EXPECT_NE(p->GetInterface(ctl.second), nullptr)
            << testing::PrintToString(std::wstring(ctl.first)) << " is not a " << testing::PrintToString(std::wstring(ctl.second));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Skins, LayoutLoadTest,
    ::testing::Values(
        LayoutCase{L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", 650, 402,
                   {{L"mainTab", DUI_CTR_TABLAYOUT}, {L"editPath", DUI_CTR_EDIT}, {L"btnSelPath", DUI_CTR_BUTTON},
                    {L"btnInstall", DUI_CTR_BUTTON}, {L"ckOk", DUI_CTR_CHECKBOX}, {L"btnProtocal", DUI_CTR_BUTTON},
                    {L"editProtocal", DUI_CTR_RICHEDIT}, {L"btnBack", DUI_CTR_BUTTON},
                    {L"instProgress", DUI_CTR_PROGRESS}, {L"labelInstallTip", DUI_CTR_LABEL},
                    {L"btnStartExe", DUI_CTR_BUTTON}, {L"minBtn", DUI_CTR_BUTTON}, {L"closeBtn", DUI_CTR_BUTTON}}},
        LayoutCase{L"MsgBoxDlg.xml", kSetupZipId, L"SetupSkin.zip", 320, 310,
                   {{L"msgTitleLabel", DUI_CTR_LABEL}, {L"msgLabel", DUI_CTR_TEXT}, {L"closeBtn", DUI_CTR_BUTTON},
                    {L"mainTab", DUI_CTR_TABLAYOUT}, {L"btnNo", DUI_CTR_BUTTON}, {L"btnYes", DUI_CTR_BUTTON},
                    {L"btnSingleYes", DUI_CTR_BUTTON}, {L"btnCancel", DUI_CTR_BUTTON}, {L"btnOk", DUI_CTR_BUTTON},
                    {L"btnSingleOk", DUI_CTR_BUTTON}}},
        LayoutCase{L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip", 650, 402,
                   {{L"mainTab", DUI_CTR_TABLAYOUT}, {L"uninstProgress", DUI_CTR_PROGRESS},
                    {L"txtStatus", DUI_CTR_LABEL}, {L"edit_contact", DUI_CTR_RICHEDIT},
                    {L"edit_suggestion", DUI_CTR_RICHEDIT}, {L"ck_function", DUI_CTR_CHECKBOX},
                    {L"ck_aways_close", DUI_CTR_CHECKBOX}, {L"ck_direct_uninstall", DUI_CTR_CHECKBOX},
                    {L"btnCancel", DUI_CTR_BUTTON}, {L"btnUnInstall", DUI_CTR_BUTTON}, {L"btnOver", DUI_CTR_BUTTON},
                    {L"closeBtn", DUI_CTR_BUTTON}}},
        LayoutCase{L"UninstMsgDlg.xml", kUninstZipId, L"UninstSkin.zip", 320, 310,
                   {{L"msgTitleLabel", DUI_CTR_LABEL}, {L"msgLabel", DUI_CTR_TEXT}, {L"mainTab", DUI_CTR_TABLAYOUT}}},
        LayoutCase{L"UpdateDlg.xml", kUpdateZipId, L"UpdateSkin.zip", 400, 40, {{L"txtStatus", DUI_CTR_LABEL}}}));

TEST_F(WindowTest, LayoutTextsAreTheSkinsOwn) {
    CTestWnd* w = OpenSetup();
    const std::pair<const wchar_t*, const wchar_t*> texts[] = {
        {L"btnInstall", L"立即安装"}, {L"ckOk", L"已阅读并同意"},     {L"btnProtocal", L"用户许可协议"},
        {L"btnBack", L"返回"},        {L"labelInstallTip", L"正在安装中..."}, {L"btnStartExe", L"安装完成"}};
    for (const auto& t : texts) EXPECT_STREQ(w->PM().FindControl(t.first)->GetText(), t.second);
}

TEST_F(WindowTest, AResourceIdTheProgramLacksGivesNoLayout) {
    CTestWnd* w = Open(L"SetupDlg.xml", 999, L"Missing.zip");
    ASSERT_TRUE(IsWindow(w->GetHWND()));
    EXPECT_EQ(w->PM().FindControl(L"mainTab"), nullptr);
}

TEST_F(WindowTest, UpdateStripIsALayeredWindow) {
    CTestWnd* w = Open(L"UpdateDlg.xml", kUpdateZipId, L"UpdateSkin.zip");
    EXPECT_TRUE(GetWindowLongPtrW(w->GetHWND(), GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_STREQ(w->Find<CLabelUI>(L"txtStatus")->GetText(), L"KeloPDF正在升级...");
}

TEST_F(WindowTest, SystemLibrariesComeFromTheSystemFolderOnly) {
    OpenUninst();  // a layout (XmlLite) with rich edits
    // A 32-bit program on 64-bit Windows gets its system DLLs from SysWOW64,
    // which its own view calls the system folder.
    wchar_t szSystem[MAX_PATH] = {}, szWow64[MAX_PATH] = {};
    GetSystemDirectoryW(szSystem, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (wow64) GetSystemWow64DirectoryW(szWow64, MAX_PATH);
    const std::wstring system = szSystem, systemWow64 = szWow64;
    int found = 0;
    for (const wchar_t* name : {L"xmllite.dll", L"msftedit.dll", L"riched20.dll", L"windowscodecs.dll"}) {
        HMODULE h = GetModuleHandleW(name);
        if (h == NULL) continue;
        ++found;
        wchar_t szPath[MAX_PATH] = {};
        GetModuleFileNameW(h, szPath, MAX_PATH);
        std::wstring path = szPath;
        const bool inSystem = _wcsnicmp(path.c_str(), (system + L"\\").c_str(), system.size() + 1) == 0 ||
                              (wow64 && _wcsnicmp(path.c_str(), (systemWow64 + L"\\").c_str(),
                                                  systemWow64.size() + 1) == 0);
        EXPECT_TRUE(inSystem) << testing::PrintToString(path) << " is not in the system folder";
    }
    EXPECT_GE(found, 3) << "XmlLite, a rich edit library and WIC are in use";
}

// ---------------------------------------------------------------- clicks and notifications

TEST_F(WindowTest, AClickNotificationNamesItsControl) {
    CTestWnd* w = OpenSetup();
    CNotifyRecorder rec;
    w->PM().AddNotifier(&rec);
    Click(w->GetHWND(), CenterOf(w->PM().FindControl(L"btnProtocal")));
    Click(w->GetHWND(), CenterOf(w->PM().FindControl(L"btnSelPath")));
    ASSERT_EQ(w->clicks.size(), 2u);
    EXPECT_EQ(w->clicks[0], L"btnProtocal");
    EXPECT_EQ(w->clicks[1], L"btnSelPath");
    ASSERT_EQ(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].type, L"click");
    EXPECT_EQ(rec.notes[0].name, L"btnProtocal");
    // A click on an empty part of the page names no button.
    Click(w->GetHWND(), POINT{100, 300});
    EXPECT_EQ(w->clicks.size(), 2u);
}

TEST_F(WindowTest, ACheckBoxClickArrivesBeforeTheBoxChangesState) {
    CTestWnd* w = OpenSetup();
    CCheckBoxUI* ck = w->Find<CCheckBoxUI>(L"ckOk");
    ck->SetCheck(true);  // as the setup dialog ticks it
    CNotifyRecorder rec;
    w->PM().AddNotifier(&rec);
    POINT pt = CenterOf(ck);
    Click(w->GetHWND(), pt);
    ASSERT_EQ(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].type, L"click");
    EXPECT_EQ(rec.notes[0].name, L"ckOk");
    EXPECT_EQ(rec.notes[0].checked, 1) << "the click shows the state from before the click";
    EXPECT_EQ(rec.notes[1].type, L"selectchanged");
    EXPECT_EQ(rec.notes[1].checked, 0);
    EXPECT_FALSE(ck->GetCheck());
    rec.notes.clear();
    Click(w->GetHWND(), pt);
    ASSERT_EQ(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].checked, 0);
    EXPECT_EQ(rec.notes[1].checked, 1);
    EXPECT_TRUE(ck->GetCheck());
}

TEST_F(WindowTest, ADisabledButtonIgnoresClicks) {
    CTestWnd* w = OpenSetup();
    CButtonUI* btn = w->Find<CButtonUI>(L"btnInstall");
    btn->SetEnabled(false);
    Click(w->GetHWND(), CenterOf(btn));
    EXPECT_TRUE(w->clicks.empty());
    btn->SetEnabled(true);
    Click(w->GetHWND(), CenterOf(btn));
    ASSERT_EQ(w->clicks.size(), 1u);
    EXPECT_EQ(w->clicks[0], L"btnInstall");
}

TEST_F(WindowTest, ButtonDownInsideAndUpOutsideIsNoClick) {
    CTestWnd* w = OpenSetup();
    POINT in = CenterOf(w->PM().FindControl(L"btnInstall"));
    PostMessageW(w->GetHWND(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(in.x, in.y));
    PostMessageW(w->GetHWND(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, 300));
    PostMessageW(w->GetHWND(), WM_LBUTTONUP, 0, MAKELPARAM(20, 300));
    Pump(150);
    EXPECT_TRUE(w->clicks.empty());
}

// ---------------------------------------------------------------- keys

class CPlainWnd : public WindowImplBase {
public:
    LPCTSTR GetWindowClassName() const override { return L"KeloUiLibPlain"; }
    CDuiString GetSkinFolder() override { return CDuiString(L"SetupSkin\\"); }
    CDuiString GetSkinFile() override { return CDuiString(L"MsgBoxDlg.xml"); }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    LPCTSTR GetResourceID() const override { return MAKEINTRESOURCE(kSetupZipId); }
};

void PressKey(HWND hWnd, WPARAM vk) {
    PostMessageW(hWnd, WM_KEYDOWN, vk, 1);
    PostMessageW(hWnd, WM_CHAR, vk == VK_RETURN ? L'\r' : 27, 1);
    PostMessageW(hWnd, WM_KEYUP, vk, 0xC0000001);
    Pump(150);
}

TEST_F(WindowTest, EscapeAndEnterNeverCloseTheWindowNorPressAButton) {
    CTestWnd* w = OpenSetup();
    HWND h = w->GetHWND();
    // The last clicked button would be the "default" one if there were any.
    Click(h, CenterOf(w->PM().FindControl(L"btnInstall")));
    w->clicks.clear();
    PressKey(h, VK_ESCAPE);
    PressKey(h, VK_RETURN);
    HWND hEdit = w->Find<CEditUI>(L"editPath")->GetNativeWindow();
    SetFocus(hEdit);
    PressKey(hEdit, VK_ESCAPE);
    PressKey(hEdit, VK_RETURN);
    Pump(100);
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(w->clicks.empty());
}

TEST(PlainWindowTest, TheBaseClassesDefaultKeyResponseClosesOnEscape) {
    // What the window base switches off: WindowImplBase alone closes on Escape.
    CPlainWnd plain;
    HWND h = plain.Create(NULL, L"plain", 0x10CF0000, 0, 60, 60, 400, 300);
    ASSERT_TRUE(IsWindow(h));
    PressKey(h, VK_RETURN);
    EXPECT_TRUE(IsWindow(h));
    PressKey(h, VK_ESCAPE);
    EXPECT_FALSE(IsWindow(h));
}

// ---------------------------------------------------------------- modal, loop, final message

CWindowWnd* g_pToClose = nullptr;
UINT g_nCloseCode = 0;
BOOL g_bOwnerEnabledDuringModal = TRUE;
HWND g_hOwner = NULL;

void CALLBACK CloseLater(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(NULL, id);
    if (g_hOwner) g_bOwnerEnabledDuringModal = IsWindowEnabled(g_hOwner);
    g_pToClose->Close(g_nCloseCode);
}

TEST_F(WindowTest, ShowModalReturnsTheCodeGivenToClose) {
    CTestWnd* owner = OpenSetup();
    for (UINT code : {1u, 2u, 4u, 8u, 16u, 77u}) {
        CTestWnd box(L"KeloUiLibModal", L"MsgBoxDlg.xml", kSetupZipId, L"SetupSkin.zip");
        box.Create(owner->GetHWND(), L"modal", 0x96C80000, 0x00040000, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   CW_USEDEFAULT);
        g_pToClose = &box;
        g_nCloseCode = code;
        g_hOwner = owner->GetHWND();
        g_bOwnerEnabledDuringModal = TRUE;
        SetTimer(NULL, 0, 100, CloseLater);
        EXPECT_EQ(box.ShowModal(), code);
        EXPECT_FALSE(g_bOwnerEnabledDuringModal) << "the owner is disabled while the box runs";
        EXPECT_TRUE(IsWindowEnabled(owner->GetHWND()));
        EXPECT_FALSE(IsWindow(box.GetHWND()));
        EXPECT_TRUE(box.finalRan);
    }
    g_hOwner = NULL;
}

void CALLBACK QuitLater(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(NULL, id);
    PostQuitMessage(0);
}

TEST_F(WindowTest, MessageLoopReturnsOnTheQuitMessage) {
    CTestWnd* w = OpenSetup();
    PostMessageW(w->GetHWND(), 2026, 5, 6);
    SetTimer(NULL, 0, 100, QuitLater);
    CPaintManagerUI::MessageLoop();  // returns, or the test times out
    EXPECT_TRUE(IsWindow(w->GetHWND())) << "the quit message ends the loop, not the window";
    ASSERT_FALSE(w->custom.empty());
    EXPECT_EQ(w->custom[0].uMsg, 2026u);
}

TEST_F(WindowTest, OnFinalMessageRunsAfterTheWindowIsDestroyed) {
    CTestWnd* w = OpenSetup();
    HWND h = w->GetHWND();
    HWND hEdit = w->Find<CEditUI>(L"editPath")->GetNativeWindow();
    ASSERT_TRUE(IsWindow(hEdit));
    EXPECT_FALSE(w->finalRan);
    DestroyWindow(h);
    EXPECT_TRUE(w->finalRan);
    // The last message of the window: its children are gone and the object
    // no longer holds the handle, so a dialog can delete itself there.
    EXPECT_EQ(w->childrenAtFinal, 0);
    EXPECT_EQ(w->hwndAtFinal, static_cast<HWND>(NULL));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(IsWindow(hEdit));
}

// A dialog that deletes itself in OnFinalMessage, as the programs' do.
class CSelfDeletingWnd : public CTestWnd {
public:
    explicit CSelfDeletingWnd(bool* pDeleted)
        : CTestWnd(L"KeloUiLibSelfDelete", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip"), m_pDeleted(pDeleted) {}
    ~CSelfDeletingWnd() override { *m_pDeleted = true; }

protected:
    void OnFinalMessage(HWND hWnd) override {
        CTestWnd::OnFinalMessage(hWnd);
        delete this;
    }

private:
    bool* m_pDeleted;
};

TEST(SelfDeletingWindowTest, ClosingDeletesTheDialogAndItsShadow) {
    bool bDeleted = false;
    CSelfDeletingWnd* w = new CSelfDeletingWnd(&bDeleted);
    HWND h = w->CreateLikeProgram();
    HWND hShadow = FindShadowOf(h);
    ASSERT_NE(hShadow, static_cast<HWND>(NULL));
    w->Close(1);
    PumpUntil([&] { return bDeleted; }, 3000);
    EXPECT_TRUE(bDeleted);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(IsWindow(hShadow));
}

TEST_F(WindowTest, Messages2025And2026AndCopyDataReachHandleCustomMessageUnchanged) {
    CTestWnd* w = OpenSetup();
    HWND h = w->GetHWND();
    int record = 0;
    COPYDATASTRUCT cds = {0, 0, NULL};
    SendMessageW(h, 2025, reinterpret_cast<WPARAM>(&record), 0);
    PostMessageW(h, 2026, 0x1234, 0x5678);
    Pump(50);
    SendMessageW(h, WM_COPYDATA, 2024, reinterpret_cast<LPARAM>(&cds));
    ASSERT_EQ(w->custom.size(), 3u);
    EXPECT_EQ(w->custom[0].uMsg, 2025u);
    EXPECT_EQ(w->custom[0].wParam, reinterpret_cast<WPARAM>(&record));
    EXPECT_EQ(w->custom[0].lParam, 0);
    EXPECT_EQ(w->custom[1].uMsg, 2026u);
    EXPECT_EQ(w->custom[1].wParam, 0x1234u);
    EXPECT_EQ(w->custom[1].lParam, 0x5678);
    EXPECT_EQ(w->custom[2].uMsg, static_cast<UINT>(WM_COPYDATA));
    EXPECT_EQ(w->custom[2].wParam, 2024u);
    EXPECT_EQ(w->custom[2].lParam, reinterpret_cast<LPARAM>(&cds));
}

// ---------------------------------------------------------------- tabs, caption, shadow

TEST_F(WindowTest, SelectItemWithAndWithoutTheChangeEvent) {
    CTestWnd* w = OpenSetup();
    CTabLayoutUI* tab = w->Find<CTabLayoutUI>(L"mainTab");
    HWND hEdit = w->Find<CEditUI>(L"editPath")->GetNativeWindow();
    ASSERT_NE(hEdit, static_cast<HWND>(NULL));
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_TRUE(IsWindowVisible(hEdit));
    CNotifyRecorder rec;
    w->PM().AddNotifier(&rec);
    EXPECT_TRUE(tab->SelectItem(2));
    Pump(100);
    ASSERT_EQ(rec.notes.size(), 1u);
    EXPECT_EQ(rec.notes[0].type, L"tabselect");
    EXPECT_EQ(rec.notes[0].wParam, 2u);
    EXPECT_EQ(rec.notes[0].lParam, 0);
    EXPECT_FALSE(IsWindowVisible(hEdit)) << "native edits of hidden pages are hidden";
    EXPECT_TRUE(tab->SelectItem(1, false));
    Pump(100);
    EXPECT_EQ(rec.notes.size(), 1u);
    EXPECT_EQ(tab->GetCurSel(), 1);
    EXPECT_TRUE(IsWindowVisible(w->Find<CRichEditUI>(L"editProtocal")->GetNativeWindow()));
    EXPECT_FALSE(tab->SelectItem(4));
    tab->SelectItem(0, false);
    Pump(100);
    EXPECT_TRUE(IsWindowVisible(hEdit));
}

TEST_F(WindowTest, TheCaptionAreaDragsTheWindowButItsButtonsStayButtons) {
    CTestWnd* w = OpenSetup();
    HWND h = w->GetHWND();
    RECT rc = {};
    GetWindowRect(h, &rc);
    auto hit = [&](POINT pt) {
        return SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(rc.left + pt.x, rc.top + pt.y));
    };
    EXPECT_EQ(hit(POINT{120, 20}), HTCAPTION);
    EXPECT_EQ(hit(POINT{320, 190}), HTCAPTION) << "the logo and title are not controls to press";
    EXPECT_EQ(hit(CenterOf(w->PM().FindControl(L"closeBtn"))), HTCLIENT);
    EXPECT_EQ(hit(CenterOf(w->PM().FindControl(L"minBtn"))), HTCLIENT);
    EXPECT_EQ(hit(POINT{120, 240}), HTCLIENT) << "below the 200-pixel caption";
}

bool ShadowMatches(HWND hShadow, HWND hWnd) {
    RECT rcShadow = {}, rcWnd = {};
    GetWindowRect(hShadow, &rcShadow);
    GetWindowRect(hWnd, &rcWnd);
    InflateRect(&rcWnd, 16, 16);
    return EqualRect(&rcShadow, &rcWnd) != FALSE;
}

TEST_F(WindowTest, TheShadowIsCreatedAndFollowsTheWindow) {
    CTestWnd* w = OpenSetup();
    HWND h = w->GetHWND();
    HWND hShadow = FindShadowOf(h);
    ASSERT_NE(hShadow, static_cast<HWND>(NULL));
    LONG_PTR ex = GetWindowLongPtrW(hShadow, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
    EXPECT_TRUE(ex & WS_EX_TRANSPARENT) << "clicks go through the shadow";
    EXPECT_TRUE(IsWindowVisible(hShadow));
    EXPECT_TRUE(ShadowMatches(hShadow, h));

    SetWindowPos(h, NULL, 237, 163, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Pump(100);
    RECT rcShadow = {};
    GetWindowRect(hShadow, &rcShadow);
    EXPECT_EQ(rcShadow.left, 237 - 16);
    EXPECT_EQ(rcShadow.top, 163 - 16);
    EXPECT_TRUE(ShadowMatches(hShadow, h));

    SetWindowPos(h, NULL, 0, 0, 640, 400, SWP_NOMOVE | SWP_NOZORDER);
    Pump(100);
    EXPECT_TRUE(ShadowMatches(hShadow, h)) << "the shadow follows a new size";

    ShowWindow(h, SW_HIDE);
    Pump(50);
    EXPECT_FALSE(IsWindowVisible(hShadow));
    ShowWindow(h, SW_SHOWNOACTIVATE);
    Pump(50);
    EXPECT_TRUE(IsWindowVisible(hShadow));
    DestroyWindow(h);
    EXPECT_FALSE(IsWindow(hShadow));
}

TEST_F(WindowTest, TheWindowGetsTheProgramIcon) {
    CTestWnd* w = OpenSetup();
    HICON hBig = reinterpret_cast<HICON>(SendMessageW(w->GetHWND(), WM_GETICON, ICON_BIG, 0));
    ASSERT_NE(hBig, static_cast<HICON>(NULL));
    ICONINFO ii = {};
    ASSERT_TRUE(GetIconInfo(hBig, &ii));
    BITMAP bm = {};
    GetObjectW(ii.hbmColor, sizeof(bm), &bm);
    EXPECT_GE(bm.bmWidth, 32);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
}

// ---------------------------------------------------------------- fonts and text input

TEST_F(WindowTest, LayoutFontsHaveChineseGlyphsEvenWithoutMicrosoftYaHei) {
    CTestWnd* w = OpenSetup();
    HDC hdc = w->PM().GetPaintDC();
    for (int id = 1; id <= 10; ++id) {
        TFontInfo* f = w->PM().GetFontInfo(id);
        ASSERT_NE(f, nullptr);
        HGDIOBJ hOld = SelectObject(hdc, f->hFont);
        WORD glyphs[6] = {};
        DWORD n = GetGlyphIndicesW(hdc, L"安装卸载升级", 6, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        SelectObject(hdc, hOld);
        ASSERT_EQ(n, 6u);
        for (WORD g : glyphs) EXPECT_NE(g, 0xFFFF) << "font " << id << " (" << testing::PrintToString(std::wstring(f->sFontName)) << ") lacks Chinese";
    }
    EXPECT_EQ(w->PM().GetFontInfo(6)->bBold, true);
    EXPECT_EQ(w->PM().GetFontInfo(9)->iSize, 36);
}

DWORD CALLBACK StreamFromBuffer(DWORD_PTR cookie, LPBYTE buf, LONG cb, LONG* pcb) {
    auto* s = reinterpret_cast<std::pair<const BYTE*, DWORD>*>(cookie);
    LONG n = static_cast<LONG>(s->second) < cb ? static_cast<LONG>(s->second) : cb;
    memcpy(buf, s->first, n);
    s->first += n;
    s->second -= n;
    *pcb = n;
    return 0;
}

TEST_F(WindowTest, TheLicenceStreamsIntoTheRichEditAsRtf) {
    CTestWnd* w = OpenSetup();
    CRichEditUI* re = w->Find<CRichEditUI>(L"editProtocal");
    DWORD dwSize = 0;
    LPBYTE pData = CRenderEngine::LoadBuffer(L"protocol.rtf", dwSize);
    ASSERT_NE(pData, nullptr);
    EXPECT_GT(dwSize, 1000u);
    std::pair<const BYTE*, DWORD> state(pData, dwSize);
    EDITSTREAM es = {reinterpret_cast<DWORD_PTR>(&state), 0, StreamFromBuffer};
    re->StreamIn(SF_RTF | SFF_SELECTION, es);
    CRenderEngine::FreeBuffer(pData);
    std::wstring text = re->GetText().GetData();
    EXPECT_NE(text.find(L"Xandel电子商务有限公司"), std::wstring::npos);
    EXPECT_NE(text.find(L"KeloPDF阅读器"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\\rtf"), std::wstring::npos) << "streamed as RTF, not as text";
    EXPECT_TRUE(GetWindowLongPtrW(re->GetNativeWindow(), GWL_STYLE) & ES_MULTILINE);
    EXPECT_TRUE(GetWindowLongPtrW(re->GetNativeWindow(), GWL_STYLE) & WS_VSCROLL);

    re->SetSel(3, 9);
    long a = -1, b = -1;
    re->GetSel(a, b);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 9);
    DWORD missing = 7;
    EXPECT_EQ(CRenderEngine::LoadBuffer(L"no-such-file.rtf", missing), nullptr);
    EXPECT_EQ(missing, 0u);
}

TEST_F(WindowTest, RichEditLimitsStopTypingAndLinesFollowTheLayout) {
    CTestWnd* w = OpenUninst();
    CRichEditUI* contact = w->Find<CRichEditUI>(L"edit_contact");
    CRichEditUI* suggestion = w->Find<CRichEditUI>(L"edit_suggestion");
    contact->SetLimitText(100);
    suggestion->SetLimitText(200);
    HWND hContact = contact->GetNativeWindow();
    HWND hSuggestion = suggestion->GetNativeWindow();
    ASSERT_NE(hContact, static_cast<HWND>(NULL));
    EXPECT_FALSE(GetWindowLongPtrW(hContact, GWL_STYLE) & ES_MULTILINE);
    EXPECT_TRUE(GetWindowLongPtrW(hSuggestion, GWL_STYLE) & ES_MULTILINE);
    SetFocus(hContact);
    for (int i = 0; i < 150; ++i) PostMessageW(hContact, WM_CHAR, L'a' + (i % 26), 1);
    SetFocus(hSuggestion);
    for (int i = 0; i < 260; ++i) PostMessageW(hSuggestion, WM_CHAR, i % 40 == 39 ? L'\r' : L'键', 1);
    Pump(300);
    EXPECT_EQ(contact->GetTextLength(), 100);
    EXPECT_EQ(suggestion->GetTextLength(), 200);
    EXPECT_EQ(contact->GetText().GetLength(), 100);
}

TEST_F(WindowTest, EditPathIsANativeEditThatReportsTyping) {
    CTestWnd* w = OpenSetup();
    CEditUI* edit = w->Find<CEditUI>(L"editPath");
    HWND hEdit = edit->GetNativeWindow();
    wchar_t cls[32] = {};
    GetClassNameW(hEdit, cls, 32);
    EXPECT_EQ(_wcsicmp(cls, L"Edit"), 0);
    edit->SetText(L"D:\\Apps");
    wchar_t buf[64] = {};
    GetWindowTextW(hEdit, buf, 64);
    EXPECT_STREQ(buf, L"D:\\Apps");
    CNotifyRecorder rec;
    w->PM().AddNotifier(&rec);
    SetFocus(hEdit);
    SendMessageW(hEdit, EM_SETSEL, 7, 7);
    PostMessageW(hEdit, WM_CHAR, L'\\', 1);
    PostMessageW(hEdit, WM_CHAR, L'X', 1);
    Pump(150);
    EXPECT_STREQ(edit->GetText(), L"D:\\Apps\\X");
    ASSERT_FALSE(rec.notes.empty());
    EXPECT_EQ(rec.notes.back().type, L"textchanged");
}

TEST_F(WindowTest, ProgressValueStaysInItsRange) {
    CTestWnd* w = OpenSetup();
    CProgressUI* bar = w->Find<CProgressUI>(L"instProgress");
    EXPECT_EQ(bar->GetMinValue(), 0);
    EXPECT_EQ(bar->GetMaxValue(), 100);
    bar->SetValue(30);
    EXPECT_EQ(bar->GetValue(), 30);
    bar->SetValue(150);
    EXPECT_EQ(bar->GetValue(), 100);
    bar->SetValue(-5);
    EXPECT_EQ(bar->GetValue(), 0);
}

}  // namespace
