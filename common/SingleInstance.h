// Single-instance guard, run first in each entry function. A second copy asks
// the first copy's window (found by its exact title) to come to the front with
// WM_COPYDATA / COPYDATA_ACTIVATE and then ends.
#pragma once

#include <windows.h>

// wParam of the WM_COPYDATA that asks a running copy's window to come to the front.
constexpr WPARAM COPYDATA_ACTIVATE = 2024;

// True when the named mutex already existed (another copy runs); the first
// copy's window with exactly windowTitle, if found, was then sent the request.
// The mutex handle stays open for the life of the process.
bool IsAnotherInstanceRunning(const wchar_t* mutexName, const wchar_t* windowTitle);
