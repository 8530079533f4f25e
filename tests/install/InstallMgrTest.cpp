// The install engine end to end: CInstallMgr runs its worker against a fake
// setup folder (install.ini, the "KeloInstaller" payload and the four
// libraries, made the current directory as start-up does) and posts its
// records to a message-only window that collects them. Runs in a prefix of
// its own: it writes the product's registry keys, shortcuts and service.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeLinks.h"
#include "FirewallFakes.h"
#include "FolderCount.h"
#include "InstallMgr.h"
#include "InstallTestSupport.h"
#include "Log.h"
#include "MachineId.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Product.h"
#include "Shortcut.h"

using namespace installtest;
using firewalltest::FakeFirewall;

// g_nCopyCount is constant-initialised, so this reads it before any install runs.
static const int kCopyCountAtStart = g_nCopyCount;

namespace {

#ifdef _WIN64
// The 64-bit test build writes the native registry view.
const REGSAM kView = KEY_WOW64_64KEY;
#else
// The delivered 32-bit programs write the 32-bit view (WOW6432Node on 64-bit Windows).
const REGSAM kView = KEY_WOW64_32KEY;
#endif

const wchar_t kAppName[] = L"Kelo测试阅读器";
const wchar_t kVersion[] = L"2.5.0.1";

struct Rec {
    int percent;
    int status;
    std::wstring text;
    bool operator==(const Rec& o) const { return percent == o.percent && status == o.status && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Rec& r) {
    return os << "(" << r.percent << ", " << r.status << ", \"" << ToNarrow(r.text) << "\")";
}

const std::vector<Rec> kSuccess = {{5, 0, L""},
                                   {20, 0, L"拷贝文件完成"},
                                   {20, 0, L"机器码生成完成"},
                                   {30, 0, L"拷贝依赖文件完成"},
                                   {90, 0, L"安装完成初始化"},
                                   {100, 0, L"安装完成"}};

std::wstring LogFolder() { return TempRoot() + L"\\" + Product::kLogFolderName; }
std::wstring LogFile() { return LogFolder() + L"\\" + Product::kInstallLog; }

// Messages of the log lines ("[tid][time][LEVEL]" cut off), with their level tag.
struct LogLine {
    std::wstring tid, level, message;
};

std::vector<LogLine> ReadLog() {
    std::vector<LogLine> lines;
    for (const std::wstring& raw : ReadAnsiLines(LogFile())) {
        LogLine line;
        size_t pos = 0;
        std::wstring fields[3];
        for (int i = 0; i < 3; ++i) {
            if (pos >= raw.size() || raw[pos] != L'[') break;
            const size_t close = raw.find(L']', pos);
            if (close == std::wstring::npos) break;
            fields[i] = raw.substr(pos + 1, close - pos - 1);
            pos = close + 1;
        }
        line.tid = fields[0];
        line.level = fields[2];
        line.message = raw.substr(std::min(pos, raw.size()));
        lines.push_back(line);
    }
    return lines;
}

// Log messages after the first `skip` lines, once `last` has been written.
std::vector<LogLine> NewLogLines(size_t skip, const std::wstring& lastPrefix) {
    std::vector<LogLine> lines;
    WaitFor(
        [&] {
            lines = ReadLog();
            for (size_t i = skip; i < lines.size(); ++i)
                if (lines[i].message.compare(0, lastPrefix.size(), lastPrefix) == 0) return true;
            return false;
        },
        10000);
    if (lines.size() < skip) return {};
    return std::vector<LogLine>(lines.begin() + static_cast<long>(skip), lines.end());
}

class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        KeepShellInsidePrefix();
        // As start-up does: the temporary folder's "KeloPdfReader" folder, "install.log".
        CLog::GetInstance().Init(ToNarrow(LogFolder()).c_str(), ToNarrow(Product::kInstallLog).c_str());
    }
};
const ::testing::Environment* const kLogEnvironment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

// The payload files that are copied, relative to "KeloInstaller".
const std::vector<std::wstring> kCopied = {L"KeloPdfReader.exe", L"Uninst.exe",        L"icon.ico",
                                           L"plugins\\a.dll",     L"plugins\\deep\\b.dat",
                                           L"plugins\\keloPdfReaderSetup.exe", L"文档\\说明.txt"};
// ... and those that never are (their names contain "KeloPdfReaderSetup.exe").
const std::vector<std::wstring> kSkipped = {L"KeloPdfReaderSetup.exe", L"Old_KeloPdfReaderSetup.exe.bak",
                                            L"plugins\\deep\\KeloPdfReaderSetup.exe"};

std::string Content(const std::wstring& rel) { return "content of " + ToNarrow(rel) + std::string("\0\x01\xff", 3); }

