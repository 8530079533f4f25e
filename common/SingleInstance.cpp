#include "SingleInstance.h"

bool IsAnotherInstanceRunning(const wchar_t* mutexName, const wchar_t* windowTitle)
{
    HANDLE hMutex = CreateMutexW(nullptr, TRUE, mutexName);
    bool bRunning = false;
    if (hMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        HWND hWnd = FindWindowW(nullptr, windowTitle);
        if (hWnd != nullptr) {
            COPYDATASTRUCT cds = {};
            // A first copy whose window no longer answers must not hang this one.
            DWORD_PTR result = 0;
            SendMessageTimeoutW(hWnd, WM_COPYDATA, COPYDATA_ACTIVATE, reinterpret_cast<LPARAM>(&cds),
                                SMTO_ABORTIFHUNG | SMTO_BLOCK, kActivateTimeoutMs, &result);
        }
        bRunning = true;
    }
    if (hMutex != nullptr) {
        // The handle stays open: the named mutex must live as long as this
        // process so that later copies detect it.
        ReleaseMutex(hMutex);
    }
    return bRunning;
}
