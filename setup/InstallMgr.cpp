#include "InstallMgr.h"

#include <direct.h>
#include <io.h>
#include <process.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <vector>

#include "FileWalk.h"
#include "Firewall.h"
#include "IniSettings.h"
#include "Log.h"
#include "MachineId.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Process.h"
#include "Product.h"
#include "RegSettings.h"
#include "Shortcut.h"

HWND g_hSetupWnd = nullptr;
int g_nCopyCount = 0;
std::wstring g_strParentName;
std::wstring g_strMachineId;

namespace {

const wchar_t kLogSource[] = L"InstallMgr";

#define INSTALL_LOG(level, func, fmt, ...) \
    WriteLog((level), kLogSource, __LINE__, func, L"%s " fmt, func, ##__VA_ARGS__)

// Paths of the copy steps are limited to the size of their fixed buffers
// (at most 511 characters); a longer path is a failed copy.
const size_t kCopyPathChars = 512;
// Configuration paths.
const size_t kConfigPathChars = 1024;

// Programs ended before the files are replaced, in this order.
const wchar_t* const kProgramsToEnd[] = {Product::kMainExe, Product::kUninstExe, Product::kUpdateExe,
                                         Product::kAdvertisingExe};

const DWORD kPauseAfterTerminateMs = 3000;

bool FitsCopyBuffer(const std::wstring& path) { return path.size() < kCopyPathChars; }

// The delivered setup folder, whose "install.ini", payload and runtime
// libraries the engine reads: the current directory, which start-up makes
// the program's folder (tests lay out a folder of their own). Empty when it
// cannot be had in full.
std::wstring SetupFolder() {
    wchar_t full[kConfigPathChars] = L"";
    const DWORD n = GetCurrentDirectoryW(kConfigPathChars, full);
    return n == 0 || n >= kConfigPathChars ? std::wstring() : std::wstring(full);
}

// Copies text into a fixed ShortcutInfo field; false (field left empty) when it does not fit.
bool CopyField(wchar_t (&field)[MAX_PATH], const std::wstring& text) {
    if (text.size() >= MAX_PATH) return false;
    wcscpy(field, text.c_str());
    return true;
}

}  // namespace

void PostInstallProgress(const InstallProgress& progress) {
    if (!g_hSetupWnd) return;
    InstallProgress* record = new InstallProgress(progress);
    if (!PostMessageW(g_hSetupWnd, WM_INSTALL_PROGRESS, reinterpret_cast<WPARAM>(record), 0)) delete record;
}

CInstallMgr::CInstallMgr() : m_bDesktopShortcut(true), m_bQuickLaunchShortcut(true) {}

CInstallMgr::~CInstallMgr() {
    if (m_hThread) StopWorker(m_stop, m_hThread.Get(), kWorkerStopWaitMs, L"CInstallMgr");
}

void CInstallMgr::SetShortcutOptions(bool bDesktop, bool bQuickLaunch) {
    m_bDesktopShortcut = bDesktop;
    m_bQuickLaunchShortcut = bQuickLaunch;
}

void CInstallMgr::BeginInstallThread() {
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::BeginInstallThread", L"%s", L"创建安装线程");
    const uintptr_t h = _beginthreadex(nullptr, 0, InstallProc, this, CREATE_SUSPENDED, nullptr);
    if (h == 0) return;
    m_hThread.Reset(reinterpret_cast<HANDLE>(h));
    ResumeThread(m_hThread.Get());
}

unsigned __stdcall CInstallMgr::InstallProc(void* pParam) {
    CInstallMgr* pThis = static_cast<CInstallMgr*>(pParam);
    if (!pThis) {
        INSTALL_LOG(LOG_ERROR, L"CInstallMgr::InstallProc", L"线程参数有问题 threadid=[%d]",
                    static_cast<int>(GetCurrentThreadId()));
        return 0;
    }
    pThis->IntallSoftware();
    if (pThis->m_stop.IsRequested())
        INSTALL_LOG(LOG_INFO, L"CInstallMgr::InstallProc", L"安装已中止 threadid=[%d]",
                    static_cast<int>(GetCurrentThreadId()));
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::InstallProc", L"安装完成 线程threadid=[%d]退出",
                static_cast<int>(GetCurrentThreadId()));
    return 0;
}

