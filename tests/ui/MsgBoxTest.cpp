// The setup program's message box: the close code of every button on
// every page, keys that do nothing, and the sizes FitToText gives.
// A helper thread plays the user: it waits until the box runs modally,
// (optionally) takes its picture, and clicks by layout coordinates.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "MsgBoxDlg.h"
#include "UiTestUtil.h"

using namespace DuiLib;
using namespace uitest;

namespace {

// One owner window (the setup dialog's layout) for all boxes of the run.
CTestWnd* g_pOwner = nullptr;

class MsgBoxEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        InitLibrary();
        g_pOwner = new CTestWnd(L"KeloUiMsgBoxOwner", L"SetupDlg.xml", kSetupZipId, L"SetupSkin.zip");
        g_pOwner->withShadow = false;
        g_pOwner->CreateLikeProgram(20, 20);
    }
    void TearDown() override {
        if (IsWindow(g_pOwner->GetHWND())) DestroyWindow(g_pOwner->GetHWND());
        delete g_pOwner;
        g_pOwner = nullptr;
    }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new MsgBoxEnvironment);

const wchar_t kShortText[] = L"安装目录无效，请重新指定!";
const wchar_t kTwoLineText[] = L"您计算机已经安装过\n确定要覆盖安装吗?";

std::wstring LongText() {
    std::wstring s;
    const wchar_t* piece = L"安装程序需要关闭正在运行的KeloPDF阅读器，并停止它的后台服务，才能继续复制文件。";
    while (s.size() < 400) s += piece;
    return s;
}

// Where a button of a page is, from the layout: the button row is 40 high,
// centred in the 90-pixel tab at the bottom; paired buttons are 120 wide
// with 20 between them, single ones 260; "closeBtn" sits at 0,10 in the
// 30-pixel column at the right of the 60-pixel title row.
POINT ButtonPoint(int W, int H, const std::wstring& name) {
    const int y = H - 45;
    const int left = (W - 260) / 2;
    if (name == L"closeBtn") return POINT{W - 30 + 10, 20};
    if (name == L"btnNo" || name == L"btnCancel") return POINT{left + 60, y};
    if (name == L"btnYes" || name == L"btnOk") return POINT{left + 200, y};
    if (name == L"gap") return POINT{W / 2, y};
    return POINT{W / 2, y};  // btnSingleYes, btnSingleOk
}

// This process's message box (other test programs may show theirs).
struct BoxSearch {
    HWND hFound;
};

BOOL CALLBACK FindOwnBox(HWND hWnd, LPARAM lParam) {
    wchar_t cls[32] = {};
    GetClassNameW(hWnd, cls, 32);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (wcscmp(cls, L"MsgBoxDlg") == 0 && pid == GetCurrentProcessId()) {
        reinterpret_cast<BoxSearch*>(lParam)->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

HWND OwnMsgBox() {
    BoxSearch s = {NULL};
    EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&s));
    return s.hFound;
}

