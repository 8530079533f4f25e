// The setup wizard's pages, folder choice and questions, driven through its
// window from a private copy of the delivered folder.
#include <gtest/gtest.h>
#include <richedit.h>

#include <algorithm>

#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

const DWORD kPageTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 20000;
// Long enough for a click that should have had an effect to show it.
const DWORD kSettleMs = 1500;

const wchar_t kMsgInvalid[] = L"安装目录无效，请重新指定!";
const wchar_t kMsgOverwrite[] = L"您计算机已经安装过\n确定要覆盖安装吗?";
const wchar_t kMsgContinue[] = L"您计算机已经安装过，确定要继续安装吗?";

std::wstring DefaultFolder() { return ExpectedProgramFiles() + L"\\KeloPdfReader"; }

// The texts of a dialog's child windows, one per line.
std::wstring ChildTexts(HWND hDlg) {
    std::wstring all;
    EnumChildWindows(
        hDlg,
        [](HWND h, LPARAM p) -> BOOL {
            *reinterpret_cast<std::wstring*>(p) += WindowText(h) + L"\n";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        RemoveTree(DefaultFolder());
        m_folder = CopyDelivery(L"wizard");
        ASSERT_FALSE(m_folder.empty()) << "no copy of the delivered folder";
        m_scratch = NewTempDir(L"kelo_wizard_folders");
        ASSERT_FALSE(m_scratch.empty());
    }
    void TearDown() override {
        KillAll(Product::kMainExe);
        RemoveTree(m_folder);
        RemoveTree(m_scratch);
        RemoveTree(DefaultFolder());
        ForgetInstallation();
    }

    // Clicks "立即安装" and waits for the finish page, then closes the wizard
    // with its close button (which does not start the reader).
    void InstallAndClose(SetupRun& run) {
        run.Click(L"btnInstall");
        ASSERT_TRUE(run.WaitPage(Page::Finish, 60000)) << "no finish page, on " << PageName(run.CurrentPage());
        run.Click(L"closeBtn");
        DWORD code = 1234;
        ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
        EXPECT_EQ(code, 0u);
    }

    std::wstring m_folder;
    std::wstring m_scratch;
};

// ---------------------------------------------------------------- the folder shown first

TEST_F(WizardTest, ShowsRegisteredFolderWhileItExistsElseTheDefault) {
    const std::wstring registered = m_scratch + L"\\Registered\\KeloPdfReader";
    struct Case {
        const char* what;
        bool bRegister;
        bool bCreate;
        std::wstring expected;
    } cases[] = {
        {"nothing registered", false, false, DefaultFolder()},
        {"registered folder exists", true, true, registered},
        {"registered folder deleted", true, false, DefaultFolder()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetInstallation();
        RemoveTree(m_scratch + L"\\Registered");
        if (c.bCreate) {
            ASSERT_TRUE(MakeDirs(registered));
        }
        if (c.bRegister) {
            ASSERT_TRUE(WriteHklm(Product::kRegProductKey, Product::kValInstallDir, registered));
        }

        SetupRun run(m_folder);
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
        EXPECT_EQ(run.PathText(), c.expected);
        run.Click(L"closeBtn");
        EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
    }
}

// ---------------------------------------------------------------- licence and agreement

TEST_F(WizardTest, LicencePageAndAgreementBox) {
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    EXPECT_EQ(run.PathText(), DefaultFolder());
    run.Screenshot(L"setup-page0-folder");
    EXPECT_GT(run.TealShareOf(L"btnInstall"), 0.5) << "the install button is not drawn enabled";

    // Escape does nothing on the first page.
    PostKey(run.Window(), VK_ESCAPE);
    PostKey(run.PathEdit(), VK_ESCAPE);
    Sleep(kSettleMs);
    ASSERT_EQ(run.CurrentPage(), Page::Folder);

    run.Click(L"btnProtocal");
    ASSERT_TRUE(run.WaitPage(Page::License, kPageTimeoutMs));
    HWND hRich = FindChild(run.Window(), L"RichEdit");
    ASSERT_NE(hRich, nullptr);
    const std::wstring licence = WindowText(hRich);
    EXPECT_TRUE(Contains(licence, L"KeloPDF阅读器 软件许可协议")) << "licence text not loaded";
    EXPECT_TRUE(Contains(licence, L"许可范围"));
    EXPECT_EQ(SendMessageW(hRich, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "the licence does not start at its top";
    run.Screenshot(L"setup-page1-licence");

    // Nor on the licence page.
    PostKey(run.Window(), VK_ESCAPE);
    PostKey(hRich, VK_ESCAPE);
    Sleep(kSettleMs);
    ASSERT_EQ(run.CurrentPage(), Page::License);

    run.Click(L"btnBack");
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));

    // Clearing the box greys the button out, and it does nothing then.
    run.Click(L"ckOk");
    EXPECT_TRUE(WaitFor([&] { return run.TealShareOf(L"btnInstall") < 0.1; }, 5000)) << "not greyed out";
    run.Screenshot(L"setup-page0-agreement-cleared");
    run.Click(L"btnInstall");
    Sleep(kSettleMs);
    EXPECT_EQ(run.CurrentPage(), Page::Folder);
    EXPECT_EQ(run.MessageBox(), nullptr);
    EXPECT_FALSE(DirExists(DefaultFolder())) << "a disabled button started the installation";

    run.Click(L"ckOk");
    EXPECT_TRUE(WaitFor([&] { return run.TealShareOf(L"btnInstall") > 0.5; }, 5000)) << "not enabled again";

    run.Click(L"closeBtn");
    DWORD code = 1234;
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(DirExists(DefaultFolder()));
}

// ---------------------------------------------------------------- typed folders

TEST_F(WizardTest, TypedFolderGetsTheProductFolderAppended) {
    struct Case {
        std::wstring typed;
        std::wstring installedInto;
    } cases[] = {
        {m_scratch + L"\\Apps", m_scratch + L"\\Apps\\KeloPdfReader"},
        {m_scratch + L"\\Apps2\\KeloPdfReader", m_scratch + L"\\Apps2\\KeloPdfReader"},
        {m_scratch + L"\\Apps3\\kelopdfreader", m_scratch + L"\\Apps3\\kelopdfreader\\KeloPdfReader"},
        // A closing backslash does not double the separator.
        {m_scratch + L"\\Apps4\\", m_scratch + L"\\Apps4\\KeloPdfReader"},
        {m_scratch + L"\\Apps5\\KeloPdfReader\\", m_scratch + L"\\Apps5\\KeloPdfReader"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed " << std::string(c.typed.begin(), c.typed.end()).c_str());
        ForgetInstallation();
        SetupRun run(m_folder);
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
        run.TypePath(c.typed);
        ASSERT_TRUE(WaitFor([&] { return run.PathText() == c.typed; }, 5000)) << "typing did not arrive";
        InstallAndClose(run);
        EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValInstallDir), c.installedInto);
        EXPECT_TRUE(FileExists(c.installedInto + L"\\KeloPdfReader.exe"));
        EXPECT_TRUE(FileExists(c.installedInto + L"\\Uninst.exe"));
        EXPECT_FALSE(DirExists(c.installedInto + L"\\KeloPdfReader")) << "the product folder was doubled";
    }
}

TEST_F(WizardTest, InvalidFolderIsRefusedAndThePreviousOneShownAgain) {
    // A drive letter that this machine does not have.
    std::wstring missingDrive;
    for (wchar_t d = L'Q'; d <= L'Y' && missingDrive.empty(); ++d) {
        const std::wstring root = std::wstring(1, d) + L":\\";
        if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) missingDrive = root;
    }
    ASSERT_FALSE(missingDrive.empty());
    const std::wstring aFile = m_scratch + L"\\afile.txt";
    ASSERT_TRUE(WriteFileBytes(aFile, "x"));

    struct Case {
        const char* what;
        std::wstring typed;
        const wchar_t* closeWith;
    } cases[] = {
        {"missing drive", missingDrive + L"Apps", L"btnSingleOk"},
        {"below a file", aFile + L"\\Apps", L"btnSingleOk"},
        {"relative folder", L"Apps\\Mine", L"btnSingleOk"},
        {"the product folder is a file", aFile, L"btnSingleOk"},
        {"box closed with its close button", missingDrive + L"Other", L"closeBtn"},
    };
    // The product folder name itself as a file.
    const std::wstring fileNamedLikeProduct = m_scratch + L"\\AsFile\\KeloPdfReader";
    ASSERT_TRUE(MakeDirs(m_scratch + L"\\AsFile"));
    ASSERT_TRUE(WriteFileBytes(fileNamedLikeProduct, "x"));
    cases[3].typed = m_scratch + L"\\AsFile";

    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t logFrom = InstallLogSize();
        run.TypePath(c.typed);
        ASSERT_TRUE(WaitFor([&] { return run.PathText() == c.typed; }, 5000));
        run.Click(L"btnInstall");
        HWND hBox = run.WaitMessageBox(kPageTimeoutMs);
        ASSERT_NE(hBox, nullptr) << "no message box";
        EXPECT_EQ(WindowText(hBox), L"提示");
        const SIZE sz = ClientSize(hBox);
        EXPECT_EQ(sz.cx, 320);
        EXPECT_EQ(sz.cy, 180);
        EXPECT_EQ(GetWindow(hBox, GW_OWNER), run.Window());
        if (first) {
            SaveScreenshot(hBox, L"setup-msgbox-invalid-folder");
            run.Screenshot(L"setup-msgbox-invalid-folder-owner");
            first = false;
        }
        // The single wide button sits in the middle: on the Yes/No page
        // this point is the gap between the two buttons.
        run.ClickInMessageBox(hBox, c.closeWith);
        ASSERT_TRUE(WaitFor([&] { return run.MessageBox() == nullptr; }, 5000)) << "the box did not close";
        EXPECT_TRUE(WaitFor([&] { return run.PathText() == DefaultFolder(); }, 5000))
            << "the edit does not show the previous folder again";
        EXPECT_EQ(run.CurrentPage(), Page::Folder);
        EXPECT_TRUE(Contains(InstallLogSince(logFrom), L"invalid folder="));
    }
    EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));
    EXPECT_FALSE(DirExists(DefaultFolder()));
    run.Click(L"closeBtn");
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
}

