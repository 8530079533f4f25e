// What the platform itself takes from a program's folder: a program that does
// nothing but use the window manager, as every windowed program does. Started
// from a folder of decoys, the decoys it picks up were pulled in by the
// system's own DLLs before any code of the program ran.
#include <windows.h>

int wmain() { return GetSystemMetrics(SM_CXSCREEN) > 0 ? 0 : 1; }
