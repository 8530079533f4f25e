// Path and string helpers shared by the three programs: the running program's
// folder, wide <-> ANSI conversion, in-place string edits, folder creation with
// all parents, long-path existence test and folder creation, and deletion of a
// folder tree. Stateless; failures are reported through results only.
//
// Note on formatting: in C++ the MinGW headers route the C99 names swprintf()
// and vswprintf() to a C99 implementation where "%s" means a NARROW string.
// Use swprintf_s/_snwprintf (Windows conventions: "%s" is a wide string) or
// FormatW below.
#pragma once

#include <string>

// Fixed capacity of a path buffer, in characters.
constexpr size_t kPathChars = 260;

// Folder of the running program's own file, canonicalised, no trailing backslash.
std::wstring GetModuleDir();

// Text in the system ANSI code page (CP_ACP) and back.
std::string ToNarrow(const std::wstring& text);
std::wstring ToWide(const std::string& text);

// Replaces every occurrence of search; a replacement that contains search is
// not replaced again. An empty search changes nothing.
void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement);

// Backslashes become "/" and a non-empty result ends with exactly one added "/".
void NormalizeToSlash(std::wstring& path);

// Case-sensitive suffix test.
bool EndsWith(const std::wstring& text, const std::wstring& suffix);

// PathIsDirectoryW.
bool IsDirectory(const std::wstring& path);

// _waccess / _wmkdir with the "\\?\" prefix, the only long-path-aware calls:
// the path must be an absolute drive path with backslashes ("X:\..."), "." and
// ".." are not resolved; anything else fails. 0 on success, -1 on failure.
int LongPathExists(const std::wstring& path, int mode = 0);
int LongPathMkdir(const std::wstring& path);

// Creates the folder and every missing parent; false at the first folder that
// cannot be created. bLongPath false creates with the plain _wmkdir (the
// updater's form).
bool CreateDirTree(const std::wstring& path, bool bLongPath = true);
bool CreateDirTree(const std::string& ansiPath, bool bLongPath = true);

// Deletes the folder with everything in it, as far as possible; locked files
// and their folders stay. False when the folder cannot be listed. Once
// hStop, an event, is set, no further entry is deleted.
bool RemoveDirTree(const std::wstring& path, void* hStop = nullptr);

// "%s\\%s" of a folder and a name.
std::wstring PathJoin(const std::wstring& folder, const std::wstring& name);

// Windows-convention wide formatting ("%s" = wide string) into a string.
std::wstring FormatW(const wchar_t* format, ...);