// The user, on a thread of its own.
class CUser {
public:
    enum Action { kClick, kKeysThenClick, kSystemClose };
    CUser(HWND hOwner, Action action, std::wstring button, std::wstring shot = L"")
        : m_hOwner(hOwner), m_action(action), m_button(std::move(button)), m_shot(std::move(shot)) {
        m_hThread = CreateThread(NULL, 0, Run, this, 0, NULL);
    }
    ~CUser() {
        WaitForSingleObject(m_hThread, 20000);
        CloseHandle(m_hThread);
    }
    bool found() const { return m_found; }
    bool survivedKeys() const { return m_survivedKeys; }
    SIZE size() const { return m_size; }

private:
    static DWORD WINAPI Run(LPVOID p) {
        static_cast<CUser*>(p)->Play();
        return 0;
    }
    void Play() {
        HWND hBox = NULL;
        for (int i = 0; i < 200 && hBox == NULL; ++i) {
            Sleep(50);
            HWND h = OwnMsgBox();
            // ShowModal has started when it disabled the owner.
            if (h && IsWindowVisible(h) && !IsWindowEnabled(m_hOwner)) hBox = h;
        }
        if (hBox == NULL) return;
        m_found = true;
        Sleep(300);
        RECT rc = {};
        GetWindowRect(hBox, &rc);
        m_size = SIZE{rc.right - rc.left, rc.bottom - rc.top};
        if (!m_shot.empty()) SavePng(Capture(hBox, 24), m_shot);
        if (m_action == kSystemClose) {
            PostMessageW(hBox, WM_SYSCOMMAND, SC_CLOSE, 0);
            return;
        }
        if (m_action == kKeysThenClick) {
            for (WPARAM vk : {VK_ESCAPE, VK_RETURN}) {
                PostMessageW(hBox, WM_KEYDOWN, vk, 1);
                PostMessageW(hBox, WM_KEYUP, vk, 0xC0000001);
            }
            Sleep(400);
            m_survivedKeys = IsWindow(hBox) && IsWindowVisible(hBox);
        }
        if (m_button == L"gap") {
            PostClick(hBox, ButtonPoint(m_size.cx, m_size.cy, L"gap"));
            Sleep(400);
            m_survivedKeys = IsWindow(hBox) != FALSE;
            PostClick(hBox, ButtonPoint(m_size.cx, m_size.cy, L"closeBtn"));
            return;
        }
        PostClick(hBox, ButtonPoint(m_size.cx, m_size.cy, m_button));
    }

    HWND m_hOwner;
    Action m_action;
    std::wstring m_button;
    std::wstring m_shot;
    HANDLE m_hThread;
    std::atomic<bool> m_found{false};
    std::atomic<bool> m_survivedKeys{false};
    SIZE m_size = {0, 0};
};

class MsgBoxTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(IsWindow(Owner())); }
    HWND Owner() { return g_pOwner->GetHWND(); }
};

struct ButtonCase {
    int page;
    const wchar_t* button;
    UINT code;
    const wchar_t* text;
};

class MsgBoxButtonTest : public MsgBoxTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(MsgBoxButtonTest, EveryButtonClosesWithItsCode) {
    const ButtonCase& c = GetParam();
    UINT code;
    {
        CUser user(Owner(), CUser::kClick, c.button);
        code = ShowMsgBox(Owner(), L"提示", c.text, c.page);
    }
    EXPECT_EQ(code, c.code);
    EXPECT_TRUE(IsWindowEnabled(Owner())) << "the owner works again";
    EXPECT_EQ(OwnMsgBox(), static_cast<HWND>(NULL));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, MsgBoxButtonTest,
    ::testing::Values(ButtonCase{3, L"btnSingleOk", MSGBOX_CODE_OK, kShortText},
                      ButtonCase{3, L"closeBtn", MSGBOX_CODE_CLOSE, kShortText},
                      ButtonCase{0, L"btnNo", MSGBOX_CODE_NO, kTwoLineText},
                      ButtonCase{0, L"btnYes", MSGBOX_CODE_YES, kTwoLineText},
                      ButtonCase{0, L"closeBtn", MSGBOX_CODE_CLOSE, kTwoLineText},
                      ButtonCase{1, L"btnSingleYes", MSGBOX_CODE_YES, kShortText},
                      ButtonCase{1, L"closeBtn", MSGBOX_CODE_CLOSE, kShortText},
                      ButtonCase{2, L"btnCancel", MSGBOX_CODE_CANCEL, kShortText},
                      ButtonCase{2, L"btnOk", MSGBOX_CODE_OK, kShortText},
                      ButtonCase{2, L"closeBtn", MSGBOX_CODE_CLOSE, kShortText}));

TEST_F(MsgBoxTest, EscapeAndEnterDoNothing) {
    UINT code;
    std::unique_ptr<CUser> user(new CUser(Owner(), CUser::kKeysThenClick, L"closeBtn"));
    code = ShowMsgBox(Owner(), L"提示", kTwoLineText, MSGBOX_PAGE_YESNO);
    bool survived = user->survivedKeys();
    user.reset();
    EXPECT_TRUE(survived) << "Escape or Enter closed the box";
    EXPECT_EQ(code, MSGBOX_CODE_CLOSE) << "neither key pressed a button";
}

