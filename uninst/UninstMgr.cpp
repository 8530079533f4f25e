#include "UninstMgr.h"

#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "Firewall.h"
#include "Log.h"
#include "Owners.h"
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
        StopWorker(m_stop, threadHandle, kWorkerStopWaitMs, L"CUninstMgr");
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
    if (self->m_stop.IsRequested())
        WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UninstProcThread", L"%s 卸载已中止 threadid=[%d]",
                 L"CUninstMgr::UninstProcThread", static_cast<int>(GetCurrentThreadId()));
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UninstProcThread", L"%s 卸载完成 线程threadid=[%d]退出",
             L"CUninstMgr::UninstProcThread", static_cast<int>(GetCurrentThreadId()));
    return 0;
}

bool CUninstMgr::PostProgress(int percent, const wchar_t* text)
{
    HWND hWnd = g_hUninstWnd;
    if (!hWnd)
        return !m_stop.IsRequested();
    if (!m_stop.Pause(kProgressPauseMs))
        return false;
    auto* record = new UninstProgress;
    record->percent = percent;
    record->status = 0;
    record->text = text;
    if (!PostMessageW(hWnd, WM_UNINST_PROGRESS, reinterpret_cast<WPARAM>(record), 0))
        delete record;  // nobody else would free it
    return true;
}

void CUninstMgr::UnIntallSoftware()
{
    for (const wchar_t* exe : kProgramsToEnd)
        TerminateProcessByName(exe);

    PostProgress(5, L"开始卸载");
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UnIntallSoftware", L"%s 卸载step=5",
             L"CUninstMgr::UnIntallSoftware");

    // A stop request (the window closing) ends the sequence between its steps.
    if (m_stop.IsRequested())
        return;
    UninstallService(Product::kServiceName);

    // The shortcut and firewall steps read the display name from the product
    // key, which DeleteRegedit removes: this order matters.
    // Each step returns at once after a stop request.
    DeleteLink();
    RemoveFirewall();
    DeleteRegedit();
    DeleleOtherFile();
    if (m_stop.IsRequested())
        return;

    PostProgress(100, L"卸载完成");
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::UnIntallSoftware", L"%s 卸载step=100",
             L"CUninstMgr::UnIntallSoftware");
}

bool CUninstMgr::DeleteLink()
{
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUninstMgr::DeleteLink", L"%s 删除快捷方式、启动栏和开始菜单 step=%d",
             L"CUninstMgr::DeleteLink", 60);
    if (!PostProgress(60, L"删除快捷方式"))
        return true;

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
    if (!PostProgress(70, L"移除防火墙"))
        return true;

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
    if (!PostProgress(80, L"删除注册表信息"))
        return true;

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
    if (!PostProgress(90, L"删除文件"))
        return true;

    // What is in use (this program, its libraries) stays for the self-deletion.
    // An empty folder would make the tree search start at the drive's root.
    if (!installDir.empty() && !PathIsRootW(installDir.c_str()))
        RemoveDirTree(installDir, m_stop.Handle());
    return true;
}
