// Shell links on the desktop, in quick launch and in the all-users start
// menu, read back through IShellLinkW. Runs in a prefix of its own: it
// redirects shell folders and writes into the common start menu.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "InstallTestSupport.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Shortcut.h"

using namespace installtest;

namespace {

const wchar_t kName[] = L"Kelo快捷测试";

ShortcutInfo MakeInfo(const std::wstring& folder, const wchar_t* name = kName) {
    ShortcutInfo info;
    memset(&info, 0, sizeof(info));
    wcscpy(info.szName, name);
    wcscpy(info.szTarget, (folder + L"\\KeloPdfReader.exe").c_str());
    wcscpy(info.szUninstTarget, (folder + L"\\Uninst.exe").c_str());
    wcscpy(info.szWorkingDir, folder.c_str());
    return info;
}

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_desktop = KeepShellInsidePrefix();
        ASSERT_TRUE(SUCCEEDED(m_com.Result()));
        m_install.reset(new TempDir(L"shortcut_install"));
        WriteBytes(*m_install / L"KeloPdfReader.exe", "x");
        WriteBytes(*m_install / L"Uninst.exe", "x");
        WriteBytes(*m_install / L"icon.ico", "x");
    }
    void TearDown() override {
        DeleteShortcut(kName, CSIDL_DESKTOP);
        DeleteShortcut(kName, CSIDL_APPDATA);
        DeleteShortcut(kName, CSIDL_COMMON_STARTMENU);
    }

    std::wstring DesktopLink(const wchar_t* name = kName) const { return ShellFolder(CSIDL_DESKTOP) + L"\\" + name + L".lnk"; }
    std::wstring QuickLaunchLink(const wchar_t* name = kName) const { return QuickLaunchFolder() + L"\\" + name + L".lnk"; }
    std::wstring ProgramFolder(const wchar_t* sub = L"Programs", const wchar_t* name = kName) const {
        return ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\" + sub + L"\\" + name;
    }

    ScopedCoInit m_com;
    std::wstring m_desktop;
    std::unique_ptr<TempDir> m_install;
};

TEST_F(ShortcutTest, TheThreeLocationsReadBack) {
    const std::wstring dir = m_install->path();
    const ShortcutInfo info = MakeInfo(dir);
    ASSERT_EQ(ShellFolder(CSIDL_DESKTOP), m_desktop) << "the desktop stays inside the prefix";

    EXPECT_TRUE(CreateShortcut(info, CSIDL_DESKTOP));
    EXPECT_TRUE(CreateShortcut(info, CSIDL_APPDATA));
    EXPECT_TRUE(CreateShortcut(info, CSIDL_COMMON_STARTMENU));

    const std::wstring menu = ProgramFolder();
    const std::wstring links[] = {DesktopLink(), QuickLaunchLink(), menu + L"\\" + kName + L".lnk"};
    for (const std::wstring& lnk : links) {
        SCOPED_TRACE(ToNarrow(lnk));
        const LinkInfo link = ReadLink(lnk);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(link.target, dir + L"\\KeloPdfReader.exe");
        EXPECT_EQ(link.workingDir, dir);
        EXPECT_EQ(link.arguments, L"");
        EXPECT_EQ(link.description, L"");
        EXPECT_EQ(link.hotkey, 0);
    }
    const LinkInfo uninst = ReadLink(menu + L"\\卸载 " + kName + L".lnk");
    ASSERT_TRUE(uninst.loaded);
    EXPECT_EQ(uninst.target, dir + L"\\Uninst.exe");
    EXPECT_EQ(uninst.workingDir, dir) << "the uninstall link keeps the other fields";

    // The uninstall link exists only in the start menu.
    EXPECT_FALSE(Exists(ShellFolder(CSIDL_DESKTOP) + L"\\卸载 " + kName + L".lnk"));
    EXPECT_FALSE(Exists(QuickLaunchFolder() + L"\\卸载 " + kName + L".lnk"));
}

