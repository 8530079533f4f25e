// Extraction of one package by CZipManager and by minizip's miniunz, in turns,
// in the same Wine prefix and process tree; medians of the runs.
//
// usage: zip_bench.exe <package.zip> <checks-only.zip> <miniunz.exe> <work folder> <runs>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using bench::Median;
using bench::Now;
using bench::RemoveTree;
using bench::TimeExtraction;

// Files and total bytes below a folder.
void Count(const std::wstring& path, long long* files, long long* bytes) {
    WIN32_FIND_DATAW fd;
    ScopedFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (!find) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Count(path + L"\\" + name, files, bytes);
        } else {
            ++*files;
            *bytes += ((long long)fd.nFileSizeHigh << 32) | fd.nFileSizeLow;
        }
    } while (FindNextFileW(find.Get(), &fd));
}

double RunMiniunz(const std::wstring& miniunz, const std::wstring& package, const std::wstring& root, DWORD* code) {
    std::wstring cmd = L"\"" + miniunz + L"\" -x -o \"" + package + L"\" -d \"" + root + L"\"";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = nul;
    si.hStdError = nul;
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi = {};
    double t0 = Now();
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(nul);
        *code = (DWORD)-1;
        return 0;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    double t = Now() - t0;
    GetExitCodeProcess(pi.hProcess, code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(nul);
    return t;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: zip_bench.exe <package.zip> <checks-only.zip> <miniunz.exe> <work folder> <runs>\n");
        return 2;
    }
    std::wstring package = argv[1], checksOnly = argv[2], miniunz = argv[3], work = argv[4];
    int runs = _wtoi(argv[5]);
    CreateDirectoryW(work.c_str(), nullptr);

    std::vector<double> ours, theirs, checks;
    for (int r = 0; r < runs; ++r) {
        std::wstring a = work + L"\\ours", b = work + L"\\miniunz", c = work + L"\\checks";
        RemoveTree(a);
        RemoveTree(b);
        RemoveTree(c);
        CreateDirectoryW(b.c_str(), nullptr);  // miniunz changes into it

        BOOL ok = FALSE;
        // Alternate which tool goes first, so that neither always finds a warm cache.
        double tOurs, tTheirs;
        DWORD code = 0;
        if (r % 2 == 0) {
            tOurs = TimeExtraction(package, a, &ok);
            tTheirs = RunMiniunz(miniunz, package, b, &code);
        } else {
            tTheirs = RunMiniunz(miniunz, package, b, &code);
            tOurs = TimeExtraction(package, a, &ok);
        }
        BOOL refused = TRUE;
        double tChecks = TimeExtraction(checksOnly, c, &refused);
        if (!ok || code != 0 || refused) {
            fprintf(stderr, "run %d failed: ours %d (0x%08lx), miniunz exit %lu, checks-only result %d\n", r, ok,
                    (unsigned long)GetZipLastResult(), (unsigned long)code, refused);
            return 1;
        }
        if (r == 0) {
            long long fa = 0, ba = 0, fb = 0, bb = 0;
            Count(a, &fa, &ba);
            Count(b, &fb, &bb);
            printf("extracted: ours %lld files %lld bytes, miniunz %lld files %lld bytes\n", fa, ba, fb, bb);
            if (fa != fb || ba != bb) {
                fprintf(stderr, "the two extractions differ\n");
                return 1;
            }
        }
        printf("run %d: CZipManager %.3f s, miniunz %.3f s, first pass only %.3f s\n", r + 1, tOurs, tTheirs, tChecks);
        fflush(stdout);
        ours.push_back(tOurs);
        theirs.push_back(tTheirs);
        checks.push_back(tChecks);
    }
    double mo = Median(ours), mt = Median(theirs), mc = Median(checks);
    printf("median CZipManager %.3f s, median miniunz %.3f s, speed ratio (miniunz time / CZipManager time) %.2f\n", mo,
           mt, mt / mo);
    printf("median first pass over all entries (lookups and path checks, nothing written) %.3f s = %.1f%% of the "
           "CZipManager run\n",
           mc, 100.0 * mc / mo);
    RemoveTree(work);
    return 0;
}