void CInstallMgr::IntallSoftware() {
    PostInstallProgress(InstallProgress{5, 0, L""});
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::IntallSoftware", L"安装step=5");

    // A stop request (the window closing) ends the sequence between its steps.
    bool bTerminated = false;
    for (const wchar_t* name : kProgramsToEnd) {
        if (TerminateProcessByName(name)) bTerminated = true;
    }
    StopServiceByName(Product::kServiceName, kServiceStopTimeoutMs, m_stop.Handle());
    // Give the ended programs time to release their files.
    if (bTerminated && !m_stop.Pause(kPauseAfterTerminateMs)) return;
    if (m_stop.IsRequested()) return;

    if (!CopyInstallFile(20) || m_stop.IsRequested()) return;
    WriteMachineInfo(20);
    if (m_stop.IsRequested() || !CopyDependFile(30) || m_stop.IsRequested()) return;
    AfterInstall(90);
}

bool CInstallMgr::CopyInstallFile(int step) {
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::CopyInstallFile", L"安装step=%d", step);
    if (CoverFile(m_strInstallDir.c_str(), Product::kPayloadFolder)) {
        PostInstallProgress(InstallProgress{step, 0, L"拷贝文件完成"});
        return true;
    }
    if (m_stop.IsRequested()) return false;
    PostInstallProgress(InstallProgress{step, -1, L"拷贝文件失败"});
    return false;
}

bool CInstallMgr::CoverFile(const wchar_t* destFolder, const wchar_t* srcFolder) {
    const std::wstring pattern = FormatW(L"%s\\*", srcFolder);
    if (!FitsCopyBuffer(pattern)) return false;
    // The engine runs elevated and a user may be able to write in the target:
    // a link on the way would carry the copy wherever it points.
    if (PathCrossesLink(destFolder)) {
        INSTALL_LOG(LOG_ERROR, L"CInstallMgr::CoverFile", L"link on the path to=[%s]", destFolder);
        return false;
    }
    std::vector<FolderEntry> entries;
    if (!ListFolder(srcFolder, entries)) return false;

    for (const FolderEntry& entry : entries) {
        if (m_stop.IsRequested()) return false;
        const std::wstring& name = entry.name;
        if (entry.kind == EntryKind::Folder) {
            const std::wstring src = PathJoin(srcFolder, name);
            const std::wstring dest = PathJoin(destFolder, name);
            if (!FitsCopyBuffer(src) || !FitsCopyBuffer(dest)) return false;
            if (_waccess(dest.c_str(), 0) != 0) _wmkdir(dest.c_str());
            if (!CoverFile(dest.c_str(), src.c_str())) return false;
        } else {
            // The setup program never copies itself, whatever the payload holds.
            if (name.find(Product::kSetupExe) != std::wstring::npos) continue;
            const std::wstring src = PathJoin(srcFolder, name);
            const std::wstring dest = PathJoin(destFolder, name);
            BOOL bRet = FALSE;
            // Neither end may be a link: the copy would read or write its target.
            if (FitsCopyBuffer(src) && FitsCopyBuffer(dest) && entry.kind == EntryKind::File &&
                GetEntryKind(dest) != EntryKind::Link)
                bRet = CopyFileW(src.c_str(), dest.c_str(), FALSE);
            WriteLog(LOG_INFO, kLogSource, __LINE__, L"CInstallMgr::CoverFile",
                     L"正在拷贝文件[%d] from=[%s] to=[%s] bRet=[%d]", g_nCopyCount, src.c_str(), dest.c_str(),
                     bRet ? 1 : 0);
            if (!bRet) return false;
            ++g_nCopyCount;
        }
    }
    return true;
}

bool CInstallMgr::WriteMachineInfo(int step) {
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::WriteMachineInfo", L"安装step=%d", step);
    const std::wstring osName = ToWide(GetOsName());
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::WriteMachineInfo", L"current system version=%s", osName.c_str());

    g_strMachineId = MakeMachineId();
    {
        CRegSettings reg(HKEY_LOCAL_MACHINE, Product::kRegProductKey, false, true);
        reg.WriteString(Product::kValMachineId, g_strMachineId.c_str());
    }
    if (_waccess(m_strInstallDir.c_str(), 0) != 0) _wmkdir(m_strInstallDir.c_str());
    const std::wstring config = PathJoin(m_strInstallDir, Product::kConfigIni);
    if (config.size() < kConfigPathChars)
        WriteIniString(config, Product::kSecMachine, Product::kKeyMachineId, g_strMachineId.c_str());

    PostInstallProgress(InstallProgress{step, 0, L"机器码生成完成"});
    return true;
}