TEST_F(ShortcutTest, OptionalFieldsAreAppliedWhenGiven) {
    const std::wstring dir = m_install->path();
    ShortcutInfo info = MakeInfo(dir);
    wcscpy(info.szArguments, L"-run update");
    wcscpy(info.szIcon, (dir + L"\\icon.ico").c_str());
    info.nIconIndex = 2;
    wcscpy(info.szDescription, L"阅读器");
    info.wHotkey = MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT);
    info.nShowCmd = SW_SHOWMAXIMIZED;
    ASSERT_TRUE(CreateShortcut(info, CSIDL_DESKTOP));
    const LinkInfo link = ReadLink(DesktopLink());
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.arguments, L"-run update");
    EXPECT_EQ(link.icon, dir + L"\\icon.ico");
    EXPECT_EQ(link.iconIndex, 2);
    EXPECT_EQ(link.description, L"阅读器");
    EXPECT_EQ(link.hotkey, info.wHotkey);
    EXPECT_EQ(link.showCmd, SW_SHOWMAXIMIZED);

    // An icon file that does not exist is not applied; the link is still made.
    wcscpy(info.szIcon, (dir + L"\\missing.ico").c_str());
    ASSERT_TRUE(CreateShortcut(info, CSIDL_DESKTOP));
    EXPECT_EQ(ReadLink(DesktopLink()).icon, L"");
}

TEST_F(ShortcutTest, AnExistingLinkIsReplaced) {
    TempDir other(L"shortcut_other");
    ASSERT_TRUE(CreateShortcut(MakeInfo(m_install->path()), CSIDL_COMMON_STARTMENU));
    ASSERT_TRUE(CreateShortcut(MakeInfo(other.path()), CSIDL_COMMON_STARTMENU));
    EXPECT_EQ(ReadLink(ProgramFolder() + L"\\" + kName + L".lnk").target, other.path() + L"\\KeloPdfReader.exe");
    EXPECT_EQ(ReadLink(ProgramFolder() + L"\\卸载 " + kName + L".lnk").target, other.path() + L"\\Uninst.exe");
}

