// A program that starts the setup program as its child and waits for it, so
// that the setup program's parent has the file name this program was built
// under ("KeloPdfReaderSetup_8.exe" carries the channel 8; "KeloPdfLauncher.exe"
// none). usage: <launcher> <setup program> ; exits with the child's code.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 3;
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 4;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