// ---------------------------------------------------------------- the folder browser

TEST_F(WizardTest, FolderBrowserChoiceGetsTheProductFolderAppended) {
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    auto openBrowser = [&]() -> HWND {
        run.Click(L"btnSelPath");
        HWND h = nullptr;
        WaitFor([&] { return (h = FindTopWindow(L"#32770", nullptr, run.Proc().Pid())) != nullptr &&
                             IsWindowVisible(h) && FindChild(h, L"SysTreeView32") != nullptr; },
                kPageTimeoutMs);
        return h;
    };

    // Cancelled: the folder stays.
    HWND hBrowse = openBrowser();
    ASSERT_NE(hBrowse, nullptr) << "no folder browser";
    EXPECT_TRUE(Contains(ChildTexts(hBrowse), L"从下面选文件夹目录:")) << "not the browser's title";
    PostMessageW(hBrowse, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBrowse); }, 10000));
    Sleep(500);
    EXPECT_EQ(run.PathText(), DefaultFolder());

    // A drive root: the name is joined without a second backslash. A folder
    // that is itself named KeloPdfReader gets the name once more.
    const std::wstring named = L"C:\\KeloPdfReader";
    ASSERT_TRUE(MakeDirs(named));
    struct Choice {
        const wchar_t* folder;  // below the drive, nullptr: the drive itself
        std::wstring shown;
    } choices[] = {{nullptr, L"C:\\KeloPdfReader"}, {L"KeloPdfReader", L"C:\\KeloPdfReader\\KeloPdfReader"}};
    for (const Choice& c : choices) {
        SCOPED_TRACE(c.folder ? "folder named KeloPdfReader" : "drive root");
        hBrowse = openBrowser();
        ASSERT_NE(hBrowse, nullptr);
        RemoteTree tree(FindChild(hBrowse, L"SysTreeView32"));
        HTREEITEM drive = nullptr;
        for (HTREEITEM top : tree.Children(tree.Root())) {
            for (HTREEITEM d : tree.Children(top))
                if (Contains(tree.Text(d), L"C:")) drive = d;
            if (drive) break;
        }
        ASSERT_NE(drive, nullptr) << "no drive C: in the browser";
        HTREEITEM pick = drive;
        if (c.folder) {
            pick = nullptr;
            for (HTREEITEM f : tree.Children(drive))
                if (tree.Text(f) == c.folder) pick = f;
            ASSERT_NE(pick, nullptr) << "no such folder in the browser";
        }
        tree.Select(pick);
        Sleep(500);
        if (!c.folder) SaveScreenshot(hBrowse, L"setup-folder-browser-drive", 8);
        PostMessageW(hBrowse, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBrowse); }, 10000));
        EXPECT_TRUE(WaitFor([&] { return run.PathText() == c.shown; }, 5000))
            << "shows " << std::string(run.PathText().begin(), run.PathText().end()).c_str();
    }
    RemoveTree(named);
    run.Click(L"closeBtn");
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
}

