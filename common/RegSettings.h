// Registry access of the suite. CRegSettings owns one open key (KEY_ALL_ACCESS,
// 32-bit view unless asked otherwise), opened or created by the constructor;
// REG_SZ strings only. Also the product key's reads with their defaults.
#pragma once

#include <windows.h>

#include <string>

#include "Owners.h"

class CRegSettings {
public:
    // Opens root\subKey, creating it when bCreate is set and it is missing.
    CRegSettings(HKEY hRoot, const wchar_t* subKey, bool b64View = false, bool bCreate = true);
    virtual ~CRegSettings();
    CRegSettings(const CRegSettings&) = delete;
    CRegSettings& operator=(const CRegSettings&) = delete;

    bool IsOpen() const { return m_hKey.IsValid(); }
    HKEY GetKey() const { return m_hKey.Get(); }

    // REG_SZ with a byte length of (characters + 1) * 2; false without an open key.
    bool WriteString(const wchar_t* name, const wchar_t* text);
    // Reads into the caller's zeroed buffer; a missing (or too long) value leaves
    // it empty. The text is always terminated. True when a value was read.
    bool ReadString(const wchar_t* name, wchar_t* buffer, DWORD capacity);
    // Zeroes the buffer, reads, and copies def when the text is empty.
    void ReadString(const wchar_t* name, wchar_t* buffer, DWORD capacity, const wchar_t* def);

    // Deletes parent\subKey with everything below it; a Windows error code, 0 on success.
    LONG DeleteKeyTree(HKEY hParent, const wchar_t* subKey);
    // The same below this object's key.
    LONG DeleteKeyTree(const wchar_t* subKey) { return DeleteKeyTree(m_hKey.Get(), subKey); }

    REGSAM GetAccess() const;

private:
    ScopedRegKey m_hKey;
    bool m_b64View;
};

// Reading capacities (characters) of the product key's values.
constexpr DWORD kRegFolderChars = 260;    // "installDir"
constexpr DWORD kRegAppNameChars = 128;   // "appname"
constexpr DWORD kRegValueChars = 256;     // "version_str", "channel", "MachineId"

// A product key value ("SOFTWARE\\KeloPdfReader", HKLM, 32-bit view, created
// when missing) read with its capacity and default: "appname" -> "KeloPDF阅读器",
// "version_str" -> "1.0.0.0", others -> empty.
std::wstring ReadProductValue(const wchar_t* valueName);
bool WriteProductValue(const wchar_t* valueName, const wchar_t* text);
