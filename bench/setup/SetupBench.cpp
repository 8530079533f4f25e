// bench_setup <delivered setup folder> <NSIS installer> <runs>
//
// For each run, in turn for both installers, in the same Wine prefix:
//  - first window: from the process's start until its window is shown and
//    painted (the setup program's install button drawn; the NSIS dialog
//    visible), then the program is closed;
//  - installation: the setup program through its window ("立即安装" until
//    the finish page; nothing of the product runs, so the engine makes no
//    pause), the NSIS installer silently (/S) until it ends.
// Prints each run and the medians and ratios (setup / NSIS).
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

bool SetupFirstWindow(const std::wstring& folder, double& ms) {
    ForgetInstallation();
    SetupRun run(folder);
    const LARGE_INTEGER t0 = Now();
    if (!run.Start()) return false;
    if (!WaitFor([&] { return run.TealShareOf(L"btnInstall") > 0.5; }, 30000, 5)) return false;
    ms = Ms(t0, Now());
    run.Click(L"closeBtn");
    return run.WaitExit(20000);
}

bool SetupInstall(const std::wstring& folder, double& ms) {
    ForgetInstallation();
    RemoveTree(InstallFolder());
    SetupRun run(folder);
    if (!run.Start() || !run.WaitPage(Page::Folder, 30000)) return false;
    const LARGE_INTEGER t0 = Now();
    run.Click(L"btnInstall");
    if (!WaitFor([&] { return run.CurrentPage() == Page::Finish; }, 120000, 5)) return false;
    ms = Ms(t0, Now());
    run.Click(L"closeBtn");
    return run.WaitExit(20000);
}

HWND NsisWindow(DWORD pid) {
    HWND h = FindTopWindow(L"#32770", nullptr, pid);
    return h && IsWindowVisible(h) ? h : nullptr;
}

bool NsisFirstWindow(const std::wstring& exe, double& ms) {
    Process p;
    const LARGE_INTEGER t0 = Now();
    if (!p.Start(exe, L"", L"")) return false;
    HWND h = nullptr;
    if (!WaitFor([&] { return (h = NsisWindow(p.Pid())) != nullptr; }, 30000, 5)) return false;
    // Until it has painted: the window answers once its first messages are done.
    DWORD_PTR r = 0;
    SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    ms = Ms(t0, Now());
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
    if (argc < 4) {
        fprintf(stderr, "usage: bench_setup <setup folder> <nsis installer> <runs>\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring nsis = argv[2];
    const int runs = _wtoi(argv[3]);
    std::vector<double> kWin, kInst, nWin, nInst;
    for (int i = 0; i < runs; ++i) {
        double a = 0, b = 0, c = 0, d = 0;
        if (!SetupFirstWindow(folder, a) || !SetupInstall(folder, b) || !NsisFirstWindow(nsis, c) ||
            !NsisInstall(nsis, d)) {
            fprintf(stderr, "bench: run %d failed\n", i + 1);
            return 1;
        }
        printf("run %d: setup first window %.0f ms, install %.0f ms; nsis first window %.0f ms, install %.0f ms\n",
               i + 1, a, b, c, d);
        fflush(stdout);
        kWin.push_back(a);
        kInst.push_back(b);
        nWin.push_back(c);
        nInst.push_back(d);
    }
    ForgetInstallation();
    RemoveTree(InstallFolder());
    printf("median first window: setup %.0f ms, nsis %.0f ms, ratio %.2f\n", Median(kWin), Median(nWin),
           Median(kWin) / Median(nWin));
    printf("median installation: setup %.0f ms, nsis %.0f ms, ratio %.2f\n", Median(kInst), Median(nInst),
           Median(kInst) / Median(nInst));
    return 0;
}
