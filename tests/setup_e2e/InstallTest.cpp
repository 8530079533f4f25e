// A whole installation through the setup window: the default folder, the
// progress and finish pages, "安装完成" starting the reader; then what the
// installation left (registry, files, shortcuts, log). And the channel that
// the setup program takes from the name of the program that started it.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cwctype>

#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

const DWORD kPageTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 20000;
const wchar_t kAppName[] = L"KeloPDF阅读器";

std::wstring DefaultFolder() { return ExpectedProgramFiles() + L"\\KeloPdfReader"; }

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

std::wstring LinkTarget(const std::wstring& lnk) {
    std::wstring target;
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* pLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&pLink)))) {
        IPersistFile* pFile = nullptr;
        if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
            if (SUCCEEDED(pFile->Load(lnk.c_str(), STGM_READ))) {
                wchar_t path[MAX_PATH] = L"";
                if (SUCCEEDED(pLink->GetPath(path, MAX_PATH, nullptr, 0))) target = path;
            }
            pFile->Release();
        }
        pLink->Release();
    }
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return target;
}

bool IsLowerHex(const std::wstring& s) {
    for (wchar_t c : s)
        if (!iswxdigit(c) || iswupper(c)) return false;
    return !s.empty();
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        RemoveTree(DefaultFolder());
        m_folder = CopyDelivery(L"install");
        ASSERT_FALSE(m_folder.empty()) << "no copy of the delivered folder";
        // A fresh Wine prefix has no quick-launch folder; Windows does.
        ASSERT_TRUE(MakeDirs(ShellFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch"));
    }
    void TearDown() override {
        KillAll(Product::kMainExe);
        RemoveTree(m_folder);
        RemoveTree(DefaultFolder());
        ForgetInstallation();
    }
    std::wstring m_folder;
};

TEST_F(InstallTest, WholeInstallationThenFinishStartsTheReader) {
    const size_t logFrom = InstallLogSize();
    SetupRun run(m_folder);
    // Started from another working folder (as from a shortcut or a browser's
    // download list): the payload and "install.ini" are still found beside the program.
    wchar_t windowsDir[MAX_PATH] = L"";
    ASSERT_GT(GetWindowsDirectoryW(windowsDir, MAX_PATH), 0u);
    ASSERT_TRUE(run.Start(windowsDir));
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    EXPECT_EQ(run.PathText(), DefaultFolder());
    run.Click(L"btnInstall");
    ASSERT_TRUE(run.WaitPage(Page::Finish, 60000)) << "no finish page, on " << PageName(run.CurrentPage());
    run.Screenshot(L"setup-page3-finish");

    // Escape does nothing on the finish page.
    PostKey(run.Window(), VK_ESCAPE);
    Sleep(1500);
    ASSERT_EQ(run.CurrentPage(), Page::Finish);
    EXPECT_TRUE(ProcessIds(Product::kMainExe).empty()) << "the reader was started before \"安装完成\"";

    run.Click(L"btnStartExe");
    DWORD code = 1234;
    ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code)) << "the program did not end";
    EXPECT_EQ(code, 0u);

    // The reader from the installation folder, by its quoted path, no arguments.
    const std::wstring exe = DefaultFolder() + L"\\KeloPdfReader.exe";
    const std::wstring record = exe + L".cmdline.txt";
    ASSERT_TRUE(WaitFor([&] { return !ReadUtf16Lines(record).empty(); }, 15000)) << "the reader was not started";
    const std::vector<std::wstring> lines = ReadUtf16Lines(record);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"\"" + exe + L"\"");

    // Product key and uninstall entry.
    EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValInstallDir), DefaultFolder());
    EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValVersionStr), L"1.0.0.1");
    EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValAppName), kAppName);
    // Started by this test program, whose name has no "_".
    EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValChannel), L"10");
    const std::wstring machineId = ReadHklm(Product::kRegProductKey, Product::kValMachineId);
    EXPECT_EQ(machineId.size(), 32u);
    EXPECT_TRUE(IsLowerHex(machineId));
    const wchar_t* u = Product::kRegUninstallKey;
    EXPECT_EQ(ReadHklm(u, Product::kValDisplayName), kAppName);
    EXPECT_EQ(ReadHklm(u, Product::kValDisplayVersion), L"1.0.0.1");
    EXPECT_EQ(ReadHklm(u, Product::kValDisplayIcon), DefaultFolder() + L"\\icon.ico");
    EXPECT_EQ(ReadHklm(u, Product::kValUninstallString), DefaultFolder() + L"\\Uninst.exe");
    EXPECT_EQ(ReadHklm(u, Product::kValPublisher), L"Xandel电子商务有限公司");
    EXPECT_FALSE(ReadHklm(u, Product::kValUrlInfoAbout).empty());

    // The payload and the four libraries.
    for (const wchar_t* f : {L"KeloPdfReader.exe", L"Uninst.exe", L"Update.exe", L"icon.ico", L"DuiLib.dll",
                             L"libcurl.dll", L"libeay32.dll", L"ssleay32.dll"}) {
        EXPECT_TRUE(FileExists(DefaultFolder() + L"\\" + f)) << std::string(f, f + wcslen(f)).c_str();
        EXPECT_EQ(ReadFileBytes(DefaultFolder() + L"\\" + f),
                  ReadFileBytes(m_folder + L"\\" + (wcsstr(f, L".dll") ? L"" : L"KeloInstaller\\") + f));
    }
    EXPECT_FALSE(FileExists(DefaultFolder() + L"\\KeloPdfReaderSetup.exe"));
    wchar_t iniId[64] = L"";
    GetPrivateProfileStringW(L"MACHINE", L"MachineId", L"", iniId, 64, (DefaultFolder() + L"\\config.ini").c_str());
    EXPECT_EQ(std::wstring(iniId), machineId);

    // Shortcuts on the desktop, in the quick-launch bar (its folder made
    // before the run, as Windows has it) and the start menu.
    const std::wstring desktopLnk = ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kAppName + L".lnk";
    const std::wstring quickLnk = ShellFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\" +
                                  kAppName + L".lnk";
    const std::wstring menu = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs\\" + kAppName;
    EXPECT_EQ(Lower(LinkTarget(desktopLnk)), Lower(exe));
    EXPECT_EQ(Lower(LinkTarget(quickLnk)), Lower(exe));
    EXPECT_EQ(Lower(LinkTarget(menu + L"\\" + kAppName + L".lnk")), Lower(exe));
    EXPECT_EQ(Lower(LinkTarget(menu + L"\\卸载 " + kAppName + L".lnk")), Lower(DefaultFolder() + L"\\Uninst.exe"));

    // The log of this run, in the temporary folder's "KeloPdfReader" folder.
    const std::wstring log = InstallLogSince(logFrom);
    EXPECT_TRUE(Contains(log, L"创建安装线程"));
    EXPECT_TRUE(Contains(log, L"installDir=[" + DefaultFolder() + L"]"));
    EXPECT_TRUE(Contains(log, L"CInstallMgr::AfterInstall 安装step=90"));
    EXPECT_TRUE(Contains(log, L"安装完成 线程threadid="));
    EXPECT_FALSE(Contains(log, L"GetParentPIDAndName--> err code"));
}