TEST_F(WizardTest, WhileTheFolderBrowserIsOpenTheWizardTakesNoClickAndNoClose) {
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    run.Click(L"btnSelPath");
    HWND hBrowse = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hBrowse = FindTopWindow(L"#32770", nullptr, run.Proc().Pid())) != nullptr &&
                                     IsWindowVisible(hBrowse) && FindChild(hBrowse, L"SysTreeView32") != nullptr; },
                        kPageTimeoutMs))
        << "no folder browser";
    HWND hWizard = run.Window();
    EXPECT_EQ(GetWindow(hBrowse, GW_OWNER), hWizard) << "the browser is not owned by the wizard";
    EXPECT_FALSE(IsWindowEnabled(hWizard)) << "the wizard stays usable behind the browser";

    // "立即安装", the close button, WM_CLOSE and Alt+F4 reach the wizard: none has an effect.
    run.Click(L"btnInstall");
    Sleep(kSettleMs);
    run.Click(L"closeBtn");
    PostMessageW(hWizard, WM_CLOSE, 0, 0);
    PostAltF4(hWizard);
    Sleep(kSettleMs);
    EXPECT_TRUE(run.Proc().IsRunning());
    EXPECT_TRUE(IsWindow(hWizard)) << "the wizard closed under its browser";
    EXPECT_TRUE(IsWindow(hBrowse));
    EXPECT_FALSE(DirExists(DefaultFolder())) << "the installation started behind the browser";
    EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));

    // Cancelled, the browser gives the wizard back as it was.
    PostMessageW(hBrowse, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBrowse); }, 10000));
    if (!IsWindow(hWizard)) return;
    EXPECT_TRUE(IsWindowEnabled(hWizard));
    EXPECT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    EXPECT_EQ(run.PathText(), DefaultFolder());
    run.Click(L"closeBtn");
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
}

