#include "ZipNames.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace zipnames {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool LooksAbsolute(const std::wstring& path) {
    return (!path.empty() && IsSep(path[0])) || (path.size() >= 2 && path[1] == L':');
}

bool IsFullyAbsolute(const std::wstring& path) {
    return path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && IsSep(path[2]);
}

std::wstring ApplyNameRules(std::wstring name, bool* uncForm) {
    static const wchar_t* const kUpLevel[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        if (name.size() >= 2 && IsSep(name[0]) && IsSep(name[1])) *uncForm = true;
        if (name.size() >= 2 && name[1] == L':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && name[0] == L'\\') {
            name.erase(0, 1);
            continue;
        }
        if (!name.empty() && name[0] == L'/') {
            name.erase(0, 1);
            continue;
        }
        bool applied = false;
        for (const wchar_t* up : kUpLevel) {
            size_t pos = name.find(up);
            if (pos != std::wstring::npos) {
                name.erase(0, pos + 4);
                applied = true;
                break;
            }
        }
        if (!applied) break;
    }
    if (name.size() > kMaxPathChars) name.resize(kMaxPathChars);
    return name;
}

namespace {

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IsDeviceName(const std::wstring& component) {
    static const wchar_t* const kDevices[] = {
        L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$",
        L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9",
        L"COM\u00B9", L"COM\u00B2", L"COM\u00B3",
        L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9",
        L"LPT\u00B9", L"LPT\u00B2", L"LPT\u00B3"};
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (const wchar_t* device : kDevices)
        if (EqualNoCase(base, device)) return true;
    return false;
}

bool IsPlainComponent(const std::wstring& c) {
    if (c.empty()) return false;
    if (c == L".") return true;
    if (c.find_first_not_of(L'.') == std::wstring::npos) return false;  // "..", "..."
    if (c.back() == L'.' || c.back() == L' ') return false;  // Windows drops these: aliases
    for (wchar_t ch : c) {
        if (ch < 0x20 || wcschr(L":*?\"<>|", ch)) return false;  // streams, wildcards, devices
    }
    return !IsDeviceName(c);
}

bool IsPlainRelativePath(const std::wstring& rel, bool folder) {
    if (rel.empty() || LooksAbsolute(rel)) return false;
    size_t start = 0;
    std::wstring last;
    for (;;) {
        size_t end = rel.find_first_of(L"\\/", start);
        std::wstring c = rel.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!c.empty() && !IsPlainComponent(c)) return false;
        last = c;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (!folder && (last.empty() || last == L".")) return false;
    return true;
}

void SplitTarget(const std::wstring& target, std::wstring* folderPart, std::wstring* bareName) {
    size_t sep = target.find_last_of(L"\\/");
    *folderPart = sep == std::wstring::npos ? std::wstring() : target.substr(0, sep + 1);
    *bareName = sep == std::wstring::npos ? target : target.substr(sep + 1);
}

std::wstring NormalizeRelative(const std::wstring& rel) {
    std::wstring out;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = rel.size();
        std::wstring c = rel.substr(start, end - start);
        if (!c.empty() && c != L".") {
            if (!out.empty()) out += L'\\';
            out += c;
        }
        start = end + 1;
    }
    return out;
}

std::wstring TargetKey(const std::wstring& normalized) {
    std::wstring key = normalized;
    if (!key.empty()) CharUpperBuffW(&key[0], (DWORD)key.size());
    return key;
}

}  // namespace zipnames
