#include "ThreadHelper.h"

#include <process.h>

#include <atomic>
#include <cwchar>
#include <iostream>

namespace {

std::atomic<LastResortHandler> g_lastResortHandler{nullptr};

}  // namespace

ThreadHelper::ThreadHelper() = default;

ThreadHelper::~ThreadHelper() = default;

unsigned __stdcall ThreadHelper::ThreadEntry(void* pParam)
{
    static_cast<ThreadHelper*>(pParam)->Run();
    return 0;
}

bool ThreadHelper::Start()
{
    uintptr_t h = _beginthreadex(nullptr, 0, &ThreadHelper::ThreadEntry, this, 0, nullptr);
    if (h == 0) {
        std::cout << "create thread error! \r\n" << std::endl;
        return false;
    }
    m_hThread.Reset(reinterpret_cast<HANDLE>(h));
    return true;
}

bool ThreadHelper::Wait()
{
    return Wait(INFINITE);
}

bool ThreadHelper::Wait(DWORD timeoutMs)
{
    if (!m_hThread) {
        return false;
    }
    return WaitForSingleObject(m_hThread.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool IsSignaled(HANDLE hEvent)
{
    return hEvent != nullptr && WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
}

bool StopSignal::Pause(DWORD ms) const
{
    if (!m_hEvent) {
        Sleep(ms);
        return true;
    }
    return WaitForSingleObject(m_hEvent.Get(), ms) == WAIT_TIMEOUT;
}

bool StopWorker(StopSignal& stop, HANDLE hThread, DWORD waitMs, const wchar_t* owner)
{
    stop.Request();
    if (hThread == nullptr || hThread == INVALID_HANDLE_VALUE) {
        return true;
    }
    if (WaitForSingleObject(hThread, waitMs) != WAIT_TIMEOUT) {
        return true;
    }
    // Ending only the thread could leave a lock it holds taken for good; the
    // window is already gone, so the program ends instead.
    if (LastResortHandler handler = g_lastResortHandler.load()) {
        wchar_t szMessage[512];
        _snwprintf(szMessage, 511, L"%s %s worker still running after %u ms, exiting", L"StopWorker",
                   owner != nullptr ? owner : L"", static_cast<unsigned>(waitMs));
        szMessage[511] = L'\0';
        handler(szMessage);
    }
    TerminateProcess(GetCurrentProcess(), 0);
    return false;
}

void SetLastResortHandler(LastResortHandler handler)
{
    g_lastResortHandler = handler;
}
