#include "CrashGuard.h"

#include <dbghelp.h>

#include <cstdlib>
#include <cwchar>
#include <exception>
#include <stdexcept>
#include <string>

#include "Owners.h"
#include "Product.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef void(__cdecl* InvalidParameterHandler)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                               uintptr_t);
typedef void(__cdecl* PureCallHandler)(void);
typedef InvalidParameterHandler(__cdecl* SetInvalidParameterHandlerFn)(InvalidParameterHandler);
typedef PureCallHandler(__cdecl* SetPureCallHandlerFn)(PureCallHandler);
typedef BOOL(WINAPI* MiniDumpWriteDumpFn)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

const wchar_t kCaption[] = L"提示";
const wchar_t kDumpWritten[] = L"本程序遇到未处理的异常，MiniDump文件已经生成在程序的运行目录。";
const wchar_t kDumpFailed[] = L"本程序遇到未处理的异常，生成MiniDump文件失败";
// Exception code recorded for a std::terminate (pure virtual call, uncaught C++ exception).
const DWORD kTerminateCode = 0xE0000001;

struct CrashGuardState {
    bool bInstalled = false;
    SetInvalidParameterHandlerFn pfnSetInvalidParameter = nullptr;
    SetPureCallHandlerFn pfnSetPureCall = nullptr;
    InvalidParameterHandler prevInvalidParameter = nullptr;
    PureCallHandler prevPureCall = nullptr;
    std::terminate_handler prevTerminate = nullptr;
    LPTOP_LEVEL_EXCEPTION_FILTER prevFilter = nullptr;
};

CrashGuardState g_crashGuard;

[[noreturn]] void ThrowInvalidArgument()
{
    throw std::invalid_argument("");
}

void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t)
{
    ThrowInvalidArgument();
}

void __cdecl OnPureCall()
{
    ThrowInvalidArgument();
}

// GCC's own runtime ends a pure virtual call, and (in the i686 build) a C++
// exception nothing catches, in std::terminate rather than in the system's
// exception dispatch. Hand these to the filter like any unhandled exception.
[[noreturn]] void OnTerminate()
{
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kTerminateCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#ifdef _WIN64
    record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
#else
    record.ExceptionAddress = reinterpret_cast<PVOID>(context.Eip);
#endif
    EXCEPTION_POINTERS pointers = {&record, &context};
    if (CrashDumpFilter(&pointers) == EXCEPTION_EXECUTE_HANDLER) {
        TerminateProcess(GetCurrentProcess(), kTerminateCode);
    }
    if (g_crashGuard.prevTerminate != nullptr) {
        g_crashGuard.prevTerminate();
    }
    abort();
}

// The debugging help library from the system folder only, never from the
// search path (a planted dbghelp.dll beside the program must not load).
HMODULE LoadSystemDbgHelp()
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (hKernel != nullptr && GetProcAddress(hKernel, "AddDllDirectory") != nullptr) {
        HMODULE h = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (h != nullptr) {
            return h;
        }
    }
    wchar_t szDir[MAX_PATH] = {0};
    UINT cch = GetSystemDirectoryW(szDir, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) {
        return nullptr;
    }
    std::wstring path = std::wstring(szDir) + L"\\dbghelp.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool WriteMiniDump(HANDLE hFile, EXCEPTION_POINTERS* pExceptionInfo)
{
    HMODULE hDbgHelp = LoadSystemDbgHelp();
    if (hDbgHelp == nullptr) {
        return false;
    }
    MiniDumpWriteDumpFn pfnWrite =
        reinterpret_cast<MiniDumpWriteDumpFn>(reinterpret_cast<void*>(GetProcAddress(hDbgHelp, "MiniDumpWriteDump")));
    if (pfnWrite == nullptr) {
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION info = {};
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = pExceptionInfo;
    info.ClientPointers = TRUE;
    return pfnWrite(GetCurrentProcess(), GetCurrentProcessId(), hFile, MiniDumpNormal,
                    pExceptionInfo != nullptr ? &info : nullptr, nullptr, nullptr) != FALSE;
}

template <typename Fn>
Fn CrtProc(const char* name)
{
    HMODULE hCrt = GetModuleHandleW(L"msvcrt.dll");
    if (hCrt == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(hCrt, name)));
}

}  // namespace

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionInfo)
{
    // Room for a full-length program path plus the suffix.
    wchar_t szPath[MAX_PATH + 8] = {0};
    // A path cut short would put the dump beside another file; no heap here.
    const DWORD n = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    wcscat(szPath, Product::kDumpSuffix);

    const AutoCloseHandle file(
        CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    bool bWritten = WriteMiniDump(file.Get(), pExceptionInfo);
    MessageBoxW(nullptr, bWritten ? kDumpWritten : kDumpFailed, kCaption, MB_OK);
    return bWritten ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

void InstallCrashGuard()
{
    if (g_crashGuard.bInstalled) {
        return;
    }
    g_crashGuard.bInstalled = true;
    // Looked up at run time: older system runtimes lack these two.
    g_crashGuard.pfnSetInvalidParameter = CrtProc<SetInvalidParameterHandlerFn>("_set_invalid_parameter_handler");
    g_crashGuard.pfnSetPureCall = CrtProc<SetPureCallHandlerFn>("_set_purecall_handler");
    if (g_crashGuard.pfnSetInvalidParameter != nullptr) {
        g_crashGuard.prevInvalidParameter = g_crashGuard.pfnSetInvalidParameter(&OnInvalidParameter);
    }
    if (g_crashGuard.pfnSetPureCall != nullptr) {
        g_crashGuard.prevPureCall = g_crashGuard.pfnSetPureCall(&OnPureCall);
    }
    g_crashGuard.prevTerminate = std::set_terminate(&OnTerminate);
    g_crashGuard.prevFilter = SetUnhandledExceptionFilter(&CrashDumpFilter);
    atexit(&RemoveCrashGuard);
}

void RemoveCrashGuard()
{
    if (!g_crashGuard.bInstalled) {
        return;
    }
    if (g_crashGuard.pfnSetInvalidParameter != nullptr) {
        g_crashGuard.pfnSetInvalidParameter(g_crashGuard.prevInvalidParameter);
    }
    if (g_crashGuard.pfnSetPureCall != nullptr) {
        g_crashGuard.pfnSetPureCall(g_crashGuard.prevPureCall);
    }
    std::set_terminate(g_crashGuard.prevTerminate);
    if (g_crashGuard.prevFilter != nullptr) {
        SetUnhandledExceptionFilter(g_crashGuard.prevFilter);
        g_crashGuard.prevFilter = nullptr;
    }
    g_crashGuard.bInstalled = false;
}
