#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "CommonTestUtil.h"
#include "Log.h"
#include "PathUtils.h"

namespace {

// This process's logger writes to one private file for all in-process tests.
struct ProcessLog {
    std::wstring folder;
    std::wstring path;
};

const ProcessLog& TheLog()
{
    static ProcessLog s_log = [] {
        wchar_t szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        ProcessLog log;
        log.folder = std::wstring(szTemp) + ct::UniqueName(L"kelo_log") + L"\\日志";
        log.path = log.folder + L"\\test.log";
        CLog::GetInstance().Init(ToNarrow(log.folder).c_str(), "test.log");
        return log;
    }();
    return s_log;
}

// Waits until the file holds text; returns the file's bytes.
std::string WaitFor(const std::wstring& path, const std::string& text, DWORD timeoutMs = 15000)
{
    DWORD start = GetTickCount();
    std::string bytes;
    do {
        bytes = ct::ReadFileBytes(path);
        if (bytes.find(text) != std::string::npos) {
            break;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return bytes;
}

std::vector<std::string> SplitCrLf(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(pos));
            break;
        }
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

std::string LineWith(const std::string& bytes, const std::string& marker)
{
    for (const std::string& line : SplitCrLf(bytes)) {
        if (line.find(marker) != std::string::npos) {
            return line;
        }
    }
    return std::string();
}

std::string Marker(const char* tag)
{
    static int n = 0;
    return std::string(tag) + "-" + std::to_string(++n) + "-" + std::to_string(GetTickCount());
}

void Log(int level, const std::string& text)
{
    std::wstring w = ToWide(text);
    WriteLog(level, L"LogTest.cpp", __LINE__, L"LogTest::Log", L"%s %s", L"LogTest::Log", w.c_str());
}

const std::regex kPrefix(R"(^\[(\d+)\]\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})\]\[([A-Z]+)\])");

TEST(Log, LineHasThreadTimeTagAndMessageInGbkWithCrLf)
{
    ASSERT_EQ(GetACP(), 936u) << "the harness runs Wine with LC_ALL=zh_CN.UTF-8";
    const ProcessLog& log = TheLog();
    std::string marker = Marker("fmt");
    std::wstring wmarker = ToWide(marker);
    SYSTEMTIME before;
    GetLocalTime(&before);
    WriteLog(LOG_INFO, L"InstallMgr.cpp", 42, L"CInstallMgr::CopyInstallFile", L"%s 安装step=%d %s",
             L"CInstallMgr::CopyInstallFile", 3, wmarker.c_str());
    std::string bytes = WaitFor(log.path, marker);
    std::string line = LineWith(bytes, marker);
    ASSERT_FALSE(line.empty()) << "line not written";

    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << line;
    EXPECT_EQ(std::stoul(m[1]), GetCurrentThreadId());
    EXPECT_EQ(std::stoi(m[2]), before.wYear);
    EXPECT_EQ(m[9], "INFO");
    // The message follows the tag directly; Chinese arrives as GBK bytes.
    EXPECT_EQ(line.substr(m.length(0)), "CInstallMgr::CopyInstallFile \xB0\xB2\xD7\xB0step=3 " + marker);

    // Text mode: every line ends in CR LF; no bare LF, no byte-order mark.
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(bytes[0], '\xFF');
}

TEST(Log, MacroPrefixesTheFunctionName)
{
    const ProcessLog& log = TheLog();
    std::string marker = Marker("macro");
    std::wstring w = ToWide(marker);
    KELO_LOG(LOG_ERROR, L"CUpdateMgr::DownFileThreadProc", L"step=%d %s", 7, w.c_str());
    std::string line = LineWith(WaitFor(log.path, marker), marker);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << line;
    EXPECT_EQ(m[9], "ERROR");
    EXPECT_EQ(line.substr(m.length(0)), "CUpdateMgr::DownFileThreadProc step=7 " + marker);
}

TEST(Log, LevelsAndTags)
{
    const ProcessLog& log = TheLog();
    struct Case {
        int level;
        const char* tag;  // null: not written
    } cases[] = {
        {LOG_DEBUG, nullptr}, {-1, nullptr}, {LOG_INFO, "INFO"}, {LOG_WARN, "WARN"},
        {LOG_ERROR, "ERROR"}, {4, "DEBUG"},   {100, "DEBUG"},
    };
    std::vector<std::string> markers;
    for (const Case& c : cases) {
        markers.push_back(Marker("lvl"));
        Log(c.level, markers.back());
    }
    std::string last = Marker("last");
    Log(LOG_INFO, last);
    std::string bytes = WaitFor(log.path, last);
    ASSERT_NE(bytes.find(last), std::string::npos);
    for (size_t i = 0; i < markers.size(); ++i) {
        std::string line = LineWith(bytes, markers[i]);
        if (cases[i].tag == nullptr) {
            EXPECT_TRUE(line.empty()) << "level " << cases[i].level << " was written: " << line;
            continue;
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << "level " << cases[i].level << ": " << line;
        EXPECT_EQ(m[9], cases[i].tag) << "level " << cases[i].level;
    }
}

TEST(Log, LongMessagesAreCutTo3999Characters)
{
    const ProcessLog& log = TheLog();
    struct Case {
        size_t length;
        size_t kept;
    } cases[] = {{3990, 3990}, {3999, 3999}, {4000, 3999}, {9000, 3999}};
    std::vector<std::string> markers;
    for (const Case& c : cases) {
        markers.push_back(Marker("cut"));
        // Marker first, so that it survives the cut.
        std::string msg = markers.back() + " ";
        msg += std::string(c.length - msg.size(), 'x');
        std::wstring w = ToWide(msg);
        WriteLog(LOG_INFO, L"LogTest.cpp", __LINE__, L"LogTest", L"%s", w.c_str());
    }
    std::string last = Marker("last");
    Log(LOG_INFO, last);
    std::string bytes = WaitFor(log.path, last);
    for (size_t i = 0; i < markers.size(); ++i) {
        std::string line = LineWith(bytes, markers[i]);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << markers[i];
        EXPECT_EQ(line.size() - m.length(0), cases[i].kept) << "message of " << cases[i].length;
        EXPECT_LE(line.size(), 4095u);
    }
}

TEST(Log, LineBreaksInsideAMessageKeepTheEntryOnOneLine)
{
    const ProcessLog& log = TheLog();
    struct Case {
        const wchar_t* text;
        const char* logged;
    } cases[] = {
        // The setup's overwrite question.
        {L"您计算机已经安装过\n确定要覆盖安装吗?", "\xC4\xFA\xBC\xC6\xCB\xE3\xBB\xFA\xD2\xD1\xBE\xAD\xB0\xB2\xD7\xB0\xB9\xFD "
                                                "\xC8\xB7\xB6\xA8\xD2\xAA\xB8\xB2\xB8\xC7\xB0\xB2\xD7\xB0\xC2\xF0?"},
        {L"a\r\nb", "a b"},
        {L"a\rb", "a b"},
        {L"a\n\nb", "a  b"},
        {L"a\n\r\nb\r", "a  b "},
        {L"\ttab stays", "\ttab stays"},
    };
    std::vector<std::string> markers;
    for (const Case& c : cases) {
        markers.push_back(Marker("break"));
        const std::wstring w = ToWide(markers.back());
        WriteLog(LOG_INFO, L"LogTest.cpp", __LINE__, L"LogTest", L"%s [%s] end", w.c_str(), c.text);
    }
    const std::string last = Marker("last");
    Log(LOG_INFO, last);
    const std::string bytes = WaitFor(log.path, last);
    for (size_t i = 0; i < markers.size(); ++i) {
        const std::string line = LineWith(bytes, markers[i]);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << markers[i];
        EXPECT_EQ(line.substr(m.length(0)), markers[i] + " [" + cases[i].logged + "] end");
    }
    // Every physical line is an entry of its own.
    for (const std::string& line : SplitCrLf(bytes)) {
        EXPECT_TRUE(std::regex_search(line, kPrefix)) << line;
    }
}

TEST(Log, UnmappableCharactersBecomeTheDefaultCharacter)
{
    const ProcessLog& log = TheLog();
    std::string marker = Marker("ansi");
    std::wstring w = ToWide(marker) + L" a\u0E01b 中";
    WriteLog(LOG_INFO, L"LogTest.cpp", __LINE__, L"LogTest", L"%s", w.c_str());
    std::string line = LineWith(WaitFor(log.path, marker), marker);
    EXPECT_NE(line.find(marker + " a?b \xD6\xD0"), std::string::npos) << line;
}

TEST(Log, FileDeletedWhileRunningIsCreatedAgain)
{
    const ProcessLog& log = TheLog();
    std::string first = Marker("before");
    Log(LOG_INFO, first);
    ASSERT_NE(WaitFor(log.path, first).find(first), std::string::npos);
    // The writer closes the file after each line, so it can be deleted at any time.
    ASSERT_TRUE(DeleteFileW(log.path.c_str())) << GetLastError();
    std::string second = Marker("after");
    Log(LOG_INFO, second);
    std::string bytes = WaitFor(log.path, second);
    EXPECT_NE(bytes.find(second), std::string::npos);
    EXPECT_EQ(bytes.find(first), std::string::npos);
}

TEST(Log, NewerLogNameOrder)
{
    struct Case {
        const char* a;
        const char* b;
        bool aNewer;
    } cases[] = {
        {"2021-03-24.log", "2021-03-23.log", true},
        {"2021-03-23.log", "2021-03-24.log", false},
        {"2022-01-01.log", "2021-12-31.log", true},
        {"2021-3-4.log", "2021-03-04.log", false},  // equal tuples
        {"2021-03-04.log", "2021-3-4.log", false},
        {"install.log", "2001-01-01.log", false},   // reads as 0-0-0-0
        {"2001-01-01.log", "install.log", true},
        {"2021-03-24-2.log", "2021-03-24.log", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CLog::IsNewerLogName(c.a, c.b), c.aNewer) << c.a << " vs " << c.b;
    }
}

// --- Separate processes: each has its own logger.

std::wstring Probe()
{
    return ct::BinPath(L"common_probe.exe");
}

DWORD RunLogProbe(const std::wstring& folder, const std::wstring& name, int threads, int count,
                  const std::wstring& tag)
{
    std::wstring cmd = ct::Quote(Probe()) + L" log " + ct::Quote(folder) + L" " + name + L" " +
                       std::to_wstring(threads) + L" " + std::to_wstring(count) + L" " + tag;
    return ct::Run(Probe(), cmd, 240000);
}

// Checks that the file holds exactly threads x count lines of tag, each thread's in order.
void ExpectAllLines(const std::wstring& path, const std::string& tag, int threads, int count)
{
    std::vector<std::string> lines = SplitCrLf(ct::ReadFileBytes(path));
    std::map<int, int> next;
    const std::regex body(R"(\]\[INFO\]Probe::LogThread tag=(\S+) t=(\d+) i=(\d+)$)");
    int total = 0;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, body)) << line;
        ASSERT_EQ(m[1].str(), tag);
        int t = std::stoi(m[2]);
        int i = std::stoi(m[3]);
        ASSERT_EQ(i, next[t]) << "thread " << t << " out of order or missing a line";
        next[t] = i + 1;
        ++total;
    }
    EXPECT_EQ(total, threads * count);
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(next[t], count) << "thread " << t;
    }
}

