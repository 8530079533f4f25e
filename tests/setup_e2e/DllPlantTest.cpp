// DLL planting: decoys named like system DLLs lie beside an elevated
// program, and Wine is told to prefer native DLLs of those names (the test's
// WINEDLLOVERRIDES), so a library searched in the program's folder is taken
// from there. A decoy that is loaded leaves "<decoy>.loaded" in a marks
// folder of the test. The setup program must load none of them: not through
// its static imports or those of DuiLib.dll, not while it installs (network
// libraries for the machine identifier, rich edit, images, shell, COM), not
// while it writes a crash dump. Nor must the uninstaller, run from an
// installation folder, through its removal and its report, nor the updater,
// run from its folder in the temporary folder, through an update; while the
// suite's own libraries beside them are still the ones they load. A control
// program that loads the same names the naive way shows that the decoys do
// get loaded when a program searches its own folder.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cstdio>
#include <sstream>

#include "E2eSupport.h"
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

const wchar_t kMarksVar[] = L"KELO_DECOY_MARKS";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Who loaded which decoy: "<dll>: <program>" lines from the marks folder.
std::string LoadedDecoys(const std::wstring& marks) {
    std::string out;
    for (const std::wstring& mark : FilesEndingWith(marks, L".loaded")) {
        std::vector<std::wstring> lines = ReadUtf16Lines(marks + L"\\" + mark);
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

// Lower-case file name -> full path of every module loaded into a process.
std::map<std::wstring, std::wstring> LoadedModules(DWORD pid) {
    std::map<std::wstring, std::wstring> modules;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (hSnap == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W me = {};
    me.dwSize = sizeof(me);
    for (BOOL ok = Module32FirstW(hSnap, &me); ok; ok = Module32NextW(hSnap, &me))
        modules[Lower(me.szModule)] = me.szExePath;
    CloseHandle(hSnap);
    return modules;
}

// The suite's own libraries that a process has loaded but not from `folder`
// ("<dll>: <path>" lines), and those of `wanted` that it has not loaded at all.
std::string RuntimeLibsNotFrom(DWORD pid, const std::wstring& folder, const std::vector<std::wstring>& wanted) {
    const std::map<std::wstring, std::wstring> modules = LoadedModules(pid);
    std::string out;
    for (const wchar_t* lib : Product::kRuntimeLibs) {
        const auto it = modules.find(Lower(lib));
        if (it == modules.end()) {
            if (std::find(wanted.begin(), wanted.end(), lib) != wanted.end()) out += Narrow(lib) + ": not loaded\n";
        } else if (Lower(it->second) != Lower(folder + L"\\" + lib)) {
            out += Narrow(lib) + ": " + Narrow(it->second) + "\n";
        }
    }
    return out;
}

class DllPlantTest : public ::testing::Test {
protected:
    // Decoys that the platform's own DLLs pull in from a program's folder
    // before the program runs: any windowed program gets them, whatever it
    // does. (Wine's user32 imports version.dll; Windows' does not.) The
    // setup program can only be held to the others.
    static void SetUpTestSuite() {
        const std::wstring dir = NewTempDir(L"kelo_baseline");
        const std::wstring marks = NewTempDir(L"kelo_baseline_marks");
        SetEnvironmentVariableW(kMarksVar, marks.c_str());
        PlantDecoys(dir, DecoyNames());
        const std::wstring exe = dir + L"\\baseline.exe";
        CopyFileW((ModuleDir() + L"\\setup_e2e_baseline.exe").c_str(), exe.c_str(), FALSE);
        Process p;
        if (p.Start(exe, L"", dir)) p.WaitExit(kExitTimeoutMs);
        for (const std::wstring& name : DecoyNames())
            if (FileExists(marks + L"\\" + name + L".loaded")) s_platform.push_back(name);
        SetEnvironmentVariableW(kMarksVar, nullptr);
        RemoveTree(dir);
        RemoveTree(marks);
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
        m_marks = NewTempDir(L"kelo_marks");
        ASSERT_FALSE(m_marks.empty());
        // Inherited by every program the test starts, and by theirs.
        SetEnvironmentVariableW(kMarksVar, m_marks.c_str());
        m_folder = CopyDelivery(L"planted");
        ASSERT_FALSE(m_folder.empty());
        // The libraries the programs and their UI library use must all be
        // among those they are held to.
        for (const wchar_t* used : {L"dbghelp.dll", L"riched20.dll", L"msftedit.dll", L"netapi32.dll",
                                    L"iphlpapi.dll", L"windowscodecs.dll", L"uxtheme.dll", L"msimg32.dll",
                                    L"crypt32.dll"}) {
            const std::vector<std::wstring> held = HeldToNames();
            ASSERT_NE(std::find(held.begin(), held.end(), used), held.end())
                << "the platform itself loads " << std::string(used, used + wcslen(used)).c_str();
        }
    }
    void TearDown() override {
        KillAll(Product::kMainExe);
        KillAll(Product::kUninstExe);
        KillAll(Product::kUpdateExe);
        SetEnvironmentVariableW(kMarksVar, nullptr);
        RemoveTree(m_folder);
        RemoveTree(m_marks);
        RemoveTree(DefaultFolder());
        ForgetInstallation();
    }
    std::wstring m_folder;
    std::wstring m_marks;
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
        const std::vector<std::wstring> lines = ReadUtf16Lines(m_marks + L"\\" + name + L".loaded");
        ASSERT_EQ(lines.size(), 1u) << "decoy not picked up: " << std::string(name.begin(), name.end()).c_str();
        EXPECT_EQ(Lower(lines[0]), Lower(loader));
    }
}

TEST_F(DllPlantTest, WholeInstallationLoadsNoDecoy) {
    PlantDecoys(m_folder, HeldToNames());
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start()) << "the setup program did not come up: " << LoadedDecoys(m_marks);
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

    EXPECT_EQ(LoadedDecoys(m_marks), "");
}

TEST_F(DllPlantTest, CrashDumpLoadsNoDecoy) {
    PlantDecoys(m_folder, HeldToNames());
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start()) << LoadedDecoys(m_marks);
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
    EXPECT_EQ(LoadedDecoys(m_marks), "");
}


