// The uninstall engine after a real installation by the install engine in
// this prefix. The uninstaller is played by a host program that runs
// CUninstMgr from the installation folder (so that it and the HTTP library it
// has loaded are in use there) and reports the progress records and the
// firewall double's journal. Runs in a prefix of its own: it installs into
// the product's fixed registry keys, shortcuts and service name.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>

#include "FirewallFakes.h"
#include "FolderCount.h"
#include "InstallMgr.h"
#include "InstallTestSupport.h"
#include "Process.h"
#include "Product.h"
#include "UninstMgr.h"

using namespace installtest;

namespace {

const wchar_t kCustomName[] = L"Kelo测试阅读器";

std::wstring FromUtf8(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

// What the host program reported.
struct HostReport {
    struct Record {
        DWORD tick;
        int percent;
        int status;
        std::wstring text;
    };
    DWORD start = 0, end = 0;
    std::vector<Record> records;
    std::vector<std::wstring> firewall;
    std::vector<std::wstring> rulesLeft;
};

HostReport ReadReport(const std::wstring& path)
{
    HostReport r;
    std::istringstream in(ReadBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        std::string rest;
        if (kind == "start") {
            fields >> r.start;
        } else if (kind == "end") {
            fields >> r.end;
        } else if (kind == "record") {
            HostReport::Record rec;
            fields >> rec.tick >> rec.percent >> rec.status;
            std::getline(fields, rest);
            rec.text = FromUtf8(rest.empty() ? rest : rest.substr(1));
            r.records.push_back(rec);
        } else if (kind == "firewall") {
            std::getline(fields, rest);
            r.firewall.push_back(FromUtf8(rest.substr(1)));
        } else if (kind == "rule-left") {
            std::getline(fields, rest);
            r.rulesLeft.push_back(FromUtf8(rest.substr(1)));
        }
    }
    return r;
}

void ListFiles(const std::wstring& dir, const std::wstring& prefix, std::set<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.insert(prefix + name + L"\\");
            ListFiles(dir + L"\\" + name, prefix + name + L"\\", out);
        } else {
            out.insert(prefix + name);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::wstring StartMenuPrograms() { return ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs"; }

class UninstEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop = KeepShellInsidePrefix();
        ASSERT_EQ(ShellFolder(CSIDL_DESKTOP), desktop);
        setup.reset(new TempDir(L"uninst_setup"));
        root.reset(new TempDir(L"uninst_app"));
        installDir = root->path() + L"\\Kelo PDF";
        ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
    }

    // The delivered setup folder: payload, install.ini, the four libraries.
    void MakeSetupFolder(const wchar_t* appName)
    {
        const std::wstring payload = *setup / Product::kPayloadFolder;
        PlaceStandin(payload, L"KeloPdfReader.exe", Product::kMainExe);
        PlaceStandin(payload, L"uninst_host.exe", Product::kUninstExe);
        ASSERT_TRUE(WriteBytes(payload + L"\\" + Product::kIconFile, "icon"));
        ASSERT_TRUE(CreateDirectoryW((payload + L"\\help files").c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(payload + L"\\help files\\读我.txt", "read me"));
        for (const wchar_t* lib : Product::kRuntimeLibs) {
            const std::wstring built = BinDir() + L"\\" + lib;
            if (Exists(built)) {
                ASSERT_TRUE(CopyFileW(built.c_str(), (*setup / lib).c_str(), FALSE));
            } else {
                // DuiLib.dll is not loaded by the host; any file will do.
                ASSERT_TRUE(WriteBytes(*setup / lib, "placeholder")) << "not built: " << ToNarrow(lib);
            }
        }
        const std::wstring ini = *setup / Product::kInstallIni;
        if (appName) {
            ASSERT_TRUE(WritePrivateProfileStringW(Product::kSecConfig, Product::kKeyAppName, appName, ini.c_str()));
        }
        ASSERT_TRUE(WritePrivateProfileStringW(Product::kSecConfig, Product::kKeyVersionStr, L"3.1.0.7", ini.c_str()));
        ASSERT_TRUE(WritePrivateProfileStringW(Product::kSecConfig, Product::kKeyChannel, L"test", ini.c_str()));
    }

    // A real installation with the install engine, from the setup folder.
    void Install()
    {
        wchar_t saved[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, saved);
        ASSERT_TRUE(SetCurrentDirectoryW(setup->path().c_str()));
        firewalltest::FakeFirewall installFirewall;
        {
            CInstallMgr mgr;
            mgr.m_strInstallDir = installDir;
            mgr.SetFirewallPolicy(&installFirewall.policy,
                                  [&](INetFwRule** out) { return installFirewall.MakeRule(out); });
            mgr.BeginInstallThread();
            ASSERT_NE(mgr.GetThreadHandle(), INVALID_HANDLE_VALUE);
            ASSERT_EQ(WaitForSingleObject(mgr.GetThreadHandle(), 60000), WAIT_OBJECT_0);
        }
        SetCurrentDirectoryW(saved);
        ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey));
        ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey));
        ASSERT_TRUE(Exists(installDir + L"\\" + Product::kUninstExe));
    }

    // Runs the host as the uninstaller from the installation folder.
    HostReport RunUninstall(bool publishWindow)
    {
        const std::wstring result = *root / L"uninstall report.txt";
        RunningProgram host(installDir + L"\\" + Product::kUninstExe,
                            L"\"" + result + L"\" " + (publishWindow ? L"window" : L"nowindow"));
        EXPECT_TRUE(host.WaitExit(90000)) << "the uninstall did not end";
        return ReadReport(result);
    }

    std::set<std::wstring> InstalledFiles()
    {
        std::set<std::wstring> files;
        ListFiles(installDir, L"", files);
        return files;
    }

    void ExpectLinksGone(const std::wstring& name, const std::wstring& menuFolder)
    {
        EXPECT_FALSE(Exists(desktop + L"\\" + name + L".lnk"));
        EXPECT_FALSE(Exists(QuickLaunchFolder() + L"\\" + name + L".lnk"));
        EXPECT_FALSE(Exists(menuFolder + L"\\" + name));
    }

    void ExpectLinksThere(const std::wstring& name, const std::wstring& menuFolder)
    {
        ASSERT_TRUE(Exists(desktop + L"\\" + name + L".lnk"));
        ASSERT_TRUE(Exists(QuickLaunchFolder() + L"\\" + name + L".lnk"));
        ASSERT_TRUE(Exists(menuFolder + L"\\" + name + L"\\" + name + L".lnk"));
    }

    std::wstring desktop;
    std::unique_ptr<TempDir> setup, root;
    std::wstring installDir;
};