// ---------------------------------------------------------------- an existing installation

TEST_F(WizardTest, ExistingInstallationIsQuestionedAndOnlyYesGoesOn) {
    const std::wstring old = m_scratch + L"\\Old\\KeloPdfReader";
    const std::wstring other = m_scratch + L"\\Other";
    struct Case {
        const char* what;
        bool bExePresent;
        std::wstring typed;
        const wchar_t* question;  // nullptr: none expected
        const wchar_t* answer;
        bool bInstalls;
        std::wstring installedInto;
    } cases[] = {
        {"same folder, no", true, old, kMsgOverwrite, L"btnNo", false, L""},
        {"same folder, closed", true, old, kMsgOverwrite, L"closeBtn", false, L""},
        {"same folder, yes", true, old, kMsgOverwrite, L"btnYes", true, old},
        {"other folder, no", true, other, kMsgContinue, L"btnNo", false, L""},
        {"other folder, yes", true, other, kMsgContinue, L"btnYes", true, other + L"\\KeloPdfReader"},
        {"registered program gone", false, other, nullptr, nullptr, true, other + L"\\KeloPdfReader"},
    };
    bool shotOverwrite = false, shotContinue = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetInstallation();
        RemoveTree(m_scratch + L"\\Old");
        RemoveTree(other);
        ASSERT_TRUE(MakeDirs(old));
        if (c.bExePresent) {
            ASSERT_TRUE(WriteFileBytes(old + L"\\KeloPdfReader.exe", "old"));
        }
        ASSERT_TRUE(WriteHklm(Product::kRegProductKey, Product::kValInstallDir, old));
        const size_t logFrom = InstallLogSize();

        SetupRun run(m_folder);
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
        EXPECT_EQ(run.PathText(), old);
        run.TypePath(c.typed);
        ASSERT_TRUE(WaitFor([&] { return run.PathText() == c.typed; }, 5000));
        run.Click(L"btnInstall");

        if (c.question) {
            HWND hBox = run.WaitMessageBox(kPageTimeoutMs);
            ASSERT_NE(hBox, nullptr) << "no question";
            EXPECT_EQ(WindowText(hBox), L"提示");
            if (c.question == kMsgOverwrite && !shotOverwrite) {
                shotOverwrite = SaveScreenshot(hBox, L"setup-msgbox-overwrite");
                run.Screenshot(L"setup-msgbox-overwrite-owner");
            }
            if (c.question == kMsgContinue && !shotContinue) shotContinue = SaveScreenshot(hBox, L"setup-msgbox-continue");
            run.ClickInMessageBox(hBox, c.answer);
            const std::wstring asked = std::wstring(L"asked [") + c.question + L"]";
            // Line breaks reach the log file as CR LF.
            auto logText = [&] {
                std::wstring t = InstallLogSince(logFrom);
                t.erase(std::remove(t.begin(), t.end(), L'\r'), t.end());
                return t;
            };
            EXPECT_TRUE(WaitFor([&] { return Contains(logText(), asked); }, 5000))
                << "the log does not show the expected question";
        }
        if (!c.bInstalls) {
            DWORD code = 1234;
            ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code)) << "the program did not end";
            EXPECT_EQ(code, 0u);
            EXPECT_TRUE(ReadHklm(Product::kRegProductKey, Product::kValVersionStr).empty());
            EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));
            EXPECT_FALSE(FileExists(old + L"\\Uninst.exe"));
            EXPECT_FALSE(FileExists(other + L"\\KeloPdfReader\\Uninst.exe"));
            continue;
        }
        ASSERT_TRUE(run.WaitPage(Page::Finish, 60000)) << "no finish page, on " << PageName(run.CurrentPage());
        if (!c.question) {
            EXPECT_FALSE(Contains(InstallLogSince(logFrom), L"asked ["));
        }
        run.Click(L"closeBtn");
        EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
        EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValInstallDir), c.installedInto);
        EXPECT_TRUE(FileExists(c.installedInto + L"\\Uninst.exe"));
    }
    EXPECT_TRUE(shotOverwrite);
    EXPECT_TRUE(shotContinue);
}

