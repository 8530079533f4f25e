// DLL planting: decoys named like system DLLs lie in the delivered setup
// folder, and Wine is told to prefer native DLLs of those names (the test's
// WINEDLLOVERRIDES), so a library searched in the program's folder is taken
// from there. A decoy that is loaded leaves "<decoy>.loaded". The setup
// program must load none of them: not through its static imports or those
// of DuiLib.dll, not while it installs (network libraries for the machine
// identifier, rich edit, images, shell, COM), not while it writes a crash
// dump. A control program that loads the same names the naive way shows
// that the decoys do get loaded when a program searches its own folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

const DWORD kPageTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 20000;

std::vector<std::wstring> DecoyNames() {
    std::vector<std::wstring> names;
    std::wstringstream list(KELO_DECOY_NAMES);
    std::wstring name;
    while (std::getline(list, name, L',')) names.push_back(name + L".dll");
    return names;
}

std::wstring DefaultFolder() { return ExpectedProgramFiles() + L"\\KeloPdfReader"; }

// Who loaded which decoy: "<dll>: <program>" lines.
std::string LoadedDecoys(const std::wstring& folder) {
    std::string out;
    for (const std::wstring& mark : FilesEndingWith(folder, L".loaded")) {
        std::vector<std::wstring> lines = ReadUtf16Lines(folder + L"\\" + mark);
        for (const std::wstring& l : lines) {
            const std::wstring text = mark + L": " + l + L"\n";
            out += std::string(text.begin(), text.end());
        }
    }
    return out;
}

void PlantDecoys(const std::wstring& folder, const std::vector<std::wstring>& names) {
    const std::wstring decoy = ModuleDir() + L"\\kelo_decoy.dll";
    ASSERT_TRUE(FileExists(decoy));
    for (const std::wstring& name : names)
        ASSERT_TRUE(CopyFileW(decoy.c_str(), (folder + L"\\" + name).c_str(), FALSE));
}

class DllPlantTest : public ::testing::Test {
protected:
    // Decoys that the platform's own DLLs pull in from a program's folder
    // before the program runs: any windowed program gets them, whatever it
    // does. (Wine's user32 imports version.dll; Windows' does not.) The
    // setup program can only be held to the others.
    static void SetUpTestSuite() {
        const std::wstring dir = NewTempDir(L"kelo_baseline");
        PlantDecoys(dir, DecoyNames());
        const std::wstring exe = dir + L"\\baseline.exe";
        CopyFileW((ModuleDir() + L"\\setup_e2e_baseline.exe").c_str(), exe.c_str(), FALSE);
        Process p;
        if (p.Start(exe, L"", dir)) p.WaitExit(kExitTimeoutMs);
        for (const std::wstring& name : DecoyNames())
            if (FileExists(dir + L"\\" + name + L".loaded")) s_platform.push_back(name);
        RemoveTree(dir);
        printf("decoys the platform itself loads at start-up:");
        for (const std::wstring& n : s_platform) printf(" %ls", n.c_str());
        printf("\n");
    }

    static std::vector<std::wstring> HeldToNames() {
        std::vector<std::wstring> names;
        for (const std::wstring& n : DecoyNames())
            if (std::find(s_platform.begin(), s_platform.end(), n) == s_platform.end()) names.push_back(n);
        return names;
    }

    void SetUp() override {
        ForgetInstallation();
        RemoveTree(DefaultFolder());
        wchar_t overrides[1024] = L"";
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024);
        ASSERT_TRUE(Contains(overrides, L"=n,b")) << "Wine is not told to prefer native DLLs";
        m_folder = CopyDelivery(L"planted");
        ASSERT_FALSE(m_folder.empty());
        // The libraries the setup program and its UI library use must all be
        // among those it is held to.
        for (const wchar_t* used : {L"dbghelp.dll", L"riched20.dll", L"msftedit.dll", L"netapi32.dll",
                                    L"iphlpapi.dll", L"windowscodecs.dll", L"uxtheme.dll", L"msimg32.dll"}) {
            const std::vector<std::wstring> held = HeldToNames();
            ASSERT_NE(std::find(held.begin(), held.end(), used), held.end())
                << "the platform itself loads " << std::string(used, used + wcslen(used)).c_str();
        }
    }
    void TearDown() override {
        KillAll(Product::kMainExe);
        RemoveTree(m_folder);
        RemoveTree(DefaultFolder());
        ForgetInstallation();
    }
    std::wstring m_folder;
    static std::vector<std::wstring> s_platform;
};