// What only the running uninstaller keeps in use: itself and the libraries it loaded.
std::set<std::wstring> InUseFiles()
{
    return {Product::kUninstExe, L"libcurl.dll", L"libeay32.dll", L"ssleay32.dll"};
}

TEST_F(UninstEngineTest, RemovesEverythingTheInstallationMadeStepByStep)
{
    MakeSetupFolder(kCustomName);
    Install();
    ExpectLinksThere(kCustomName, StartMenuPrograms());
    // Values and keys below the product key go too (depth first).
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, std::wstring(Product::kRegProductKey) + L"\\Sub\\Deeper", L"v",
                             L"1"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, std::wstring(Product::kRegUninstallKey) + L"\\Sub", L"v", L"1"));

    // Two copies of the reader, one whose name differs only in letter case,
    // and the two other programs of the product.
    TempDir others(L"uninst_others");
    RunningProgram first(PlaceStandin(others / L"a", L"KeloPdfReader.exe", Product::kMainExe));
    RunningProgram second(PlaceStandin(others / L"b", L"KeloPdfReader.exe", Product::kMainExe));
    RunningProgram otherCase(PlaceStandin(others / L"c", L"KeloPdfReader.exe", L"keloPdfReader.exe"));
    RunningProgram update(PlaceStandin(others / L"d", L"KeloPdfReader.exe", Product::kUpdateExe));
    RunningProgram advert(PlaceStandin(others / L"e", L"KeloPdfAdvertising.exe", Product::kAdvertisingExe));
    DWORD firstFound = 0;
    ASSERT_TRUE(FindProcessByName(Product::kMainExe, firstFound));
    RunningProgram& terminated = firstFound == first.pid() ? first : second;
    RunningProgram& spared = firstFound == first.pid() ? second : first;
    ASSERT_EQ(terminated.pid(), firstFound);

    // The service is running and refuses to stop: the sequence goes on.
    StandinService service;
    ASSERT_TRUE(service.Start(L"stop=refuse"));

    const HostReport report = RunUninstall(true);

    // Progress: six records in order, each after its pause.
    const std::vector<std::pair<int, std::wstring>> expected = {
        {5, L"开始卸载"}, {60, L"删除快捷方式"}, {70, L"移除防火墙"},
        {80, L"删除注册表信息"}, {90, L"删除文件"}, {100, L"卸载完成"}};
    ASSERT_EQ(report.records.size(), expected.size());
    DWORD previous = report.start;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.records[i].percent, expected[i].first);
        EXPECT_EQ(report.records[i].text, expected[i].second);
        EXPECT_EQ(report.records[i].status, 0);
        EXPECT_GE(report.records[i].tick - previous, 290u);
        previous = report.records[i].tick;
    }

    // Programs: the first reader copy and the two others ended; the second
    // copy and the differently cased name still run.
    EXPECT_TRUE(WaitFor([&] { return !terminated.IsRunning(); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !update.IsRunning() && !advert.IsRunning(); }, 5000));
    EXPECT_TRUE(spared.IsRunning());
    EXPECT_TRUE(otherCase.IsRunning());
    EXPECT_TRUE(service.State() == SERVICE_RUNNING);

    // Shortcuts, the start-menu folder, both registry keys.
    ExpectLinksGone(kCustomName, StartMenuPrograms());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallRoot));

    // Firewall: the display name's rule, then "Trevalo"; nothing else.
    std::vector<std::wstring> removals;
    for (const auto& call : report.firewall)
        if (call.rfind(L"Rules.Remove", 0) == 0)
            removals.push_back(call);
    const std::vector<std::wstring> expectedRemovals = {std::wstring(L"Rules.Remove ") + kCustomName,
                                                        L"Rules.Remove Trevalo"};
    EXPECT_EQ(removals, expectedRemovals);
    EXPECT_EQ(report.rulesLeft, std::vector<std::wstring>{L"Other rule"});

    // Files: all gone but what the running uninstaller holds.
    EXPECT_EQ(InstalledFiles(), InUseFiles());
}