// A delivered setup folder, made the current directory for the test's life.
class SetupFolder {
public:
    SetupFolder() : m_dir(L"setup") {
        const std::wstring payload = m_dir / Product::kPayloadFolder;
        for (const wchar_t* sub : {L"", L"\\plugins", L"\\plugins\\deep", L"\\empty", L"\\文档"})
            CreateDirectoryW((payload + sub).c_str(), nullptr);
        for (const auto& rel : kCopied) WriteBytes(payload + L"\\" + rel, Content(rel));
        for (const auto& rel : kSkipped) WriteBytes(payload + L"\\" + rel, "must not be copied");
        for (const wchar_t* lib : Product::kRuntimeLibs) WriteBytes(m_dir / lib, "library " + ToNarrow(lib));
        WriteIni(std::wstring(L"[CONFIG]\r\nappname=") + kAppName + L"\r\nversion_str=" + kVersion + L"\r\n");

        wchar_t cwd[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, cwd);
        m_oldCwd = cwd;
        SetCurrentDirectoryW(m_dir.path().c_str());
    }
    ~SetupFolder() { SetCurrentDirectoryW(m_oldCwd.c_str()); }

    // install.ini in the code page, as the publisher delivers it.
    void WriteIni(const std::wstring& text) { WriteBytes(m_dir / Product::kInstallIni, ToNarrow(text)); }
    void RemoveIni() { DeleteFileW((m_dir / Product::kInstallIni).c_str()); }
    std::wstring Payload() const { return m_dir / Product::kPayloadFolder; }
    const std::wstring& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
    std::wstring m_oldCwd;
};

class InstallEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRegistry();
        g_strParentName.clear();
        m_target.reset(new TempDir(L"target"));
        m_installDir = *m_target / Product::kInstallFolderName;
        CreateDirectoryW(m_installDir.c_str(), nullptr);  // the dialog creates it
        m_setup.reset(new SetupFolder);
    }
    void TearDown() override {
        g_hSetupWnd = nullptr;
        g_strParentName.clear();
        m_setup.reset();
        ScopedCoInit com;
        for (const wchar_t* name : {kAppName, Product::kDefaultAppName}) {
            for (int csidl : {CSIDL_DESKTOP, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU}) DeleteShortcut(name, csidl);
        }
        ClearRegistry();
    }
    static void ClearRegistry() {
        DeleteRegTree(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kView);
        DeleteRegTree(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, kView);
    }

    // Runs one installation on the engine's worker and returns the records in
    // arrival order (ticks in m_ticks).
    std::vector<Rec> Install(const std::wstring& folder, FakeFirewall* fw = nullptr) {
        CInstallMgr mgr;
        return InstallWith(mgr, folder, fw);
    }
    std::vector<Rec> InstallWith(CInstallMgr& mgr, const std::wstring& folder, FakeFirewall* fw) {
        RecordSink<InstallProgress> sink(WM_INSTALL_PROGRESS);
        g_hSetupWnd = sink.hwnd();
        mgr.m_strInstallDir = folder;
        mgr.SetShortcutOptions(true, true);
        if (fw) mgr.SetFirewallPolicy(&fw->policy, [fw](INetFwRule** out) { return fw->MakeRule(out); });
        mgr.BeginInstallThread();
        EXPECT_NE(mgr.GetThreadHandle(), INVALID_HANDLE_VALUE);
        EXPECT_TRUE(sink.PumpUntil(mgr.GetThreadHandle(), nullptr, 120000)) << "the worker did not finish";
        g_hSetupWnd = nullptr;
        std::vector<Rec> recs;
        m_ticks.clear();
        for (const auto& a : sink.arrivals) {
            recs.push_back({a.record.percent, a.record.status, a.record.text});
            m_ticks.push_back(a.tick);
        }
        return recs;
    }

    std::wstring ProductValue(const wchar_t* name) const {
        std::wstring v;
        ReadRegString(HKEY_LOCAL_MACHINE, Product::kRegProductKey, name, v, kView);
        return v;
    }
    std::wstring UninstallValue(const wchar_t* name) const {
        std::wstring v;
        ReadRegString(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, name, v, kView);
        return v;
    }
    std::wstring ConfigMachineId(const std::wstring& folder) const {
        wchar_t buf[256] = L"";
        GetPrivateProfileStringW(Product::kSecMachine, Product::kKeyMachineId, L"", buf, 256,
                                 (folder + L"\\" + Product::kConfigIni).c_str());
        return buf;
    }

    // Links of a product name at the three locations: {desktop, quick launch, start menu, start-menu uninstall}.
    std::vector<std::wstring> LinkPaths(const std::wstring& name) const {
        const std::wstring menu = ShellFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs\\" + name;
        return {ShellFolder(CSIDL_DESKTOP) + L"\\" + name + L".lnk", QuickLaunchFolder() + L"\\" + name + L".lnk",
                menu + L"\\" + name + L".lnk", menu + L"\\卸载 " + name + L".lnk"};
    }
    void ExpectShortcuts(const std::wstring& name, const std::wstring& folder) const {
        ScopedCoInit com;
        const std::vector<std::wstring> links = LinkPaths(name);
        for (size_t i = 0; i < links.size(); ++i) {
            SCOPED_TRACE(ToNarrow(links[i]));
            const LinkInfo link = ReadLink(links[i]);
            ASSERT_TRUE(link.loaded);
            EXPECT_EQ(link.target, folder + L"\\" + (i == 3 ? Product::kUninstExe : Product::kMainExe));
            EXPECT_EQ(link.workingDir, folder);
            EXPECT_EQ(link.arguments, L"");
            EXPECT_EQ(link.description, L"");
            EXPECT_EQ(link.icon, L"");
            EXPECT_EQ(link.hotkey, 0);
        }
    }
    void ExpectNoShortcuts(const std::wstring& name) const {
        for (const std::wstring& lnk : LinkPaths(name)) EXPECT_FALSE(Exists(lnk)) << ToNarrow(lnk);
    }

    std::unique_ptr<TempDir> m_target;
    std::wstring m_installDir;
    std::unique_ptr<SetupFolder> m_setup;
    std::vector<DWORD> m_ticks;
};