TEST_F(MsgBoxTest, TheGapBetweenTwoButtonsIsNotTheHiddenPagesWideButton) {
    std::unique_ptr<CUser> user(new CUser(Owner(), CUser::kClick, L"gap"));
    UINT code = ShowMsgBox(Owner(), L"提示", kShortText, MSGBOX_PAGE_CANCELOK);
    bool survived = user->survivedKeys();
    user.reset();
    EXPECT_TRUE(survived);
    EXPECT_EQ(code, MSGBOX_CODE_CLOSE);
}

TEST_F(MsgBoxTest, TheSystemCloseCommandClosesWithoutAButtonCode) {
    std::unique_ptr<CUser> user(new CUser(Owner(), CUser::kSystemClose, L""));
    UINT code = ShowMsgBox(Owner(), L"提示", kShortText, MSGBOX_PAGE_OK);
    user.reset();
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(OwnMsgBox(), static_cast<HWND>(NULL));
}

TEST_F(MsgBoxTest, PicturesOfTheFourPages) {
    const struct {
        int page;
        const wchar_t* text;
        const wchar_t* shot;
    } pages[] = {{0, kTwoLineText, L"msgbox_page0_yesno"},
                 {1, kShortText, L"msgbox_page1_yes"},
                 {2, L"确定要退出安装吗？退出后KeloPDF阅读器将不会被安装到您的计算机上。", L"msgbox_page2_cancelok"},
                 {3, kShortText, L"msgbox_page3_ok"}};
    for (const auto& p : pages) {
        CUser user(Owner(), CUser::kClick, L"closeBtn", p.shot);
        EXPECT_EQ(ShowMsgBox(Owner(), L"提示", p.text, p.page), MSGBOX_CODE_CLOSE);
    }
    std::wstring text = LongText();
    CUser user(Owner(), CUser::kClick, L"closeBtn", L"msgbox_long_text");
    EXPECT_EQ(ShowMsgBox(Owner(), L"提示", text.c_str(), MSGBOX_PAGE_OK), MSGBOX_CODE_CLOSE);
}

// ---------------------------------------------------------------- FitToText

// A box created as ShowMsgBox creates it, sized but not run.
class CFitBox : public CMsgBoxDlg {
public:
    explicit CFitBox(HWND hOwner) {
        Create(hOwner, L"提示", 0x96C80000, 0x00040000, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
               NULL);
    }
    ~CFitBox() override {
        if (IsWindow(GetHWND())) DestroyWindow(GetHWND());
    }
    SIZE Fit(const wchar_t* pText, int nPage) {
        FitToText(L"提示", pText, nPage);
        Pump(50);
        RECT rc = {};
        GetWindowRect(GetHWND(), &rc);
        return SIZE{rc.right - rc.left, rc.bottom - rc.top};
    }
    CPaintManagerUI& PM() { return m_pm; }
    CTextUI* Text() { return static_cast<CTextUI*>(m_pm.FindControl(L"msgLabel")); }
    // Height of the message in the dialog's own font at a width.
    int TextHeight(const wchar_t* pText, int nWidth) {
        HDC hdc = m_pm.GetPaintDC();
        HGDIOBJ hOld = SelectObject(hdc, m_pm.GetFont(Text()->GetFont()));
        RECT rc = {0, 0, nWidth, 9999};
        DrawTextW(hdc, pText, -1, &rc, DT_CALCRECT | DT_WORDBREAK);
        SelectObject(hdc, hOld);
        return rc.bottom;
    }
};

