// CUpdateMgr's worker run end to end: status records posted to a
// message-only window, the package unpacked over an installation folder, the
// version recorded, the package folder removed, programs ended, update.log.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "FolderCount.h"
#include "Log.h"
#include "PathUtils.h"
#include "Product.h"
#include "UpdateMgr.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

struct Arrival {
    UpdateStatus status;
    DWORD tick;
};

// Message-only window that keeps every WM_UPDATE_STATUS record with its arrival time.
class StatusSink {
public:
    StatusSink() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &StatusSink::WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KeloUpdateTestSink";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                 nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~StatusSink() { DestroyWindow(m_hWnd); }
    HWND Hwnd() const { return m_hWnd; }

    // Dispatches messages until the handle is signalled, then what is still queued.
    bool PumpUntil(HANDLE h, DWORD timeoutMs) {
        DWORD start = GetTickCount();
        for (;;) {
            Dispatch();
            if (WaitForSingleObject(h, 0) == WAIT_OBJECT_0) break;
            if (GetTickCount() - start > timeoutMs) return false;
            MsgWaitForMultipleObjects(1, &h, FALSE, 50, QS_ALLINPUT);
        }
        Dispatch();
        return true;
    }
    void PumpFor(DWORD ms) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            Dispatch();
            Sleep(20);
        }
        Dispatch();
    }

    std::vector<Arrival> arrivals;

private:
    void Dispatch() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
        StatusSink* self = reinterpret_cast<StatusSink*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && msg == WM_UPDATE_STATUS) {
            UpdateStatus* record = reinterpret_cast<UpdateStatus*>(wParam);
            EXPECT_EQ(lParam, 0);
            self->arrivals.push_back({*record, GetTickCount()});
            delete record;
            return 0;
        }
        return DefWindowProcW(h, msg, wParam, lParam);
    }
    HWND m_hWnd = nullptr;
};

// update.log of this test program, opened once.
std::wstring LogFile() {
    static std::wstring path;
    if (path.empty()) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        std::wstring folder = std::wstring(temp) + L"kelo_update_log";
        CLog::GetInstance().Init(ToNarrow(folder).c_str(), ToNarrow(Product::kUpdateLog).c_str());
        path = folder + L"\\" + Product::kUpdateLog;
    }
    return path;
}

bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

// The view CRegSettings writes the product key in: the 32-bit view for the
// delivered i686 programs; the x86_64 test build writes its native view.
#ifdef _WIN64
const REGSAM kProductView = KEY_WOW64_64KEY;
#else
const REGSAM kProductView = KEY_WOW64_32KEY;
#endif

bool ReadProductValue(const wchar_t* name, std::wstring* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Product::kRegProductKey, 0, KEY_QUERY_VALUE | kProductView, &h) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buf[512] = {};
    DWORD size = sizeof(buf) - sizeof(wchar_t), type = 0;
    LONG rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
    *value = buf;
    return true;
}

void DeleteProductKey() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Product::kRegProductKey, kProductView, 0); }

// INI value, or "<absent>" when the key is not there.
std::wstring IniValue(const std::wstring& ini, const wchar_t* section, const wchar_t* key) {
    wchar_t buf[256] = {};
    GetPrivateProfileStringW(section, key, L"<absent>", buf, 256, ini.c_str());
    return buf;
}

// A copy of a built program, running until ended.
class Program {
public:
    Program(const std::wstring& exe, const std::wstring& args = L"") {
        std::wstring cmd = L"\"" + exe + L"\" " + args;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ADD_FAILURE() << "cannot start " << Narrow(exe);
            return;
        }
        CloseHandle(pi.hThread);
        m_hProcess = pi.hProcess;
        WaitForInputIdle(m_hProcess, 5000);
    }
    ~Program() {
        if (IsRunning()) {
            TerminateProcess(m_hProcess, 1);
            WaitForSingleObject(m_hProcess, 5000);
        }
        if (m_hProcess) CloseHandle(m_hProcess);
    }
    bool IsRunning() const { return m_hProcess && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitExit(DWORD ms) const { return m_hProcess && WaitForSingleObject(m_hProcess, ms) == WAIT_OBJECT_0; }

private:
    HANDLE m_hProcess = nullptr;
};

