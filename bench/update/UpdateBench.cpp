// The updater's run against the extraction alone, in turns, under the same
// Wine prefix: for each run a fresh installation folder with the package in
// its "Update" folder, the updater copied into a folder of its own (as the
// application starts it) and started elevated with the installation folder;
// the time from its start to its exit, less the engine's fixed waits, is set
// against CZipManager unpacking the same package into a fresh folder.
//
// The updater's peak working set is sampled while it runs, for this package
// and for a small one of the same mix: it must not grow with the package.
//
// usage: update_bench.exe <package.zip> <small package.zip> <bin folder> <work folder> <runs>
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using bench::Median;
using bench::Now;
using bench::RemoveTree;
using bench::TimeExtraction;

// The engine's fixed waits on a successful run: 1 s before ending the
// application, 3 s before its first report, 1 s before the extraction
// report and 2 s after it, 1 s before the final report.
const double kFixedWaits = 8.0;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Ends the application that the updater restarted.
void EndApplication() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
        if (_wcsicmp(pe.szExeFile, L"KeloPdfReader.exe") != 0) continue;
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID);
        if (!h) continue;
        TerminateProcess(h, 0);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
    CloseHandle(snap);
}

// Waits for the process to end, sampling its peak working set meanwhile
// (the system keeps the peak; sampling only has to see it before the exit).
void WaitSamplingPeak(HANDLE process, SIZE_T* peak) {
    *peak = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        if (GetProcessMemoryInfo(process, &pmc, sizeof(pmc))) *peak = std::max(*peak, pmc.PeakWorkingSetSize);
        if (WaitForSingleObject(process, 20) != WAIT_TIMEOUT) return;
    }
}

// One updater run; -1 when it could not be started or failed.
double RunUpdater(const std::wstring& package, const std::wstring& bin, const std::wstring& inst,
                  const std::wstring& updaterDir, SIZE_T* peak) {
    CreateDirectoryW(inst.c_str(), nullptr);
    CreateDirectoryW((inst + L"\\Update").c_str(), nullptr);
    CreateDirectoryW(updaterDir.c_str(), nullptr);
    if (!CopyFileW((bin + L"\\KeloPdfReader.exe").c_str(), (inst + L"\\KeloPdfReader.exe").c_str(), FALSE) ||
        !CopyFileW(package.c_str(), (inst + L"\\Update\\Update.zip").c_str(), FALSE) ||
        !CopyFileW((bin + L"\\Update.exe").c_str(), (updaterDir + L"\\Update.exe").c_str(), FALSE) ||
        !CopyFileW((bin + L"\\DuiLib.dll").c_str(), (updaterDir + L"\\DuiLib.dll").c_str(), FALSE)) {
        fprintf(stderr, "cannot prepare the run (error %lu)\n", GetLastError());
        return -1;
    }
    const std::wstring exe = updaterDir + L"\\Update.exe";
    const std::wstring args = L"\"" + inst + L"\"";
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    sei.lpVerb = L"runas";
    sei.lpFile = exe.c_str();
    sei.lpParameters = args.c_str();
    sei.lpDirectory = updaterDir.c_str();
    sei.nShow = SW_SHOWNORMAL;
    double t0 = Now();
    if (!ShellExecuteExW(&sei) || !sei.hProcess) {
        fprintf(stderr, "the updater could not be started (error %lu)\n", GetLastError());
        return -1;
    }
    WaitSamplingPeak(sei.hProcess, peak);
    double t = Now() - t0;
    DWORD code = 1;
    GetExitCodeProcess(sei.hProcess, &code);
    CloseHandle(sei.hProcess);
    EndApplication();
    // Done means unpacked and the package folder removed.
    if (code != 0 || Exists(inst + L"\\Update")) {
        fprintf(stderr, "the updater ended with %lu%s\n", code, Exists(inst + L"\\Update") ? ", package left" : "");
        return -1;
    }
    // Let the self-deletion finish before the next run measures anything.
    for (int i = 0; i < 100 && Exists(updaterDir); ++i) Sleep(100);
    return t;
}

// The updater started without an argument ends at once with -1: what
// starting an elevated program costs by itself.
double RunBareStart(const std::wstring& bin) {
    const std::wstring exe = bin + L"\\Update.exe";
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    sei.lpVerb = L"runas";
    sei.lpFile = exe.c_str();
    sei.nShow = SW_SHOWNORMAL;
    double t0 = Now();
    if (!ShellExecuteExW(&sei) || !sei.hProcess) return -1;
    WaitForSingleObject(sei.hProcess, INFINITE);
    double t = Now() - t0;
    CloseHandle(sei.hProcess);
    return t;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: update_bench.exe <package.zip> <small package.zip> <bin folder> <work folder> <runs>\n");
        return 2;
    }
    const std::wstring package = argv[1], small = argv[2], bin = argv[3], work = argv[4];
    const int runs = _wtoi(argv[5]);
    CreateDirectoryW(work.c_str(), nullptr);
    const std::wstring inst = work + L"\\inst", updaterDir = work + L"\\KeloUpdate_bench", alone = work + L"\\alone";
    std::vector<SIZE_T> peaks;

    std::vector<double> updater, extraction, bare;
    for (int r = 0; r < runs; ++r) {
        RemoveTree(inst);
        RemoveTree(alone);
        BOOL ok = FALSE;
        double tUpdater, tAlone;
        SIZE_T peak = 0;
        // Alternate which goes first, so that neither always finds a warm cache.
        if (r % 2 == 0) {
            tUpdater = RunUpdater(package, bin, inst, updaterDir, &peak);
            tAlone = TimeExtraction(package, alone, &ok);
        } else {
            tAlone = TimeExtraction(package, alone, &ok);
            tUpdater = RunUpdater(package, bin, inst, updaterDir, &peak);
        }
        if (tUpdater < 0 || !ok) {
            fprintf(stderr, "run %d failed: updater %s, extraction %d (0x%08lx)\n", r + 1, tUpdater < 0 ? "failed" : "ok",
                    ok, (unsigned long)GetZipLastResult());
            return 1;
        }
        const double tBare = RunBareStart(bin);
        printf("run %d: updater %.3f s (%.3f s without its fixed waits), extraction alone %.3f s, bare start %.3f s\n",
               r + 1, tUpdater, tUpdater - kFixedWaits, tAlone, tBare);
        fflush(stdout);
        updater.push_back(tUpdater - kFixedWaits);
        extraction.push_back(tAlone);
        bare.push_back(tBare);
        peaks.push_back(peak);
    }
    const double mu = Median(updater), me = Median(extraction);
    printf("median updater without its fixed waits %.3f s, median extraction alone %.3f s\n", mu, me);
    printf("updater time relative to the extraction alone: %.2fx; the rest of the update costs %.3f s\n", mu / me,
           mu - me);
    printf("of which starting an elevated program and letting it end (median bare start) %.3f s\n", Median(bare));

    // The same mix, 20 entries: the updater's memory must not follow the package.
    RemoveTree(inst);
    SIZE_T smallPeak = 0;
    if (RunUpdater(small, bin, inst, updaterDir, &smallPeak) < 0) {
        fprintf(stderr, "the small package's run failed\n");
        return 1;
    }
    std::sort(peaks.begin(), peaks.end());
    const SIZE_T largePeak = peaks[peaks.size() / 2];
    printf("updater peak working set: %.1f MB with the large package (median), %.1f MB with the small one; "
           "ratio %.2f\n",
           largePeak / 1048576.0, smallPeak / 1048576.0, smallPeak ? (double)largePeak / smallPeak : 0.0);
    RemoveTree(work);
    return 0;
}