// ---------------------------------------------------------------- progress page

TEST_F(WizardTest, FailedCopyLeavesTheBarAtFiveOnTheProgressPage) {
    RemoveTree(m_folder + L"\\" + Product::kPayloadFolder);
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    run.Click(L"btnInstall");
    ASSERT_TRUE(run.WaitPage(Page::Progress, kPageTimeoutMs));
    // 5 of 100 of a bar 648 pixels long.
    EXPECT_TRUE(WaitFor([&] { const int n = run.ProgressFill(); return n >= 28 && n <= 37; }, 10000))
        << "filled " << run.ProgressFill() << " pixels";
    Sleep(2000);
    EXPECT_EQ(run.CurrentPage(), Page::Progress);
    const int fill = run.ProgressFill();
    EXPECT_GE(fill, 28);
    EXPECT_LE(fill, 37);
    run.Screenshot(L"setup-page2-progress-failed-copy");

    // Escape does nothing on the progress page either.
    PostKey(run.Window(), VK_ESCAPE);
    Sleep(kSettleMs);
    EXPECT_TRUE(run.Proc().IsRunning());
    EXPECT_EQ(run.CurrentPage(), Page::Progress);
    EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));

    run.Click(L"closeBtn");
    DWORD code = 1234;
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
}

TEST_F(WizardTest, AltF4ClosesEvenDuringTheInstallation) {
    // A running reader makes the engine end it and wait 3 s before copying.
    Process reader;
    ASSERT_TRUE(reader.Start(m_folder + L"\\KeloInstaller\\KeloPdfReader.exe", L"", m_folder));
    ASSERT_TRUE(WaitFor([&] { return !ProcessIds(Product::kMainExe).empty(); }, 10000));

    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    run.Click(L"btnInstall");
    ASSERT_TRUE(run.WaitPage(Page::Progress, kPageTimeoutMs));
    EXPECT_NE(reader.WaitExit(5000), STILL_ACTIVE) << "the engine did not end the running reader";
    // The engine is in its 3 s pause: the window must go before it ends.
    HWND hWnd = run.Window();
    PostAltF4(hWnd);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hWnd); }, 2500)) << "Alt+F4 waited for the installation";
    DWORD code = 1234;
    ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    // The worker ended with the program: nothing is copied after the pause.
    Sleep(4000);
    EXPECT_FALSE(FileExists(DefaultFolder() + L"\\Uninst.exe"));
    EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));
}

TEST_F(WizardTest, AltF4ClosesTheFolderPage) {
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    PostAltF4(run.PathEdit());
    DWORD code = 1234;
    ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
}

// ---------------------------------------------------------------- one running copy

TEST_F(WizardTest, SecondStartRestoresTheMinimisedFirstAndEnds) {
    SetupRun first(m_folder);
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(first.WaitPage(Page::Folder, kPageTimeoutMs));
    first.Click(L"minBtn");
    ASSERT_TRUE(WaitFor([&] { return IsIconic(first.Window()) != FALSE; }, 5000)) << "not minimised";

    Process second;
    ASSERT_TRUE(second.Start(m_folder + L"\\" + Product::kSetupExe, L"", m_folder));
    EXPECT_EQ(second.WaitExit(kExitTimeoutMs), 0u);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(first.Window()); }, 5000)) << "the first copy was not restored";
    EXPECT_EQ(FindTopWindow(kSetupClass, kSetupTitle, second.Pid()), nullptr);
    EXPECT_TRUE(first.Proc().IsRunning());
    EXPECT_TRUE(first.WaitPage(Page::Folder, kPageTimeoutMs));
    first.Screenshot(L"setup-restored-after-second-start");
    first.Click(L"closeBtn");
    EXPECT_TRUE(first.WaitExit(kExitTimeoutMs));
}

}  // namespace