TEST(LogProcess, NormalStopWritesEveryQueuedLine)
{
    ct::TempDir dir(L"kelo_logstop");
    // Exit code 0: Stop reported that it stopped a running writer.
    ASSERT_EQ(RunLogProbe(dir.Path(), L"install.log", 4, 2500, L"q"), 0u);
    ExpectAllLines(dir / L"install.log", "q", 4, 2500);
}

// The probe numbers its lines in the order they are queued, from many threads
// at once; the file must hold every number once, in that order.
void ExpectSequence(const std::wstring& path, int total)
{
    const std::regex body(R"(\]\[INFO\]Probe::Seq seq=(\d+) t=\d+$)");
    int expected = 0;
    for (const std::string& line : SplitCrLf(ct::ReadFileBytes(path))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, body)) << line;
        ASSERT_EQ(std::stoi(m[1]), expected) << "a line lost or out of the order of queueing";
        ++expected;
    }
    EXPECT_EQ(expected, total);
}

TEST(LogProcess, EveryLineOfManyThreadsArrivesOnceInQueueOrder)
{
    struct Case {
        const wchar_t* end;  // "stop": CLog::Stop; "exit": main returns and the program ends on its own
        int threads;
        int count;
    } cases[] = {{L"stop", 16, 1000}, {L"exit", 16, 1000}, {L"exit", 1, 3}};
    for (const Case& c : cases) {
        ct::TempDir dir(L"kelo_logseq");
        const std::wstring cmd = ct::Quote(Probe()) + L" logseq " + ct::Quote(dir.Path()) + L" " +
                                 std::to_wstring(c.threads) + L" " + std::to_wstring(c.count) + L" " + c.end;
        ASSERT_EQ(ct::Run(Probe(), cmd, 240000), 0u) << cmd;
        SCOPED_TRACE(cmd);
        ExpectSequence(dir / L"install.log", c.threads * c.count);
    }
}

