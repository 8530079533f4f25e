// Base for objects that own one worker thread: derive, implement Run, call
// Start. Stopping the body is the derived class's business; Wait joins it.
//
// Workers that a window owns stop cooperatively: the owner sets a StopSignal,
// the worker looks at it between its files and steps (its pauses end early)
// and returns; StopWorker joins it for a bounded time. A thread is never
// ended from outside: one ended while it holds the heap's or the log's lock
// would leave the program unable to end.
#pragma once

#include <windows.h>

#include <atomic>

#include "Owners.h"

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
    // Waits at most timeoutMs; false also when the thread still runs.
    bool Wait(DWORD timeoutMs);
    HANDLE GetThreadHandle() const { return m_hThread.Get(); }

protected:
    virtual void Run() = 0;

private:
    static unsigned __stdcall ThreadEntry(void* pParam);
    AutoCloseHandle m_hThread;
};

// True when the event is set; false for a null handle.
bool IsSignaled(HANDLE hEvent);

// A worker's stop request: set by the owner, read by the worker.
class StopSignal {
public:
    StopSignal() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Request() {
        m_bRequested = true;
        if (m_hEvent) SetEvent(m_hEvent.Get());
    }
    // For an owner that starts a new worker after an earlier one stopped.
    void Clear() {
        if (m_hEvent) ResetEvent(m_hEvent.Get());
        m_bRequested = false;
    }
    // Read from memory: workers ask between every two files, and a look at the
    // event would cost a call into the system each time.
    bool IsRequested() const { return m_bRequested; }
    // Sleeps ms unless a stop is requested first; true when the whole pause passed.
    bool Pause(DWORD ms) const;
    // The event, for waits that take one (null when it could not be made).
    HANDLE Handle() const { return m_hEvent.Get(); }

private:
    AutoCloseHandle m_hEvent;
    std::atomic<bool> m_bRequested{false};
};

// How long an owner waits for its worker after asking it to stop. A worker
// looks at the request at least between two files, so this is ample.
constexpr DWORD kWorkerStopWaitMs = 5000;

// Asks the worker to stop and waits up to waitMs for the thread to end;
// true when it ended. When it has not, the last resort: the handler set with
// SetLastResortHandler is given one line saying so (the log writes it and the
// lines queued before it, for a bounded time) and the program ends at once,
// without waiting for that thread or anything it may hold. `owner` names the
// manager in that line. The handle stays the caller's.
bool StopWorker(StopSignal& stop, HANDLE hThread, DWORD waitMs, const wchar_t* owner);

// Called by StopWorker, on the caller's thread, just before the program ends.
// The log sets it when it is created, so that threads need not know the log.
using LastResortHandler = void (*)(const wchar_t* message);
void SetLastResortHandler(LastResortHandler handler);
