// Base for objects that own one worker thread: derive, implement Run, call
// Start. Stopping the body is the derived class's business; Wait joins it.
#pragma once

#include <windows.h>

class ThreadHelper {
public:
    ThreadHelper();
    virtual ~ThreadHelper();
    ThreadHelper(const ThreadHelper&) = delete;
    ThreadHelper& operator=(const ThreadHelper&) = delete;

    // Starts the thread running Run(); false (and a line on stdout) on failure.
    bool Start();
    // Waits without limit for the thread to end; false when not started or the wait failed.
    bool Wait();
    HANDLE GetThreadHandle() const { return m_hThread; }

protected:
    virtual void Run() = 0;

private:
    static unsigned __stdcall ThreadEntry(void* pParam);
    HANDLE m_hThread;
};