TEST_F(UninstEngineTest, DefaultNameFallbackFolderAndNoWindow)
{
    // A start menu with "程序" instead of "Programs", as on some Chinese systems.
    const std::wstring programs = StartMenuPrograms();
    const std::wstring hidden = programs + L".kelo-hidden";
    const std::wstring chinese = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\程序";
    ASSERT_TRUE(MoveFileW(programs.c_str(), hidden.c_str()));
    CreateDirectoryW(chinese.c_str(), nullptr);
    struct Restore {
        std::wstring from, to;
        ~Restore() { MoveFileW(from.c_str(), to.c_str()); }
    } restore{hidden, programs};

    MakeSetupFolder(nullptr);
    Install();
    ExpectLinksThere(Product::kDefaultAppName, chinese);
    // The display name has gone from the product key: the default name applies.
    ASSERT_TRUE(DeleteRegValue(HKEY_LOCAL_MACHINE, Product::kRegProductKey, Product::kValAppName));

    // No service installed at all.
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE svc = manager ? OpenServiceW(manager, Product::kServiceName, SERVICE_QUERY_STATUS) : nullptr;
        EXPECT_EQ(svc, nullptr);
        if (svc) CloseServiceHandle(svc);
        if (manager) CloseServiceHandle(manager);
    }

    const HostReport report = RunUninstall(false);

    // Without a published window nothing is posted and nothing pauses: the
    // six pauses alone would take 1.8 s.
    EXPECT_TRUE(report.records.empty());
    EXPECT_LT(report.end - report.start, 1800u);

    ExpectLinksGone(Product::kDefaultAppName, chinese);
    EXPECT_TRUE(Exists(chinese));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey));
    std::vector<std::wstring> removals;
    for (const auto& call : report.firewall)
        if (call.rfind(L"Rules.Remove", 0) == 0)
            removals.push_back(call);
    const std::vector<std::wstring> expectedRemovals = {std::wstring(L"Rules.Remove ") + Product::kDefaultAppName,
                                                        L"Rules.Remove Trevalo"};
    EXPECT_EQ(removals, expectedRemovals);
    EXPECT_EQ(InstalledFiles(), InUseFiles());
}