TEST(LogProcess, TwoProgramsAppendToTheirOwnFiles)
{
    ct::TempDir dir(L"kelo_logtwo");
    // Both files exist already: lines are appended, nothing is truncated.
    std::string old = "[1][2000-01-01 00:00:00.000][INFO]old\r\n";
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"install.log", old));
    auto cmd = [&](const wchar_t* name, const wchar_t* tag) {
        return ct::Quote(Probe()) + L" log " + ct::Quote(dir.Path()) + L" " + name + L" 2 400 " + tag;
    };
    ct::Child a, b;
    ASSERT_TRUE(a.Start(Probe(), cmd(L"install.log", L"setup")));
    ASSERT_TRUE(b.Start(Probe(), cmd(L"update.log", L"update")));
    ASSERT_TRUE(a.Wait(120000));
    ASSERT_TRUE(b.Wait(120000));
    EXPECT_EQ(a.ExitCode(), 0u);
    EXPECT_EQ(b.ExitCode(), 0u);
    std::string install = ct::ReadFileBytes(dir / L"install.log");
    ASSERT_EQ(install.substr(0, old.size()), old);
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"install.log", install.substr(old.size())));
    ExpectAllLines(dir / L"install.log", "setup", 2, 400);
    ExpectAllLines(dir / L"update.log", "update", 2, 400);
}

