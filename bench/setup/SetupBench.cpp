// bench_setup <delivered setup folder> <NSIS installer> <runs>
//
// For each run, in turn for both installers, in the same Wine prefix:
//  - first window: from the process's start until its window is shown and
//    painted (the setup program's install button drawn; the NSIS dialog
//    visible), then the program is closed;
//  - installation: the setup program through its window ("立即安装" until
//    the finish page; nothing of the product runs, so the engine makes no
//    pause), the NSIS installer silently (/S) until it ends.
// Prints each run and the medians and ratios (setup / NSIS), where the
// setup program's first window spends its time (from its start-up trace,
// KELO_STARTUP_TRACE) and the peak working set of both programs.
//
// bench_setup memory <setup folder> <label>: one installation through the
// window; prints the setup program's peak working set.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

double Ms(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::wstring InstallFolder() { return ExpectedProgramFiles() + L"\\KeloPdfReader"; }

// Peak working set of a running process in KiB; 0 when it cannot be read.
unsigned long PeakKiB(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (h == nullptr) return 0;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    const BOOL ok = GetProcessMemoryInfo(h, &pmc, sizeof(pmc));
    CloseHandle(h);
    return ok ? static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024) : 0;
}

std::wstring TraceFile() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"kelo_startup_trace.txt";
}

// The start-up trace's marks and phases by name, in ms.
std::map<std::string, double> ReadTrace(const std::wstring& file) {
    std::map<std::string, double> values;
    FILE* f = _wfopen(file.c_str(), L"r");
    if (f == nullptr) return values;
    char kind[16], name[64];
    double ms = 0;
    while (fscanf(f, "%15s %63s %lf", kind, name, &ms) == 3) values[std::string(kind) + " " + name] = ms;
    fclose(f);
    return values;
}

// Time from a process's creation to its entry function, in tenths of ms: a
// program that loads no library of its own (this one) shows what starting any
// process costs.
int SinceCreatedTenthsMs() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    const auto v = [](const FILETIME& ft) {
        return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    };
    return static_cast<int>((v(now) - v(created)) / 1000);
}

bool ProcessStartMs(double& ms) {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Process p;
    if (!p.Start(self, L"--since-created", L"")) return false;
    const DWORD code = p.WaitExit(30000);
    if (code == STILL_ACTIVE) return false;
    ms = code / 10.0;
    return true;
}

bool SetupFirstWindow(const std::wstring& folder, double& ms, std::map<std::string, double>& trace,
                      unsigned long& peakKiB) {
    ForgetInstallation();
    DeleteFileW(TraceFile().c_str());
    SetEnvironmentVariableW(L"KELO_STARTUP_TRACE", TraceFile().c_str());
    SetupRun run(folder);
    const LARGE_INTEGER t0 = Now();
    const bool started = run.Start();
    SetEnvironmentVariableW(L"KELO_STARTUP_TRACE", nullptr);
    if (!started) return false;
    if (!WaitFor([&] { return run.TealShareOf(L"btnInstall") > 0.5; }, 30000, 5)) return false;
    ms = Ms(t0, Now());
    peakKiB = PeakKiB(run.Proc().Pid());
    trace = ReadTrace(TraceFile());
    run.Click(L"closeBtn");
    return run.WaitExit(20000);
}

bool SetupInstall(const std::wstring& folder, double& ms, unsigned long* pPeakKiB = nullptr) {
    ForgetInstallation();
    RemoveTree(InstallFolder());
    SetupRun run(folder);
    if (!run.Start() || !run.WaitPage(Page::Folder, 30000)) return false;
    const LARGE_INTEGER t0 = Now();
    run.Click(L"btnInstall");
    if (!WaitFor([&] { return run.CurrentPage() == Page::Finish; }, 600000, 5)) return false;
    ms = Ms(t0, Now());
    if (pPeakKiB != nullptr) *pPeakKiB = PeakKiB(run.Proc().Pid());
    run.Click(L"closeBtn");
    return run.WaitExit(20000);
}

HWND NsisWindow(DWORD pid) {
    HWND h = FindTopWindow(L"#32770", nullptr, pid);
    return h && IsWindowVisible(h) ? h : nullptr;
}

bool NsisFirstWindow(const std::wstring& exe, double& ms, unsigned long& peakKiB) {
    Process p;
    const LARGE_INTEGER t0 = Now();
    if (!p.Start(exe, L"", L"")) return false;
    HWND h = nullptr;
    if (!WaitFor([&] { return (h = NsisWindow(p.Pid())) != nullptr; }, 30000, 5)) return false;
    // Until it has painted: the window answers once its first messages are done.
    DWORD_PTR r = 0;
    SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    ms = Ms(t0, Now());
    peakKiB = PeakKiB(p.Pid());
    p.Kill();
    return true;
}

