// The file-system walks of the elevated programs, for everything that deletes
// or writes below a folder (tree removal, the install copy, the update's
// extraction, its staging and switch). A standard user can often write inside
// those folders, so a link there (junction, symbolic link, mount point) must
// never lead a walk to the link's target: a link is always a leaf. Removing a
// tree removes a link as a link; a write whose path crosses a link is refused.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class EntryKind {
    Missing,  // nothing there, or it cannot be looked up
    File,
    Folder,
    Link,     // a reparse point that names another place; its target is never touched
};

struct FolderEntry {
    std::wstring name;   // bare name, never "." or ".."
    DWORD attributes;    // FILE_ATTRIBUTE_*, as the walk sees them
    EntryKind kind;
};

// Every attribute read of the walks passes through this filter: path is the
// path as the system was asked, attributes its answer (INVALID_FILE_ATTRIBUTES
// when there was none), FILE_ATTRIBUTE_REPARSE_POINT set only for links. The
// walks act on what it returns. The system's answer stands without a filter;
// tests install one to mark entries as links, which Wine cannot create.
// Not synchronised: set it while no walk runs. Returns the previous filter.
using EntryAttributesFilter = DWORD (*)(const std::wstring& path, DWORD attributes);
EntryAttributesFilter SetEntryAttributesFilter(EntryAttributesFilter filter);

// Attributes of the entry at path itself (a link is not followed), through the filter.
DWORD GetEntryAttributes(const std::wstring& path);
EntryKind EntryKindOf(DWORD attributes);
EntryKind GetEntryKind(const std::wstring& path);

// The entries of a folder, through the filter; false when it cannot be listed.
bool ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries);

// Removes the link itself (a folder link with RemoveDirectoryW, a file link
// with DeleteFileW), never what it points to.
bool RemoveLink(const std::wstring& path, DWORD attributes);

// True when the entry at path or any folder above it is a link: a write there
// would land wherever the link points. Parts that do not exist yet are no links.
// The path is made absolute first; one that cannot be is treated as crossing.
bool PathCrossesLink(const std::wstring& path);