TEST(LogProcess, DailyFileKeepsTheSevenNewestLogs)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char today[32];
    snprintf(today, sizeof(today), "%d-%02d-%02d.log", st.wYear, st.wMonth, st.wDay);
    EXPECT_EQ(CLog::MakeDailyFileName(), today);

    struct Case {
        std::vector<std::string> present;
        std::vector<std::string> deleted;
    } cases[] = {
        {{"2001-01-01.log", "2001-01-02.log", "2001-01-03.log", "2001-01-04.log", "2001-01-05.log",
          "2001-01-06.log", "2001-01-07.log"},
         {}},
        {{"2001-01-08.log", "2001-01-01.log", "2001-01-02.log", "2001-01-03.log", "2001-01-04.log",
          "2001-01-05.log", "2001-01-06.log", "2001-01-07.log"},
         {"2001-01-01.log"}},
        {{"install.log", "2001-01-01.log", "2001-01-02.log", "2001-01-03.log", "2001-01-04.log",
          "2001-01-05.log", "2001-01-06.log", "2001-01-07.log"},
         {"install.log"}},
        {{"2000-12-31.log", "1999-05-05.log", "2001-01-02.log", "2001-01-03.log", "2001-01-04.log",
          "2001-01-05.log", "2001-01-06.log", "2001-01-07.log", "2001-01-08.log", "notes.txt"},
         {"1999-05-05.log", "2000-12-31.log"}},
    };
    for (const Case& c : cases) {
        ct::TempDir dir(L"kelo_logdaily");
        for (const std::string& name : c.present) {
            ASSERT_TRUE(ct::WriteFileBytes(dir / ToWide(name), "old\r\n"));
        }
        ASSERT_EQ(RunLogProbe(dir.Path(), L"-", 1, 3, L"daily"), 0u);
        for (const std::string& name : c.present) {
            bool gone = std::find(c.deleted.begin(), c.deleted.end(), name) != c.deleted.end();
            EXPECT_EQ(ct::FileExists(dir / ToWide(name)), !gone) << name << " of " << c.present.size();
        }
        std::string bytes = ct::ReadFileBytes(dir / ToWide(today));
        EXPECT_EQ(SplitCrLf(bytes).size(), 3u) << "today's file " << today;
    }
}