std::vector<std::wstring> DllPlantTest::s_platform;

TEST_F(DllPlantTest, ControlProgramLoadingByBareNamePicksUpEveryDecoy) {
    PlantDecoys(m_folder, DecoyNames());
    const std::wstring loader = m_folder + L"\\naive_loader.exe";
    ASSERT_TRUE(CopyFileW((ModuleDir() + L"\\setup_e2e_naive_loader.exe").c_str(), loader.c_str(), FALSE));
    std::wstring args;
    for (const std::wstring& name : DecoyNames()) args += L" " + name;
    Process p;
    ASSERT_TRUE(p.Start(loader, args, m_folder));
    EXPECT_EQ(p.WaitExit(kExitTimeoutMs), 0u) << "some names did not load at all";
    for (const std::wstring& name : DecoyNames()) {
        const std::vector<std::wstring> lines = ReadUtf16Lines(m_folder + L"\\" + name + L".loaded");
        ASSERT_EQ(lines.size(), 1u) << "decoy not picked up: " << std::string(name.begin(), name.end()).c_str();
        EXPECT_EQ(Lower(lines[0]), Lower(loader));
    }
}

TEST_F(DllPlantTest, WholeInstallationLoadsNoDecoy) {
    PlantDecoys(m_folder, HeldToNames());
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start()) << "the setup program did not come up: " << LoadedDecoys(m_folder);
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    run.Click(L"btnProtocal");
    ASSERT_TRUE(run.WaitPage(Page::License, kPageTimeoutMs));
    EXPECT_TRUE(Contains(WindowText(FindChild(run.Window(), L"RichEdit")), L"许可"));
    run.Click(L"btnBack");
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));

    // The folder browser: the shell's dialog and its controls.
    run.Click(L"btnSelPath");
    HWND hBrowse = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        hBrowse = FindTopWindow(L"#32770", nullptr, run.Proc().Pid());
        return hBrowse != nullptr && IsWindowVisible(hBrowse);
    }, kPageTimeoutMs)) << "no folder browser";
    if (hBrowse) {
        SaveScreenshot(hBrowse, L"setup-folder-browser", 8);
        PostMessageW(hBrowse, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(hBrowse); }, 10000));
    }
    EXPECT_EQ(run.PathText(), DefaultFolder()) << "a cancelled browser changed the folder";

    run.Click(L"btnInstall");
    ASSERT_TRUE(run.WaitPage(Page::Finish, 60000)) << "no finish page, on " << PageName(run.CurrentPage());
    EXPECT_EQ(ReadHklm(Product::kRegProductKey, Product::kValMachineId).size(), 32u);
    run.Click(L"btnStartExe");
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs));
    EXPECT_TRUE(WaitFor([&] { return !ProcessIds(Product::kMainExe).empty(); }, 15000));

    EXPECT_EQ(LoadedDecoys(m_folder), "");
}

TEST_F(DllPlantTest, CrashDumpLoadsNoDecoy) {
    PlantDecoys(m_folder, HeldToNames());
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start()) << LoadedDecoys(m_folder);
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    // A progress message whose record pointer is garbage: the dialog reads
    // through it and the crash guard takes over.
    PostMessageW(run.Window(), WM_USER + 1001, static_cast<WPARAM>(0x10), 0);

    HWND hCrash = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        hCrash = FindTopWindow(L"#32770", nullptr, run.Proc().Pid());
        return hCrash != nullptr && IsWindowVisible(hCrash);
    }, 90000)) << "no crash message";  // writing the dump takes a while under Wine
    SaveScreenshot(hCrash, L"setup-crash-message", 8);
    PostMessageW(hCrash, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs)) << "the program did not end after the crash";

    const std::string dump = ReadFileBytes(m_folder + L"\\" + Product::kSetupExe + Product::kDumpSuffix);
    ASSERT_GT(dump.size(), 32u) << "no dump";
    EXPECT_EQ(dump.substr(0, 4), "MDMP") << "not written by the system's debugging help library";
    EXPECT_EQ(LoadedDecoys(m_folder), "");
}

}  // namespace