bool NsisInstall(const std::wstring& exe, double& ms) {
    RemoveTree(L"C:\\kbench_nsis");
    Process p;
    const LARGE_INTEGER t0 = Now();
    if (!p.Start(exe, L"/S", L"")) return false;
    if (p.WaitExit(120000) == STILL_ACTIVE) return false;
    ms = Ms(t0, Now());
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && wcscmp(argv[1], L"--since-created") == 0) return SinceCreatedTenthsMs();
    if (argc == 4 && wcscmp(argv[1], L"memory") == 0) {
        double ms = 0;
        unsigned long peak = 0;
        const bool ok = SetupInstall(argv[2], ms, &peak);
        ForgetInstallation();
        RemoveTree(InstallFolder());
        if (!ok) {
            fprintf(stderr, "bench: installation from %ls failed\n", argv[2]);
            return 1;
        }
        printf("setup peak working set, installing %ls files: %lu KiB (installation %.0f ms)\n", argv[3], peak, ms);
        return 0;
    }
    if (argc < 4) {
        fprintf(stderr, "usage: bench_setup <setup folder> <nsis installer> <runs>\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring nsis = argv[2];
    const int runs = _wtoi(argv[3]);
    std::vector<double> kWin, kInst, nWin, nInst, procStart;
    std::map<std::string, std::vector<double>> traces;
    unsigned long kPeak = 0, nPeak = 0;
    for (int i = 0; i < runs; ++i) {
        double a = 0, b = 0, c = 0, d = 0, e = 0;
        std::map<std::string, double> trace;
        if (!SetupFirstWindow(folder, a, trace, kPeak) || !SetupInstall(folder, b) || !NsisFirstWindow(nsis, c, nPeak) ||
            !NsisInstall(nsis, d) || !ProcessStartMs(e)) {
            fprintf(stderr, "bench: run %d failed\n", i + 1);
            return 1;
        }
        printf("run %d: setup first window %.0f ms, install %.0f ms; nsis first window %.0f ms, install %.0f ms\n",
               i + 1, a, b, c, d);
        fflush(stdout);
        for (const auto& t : trace) traces[t.first].push_back(t.second);
        procStart.push_back(e);
        kWin.push_back(a);
        kInst.push_back(b);
        nWin.push_back(c);
        nInst.push_back(d);
    }
    ForgetInstallation();
    RemoveTree(InstallFolder());
    printf("median first window: setup %.0f ms, nsis %.0f ms, ratio %.2f\n", Median(kWin), Median(nWin),
           Median(kWin) / Median(nWin));
    // Where the setup program's first window goes, medians over the runs.
    const auto med = [&](const char* key) { return Median(traces[key]); };
    const double start = Median(procStart);
    const double entry = med("mark entry");
    const double painted = med("mark painted");
    const double phases = med("phase archive") + med("phase xml") + med("phase images") + med("phase shadow") +
                          med("phase paint");
    printf("setup first window, from its start-up trace (median ms since the process was created):\n");
    printf("  process start (a program without libraries of its own) %6.1f\n", start);
    printf("  DLL loading and static initialisation               %6.1f\n", entry - start);
    printf("  skin archive                                        %6.1f\n", med("phase archive"));
    printf("  XML layout and its controls                         %6.1f\n", med("phase xml"));
    printf("  images                                              %6.1f\n", med("phase images"));
    printf("  shadow                                              %6.1f\n", med("phase shadow"));
    printf("  first paint                                         %6.1f\n", med("phase paint"));
    printf("  other work in WinMain before the paint              %6.1f\n", painted - entry - phases);
    printf("  = painted                                           %6.1f (window created %.1f, shown %.1f)\n",
           painted, med("mark created"), med("mark shown"));
    // Every named moment in the order reached, with the time since the one before.
    std::vector<std::pair<double, std::string>> marks;
    for (const auto& t : traces)
        if (t.first.compare(0, 5, "mark ") == 0) marks.emplace_back(Median(t.second), t.first.substr(5));
    std::sort(marks.begin(), marks.end());
    printf("  moments (median ms since the process was created, +ms since the moment before):\n");
    double before = start;
    for (const auto& m : marks) {
        printf("    %-20s %6.1f  +%6.1f\n", m.second.c_str(), m.first, m.first - before);
        before = m.first;
    }
    printf("peak working set at the first window: setup %lu KiB, nsis %lu KiB\n", kPeak, nPeak);
    printf("median installation: setup %.0f ms, nsis %.0f ms, ratio %.2f\n", Median(kInst), Median(nInst),
           Median(kInst) / Median(nInst));
    return 0;
}
