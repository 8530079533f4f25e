// Opens every page of the three skins' layouts as the programs show them,
// keeps a screenshot of each ($KELO_ARTIFACTS/ui_*.png) and checks a few
// pixels that a broken page would get wrong: backgrounds drawn, texts
// drawn, the shadow around the window.
#include <gtest/gtest.h>

#include <richedit.h>

#include <functional>
#include <memory>

#include "UiTestUtil.h"

using namespace DuiLib;
using namespace uitest;

namespace {

class GalleryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitLibrary(); }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new GalleryEnvironment);

int R(DWORD c) { return (c >> 16) & 0xFF; }
int G(DWORD c) { return (c >> 8) & 0xFF; }
int B(DWORD c) { return c & 0xFF; }
bool IsTeal(DWORD c) { return G(c) > 120 && G(c) > R(c) + 60 && B(c) > R(c) + 40; }
bool IsWhite(DWORD c) { return R(c) > 240 && G(c) > 240 && B(c) > 240; }
bool Near(DWORD c, DWORD want, int tol) {
    return abs(R(c) - R(want)) <= tol && abs(G(c) - G(want)) <= tol && abs(B(c) - B(want)) <= tol;
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

void LoadLicence(CTestWnd* w) {
    CRichEditUI* re = w->Find<CRichEditUI>(L"editProtocal");
    DWORD dwSize = 0;
    LPBYTE p = CRenderEngine::LoadBuffer(L"protocol.rtf", dwSize);
    ASSERT_NE(p, nullptr);
    std::pair<const BYTE*, DWORD> state(p, dwSize);
    EDITSTREAM es = {reinterpret_cast<DWORD_PTR>(&state), 0, StreamFromBuffer};
    re->StreamIn(SF_RTF | SFF_SELECTION, es);
    CRenderEngine::FreeBuffer(p);
    re->SetSel(0, 0);
}

// Pixels of a label's box that differ from the background colour there.
int InkIn(const Shot& shot, HWND hWnd, const RECT& rcClient) {
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    DWORD bg = shot.At(rc.left + rcClient.left + 1, rc.top + rcClient.top + 1);
    int n = 0;
    for (int y = rcClient.top; y < rcClient.bottom; ++y)
        for (int x = rcClient.left; x < rcClient.right; ++x)
            if (!Near(shot.At(rc.left + x, rc.top + y), bg, 40)) ++n;
    return n;
}

struct Probe {
    POINT pt;  // client coordinates
    std::function<bool(DWORD)> ok;
    const char* what;
};

struct PageCase {
    const wchar_t* shot;
    const wchar_t* layout;
    UINT zipId;
    const wchar_t* zipName;
    SIZE size;  // the size the program's dialog gives the window; 0 keeps the layout's
    std::function<void(CTestWnd*)> prepare;
    std::vector<Probe> probes;
    std::vector<const wchar_t*> inked;  // controls whose text must show
};

std::ostream& operator<<(std::ostream& os, const PageCase& c) {
    return os << testing::PrintToString(std::wstring(c.shot));
}

class GalleryTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(GalleryTest, PageDrawsAndIsKeptAsAPicture) {
    const PageCase& c = GetParam();
    TestWndPtr w(new CTestWnd(L"KeloUiGallery", c.layout, c.zipId, c.zipName));
    w->CreateLikeProgram(120, 90);
    HWND h = w->GetHWND();
    ASSERT_TRUE(IsWindow(h));
    ASSERT_NE(w->PM().GetRoot(), nullptr);
    if (c.size.cx > 0) SetWindowPos(h, NULL, 0, 0, c.size.cx, c.size.cy, SWP_NOMOVE | SWP_NOZORDER);
    if (c.prepare) c.prepare(w.get());
    Pump(300);
    Shot shot = Capture(h, 24);
    EXPECT_TRUE(SavePng(shot, std::wstring(L"ui_") + c.shot)) << "no picture kept ($KELO_ARTIFACTS)";
    RECT rc = {};
    GetWindowRect(h, &rc);
    for (const Probe& p : c.probes) {
        DWORD px = shot.At(rc.left + p.pt.x, rc.top + p.pt.y);
        EXPECT_TRUE(p.ok(px)) << p.what << " at " << p.pt.x << "," << p.pt.y << ": " << std::hex << px;
    }
    for (const wchar_t* name : c.inked) {
        CControlUI* ctl = w->PM().FindControl(name);
        ASSERT_NE(ctl, nullptr);
        EXPECT_GT(InkIn(shot, h, ctl->GetPos()), 20) << "no text drawn in " << testing::PrintToString(std::wstring(name));
    }
    // The shadow darkens what lies just outside the window: compare with the
    // same place once the window (and its shadow) is gone.
    ASSERT_NE(FindShadowOf(h), static_cast<HWND>(NULL));
    DestroyWindow(h);
    Pump(300);
    RECT rcShot = {shot.x, shot.y, shot.x + shot.w, shot.y + shot.h};
    Shot bare = CaptureRect(rcShot);
    for (POINT pt : {POINT{rc.left + 200, rc.bottom + 3}, POINT{rc.right + 3, rc.top + 20}}) {
        DWORD with = shot.At(pt.x, pt.y), without = bare.At(pt.x, pt.y);
        EXPECT_LT(G(with) + 8, G(without)) << "no shadow at " << pt.x - rc.left << "," << pt.y - rc.top << ": "
                                           << std::hex << with << " vs " << without;
    }
}

const SIZE kSetupSize = {640, 400};
const SIZE kKeep = {0, 0};

void SetupPage(CTestWnd* w, int page) {
    w->Find<CTabLayoutUI>(L"mainTab")->SelectItem(page);
    w->Find<CCheckBoxUI>(L"ckOk")->SetCheck(true);
    w->Find<CEditUI>(L"editPath")->SetText(L"C:\\Program Files (x86)\\KeloPdfReader");
}

INSTANTIATE_TEST_SUITE_P(
    Skins, GalleryTest,
    ::testing::Values(
        PageCase{L"setup_page0_folder", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", kSetupSize,
                 [](CTestWnd* w) { SetupPage(w, 0); },
                 {{{40, 100}, IsTeal, "hero background"}, {{40, 300}, IsWhite, "form background"},
                  {{320, 294}, IsTeal, "install button"}, {{5, 385}, [](DWORD c) { return R(c) < 80 && B(c) < 110; }, "footer"}},
                 {L"btnInstall", L"ckOk", L"btnProtocal"}},
        PageCase{L"setup_page0_not_agreed", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", kSetupSize,
                 [](CTestWnd* w) {
                     SetupPage(w, 0);
                     w->Find<CCheckBoxUI>(L"ckOk")->SetCheck(false);
                     w->Find<CButtonUI>(L"btnInstall")->SetEnabled(false);
                 },
                 {{{320, 284}, [](DWORD c) { return !IsTeal(c); }, "disabled install button"}},
                 {L"btnInstall"}},
        PageCase{L"setup_page1_licence", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", kSetupSize,
                 [](CTestWnd* w) {
                     SetupPage(w, 1);
                     LoadLicence(w);
                 },
                 {{{300, 8}, IsTeal, "header"}},
                 {L"btnBack"}},
        PageCase{L"setup_page2_progress", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", kSetupSize,
                 [](CTestWnd* w) {
                     SetupPage(w, 2);
                     w->Find<CProgressUI>(L"instProgress")->SetValue(40);
                 },
                 {{{100, 295}, IsTeal, "filled part of the bar"},
                  {{500, 295}, [](DWORD c) { return !IsTeal(c) && G(c) > 200; }, "empty part of the bar"},
                  {{300, 10}, IsTeal, "title bar"}},
                 {L"labelInstallTip"}},
        PageCase{L"setup_page3_finish", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip", kSetupSize,
                 [](CTestWnd* w) { SetupPage(w, 3); },
                 {{{250, 338}, IsTeal, "finish button"}},
                 {L"btnStartExe"}},
        PageCase{L"uninst_page0_form", L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip", kKeep,
                 [](CTestWnd* w) {
                     w->Find<CCheckBoxUI>(L"ck_aways_close")->SetCheck(true);
                     w->Find<CTabLayoutUI>(L"mainTab")->SelectItem(0);
                 },
                 {{{100, 230}, [](DWORD c) { return Near(c, 0x0eb29a, 10); }, "green band"},
                  {{400, 160}, IsWhite, "suggestion panel"}},
                 {L"ck_function", L"ck_aways_close", L"ck_direct_uninstall", L"btnCancel", L"btnUnInstall"}},
        PageCase{L"uninst_page0_typed", L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip", kKeep,
                 [](CTestWnd* w) {
                     w->Find<CRichEditUI>(L"edit_contact")->SetText(L"user@example.com");
                     w->Find<CRichEditUI>(L"edit_suggestion")->SetText(L"希望增加夜间阅读模式，\r并支持批注导出。");
                 },
                 {},
                 {}},
        PageCase{L"uninst_page1_progress", L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip", kKeep,
                 [](CTestWnd* w) {
                     w->Find<CTabLayoutUI>(L"mainTab")->SelectItem(1);
                     w->Find<CProgressUI>(L"uninstProgress")->SetValue(60);
                     w->Find<CLabelUI>(L"txtStatus")->SetText(L"正在删除文件...");
                 },
                 {{{100, 279}, IsTeal, "filled part of the bar"}},
                 {L"txtStatus"}},
        PageCase{L"uninst_page2_finished", L"UninstDlg.xml", kUninstZipId, L"UninstSkin.zip", kKeep,
                 [](CTestWnd* w) { w->Find<CTabLayoutUI>(L"mainTab")->SelectItem(2); },
                 {{{250, 338}, IsTeal, "finish button"}},
                 {L"btnOver"}},
        PageCase{L"uninst_msgbox", L"UninstMsgDlg.xml", kUninstZipId, L"UninstSkin.zip", kKeep,
                 [](CTestWnd* w) {
                     w->Find<CTextUI>(L"msgLabel")->SetText(L"确定要卸载KeloPDF阅读器吗？卸载后您的阅读记录将被清除。");
                     w->Find<CTabLayoutUI>(L"mainTab")->SelectItem(2);
                 },
                 {{{100, 2}, IsTeal, "top strip"}},
                 {L"msgTitleLabel", L"msgLabel", L"btnOk", L"btnCancel"}},
        PageCase{L"update_strip", L"UpdateDlg.xml", kUpdateZipId, L"UpdateSkin.zip", kKeep, nullptr,
                 {{{30, 20}, [](DWORD c) { return G(c) > R(c) + 30; }, "translucent teal strip"}},
                 {L"txtStatus"}}));

}  // namespace