std::wstring PlaceProgram(const std::wstring& builtName, const std::wstring& folder, const std::wstring& asName) {
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring dest = folder + L"\\" + asName;
    EXPECT_TRUE(CopyFileW((ExeDir() + L"\\" + builtName).c_str(), dest.c_str(), FALSE)) << Narrow(builtName);
    return dest;
}

class UpdateRun : public ::testing::Test {
protected:
    UpdateRun() : m_temp(L"kelo_upd") {
        m_inst = m_temp / L"KeloPdfReader";
        m_update = m_inst + L"\\" + Product::kUpdateFolder;
        CreateDirectoryW(m_inst.c_str(), nullptr);
        CreateDirectoryW(m_update.c_str(), nullptr);
        m_log = LogFile();
        DeleteProductKey();
    }
    ~UpdateRun() override {
        g_hUpdateWnd = nullptr;
        DeleteProductKey();
    }

    void PlacePackage(const wchar_t* fixture) {
        ASSERT_TRUE(CopyFileW(Fixture(std::wstring(L"update\\") + fixture).c_str(),
                              (m_update + L"\\" + Product::kUpdateZip).c_str(), FALSE));
    }

    // One worker run to its end; the records land in m_sink.
    void Run(bool withTarget = true) {
        CUpdateMgr::m_strMainExePath = m_inst;
        g_hUpdateWnd = withTarget ? m_sink.Hwnd() : nullptr;
        CUpdateMgr mgr;
        m_start = GetTickCount();
        mgr.StartUpdateThread();
        HANDLE worker = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), CUpdateMgr::GetThreadHandle(), GetCurrentProcess(), &worker,
                                    SYNCHRONIZE, FALSE, 0));
        EXPECT_TRUE(m_sink.PumpUntil(worker, 30000));
        m_elapsed = GetTickCount() - m_start;
        CloseHandle(worker);
        m_sink.PumpFor(100);
        EXPECT_EQ(CUpdateMgr::GetThreadHandle(), INVALID_HANDLE_VALUE);
    }

    void ExpectSequence(const std::vector<UpdateStatus>& expected) {
        ASSERT_EQ(m_sink.arrivals.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(m_sink.arrivals[i].status.kind, expected[i].kind) << i;
            EXPECT_EQ(m_sink.arrivals[i].status.percent, expected[i].percent) << i;
            EXPECT_EQ(Narrow(m_sink.arrivals[i].status.text), Narrow(expected[i].text)) << i;
        }
    }

    bool LogHas(const std::wstring& line) {
        return WaitFor([&] { return ToWide(ReadAll(m_log)).find(line) != std::wstring::npos; }, 5000);
    }

    std::wstring ZipLine(int ret) const {
        return L"CUpdateMgr::DownFileThreadProc 解压文件 strZipFile=[" + m_update + L"\\Update.zip] m_strMainExePath=[" +
               m_inst + L"] ret=[" + std::to_wstring(ret) + L"]";
    }

    void ExpectNothingRecorded() {
        std::wstring value;
        EXPECT_FALSE(ReadProductValue(Product::kValVersion, &value)) << Narrow(value);
        EXPECT_FALSE(ReadProductValue(Product::kValVersionStr, &value)) << Narrow(value);
        EXPECT_EQ(Narrow(IniValue(m_inst + L"\\config.ini", L"CONFIG", L"version")), "<absent>");
    }

    TempFolder m_temp;
    std::wstring m_inst, m_update, m_log;
    StatusSink m_sink;
    DWORD m_start = 0, m_elapsed = 0;
};

const std::vector<UpdateStatus> kSuccess = {{2, 10, L"开始升级..."}, {2, 100, L"解压完成..."}, {4, 100, L"升级成功..."}};
const std::vector<UpdateStatus> kFailure = {{2, 10, L"开始升级..."}, {3, 100, L"解压失败..."}};

