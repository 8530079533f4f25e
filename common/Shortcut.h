// Shell link files (.lnk) of the installed reader on the desktop, in the
// quick-launch bar and in a program folder of the all-users start menu (with
// a second link there that starts the uninstaller).
#pragma once

#include <windows.h>

// One shortcut; an empty text or a zero number is not applied to the link.
struct ShortcutInfo {
    wchar_t szName[MAX_PATH];         // link file name without ".lnk"; also the start-menu folder name
    wchar_t szTarget[MAX_PATH];       // program the link starts
    wchar_t szUninstTarget[MAX_PATH]; // program of the start-menu uninstall link
    wchar_t szArguments[MAX_PATH];
    wchar_t szIcon[MAX_PATH];         // applied only when the file exists
    wchar_t szWorkingDir[MAX_PATH];
    wchar_t szDescription[MAX_PATH];
    int nIconIndex;
    int nShowCmd;
    WORD wHotkey;
};

// Locations: CSIDL_DESKTOP (0) "<desktop>\<name>.lnk"; CSIDL_APPDATA (26)
// "<appdata>\Microsoft\Internet Explorer\Quick Launch\<name>.lnk";
// CSIDL_COMMON_STARTMENU (22) "<start menu>\Programs\<name>\<name>.lnk" and
// "...\卸载 <name>.lnk" ("程序" instead of "Programs" when that folder is
// missing). The caller has initialised COM on its thread.
// True when every requested link file was saved; an existing one is replaced.
bool CreateShortcut(const ShortcutInfo& info, int csidl);

// Removes the link of that name (for 22 the whole program folder). False only
// when the location's folder cannot be resolved or does not exist.
bool DeleteShortcut(const wchar_t* name, int csidl);
