// Where the programs take DLLs from. All three run elevated from folders that
// a standard user may be able to write to (a download folder, an installation
// folder outside "Program Files", a folder in the temporary folder), where
// anybody may have put a DLL named like a system one. Only the suite's own
// libraries (Product::kRuntimeLibs) are meant to come from beside the program;
// every other library comes from the system folder:
//  - run-time loads by bare name search only the system folder where the
//    system offers that (SetDefaultDllDirectories), and the current folder
//    leaves the search;
//  - delay-loaded imports are loaded by their full path: the suite's own
//    libraries from the program's folder, the others from the system folder;
//  - system DLLs that the system's own DLLs load later by bare name are
//    loaded now from the system folder, so that those loads find them
//    already loaded.
// The static imports are resolved by the loader before any code runs, so a
// program imports statically only the system's known DLLs and DuiLib.dll;
// what else it needs is delay-loaded (cmake/KeloDelayLoad.cmake).
//
// Each program installs the guard before any other static initialisation,
// by defining in its Main.cpp:
//     static DllSearchGuardInstaller g_DllSearchGuard __attribute__((init_priority(101)));
#pragma once

#include <windows.h>

// A system DLL by its full path in the system folder; NULL when it cannot be had.
HMODULE LoadSystemDll(const wchar_t* pszDll);
// One of the suite's own libraries by its full path beside the program.
HMODULE LoadRuntimeLib(const wchar_t* pszDll);

// Installs the guard once; later calls do nothing.
void InstallDllSearchGuard();

struct DllSearchGuardInstaller {
    DllSearchGuardInstaller() { InstallDllSearchGuard(); }
};
