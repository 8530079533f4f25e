#include "IniSettings.h"

#include <cwchar>
#include <vector>

#include "PathUtils.h"
#include "Product.h"

std::wstring ReadIniString(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                           const wchar_t* def, DWORD capacity)
{
    if (capacity == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(capacity, L'\0');
    GetPrivateProfileStringW(section, key, def != nullptr ? def : L"", buffer.data(), capacity, iniPath.c_str());
    buffer[capacity - 1] = L'\0';
    return buffer.data();
}

bool WriteIniString(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value)
{
    return WritePrivateProfileStringW(section, key, value, iniPath.c_str()) != FALSE;
}

std::wstring ReadInstallIni(const std::wstring& folder, const wchar_t* key)
{
    const wchar_t* def = L"";
    if (wcscmp(key, Product::kKeyAppName) == 0) {
        def = Product::kDefaultAppName;
    } else if (wcscmp(key, Product::kKeyVersionStr) == 0) {
        def = Product::kDefaultVersion;
    }
    // Without a folder the name would point at the drive's root, and the
    // profile functions look for a bare name in the Windows folder.
    if (folder.empty()) {
        return def;
    }
    std::wstring iniPath = PathJoin(folder, Product::kInstallIni);
    std::wstring value = ReadIniString(iniPath, Product::kSecConfig, key, def, kIniValueChars);
    return value.empty() ? std::wstring(def) : value;
}

std::wstring ReadInstallIni(const wchar_t* key)
{
    return ReadInstallIni(GetModuleDir(), key);
}

std::wstring ChannelFromParentName(const std::wstring& parentName)
{
    std::wstring::size_type pos = parentName.find(L'_');
    if (pos == std::wstring::npos) {
        return std::wstring();
    }
    return parentName.substr(pos + 1);
}

std::wstring ResolveChannel(const std::wstring& iniChannel, const std::wstring& parentName)
{
    std::wstring channel = iniChannel;
    if (channel.empty()) {
        channel = ChannelFromParentName(parentName);
    }
    if (channel.empty()) {
        channel = Product::kDefaultChannel;
    }
    return channel;
}
