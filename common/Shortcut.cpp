#include "Shortcut.h"

#include <io.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "Owners.h"
#include "PathUtils.h"

namespace {

// Every link path must fit the shell's MAX_PATH buffers.
bool FitsPath(const std::wstring& path) { return !path.empty() && path.size() < MAX_PATH; }

// A link name is one file name: no folder separators and not "." or "..", so
// that neither operation can reach outside its location (deleting the start-menu
// program folder of such a name would remove foreign folders).
bool IsPlainName(const wchar_t* name) {
    if (!name || !*name) return false;
    const std::wstring text(name);
    if (text == L"." || text == L"..") return false;
    return text.find_first_of(L"\\/") == std::wstring::npos;
}

// The folder of a shell location, or false when it cannot be resolved or does not exist.
bool ResolveLocation(int csidl, std::wstring& folder) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) || !pidl) return false;
    wchar_t path[MAX_PATH] = L"";
    const BOOL ok = SHGetPathFromIDListW(pidl, path);
    CoTaskMemFree(pidl);
    if (!ok || _waccess(path, 0) != 0) return false;
    folder = path;
    return true;
}

// "<start menu>\Programs\<name>", or "<start menu>\程序\<name>" where the
// localised folder is the only one.
std::wstring StartMenuProgramFolder(const std::wstring& startMenu, const wchar_t* name) {
    const std::wstring programs = FormatW(L"%s\\Programs\\", startMenu.c_str());
    if (_waccess(programs.c_str(), 0) == 0) return FormatW(L"%s\\Programs\\%s", startMenu.c_str(), name);
    return FormatW(L"%s\\程序\\%s", startMenu.c_str(), name);
}

}  // namespace

bool CreateShortcut(const ShortcutInfo& info, int csidl) {
    std::wstring folder;
    if (!ResolveLocation(csidl, folder)) return false;
    if (!IsPlainName(info.szName)) return false;

    std::wstring linkPath;
    std::wstring uninstLinkPath;
    switch (csidl) {
        case CSIDL_DESKTOP:
            linkPath = FormatW(L"%s\\%s.lnk", folder.c_str(), info.szName);
            break;
        case CSIDL_APPDATA:
            linkPath = FormatW(L"%s\\Microsoft\\Internet Explorer\\Quick Launch\\%s.lnk", folder.c_str(), info.szName);
            break;
        case CSIDL_COMMON_STARTMENU: {
            const std::wstring programFolder = StartMenuProgramFolder(folder, info.szName);
            if (FitsPath(programFolder) && _waccess(programFolder.c_str(), 0) != 0) _wmkdir(programFolder.c_str());
            linkPath = FormatW(L"%s\\%s.lnk", programFolder.c_str(), info.szName);
            uninstLinkPath = FormatW(L"%s\\卸载 %s.lnk", programFolder.c_str(), info.szName);
            break;
        }
        default:
            break;
    }

    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid())))
        return false;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid()))) return false;

    if (info.szTarget[0]) link->SetPath(info.szTarget);
    if (info.szArguments[0]) link->SetArguments(info.szArguments);
    HRESULT hr = S_OK;
    if (info.szIcon[0] && _waccess(info.szIcon, 0) == 0) hr = link->SetIconLocation(info.szIcon, info.nIconIndex);
    if (SUCCEEDED(hr) && info.szWorkingDir[0]) hr = link->SetWorkingDirectory(info.szWorkingDir);
    if (SUCCEEDED(hr) && info.szDescription[0]) hr = link->SetDescription(info.szDescription);
    if (SUCCEEDED(hr) && info.wHotkey) hr = link->SetHotkey(info.wHotkey);
    if (SUCCEEDED(hr) && info.nShowCmd) hr = link->SetShowCmd(info.nShowCmd);
    if (FAILED(hr)) return false;

    if (!FitsPath(linkPath)) return false;
    hr = file->Save(linkPath.c_str(), TRUE);

    // The uninstall link is the same link with the uninstaller as its target.
    if (csidl == CSIDL_COMMON_STARTMENU && info.szUninstTarget[0]) {
        if (!FitsPath(uninstLinkPath)) return false;
        const HRESULT hrFirst = hr;
        hr = link->SetPath(info.szUninstTarget);
        if (SUCCEEDED(hr)) hr = file->Save(uninstLinkPath.c_str(), TRUE);
        if (FAILED(hrFirst)) return false;
    }
    return SUCCEEDED(hr);
}

bool DeleteShortcut(const wchar_t* name, int csidl) {
    std::wstring folder;
    if (!ResolveLocation(csidl, folder)) return false;
    if (!IsPlainName(name)) return true;

    switch (csidl) {
        case CSIDL_COMMON_STARTMENU: {
            const std::wstring programFolder = StartMenuProgramFolder(folder, name);
            if (_waccess(programFolder.c_str(), 0) == 0) RemoveDirTree(programFolder);
            break;
        }
        case CSIDL_APPDATA: {
            const std::wstring link =
                FormatW(L"%s\\Microsoft\\Internet Explorer\\Quick Launch\\%s.lnk", folder.c_str(), name);
            if (_waccess(link.c_str(), 0) == 0) DeleteFileW(link.c_str());
            break;
        }
        case CSIDL_DESKTOP: {
            const std::wstring link = FormatW(L"%s\\%s.lnk", folder.c_str(), name);
            if (_waccess(link.c_str(), 0) == 0) DeleteFileW(link.c_str());
            break;
        }
        default:
            break;
    }
    return true;
}
