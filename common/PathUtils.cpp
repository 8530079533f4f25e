#include "PathUtils.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <direct.h>
#include <io.h>
#include <vector>

namespace {

const wchar_t kLongPathPrefix[] = L"\\\\?\\";

// The long-path form takes the text literally, so only "X:\..." paths are
// meaningful; anything else (relative paths, ".") fails without a lookup.
bool IsDrivePath(const std::wstring& path)
{
    return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
           path[1] == L':' && path[2] == L'\\';
}

}  // namespace

std::wstring GetModuleDir()
{
    wchar_t szPath[kPathChars] = {0};
    GetModuleFileNameW(nullptr, szPath, kPathChars);
    wchar_t* pSlash = wcsrchr(szPath, L'\\');
    if (pSlash != nullptr) {
        *pSlash = L'\0';
    }
    wchar_t szCanonical[kPathChars] = {0};
    if (PathCanonicalizeW(szCanonical, szPath)) {
        return szCanonical;
    }
    return szPath;
}

std::string ToNarrow(const std::wstring& text)
{
    // The whole string with its terminating zero, as one conversion.
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, nullptr, 0,
                                 nullptr, nullptr);
    if (cb <= 0) {
        return std::string();
    }
    std::vector<char> buffer(cb);
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, buffer.data(), cb, nullptr,
                        nullptr);
    return std::string(buffer.data(), cb - 1);
}

std::wstring ToWide(const std::string& text)
{
    int cch = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, nullptr, 0);
    if (cch <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(cch);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()) + 1, buffer.data(), cch);
    return std::wstring(buffer.data(), cch - 1);
}

void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement)
{
    // An empty search text would match at every position without advancing.
    if (search.empty()) {
        return;
    }
    std::wstring::size_type pos = 0;
    while ((pos = text.find(search, pos)) != std::wstring::npos) {
        text.replace(pos, search.size(), replacement);
        pos += replacement.size();
    }
}

void NormalizeToSlash(std::wstring& path)
{
    if (path.empty()) {
        return;
    }
    for (wchar_t& ch : path) {
        if (ch == L'\\') {
            ch = L'/';
        }
    }
    if (path.back() != L'/') {
        path.push_back(L'/');
    }
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    if (text.size() < suffix.size()) {
        return false;
    }
    return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsDirectory(const std::wstring& path)
{
    return PathIsDirectoryW(path.c_str()) != FALSE;
}

int LongPathExists(const std::wstring& path, int mode)
{
    if (!IsDrivePath(path)) {
        return -1;
    }
    std::wstring longPath = kLongPathPrefix + path;
    return _waccess(longPath.c_str(), mode) == 0 ? 0 : -1;
}

int LongPathMkdir(const std::wstring& path)
{
    if (!IsDrivePath(path)) {
        return -1;
    }
    std::wstring longPath = kLongPathPrefix + path;
    return _wmkdir(longPath.c_str()) == 0 ? 0 : -1;
}

bool CreateDirTree(const std::wstring& path, bool bLongPath)
{
    if (path.empty()) {
        return false;
    }
    std::wstring work = path;
    NormalizeToSlash(work);
    for (std::wstring::size_type pos = work.find(L'/'); pos != std::wstring::npos; pos = work.find(L'/', pos + 1)) {
        std::wstring prefix = work.substr(0, pos);
        if (prefix.empty() || IsDirectory(prefix)) {
            continue;
        }
        ReplaceAll(prefix, L"/", L"\\");
        int rc = bLongPath ? LongPathMkdir(prefix) : (_wmkdir(prefix.c_str()) == 0 ? 0 : -1);
        if (rc != 0) {
            return false;
        }
    }
    return true;
}

bool CreateDirTree(const std::string& ansiPath, bool bLongPath)
{
    return CreateDirTree(ToWide(ansiPath), bLongPath);
}

bool RemoveDirTree(const std::wstring& path, HANDLE hStop)
{
    std::wstring pattern = path + L"\\*.*";
    struct _wfinddata_t data;
    intptr_t hFind = _wfindfirst(pattern.c_str(), &data);
    if (hFind == -1) {
        _wremove(path.c_str());
        return false;
    }
    do {
        if (hStop != nullptr && WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) {
            break;
        }
        std::wstring child = path + L"\\" + data.name;
        if (data.attrib & _A_SUBDIR) {
            if (wcscmp(data.name, L".") == 0 || wcscmp(data.name, L"..") == 0) {
                continue;
            }
            RemoveDirTree(child, hStop);
        } else {
            _wremove(child.c_str());
        }
    } while (_wfindnext(hFind, &data) == 0);
    _findclose(hFind);
    _wrmdir(path.c_str());
    return true;
}

std::wstring PathJoin(const std::wstring& folder, const std::wstring& name)
{
    return folder + L"\\" + name;
}

std::wstring FormatW(const wchar_t* format, ...)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = _vsnwprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size()) {
            return std::wstring(buffer.data(), n);
        }
        if (buffer.size() >= (1u << 20)) {
            return std::wstring();
        }
        buffer.resize(buffer.size() * 2);
    }
}
