// Starting the product's programs, finding and ending them by executable name,
// and stopping its Windows service.
#pragma once

#include <windows.h>

// Starts a program and returns at once; the caller never waits for it.
// cmdLine must be writable (CreateProcessW may change it). hide starts it
// without a window. Failures go to the debugger output only.
bool LaunchProcess(const wchar_t* appPath, wchar_t* cmdLine, bool hide);

// First running process whose executable file name equals exeName exactly
// (case-sensitive). A second instance of the same program is not seen.
bool FindProcessByName(const wchar_t* exeName, DWORD& processId);

// Ends the first process FindProcessByName finds with exit code 0. Returns
// whether one was found; whether it could be ended is not examined and nothing
// waits for it to go.
bool TerminateProcessByName(const wchar_t* exeName);

// Longest time StopServiceByName waits for a running service to reach the
// stopped state after the stop request. A service that stays stop-pending
// longer is given up on (result false) instead of blocking the worker forever.
constexpr DWORD kServiceStopTimeoutMs = 30000;

// Stops a running service and waits until it reports stopped. False when the
// name is empty, the service cannot be opened, is not running (stopped,
// starting or already stopping), refuses the stop request, or has not stopped
// within maxWaitMs. The wait also ends (false) once hStop, an event, is set.
bool StopServiceByName(const wchar_t* serviceName, DWORD maxWaitMs = kServiceStopTimeoutMs, HANDLE hStop = nullptr);
