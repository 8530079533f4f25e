#include "Process.h"

#include <tlhelp32.h>
#include <cwchar>

#include "Owners.h"

namespace {

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &needed) != FALSE;
}

// Stop request with a reason: planned, application, no minor reason.
// ControlServiceExA exists from Vista on; on older systems the plain stop
// control is sent so that the program still loads and works there.
bool SendStopControl(SC_HANDLE service) {
    typedef BOOL(WINAPI * ControlServiceExAFn)(SC_HANDLE, DWORD, DWORD, PVOID);
    static const ControlServiceExAFn controlEx = reinterpret_cast<ControlServiceExAFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "ControlServiceExA")));
    if (controlEx) {
        SERVICE_CONTROL_STATUS_REASON_PARAMSA params = {};
        params.dwReason = SERVICE_STOP_REASON_FLAG_PLANNED | SERVICE_STOP_REASON_MAJOR_APPLICATION |
                          SERVICE_STOP_REASON_MINOR_NONE;
        return controlEx(service, SERVICE_CONTROL_STOP, SERVICE_CONTROL_STATUS_REASON_INFO, &params) != FALSE;
    }
    SERVICE_STATUS status = {};
    return ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
}

}  // namespace

bool LaunchProcess(const wchar_t* appPath, wchar_t* cmdLine, bool hide) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = hide ? SW_HIDE : SW_SHOWNORMAL;
    DWORD flags = NORMAL_PRIORITY_CLASS;
    if (hide) flags |= CREATE_NO_WINDOW;

    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(appPath, cmdLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi)) {
        wchar_t msg[128];
        swprintf(msg, 128, L"CreateProcess failed. Error: %d", static_cast<int>(GetLastError()));
        OutputDebugStringW(msg);
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

bool FindProcessByName(const wchar_t* exeName, DWORD& processId) {
    if (!exeName) return false;
    AutoCloseHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        if (wcscmp(entry.szExeFile, exeName) == 0) {
            processId = entry.th32ProcessID;
            return true;
        }
    }
    return false;
}

bool TerminateProcessByName(const wchar_t* exeName) {
    DWORD pid = 0;
    if (!FindProcessByName(exeName, pid)) return false;
    AutoCloseHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process.IsValid()) TerminateProcess(process.Get(), 0);
    return true;
}

bool StopServiceByName(const wchar_t* serviceName, DWORD maxWaitMs, HANDLE hStop) {
    if (!serviceName || !*serviceName) return false;
    AutoCloseServiceHandle manager(OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE));
    if (!manager.Get()) return false;
    AutoCloseServiceHandle service(OpenServiceW(manager.Get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service.Get()) return false;

    SERVICE_STATUS_PROCESS status = {};
    if (!QueryStatus(service.Get(), status) || status.dwCurrentState != SERVICE_RUNNING) return false;
    if (!SendStopControl(service.Get())) return false;

    const DWORD start = GetTickCount();
    for (;;) {
        if (!QueryStatus(service.Get(), status)) return false;
        if (status.dwCurrentState == SERVICE_STOPPED) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= maxWaitMs) return false;
        // The wait hint paces the polling; a hint of 0 polls without pause.
        DWORD pause = status.dwWaitHint;
        if (pause > maxWaitMs - elapsed) pause = maxWaitMs - elapsed;
        if (hStop == nullptr) {
            Sleep(pause);
        } else if (WaitForSingleObject(hStop, pause) != WAIT_TIMEOUT) {
            return false;
        }
    }
}