TEST_F(ShortcutTest, AnInvalidNameFailsAlone) {
    const ShortcutInfo bad = MakeInfo(m_install->path(), L"Kelo<Bad>");
    for (int csidl : {CSIDL_DESKTOP, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU}) {
        EXPECT_FALSE(CreateShortcut(bad, csidl)) << "location " << csidl;
    }
    EXPECT_FALSE(Exists(ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs\\Kelo<Bad>"));
    // The next, valid link is unaffected.
    EXPECT_TRUE(CreateShortcut(MakeInfo(m_install->path()), CSIDL_DESKTOP));
    EXPECT_TRUE(ReadLink(DesktopLink()).loaded);
}

TEST_F(ShortcutTest, NamesThatLeaveTheLocationAreRefused) {
    // A folder beside the program folders that such a name would reach.
    const std::wstring programs = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs";
    const std::wstring victim = programs + L"\\KeloVictim";
    CreateDirectoryW(victim.c_str(), nullptr);
    WriteBytes(victim + L"\\keep.txt", "keep");
    for (const wchar_t* name : {L"..\\KeloVictim", L"KeloVictim\\..", L"a/b", L"..", L"."}) {
        SCOPED_TRACE(ToNarrow(name));
        EXPECT_FALSE(CreateShortcut(MakeInfo(m_install->path(), name), CSIDL_COMMON_STARTMENU));
        EXPECT_TRUE(DeleteShortcut(name, CSIDL_COMMON_STARTMENU));
    }
    EXPECT_TRUE(DeleteShortcut(L"", CSIDL_COMMON_STARTMENU));
    EXPECT_TRUE(Exists(victim + L"\\keep.txt"));
    EXPECT_TRUE(IsDir(programs));
    RemoveDirTree(victim);
}

TEST_F(ShortcutTest, DeleteRemovesLinksAndTheWholeProgramFolder) {
    const ShortcutInfo info = MakeInfo(m_install->path());
    for (int csidl : {CSIDL_DESKTOP, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU}) ASSERT_TRUE(CreateShortcut(info, csidl));
    WriteBytes(ProgramFolder() + L"\\readme.txt", "placed there by someone else");
    WriteBytes(ShellFolder(CSIDL_DESKTOP) + L"\\KeloOther.lnk", "other");

    for (int csidl : {CSIDL_DESKTOP, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU}) EXPECT_TRUE(DeleteShortcut(kName, csidl));
    EXPECT_FALSE(Exists(DesktopLink()));
    EXPECT_FALSE(Exists(QuickLaunchLink()));
    EXPECT_FALSE(Exists(ProgramFolder()));
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOP) + L"\\KeloOther.lnk")) << "other links stay";
    DeleteFileW((ShellFolder(CSIDL_DESKTOP) + L"\\KeloOther.lnk").c_str());

    // Nothing left to delete: still true, nothing changes.
    for (int csidl : {CSIDL_DESKTOP, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU}) EXPECT_TRUE(DeleteShortcut(kName, csidl));
    EXPECT_TRUE(IsDir(ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs"));
}

// A start menu with only a localised "程序" folder, and one that does not exist.
class LocalisedStartMenu : public ShortcutTest {
protected:
    void SetUp() override {
        ShortcutTest::SetUp();
        m_original.clear();
        ReadRegString(HKEY_LOCAL_MACHINE, kUserShellFolders, L"Common Start Menu", m_original);
        m_menu.reset(new TempDir(L"startmenu"));
        Redirect(m_menu->path());
    }
    void TearDown() override {
        ShortcutTest::TearDown();
        if (m_original.empty())
            DeleteRegValue(HKEY_LOCAL_MACHINE, kUserShellFolders, L"Common Start Menu");
        else
            SetRegString(HKEY_LOCAL_MACHINE, kUserShellFolders, L"Common Start Menu", m_original, REG_EXPAND_SZ);
        SetRegString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Start Menu", m_original);
    }
    void Redirect(const std::wstring& folder) {
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kUserShellFolders, L"Common Start Menu", folder, REG_EXPAND_SZ));
        SetRegString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Start Menu", folder);
    }

    std::wstring m_original;
    std::unique_ptr<TempDir> m_menu;
};

TEST_F(LocalisedStartMenu, ProgramFolderFallsBackToChengxu) {
    ASSERT_EQ(ShellFolder(CSIDL_COMMON_STARTMENU), m_menu->path()) << "the start menu redirect took effect";
    ASSERT_TRUE(CreateDirectoryW((*m_menu / L"程序").c_str(), nullptr));

    ASSERT_TRUE(CreateShortcut(MakeInfo(m_install->path()), CSIDL_COMMON_STARTMENU));
    const std::wstring folder = *m_menu / (std::wstring(L"程序\\") + kName);
    EXPECT_EQ(ReadLink(folder + L"\\" + kName + L".lnk").target, m_install->path() + L"\\KeloPdfReader.exe");
    EXPECT_EQ(ReadLink(folder + L"\\卸载 " + kName + L".lnk").target, m_install->path() + L"\\Uninst.exe");
    EXPECT_FALSE(Exists(*m_menu / L"Programs"));

    EXPECT_TRUE(DeleteShortcut(kName, CSIDL_COMMON_STARTMENU));
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(IsDir(*m_menu / L"程序"));
}

TEST_F(LocalisedStartMenu, AMissingLocationFailsAndTouchesNothing) {
    const std::wstring missing = *m_menu / L"absent";
    Redirect(missing);
    EXPECT_FALSE(CreateShortcut(MakeInfo(m_install->path()), CSIDL_COMMON_STARTMENU));
    EXPECT_FALSE(DeleteShortcut(kName, CSIDL_COMMON_STARTMENU));
    EXPECT_FALSE(Exists(missing));
}

}  // namespace
