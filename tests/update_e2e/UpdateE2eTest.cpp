// The updater end to end under Wine. The stand-in application plays the
// installed reader: its "检查更新" command places the package, copies
// "Update.exe" into a folder of its own and starts it elevated with the
// installation folder. The tests watch the strip, the application's restarts
// (the stand-in records every command line), the files, the registry and
// "update.log".
#include <gtest/gtest.h>

#include <string>

#include "E2eSupport.h"
#include "FolderCount.h"
#include "Product.h"

using namespace e2e;

namespace {

constexpr DWORD kExitBadStart = static_cast<DWORD>(-1);

// Where the tests lay out installations without the setup program.
const wchar_t kPlainRoot[] = L"C:\\KeloUpdateE2e";

std::wstring PackageDir(const wchar_t* kind) { return ModuleDir() + L"\\update_packages\\" + kind; }

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring s(temp);
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    return s;
}

std::wstring UpdateLogPath() { return TempFolder() + L"\\" + Product::kLogFolderName + L"\\" + Product::kUpdateLog; }

std::wstring ReadIni(const std::wstring& ini, const wchar_t* section, const wchar_t* key) {
    wchar_t buf[256] = L"";
    GetPrivateProfileStringW(section, key, L"<missing>", buf, 256, ini.c_str());
    return buf;
}

class UpdateE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(PackageDir(L"good") + L"\\" + Product::kUpdateZip));
        ASSERT_TRUE(DirExists(DeliveryDir())) << "no delivered setup folder";
        CreateDirectoryW(kPlainRoot, nullptr);
    }
    void TearDown() override {
        KillAll(Product::kUpdateExe);
        KillAll(Product::kMainExe);
        SetEnvironmentVariableW(kUpdateSourceVar, nullptr);
    }

    // The payload and the UI library in a folder of their own, as the setup
    // program would leave them (without registration).
    std::wstring PlainInstallation(const std::wstring& name) {
        const std::wstring dir = std::wstring(kPlainRoot) + L"\\" + name;
        RemoveTree(dir);
        EXPECT_TRUE(CopyTree(DeliveryDir() + L"\\" + Product::kPayloadFolder, dir));
        EXPECT_TRUE(CopyFileW((DeliveryDir() + L"\\DuiLib.dll").c_str(), (dir + L"\\DuiLib.dll").c_str(), FALSE));
        return dir;
    }

    // Starts the application from `dir` with the package source set, asks it
    // for the update and returns the updater's strip.
    HWND UpdateThroughApplication(const std::wstring& dir, const wchar_t* package, DWORD& updaterPid) {
        SetEnvironmentVariableW(kUpdateSourceVar, PackageDir(package).c_str());
        Process app = StartPlain(dir + L"\\" + Product::kMainExe, L"", dir);
        EXPECT_TRUE(app.handle != nullptr);
        CloseProcess(app);
        return RequestUpdate(updaterPid);
    }

    // Posts "检查更新" to the running application and waits for the strip.
    HWND RequestUpdate(DWORD& updaterPid) {
        HWND hApp = WaitForTopWindow(Product::kDefaultAppName, 20000, kStandinClass);
        EXPECT_TRUE(hApp != nullptr) << "the application has no window";
        if (!hApp) return nullptr;
        Step("update: \"检查更新\" in the application");
        PostMessageW(hApp, WM_COMMAND, kStandinCheckUpdate, 0);
        HWND hStrip = WaitForTopWindow(UpdateTitle().c_str(), 20000);
        EXPECT_TRUE(hStrip != nullptr) << "no update strip";
        updaterPid = hStrip ? WindowPid(hStrip) : 0;
        return hStrip;
    }

    static std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }
};