TEST(UninstEngineThread, NullArgumentOnlyReturns)
{
    EXPECT_EQ(CUninstMgr::UninstProcThread(nullptr), 0u);
}

TEST(UninstEngineThread, DestroyingTheManagerStopsARunningSequence)
{
    RecordSink<UninstProgress> sink(WM_UNINST_PROGRESS);
    g_hUninstWnd = sink.hwnd();
    firewalltest::FakeFirewall fw;
    {
        CUninstMgr mgr;
        // No installation folder: the file step deletes nothing.
        mgr.firewallFactory = [&fw] { return std::unique_ptr<CFirewallSettings>(new CFirewallSettings(&fw.policy)); };
        mgr.BeginUnInstallThread();
        ASSERT_NE(mgr.threadHandle, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(sink.PumpUntil(nullptr, [&] { return !sink.arrivals.empty(); }, 10000));
        // The worker is now in its pause before the next record.
        Sleep(100);
    }
    sink.PumpUntil(nullptr, nullptr, 1500);
    g_hUninstWnd = nullptr;
    ASSERT_EQ(sink.arrivals.size(), 1u);
    EXPECT_EQ(sink.arrivals[0].record.percent, 5);
}

TEST(UninstEngineThread, DestroyingTheManagerDuringTheRemovalLetsTheWorkerEndByItself)
{
    // An installation folder whose removal takes seconds; the manager goes
    // while its files are being deleted.
    TempDir inst(L"uninst_bulk");
    const size_t kFiles = 3000;
    for (size_t i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteBytes(inst / (L"f" + std::to_wstring(i)), "x"));
    g_hUninstWnd = nullptr;
    firewalltest::FakeFirewall fw;
    std::unique_ptr<CUninstMgr> mgr(new CUninstMgr);
    mgr->installDir = inst.path();
    mgr->firewallFactory = [&fw] { return std::unique_ptr<CFirewallSettings>(new CFirewallSettings(&fw.policy)); };
    mgr->BeginUnInstallThread();
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), mgr->threadHandle, GetCurrentProcess(), &worker,
                                SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));
    ASSERT_TRUE(WaitFor([&] { return CountEntries(inst.path()) < kFiles; }, 60000)) << "the removal did not start";

    const DWORD before = GetTickCount();
    mgr.reset();
    EXPECT_LT(GetTickCount() - before, 10000u) << "the destructor waited without bound";
    // The worker ended by itself, through the end of its thread function.
    ASSERT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    DWORD exitCode = 1234;
    GetExitCodeThread(worker, &exitCode);
    CloseHandle(worker);
    EXPECT_EQ(exitCode, 0u) << "the worker was ended from outside";
    // Nothing is deleted any more, and the removal did not reach its end.
    const size_t left = CountEntries(inst.path());
    Sleep(1000);
    EXPECT_EQ(CountEntries(inst.path()), left);
    EXPECT_GT(left, 0u);
}

}  // namespace
