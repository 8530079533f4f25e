#include "SingleInstance.h"

bool IsAnotherInstanceRunning(const wchar_t* mutexName, const wchar_t* windowTitle)
{
    HANDLE hMutex = CreateMutexW(nullptr, TRUE, mutexName);
    bool bRunning = false;
    if (hMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        HWND hWnd = FindWindowW(nullptr, windowTitle);
        if (hWnd != nullptr) {
            COPYDATASTRUCT cds = {};
            SendMessageW(hWnd, WM_COPYDATA, COPYDATA_ACTIVATE, reinterpret_cast<LPARAM>(&cds));
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