// ---------------------------------------------------------------- the whole sequence

TEST_F(InstallEngine, SuccessfulInstallation) {
    EXPECT_EQ(kCopyCountAtStart, 0);
    // Already in the target: replaced when the payload has it, kept otherwise.
    WriteBytes(m_installDir + L"\\Uninst.exe", "old uninstaller");
    WriteBytes(m_installDir + L"\\user.dat", "the user's");
    FakeFirewall fw;
    const size_t logBefore = ReadLog().size();
    const int countBefore = g_nCopyCount;

    EXPECT_EQ(Install(m_installDir, &fw), kSuccess);

    // Payload, folder by folder; the setup program's name is never copied.
    for (const auto& rel : kCopied) EXPECT_EQ(ReadBytes(m_installDir + L"\\" + rel), Content(rel)) << ToNarrow(rel);
    for (const auto& rel : kSkipped) EXPECT_FALSE(Exists(m_installDir + L"\\" + rel)) << ToNarrow(rel);
    EXPECT_TRUE(IsDir(m_installDir + L"\\empty"));
    EXPECT_EQ(ReadBytes(m_installDir + L"\\user.dat"), "the user's");
    for (const wchar_t* lib : Product::kRuntimeLibs)
        EXPECT_EQ(ReadBytes(m_installDir + L"\\" + lib), "library " + ToNarrow(lib));
    EXPECT_EQ(g_nCopyCount, countBefore + static_cast<int>(kCopied.size()));

    // Machine identifier in the registry and in config.ini.
    const std::wstring id = ProductValue(Product::kValMachineId);
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << ToNarrow(id);
    EXPECT_EQ(ConfigMachineId(m_installDir), id);
    EXPECT_EQ(g_strMachineId, id);

    // Product key and uninstall entry, all REG_SZ.
    struct Value {
        const wchar_t* key;
        const wchar_t* name;
        std::wstring expected;
    } values[] = {
        {Product::kRegProductKey, Product::kValVersionStr, kVersion},
        {Product::kRegProductKey, Product::kValChannel, L"10"},
        {Product::kRegProductKey, Product::kValInstallDir, m_installDir},
        {Product::kRegProductKey, Product::kValAppName, kAppName},
        {Product::kRegUninstallKey, Product::kValDisplayIcon, m_installDir + L"\\icon.ico"},
        {Product::kRegUninstallKey, Product::kValDisplayName, kAppName},
        {Product::kRegUninstallKey, Product::kValDisplayVersion, kVersion},
        {Product::kRegUninstallKey, Product::kValPublisher, L"Xandel电子商务有限公司"},
        {Product::kRegUninstallKey, Product::kValUninstallString, m_installDir + L"\\Uninst.exe"},
        {Product::kRegUninstallKey, Product::kValUrlInfoAbout, KELO_URL_INFO_ABOUT},
    };
    for (const Value& v : values) {
        std::wstring text;
        DWORD type = 0;
        ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, v.key, v.name, text, kView, &type)) << ToNarrow(v.name);
        EXPECT_EQ(text, v.expected) << ToNarrow(v.name);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << ToNarrow(v.name);
    }

    // Firewall: the old rule of that name removed, then the one rule added.
    ASSERT_EQ(fw.rules.CountNamed(kAppName), 1u);
    const firewalltest::FakeRule* rule = fw.rules.Named(kAppName);
    EXPECT_EQ(rule->application, m_installDir + L"\\KeloPdfReader.exe");
    EXPECT_EQ(rule->description, m_installDir + L"\\KeloPdfReader.exe");
    ASSERT_GE(fw.journal.calls.size(), 2u);
    EXPECT_EQ(fw.journal.calls[0], L"Policy.get_Rules");
    EXPECT_EQ(fw.journal.calls[1], std::wstring(L"Rules.Remove ") + kAppName);

    ExpectShortcuts(kAppName, m_installDir);

    // install.log: the Part's lines in order; the copy lines carry no function name.
    const std::vector<LogLine> log = NewLogLines(logBefore, L"CInstallMgr::InstallProc 安装完成 线程threadid=[");
    std::vector<std::wstring> messages;
    for (const LogLine& l : log) {
        messages.push_back(l.message);
        EXPECT_EQ(l.level, L"INFO") << ToNarrow(l.message);
    }
    std::vector<std::wstring> expected = {L"CInstallMgr::BeginInstallThread 创建安装线程",
                                          L"CInstallMgr::IntallSoftware 安装step=5",
                                          L"CInstallMgr::CopyInstallFile 安装step=20"};
    // The copy lines come in the order the file system lists the files; check them as a set.
    std::set<std::wstring> copyLines;
    for (size_t i = 0; i < kCopied.size(); ++i) {
        if (3 + i < messages.size()) copyLines.insert(messages[3 + i]);
        expected.push_back(L"<copy>");
    }
    std::set<std::wstring> seenCopies;
    std::vector<std::wstring> copyNumbers;
    for (const std::wstring& line : copyLines) {
        // "正在拷贝文件[n] from=[KeloInstaller\\rel] to=[<dir>\\rel] bRet=[1]"
        const size_t open = line.find(L'['), close = line.find(L']');
        if (open != std::wstring::npos && close != std::wstring::npos) {
            copyNumbers.push_back(line.substr(open + 1, close - open - 1));
            seenCopies.insert(line.substr(0, open) + L"[#]" + line.substr(close + 1));
        }
    }
    std::set<std::wstring> wantedCopies;
    for (const auto& rel : kCopied)
        wantedCopies.insert(L"正在拷贝文件[#] from=[KeloInstaller\\" + rel + L"] to=[" + m_installDir + L"\\" + rel +
                            L"] bRet=[1]");
    EXPECT_EQ(seenCopies, wantedCopies);
    std::set<std::wstring> numbers(copyNumbers.begin(), copyNumbers.end()), wantedNumbers;
    for (size_t i = 0; i < kCopied.size(); ++i) wantedNumbers.insert(std::to_wstring(countBefore + static_cast<int>(i)));
    EXPECT_EQ(numbers, wantedNumbers) << "g_nCopyCount numbers the copied files";

    expected.push_back(L"CInstallMgr::WriteMachineInfo 安装step=20");
    expected.push_back(L"CInstallMgr::WriteMachineInfo current system version=" + ToWide(GetOsName()));
    expected.push_back(L"CInstallMgr::CopyDependFile 安装step=30");
    for (const wchar_t* lib : Product::kRuntimeLibs)
        expected.push_back(std::wstring(L"CInstallMgr::CopyDependFile 拷贝依赖szSourceFile=[./") + lib +
                           L"], szDestFile=[" + m_installDir + L"\\" + lib + L"] bRet=1");
    expected.push_back(L"CInstallMgr::AfterInstall 安装step=90");
    expected.push_back(std::wstring(kAppName) + L" add firewall ret=1");
    expected.push_back(L"CInstallMgr::AfterInstall 创建桌面快捷方式 bRet=[1]");
    expected.push_back(L"CInstallMgr::AfterInstall 创建快速启动栏 bRet=[1]");
    expected.push_back(L"CInstallMgr::AfterInstall 创建开始菜单 bRet=[1]");
    ASSERT_EQ(messages.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != L"<copy>") {
            EXPECT_EQ(messages[i], expected[i]) << "log line " << i;
        }
    }
    // The last line names the worker's thread, which wrote it.
    const LogLine& last = log.back();
    EXPECT_EQ(last.message, L"CInstallMgr::InstallProc 安装完成 线程threadid=[" + last.tid + L"]退出");
    EXPECT_NE(last.tid, log.front().tid) << "the first line comes from the calling thread";
}

