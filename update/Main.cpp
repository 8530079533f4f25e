// Entry of the updater: "Update.exe <installation folder>". One copy at a
// time; it logs to "update.log" in the temporary folder's "KeloPdfReader"
// folder and shows the update strip, whose window starts the update.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "CrashGuard.h"
#include "DllGuard.h"
#include "Log.h"
#include "PathUtils.h"
#include "Product.h"
#include "SingleInstance.h"
#include "UpdateDlg.h"
#include "UpdateStage.h"

using namespace DuiLib;

// The updater runs from a folder that the application made in the user's
// temporary folder. Before any other static initialisation.
static DllSearchGuardInstaller g_DllSearchGuard __attribute__((init_priority(101)));
// An unhandled exception leaves "Update.exe.dmp" beside the program.
static CrashGuardInstaller g_CrashGuard;

namespace {

// Window rectangle before the layout's own size (400 x 40) takes over.
constexpr int kInitialWidth = 710;
constexpr int kInitialHeight = 470;
// WS_VISIBLE | WS_OVERLAPPEDWINDOW and WS_EX_APPWINDOW | WS_EX_STATICEDGE.
constexpr DWORD kDialogStyle = 0x10CF0000;
constexpr DWORD kDialogExStyle = 0x00060000;

constexpr int kExitBadStart = -1;

// The one argument, or false when the count is not exactly one.
bool TakeInstallDir(std::wstring& installDir) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == NULL) return false;
    const bool bOk = argc == 2;
    if (bOk) installDir = argv[1];
    ::LocalFree(argv);
    return bOk;
}

void StartLog() {
    wchar_t tempDir[kPathChars] = L"";
    ::GetTempPathW(kPathChars, tempDir);
    const std::wstring logDir = FormatW(L"%s%s", tempDir, Product::kLogFolderName);
    if (LongPathExists(logDir, 0) != 0) LongPathMkdir(logDir);
    CLog::GetInstance().Init(ToNarrow(logDir).c_str(), ToNarrow(Product::kUpdateLog).c_str());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    // A second start only brings the first strip to the front.
    if (IsAnotherInstanceRunning(Product::kUpdateMutex, UpdateWindowTitle().c_str())) return 0;

    std::wstring installDir;
    if (!TakeInstallDir(installDir)) return kExitBadStart;

    ::SetCurrentDirectoryW(GetModuleDir().c_str());
    StartLog();

    if (LongPathExists(installDir, 0) != 0) {
        WriteLog(LOG_ERROR, L"Main", __LINE__, L"WinMain", L"strMainExeDir=%s", installDir.c_str());
        return kExitBadStart;
    }
    // A run that was ended part-way left the installation between two
    // states; it becomes whole again before anything else happens.
    CUpdateStage(installDir).Recover();

    CPaintManagerUI::SetInstance(hInstance);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"UpdateSkin");
    CWndShadow::Initialize(hInstance);

    // The dialog deletes itself when its window is destroyed and then posts
    // the quit message that ends the loop below.
    CUpdateDlg* pDlg = new CUpdateDlg;
    pDlg->m_strMainExePath = installDir;
    const std::wstring title = UpdateWindowTitle();
    pDlg->Create(NULL, title.c_str(), kDialogStyle, kDialogExStyle, 0, 0, kInitialWidth, kInitialHeight);
    pDlg->CenterWindow();
    ::ShowWindow(pDlg->GetHWND(), SW_SHOW);
    CPaintManagerUI::MessageLoop();
    return 0;
}
