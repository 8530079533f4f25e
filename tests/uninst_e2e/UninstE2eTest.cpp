// The uninstaller end to end under Wine: each scenario installs the product
// through the setup window, starts "Uninst.exe" from the uninstall entry and
// drives its pages from outside. The report arrives at a loopback receiver.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "E2eSupport.h"
#include "FolderCount.h"
#include "Product.h"

using namespace e2e;

namespace {

// Client coordinates of the uninstaller's controls (layout positions plus
// the 1-pixel inset of the body).
const POINT kCkFunction = {1 + 113, 1 + 94};
const POINT kCkAlwaysClose = {1 + 113, 1 + 125};
const POINT kCkDirectUninstall = {1 + 113, 1 + 156};
const POINT kEditContact = {1 + 265 + 175, 1 + 43 + 35};
const POINT kEditSuggestion = {1 + 265 + 140, 1 + 43 + 134};
const POINT kBtnCancel = {1 + 190, 1 + 332};
const POINT kBtnUnInstall = {1 + 465, 1 + 332};
const POINT kBtnOver = {1 + 325, 1 + 337};
const POINT kCloseBtn = {1 + 620, 1 + 20};

// Identity written into the test delivery's "install.ini", so that the
// report's values are not the defaults.
const wchar_t kVersion[] = L"3.2.1.5";
const wchar_t kChannel[] = L"e2e_channel";

struct Identity {
    std::wstring version, channel, machineId;
};

std::string Quote(const std::wstring& text) { return "\"" + ToGbk(text) + "\""; }

// The document the uninstaller must send: keys in byte order, compact, LF.
std::string ExpectedJson(bool alwaysClose, const Identity& id, bool direct, const std::string& feedbackJson,
                         bool functionNotGood, const std::string& contactJson) {
    auto b = [](bool v) { return std::string(v ? "true" : "false"); };
    return "{\"aways_close\":" + b(alwaysClose) + ",\"channel\":" + Quote(id.channel) +
           ",\"direct_uninstall\":" + b(direct) + ",\"feedback\":" + feedbackJson +
           ",\"function_not_good\":" + b(functionNotGood) + ",\"machineid\":" + Quote(id.machineId) +
           ",\"phone_or_email\":" + contactJson + ",\"version\":" + Quote(id.version) + "}\n";
}

class UninstE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_receiver = new ReportReceiver(KELO_E2E_REPORT_PORT);
        s_delivery = MakeTestDelivery(L"KeloUninstE2e");
        if (!s_delivery.empty()) {
            const std::wstring ini = s_delivery + L"\\" + Product::kInstallIni;
            WritePrivateProfileStringW(Product::kSecConfig, Product::kKeyVersionStr, kVersion, ini.c_str());
            WritePrivateProfileStringW(Product::kSecConfig, Product::kKeyChannel, kChannel, ini.c_str());
        }
    }
    static void TearDownTestSuite() {
        delete s_receiver;
        s_receiver = nullptr;
        if (!s_delivery.empty()) RemoveTree(s_delivery);
    }

    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u) << "the tests need the zh_CN locale (ANSI code page 936)";
        ASSERT_TRUE(s_receiver->IsListening()) << "loopback port " << KELO_E2E_REPORT_PORT << " is taken";
        ASSERT_FALSE(s_delivery.empty()) << "no delivered setup folder at " << ToGbk(DeliveryDir());
    }
    void TearDown() override {
        KillAll(Product::kUninstExe);
        KillAll(Product::kMainExe);
    }

    // Installs through the setup window; the application it starts is closed again.
    void Install(const std::wstring& shots, Installation& inst) {
        ASSERT_TRUE(InstallThroughSetup(s_delivery, shots, inst));
        ASSERT_TRUE(DirExists(inst.dir));
        ASSERT_TRUE(FileExists(ExeFromCommand(inst.uninstallString)));
        WaitFor([] { return IsProcessRunning(Product::kMainExe); }, 10000);
        KillAll(Product::kMainExe);
    }

    Identity ReadIdentity() {
        Identity id;
        id.version = ReadHklmString(Product::kRegProductKey, Product::kValVersionStr);
        id.channel = ReadHklmString(Product::kRegProductKey, Product::kValChannel);
        id.machineId = ReadHklmString(Product::kRegProductKey, Product::kValMachineId);
        return id;
    }

    // Starts the uninstaller as Windows does from the uninstall entry and
    // waits for its window with the expected title.
    HWND StartUninstaller(const std::wstring& exe, const std::wstring& title, Process& p) {
        Step("uninstall: starting %ls", exe.c_str());
        p = StartElevated(exe, L"", L"");
        EXPECT_TRUE(p.handle != nullptr);
        HWND h = WaitForTopWindow(title.c_str(), 30000);
        EXPECT_TRUE(h != nullptr) << "no window titled " << ToGbk(title);
        if (h) {
            EXPECT_EQ(WindowPid(h), p.pid);
            // The layout has made its native edits by the time it is painted.
            WaitFor([&] { return ChildWindows(h).size() >= 2; }, 10000);
            Sleep(800);
        }
        return h;
    }

    // The two rich edits of the farewell form: the single-line one first.
    static void FindEdits(HWND hDlg, HWND& contact, HWND& suggestion) {
        contact = suggestion = nullptr;
        for (HWND h : ChildWindows(hDlg)) {
            const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
            if (style & ES_MULTILINE)
                suggestion = h;
            else
                contact = h;
        }
    }

    static std::wstring EditText(HWND h) {
        wchar_t buf[1024] = L"";
        SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
        return buf;
    }

    // Waits until the last page shows its "卸载完成" button (a second after
    // the report has gone out): its teal face where the progress page is white.
    static bool WaitForFinishedPage(HWND hDlg) {
        const POINT probe = {kBtnOver.x - 80, kBtnOver.y + 12};
        return WaitFor(
            [&] {
                RECT rc = {};
                GetWindowRect(hDlg, &rc);
                const std::vector<DWORD> px = CapturePixels(hDlg);
                const size_t at = static_cast<size_t>(probe.y) * (rc.right - rc.left) + probe.x;
                if (at >= px.size()) return false;
                const int r = (px[at] >> 16) & 0xFF, g = (px[at] >> 8) & 0xFF, b = px[at] & 0xFF;
                return g > r + 60 && b > r + 40;
            },
            20000, 250);
    }

    static ReportReceiver* s_receiver;
    static std::wstring s_delivery;
};