// ---------------------------------------------------------------- failures

TEST_F(InstallEngine, WithoutPayloadNothingIsWritten) {
    RemoveDirTree(m_setup->Payload());
    FakeFirewall fw;
    const std::vector<Rec> expected = {{5, 0, L""}, {20, -1, L"拷贝文件失败"}};
    EXPECT_EQ(Install(m_installDir, &fw), expected);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kView));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, kView));
    EXPECT_FALSE(Exists(m_installDir + L"\\config.ini"));
    for (const wchar_t* lib : Product::kRuntimeLibs) EXPECT_FALSE(Exists(m_installDir + L"\\" + lib));
    EXPECT_TRUE(fw.journal.calls.empty());
    ExpectNoShortcuts(kAppName);
}

TEST_F(InstallEngine, AMissingLibraryStopsBeforeRegistration) {
    DeleteFileW((m_setup->path() + L"\\ssleay32.dll").c_str());
    FakeFirewall fw;
    const size_t logBefore = ReadLog().size();
    const std::vector<Rec> expected = {
        {5, 0, L""}, {20, 0, L"拷贝文件完成"}, {20, 0, L"机器码生成完成"}, {30, -1, L"拷贝依赖文件失败"}};
    EXPECT_EQ(Install(m_installDir, &fw), expected);
    for (const wchar_t* lib : {L"DuiLib.dll", L"libcurl.dll", L"libeay32.dll"})
        EXPECT_TRUE(Exists(m_installDir + L"\\" + lib)) << ToNarrow(lib);
    EXPECT_FALSE(Exists(m_installDir + L"\\ssleay32.dll"));
    // The machine identifier was stored before; the registration was not made.
    EXPECT_EQ(ProductValue(Product::kValMachineId).size(), 32u);
    EXPECT_EQ(ProductValue(Product::kValInstallDir), L"");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, kView));
    EXPECT_TRUE(fw.journal.calls.empty());
    ExpectNoShortcuts(kAppName);
    const std::vector<LogLine> log =
        NewLogLines(logBefore, L"CInstallMgr::CopyDependFile 拷贝依赖szSourceFile=[./ssleay32.dll]");
    ASSERT_FALSE(log.empty());
    bool found = false;
    for (const LogLine& l : log)
        found |= l.message == L"CInstallMgr::CopyDependFile 拷贝依赖szSourceFile=[./ssleay32.dll], szDestFile=[" +
                                  m_installDir + L"\\ssleay32.dll] bRet=0";
    EXPECT_TRUE(found);
}

