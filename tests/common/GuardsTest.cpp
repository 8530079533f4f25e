#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "CommonTestUtil.h"
#include "LockHelper.h"
#include "PathUtils.h"
#include "SingleInstance.h"
#include "ThreadHelper.h"

namespace {

// --- ThreadHelper

class RecordingThread : public ThreadHelper {
public:
    DWORD ranOn = 0;
    int runs = 0;

protected:
    void Run() override
    {
        Sleep(50);
        ranOn = GetCurrentThreadId();
        ++runs;
    }
};

TEST(ThreadHelper, StartRunsTheBodyOnItsOwnThreadAndWaitJoinsIt)
{
    RecordingThread t;
    EXPECT_EQ(t.GetThreadHandle(), nullptr);
    EXPECT_FALSE(t.Wait()) << "nothing to wait for before Start";
    ASSERT_TRUE(t.Start());
    EXPECT_NE(t.GetThreadHandle(), nullptr);
    EXPECT_TRUE(t.Wait());
    EXPECT_EQ(t.runs, 1);
    EXPECT_NE(t.ranOn, 0u);
    EXPECT_NE(t.ranOn, GetCurrentThreadId());
    EXPECT_TRUE(t.Wait()) << "an ended thread can be waited for again";
}

// --- StopWorker in a probe process: a worker that looks at the stop request
// is joined; one that never does makes the program end at once (exit code 0)
// after its log line, instead of being ended from outside or waited for.

TEST(StopWorker, JoinsAStoppingWorkerAndEndsTheProgramPastAStuckOne)
{
    struct Case {
        const wchar_t* worker;
        DWORD exitCode;
        bool logged;
    } cases[] = {{L"stopping", 5, false}, {L"stuck", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToNarrow(c.worker));
        ct::TempDir dir(L"kelo_stopworker");
        const std::wstring probe = ct::BinPath(L"common_probe.exe");
        EXPECT_EQ(ct::Run(probe, ct::Quote(probe) + L" worker " + ct::Quote(dir.Path()) + L" " + c.worker, 30000),
                  c.exitCode);
        const std::string log = ct::ReadFileBytes(dir / L"worker.log");
        EXPECT_EQ(log.find("StopWorker Probe worker still running after 1000 ms") != std::string::npos, c.logged)
            << log;
    }
}

// --- Locks: mutual exclusion, recursion, release on every exit path.

template <typename Lock, typename Guard>
struct LockProbe {
    Lock* lock;
    volatile long counter;

    // Increments a plain counter in a read-pause-write race window.
    static DWORD WINAPI Count(void* p)
    {
        LockProbe* s = static_cast<LockProbe*>(p);
        for (int i = 0; i < 20000; ++i) {
            Guard g(s->lock);
            long v = s->counter;
            if ((i & 1023) == 0) {
                Sleep(0);
            }
            s->counter = v + 1;
        }
        return 0;
    }

    static DWORD WINAPI TakeOnce(void* p)
    {
        Guard g(static_cast<LockProbe*>(p)->lock);
        return 0;
    }
};

template <typename Lock, typename Guard>
void ExpectMutualExclusion(Lock& lock)
{
    LockProbe<Lock, Guard> shared = {&lock, 0};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i) {
        threads.push_back(CreateThread(nullptr, 0, &LockProbe<Lock, Guard>::Count, &shared, 0, nullptr));
    }
    WaitForMultipleObjects(4, threads.data(), TRUE, INFINITE);
    for (HANDLE h : threads) {
        CloseHandle(h);
    }
    EXPECT_EQ(shared.counter, 4 * 20000);
}

// Whether another thread takes the lock within the time limit. A thread still
// blocked is returned in *pBlocked, to be joined once the lock is free.
template <typename Lock, typename Guard>
bool FreeForOtherThread(LockProbe<Lock, Guard>& probe, HANDLE* pBlocked)
{
    HANDLE h = CreateThread(nullptr, 0, &LockProbe<Lock, Guard>::TakeOnce, &probe, 0, nullptr);
    if (WaitForSingleObject(h, 3000) != WAIT_OBJECT_0) {
        *pBlocked = h;
        return false;
    }
    CloseHandle(h);
    return true;
}

template <typename Lock, typename Guard>
void ExpectRecursiveAndReleasedOnException(Lock& lock)
{
    LockProbe<Lock, Guard> probe = {&lock, 0};
    HANDLE hBlocked = nullptr;
    {
        Guard outer(&lock);
        Guard inner(&lock);  // the owner may take it again
        EXPECT_FALSE((FreeForOtherThread<Lock, Guard>(probe, &hBlocked))) << "held lock was taken by another thread";
    }
    if (hBlocked != nullptr) {
        EXPECT_EQ(WaitForSingleObject(hBlocked, 3000), WAIT_OBJECT_0) << "lock not released after both guards";
        CloseHandle(hBlocked);
    }
    try {
        Guard g(&lock);
        throw std::runtime_error("leave the scope");
    } catch (const std::runtime_error&) {
    }
    HANDLE hStuck = nullptr;
    EXPECT_TRUE((FreeForOtherThread<Lock, Guard>(probe, &hStuck))) << "lock not released after an exception";
    if (hStuck != nullptr) {
        TerminateThread(hStuck, 1);
        CloseHandle(hStuck);
    }
}

