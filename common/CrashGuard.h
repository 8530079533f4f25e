// Crash guard: turns an unhandled exception (also a runtime parameter error, a
// pure virtual call or an uncaught C++ exception) into "<program file>.dmp"
// beside the program plus a message box. Only programs that want it install it,
// from static initialisation, by defining in exactly one source file:
//     static CrashGuardInstaller g_CrashGuard;
// The removal is registered to run at exit.
#pragma once

#include <windows.h>

// Top-level exception filter: EXCEPTION_EXECUTE_HANDLER when a dump was written,
// else EXCEPTION_CONTINUE_SEARCH (and no message).
LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionInfo);

// Installs the handlers once; later calls do nothing.
void InstallCrashGuard();
// Puts the previous handlers back.
void RemoveCrashGuard();

struct CrashGuardInstaller {
    CrashGuardInstaller() { InstallCrashGuard(); }
};
