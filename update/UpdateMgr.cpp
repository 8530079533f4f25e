#include "UpdateMgr.h"

#include <process.h>

#include <memory>

#include "IniSettings.h"
#include "Log.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Process.h"
#include "Product.h"
#include "RegSettings.h"
#include "ThreadHelper.h"
#include "UpdateStage.h"

HWND g_hUpdateWnd = nullptr;
std::wstring CUpdateMgr::m_strMainExePath;

namespace {

const wchar_t kLogSource[] = L"UpdateMgr";

#define UPDATE_LOG(level, func, fmt, ...) \
    WriteLog((level), kLogSource, __LINE__, func, L"%s " fmt, func, ##__VA_ARGS__)

// The worker's own handle. Whoever takes it out (the worker at its end, or
// the destructor ending a worker that still runs) closes it, so the handle is
// never used after it was closed.
HANDLE volatile g_hUpdateThread = INVALID_HANDLE_VALUE;

HANDLE TakeThreadHandle() {
    return static_cast<HANDLE>(InterlockedExchangePointer(const_cast<PVOID volatile*>(&g_hUpdateThread),
                                                          INVALID_HANDLE_VALUE));
}

// The worker's stop request; one worker per process, like its handle.
StopSignal& UpdateStop() {
    static StopSignal s_stop;
    return s_stop;
}

// Fixed waits of the sequence, in milliseconds.
const DWORD kStartDelayMs = 1000;
const DWORD kFirstReportDelayMs = 3000;
const DWORD kReportDelayMs = 1000;
const DWORD kAfterExtractionMs = 2000;
// How long the worker lets an ended program take to go before it unpacks
// over the program's files.
const DWORD kExitWaitMs = 5000;
// How long a close waits for the worker. A stop that comes during the switch
// first undoes the files already moved, which takes longer than the step
// between two files that other workers finish; the program still ends
// within 10 s of the close.
const DWORD kUpdateStopWaitMs = 9000;

// Ends the first process with this executable name and waits for it to go
// (or for a stop request).
void EndProgram(const wchar_t* exeName, const StopSignal& stop) {
    DWORD pid = 0;
    if (!FindProcessByName(exeName, pid)) return;
    const AutoCloseHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    if (TerminateProcess(process.Get(), 0)) {
        HANDLE waits[2] = {process.Get(), stop.Handle()};
        WaitForMultipleObjects(waits[1] != nullptr ? 2 : 1, waits, FALSE, kExitWaitMs);
    }
}

// The sequence after the programs were ended; returns early on a stop request.
void RunUpdate(const StopSignal& stop) {
    const std::wstring& installDir = CUpdateMgr::m_strMainExePath;
    const std::wstring updateFolder = PathJoin(installDir, Product::kUpdateFolder);
    CUpdateMgr::PostUpdateStatus(UpdateStatus{2, 10, L"开始升级..."}, kFirstReportDelayMs);
    if (stop.IsRequested()) return;

    // Unpacked and checked beside the installation first; the switch then
    // lands whole or is undone.
    const std::wstring zipFile = PathJoin(updateFolder, Product::kUpdateZip);
    CUpdateStage stage(installDir, stop.Handle());
    const int ret = stage.Stage(zipFile) && stage.Switch() ? 1 : 0;
    UPDATE_LOG(LOG_INFO, L"CUpdateMgr::DownFileThreadProc", L"解压文件 strZipFile=[%s] m_strMainExePath=[%s] ret=[%d]",
               zipFile.c_str(), installDir.c_str(), ret);
    // After a switch the installation is new: its version is recorded even
    // when a stop came meanwhile (a later run finds the package again).
    if (stop.IsRequested() && ret != 1) return;

    if (ret == 1) {
        // Read after extraction: the package may bring its own version file.
        const std::wstring upgradeIni = PathJoin(updateFolder, Product::kUpdateIni);
        const std::wstring version = ReadIniString(upgradeIni, Product::kSecConfig, Product::kKeyVersion, L"");
        const std::wstring versionStr = ReadIniString(upgradeIni, Product::kSecConfig, Product::kKeyVersionStr, L"");
        UPDATE_LOG(LOG_INFO, L"CUpdateMgr::DownFileThreadProc",
                   L"ini文件读取版本号写入注册表 szUpgradeIniFile=[%s], version=[%s] versionStr=[%s]",
                   upgradeIni.c_str(), version.c_str(), versionStr.c_str());

        std::unique_ptr<CRegSettings> productKey(new CRegSettings(HKEY_LOCAL_MACHINE, Product::kRegProductKey));
        if (productKey->IsOpen()) {
            productKey->WriteString(Product::kValVersion, version.c_str());
            productKey->WriteString(Product::kValVersionStr, versionStr.c_str());
        }
        WriteIniString(PathJoin(installDir, Product::kConfigIni), Product::kSecConfig, Product::kKeyVersion,
                       version.c_str());

        CUpdateMgr::PostUpdateStatus(UpdateStatus{2, 100, L"解压完成..."}, kReportDelayMs);
        if (!stop.Pause(kAfterExtractionMs)) return;
        stage.Finish();
        RemoveDirTree(updateFolder, stop.Handle());
        CUpdateMgr::PostUpdateStatus(UpdateStatus{4, 100, L"升级成功..."}, kReportDelayMs);
        productKey.reset();
    } else {
        CUpdateMgr::PostUpdateStatus(UpdateStatus{3, 100, L"解压失败..."}, kReportDelayMs);
        if (stop.IsRequested()) return;
        stage.Discard();
        // A journal that could not be carried out keeps its backups for the next start.
        if (!stage.HasJournal()) RemoveDirTree(updateFolder, stop.Handle());
    }
}

}  // namespace

CUpdateMgr::CUpdateMgr() = default;

CUpdateMgr::~CUpdateMgr() {
    const AutoCloseHandle worker(TakeThreadHandle());
    if (worker) {
        StopWorker(UpdateStop(), worker.Get(), kUpdateStopWaitMs, L"CUpdateMgr");
        // The worker has ended; records posted from elsewhere go through again.
        UpdateStop().Clear();
    }
}

void CUpdateMgr::RequestStop() { UpdateStop().Request(); }

HANDLE CUpdateMgr::GetThreadHandle() { return g_hUpdateThread; }

void CUpdateMgr::StartUpdateThread() {
    UPDATE_LOG(LOG_INFO, L"CUpdateMgr::StartUpdateThread", L"启动线程下载升级包");
    UpdateStop().Clear();
    uintptr_t h = _beginthreadex(nullptr, 0, &CUpdateMgr::DownFileThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (h == 0) {
        UPDATE_LOG(LOG_ERROR, L"CUpdateMgr::StartUpdateThread", L"创建线程失败");
        return;
    }
    g_hUpdateThread = reinterpret_cast<HANDLE>(h);
    ResumeThread(reinterpret_cast<HANDLE>(h));
}

void CUpdateMgr::PostUpdateStatus(const UpdateStatus& status, DWORD delayMs) {
    HWND target = g_hUpdateWnd;
    if (!target) return;
    // Only a pause is cut short by a stop; a report without one (the
    // download's progress) is no step of the worker.
    if (delayMs > 0 && !UpdateStop().Pause(delayMs)) return;
    UpdateStatus* copy = new UpdateStatus(status);
    if (!PostMessageW(target, WM_UPDATE_STATUS, reinterpret_cast<WPARAM>(copy), 0)) delete copy;
}

void CUpdateMgr::OnDownProgress(double dTotal, double dNow) {
    UpdateStatus status{1, 0, L""};
    if (dTotal >= 1) {
        status.percent = static_cast<int>(dNow * 100 / dTotal);
        status.text = L"下载中...";
    }
    PostUpdateStatus(status, 0);
}

unsigned __stdcall CUpdateMgr::DownFileThreadProc(void* pParam) {
    const StopSignal& stop = UpdateStop();
    if (stop.Pause(kStartDelayMs)) {
        EndProgram(Product::kMainExe, stop);
        EndProgram(Product::kUninstExe, stop);
    }
    if (!pParam) {
        UPDATE_LOG(LOG_ERROR, L"CUpdateMgr::DownFileThreadProc", L"线程参数错误");
        return static_cast<unsigned>(-1);
    }

    // A stop request (the window closing) ends the run between its steps and
    // leaves the package folder for a later run.
    RunUpdate(stop);
    if (stop.IsRequested()) UPDATE_LOG(LOG_INFO, L"CUpdateMgr::DownFileThreadProc", L"升级已中止");

    const AutoCloseHandle self(TakeThreadHandle());
    return 0;
}
