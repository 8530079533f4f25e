// The whole life of the product under Wine, as one user would go through it:
// install through the setup window (its licence page and, on a second run,
// its message box), the application started by the finish page, an update
// requested in the application and carried out by the updater, and the
// uninstall through the farewell form, whose report a loopback receiver
// takes. It is a test and the main command's demonstration: every step is
// printed, every page and message box is kept as a picture in
// $KELO_ARTIFACTS together with the logs, the application's command-line
// record, the received report and a summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "E2eSupport.h"
#include "Product.h"

using namespace e2e;

namespace {

// Client coordinates (layout positions plus the 1-pixel inset of the body).
const POINT kSetupLicence = {1 + 165, 1 + 378};   // "用户许可协议"
const POINT kSetupBack = {1 + 50, 1 + 35};        // "返回"
const POINT kSetupInstall = {1 + 325, 1 + 293};   // "立即安装"
const POINT kSetupFinish = {1 + 325, 1 + 337};    // "安装完成"
const POINT kCkFunction = {1 + 113, 1 + 94};
const POINT kCkAlwaysClose = {1 + 113, 1 + 125};
const POINT kEditContact = {1 + 265 + 175, 1 + 43 + 35};
const POINT kEditSuggestion = {1 + 265 + 140, 1 + 43 + 134};
const POINT kBtnUnInstall = {1 + 465, 1 + 332};
const POINT kBtnOver = {1 + 325, 1 + 337};

const wchar_t kContact[] = L"reader@example.com";
const wchar_t kSuggestion[] = L"希望支持批注导出。";

// With a display of the user's own the steps wait a little, so that one can follow them.
DWORD Pause() {
    wchar_t v[32] = L"";
    return GetEnvironmentVariableW(L"KELO_DEMO_PAUSE_MS", v, 32) ? static_cast<DWORD>(_wtoi(v)) : 0;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

class Summary {
public:
    void Check(bool ok, const std::string& what) {
        Step("  %s: %s", ok ? "ok" : "FAILED", what.c_str());
        m_text += (ok ? "ok      " : "FAILED  ") + what + "\n";
        EXPECT_TRUE(ok) << what;
    }
    void Save() {
        const std::wstring dir = ArtifactsDir();
        if (!dir.empty()) WriteFileBytes(dir + L"\\summary.txt", m_text);
    }

private:
    std::string m_text;
};

void Keep(const std::wstring& name, const std::string& bytes) {
    const std::wstring dir = ArtifactsDir();
    if (!dir.empty()) WriteFileBytes(dir + L"\\" + name, bytes);
}

void KeepLogs() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring logDir = std::wstring(temp) + Product::kLogFolderName;
    for (const wchar_t* log : {Product::kInstallLog, Product::kUpdateLog}) {
        // The logs are in the ANSI code page; kept as UTF-8 for reading.
        const std::string bytes = ReadFileBytes(logDir + L"\\" + log);
        Keep(log, Utf8(FromGbk(bytes)));
    }
}

TEST(Lifecycle, InstallStartUpdateUninstall) {
    ASSERT_EQ(GetACP(), 936u) << "the zh_CN locale (ANSI code page 936) is needed";
    Summary summary;
    ReportReceiver receiver(KELO_E2E_REPORT_PORT);
    ASSERT_TRUE(receiver.IsListening()) << "loopback port " << KELO_E2E_REPORT_PORT << " is taken";
    Step("report receiver listens on 127.0.0.1:%d", KELO_E2E_REPORT_PORT);
    const std::wstring delivery = MakeTestDelivery(L"KeloLifecycle");
    ASSERT_FALSE(delivery.empty()) << "no delivered setup folder at " << ToGbk(DeliveryDir());
    const std::wstring packages = ModuleDir() + L"\\update_packages\\good";
    // The application started by the setup program inherits where its update comes from.
    SetEnvironmentVariableW(kUpdateSourceVar, packages.c_str());
    const DWORD pause = Pause();

    // ------------------------------------------------------------ install
    Step("1. install: starting the setup program from the delivered folder");
    Process setup = StartElevated(delivery + L"\\" + Product::kSetupExe, L"", delivery);
    HWND hSetup = WaitForTopWindow(SetupTitle().c_str(), 30000);
    ASSERT_TRUE(hSetup) << "no setup window";
    Sleep(1500 + pause);
    SaveScreenshot(hSetup, L"01-setup-folder");
    PostClick(hSetup, kSetupLicence.x, kSetupLicence.y);
    Sleep(1000 + pause);
    SaveScreenshot(hSetup, L"02-setup-licence");
    PostClick(hSetup, kSetupBack.x, kSetupBack.y);
    Sleep(500 + pause);
    Step("   clicking \"立即安装\"");
    PostClick(hSetup, kSetupInstall.x, kSetupInstall.y, 0);
    Sleep(150);
    SaveScreenshot(hSetup, L"03-setup-progress", 24, 50);
    summary.Check(WaitFor([] { return HklmKeyExists(Product::kRegUninstallKey); }, 60000),
                  "the setup program registered the uninstall entry");
    Sleep(1500 + pause);
    SaveScreenshot(hSetup, L"04-setup-finish");
    const std::wstring installDir = ReadHklmString(Product::kRegProductKey, Product::kValInstallDir);
    const std::wstring uninstallString = ReadHklmString(Product::kRegUninstallKey, Product::kValUninstallString);
    summary.Check(FileExists(installDir + L"\\" + Product::kMainExe),
                  "installed into " + Utf8(installDir) + " (product key \"installDir\")");
    summary.Check(FileExists(ExeFromCommand(uninstallString)), "\"UninstallString\" names " + Utf8(uninstallString));

    // ------------------------------------------------------------ start
    Step("2. start: clicking \"安装完成\"");
    PostClick(hSetup, kSetupFinish.x, kSetupFinish.y);
    summary.Check(WaitExit(setup, 20000) == 0, "the setup program ended with 0");
    CloseProcess(setup);
    HWND hApp = WaitForTopWindow(Product::kDefaultAppName, 20000, kStandinClass);
    summary.Check(hApp != nullptr, "the finish page started the application");
    ASSERT_TRUE(hApp);
    const std::wstring record = installDir + L"\\" + Product::kMainExe + L".cmdline.txt";
    WaitFor([&] { return !ReadUtf16Lines(record).empty(); }, 10000);
    const std::vector<std::wstring> firstStart = ReadUtf16Lines(record);
    summary.Check(firstStart.size() == 1 && firstStart[0] == L"\"" + installDir + L"\\" + Product::kMainExe + L"\"",
                  "it was started with its quoted path and no arguments");
    Sleep(500 + pause);
    SaveScreenshot(hApp, L"05-application-started");

    // A second setup run over the installation asks before overwriting it.
    Step("   second setup run: the message box about the existing installation");
    setup = StartElevated(delivery + L"\\" + Product::kSetupExe, L"", delivery);
    hSetup = WaitForTopWindow(SetupTitle().c_str(), 30000);
    ASSERT_TRUE(hSetup);
    Sleep(1000 + pause);
    PostClick(hSetup, kSetupInstall.x, kSetupInstall.y);
    HWND hBox = WaitForTopWindow(L"提示", 15000, L"MsgBoxDlg");
    summary.Check(hBox != nullptr, "the setup program asks before overwriting the installation");
    if (hBox) {
        Sleep(800 + pause);
        SaveScreenshot(hBox, L"06-setup-msgbox-overwrite");
        PostAltF4(hBox);
    }
    summary.Check(WaitExit(setup, 20000) != STILL_ACTIVE, "declining the box ends the setup program");
    CloseProcess(setup);
    summary.Check(FileExists(installDir + L"\\" + Product::kMainExe) && ReadUtf16Lines(record).size() == 1,
                  "the installation and the running application were left alone");

    // ------------------------------------------------------------ update
    Step("3. update: \"检查更新\" in the application (package from %ls)", packages.c_str());
    const DWORD firstAppPid = WindowPid(hApp);
    PostMessageW(hApp, WM_COMMAND, kStandinCheckUpdate, 0);
    HWND hStrip = WaitForTopWindow(UpdateTitle().c_str(), 20000);
    summary.Check(hStrip != nullptr, "the application started the updater, which shows its strip");
    ASSERT_TRUE(hStrip);
    const DWORD updaterPid = WindowPid(hStrip);
    const std::wstring updaterExe = ProcessImagePath(updaterPid);
    const std::wstring updaterDir = updaterExe.substr(0, updaterExe.find_last_of(L'\\'));
    Step("   the updater runs from %ls", updaterDir.c_str());
    Sleep(700);
    SaveScreenshot(hStrip, L"07-update-strip");
    HANDLE hUpdater = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, updaterPid);
    HANDLE hFirstApp = OpenProcess(SYNCHRONIZE, FALSE, firstAppPid);
    summary.Check(WaitForSingleObject(hFirstApp, 15000) == WAIT_OBJECT_0, "the updater ended the application");
    CloseHandle(hFirstApp);
    DWORD code = 1;
    const bool bEnded = WaitForSingleObject(hUpdater, 60000) == WAIT_OBJECT_0;
    GetExitCodeProcess(hUpdater, &code);
    CloseHandle(hUpdater);
    summary.Check(bEnded && code == 0, "the updater finished and ended with 0");
    const std::wstring restart = installDir + L"\\" + Product::kMainExe + L" " + Product::kRunUpdateArgs;
    summary.Check(WaitFor([&] { return ReadUtf16Lines(record).size() == 2 && ReadUtf16Lines(record)[1] == restart; },
                          15000),
                  "the application was restarted with exactly \"" + Utf8(restart) + "\"");
    summary.Check(ReadHklmString(Product::kRegProductKey, Product::kValVersionStr) == L"1.0.0.2" &&
                      ReadHklmString(Product::kRegProductKey, Product::kValVersion) == L"1002",
                  "the product key records version 1002 / 1.0.0.2");
    wchar_t iniVersion[64] = L"";
    GetPrivateProfileStringW(Product::kSecConfig, Product::kKeyVersion, L"", iniVersion, 64,
                             (installDir + L"\\" + Product::kConfigIni).c_str());
    summary.Check(std::wstring(iniVersion) == L"1002", "config.ini records version 1002");
    summary.Check(FileExists(installDir + L"\\update_notes.txt") && FileExists(installDir + L"\\plugins\\pdfcore.dat"),
                  "the package's files are in the installation folder");
    summary.Check(!DirExists(installDir + L"\\" + Product::kUpdateFolder), "the package folder was removed");
    summary.Check(WaitFor([&] { return !DirExists(updaterDir); }, 30000), "the updater's own folder is gone");
    hApp = WaitForTopWindow(Product::kDefaultAppName, 20000, kStandinClass);
    if (hApp) {
        Sleep(500 + pause);
        SaveScreenshot(hApp, L"08-application-after-update");
    }
    {
        std::string text;
        for (const std::wstring& line : ReadUtf16Lines(record)) text += Utf8(line) + "\n";
        Keep(L"application-command-lines.txt", text);
    }