TEST_F(InstallEngine, AFileThatCannotBeReplacedFailsTheCopy) {
    // A program still holding its file open (one the engine could not end).
    const std::wstring held = m_installDir + L"\\KeloPdfReader.exe";
    WriteBytes(held, "running");
    HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const size_t logBefore = ReadLog().size();
    const std::vector<Rec> expected = {{5, 0, L""}, {20, -1, L"拷贝文件失败"}};
    EXPECT_EQ(Install(m_installDir), expected);
    CloseHandle(h);
    EXPECT_EQ(ReadBytes(held), "running");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kView));
    // Earlier copy lines may reach the file first: wait for the failed one itself.
    bool found = false;
    WaitFor(
        [&] {
            for (const LogLine& l : NewLogLines(logBefore, L"正在拷贝文件["))
                found |= l.message.find(L"to=[" + held + L"] bRet=[0]") != std::wstring::npos;
            return found;
        },
        10000);
    EXPECT_TRUE(found) << "the failed copy is logged with bRet=[0]";
}

TEST_F(InstallEngine, PathsBeyondTheCopyBuffersAreAFailedCopy) {
    // Folder names of 200 characters: a few levels exceed the 511 characters
    // that the copy step's path buffers hold.
    const std::wstring longName(200, L'x');
    struct Case {
        const char* what;
        std::vector<std::wstring> folders;
        std::wstring file;
    } cases[] = {
        {"a folder path too long", {longName + L"1", longName + L"2", longName + L"3"}, L"f.txt"},
        {"a file path too long", {longName + L"1", longName + L"2"}, std::wstring(120, L'f') + L".txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearRegistry();
        RemoveDirTree(m_setup->Payload());
        std::wstring dir = L"\\\\?\\" + m_setup->Payload();
        CreateDirectoryW(dir.c_str(), nullptr);
        WriteBytes(m_setup->Payload() + L"\\KeloPdfReader.exe", "reader");
        for (const std::wstring& f : c.folders) {
            dir += L"\\" + f;
            ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "long folder, error " << GetLastError();
        }
        ASSERT_TRUE(WriteBytes(dir + L"\\" + c.file, "deep"));

        const std::vector<Rec> expected = {{5, 0, L""}, {20, -1, L"拷贝文件失败"}};
        EXPECT_EQ(Install(m_installDir), expected);
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kView));
        RemoveDirTree(L"\\\\?\\" + m_setup->Payload());
        RemoveDirTree(L"\\\\?\\" + m_installDir + L"\\" + longName + L"1");
    }
}

// A junction or symbolic link on the way of the copy would make the elevated
// engine write wherever it points. Wine cannot make one, so the entry is
// marked as a link where the engine reads its attributes.
TEST_F(InstallEngine, ALinkOnTheWayOfTheCopyFailsTheCopy) {
    struct Case {
        const char* what;
        std::wstring link;     // relative to the installation folder; ".." is the folder above
        std::wstring written;  // a file the copy must not have written through the link
    } cases[] = {
        {"the installation folder", L"", L"KeloPdfReader.exe"},
        {"a folder above it", L"..", L"KeloPdfReader.exe"},
        {"a folder the copy fills", L"plugins", L"plugins\\a.dll"},
        {"a folder deeper down", L"plugins\\deep", L"plugins\\deep\\b.dat"},
        {"a file the copy replaces", L"icon.ico", L"icon.ico"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearRegistry();
        RemoveDirTree(m_installDir);
        ASSERT_TRUE(CreateDirTree(m_installDir + L"\\plugins\\deep"));
        ASSERT_TRUE(WriteBytes(m_installDir + L"\\icon.ico", "link target"));
        FakeLinks links;
        const std::wstring link = c.link.empty() ? m_installDir
                                  : c.link == L".." ? m_target->path()
                                                    : m_installDir + L"\\" + c.link;
        links.Mark(link);

        const std::vector<Rec> expected = {{5, 0, L""}, {20, -1, L"拷贝文件失败"}};
        EXPECT_EQ(Install(m_installDir), expected);
        const std::wstring written = m_installDir + L"\\" + c.written;
        if (c.written == L"icon.ico") {
            EXPECT_EQ(ReadBytes(written), "link target");
        } else {
            EXPECT_FALSE(Exists(written)) << "written through the link: " << ToNarrow(written);
        }
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kView));
    }
}

