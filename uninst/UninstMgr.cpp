#include "UninstMgr.h"

#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "ComOwners.h"
#include "Firewall.h"
#include "Log.h"
#include "PathUtils.h"
#include "Process.h"
#include "Product.h"
#include "RegSettings.h"
#include "ServiceRemoval.h"
#include "Shortcut.h"

HWND g_hUninstWnd = nullptr;

namespace {

constexpr wchar_t kLogSource[] = L"UninstMgr";
// Every post waits this long first, so that the user can follow the steps.
constexpr DWORD kProgressPauseMs = 300;
constexpr DWORD kKilledExitCode = 0xFFFFFFFF;

// Programs of the product that must not run while their files go, in this order.
const wchar_t* const kProgramsToEnd[] = {Product::kMainExe, Product::kUpdateExe, Product::kAdvertisingExe};

std::wstring DisplayName()
{
    return ReadProductValue(Product::kValAppName);
}

}  // namespace

CUninstMgr::CUninstMgr()
    : firewallFactory([] { return std::unique_ptr<CFirewallSettings>(new CFirewallSettings()); })
{
}

CUninstMgr::~CUninstMgr()
{
    if (threadHandle != INVALID_HANDLE_VALUE) {
        if (WaitForSingleObject(threadHandle, 0) == WAIT_TIMEOUT)
            TerminateThread(threadHandle, kKilledExitCode);
        CloseHandle(threadHandle);
        threadHandle = INVALID_HANDLE_VALUE;
    }
}

void CUninstMgr::BeginUnInstallThread()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::BeginUnInstallThread", L"%s %s",
             L"CUninstMgr::BeginUnInstallThread", L"创建卸载线程");
    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &CUninstMgr::UninstProcThread, this, CREATE_SUSPENDED, nullptr));
    if (!thread)
        return;
    threadHandle = thread;
    ResumeThread(thread);
}

unsigned __stdcall CUninstMgr::UninstProcThread(void* param)
{
    auto* self = static_cast<CUninstMgr*>(param);
    if (!self) {
        WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UninstProcThread", L"%s 线程参数有问题 threadid=[%d]",
                 L"CUninstMgr::UninstProcThread", static_cast<int>(GetCurrentThreadId()));
        return 0;
    }
    self->UnIntallSoftware();
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UninstProcThread", L"%s 卸载完成 线程threadid=[%d]退出",
             L"CUninstMgr::UninstProcThread", static_cast<int>(GetCurrentThreadId()));
    return 0;
}

void CUninstMgr::PostProgress(int percent, const wchar_t* text)
{
    HWND hWnd = g_hUninstWnd;
    if (!hWnd)
        return;
    Sleep(kProgressPauseMs);
    auto* record = new UninstProgress;
    record->percent = percent;
    record->status = 0;
    record->text = text;
    if (!PostMessageW(hWnd, WM_UNINST_PROGRESS, reinterpret_cast<WPARAM>(record), 0))
        delete record;  // nobody else would free it
}

void CUninstMgr::UnIntallSoftware()
{
    for (const wchar_t* exe : kProgramsToEnd)
        TerminateProcessByName(exe);

    PostProgress(5, L"开始卸载");
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UnIntallSoftware", L"%s 卸载step=5",
             L"CUninstMgr::UnIntallSoftware");

    UninstallService(Product::kServiceName);

    // The shortcut and firewall steps read the display name from the product
    // key, which DeleteRegedit removes: this order matters.
    DeleteLink();
    RemoveFirewall();
    DeleteRegedit();
    DeleleOtherFile();

    PostProgress(100, L"卸载完成");
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UnIntallSoftware", L"%s 卸载step=100",
             L"CUninstMgr::UnIntallSoftware");
}

bool CUninstMgr::DeleteLink()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::DeleteLink", L"%s 删除快捷方式、启动栏和开始菜单 step=%d",
             L"CUninstMgr::DeleteLink", 60);
    PostProgress(60, L"删除快捷方式");

    ScopedCoInit com(COINIT_APARTMENTTHREADED);
    DeleteShortcut(DisplayName().c_str(), CSIDL_DESKTOP);
    DeleteShortcut(DisplayName().c_str(), CSIDL_APPDATA);
    DeleteShortcut(DisplayName().c_str(), CSIDL_COMMON_STARTMENU);
    return true;
}

bool CUninstMgr::RemoveFirewall()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::RemoveFirewall", L"%s 移除防火墙 step=%d",
             L"CUninstMgr::RemoveFirewall", 70);
    PostProgress(70, L"移除防火墙");

    // The firewall object initialises COM on this thread for its lifetime.
    std::unique_ptr<CFirewallSettings> firewall = firewallFactory ? firewallFactory() : nullptr;
    if (firewall) {
        firewall->RemoveRule(DisplayName().c_str());
        firewall->RemoveRule(Product::kOldFirewallRule);
    }
    return true;
}

bool CUninstMgr::DeleteRegedit()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::DeleteRegedit", L"%s 删除注册表信息 step=%d",
             L"CUninstMgr::DeleteRegedit", 80);
    PostProgress(80, L"删除注册表信息");

    {
        CRegSettings software(HKEY_LOCAL_MACHINE, Product::kRegSoftware, false, true);
        software.DeleteKeyTree(Product::kRegProductName);
    }
    {
        CRegSettings uninstall(HKEY_LOCAL_MACHINE, Product::kRegUninstallRoot, false, true);
        uninstall.DeleteKeyTree(Product::kRegProductName);
    }
    return true;
}

bool CUninstMgr::DeleleOtherFile()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::DeleleOtherFile", L"%s 删除文件step=%d",
             L"CUninstMgr::DeleleOtherFile", 90);
    PostProgress(90, L"删除文件");

    // What is in use (this program, its libraries) stays for the self-deletion.
    // An empty folder would make the tree search start at the drive's root.
    if (!installDir.empty() && !PathIsRootW(installDir.c_str()))
        RemoveDirTree(installDir);
    return true;
}