ReportReceiver* UninstE2e::s_receiver = nullptr;
std::wstring UninstE2e::s_delivery;

// The whole way with a filled-in form: ticks, typed text with Chinese, a
// quotation mark and a line break, the fields' limits, the report, the
// finish button and the removal of the installation folder afterwards.
TEST_F(UninstE2e, FilledFormIsReportedAndFinishRemovesTheInstallation) {
    Installation inst;
    Install(L"uninst-filled", inst);
    const Identity id = ReadIdentity();
    EXPECT_EQ(id.version, kVersion);
    EXPECT_EQ(id.channel, kChannel);
    EXPECT_FALSE(id.machineId.empty());
    const std::vector<FileStamp> logsBefore = FindLogFiles(L"C:");
    const size_t reportsBefore = s_receiver->Count();

    Process p;
    HWND hDlg = StartUninstaller(ExeFromCommand(inst.uninstallString), UninstTitle(), p);
    ASSERT_TRUE(hDlg);
    RECT rc = {};
    GetWindowRect(hDlg, &rc);
    EXPECT_EQ(rc.right - rc.left, 650);
    EXPECT_EQ(rc.bottom - rc.top, 402);
    EXPECT_EQ(GetWindowLongPtrW(hDlg, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    SaveScreenshot(hDlg, L"uninst-1-form-empty");

    HWND hContact = nullptr, hSuggestion = nullptr;
    FindEdits(hDlg, hContact, hSuggestion);
    ASSERT_TRUE(hContact && hSuggestion);

    Step("uninstall: ticking two reasons and typing into both fields");
    PostClick(hDlg, kCkFunction.x, kCkFunction.y);
    PostClick(hDlg, kCkDirectUninstall.x, kCkDirectUninstall.y);
    const std::wstring contact = L"用户 kelo@example.com " + std::wstring(120, L'c');
    PostClick(hDlg, kEditContact.x, kEditContact.y);
    TypeText(hContact, contact);
    const std::wstring suggestion = L"打开大文件太慢，\"希望\"改进\r第二行 " + std::wstring(250, L's');
    PostClick(hDlg, kEditSuggestion.x, kEditSuggestion.y);
    TypeText(hSuggestion, suggestion);

    // The typing stops at the fields' limits.
    const std::wstring contactShown = EditText(hContact);
    EXPECT_EQ(contactShown, contact.substr(0, 100));
    std::wstring suggestionShown = EditText(hSuggestion);
    // However the edit returns its paragraph break, it holds 200 typed characters.
    std::wstring suggestionTyped = suggestionShown;
    for (size_t p2; (p2 = suggestionTyped.find(L"\r\n")) != std::wstring::npos;) suggestionTyped.erase(p2 + 1, 1);
    EXPECT_EQ(suggestionTyped, suggestion.substr(0, 200));
    SaveScreenshot(hDlg, L"uninst-2-form-filled");

    Step("uninstall: clicking \"提交并卸载\"");
    PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
    Sleep(900);
    SaveScreenshot(hDlg, L"uninst-3-progress");
    EXPECT_FALSE(IsWindowVisible(hContact));

    ASSERT_TRUE(s_receiver->WaitForCount(reportsBefore + 1, 60000)) << "no report arrived";
    const std::string request = s_receiver->Request(reportsBefore);
    EXPECT_EQ(request.compare(0, 30, "POST /Soft/Sys/uninstall HTTP/"), 0) << request;
    EXPECT_NE(request.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
    const std::string json = ReportJson(s_receiver->Body(reportsBefore));

    // Strings as GBK bytes; the quotation marks and the line break escaped.
    std::string feedback = ToGbk(suggestionShown);
    std::string escaped;
    for (char c : feedback) {
        if (c == '"') escaped += "\\\"";
        else if (c == '\r') escaped += "\\r";
        else if (c == '\n') escaped += "\\n";
        else escaped += c;
    }
    EXPECT_EQ(json, ExpectedJson(false, id, true, "\"" + escaped + "\"", true, Quote(contactShown)));
    EXPECT_NE(json.find(ToGbk(L"打开大文件太慢")), std::string::npos) << "the Chinese text is not GBK";
    EXPECT_EQ(json.find('\r'), std::string::npos);

    ASSERT_TRUE(WaitForFinishedPage(hDlg)) << "the finished page did not show";
    SaveScreenshot(hDlg, L"uninst-4-finished");
    // Everything but the running uninstaller and its libraries is gone already.
    EXPECT_FALSE(HklmKeyExists(Product::kRegUninstallKey));
    EXPECT_TRUE(DirExists(inst.dir));
    EXPECT_FALSE(FileExists(inst.dir + L"\\" + Product::kMainExe));

    Step("uninstall: clicking \"卸载完成\"");
    PostClick(hDlg, kBtnOver.x, kBtnOver.y);
    EXPECT_EQ(WaitExit(p, 20000), 0u);
    CloseProcess(p);
    EXPECT_TRUE(WaitFor([&] { return !DirExists(inst.dir); }, 30000)) << "installation folder still there";
    EXPECT_EQ(s_receiver->Count(), reportsBefore + 1);

    // No log file was created or written by the uninstaller.
    std::vector<FileStamp> logsAfter = FindLogFiles(L"C:");
    for (const FileStamp& f : logsAfter)
        EXPECT_TRUE(std::find(logsBefore.begin(), logsBefore.end(), f) != logsBefore.end())
            << "log written during the uninstall: " << ToGbk(f.path);
}

// Leaving without uninstalling ("再试试看", the close button on the form),
// a second start while the first runs, and the close button on the progress
// page: nothing is reported and nothing starts the self-deletion.
TEST_F(UninstE2e, LeavingEarlyKeepsTheInstallationAndSendsNothing) {
    Installation inst;
    Install(L"uninst-keep", inst);
    const std::wstring uninst = ExeFromCommand(inst.uninstallString);
    const size_t reportsBefore = s_receiver->Count();
    auto stillInstalled = [&] {
        EXPECT_TRUE(FileExists(inst.dir + L"\\" + Product::kMainExe));
        EXPECT_TRUE(FileExists(uninst));
        EXPECT_TRUE(HklmKeyExists(Product::kRegUninstallKey));
        EXPECT_EQ(s_receiver->Count(), reportsBefore);
    };

    struct Leave {
        const char* what;
        POINT at;
    };
    const Leave leaves[] = {{"再试试看", kBtnCancel}, {"the close button", kCloseBtn}};
    for (const Leave& leave : leaves) {
        SCOPED_TRACE(leave.what);
        Process p;
        HWND hDlg = StartUninstaller(uninst, UninstTitle(), p);
        ASSERT_TRUE(hDlg);
        Step("uninstall: leaving the form with %s", leave.what);
        PostClick(hDlg, leave.at.x, leave.at.y);
        EXPECT_EQ(WaitExit(p, 15000), 0u);
        CloseProcess(p);
        Sleep(2000);
        stillInstalled();
    }

    // A second start brings the first window back and ends with 0.
    {
        Process first;
        HWND hDlg = StartUninstaller(uninst, UninstTitle(), first);
        ASSERT_TRUE(hDlg);
        ShowWindow(hDlg, SW_MINIMIZE);
        ASSERT_TRUE(WaitFor([&] { return IsIconic(hDlg) != FALSE; }, 5000));
        Step("uninstall: second start while the first is minimised");
        Process second = StartElevated(uninst, L"", L"");
        EXPECT_EQ(WaitExit(second, 15000), 0u);
        CloseProcess(second);
        EXPECT_TRUE(WaitFor([&] { return !IsIconic(hDlg); }, 5000)) << "the first window stayed minimised";

        // Covered by another window, it comes back on top.
        HWND hCover = CreateWindowExW(0, L"STATIC", L"cover", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 1024, nullptr,
                                      nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowPos(hCover, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Sleep(300);
        ASSERT_TRUE(IsAbove(hCover, hDlg));
        second = StartElevated(uninst, L"", L"");
        EXPECT_EQ(WaitExit(second, 15000), 0u);
        CloseProcess(second);
        EXPECT_TRUE(WaitFor([&] { return IsAbove(hDlg, hCover); }, 5000)) << "the first window was not raised";
        DestroyWindow(hCover);
        EXPECT_EQ(FindTopWindow(UninstTitle().c_str()), hDlg);

        // Closing on the progress page stops the uninstall where it is.
        Step("uninstall: \"提交并卸载\", then the close button on the progress page");
        PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
        Sleep(200);
        SaveScreenshot(hDlg, L"uninst-keep-progress", 0);
        PostClick(hDlg, kCloseBtn.x, kCloseBtn.y);
        EXPECT_EQ(WaitExit(first, 15000), 0u);
        CloseProcess(first);
    }
    Sleep(4000);
    EXPECT_TRUE(DirExists(inst.dir));
    EXPECT_TRUE(FileExists(uninst)) << "the self-deletion ran";
    EXPECT_EQ(s_receiver->Count(), reportsBefore);
}

// Nothing ticked and nothing typed still reports, with false and empty
// values; Alt+F4 on the finished page closes without the self-deletion. The
// uninstaller left behind then runs once more without a product key (the
// default title and version) and its close button on the finished page
// removes the folder.
TEST_F(UninstE2e, EmptyFormStillReportsAndOnlyTheButtonsRemoveTheFolder) {
    Installation inst;
    Install(L"uninst-empty", inst);
    // The title follows the product key's display name.
    const std::wstring appName = L"KeloPDF阅读器E2E";
    ASSERT_TRUE(WriteHklmString(Product::kRegProductKey, Product::kValAppName, appName));
    const Identity id = ReadIdentity();
    const std::wstring uninst = ExeFromCommand(inst.uninstallString);
    const size_t reportsBefore = s_receiver->Count();

    Process p;
    HWND hDlg = StartUninstaller(uninst, appName + Product::kUninstTitleSuffix, p);
    ASSERT_TRUE(hDlg);
    Step("uninstall: \"提交并卸载\" with an empty form");
    PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
    ASSERT_TRUE(s_receiver->WaitForCount(reportsBefore + 1, 60000));
    EXPECT_EQ(ReportJson(s_receiver->Body(reportsBefore)), ExpectedJson(false, id, false, "\"\"", false, "\"\""));
    ASSERT_TRUE(WaitForFinishedPage(hDlg)) << "the finished page did not show";
    SaveScreenshot(hDlg, L"uninst-empty-finished");

    Step("uninstall: Alt+F4 on the finished page");
    PostAltF4(hDlg);
    EXPECT_EQ(WaitExit(p, 15000), 0u);
    CloseProcess(p);
    Sleep(4000);
    ASSERT_TRUE(FileExists(uninst)) << "Alt+F4 started the self-deletion";

    // The product key is gone: the defaults, and the machine id from a
    // "config.ini" beside the uninstaller (the engine removed the installed
    // one; this one stands for a copy that survived).
    Identity defaults;
    defaults.version = Product::kDefaultVersion;
    defaults.machineId = L"0123456789ABCDEF0123456789ABCDEF";
    ASSERT_FALSE(HklmKeyExists(Product::kRegProductKey));
    ASSERT_TRUE(WritePrivateProfileStringW(Product::kSecMachine, Product::kKeyMachineId, defaults.machineId.c_str(),
                                           (inst.dir + L"\\" + Product::kConfigIni).c_str()));
    Process again;
    hDlg = StartUninstaller(uninst, UninstTitle(), again);
    ASSERT_TRUE(hDlg);
    PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
    ASSERT_TRUE(s_receiver->WaitForCount(reportsBefore + 2, 60000));
    EXPECT_EQ(ReportJson(s_receiver->Body(reportsBefore + 1)),
              ExpectedJson(false, defaults, false, "\"\"", false, "\"\""));
    ASSERT_TRUE(WaitForFinishedPage(hDlg)) << "the finished page did not show";
    Step("uninstall: the close button on the finished page");
    PostClick(hDlg, kCloseBtn.x, kCloseBtn.y);
    EXPECT_EQ(WaitExit(again, 15000), 0u);
    CloseProcess(again);
    EXPECT_TRUE(WaitFor([&] { return !DirExists(inst.dir); }, 30000)) << "installation folder still there";
}


// The uninstaller closed (its close button, WM_CLOSE, the system close
// command in turn) at spread-out moments while it removes an installation
// folder holding thousands of files: each time it is gone within 10 s, and
// the next start shows its window again. Before each start the folder and
// the display name are put back, as far as the earlier run removed them.
TEST_F(UninstE2e, ClosingDuringTheRemovalEndsTheUninstallerEveryTime) {
    Installation inst;
    Install(L"uninst-closing", inst);
    const std::wstring pristine = NewTempDir(L"kelo_uninst_pristine");
    ASSERT_TRUE(CopyTree(inst.dir, pristine));
    const std::wstring bulk = inst.dir + L"\\bulk";
    const size_t kFiles = 3000;

    const int kCloses = 10;
    for (int i = 0; i <= kCloses; ++i) {
        SCOPED_TRACE(testing::Message() << "start " << i);
        ASSERT_TRUE(CopyTree(pristine, inst.dir));
        ASSERT_TRUE(WriteHklmString(Product::kRegProductKey, Product::kValAppName, Product::kDefaultAppName));
        CreateDirectoryW(bulk.c_str(), nullptr);
        for (size_t f = 0; f < kFiles; ++f) {
            const std::wstring file = bulk + L"\\f" + std::to_wstring(f);
            if (!FileExists(file)) ASSERT_TRUE(WriteFileBytes(file, "bulk"));
        }
        Process p;
        HWND hDlg = StartUninstaller(ExeFromCommand(inst.uninstallString), UninstTitle(), p);
        ASSERT_TRUE(hDlg) << "no window after the earlier close";
        if (i == kCloses) {
            PostClick(hDlg, kBtnCancel.x, kBtnCancel.y);
        } else {
            PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
            ASSERT_TRUE(WaitFor([&] { return CountEntries(bulk) < kFiles; }, 30000, 20)) << "the removal did not start";
            Sleep(static_cast<DWORD>(i) * 150);
            Step("uninstall: closing during the removal (%d of %d)", i + 1, kCloses);
            if (i % 3 == 0)
                PostClick(hDlg, kCloseBtn.x, kCloseBtn.y, 0);
            else if (i % 3 == 1)
                PostMessageW(hDlg, WM_CLOSE, 0, 0);
            else
                PostAltF4(hDlg);
        }
        EXPECT_NE(WaitExit(p, 10000), static_cast<DWORD>(STILL_ACTIVE)) << "still running 10 s after the close";
        CloseProcess(p);
        KillAll(Product::kUninstExe);
    }
    RemoveTree(pristine);
}

}  // namespace
