// Rules over entry names and extraction targets, as pure functions: what the
// stripping rules make of a stored name, whether a relative path may name a
// plain file or folder below a root, and the key under which two targets
// count as the same file. No file system access.
#pragma once

#include <string>

namespace zipnames {

constexpr size_t kMaxPathChars = 259;  // longest path ever handed to the system

bool IsSep(wchar_t c);

// A leading separator or a drive colon: not a name relative to the root.
// "C:x" is drive-relative, which is no better than absolute.
bool LooksAbsolute(const std::wstring& path);

// "X:\..." or "X:/...": a path that names one place whatever the current folders are.
bool IsFullyAbsolute(const std::wstring& path);

// The stripping rules applied to every stored name, repeated until none
// applies; the result is cut at kMaxPathChars. uncForm is set when at some
// step the name began with two separators (UNC, "\\?\" and "\\.\" forms),
// which the caller refuses even though the rules leave a relative name.
std::wstring ApplyNameRules(std::wstring name, bool* uncForm);

// Reserved device names (with or without extension), which Windows opens as
// devices in any folder.
bool IsDeviceName(const std::wstring& component);

// One path component that may name a plain file or folder below its parent.
bool IsPlainComponent(const std::wstring& component);

// Every component of a relative path (either separator) is plain; a file
// needs a last component that is neither empty nor ".".
bool IsPlainRelativePath(const std::wstring& rel, bool folder);

// Splits at the last separator: the folder part keeps it, empty without one.
void SplitTarget(const std::wstring& target, std::wstring* folderPart, std::wstring* bareName);

// The relative path with backslashes, "." components and empty components
// dropped: the form in which targets are kept and compared.
std::wstring NormalizeRelative(const std::wstring& rel);

// Key under which two normalised targets name the same file on Windows
// (case does not count).
std::wstring TargetKey(const std::wstring& normalized);

}  // namespace zipnames