// Installed through the setup window, updated through the application: the
// strip, the ended application, the unpacked files, the version in the
// product key and "config.ini", the restart with exactly
// "<folder>\KeloPdfReader.exe -run update", and the updater's folder gone.
TEST_F(UpdateE2e, UpdateThroughTheApplicationRestartsItWithRunUpdate) {
    const std::wstring delivery = MakeTestDelivery(L"KeloUpdateE2e");
    ASSERT_FALSE(delivery.empty());
    // The application that the setup program starts inherits the package source.
    SetEnvironmentVariableW(kUpdateSourceVar, PackageDir(L"good").c_str());
    Installation inst;
    ASSERT_TRUE(InstallThroughSetup(delivery, L"update", inst));
    const std::wstring record = inst.dir + L"\\" + Product::kMainExe + L".cmdline.txt";
    ASSERT_TRUE(WaitFor([&] { return ReadUtf16Lines(record).size() == 1; }, 20000)) << "the setup did not start it";
    HWND hApp = WaitForTopWindow(Product::kDefaultAppName, 20000, kStandinClass);
    ASSERT_TRUE(hApp);
    SaveScreenshot(hApp, L"update-1-application-before");
    const DWORD firstAppPid = WindowPid(hApp);

    // A program where an unquoted "C:\Program Files\..." command line would
    // be looked for first: the elevated updater must not start it.
    const std::wstring decoy = L"C:\\Program.exe";
    const bool bBlankInFolder = inst.dir.find(L' ') != std::wstring::npos;
    if (bBlankInFolder) {
        ASSERT_TRUE(CopyFileW((inst.dir + L"\\" + Product::kMainExe).c_str(), decoy.c_str(), FALSE));
    }

    DWORD updaterPid = 0;
    HWND hStrip = RequestUpdate(updaterPid);
    ASSERT_TRUE(hStrip);
    const std::wstring updaterExe = ProcessImagePath(updaterPid);
    const std::wstring updaterDir = FolderOf(updaterExe);
    Step("update: the updater runs from %ls", updaterDir.c_str());
    EXPECT_EQ(updaterDir.find(TempFolder() + L"\\KeloUpdate_"), 0u) << ToGbk(updaterDir);
    EXPECT_TRUE(FileExists(inst.dir + L"\\" + Product::kUpdateFolder + L"\\" + Product::kUpdateZip));
    // Created at 710 x 470, the window takes the layout's size once the layout is loaded.
    RECT rc = {};
    WaitFor([&] {
        GetWindowRect(hStrip, &rc);
        return rc.right - rc.left == 400;
    }, 5000);
    EXPECT_EQ(rc.right - rc.left, 400);
    EXPECT_EQ(rc.bottom - rc.top, 40);
    SaveScreenshot(hStrip, L"update-2-strip");

    // The application is ended before its files are replaced.
    HANDLE hFirstApp = OpenProcess(SYNCHRONIZE, FALSE, firstAppPid);
    EXPECT_EQ(WaitForSingleObject(hFirstApp, 15000), WAIT_OBJECT_0) << "the application was not ended";
    CloseHandle(hFirstApp);

    HANDLE hUpdater = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, updaterPid);
    ASSERT_TRUE(hUpdater);
    ASSERT_EQ(WaitForSingleObject(hUpdater, 60000), WAIT_OBJECT_0) << "the updater did not finish";
    DWORD code = 1;
    GetExitCodeProcess(hUpdater, &code);
    CloseHandle(hUpdater);
    EXPECT_EQ(code, 0u);

    const std::wstring expected = inst.dir + L"\\" + Product::kMainExe + L" " + Product::kRunUpdateArgs;
    ASSERT_TRUE(WaitFor([&] { return ReadUtf16Lines(record).size() == 2; }, 15000)) << "not restarted";
    EXPECT_EQ(ReadUtf16Lines(record).back(), expected);
    if (bBlankInFolder) {
        EXPECT_FALSE(FileExists(decoy + L".cmdline.txt")) << "the updater started " << ToGbk(decoy);
        DeleteFileW(decoy.c_str());
    }
    hApp = WaitForTopWindow(Product::kDefaultAppName, 20000, kStandinClass);
    ASSERT_TRUE(hApp);
    Sleep(500);
    SaveScreenshot(hApp, L"update-3-application-after");

    EXPECT_EQ(ReadFileBytes(inst.dir + L"\\update_notes.txt"), "KeloPDF 1.0.0.2\r\n");
    EXPECT_TRUE(FileExists(inst.dir + L"\\plugins\\pdfcore.dat"));
    EXPECT_FALSE(DirExists(inst.dir + L"\\" + Product::kUpdateFolder));
    EXPECT_EQ(ReadHklmString(Product::kRegProductKey, Product::kValVersion), L"1002");
    EXPECT_EQ(ReadHklmString(Product::kRegProductKey, Product::kValVersionStr), L"1.0.0.2");
    EXPECT_EQ(ReadIni(inst.dir + L"\\" + Product::kConfigIni, Product::kSecConfig, Product::kKeyVersion), L"1002");
    EXPECT_TRUE(WaitFor([&] { return !DirExists(updaterDir); }, 30000)) << "the updater's folder is still there";

    bool bExtractLine = false, bRestartLine = false;
    for (const std::wstring& line : ReadAnsiLines(UpdateLogPath())) {
        if (line.find(L"CUpdateMgr::DownFileThreadProc 解压文件") != std::wstring::npos &&
            line.find(L"ret=[1]") != std::wstring::npos)
            bExtractLine = true;
        if (line.find(L"[INFO]CUpdateDlg::StartMainExe 解压升级包成功启动主进程 reason=[" + expected + L"]") !=
            std::wstring::npos)
            bRestartLine = true;
    }
    EXPECT_TRUE(bExtractLine) << "no extraction line in update.log";
    EXPECT_TRUE(bRestartLine) << "no restart line in update.log";
    RemoveTree(delivery);
}

