#include "RegSettings.h"

#include <cwchar>

#include "Product.h"

CRegSettings::CRegSettings(HKEY hRoot, const wchar_t* subKey, bool b64View, bool bCreate)
    : m_b64View(b64View)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, subKey, 0, GetAccess(), &hKey) == ERROR_SUCCESS) {
        m_hKey.Reset(hKey);
        return;
    }
    if (bCreate && RegCreateKeyExW(hRoot, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, GetAccess(), nullptr, &hKey,
                                   nullptr) == ERROR_SUCCESS) {
        m_hKey.Reset(hKey);
    }
}

CRegSettings::~CRegSettings() = default;

REGSAM CRegSettings::GetAccess() const
{
    return m_b64View ? (KEY_ALL_ACCESS | KEY_WOW64_64KEY) : KEY_ALL_ACCESS;
}

bool CRegSettings::WriteString(const wchar_t* name, const wchar_t* text)
{
    if (!m_hKey) {
        return false;
    }
    DWORD cb = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(m_hKey.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb) == ERROR_SUCCESS;
}

bool CRegSettings::ReadString(const wchar_t* name, wchar_t* buffer, DWORD capacity)
{
    if (!m_hKey || buffer == nullptr || capacity == 0) {
        return false;
    }
    DWORD cb = capacity * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(m_hKey.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &cb);
    if (rc != ERROR_SUCCESS) {
        // A value too long for the buffer may leave partial data behind.
        buffer[0] = L'\0';
        return false;
    }
    // A stored string need not carry its terminating zero.
    DWORD cch = cb / sizeof(wchar_t);
    buffer[cch < capacity ? cch : capacity - 1] = L'\0';
    return true;
}

void CRegSettings::ReadString(const wchar_t* name, wchar_t* buffer, DWORD capacity, const wchar_t* def)
{
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    wmemset(buffer, 0, capacity);
    ReadString(name, buffer, capacity);
    if (buffer[0] == L'\0' && def != nullptr) {
        wcsncpy(buffer, def, capacity - 1);
        buffer[capacity - 1] = L'\0';
    }
}

LONG CRegSettings::DeleteKeyTree(HKEY hParent, const wchar_t* subKey)
{
    if (hParent == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    {
        ScopedRegKey key;
        LONG rc = RegOpenKeyExW(hParent, subKey, 0, GetAccess(), key.Receive());
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        wchar_t szChild[256];
        while (RegEnumKeyW(key.Get(), 0, szChild, 256) == ERROR_SUCCESS) {
            rc = DeleteKeyTree(key.Get(), szChild);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
    }
    // Closed first: the key goes once nothing holds it open.
    return RegDeleteKeyW(hParent, subKey);
}

namespace {

struct ProductValueRule {
    const wchar_t* name;
    DWORD capacity;
    const wchar_t* def;
};

const ProductValueRule kProductValues[] = {
    {Product::kValInstallDir, kRegFolderChars, L""},
    {Product::kValAppName, kRegAppNameChars, Product::kDefaultAppName},
    {Product::kValVersionStr, kRegValueChars, Product::kDefaultVersion},
    {Product::kValChannel, kRegValueChars, L""},
    {Product::kValMachineId, kRegValueChars, L""},
};

}  // namespace

std::wstring ReadProductValue(const wchar_t* valueName)
{
    DWORD capacity = kRegValueChars;
    const wchar_t* def = L"";
    for (const ProductValueRule& rule : kProductValues) {
        if (wcscmp(rule.name, valueName) == 0) {
            capacity = rule.capacity;
            def = rule.def;
            break;
        }
    }
    wchar_t buffer[kRegFolderChars];
    CRegSettings reg(HKEY_LOCAL_MACHINE, Product::kRegProductKey, false, true);
    reg.ReadString(valueName, buffer, capacity, def);
    return buffer;
}

bool WriteProductValue(const wchar_t* valueName, const wchar_t* text)
{
    CRegSettings reg(HKEY_LOCAL_MACHINE, Product::kRegProductKey, false, true);
    return reg.WriteString(valueName, text);
}
