// Stand-in for the product's Windows service "KeloPdfReaderSvr". The suite only
// stops and removes that service; tests install this program with the service
// manager and choose how it answers a stop request with one argument, given
// either as a start argument (StartServiceW) or on the service's command line:
//
//   stop=now       stops at once
//   stop=hint      reports stop-pending with a wait hint of 400 ms, stops 1200 ms later
//   stop=zerohint  reports stop-pending with a wait hint of 0, stops 500 ms later
//   stop=pending   reports stop-pending (wait hint 250 ms) and never stops
//   stop=refuse    does not accept the stop control at all
//
// Without an argument it behaves as stop=now.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Product.h"

namespace {

enum class StopMode { Now, Hint, ZeroHint, Pending, Refuse };

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stopped = nullptr;
StopMode g_mode = StopMode::Now;
CRITICAL_SECTION g_lock;

bool ParseMode(const wchar_t* arg, StopMode& mode) {
    static const struct {
        const wchar_t* text;
        StopMode mode;
    } kModes[] = {{L"stop=now", StopMode::Now},
                  {L"stop=hint", StopMode::Hint},
                  {L"stop=zerohint", StopMode::ZeroHint},
                  {L"stop=pending", StopMode::Pending},
                  {L"stop=refuse", StopMode::Refuse}};
    for (const auto& m : kModes) {
        if (wcscmp(arg, m.text) == 0) {
            mode = m.mode;
            return true;
        }
    }
    return false;
}

void Report(DWORD state, DWORD waitHint) {
    EnterCriticalSection(&g_lock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        (state == SERVICE_RUNNING && g_mode != StopMode::Refuse) ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = waitHint;
    g_status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : g_status.dwCheckPoint + 1;
    SetServiceStatus(g_statusHandle, &g_status);
    LeaveCriticalSection(&g_lock);
}

DWORD WINAPI DelayedStop(LPVOID param) {
    Sleep(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(param)));
    SetEvent(g_stopped);
    return 0;
}

void StopLater(DWORD delayMs) {
    HANDLE t = CreateThread(nullptr, 0, DelayedStop, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(delayMs)), 0,
                            nullptr);
    if (t) CloseHandle(t);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            switch (g_mode) {
                case StopMode::Now:
                    SetEvent(g_stopped);
                    return NO_ERROR;
                case StopMode::Hint:
                    Report(SERVICE_STOP_PENDING, 400);
                    StopLater(1200);
                    return NO_ERROR;
                case StopMode::ZeroHint:
                    Report(SERVICE_STOP_PENDING, 0);
                    StopLater(500);
                    return NO_ERROR;
                case StopMode::Pending:
                    Report(SERVICE_STOP_PENDING, 250);
                    return NO_ERROR;
                case StopMode::Refuse:
                    return ERROR_CALL_NOT_IMPLEMENTED;
            }
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    for (DWORD i = 1; i < argc; ++i) ParseMode(argv[i], g_mode);
    g_statusHandle = RegisterServiceCtrlHandlerExW(Product::kServiceName, Handler, nullptr);
    if (!g_statusHandle) return;
    Report(SERVICE_START_PENDING, 1000);
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_stopped, INFINITE);
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    InitializeCriticalSection(&g_lock);
    g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Start arguments, read in ServiceMain, win over the command line.
    for (int i = 1; i < argc; ++i) ParseMode(argv[i], g_mode);

    wchar_t name[64];
    wcscpy(name, Product::kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) return 1;
    return 0;
}