// Runs the probe under this process as its debugger and collects its debug output.
std::vector<std::string> DebugOutputOf(const std::wstring& cmd, const std::wstring& curDir, DWORD* exitCode)
{
    std::vector<std::string> out;
    ct::Child child;
    if (!child.Start(Probe(), cmd, curDir, DEBUG_ONLY_THIS_PROCESS)) {
        ADD_FAILURE() << "cannot start the probe under the debugger";
        return out;
    }
    DWORD start = GetTickCount();
    for (;;) {
        DEBUG_EVENT ev = {};
        if (!WaitForDebugEvent(&ev, 1000)) {
            if (GetTickCount() - start > 120000) {
                ADD_FAILURE() << "probe did not end";
                return out;
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile) {
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            }
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile) {
                CloseHandle(ev.u.LoadDll.hFile);
            }
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = ev.u.DebugString;
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T got = 0;
            ReadProcessMemory(child.Process(), info.lpDebugStringData, &text[0], text.size(), &got);
            text.resize(got);
            if (!text.empty() && text.back() == '\0') {
                text.pop_back();
            }
            if (!info.fUnicode) {
                out.push_back(text);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            *exitCode = ev.u.ExitProcess.dwExitCode;
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, DBG_CONTINUE);
            return out;
        default:
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
}

TEST(LogProcess, DebugOutputModeSendsLinesToTheDebuggerAndNothingToDisk)
{
    ct::TempDir dir(L"kelo_logdebug");
    DWORD exitCode = ~0u;
    std::vector<std::string> lines =
        DebugOutputOf(ct::Quote(Probe()) + L" logdebug 5", dir.Path(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    std::vector<std::string> ours;
    for (const std::string& s : lines) {
        if (s.find("Probe::Debug") != std::string::npos) {
            ours.push_back(s);
        }
    }
    ASSERT_EQ(ours.size(), 5u);
    for (size_t i = 0; i < ours.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(ours[i], m, kPrefix)) << ours[i];
        EXPECT_EQ(m[9], "INFO");
        EXPECT_EQ(ours[i].substr(m.length(0)), "Probe::Debug \xB5\xF7\xCA\xD4 i=" + std::to_string(i) + "\n");
    }
    // Nothing reached the disk: the current folder stays empty.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir / L"*").c_str(), &fd);
    int entries = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = fd.cFileName;
            if (n != L"." && n != L"..") {
                ++entries;
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    EXPECT_EQ(entries, 0);
}

}  // namespace
