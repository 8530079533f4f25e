// Helper program of the foundation's tests; links the foundation without the
// crash guard. Results go to files (UTF-16) or the exit code.
//   moduledir <out>                         GetModuleDir()
//   installini <out>                        appname, version_str, channel of install.ini, one a line
//   instance <mutex> <title>                exit 0 when another instance runs, else 1
//   fault                                   access violation (no crash guard here)
//   log <folder> <name|-> <threads> <n> <tag>  lines from threads, then a normal stop
//   logseq <folder> <threads> <n> <stop|exit>  lines numbered in one sequence across
//                                           the threads, then Stop or the end of main alone
//   logdebug <n>                            debug-output mode, n lines, then a normal stop
//   worker <folder> <stopping|stuck>        StopWorker on a worker that stops or never looks;
//                                           exit 5 when StopWorker returned
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "IniSettings.h"
#include "Log.h"
#include "PathUtils.h"
#include "Product.h"
#include "SingleInstance.h"
#include "ThreadHelper.h"

namespace {

bool WriteWide(const std::wstring& path, const std::wstring& text)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD put = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &put, nullptr);
    CloseHandle(h);
    return true;
}

struct LogJob {
    std::wstring tag;
    int thread;
    int count;
};

DWORD WINAPI LogThread(void* p)
{
    LogJob* job = static_cast<LogJob*>(p);
    for (int i = 0; i < job->count; ++i) {
        WriteLog(LOG_INFO, L"CommonProbe.cpp", __LINE__, L"Probe::LogThread", L"%s tag=%s t=%d i=%d",
                 L"Probe::LogThread", job->tag.c_str(), job->thread, i);
    }
    return 0;
}

int RunLog(const std::vector<std::wstring>& a)
{
    if (a.size() < 7) {
        return 90;
    }
    std::string folder = ToNarrow(a[2]);
    std::string name = ToNarrow(a[3]);
    int threads = _wtoi(a[4].c_str());
    int count = _wtoi(a[5].c_str());
    CLog::GetInstance().Init(folder.c_str(), name == "-" ? nullptr : name.c_str());
    std::vector<LogJob> jobs(threads);
    std::vector<HANDLE> handles;
    for (int t = 0; t < threads; ++t) {
        jobs[t] = LogJob{a[6], t, count};
        handles.push_back(CreateThread(nullptr, 0, &LogThread, &jobs[t], 0, nullptr));
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
    return CLog::GetInstance().Stop() ? 0 : 2;
}

// The sequence number and the push are taken under one lock, so that the
// numbers give the order in which the lines were queued.
CRITICAL_SECTION g_seqLock;
int g_nextSeq = 0;
int g_seqTotal = 0;

DWORD WINAPI SeqThread(void* p)
{
    const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(p));
    for (;;) {
        EnterCriticalSection(&g_seqLock);
        const int seq = g_nextSeq++;
        if (seq < g_seqTotal) {
            WriteLog(LOG_INFO, L"CommonProbe.cpp", __LINE__, L"Probe::Seq", L"%s seq=%d t=%d", L"Probe::Seq", seq,
                     thread);
        }
        LeaveCriticalSection(&g_seqLock);
        if (seq >= g_seqTotal) {
            return 0;
        }
    }
}

int RunLogSeq(const std::vector<std::wstring>& a)
{
    if (a.size() < 6) {
        return 90;
    }
    const int threads = _wtoi(a[3].c_str());
    g_seqTotal = threads * _wtoi(a[4].c_str());
    InitializeCriticalSection(&g_seqLock);
    CLog::GetInstance().Init(ToNarrow(a[2]).c_str(), "install.log");
    std::vector<HANDLE> handles;
    for (int t = 0; t < threads; ++t) {
        handles.push_back(CreateThread(nullptr, 0, &SeqThread, reinterpret_cast<void*>(static_cast<INT_PTR>(t)), 0,
                                       nullptr));
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
    if (a[5] == L"exit") {
        return 0;  // the queue is left to the program's normal end
    }
    return CLog::GetInstance().Stop() ? 0 : 2;
}

int RunLogDebug(const std::vector<std::wstring>& a)
{
    if (a.size() < 3) {
        return 90;
    }
    int count = _wtoi(a[2].c_str());
    CLog& log = CLog::GetInstance();
    log.SetDebugOutput(true);
    log.Start();
    for (int i = 0; i < count; ++i) {
        WriteLog(LOG_INFO, L"CommonProbe.cpp", __LINE__, L"Probe::Debug", L"%s 调试 i=%d", L"Probe::Debug", i);
    }
    return log.Stop() ? 0 : 2;
}

StopSignal g_workerStop;

DWORD WINAPI StoppingWorker(void*)
{
    while (g_workerStop.Pause(50)) {
    }
    return 0;
}

DWORD WINAPI StuckWorker(void*)
{
    // Busy with something that never looks at the stop request.
    Sleep(INFINITE);
    return 0;
}

int RunWorker(const std::vector<std::wstring>& a)
{
    if (a.size() < 4) {
        return 90;
    }
    CLog::GetInstance().Init(ToNarrow(a[2]).c_str(), "worker.log");
    HANDLE h = CreateThread(nullptr, 0, a[3] == L"stuck" ? &StuckWorker : &StoppingWorker, nullptr, 0, nullptr);
    Sleep(200);
    StopWorker(g_workerStop, h, 1000, L"Probe");
    CloseHandle(h);
    return 5;
}

}  // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> a(argv, argv + argc);
    LocalFree(argv);
    if (a.size() < 2) {
        return 90;
    }
    const std::wstring& mode = a[1];
    if (mode == L"moduledir" && a.size() >= 3) {
        return WriteWide(a[2], GetModuleDir()) ? 0 : 91;
    }
    if (mode == L"installini" && a.size() >= 3) {
        std::wstring text = ReadInstallIni(Product::kKeyAppName) + L"\n" + ReadInstallIni(Product::kKeyVersionStr) +
                            L"\n" + ReadInstallIni(Product::kKeyChannel);
        return WriteWide(a[2], text) ? 0 : 91;
    }
    if (mode == L"instance" && a.size() >= 4) {
        return IsAnotherInstanceRunning(a[2].c_str(), a[3].c_str()) ? 0 : 1;
    }
    if (mode == L"fault") {
        *static_cast<volatile int*>(nullptr) = 1;
        return 92;
    }
    if (mode == L"log") {
        return RunLog(a);
    }
    if (mode == L"logseq") {
        return RunLogSeq(a);
    }
    if (mode == L"logdebug") {
        return RunLogDebug(a);
    }
    if (mode == L"worker") {
        return RunWorker(a);
    }
    return 90;
}
