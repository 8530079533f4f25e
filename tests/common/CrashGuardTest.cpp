// Runs in a private prefix: it sets Wine's crash-dialog switch, and the
// crashing helpers must not meet other tests' windows captioned "提示".
#include <gtest/gtest.h>

#include <windows.h>
#include <dbghelp.h>

#include "CommonTestUtil.h"
#include "PathUtils.h"

namespace {

const wchar_t kCaption[] = L"提示";
const wchar_t kWrittenText[] = L"本程序遇到未处理的异常，MiniDump文件已经生成在程序的运行目录。";

// Wine's default crash handling would otherwise put up its own dialog and wait.
class NoWineCrashDialog : public ::testing::Environment {
public:
    void SetUp() override
    {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        DWORD zero = 0;
        RegSetValueExW(h, L"ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
        RegCloseKey(h);
    }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new NoWineCrashDialog);

struct FindBox {
    DWORD pid;
    HWND hWnd;
};

BOOL CALLBACK FindBoxProc(HWND hWnd, LPARAM lParam)
{
    FindBox* f = reinterpret_cast<FindBox*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    wchar_t title[64] = {0};
    GetWindowTextW(hWnd, title, 64);
    if (pid == f->pid && wcscmp(title, kCaption) == 0) {
        f->hWnd = hWnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK LongestStaticProc(HWND hWnd, LPARAM lParam)
{
    std::wstring* best = reinterpret_cast<std::wstring*>(lParam);
    wchar_t cls[32] = {0};
    GetClassNameW(hWnd, cls, 32);
    wchar_t text[512] = {0};
    GetWindowTextW(hWnd, text, 512);
    if (_wcsicmp(cls, L"Static") == 0 && wcslen(text) > best->size()) {
        *best = text;
    }
    return TRUE;
}

struct CrashRun {
    bool finished = false;
    DWORD exitCode = 0;
    DWORD mainThread = 0;
    int boxes = 0;
    std::wstring boxText;
};

// Runs the program until it ends, closing (and recording) every box it shows.
CrashRun RunCrash(const std::wstring& exe, const wchar_t* mode)
{
    CrashRun run;
    ct::Child child;
    if (!child.Start(exe, ct::Quote(exe) + L" " + mode)) {
        ADD_FAILURE() << "cannot start " << ToNarrow(exe);
        return run;
    }
    HWND lastBox = nullptr;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 120000) {
        if (WaitForSingleObject(child.Process(), 100) == WAIT_OBJECT_0) {
            run.finished = true;
            break;
        }
        FindBox f = {child.Pid(), nullptr};
        EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
        if (f.hWnd != nullptr && f.hWnd != lastBox) {
            lastBox = f.hWnd;
            ++run.boxes;
            Sleep(200);  // let the box finish building its controls
            EnumChildWindows(f.hWnd, LongestStaticProc, reinterpret_cast<LPARAM>(&run.boxText));
            PostMessageW(f.hWnd, WM_COMMAND, IDOK, 0);
        }
    }
    run.exitCode = child.ExitCode();
    return run;
}

// Checks the minidump: signature, and an exception stream of the crashing thread.
void ExpectMinidump(const std::wstring& path, DWORD exceptionCode)
{
    std::string bytes = ct::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), sizeof(MINIDUMP_HEADER)) << ToNarrow(path);
    EXPECT_EQ(bytes.substr(0, 4), "MDMP");
    const MINIDUMP_HEADER* header = reinterpret_cast<const MINIDUMP_HEADER*>(bytes.data());
    ASSERT_LE(header->StreamDirectoryRva + header->NumberOfStreams * sizeof(MINIDUMP_DIRECTORY), bytes.size());
    const MINIDUMP_DIRECTORY* dir =
        reinterpret_cast<const MINIDUMP_DIRECTORY*>(bytes.data() + header->StreamDirectoryRva);
    const MINIDUMP_EXCEPTION_STREAM* exc = nullptr;
    for (ULONG32 i = 0; i < header->NumberOfStreams; ++i) {
        if (dir[i].StreamType == ExceptionStream &&
            dir[i].Location.Rva + sizeof(MINIDUMP_EXCEPTION_STREAM) <= bytes.size()) {
            exc = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(bytes.data() + dir[i].Location.Rva);
        }
    }
    ASSERT_NE(exc, nullptr) << "no exception information in the dump";
    if (exceptionCode != 0) {
        EXPECT_EQ(exc->ExceptionRecord.ExceptionCode, exceptionCode);
    }
}

class CrashGuard : public ::testing::Test {
protected:
    ct::TempDir dir{L"kelo_crash"};
    std::wstring Install(const wchar_t* helper, const wchar_t* name)
    {
        std::wstring exe = dir / name;
        EXPECT_TRUE(CopyFileW(ct::BinPath(helper).c_str(), exe.c_str(), FALSE));
        return exe;
    }
};

TEST_F(CrashGuard, UnhandledFailuresLeaveADumpBesideTheProgramAndShowTheBox)
{
    struct Case {
        const wchar_t* mode;
        DWORD code;  // expected exception code in the dump, 0: any
    } cases[] = {
        {L"purecall", 0},
        {L"fault", EXCEPTION_ACCESS_VIOLATION},
        {L"throw", 0},
    };
    // A planted library of the same name beside the program must not be the one loaded.
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"dbghelp.dll", "MZ not a library"));
    for (const Case& c : cases) {
        SCOPED_TRACE(ToNarrow(c.mode));
        std::wstring exe = Install(L"common_crash.exe", (std::wstring(c.mode) + L"_Update.exe").c_str());
        CrashRun run = RunCrash(exe, c.mode);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.boxes, 1);
        EXPECT_EQ(run.boxText, kWrittenText);
        EXPECT_NE(run.exitCode, 0u);
        EXPECT_NE(run.exitCode, static_cast<DWORD>(STILL_ACTIVE));
        ExpectMinidump(exe + L".dmp", c.code);
    }
}

TEST_F(CrashGuard, NoBoxWhenTheDumpCannotBeCreated)
{
    // The dump's name is held open without sharing by another program.
    std::wstring held = Install(L"common_crash.exe", L"Setup.exe");
    HANDLE hHeld = CreateFileW((held + L".dmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(hHeld, "held", 4, &put, nullptr);
    CrashRun run = RunCrash(held, L"fault");
    CloseHandle(hHeld);
    EXPECT_TRUE(run.finished) << "the system's crash handling did not end the program";
    EXPECT_EQ(run.boxes, 0);
    EXPECT_NE(run.exitCode, 0u);
    EXPECT_EQ(ct::ReadFileBytes(held + L".dmp"), "held");

    // The dump's name is taken by a folder; the pure virtual call ends in the runtime's abort.
    std::wstring blocked = Install(L"common_crash.exe", L"Update.exe");
    ASSERT_TRUE(CreateDirectoryW((blocked + L".dmp").c_str(), nullptr));
    run = RunCrash(blocked, L"purecall");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.boxes, 0);
    EXPECT_NE(run.exitCode, 0u);
    EXPECT_TRUE(ct::DirExists(blocked + L".dmp"));
}

TEST_F(CrashGuard, ProgramsWithoutTheGuardWriteNoDump)
{
    // The foundation alone (as in the uninstaller) installs no guard.
    std::wstring exe = Install(L"common_probe.exe", L"Uninst.exe");
    CrashRun run = RunCrash(exe, L"fault");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.boxes, 0);
    EXPECT_NE(run.exitCode, 0u);
    EXPECT_FALSE(ct::FileExists(exe + L".dmp"));
}

}  // namespace
