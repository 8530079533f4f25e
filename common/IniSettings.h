// INI reads and writes of the suite ("install.ini", "config.ini", "update.ini")
// and the setup program's channel rule.
#pragma once

#include <windows.h>

#include <string>

// Reading capacities in characters.
constexpr DWORD kIniValueChars = 128;
constexpr DWORD kIniMachineIdChars = 256;   // "MachineId"

// GetPrivateProfileStringW into a buffer of `capacity` characters; a missing
// file or key yields def (cut to the buffer).
std::wstring ReadIniString(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                           const wchar_t* def, DWORD capacity = kIniValueChars);
// WritePrivateProfileStringW.
bool WriteIniString(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value);

// "install.ini" in folder, section "CONFIG", with defaults: "appname" ->
// "KeloPDF阅读器", "version_str" -> "1.0.0.0", others empty. An empty value
// counts as missing; so does the file when folder is empty.
std::wstring ReadInstallIni(const std::wstring& folder, const wchar_t* key);
// The same beside the running program.
std::wstring ReadInstallIni(const wchar_t* key);

// Everything after the first "_" of the parent program's name (without folder
// and extension); empty without "_" or when nothing follows.
std::wstring ChannelFromParentName(const std::wstring& parentName);
// Channel rule: install.ini's channel, else the parent name's suffix, else "10".
std::wstring ResolveChannel(const std::wstring& iniChannel, const std::wstring& parentName);