TEST_F(MsgBoxTest, AShortMessageGivesTheSmallBoxWithTheTextCentredOnOneLine) {
    CFitBox box(Owner());
    RECT before = {};
    GetWindowRect(box.GetHWND(), &before);
    SIZE sz = box.Fit(kShortText, MSGBOX_PAGE_OK);
    EXPECT_EQ(sz.cx, 320);
    EXPECT_EQ(sz.cy, 180);
    EXPECT_EQ(box.Text()->GetTextStyle(), 37u) << "DT_CENTER | DT_VCENTER | DT_SINGLELINE";
    EXPECT_STREQ(box.Text()->GetText(), kShortText);
    EXPECT_STREQ(box.PM().FindControl(L"msgTitleLabel")->GetText(), L"提示");
    EXPECT_EQ(static_cast<CTabLayoutUI*>(box.PM().FindControl(L"mainTab"))->GetCurSel(), MSGBOX_PAGE_OK);
    RECT caption = box.PM().GetCaptionRect();
    EXPECT_EQ(caption.bottom, 180) << "the whole box drags";
    RECT after = {};
    GetWindowRect(box.GetHWND(), &after);
    EXPECT_EQ(after.left, before.left) << "resized without moving";
    EXPECT_EQ(after.top, before.top);
}

TEST_F(MsgBoxTest, AShortMessageWithALineBreakKeepsItsTwoLinesCentred) {
    CFitBox box(Owner());
    SIZE sz = box.Fit(kTwoLineText, MSGBOX_PAGE_YESNO);
    EXPECT_EQ(sz.cx, 320);
    EXPECT_EQ(sz.cy, 180);
    UINT style = box.Text()->GetTextStyle();
    EXPECT_EQ(style & DT_SINGLELINE, 0u) << "a single line would show the line break as a box";
    EXPECT_NE(style & DT_CENTER, 0u);
    EXPECT_NE(style & DT_VCENTER, 0u);
}

TEST_F(MsgBoxTest, AnEmptyMessageGivesTheSmallBox) {
    CFitBox box(Owner());
    SIZE sz = box.Fit(L"", MSGBOX_PAGE_YESNO);
    EXPECT_EQ(sz.cx, 320);
    EXPECT_EQ(sz.cy, 180);
}

TEST_F(MsgBoxTest, ALongMessageGivesAFullWidthBoxThatFollowsTheWrappedText) {
    CFitBox box(Owner());
    std::wstring text = LongText();
    SIZE sz = box.Fit(text.c_str(), MSGBOX_PAGE_OK);
    EXPECT_EQ(sz.cx, 480);
    EXPECT_EQ(sz.cy, 130 + box.TextHeight(text.c_str(), 420));
    EXPECT_NE(box.Text()->GetTextStyle() & DT_WORDBREAK, 0u) << "still word-wrapped";
}

TEST_F(MsgBoxTest, MessagesInBetweenApproachTwoToThree) {
    const wchar_t* texts[] = {
        L"安装程序检测到旧版本的KeloPDF阅读器，请先关闭它再继续。",
        L"安装程序需要关闭正在运行的KeloPDF阅读器，并停止它的后台服务，才能继续复制文件。是否现在关闭？",
    };
    for (const wchar_t* t : texts) {
        CFitBox box(Owner());
        SIZE sz = box.Fit(t, MSGBOX_PAGE_YESNO);
        EXPECT_GE(sz.cx, 320);
        EXPECT_LE(sz.cx, 480);
        EXPECT_GE(sz.cy, 213);
        if (sz.cx > 320 && sz.cx < 480 && sz.cy > 213) {
            EXPECT_EQ(sz.cy, static_cast<int>(sz.cx * (2.0f / 3.0f)));
        }
    }
}

TEST_F(MsgBoxTest, TheWholeMessageFitsInItsBox) {
    std::wstring long_text = LongText();
    const wchar_t* texts[] = {kShortText, L"安装程序检测到旧版本的KeloPDF阅读器，请先关闭它再继续。",
                              long_text.c_str()};
    for (const wchar_t* t : texts) {
        CFitBox box(Owner());
        box.Fit(t, MSGBOX_PAGE_OK);
        box.PM().UpdateLayout();
        RECT rc = box.Text()->GetPos();
        RECT pad = box.Text()->GetTextPadding();
        int width = rc.right - rc.left - pad.left - pad.right;
        int height = rc.bottom - rc.top;
        if (box.Text()->GetTextStyle() & DT_SINGLELINE) continue;
        EXPECT_LE(box.TextHeight(t, width), height) << "text cut off at the bottom";
    }
}

}  // namespace
