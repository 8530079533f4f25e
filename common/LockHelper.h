// The two critical-section locks and their scoped guards. Both are recursive
// for the owning thread and local to the process.
//   LockHelper + LockHelperGuard : the log's lock.
//   MyLock::CMutex + MyLock::MutexGuard : the HTTP task manager's locks.
#pragma once

#include <windows.h>

class LockHelper {
public:
    LockHelper() { InitializeCriticalSection(&m_cs); }
    virtual ~LockHelper() { DeleteCriticalSection(&m_cs); }
    LockHelper(const LockHelper&) = delete;
    LockHelper& operator=(const LockHelper&) = delete;

    void Lock() { EnterCriticalSection(&m_cs); }
    void Unlock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class LockHelperGuard {
public:
    explicit LockHelperGuard(LockHelper* pLock) : m_pLock(pLock) { m_pLock->Lock(); }
    ~LockHelperGuard() { m_pLock->Unlock(); }
    LockHelperGuard(const LockHelperGuard&) = delete;
    LockHelperGuard& operator=(const LockHelperGuard&) = delete;

private:
    LockHelper* m_pLock;
};

namespace MyLock {

class CMutex {
public:
    CMutex() { InitializeCriticalSection(&m_cs); }
    ~CMutex() { DeleteCriticalSection(&m_cs); }
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    virtual void Lock() { EnterCriticalSection(&m_cs); }
    virtual void Unlock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class MutexGuard {
public:
    explicit MutexGuard(CMutex* pMutex) : m_pMutex(pMutex) { m_pMutex->Lock(); }
    ~MutexGuard() { m_pMutex->Unlock(); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    CMutex* m_pMutex;
};

}  // namespace MyLock
