// Single-instance guard, run first in each entry function. A second copy asks
// the first copy's window (found by its exact title) to come to the front with
// WM_COPYDATA / COPYDATA_ACTIVATE, waiting at most kActivateTimeoutMs for a
// window that does not answer, and then ends.
#pragma once

#include <windows.h>

// wParam of the WM_COPYDATA that asks a running copy's window to come to the front.
constexpr WPARAM COPYDATA_ACTIVATE = 2024;
// Longest time the second copy waits for the first copy's window to take the request.
constexpr UINT kActivateTimeoutMs = 3000;

// True when the named mutex already existed (another copy runs); the first
// copy's window with exactly windowTitle, if found, was then sent the request.
// The mutex handle stays open for the life of the process.
bool IsAnotherInstanceRunning(const wchar_t* mutexName, const wchar_t* windowTitle);