// ---------------------------------------------------------------- programs and service

TEST_F(InstallEngine, NoPauseWhenNoProgramWasEnded) {
    EXPECT_EQ(Install(m_installDir), kSuccess);
    ASSERT_GE(m_ticks.size(), 2u);
    EXPECT_LT(m_ticks[1] - m_ticks[0], 2500u) << "no program ran, so the copy starts at once";
}

TEST_F(InstallEngine, RunningProgramsAreEndedAndTheCopyWaitsThreeSeconds) {
    TempDir progs(L"programs");
    RunningProgram readerA(PlaceStandin(progs / L"a", Product::kMainExe, Product::kMainExe));
    RunningProgram readerB(PlaceStandin(progs / L"b", Product::kMainExe, Product::kMainExe));
    RunningProgram uninst(PlaceStandin(progs.path(), Product::kMainExe, Product::kUninstExe));
    RunningProgram update(PlaceStandin(progs.path(), Product::kMainExe, Product::kUpdateExe));
    RunningProgram advert(PlaceStandin(progs.path(), Product::kAdvertisingExe, Product::kAdvertisingExe));
    RunningProgram lowerCase(PlaceStandin(progs / L"c", Product::kMainExe, L"keloPdfReader.exe"));

    EXPECT_EQ(Install(m_installDir), kSuccess);
    ASSERT_GE(m_ticks.size(), 2u);
    EXPECT_GE(m_ticks[1] - m_ticks[0], 2900u) << "the copy waits for the ended programs";

    EXPECT_TRUE(uninst.WaitExit(5000));
    EXPECT_TRUE(update.WaitExit(5000));
    EXPECT_TRUE(advert.WaitExit(5000));
    // One process per name: of two readers only the first found is ended.
    EXPECT_TRUE(WaitFor([&] { return !readerA.IsRunning() || !readerB.IsRunning(); }, 5000));
    Sleep(300);
    EXPECT_NE(readerA.IsRunning(), readerB.IsRunning());
    EXPECT_TRUE(lowerCase.IsRunning()) << "names are compared case-sensitively";
}

TEST_F(InstallEngine, TheRunningServiceIsStoppedBeforeTheCopy) {
    StandinService service;
    ASSERT_TRUE(service.Start(L"stop=hint"));
    EXPECT_EQ(Install(m_installDir), kSuccess);
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
    ASSERT_GE(m_ticks.size(), 2u);
    EXPECT_GE(m_ticks[1] - m_ticks[0], 1000u) << "the copy started after the service had stopped";
}

TEST_F(InstallEngine, DestroyingTheManagerEndsARunningWorker) {
    // A service that never stops keeps the worker in its bounded wait.
    StandinService service;
    ASSERT_TRUE(service.Start(L"stop=pending"));
    RecordSink<InstallProgress> sink(WM_INSTALL_PROGRESS);
    g_hSetupWnd = sink.hwnd();
    std::unique_ptr<CInstallMgr> mgr(new CInstallMgr);
    mgr->m_strInstallDir = m_installDir;
    mgr->BeginInstallThread();
    HANDLE worker = nullptr;
    DuplicateHandle(GetCurrentProcess(), mgr->GetThreadHandle(), GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE, 0);
    ASSERT_TRUE(sink.PumpUntil(nullptr, [&] { return !sink.arrivals.empty(); }, 10000));
    Sleep(1000);
    const DWORD before = GetTickCount();
    mgr.reset();
    EXPECT_LT(GetTickCount() - before, 2000u);
    EXPECT_EQ(WaitForSingleObject(worker, 5000), WAIT_OBJECT_0);
    CloseHandle(worker);
    sink.PumpUntil(nullptr, nullptr, 500);
    g_hSetupWnd = nullptr;
    ASSERT_EQ(sink.arrivals.size(), 1u) << "nothing after the start record";
    EXPECT_EQ(sink.arrivals[0].record.percent, 5);
    EXPECT_FALSE(Exists(m_installDir + L"\\KeloPdfReader.exe"));
}