TEST_F(UpdateRun, SuccessUnpacksRecordsTheVersionAndRemovesThePackage) {
    PlacePackage(L"good.zip");
    // Two copies of the application and the uninstaller run; only the first
    // application found and the uninstaller are ended.
    std::wstring apps = m_temp / L"apps";
    Program reader1(PlaceProgram(L"KeloPdfReader.exe", apps + L"1", Product::kMainExe));
    Program reader2(PlaceProgram(L"KeloPdfReader.exe", apps + L"2", Product::kMainExe));
    Program uninst(PlaceProgram(L"KeloPdfReader.exe", apps + L"3", Product::kUninstExe));
    ASSERT_TRUE(reader1.IsRunning() && reader2.IsRunning() && uninst.IsRunning());

    Run();
    ExpectSequence(kSuccess);
    // The first report waits 1 s before the programs are ended and 3 s more.
    ASSERT_FALSE(m_sink.arrivals.empty());
    EXPECT_GE(m_sink.arrivals[0].tick - m_start, 3900u);
    EXPECT_GE(m_elapsed, 7900u);

    EXPECT_TRUE(uninst.WaitExit(2000));
    EXPECT_EQ((reader1.IsRunning() ? 1 : 0) + (reader2.IsRunning() ? 1 : 0), 1);

    EXPECT_EQ(ReadAll(m_inst + L"\\KeloPdfReader.exe"), "new reader binary");
    EXPECT_TRUE(Exists(m_inst + L"\\plugins\\render.dll"));
    EXPECT_FALSE(Exists(m_update));

    std::wstring version, versionStr;
    ASSERT_TRUE(ReadProductValue(Product::kValVersion, &version));
    ASSERT_TRUE(ReadProductValue(Product::kValVersionStr, &versionStr));
    EXPECT_EQ(Narrow(version), "2.3.4.5");
    EXPECT_EQ(Narrow(versionStr), Narrow(L"2.3.4 正式版"));
    EXPECT_EQ(Narrow(IniValue(m_inst + L"\\config.ini", L"CONFIG", L"version")), "2.3.4.5");

    EXPECT_TRUE(LogHas(L"CUpdateMgr::StartUpdateThread 启动线程下载升级包"));
    EXPECT_TRUE(LogHas(ZipLine(1)));
    EXPECT_TRUE(LogHas(L"CUpdateMgr::DownFileThreadProc ini文件读取版本号写入注册表 szUpgradeIniFile=[" + m_update +
                       L"\\update.ini], version=[2.3.4.5] versionStr=[2.3.4 正式版]"));
}

TEST_F(UpdateRun, ZeroEntriesIsASuccessAndMissingVersionFileWritesEmptyStrings) {
    PlacePackage(L"zero.zip");
    Run();
    ExpectSequence(kSuccess);
    std::wstring value = L"x";
    ASSERT_TRUE(ReadProductValue(Product::kValVersion, &value));
    EXPECT_EQ(value, L"");
    ASSERT_TRUE(ReadProductValue(Product::kValVersionStr, &value));
    EXPECT_EQ(value, L"");
    EXPECT_EQ(Narrow(IniValue(m_inst + L"\\config.ini", L"CONFIG", L"version")), "");
    EXPECT_FALSE(Exists(m_update));
}

TEST_F(UpdateRun, VersionFileWithoutConfigSectionWritesEmptyStrings) {
    PlacePackage(L"no_config.zip");
    Run();
    ExpectSequence(kSuccess);
    std::wstring value = L"x";
    ASSERT_TRUE(ReadProductValue(Product::kValVersion, &value));
    EXPECT_EQ(value, L"");
    ASSERT_TRUE(ReadProductValue(Product::kValVersionStr, &value));
    EXPECT_EQ(value, L"");
    EXPECT_EQ(Narrow(IniValue(m_inst + L"\\config.ini", L"CONFIG", L"version")), "");
    EXPECT_TRUE(Exists(m_inst + L"\\readme.txt"));
    EXPECT_TRUE(LogHas(L"szUpgradeIniFile=[" + m_update + L"\\update.ini], version=[] versionStr=[]"));
}

TEST_F(UpdateRun, NullStatusTargetDropsReportsWithoutTheirDelays) {
    PlacePackage(L"good.zip");
    Run(false);
    EXPECT_TRUE(m_sink.arrivals.empty());
    // 1 s start and 2 s after extraction remain; the 6 s of report delays do not.
    EXPECT_GE(m_elapsed, 2900u);
    EXPECT_LT(m_elapsed, 7000u);
    std::wstring version;
    ASSERT_TRUE(ReadProductValue(Product::kValVersion, &version));
    EXPECT_EQ(Narrow(version), "2.3.4.5");
    EXPECT_FALSE(Exists(m_update));
}

// ------------------------------------------------------------ failures

