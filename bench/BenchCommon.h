// What the benchmark drivers share: a clock, the median of runs, clearing a
// work folder and timing CZipManager unpacking a package.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Owners.h"
#include "ZipManager.h"

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static LARGE_INTEGER freq = {};
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Deletes a folder with everything below it, read-only files included.
inline void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    ScopedFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (find) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find.Get(), &fd));
    }
    find.Reset();  // the folder cannot go while the search holds it
    RemoveDirectoryW(path.c_str());
}

// CZipManager unpacking package below root; seconds, *ok its result.
inline double TimeExtraction(const std::wstring& package, const std::wstring& root, BOOL* ok) {
    double t0 = Now();
    CZipManager zip;
    *ok = zip.Open(package.c_str()) && zip.SetExtractRoot(root.c_str()) && zip.ExtractAll();
    return Now() - t0;
}

}  // namespace bench
