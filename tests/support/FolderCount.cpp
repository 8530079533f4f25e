#include "FolderCount.h"

#include <windows.h>

#include "Owners.h"

namespace {

bool IsSelfOrParent(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

}  // namespace

size_t CountEntries(const std::wstring& dir) {
    size_t n = 0;
    WIN32_FIND_DATAW fd;
    ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) return 0;
    do {
        if (!IsSelfOrParent(fd.cFileName)) ++n;
    } while (FindNextFileW(find.Get(), &fd));
    return n;
}

size_t CountFiles(const std::wstring& dir) {
    size_t n = 0;
    WIN32_FIND_DATAW fd;
    ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) return 0;
    do {
        if (IsSelfOrParent(fd.cFileName)) continue;
        n += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CountFiles(dir + L"\\" + fd.cFileName) : 1;
    } while (FindNextFileW(find.Get(), &fd));
    return n;
}
