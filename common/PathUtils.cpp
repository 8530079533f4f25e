#include "PathUtils.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <direct.h>
#include <io.h>
#include <vector>

#include "FileWalk.h"

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

std::wstring GetModulePath(size_t capacity)
{
    std::wstring path(capacity, L'\0');
    // A path that does not fit comes back cut, and on older systems without
    // its terminating zero.
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(capacity));
    if (n == 0 || n >= capacity) {
        return std::wstring();
    }
    path.resize(n);
    return path;
}

std::wstring GetModuleDir()
{
    std::wstring path = GetModulePath();
    const std::wstring::size_type slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        return std::wstring();
    }
    path.resize(slash);
    wchar_t szCanonical[kPathChars] = {0};
    if (PathCanonicalizeW(szCanonical, path.c_str())) {
        return szCanonical;
    }
    return path;
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

std::wstring LongPathForm(const std::wstring& path)
{
    return IsDrivePath(path) ? kLongPathPrefix + path : path;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD cch = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (cch == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(cch);
    const DWORD n = GetFullPathNameW(path.c_str(), cch, buffer.data(), nullptr);
    if (n == 0 || n >= cch) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), n);
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
        if (prefix.empty()) {
            continue;
        }
        ReplaceAll(prefix, L"/", L"\\");
        // PathIsDirectoryW finds nothing beyond 260 characters; the long form does.
        const DWORD attributes = GetEntryAttributes(LongPathForm(prefix));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            continue;
        }
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
    // A link is removed as a link, never followed: not even as the tree's root.
    const DWORD rootAttributes = GetEntryAttributes(path);
    if (EntryKindOf(rootAttributes) == EntryKind::Link) {
        RemoveLink(path, rootAttributes);
        return true;
    }
    std::vector<FolderEntry> entries;
    if (!ListFolder(path, entries)) {
        _wremove(path.c_str());
        return false;
    }
    for (const FolderEntry& entry : entries) {
        if (hStop != nullptr && WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) break;
        const std::wstring child = path + L"\\" + entry.name;
        switch (entry.kind) {
        case EntryKind::Link:
            RemoveLink(child, entry.attributes);
            break;
        case EntryKind::Folder:
            RemoveDirTree(child, hStop);
            break;
        default:
            _wremove(child.c_str());
            break;
        }
    }
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