TEST_F(InstallEngine, DestroyingTheManagerDuringTheCopyLetsTheWorkerEndByItself) {
    // A payload whose copy takes seconds; the manager goes while files are being copied.
    const std::wstring bulk = m_setup->Payload() + L"\\bulk";
    ASSERT_TRUE(CreateDirectoryW(bulk.c_str(), nullptr));
    const size_t kFiles = 2000;
    for (size_t i = 0; i < kFiles; ++i) ASSERT_TRUE(WriteBytes(bulk + L"\\f" + std::to_wstring(i), std::string(4096, 'k')));
    const size_t logBefore = ReadLog().size();
    RecordSink<InstallProgress> sink(WM_INSTALL_PROGRESS);
    g_hSetupWnd = sink.hwnd();
    std::unique_ptr<CInstallMgr> mgr(new CInstallMgr);
    mgr->m_strInstallDir = m_installDir;
    mgr->BeginInstallThread();
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), mgr->GetThreadHandle(), GetCurrentProcess(), &worker,
                                SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));
    ASSERT_TRUE(WaitFor([&] { return CountFiles(m_installDir + L"\\bulk") >= 20; }, 60000)) << "the copy did not start";

    const DWORD before = GetTickCount();
    mgr.reset();
    EXPECT_LT(GetTickCount() - before, 10000u) << "the destructor waited without bound";
    // The worker ended by itself, through the end of its thread function, not from outside.
    ASSERT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    DWORD exitCode = 1234;
    GetExitCodeThread(worker, &exitCode);
    CloseHandle(worker);
    EXPECT_EQ(exitCode, 0u) << "the worker was ended from outside";
    const std::wstring lastLine = L"CInstallMgr::InstallProc 安装完成 线程threadid=[";
    const std::vector<LogLine> log = NewLogLines(logBefore, lastLine);
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                            [&](const LogLine& l) { return l.message.compare(0, lastLine.size(), lastLine) == 0; }))
        << "the worker did not reach its end";

    // Nothing is copied any more, and the copy did not reach its end.
    const size_t copied = CountFiles(m_installDir + L"\\bulk");
    Sleep(1000);
    EXPECT_EQ(CountFiles(m_installDir + L"\\bulk"), copied);
    EXPECT_LT(copied, kFiles);
    sink.PumpUntil(nullptr, nullptr, 300);
    g_hSetupWnd = nullptr;
    ASSERT_EQ(sink.arrivals.size(), 1u) << "a record after the start record";
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, kView));
}

// ---------------------------------------------------------------- registration

TEST_F(InstallEngine, DefaultsWhenInstallIniLacksNameAndVersion) {
    for (bool withIni : {true, false}) {
        SCOPED_TRACE(withIni ? "install.ini with a channel only" : "no install.ini");
        if (withIni) {
            m_setup->WriteIni(L"[CONFIG]\r\nchannel=33\r\n");
        } else {
            m_setup->RemoveIni();
        }
        FakeFirewall fw;
        EXPECT_EQ(Install(m_installDir, &fw), kSuccess);
        EXPECT_EQ(UninstallValue(Product::kValDisplayName), L"KeloPDF阅读器");
        EXPECT_EQ(UninstallValue(Product::kValDisplayVersion), L"1.0.0.0");
        EXPECT_EQ(ProductValue(Product::kValAppName), L"KeloPDF阅读器");
        EXPECT_EQ(ProductValue(Product::kValVersionStr), L"1.0.0.0");
        EXPECT_EQ(ProductValue(Product::kValChannel), withIni ? L"33" : L"10");
        EXPECT_EQ(fw.rules.CountNamed(L"KeloPDF阅读器"), 1u);
        ExpectShortcuts(L"KeloPDF阅读器", m_installDir);
    }
}

TEST_F(InstallEngine, ChannelRule) {
    struct Case {
        const wchar_t* iniChannel;  // null: no such key
        const wchar_t* parent;
        const wchar_t* channel;
    } cases[] = {
        {L"33", L"KeloPdfReaderSetup_8", L"33"},
        {nullptr, L"KeloPdfReaderSetup_8", L"8"},
        {L"", L"KeloPdfReaderSetup_8", L"8"},
        {nullptr, L"explorer", L"10"},
        {nullptr, L"KeloPdfReaderSetup_", L"10"},
        {nullptr, L"", L"10"},
    };
    RecordSink<InstallProgress> sink(WM_INSTALL_PROGRESS);
    g_hSetupWnd = sink.hwnd();
    for (const Case& c : cases) {
        SCOPED_TRACE(ToNarrow(c.parent));
        std::wstring ini = std::wstring(L"[CONFIG]\r\nappname=") + kAppName + L"\r\n";
        if (c.iniChannel) ini += std::wstring(L"channel=") + c.iniChannel + L"\r\n";
        m_setup->WriteIni(ini);
        g_strParentName = c.parent;
        FakeFirewall fw;
        CInstallMgr mgr;
        mgr.m_strInstallDir = m_installDir;
        mgr.SetFirewallPolicy(&fw.policy, [&fw](INetFwRule** out) { return fw.MakeRule(out); });
        sink.arrivals.clear();
        EXPECT_TRUE(mgr.AfterInstall(90));
        sink.PumpUntil(nullptr, [&] { return sink.arrivals.size() >= 2; }, 5000);
        ASSERT_EQ(sink.arrivals.size(), 2u);
        EXPECT_EQ(sink.arrivals[0].record.percent, 90);
        EXPECT_EQ(sink.arrivals[1].record.percent, 100);
        EXPECT_EQ(ProductValue(Product::kValChannel), c.channel);
    }
    g_hSetupWnd = nullptr;
}

