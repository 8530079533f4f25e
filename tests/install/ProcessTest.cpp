// Starting programs, finding and ending them by executable name, and stopping
// the product's service in each of the ways a service can answer. Runs in a
// prefix of its own: it starts programs under the product's names and
// installs the service "KeloPdfReaderSvr".
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallTestSupport.h"
#include "Process.h"
#include "Product.h"

using namespace installtest;

namespace {

// ---------------------------------------------------------------- LaunchProcess

TEST(LaunchProcess, StartsWithTheGivenCommandLineAndDoesNotWait) {
    TempDir dir(L"launch");
    const std::wstring exe = PlaceStandin(dir.path(), Product::kMainExe, Product::kMainExe);
    struct Case {
        std::wstring cmd;
        bool hide;
    } cases[] = {
        {L"\"" + exe + L"\"", true},                  // the setup program's form
        {exe + L" " + Product::kRunUpdateArgs, true}, // the updater's form, path unquoted
        {L"\"" + exe + L"\" shown", false},
    };
    size_t expectedLines = 0;
    for (Case& c : cases) {
        std::wstring buffer = c.cmd;
        const DWORD before = GetTickCount();
        ASSERT_TRUE(LaunchProcess(nullptr, &buffer[0], c.hide)) << ToNarrow(c.cmd);
        // The stand-in runs until it is ended, so returning at all shows no wait.
        EXPECT_LT(GetTickCount() - before, 5000u);
        ++expectedLines;
        ASSERT_TRUE(WaitFor([&] { return ReadUtf16Lines(exe + L".cmdline.txt").size() == expectedLines; }, 10000));
        EXPECT_EQ(ReadUtf16Lines(exe + L".cmdline.txt").back(), c.cmd);
        DWORD pid = 0;
        ASSERT_TRUE(FindProcessByName(Product::kMainExe, pid));
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        ASSERT_NE(h, nullptr);
        TerminateProcess(h, 0);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
}

TEST(LaunchProcess, MissingProgramFails) {
    TempDir dir(L"launchmissing");
    std::wstring cmd = L"\"" + (dir / L"nothing.exe") + L"\"";
    EXPECT_FALSE(LaunchProcess(nullptr, &cmd[0], true));
}

// ---------------------------------------------------------------- finding and ending

TEST(FindProcessByName, ExactCaseSensitiveName) {
    TempDir dir(L"find");
    RunningProgram reader(PlaceStandin(dir.path(), Product::kMainExe, Product::kMainExe));
    RunningProgram lower(PlaceStandin(dir / L"lower", Product::kMainExe, L"keloPdfReaderLower.exe"));

    DWORD pid = 0;
    ASSERT_TRUE(FindProcessByName(L"KeloPdfReader.exe", pid));
    EXPECT_EQ(pid, reader.pid());
    for (const wchar_t* other : {L"kelopdfreader.exe", L"KELOPDFREADER.EXE", L"KeloPdfReader", L"KeloPdfReader.ex",
                                 L"eloPdfReader.exe", L"KeloPdfReader.exe ", L""}) {
        DWORD none = 12345;
        EXPECT_FALSE(FindProcessByName(other, none)) << ToNarrow(other);
        EXPECT_EQ(none, 12345u) << "the id is only written when a process is found";
    }
}

TEST(FindProcessByName, AProgramWhoseNameDiffersInCaseIsNotFound) {
    TempDir dir(L"findcase");
    RunningProgram lower(PlaceStandin(dir.path(), Product::kMainExe, L"keloPdfReader.exe"));
    DWORD pid = 0;
    EXPECT_FALSE(FindProcessByName(L"KeloPdfReader.exe", pid));
    EXPECT_TRUE(FindProcessByName(L"keloPdfReader.exe", pid));
    EXPECT_EQ(pid, lower.pid());
    EXPECT_FALSE(TerminateProcessByName(L"KeloPdfReader.exe"));
    EXPECT_TRUE(lower.IsRunning());
}

TEST(TerminateProcessByName, EndsOnlyTheFirstOfTwoCopies) {
    TempDir dir(L"terminate");
    RunningProgram first(PlaceStandin(dir / L"a", Product::kMainExe, Product::kMainExe));
    RunningProgram second(PlaceStandin(dir / L"b", Product::kMainExe, Product::kMainExe));

    DWORD found = 0;
    ASSERT_TRUE(FindProcessByName(Product::kMainExe, found));
    ASSERT_TRUE(found == first.pid() || found == second.pid());
    RunningProgram& foundOne = found == first.pid() ? first : second;
    RunningProgram& otherOne = found == first.pid() ? second : first;

    EXPECT_TRUE(TerminateProcessByName(Product::kMainExe));
    EXPECT_TRUE(foundOne.WaitExit(5000));
    EXPECT_TRUE(otherOne.IsRunning()) << "one call ends one process";

    EXPECT_TRUE(TerminateProcessByName(Product::kMainExe));
    EXPECT_TRUE(otherOne.WaitExit(5000));
    EXPECT_FALSE(TerminateProcessByName(Product::kMainExe));
}

// ---------------------------------------------------------------- services

class StopService : public ::testing::Test {
protected:
    StandinService service;
};

struct StopCase {
    const wchar_t* mode;
    bool result;
    DWORD stateAfter;
    DWORD minMs;  // the call must have waited at least this long
};

TEST_F(StopService, EachWayOfAnswering) {
    const StopCase cases[] = {
        {L"stop=now", true, SERVICE_STOPPED, 0},
        {L"stop=hint", true, SERVICE_STOPPED, 1000},     // stopped 1200 ms after the request
        {L"stop=zerohint", true, SERVICE_STOPPED, 400},  // polled without pause until stopped after 500 ms
        {L"stop=refuse", false, SERVICE_RUNNING, 0},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(ToNarrow(c.mode));
        ASSERT_TRUE(service.Start(c.mode));
        const DWORD before = GetTickCount();
        EXPECT_EQ(StopServiceByName(Product::kServiceName), c.result);
        const DWORD took = GetTickCount() - before;
        EXPECT_GE(took, c.minMs);
        EXPECT_LT(took, 15000u);
        EXPECT_EQ(service.State(), c.stateAfter);
        service.EndProcess();
    }
}

TEST_F(StopService, StayingStopPendingIsGivenUpOnAfterTheBound) {
    ASSERT_TRUE(service.Start(L"stop=pending"));
    const DWORD bound = 2000;
    DWORD before = GetTickCount();
    EXPECT_FALSE(StopServiceByName(Product::kServiceName, bound));
    const DWORD took = GetTickCount() - before;
    EXPECT_GE(took, bound);
    EXPECT_LT(took, bound + 3000);
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOP_PENDING));

    // Already stopping: left alone, no waiting at all.
    before = GetTickCount();
    EXPECT_FALSE(StopServiceByName(Product::kServiceName));
    EXPECT_LT(GetTickCount() - before, 1000u);
}

TEST_F(StopService, NotRunningMissingOrUnnamed) {
    // Installed but stopped.
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(StopServiceByName(Product::kServiceName));
    EXPECT_FALSE(StopServiceByName(L"KeloNoSuchService"));
    EXPECT_FALSE(StopServiceByName(L""));
    EXPECT_FALSE(StopServiceByName(nullptr));
}

}  // namespace