TEST_F(UpdateRun, MissingPackageFails) {
    Run();
    ExpectSequence(kFailure);
    ExpectNothingRecorded();
    EXPECT_FALSE(Exists(m_update));
    EXPECT_TRUE(LogHas(ZipLine(0)));
}

TEST_F(UpdateRun, BrokenPackageFails) {
    PlacePackage(L"broken.zip");
    ASSERT_TRUE(WriteAll(m_update + L"\\update.ini", std::string("[CONFIG]\r\nversion=9.9\r\n")));
    Run();
    ExpectSequence(kFailure);
    ExpectNothingRecorded();
    EXPECT_FALSE(Exists(m_update));
}

TEST_F(UpdateRun, HostilePackageChangesNothing) {
    PlacePackage(L"hostile.zip");
    Run();
    ExpectSequence(kFailure);
    ExpectNothingRecorded();
    EXPECT_FALSE(Exists(m_temp / L"evil.txt"));
    EXPECT_FALSE(Exists(m_inst + L"\\readme.txt"));  // refused before the first entry was written
    EXPECT_FALSE(Exists(m_update));
}

TEST_F(UpdateRun, ReadOnlyInstalledFileFails) {
    ASSERT_TRUE(WriteAll(m_inst + L"\\locked.dat", std::string("old")));
    ASSERT_TRUE(SetFileAttributesW((m_inst + L"\\locked.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    PlacePackage(L"replaces_file.zip");
    Run();
    ExpectSequence(kFailure);
    ExpectNothingRecorded();
    EXPECT_EQ(ReadAll(m_inst + L"\\locked.dat"), "old");
    EXPECT_FALSE(Exists(m_update));
    SetFileAttributesW((m_inst + L"\\locked.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UpdateRun, FileHeldOpenByASecondRunningCopyFails) {
    // Each copy of the application holds one file the package replaces; only
    // one of them is ended, so one file stays held whichever it is.
    std::wstring apps = m_temp / L"apps";
    std::wstring held1 = m_inst + L"\\locked.dat", held2 = m_inst + L"\\locked2.dat";
    Program holder1(PlaceProgram(L"update_file_holder.exe", apps + L"1", Product::kMainExe), L"\"" + held1 + L"\"");
    Program holder2(PlaceProgram(L"update_file_holder.exe", apps + L"2", Product::kMainExe), L"\"" + held2 + L"\"");
    ASSERT_TRUE(WaitFor([&] { return Exists(held1 + L".held") && Exists(held2 + L".held"); }, 10000));
    PlacePackage(L"replaces_two.zip");
    Run();
    ExpectSequence(kFailure);
    ExpectNothingRecorded();
    EXPECT_EQ((holder1.IsRunning() ? 1 : 0) + (holder2.IsRunning() ? 1 : 0), 1);
    EXPECT_FALSE(Exists(m_update));
}

// ------------------------------------------------------------ whole or not at all

// What the comparison sees of one file or folder: attributes, bytes and the
// creation and write times (access times move whenever a file is read).
struct Snapshot {
    DWORD attributes;
    std::string bytes;
    ULONGLONG created, written;
    bool operator==(const Snapshot& o) const {
        return attributes == o.attributes && bytes == o.bytes && created == o.created && written == o.written;
    }
};

ULONGLONG Ticks(const FILETIME& ft) { return (ULONGLONG)ft.dwHighDateTime << 32 | ft.dwLowDateTime; }

// Every file and folder of the installation but its "Update" folder.
std::map<std::wstring, Snapshot> TakeSnapshot(const std::wstring& inst) {
    std::map<std::wstring, Snapshot> out;
    for (const std::wstring& rel : ListTree(inst)) {
        if (rel.compare(0, 7, L"Update\\") == 0) continue;
        const std::wstring path = inst + L"\\" + rel;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        const bool folder = rel.back() == L'\\';
        out[rel] = Snapshot{data.dwFileAttributes, folder ? std::string() : ReadAll(path),
                            folder ? 0 : Ticks(data.ftCreationTime), folder ? 0 : Ticks(data.ftLastWriteTime)};
    }
    return out;
}

std::string Describe(const std::map<std::wstring, Snapshot>& a, const std::map<std::wstring, Snapshot>& b) {
    std::string why;
    for (const auto& e : a) {
        auto it = b.find(e.first);
        if (it == b.end()) why += "gone: " + Narrow(e.first) + "\n";
        else if (!(it->second == e.second)) why += "changed: " + Narrow(e.first) + "\n";
    }
    for (const auto& e : b)
        if (!a.count(e.first)) why += "new: " + Narrow(e.first) + "\n";
    return why;
}

class UpdateFailure : public UpdateRun {
protected:
    // The installation every failing package meets (see make_fixtures.py).
    void LayOut() {
        ASSERT_TRUE(WriteAll(m_inst + L"\\KeloPdfReader.exe", std::string("old reader binary")));
        ASSERT_TRUE(WriteAll(m_inst + L"\\readme.txt", std::string("old readme")));
        CreateDirectoryW((m_inst + L"\\plugins").c_str(), nullptr);
        CreateDirectoryW((m_inst + L"\\lib").c_str(), nullptr);
        ASSERT_TRUE(WriteAll(m_inst + L"\\plugins\\render.dll", std::string("old render")));
        ASSERT_TRUE(WriteAll(m_inst + L"\\plugins\\old.dll", std::string("old plugin")));
        ASSERT_TRUE(WriteAll(m_inst + L"\\lib\\keep.dll", std::string("kept")));
        // Times of their own, so that a file written anew cannot look the same.
        FILETIME old = {0x12345678, 0x01C00000};
        for (const wchar_t* rel : {L"KeloPdfReader.exe", L"readme.txt", L"plugins\\render.dll", L"plugins\\old.dll",
                                   L"lib\\keep.dll"}) {
            HANDLE h = CreateFileW((m_inst + L"\\" + rel).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            SetFileTime(h, &old, &old, &old);
            CloseHandle(h);
        }
    }

    void PlaceFailing(const wchar_t* package) {
        ASSERT_TRUE(CopyFileW(Fixture(std::wstring(L"update\\fail\\") + package).c_str(),
                              (m_update + L"\\" + Product::kUpdateZip).c_str(), FALSE));
    }

    // Kind 3, nothing recorded, the installation as it was, no "Update" folder.
    void ExpectUnchanged(const std::map<std::wstring, Snapshot>& before) {
        ExpectSequence(kFailure);
        ExpectNothingRecorded();
        const std::map<std::wstring, Snapshot> after = TakeSnapshot(m_inst);
        EXPECT_TRUE(after == before) << Describe(before, after);
        EXPECT_FALSE(Exists(m_update));
        EXPECT_TRUE(LogHas(ZipLine(0)));
    }
};

// The package that all others spoil does update this installation.
TEST_F(UpdateFailure, TheUnspoiltPackageLandsWhole) {
    LayOut();
    PlaceFailing(L"fits.zip");
    Run();
    ExpectSequence(kSuccess);
    EXPECT_EQ(ReadAll(m_inst + L"\\KeloPdfReader.exe"), "new reader binary");
    EXPECT_EQ(ReadAll(m_inst + L"\\readme.txt"), "new readme");
    EXPECT_EQ(ReadAll(m_inst + L"\\plugins\\new.dll"), "new plugin");
    EXPECT_EQ(ReadAll(m_inst + L"\\plugins\\old.dll"), "old plugin");
    EXPECT_EQ(ReadAll(m_inst + L"\\newdir\\deeper\\added.txt"), "added");
    EXPECT_FALSE(Exists(m_update));
    std::wstring version;
    ASSERT_TRUE(ReadProductValue(Product::kValVersion, &version));
    EXPECT_EQ(Narrow(version), "2.3.4.5");
}

// Each package fails at another stage; each time the installation is left
// exactly as it was.
TEST_F(UpdateFailure, EveryFailureLeavesTheInstallationAsItWas) {
    struct Case {
        const char* what;
        const wchar_t* package;
        const wchar_t* attributeOn;  // installed file given the attribute below
        DWORD attribute;
    };
    const Case cases[] = {
        {"damaged entry first", L"damaged_first.zip", nullptr, 0},
        {"damaged entry in the middle", L"damaged_middle.zip", nullptr, 0},
        {"damaged entry last", L"damaged_last.zip", nullptr, 0},
        {"a file and a folder of the same name", L"clash_file_and_folder.zip", nullptr, 0},
        {"two entries, one file without case", L"clash_case.zip", nullptr, 0},
        {"a file where a folder is installed", L"file_over_installed_folder.zip", nullptr, 0},
        {"a folder where a file is installed", L"folder_over_installed_file.zip", nullptr, 0},
        {"read-only installed file", L"fits.zip", L"readme.txt", FILE_ATTRIBUTE_READONLY},
        {"hidden installed file", L"fits.zip", L"plugins\\render.dll", FILE_ATTRIBUTE_HIDDEN},
        {"system installed file", L"fits.zip", L"readme.txt", FILE_ATTRIBUTE_SYSTEM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(m_inst);
        CreateDirectoryW(m_inst.c_str(), nullptr);
        CreateDirectoryW(m_update.c_str(), nullptr);
        LayOut();
        if (c.attributeOn) {
            ASSERT_TRUE(SetFileAttributesW((m_inst + L"\\" + c.attributeOn).c_str(), c.attribute));
        }
        PlaceFailing(c.package);
        const auto before = TakeSnapshot(m_inst);
        m_sink.arrivals.clear();
        Run();
        ExpectUnchanged(before);
        if (c.attributeOn) SetFileAttributesW((m_inst + L"\\" + c.attributeOn).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A program that is not the application (so not ended by the updater) holds
// an installed file open without sharing.
TEST_F(UpdateFailure, FileHeldOpenByAnotherProgram) {
    LayOut();
    const std::wstring held = m_inst + L"\\plugins\\render.dll";
    Program holder(PlaceProgram(L"update_file_holder.exe", m_temp / L"holder", L"holder.exe"),
                   L"\"" + held + L"\"");
    ASSERT_TRUE(WaitFor([&] { return Exists(held + L".held"); }, 10000));
    DeleteFileW((held + L".held").c_str());
    PlaceFailing(L"fits.zip");
    const auto before = TakeSnapshot(m_inst);
    Run();
    ASSERT_TRUE(holder.IsRunning());
    ExpectUnchanged(before);
}

// The installation on a small volume: a size-limited tmpfs that
// run_small_volume.sh mounts and maps as drive S: before it runs this case
// (Wine cannot make such a volume itself). A package that would not fit is
// refused before anything is unpacked.
class UpdateSmallVolume : public UpdateFailure {
protected:
    UpdateSmallVolume() {
        m_inst = L"S:\\KeloPdfReader";
        m_update = m_inst + L"\\" + Product::kUpdateFolder;
        RemoveTree(m_inst);
        CreateDirectoryW(m_inst.c_str(), nullptr);
        CreateDirectoryW(m_update.c_str(), nullptr);
    }
    ~UpdateSmallVolume() override { RemoveTree(m_inst); }
};

TEST_F(UpdateSmallVolume, PackageLargerThanTheFreeSpaceIsRefused) {
    ASSERT_NE(GetDriveTypeW(L"S:\\"), (UINT)DRIVE_NO_ROOT_DIR) << "drive S: is mapped by run_small_volume.sh";
    ULARGE_INTEGER freeBytes = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"S:\\", &freeBytes, nullptr, nullptr));
    ASSERT_LT(freeBytes.QuadPart, 8ull << 20) << "the volume is not small";
    LayOut();
    PlaceFailing(L"larger_than_volume.zip");
    const auto before = TakeSnapshot(m_inst);
    Run();
    ExpectUnchanged(before);
    EXPECT_TRUE(LogHas(L"CUpdateStage::Stage 磁盘空间不足"));
}

// ------------------------------------------------------------ the worker itself

TEST(UpdateWorker, NullParameterEndsTheRunWithoutReports) {
    LogFile();
    StatusSink sink;
    g_hUpdateWnd = sink.Hwnd();
    EXPECT_EQ(CUpdateMgr::DownFileThreadProc(nullptr), static_cast<unsigned>(-1));
    sink.PumpFor(100);
    g_hUpdateWnd = nullptr;
    EXPECT_TRUE(sink.arrivals.empty());
    EXPECT_TRUE(WaitFor([] { return ToWide(ReadAll(LogFile())).find(L"CUpdateMgr::DownFileThreadProc 线程参数错误") !=
                                    std::wstring::npos; },
                        5000));
}

TEST(UpdateWorker, DestroyingTheManagerDuringTheExtractionLetsTheWorkerEndByItself) {
    // The end-to-end tests' large package (thousands of files under "bulk"),
    // whose extraction takes seconds; the manager goes during it.
    const std::wstring package = ExeDir() + L"\\update_packages\\large";
    TempFolder temp(L"kelo_updstop");
    const std::wstring update = temp / Product::kUpdateFolder;
    ASSERT_TRUE(CreateDirectoryW(update.c_str(), nullptr));
    for (const wchar_t* name : {Product::kUpdateZip, Product::kUpdateIni})
        ASSERT_TRUE(CopyFileW((package + L"\\" + name).c_str(), (update + L"\\" + name).c_str(), FALSE))
            << "no large package beside the test";
    const std::wstring log = LogFile();
    const std::string logBefore = ReadAll(log);
    CUpdateMgr::m_strMainExePath = temp.Path();
    g_hUpdateWnd = nullptr;
    std::unique_ptr<CUpdateMgr> mgr(new CUpdateMgr);
    mgr->StartUpdateThread();
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), CUpdateMgr::GetThreadHandle(), GetCurrentProcess(), &worker,
                                SYNCHRONIZE, FALSE, 0));
    // The package is unpacked into the staging folder before anything in the installation changes.
    const std::wstring staged = update + L"\\~staging\\bulk";
    ASSERT_TRUE(WaitFor([&] { return CountEntries(staged) >= 20; }, 60000)) << "the extraction did not start";

    const DWORD before = GetTickCount();
    mgr.reset();
    EXPECT_LT(GetTickCount() - before, 10000u) << "the destructor waited without bound";
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    CloseHandle(worker);
    // The worker went on to its own extraction line instead of being ended from outside.
    EXPECT_TRUE(WaitFor([&] { return ToWide(ReadAll(log).substr(logBefore.size())).find(
                                         L"CUpdateMgr::DownFileThreadProc 解压文件 strZipFile=[" + update) !=
                                     std::wstring::npos; },
                        5000));
    // Nothing is written any more, the extraction did not reach its end, and the package stays for a later run.
    const size_t written = CountEntries(staged);
    Sleep(1000);
    EXPECT_EQ(CountEntries(staged), written);
    EXPECT_LT(written, 3000u);
    EXPECT_FALSE(Exists(temp / L"bulk"));  // the installation never changed
    EXPECT_TRUE(GetFileAttributesW((update + L"\\" + Product::kUpdateZip).c_str()) != INVALID_FILE_ATTRIBUTES);
}

TEST(UpdateWorker, DestroyingTheManagerEndsARunningWorker) {
    TempFolder temp(L"kelo_updkill");
    CUpdateMgr::m_strMainExePath = temp.Path();
    StatusSink sink;
    g_hUpdateWnd = sink.Hwnd();
    HANDLE worker = nullptr;
    {
        CUpdateMgr mgr;
        mgr.StartUpdateThread();
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), CUpdateMgr::GetThreadHandle(), GetCurrentProcess(), &worker,
                                    SYNCHRONIZE, FALSE, 0));
        Sleep(300);
    }
    EXPECT_EQ(WaitForSingleObject(worker, 2000), WAIT_OBJECT_0);
    CloseHandle(worker);
    EXPECT_EQ(CUpdateMgr::GetThreadHandle(), INVALID_HANDLE_VALUE);
    sink.PumpFor(4500);  // past the first report's time
    g_hUpdateWnd = nullptr;
    EXPECT_TRUE(sink.arrivals.empty());
}

TEST(UpdateWorker, DownloadProgressIsKindOne) {
    StatusSink sink;
    g_hUpdateWnd = sink.Hwnd();
    CUpdateMgr mgr;
    mgr.OnDownProgress(200, 50);
    mgr.OnDownProgress(0.5, 1);
    sink.PumpFor(100);
    g_hUpdateWnd = nullptr;
    ASSERT_EQ(sink.arrivals.size(), 2u);
    EXPECT_EQ(sink.arrivals[0].status.kind, 1);
    EXPECT_EQ(sink.arrivals[0].status.percent, 25);
    EXPECT_EQ(Narrow(sink.arrivals[0].status.text), Narrow(L"下载中..."));
    EXPECT_EQ(sink.arrivals[1].status.percent, 0);
    EXPECT_EQ(sink.arrivals[1].status.text, L"");
}

}  // namespace