TEST_F(InstallTest, ChannelComesFromTheStartingProgramsName) {
    struct Case {
        const wchar_t* launcher;
        const wchar_t* iniChannel;  // nullptr: none in install.ini
        const wchar_t* expected;
    } cases[] = {
        {L"KeloPdfReaderSetup_8.exe", nullptr, L"8"},
        {L"KeloPdfLauncher.exe", nullptr, L"10"},
        {L"KeloPdfReaderSetup_8.exe", L"66", L"66"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.launcher, c.launcher + wcslen(c.launcher)).c_str()
                                        << (c.iniChannel ? " with a channel in install.ini" : ""));
        ForgetInstallation();
        if (c.iniChannel) {
            ASSERT_TRUE(WritePrivateProfileStringW(L"CONFIG", L"channel", c.iniChannel,
                                                   (m_folder + L"\\install.ini").c_str()));
        }
        SetupRun run(m_folder);
        ASSERT_TRUE(run.StartThrough(ModuleDir() + L"\\" + c.launcher));
        ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
        run.Click(L"btnInstall");
        ASSERT_TRUE(run.WaitPage(Page::Finish, 60000)) << "no finish page, on " << PageName(run.CurrentPage());
        run.Click(L"closeBtn");
        DWORD code = 1234;
        ASSERT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValChannel), c.expected);
        // Closed on the finish page: the reader is not started.
        EXPECT_TRUE(ProcessIds(Product::kMainExe).empty());
    }
}

}  // namespace