TEST_F(InstallEngine, InstallingTwiceIntoTheSameFolder) {
    FakeFirewall fw;
    const int countBefore = g_nCopyCount;
    EXPECT_EQ(Install(m_installDir, &fw), kSuccess);
    const std::wstring firstId = ProductValue(Product::kValMachineId);
    EXPECT_EQ(Install(m_installDir, &fw), kSuccess);
    EXPECT_EQ(fw.rules.CountNamed(kAppName), 1u) << "the old rule is removed before the new one is added";
    EXPECT_EQ(fw.made.size(), 2u);
    EXPECT_EQ(g_nCopyCount, countBefore + 2 * static_cast<int>(kCopied.size())) << "the count is never reset";
    ExpectShortcuts(kAppName, m_installDir);
    std::string mac;
    if (GetMacAddress(mac)) {
        EXPECT_EQ(ProductValue(Product::kValMachineId), firstId) << "the same adapter gives the same id";
    } else {
        EXPECT_NE(ProductValue(Product::kValMachineId), firstId) << "without an adapter every install gets a new id";
    }
}

TEST_F(InstallEngine, InstallingIntoASecondFolder) {
    FakeFirewall fw;
    EXPECT_EQ(Install(m_installDir, &fw), kSuccess);
    TempDir second(L"second");
    const std::wstring other = second / L"Kelo";
    CreateDirectoryW(other.c_str(), nullptr);
    EXPECT_EQ(Install(other, &fw), kSuccess);

    EXPECT_EQ(ProductValue(Product::kValInstallDir), other);
    EXPECT_EQ(UninstallValue(Product::kValDisplayIcon), other + L"\\icon.ico");
    EXPECT_EQ(UninstallValue(Product::kValUninstallString), other + L"\\Uninst.exe");
    ExpectShortcuts(kAppName, other);
    ASSERT_EQ(fw.rules.CountNamed(kAppName), 1u);
    EXPECT_EQ(fw.rules.Named(kAppName)->application, other + L"\\KeloPdfReader.exe");
    // The first folder's files stay.
    for (const auto& rel : kCopied) EXPECT_TRUE(Exists(m_installDir + L"\\" + rel)) << ToNarrow(rel);
    EXPECT_EQ(ConfigMachineId(other), ProductValue(Product::kValMachineId));
}

// The whole sequence on a thread of the test's own, with the system's firewall
// object: afterwards that thread must be free to enter another apartment.
struct WorkerResult {
    CInstallMgr* mgr;
    unsigned procResult;
    HRESULT comAfter;
};

DWORD WINAPI RunInstallProc(LPVOID param) {
    WorkerResult* r = static_cast<WorkerResult*>(param);
    r->procResult = CInstallMgr::InstallProc(r->mgr);
    r->comAfter = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(r->comAfter)) CoUninitialize();
    return 0;
}

TEST_F(InstallEngine, ComIsBalancedOnTheWorkerThread) {
    RecordSink<InstallProgress> sink(WM_INSTALL_PROGRESS);
    g_hSetupWnd = sink.hwnd();
    CInstallMgr mgr;
    mgr.m_strInstallDir = m_installDir;
    const size_t logBefore = ReadLog().size();
    WorkerResult result = {&mgr, 99, E_UNEXPECTED};
    HANDLE t = CreateThread(nullptr, 0, RunInstallProc, &result, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(sink.PumpUntil(t, nullptr, 120000));
    CloseHandle(t);
    g_hSetupWnd = nullptr;
    EXPECT_EQ(result.procResult, 0u);
    EXPECT_EQ(result.comAfter, S_OK) << "COM left initialised on the worker thread";
    std::vector<Rec> recs;
    for (const auto& a : sink.arrivals) recs.push_back({a.record.percent, a.record.status, a.record.text});
    EXPECT_EQ(recs, kSuccess);
    // The system's firewall object took the rule.
    const std::wstring wanted = std::wstring(kAppName) + L" add firewall ret=1";
    const std::vector<LogLine> log = NewLogLines(logBefore, wanted);
    bool found = false;
    for (const LogLine& l : log) found |= l.message == wanted;
    EXPECT_TRUE(found);
}

TEST_F(InstallEngine, ThreadProcedureWithoutManagerOnlyLogs) {
    const size_t logBefore = ReadLog().size();
    EXPECT_EQ(CInstallMgr::InstallProc(nullptr), 0u);
    const std::vector<LogLine> log = NewLogLines(logBefore, L"CInstallMgr::InstallProc 线程参数有问题");
    ASSERT_FALSE(log.empty());
    const LogLine& line = log.back();
    EXPECT_EQ(line.level, L"ERROR");
    EXPECT_EQ(line.message, L"CInstallMgr::InstallProc 线程参数有问题 threadid=[" + std::to_wstring(GetCurrentThreadId()) +
                                L"]");
}

TEST_F(InstallEngine, RecordsNeedAWindow) {
    // Without a window nothing is posted (and nothing leaks into another window).
    g_hSetupWnd = nullptr;
    PostInstallProgress(InstallProgress{5, 0, L""});
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_INSTALL_PROGRESS, WM_INSTALL_PROGRESS, PM_REMOVE));
}

}  // namespace
