// Deferred self-deletion: a running program cannot delete its own file or
// folder, so just before it closes it starts a hidden batch script that keeps
// deleting the program file until the program has exited, then removes the
// program's folder and finally the script itself.
//
// The program is elevated and the script runs with its rights, so the script
// never lies where another process of the user could put or swap a file:
// it is written into a folder that this call creates itself under the
// temporary folder, with an unpredictable name (a name that already exists is
// never reused) and, for an administrator, with a protected access list that
// lets only SYSTEM and Administrators add, replace or delete anything in it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Writes the script for the running program and starts it hidden; the
// process's current folder becomes the temporary folder. Nothing is
// scheduled when the script cannot be written.
void ScheduleSelfDelete();

// The script text in the ANSI code page: five lines separated by CR LF, the
// fourth ending in a blank, the fifth without a line break:
//   :Repeat / del "<program>" / if exist "<program>" goto Repeat /
//   rd /q /s "<folder>" / del "<script>"
std::string FormatSelfDeleteScript(const std::wstring& programPath, const std::wstring& programDir,
                                   const std::wstring& scriptPath);

// Security of the private folder when the program runs as an administrator:
// owned by Administrators, with a protected access list, inherited by the
// script, that gives full control to SYSTEM and Administrators only. OWNER
// RIGHTS (OW) also takes away an owner's implicit right to rewrite the list,
// should the folder end up owned by the user after all.
constexpr wchar_t kSelfDeleteFolderSddl[] =
    L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)";

// Makes the private folder (CreateDirectoryW). Tests put a function of their
// own here to see the access list the folder is made with: Wine keeps none
// on files. Returns the previous one.
typedef BOOL(WINAPI* SelfDeleteFolderMaker)(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
SelfDeleteFolderMaker SetSelfDeleteFolderMaker(SelfDeleteFolderMaker maker);

// Creates a new private folder in tempDir (no trailing backslash needed) and
// writes the script "_uninstall_acc.bat" into it as a new file. nameSource
// gives the folder names to try (for tests); by default
// Product::kSelfDeleteFolderPrefix + a random GUID. A name that already exists is
// skipped, never opened. programDir must be the folder that holds programPath
// (compared in full form, case ignored) and not a drive's root; otherwise
// nothing is written. Returns the script's full path, or empty on failure.
std::wstring WriteSelfDeleteScript(const std::wstring& tempDir, const std::wstring& programPath,
                                   const std::wstring& programDir,
                                   const std::function<std::wstring()>& nameSource = nullptr);
