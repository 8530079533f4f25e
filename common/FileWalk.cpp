#include "FileWalk.h"

#include <cwchar>

#include "Owners.h"
#include "PathUtils.h"

namespace {

EntryAttributesFilter g_pfnAttributesFilter = nullptr;

// Only name surrogates (junctions, mount points, symbolic links) lead
// elsewhere; other reparse points, such as compressed or cloud files, are
// ordinary entries.
DWORD LinkAttributes(DWORD attributes, DWORD tag)
{
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !IsReparseTagNameSurrogate(tag))
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
    return attributes;
}

DWORD Filtered(const std::wstring& path, DWORD attributes)
{
    return g_pfnAttributesFilter != nullptr ? g_pfnAttributesFilter(path, attributes) : attributes;
}

// Characters of the part that names the volume: "X:\", "\\?\X:\",
// "\\server\share\", "\\?\UNC\server\share\"; 0 for any other form.
size_t AfterComponents(const std::wstring& path, size_t pos, int count)
{
    for (int i = 0; i < count; ++i) {
        const size_t sep = path.find(L'\\', pos);
        if (sep == std::wstring::npos)
            return i == count - 1 ? path.size() : 0;
        pos = sep + 1;
    }
    return pos;
}

size_t RootLength(const std::wstring& path)
{
    size_t skip = 0;
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        if (path.compare(4, 4, L"UNC\\") == 0)
            return AfterComponents(path, 8, 2);
        skip = 4;
    } else if (path.compare(0, 2, L"\\\\") == 0) {
        return AfterComponents(path, 2, 2);
    }
    if (path.size() >= skip + 3 && path[skip + 1] == L':' && path[skip + 2] == L'\\')
        return skip + 3;
    return 0;
}

}  // namespace

EntryAttributesFilter SetEntryAttributesFilter(EntryAttributesFilter filter)
{
    const EntryAttributesFilter previous = g_pfnAttributesFilter;
    g_pfnAttributesFilter = filter;
    return previous;
}

DWORD GetEntryAttributes(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // The tag comes only with a search; without one the entry stays a link.
        WIN32_FIND_DATAW data;
        if (ScopedFindHandle(FindFirstFileW(path.c_str(), &data))) {
            attributes = LinkAttributes(data.dwFileAttributes, data.dwReserved0);
        }
    }
    return Filtered(path, attributes);
}

EntryKind EntryKindOf(DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return EntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return EntryKind::Folder;
    return EntryKind::File;
}

EntryKind GetEntryKind(const std::wstring& path)
{
    return EntryKindOf(GetEntryAttributes(path));
}

bool ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries)
{
    WIN32_FIND_DATAW data;
    const ScopedFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return false;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        FolderEntry entry;
        entry.name = data.cFileName;
        entry.attributes =
            Filtered(folder + L"\\" + entry.name, LinkAttributes(data.dwFileAttributes, data.dwReserved0));
        entry.kind = EntryKindOf(entry.attributes);
        entries.push_back(entry);
    } while (FindNextFileW(find.Get(), &data));
    return true;
}

bool RemoveLink(const std::wstring& path, DWORD attributes)
{
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryW(path.c_str()) != FALSE;
    return DeleteFileW(path.c_str()) != FALSE;
}

bool PathCrossesLink(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    if (full.empty())
        return true;
    const size_t root = RootLength(full);
    if (root == 0)
        return true;
    for (size_t pos = root; pos < full.size();) {
        size_t end = full.find(L'\\', pos);
        if (end == std::wstring::npos)
            end = full.size();
        if (end > pos && GetEntryKind(LongPathForm(full.substr(0, end))) == EntryKind::Link)
            return true;
        pos = end + 1;
    }
    return false;
}
