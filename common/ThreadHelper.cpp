#include "ThreadHelper.h"

#include <process.h>

#include <iostream>

ThreadHelper::ThreadHelper() : m_hThread(nullptr)
{
}

ThreadHelper::~ThreadHelper()
{
    if (m_hThread != nullptr) {
        CloseHandle(m_hThread);
    }
}

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
    if (m_hThread != nullptr) {
        CloseHandle(m_hThread);
    }
    m_hThread = reinterpret_cast<HANDLE>(h);
    return true;
}

bool ThreadHelper::Wait()
{
    if (m_hThread == nullptr) {
        return false;
    }
    return WaitForSingleObject(m_hThread, INFINITE) == WAIT_OBJECT_0;
}
