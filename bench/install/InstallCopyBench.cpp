// Runs the install engine's copy step (CInstallMgr::CoverFile, with its log
// line per copied file) once and prints how long it took.
//
//   bench_install_copy <setup folder> <destination folder> log|nolog
//
// The setup folder holds "KeloInstaller"; it becomes the current directory as
// in the setup program. "log" writes install.log to the temporary folder as
// the setup program does and waits until every line is on disk; "nolog"
// formats and queues the lines the same way but has no log file, which shows
// what the log file costs. It also prints the peak working set of its process.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "InstallMgr.h"
#include "Log.h"
#include "PathUtils.h"
#include "Product.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& freq) {
    return double(to.QuadPart - from.QuadPart) / double(freq.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || (wcscmp(argv[3], L"log") != 0 && wcscmp(argv[3], L"nolog") != 0)) {
        fwprintf(stderr, L"usage: bench_install_copy <setup folder> <destination> log|nolog\n");
        return 2;
    }
    const bool withLog = wcscmp(argv[3], L"log") == 0;
    if (!SetCurrentDirectoryW(argv[1])) {
        fwprintf(stderr, L"cannot enter %ls\n", argv[1]);
        return 2;
    }
    CreateDirTree(std::wstring(argv[2]));

    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring logFolder = std::wstring(temp) + Product::kLogFolderName;
    if (withLog) {
        CLog::GetInstance().Init(ToNarrow(logFolder).c_str(), ToNarrow(Product::kInstallLog).c_str());
    } else {
        CLog::GetInstance().Start();  // a writer without a file: lines are queued and dropped
    }

    LARGE_INTEGER freq, t0, t1, t2;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    CInstallMgr mgr;
    const bool ok = mgr.CoverFile(argv[2], Product::kPayloadFolder);
    QueryPerformanceCounter(&t1);
    CLog::GetInstance().Stop();  // writes what is still queued
    QueryPerformanceCounter(&t2);

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("files=%d ok=%d copy_s=%.3f copy_and_log_s=%.3f peak_ws_kb=%lu\n", g_nCopyCount, ok ? 1 : 0,
           Seconds(t0, t1, freq), Seconds(t0, t2, freq), static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024));
    return ok ? 0 : 1;
}
