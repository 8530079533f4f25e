// Entry of the uninstaller: one copy at a time, its own folder as the current
// folder, log lines to the debugger output only (the uninstaller writes no
// file of its own), then the farewell dialog until it closes.
#include <windows.h>

#include <string>

#include "DllGuard.h"
#include "Log.h"
#include "PathUtils.h"
#include "Product.h"
#include "SingleInstance.h"
#include "UninstDlg.h"

using namespace DuiLib;

// The uninstaller runs from the installation folder, which a standard user
// may be able to write to. Before any other static initialisation.
static DllSearchGuardInstaller g_DllSearchGuard __attribute__((init_priority(101)));

namespace {

// Window rectangle before the layout's own size takes over.
constexpr int kInitialWidth = 710;
constexpr int kInitialHeight = 470;
// WS_VISIBLE | WS_OVERLAPPEDWINDOW and WS_EX_APPWINDOW | WS_EX_STATICEDGE.
constexpr DWORD kDialogStyle = 0x10CF0000;
constexpr DWORD kDialogExStyle = 0x00060000;

// As when the loader cannot find an imported library.
constexpr int kExitNoLibrary = -1;

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    // A second start only brings the first window to the front.
    if (IsAnotherInstanceRunning(Product::kUninstMutex, UninstWindowTitle().c_str())) return 0;

    // libcurl is delay-loaded (see CMakeLists.txt). The removal deletes the
    // installation folder, libcurl.dll and the OpenSSL DLLs among its files,
    // before the report is sent: loaded now, they are in use and stay.
    if (LoadRuntimeLib(L"libcurl.dll") == NULL) return kExitNoLibrary;

    ::SetCurrentDirectoryW(GetModuleDir().c_str());

    CLog& log = CLog::GetInstance();
    log.SetDebugOutput(true);
    log.Start();

    CPaintManagerUI::SetInstance(hInstance);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"UninstSkin");
    CWndShadow::Initialize(hInstance);

    // The dialog deletes itself when its window is destroyed and then posts
    // the quit message that ends the loop below.
    CUninstDlg* pDlg = new CUninstDlg(Product::kReportHost);
    const std::wstring title = UninstWindowTitle();
    pDlg->Create(NULL, title.c_str(), kDialogStyle, kDialogExStyle, 0, 0, kInitialWidth, kInitialHeight);
    pDlg->CenterWindow();
    ::ShowWindow(pDlg->GetHWND(), SW_SHOW);
    CPaintManagerUI::MessageLoop();
    return 0;
}