// A package that is no zip archive: the strip stays as it is with its
// first text, Alt+F4 closes it, the application stays ended.
TEST_F(UpdateE2e, BrokenPackageLeavesTheStripAndDoesNotRestart) {
    const std::wstring dir = PlainInstallation(L"broken");
    DWORD updaterPid = 0;
    HWND hStrip = UpdateThroughApplication(dir, L"broken", updaterPid);
    ASSERT_TRUE(hStrip);
    Sleep(1500);
    // The strip is translucent: a black backdrop makes its picture depend on itself alone.
    HWND hBackdrop = MakeBackdrop(hStrip, 30);
    const std::vector<DWORD> early = CapturePixels(hStrip);
    SaveScreenshot(hStrip, L"update-broken-1-strip");

    // Kind 3 comes after the fixed waits (1 s + 3 s + 1 s) and the failed extraction.
    PumpFor(9000);
    ASSERT_TRUE(IsWindow(hStrip));
    EXPECT_TRUE(IsWindowVisible(hStrip));
    // The same picture as before the failure; a window of a test program
    // running beside this one may cover the strip for a moment.
    bool bUnchanged = false;
    for (int attempt = 0; attempt < 5 && !bUnchanged; ++attempt) {
        if (attempt) PumpFor(500);
        bUnchanged = CapturePixels(hStrip) == early;
    }
    EXPECT_TRUE(bUnchanged) << "the strip changed after the failure";
    SaveScreenshot(hStrip, L"update-broken-2-after-failure");
    DestroyWindow(hBackdrop);
    EXPECT_FALSE(IsProcessRunning(Product::kMainExe));
    EXPECT_FALSE(DirExists(dir + L"\\" + Product::kUpdateFolder));

    HANDLE hUpdater = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, updaterPid);
    const std::wstring updaterDir = FolderOf(ProcessImagePath(updaterPid));
    Step("update: Alt+F4 on the strip");
    PostAltF4(hStrip);
    ASSERT_EQ(WaitForSingleObject(hUpdater, 15000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(hUpdater, &code);
    CloseHandle(hUpdater);
    EXPECT_EQ(code, 0u);
    Sleep(3000);
    EXPECT_FALSE(IsProcessRunning(Product::kMainExe)) << "restarted after a failed update";
    for (const std::wstring& line : ReadUtf16Lines(dir + L"\\" + Product::kMainExe + L".cmdline.txt"))
        EXPECT_EQ(line.find(Product::kRunUpdateArgs), std::wstring::npos) << ToGbk(line);
    EXPECT_TRUE(DirExists(updaterDir)) << "the self-deletion ran without an update";
    RemoveTree(updaterDir);
}

// Without exactly one argument, or with a folder that does not exist, the
// updater ends with -1 and never shows a window; only the missing folder
// leaves a line in update.log.
TEST_F(UpdateE2e, BadStartsEndWithMinusOneAndNoWindow) {
    const std::wstring updater = ModuleDir() + L"\\" + Product::kUpdateExe;
    const std::wstring missing = L"C:\\KeloNoSuchFolder";
    struct Case {
        const char* what;
        std::wstring args;
        bool logs;
    };
    const Case cases[] = {
        {"no argument", L"", false},
        {"two arguments", L"C:\\windows C:\\users", false},
        {"a missing folder", L"\"" + missing + L"\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t linesBefore = ReadAnsiLines(UpdateLogPath()).size();
        Process p = StartElevated(updater, c.args, ModuleDir());
        ASSERT_TRUE(p.handle);
        bool bWindow = false;
        WaitFor([&] {
            bWindow = bWindow || FindTopWindow(UpdateTitle().c_str()) != nullptr;
            return WaitForSingleObject(p.handle, 0) == WAIT_OBJECT_0;
        }, 15000, 10);
        EXPECT_EQ(WaitExit(p, 0), kExitBadStart);
        CloseProcess(p);
        EXPECT_FALSE(bWindow);
        Sleep(300);
        const std::vector<std::wstring> lines = ReadAnsiLines(UpdateLogPath());
        if (!c.logs) {
            EXPECT_EQ(lines.size(), linesBefore);
            continue;
        }
        ASSERT_EQ(lines.size(), linesBefore + 1);
        EXPECT_NE(lines.back().find(L"[ERROR]strMainExeDir=" + missing), std::wstring::npos) << ToGbk(lines.back());
    }
}

// A second updater brings the first strip back (restored when minimised,
// raised when covered) and ends with 0; the first one then completes.
TEST_F(UpdateE2e, SecondStartBringsTheFirstStripToTheFront) {
    const std::wstring dir = PlainInstallation(L"second");
    DWORD updaterPid = 0;
    HWND hStrip = UpdateThroughApplication(dir, L"good", updaterPid);
    ASSERT_TRUE(hStrip);
    const std::wstring updater = ProcessImagePath(updaterPid);

    ShowWindow(hStrip, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(hStrip) != FALSE; }, 5000));
    Step("update: second start while the strip is minimised");
    Process second = StartElevated(updater, L"\"" + dir + L"\"", L"");
    EXPECT_EQ(WaitExit(second, 15000), 0u);
    CloseProcess(second);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(hStrip); }, 5000)) << "the strip stayed minimised";

    HWND hCover = CreateWindowExW(0, L"STATIC", L"cover", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 1024, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    // The strip's own restoring may still reorder the windows for a moment:
    // raise the cover until it stays above the strip.
    auto coverOnTop = [&] {
        SetWindowPos(hCover, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        PumpFor(300);
        return IsAbove(hCover, hStrip);
    };
    ASSERT_TRUE(WaitFor([&] { return coverOnTop() && (PumpFor(1000), IsAbove(hCover, hStrip)); }, 15000))
        << "the cover does not stay above the strip";
    Step("update: second start while the strip is covered");
    second = StartElevated(updater, L"\"" + dir + L"\"", L"");
    EXPECT_EQ(WaitExit(second, 15000), 0u);
    CloseProcess(second);
    EXPECT_TRUE(WaitFor([&] { return IsAbove(hStrip, hCover); }, 5000)) << "the strip was not raised";
    DestroyWindow(hCover);

    HANDLE hUpdater = OpenProcess(SYNCHRONIZE, FALSE, updaterPid);
    EXPECT_EQ(WaitForSingleObject(hUpdater, 60000), WAIT_OBJECT_0);
    CloseHandle(hUpdater);
    // The restarted application writes its line a moment after the updater has gone.
    const std::wstring record = dir + L"\\" + Product::kMainExe + L".cmdline.txt";
    ASSERT_TRUE(WaitFor([&] { return ReadUtf16Lines(record).size() == 2; }, 15000)) << "not restarted";
    EXPECT_EQ(ReadUtf16Lines(record).back(), dir + L"\\" + Product::kMainExe + L" " + Product::kRunUpdateArgs);
}


constexpr int kBulkFiles = 3000;  // make_packages.py, package "large"

std::wstring BulkRel(int i) {
    wchar_t rel[32];
    swprintf_s(rel, L"bulk\\f%04d.dat", i);
    return rel;
}
std::string OldBulk(int i) {
    char text[32];
    sprintf_s(text, "old bulk %04d", i);
    return text;
}
std::string NewBulk(int i) {
    char text[32];
    sprintf_s(text, "bulk %04d ", i);
    std::string bytes;
    for (int n = 0; n < 200; ++n) bytes += text;
    return bytes;
}

// How many bulk files hold the package's bytes; -1 when one is missing or
// holds neither its old nor its new bytes.
int NewBulkFiles(const std::wstring& dir) {
    int news = 0;
    for (int i = 0; i < kBulkFiles; ++i) {
        const std::string bytes = ReadFileBytes(dir + L"\\" + BulkRel(i));
        if (bytes == NewBulk(i)) ++news;
        else if (bytes != OldBulk(i)) return -1;
    }
    return news;
}

// The strip closed (the system close command or WM_CLOSE, alternately) at
// spread-out moments while it unpacks the large package and while it
// switches the installation over: each time the updater is gone within 10 s
// with the installation whole, and the next start shows its strip again.
// The installation holds older bulk files, so the switch replaces them one by
// one (a folder the installation lacks would go into place in one rename).
TEST_F(UpdateE2e, ClosingDuringTheExtractionEndsTheUpdaterEveryTime) {
    const std::wstring dir = PlainInstallation(L"closing");
    const std::wstring updaterDir = std::wstring(kPlainRoot) + L"\\closing_updater";
    RemoveTree(updaterDir);
    ASSERT_TRUE(CreateDirectoryW(updaterDir.c_str(), nullptr));
    for (const wchar_t* name : {Product::kUpdateExe, L"DuiLib.dll"})
        ASSERT_TRUE(CopyFileW((dir + L"\\" + name).c_str(), (updaterDir + L"\\" + name).c_str(), FALSE));
    const std::wstring updater = updaterDir + L"\\" + Product::kUpdateExe;
    const std::wstring update = dir + L"\\" + Product::kUpdateFolder;
    const std::wstring bulk = dir + L"\\bulk";
    auto layOutOldBulk = [&] {
        RemoveTree(bulk);
        CreateDirectoryW(bulk.c_str(), nullptr);
        for (int f = 0; f < kBulkFiles; ++f) ASSERT_TRUE(WriteFileBytes(dir + L"\\" + BulkRel(f), OldBulk(f)));
    };
    layOutOldBulk();

    const int kCloses = 10;
    for (int i = 0; i <= kCloses; ++i) {
        SCOPED_TRACE(testing::Message() << "start " << i);
        CreateDirectoryW(update.c_str(), nullptr);
        for (const wchar_t* name : {Product::kUpdateZip, Product::kUpdateIni})
            ASSERT_TRUE(CopyFileW((PackageDir(L"large") + L"\\" + name).c_str(), (update + L"\\" + name).c_str(),
                                  FALSE));
        Process p = StartElevated(updater, L"\"" + dir + L"\"", updaterDir);
        ASSERT_TRUE(p.handle);
        HWND hStrip = WaitForTopWindow(UpdateTitle().c_str(), 20000);
        ASSERT_TRUE(hStrip != nullptr) << "no strip after the earlier close";
        if (i == kCloses) {
            // The last start is only there to show the strip; it may finish.
            PostMessageW(hStrip, WM_CLOSE, 0, 0);
        } else {
            // Even starts are closed while the package is unpacked into the
            // staging folder, odd ones once the switch has placed its first file.
            const bool duringSwitch = i % 2 == 1;
            const std::wstring watched = update + (duringSwitch ? L"\\~backup\\bulk" : L"\\~staging\\bulk");
            ASSERT_TRUE(WaitFor([&] { return CountEntries(watched) > 0; }, 60000, duringSwitch ? 2 : 100))
                << "the run did not get there";
            if (!duringSwitch) Sleep(static_cast<DWORD>(i) * 200);
            Step("update: closing during the %s (%d of %d)", duringSwitch ? "switch" : "extraction", i + 1, kCloses);
            if (i % 2)
                PostAltF4(hStrip);
            else
                PostMessageW(hStrip, WM_CLOSE, 0, 0);
        }
        EXPECT_NE(WaitExit(p, 10000), static_cast<DWORD>(STILL_ACTIVE)) << "still running 10 s after the close";
        CloseProcess(p);
        // Whole: none of the package's bulk files, or all of them.
        if (i < kCloses) {
            const int placed = NewBulkFiles(dir);
            EXPECT_TRUE(placed == 0 || placed == kBulkFiles) << placed << " of 3000 files placed";
            // A close that came after the switch left the new files: the next start replaces old ones again.
            if (placed == kBulkFiles) layOutOldBulk();
        }
        KillAll(Product::kUpdateExe);
        KillAll(Product::kMainExe);
    }
    RemoveTree(updaterDir);
}

}  // namespace