bool CInstallMgr::CopyDependFile(int step) {
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::CopyDependFile", L"安装step=%d", step);
    for (const wchar_t* lib : Product::kRuntimeLibs) {
        const std::wstring src = FormatW(L"./%s", lib);
        const std::wstring dest = PathJoin(m_strInstallDir, lib);
        BOOL bRet = FALSE;
        if (FitsCopyBuffer(src) && FitsCopyBuffer(dest)) bRet = CopyFileW(src.c_str(), dest.c_str(), FALSE);
        INSTALL_LOG(LOG_INFO, L"CInstallMgr::CopyDependFile", L"拷贝依赖szSourceFile=[%s], szDestFile=[%s] bRet=%d",
                    src.c_str(), dest.c_str(), bRet ? 1 : 0);
        if (!bRet) {
            PostInstallProgress(InstallProgress{step, -1, L"拷贝依赖文件失败"});
            return false;
        }
    }
    PostInstallProgress(InstallProgress{step, 0, L"拷贝依赖文件完成"});
    return true;
}

bool CInstallMgr::AfterInstall(int step) {
    INSTALL_LOG(LOG_INFO, L"CInstallMgr::AfterInstall", L"安装step=%d", step);
    PostInstallProgress(InstallProgress{step, 0, L"安装完成初始化"});

    const std::wstring setupFolder = SetupFolder();
    const std::wstring appName = ReadInstallIni(setupFolder, Product::kKeyAppName);
    const std::wstring version = ReadInstallIni(setupFolder, Product::kKeyVersionStr);
    const std::wstring channel = ResolveChannel(ReadInstallIni(setupFolder, Product::kKeyChannel), g_strParentName);
    const std::wstring mainExe = PathJoin(m_strInstallDir, Product::kMainExe);
    const std::wstring uninstExe = PathJoin(m_strInstallDir, Product::kUninstExe);

    CRegSettings product(HKEY_LOCAL_MACHINE, Product::kRegProductKey, false, true);
    product.WriteString(Product::kValVersionStr, version.c_str());
    product.WriteString(Product::kValChannel, channel.c_str());
    product.WriteString(Product::kValInstallDir, m_strInstallDir.c_str());
    product.WriteString(Product::kValAppName, appName.c_str());

    CRegSettings uninstall(HKEY_LOCAL_MACHINE, Product::kRegUninstallKey, false, true);
    uninstall.WriteString(Product::kValDisplayIcon, PathJoin(m_strInstallDir, Product::kIconFile).c_str());
    uninstall.WriteString(Product::kValDisplayName, appName.c_str());
    uninstall.WriteString(Product::kValDisplayVersion, version.c_str());
    uninstall.WriteString(Product::kValPublisher, Product::kPublisher);
    uninstall.WriteString(Product::kValUninstallString, uninstExe.c_str());
    uninstall.WriteString(Product::kValUrlInfoAbout, Product::kUrlInfoAbout);

    // Before the firewall rules and links, whose COM objects must go first.
    const ScopedCoInit com;

    ShortcutInfo info;
    memset(&info, 0, sizeof(info));
    // Links whose texts do not fit the shell's buffers are not made at all.
    const bool bInfoOk = CopyField(info.szName, appName) && CopyField(info.szTarget, mainExe) &&
                         CopyField(info.szWorkingDir, m_strInstallDir) && CopyField(info.szUninstTarget, uninstExe);

    std::unique_ptr<CFirewallSettings> pFirewall(m_pFirewallPolicy
                                                     ? new CFirewallSettings(m_pFirewallPolicy, m_firewallRuleFactory)
                                                     : new CFirewallSettings());
    CFirewallSettings& firewall = *pFirewall;
    firewall.RemoveRule(appName.c_str());
    const bool bFirewall = firewall.AddAppRule(mainExe.c_str(), appName.c_str(), mainExe.c_str());
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CInstallMgr::AfterInstall", L"%s add firewall ret=%d",
             appName.c_str(), bFirewall ? 1 : 0);

    if (m_bDesktopShortcut) {
        const bool bRet = bInfoOk && CreateShortcut(info, CSIDL_DESKTOP);
        INSTALL_LOG(LOG_INFO, L"CInstallMgr::AfterInstall", L"创建桌面快捷方式 bRet=[%d]", bRet ? 1 : 0);
    }
    if (m_bQuickLaunchShortcut) {
        const bool bRet = bInfoOk && CreateShortcut(info, CSIDL_APPDATA);
        INSTALL_LOG(LOG_INFO, L"CInstallMgr::AfterInstall", L"创建快速启动栏 bRet=[%d]", bRet ? 1 : 0);
    }
    {
        const bool bRet = bInfoOk && CreateShortcut(info, CSIDL_COMMON_STARTMENU);
        INSTALL_LOG(LOG_INFO, L"CInstallMgr::AfterInstall", L"创建开始菜单 bRet=[%d]", bRet ? 1 : 0);
    }

    PostInstallProgress(InstallProgress{100, 0, L"安装完成"});
    return true;
}