    // ------------------------------------------------------------ uninstall
    Step("4. uninstall: starting %ls from the uninstall entry", uninstallString.c_str());
    const std::wstring version = ReadHklmString(Product::kRegProductKey, Product::kValVersionStr);
    const std::wstring channel = ReadHklmString(Product::kRegProductKey, Product::kValChannel);
    const std::wstring machineId = ReadHklmString(Product::kRegProductKey, Product::kValMachineId);
    Process uninst = StartElevated(ExeFromCommand(uninstallString), L"", L"");
    HWND hDlg = WaitForTopWindow(UninstTitle().c_str(), 30000);
    summary.Check(hDlg != nullptr, "the uninstaller shows \"" + Utf8(UninstTitle()) + "\"");
    ASSERT_TRUE(hDlg);
    WaitFor([&] { return ChildWindows(hDlg).size() >= 2; }, 10000);
    Sleep(1000 + pause);
    SaveScreenshot(hDlg, L"09-uninst-form");
    HWND hContact = nullptr, hSuggestion = nullptr;
    for (HWND h : ChildWindows(hDlg))
        (GetWindowLongPtrW(h, GWL_STYLE) & ES_MULTILINE ? hSuggestion : hContact) = h;
    ASSERT_TRUE(hContact && hSuggestion);
    Step("   ticking \"功能不好用，我要吐槽\" and \"KeloPDF多次异常关闭\", typing contact and suggestion");
    PostClick(hDlg, kCkFunction.x, kCkFunction.y);
    PostClick(hDlg, kCkAlwaysClose.x, kCkAlwaysClose.y);
    PostClick(hDlg, kEditContact.x, kEditContact.y);
    TypeText(hContact, kContact);
    PostClick(hDlg, kEditSuggestion.x, kEditSuggestion.y);
    TypeText(hSuggestion, kSuggestion);
    Sleep(500 + pause);
    SaveScreenshot(hDlg, L"10-uninst-form-filled");
    Step("   clicking \"提交并卸载\"");
    PostClick(hDlg, kBtnUnInstall.x, kBtnUnInstall.y);
    Sleep(600);
    SaveScreenshot(hDlg, L"11-uninst-progress");
    const bool bReport = receiver.WaitForCount(1, 60000);
    summary.Check(bReport, "the loopback receiver got the report");
    if (bReport) {
        const std::string json = ReportJson(receiver.Body(0));
        Keep(L"report-request.txt", receiver.Request(0));
        Keep(L"report.json", Utf8(FromGbk(json)));
        const std::string expected = "{\"aways_close\":true,\"channel\":\"" + ToGbk(channel) +
                                     "\",\"direct_uninstall\":false,\"feedback\":\"" + ToGbk(kSuggestion) +
                                     "\",\"function_not_good\":true,\"machineid\":\"" + ToGbk(machineId) +
                                     "\",\"phone_or_email\":\"" + ToGbk(kContact) + "\",\"version\":\"" +
                                     ToGbk(version) + "\"}\n";
        summary.Check(json == expected, "the report carries the ticks, the typed text (GBK), version " +
                                            Utf8(version) + ", channel " + Utf8(channel) + " and the machine id");
    }
    Sleep(2500 + pause);
    SaveScreenshot(hDlg, L"12-uninst-finished");
    summary.Check(!HklmKeyExists(Product::kRegUninstallKey) && !HklmKeyExists(Product::kRegProductKey),
                  "the product key and the uninstall entry are gone");
    summary.Check(!IsProcessRunning(Product::kMainExe), "the uninstaller ended the application");
    Step("   clicking \"卸载完成\"");
    PostClick(hDlg, kBtnOver.x, kBtnOver.y);
    summary.Check(WaitExit(uninst, 20000) == 0, "the uninstaller ended with 0");
    CloseProcess(uninst);
    summary.Check(WaitFor([&] { return !DirExists(installDir); }, 30000),
                  "the installation folder " + Utf8(installDir) + " is gone");

    KeepLogs();
    summary.Save();
    RemoveTree(delivery);
}

}  // namespace