TEST(LockHelper, GuardsExcludeRecurseAndRelease)
{
    LockHelper lock;
    ExpectMutualExclusion<LockHelper, LockHelperGuard>(lock);
    ExpectRecursiveAndReleasedOnException<LockHelper, LockHelperGuard>(lock);
}

TEST(CMutex, GuardsExcludeRecurseAndRelease)
{
    MyLock::CMutex mutex;
    ExpectMutualExclusion<MyLock::CMutex, MyLock::MutexGuard>(mutex);
    ExpectRecursiveAndReleasedOnException<MyLock::CMutex, MyLock::MutexGuard>(mutex);
}

TEST(CMutex, GuardCallsLockAndUnlockThroughTheTable)
{
    struct Counting : MyLock::CMutex {
        int locks = 0;
        int unlocks = 0;
        void Lock() override
        {
            ++locks;
            CMutex::Lock();
        }
        void Unlock() override
        {
            ++unlocks;
            CMutex::Unlock();
        }
    } mutex;
    {
        MyLock::MutexGuard g(&mutex);
        EXPECT_EQ(mutex.locks, 1);
        EXPECT_EQ(mutex.unlocks, 0);
    }
    EXPECT_EQ(mutex.unlocks, 1);
}

// --- Single instance

struct CopyDataLog {
    int count = 0;
    WPARAM wParam = 0;
    bool lParamSet = false;
    DWORD cbData = ~0u;
};

LRESULT CALLBACK RecorderProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        CopyDataLog* log = reinterpret_cast<CopyDataLog*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        ++log->count;
        log->wParam = wParam;
        log->lParamSet = lParam != 0;
        if (lParam != 0) {
            log->cbData = reinterpret_cast<COPYDATASTRUCT*>(lParam)->cbData;
        }
        return TRUE;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

class Recorder {
public:
    Recorder(const std::wstring& title)
    {
        static ATOM s_class = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = RecorderProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KeloTestCopyDataRecorder";
            return RegisterClassW(&wc);
        }();
        EXPECT_NE(s_class, 0);
        m_hWnd = CreateWindowExW(0, L"KeloTestCopyDataRecorder", title.c_str(), WS_OVERLAPPED, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log));
    }
    ~Recorder() { DestroyWindow(m_hWnd); }
    CopyDataLog log;

private:
    HWND m_hWnd;
};

DWORD RunSecondCopy(const std::wstring& mutex, const std::wstring& title)
{
    std::wstring probe = ct::BinPath(L"common_probe.exe");
    // Pump messages meanwhile: the first copy's window answers the sent message.
    return ct::Run(probe, ct::Quote(probe) + L" instance " + ct::Quote(mutex) + L" " + ct::Quote(title), 60000,
                   true);
}

TEST(SingleInstance, SecondCopyActivatesTheFirstWindowOnceAndEnds)
{
    EXPECT_EQ(COPYDATA_ACTIVATE, 2024u);
    std::wstring mutex = L"{" + ct::UniqueName(L"KeloTestMutex") + L"}";
    std::wstring title = ct::UniqueName(L"KeloPDF阅读器") + L"升级程序";

    // No copy yet: a probe is the first one and runs on (exit code 1 here).
    EXPECT_EQ(RunSecondCopy(mutex, title), 1u);

    // This process is the first copy; it keeps the named mutex alive.
    ASSERT_FALSE(IsAnotherInstanceRunning(mutex.c_str(), title.c_str()));
    Recorder exact(title);
    Recorder longer(title + L"x");
    Recorder shorter(title.substr(0, title.size() - 1));
    EXPECT_EQ(RunSecondCopy(mutex, title), 0u);
    EXPECT_EQ(exact.log.count, 1);
    EXPECT_EQ(exact.log.wParam, COPYDATA_ACTIVATE);
    EXPECT_TRUE(exact.log.lParamSet);
    EXPECT_EQ(exact.log.cbData, 0u);
    EXPECT_EQ(longer.log.count, 0);
    EXPECT_EQ(shorter.log.count, 0);
}

TEST(SingleInstance, SecondCopyEndsAlsoWhenTheWindowIsNotThereYet)
{
    std::wstring mutex = L"{" + ct::UniqueName(L"KeloTestMutex") + L"}";
    std::wstring title = ct::UniqueName(L"KeloTestTitle");
    ASSERT_FALSE(IsAnotherInstanceRunning(mutex.c_str(), title.c_str()));
    Recorder other(title + L" other");
    EXPECT_EQ(RunSecondCopy(mutex, title), 0u);
    EXPECT_EQ(other.log.count, 0);
    // The mutex still exists after the first call released its ownership.
    EXPECT_TRUE(IsAnotherInstanceRunning(mutex.c_str(), title.c_str()));
}

}  // namespace