// The uninstaller as the installation left it: the payload with the suite's
// libraries beside it, the decoys planted among them. Through the farewell
// form, the removal, the report (to a loopback receiver) and the last page.
TEST_F(DllPlantTest, UninstallerInItsInstallationFolderLoadsNoDecoy) {
    e2e::ReportReceiver receiver(KELO_E2E_REPORT_PORT);
    ASSERT_TRUE(receiver.IsListening()) << "loopback port " << KELO_E2E_REPORT_PORT << " is taken";
    const std::wstring dir = NewTempDir(L"kelo_planted_installation");
    ASSERT_TRUE(CopyTree(m_folder + L"\\" + Product::kPayloadFolder, dir));
    for (const wchar_t* lib : Product::kRuntimeLibs)
        ASSERT_TRUE(CopyFileW((m_folder + L"\\" + lib).c_str(), (dir + L"\\" + lib).c_str(), FALSE));
    // The uninstaller whose report goes to the receiver.
    const std::wstring exe = dir + L"\\" + Product::kUninstExe;
    ASSERT_TRUE(CopyFileW(e2e::LoopbackUninstaller().c_str(), exe.c_str(), FALSE));
    PlantDecoys(dir, HeldToNames());

    Process p;
    ASSERT_TRUE(p.Start(exe, L"", dir));
    const HWND hDlg = WaitForTopWindow(nullptr, e2e::UninstTitle().c_str(), p.Pid(), kPageTimeoutMs);
    ASSERT_TRUE(hDlg) << "the uninstaller did not come up: " << LoadedDecoys(m_marks);
    EXPECT_EQ(RuntimeLibsNotFrom(p.Pid(), dir, {L"DuiLib.dll"}), "");

    // "提交并卸载"; the report is sent once the removal is done.
    PostClick(hDlg, POINT{1 + 465, 1 + 332});
    EXPECT_TRUE(receiver.WaitForCount(1, 60000)) << "no report arrived";
    EXPECT_EQ(RuntimeLibsNotFrom(p.Pid(), dir, {L"DuiLib.dll", L"libcurl.dll", L"libeay32.dll", L"ssleay32.dll"}),
              "");
    // "完成" on the last page, which follows the report.
    EXPECT_TRUE(WaitFor([&] {
        PostClick(hDlg, POINT{1 + 325, 1 + 337});
        return !IsWindow(hDlg);
    }, kPageTimeoutMs, 500)) << "the last page did not close";
    EXPECT_NE(p.WaitExit(kExitTimeoutMs), static_cast<DWORD>(STILL_ACTIVE));

    EXPECT_EQ(LoadedDecoys(m_marks), "");
    RemoveTree(dir);
}

// The updater in the folder that the application made for it in the
// temporary folder, with the UI library and the decoys beside it, updating a
// plain installation with a good package until it has restarted the
// application and ended.
TEST_F(DllPlantTest, UpdaterInItsTemporaryFolderLoadsNoDecoy) {
    const std::wstring installation = NewTempDir(L"kelo_update_target");
    ASSERT_TRUE(CopyTree(m_folder + L"\\" + Product::kPayloadFolder, installation));
    const std::wstring packageDir = installation + L"\\" + Product::kUpdateFolder;
    ASSERT_TRUE(MakeDirs(packageDir));
    const std::wstring source = ModuleDir() + L"\\update_packages\\good\\";
    for (const wchar_t* file : {Product::kUpdateZip, Product::kUpdateIni})
        ASSERT_TRUE(CopyFileW((source + file).c_str(), (packageDir + L"\\" + file).c_str(), FALSE));

    const std::wstring dir = NewTempDir(L"KeloUpdate_planted");
    const std::wstring exe = dir + L"\\" + Product::kUpdateExe;
    ASSERT_TRUE(CopyFileW((m_folder + L"\\" + Product::kPayloadFolder + L"\\" + Product::kUpdateExe).c_str(),
                          exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((m_folder + L"\\DuiLib.dll").c_str(), (dir + L"\\DuiLib.dll").c_str(), FALSE));
    PlantDecoys(dir, HeldToNames());

    Process p;
    ASSERT_TRUE(p.Start(exe, L"\"" + installation + L"\"", dir));
    const HWND hStrip = WaitForTopWindow(nullptr, e2e::UpdateTitle().c_str(), p.Pid(), kPageTimeoutMs);
    ASSERT_TRUE(hStrip) << "the updater did not come up: " << LoadedDecoys(m_marks);
    EXPECT_EQ(RuntimeLibsNotFrom(p.Pid(), dir, {L"DuiLib.dll"}), "");
    EXPECT_EQ(p.WaitExit(60000), 0u) << "the updater did not finish";
    // The package was unpacked into the installation.
    EXPECT_TRUE(FileExists(installation + L"\\update_notes.txt")) << "the package was not unpacked";

    EXPECT_EQ(LoadedDecoys(m_marks), "");
    KillAll(Product::kMainExe);
    RemoveTree(dir);
    RemoveTree(installation);
}

}  // namespace
