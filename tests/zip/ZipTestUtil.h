// Small file-system helpers for the extraction and update tests.
#pragma once

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace ziptest {

inline std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

// Archives written at build time by tests/zip/make_fixtures.py.
inline std::wstring Fixture(const std::wstring& name) { return ExeDir() + L"\\zip_fixtures\\" + name; }

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool IsFolder(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string ReadAll(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string data;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) data.append(buf, n);
    CloseHandle(h);
    return data;
}

inline bool WriteAll(const std::wstring& path, const void* data, size_t size) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    BOOL ok = size == 0 || WriteFile(h, data, (DWORD)size, &n, nullptr);
    CloseHandle(h);
    return ok && n == size;
}

inline bool WriteAll(const std::wstring& path, const std::string& text) {
    return WriteAll(path, text.data(), text.size());
}

// Every file and folder below root, relative, backslashes, folders with a
// trailing backslash; sorted.
inline void ListTreeInto(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>* out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\" + rel + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(rel + name + L"\\");
            ListTreeInto(root, rel + name + L"\\", out);
        } else {
            out->push_back(rel + name);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

inline std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> out;
    ListTreeInto(root, L"", &out);
    std::sort(out.begin(), out.end());
    return out;
}

// Names directly in a folder (one level), sorted.
inline std::vector<std::wstring> ListNames(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") out.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
}

// Deletes a tree, read-only files included.
inline void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
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
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& tag) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        m_path = std::wstring(temp) + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++counter);
        RemoveTree(m_path);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

inline std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace ziptest
