// The program's one logger. Any thread calls WriteLog; the line is formatted on
// the caller's thread, converted to the ANSI code page and queued; CLog's writer
// thread takes everything queued at each turn and appends it to the log file in
// one opening (closed again before the next turn, so that the file can be read,
// moved or deleted between turns) or, in debug-output mode, hands each line to
// OutputDebugStringA.
//
// Line format: "[<thread id>][<yyyy-mm-dd hh:mm:ss.mmm>][<TAG>]<message>" + CR LF;
// a line break inside the message becomes a space, so one entry is one line.
// The format follows the Windows wide printf conventions ("%s" = wide string).
// By convention the format begins with "%s " and the first argument is the
// qualified function name, also passed as `function`:
//     WriteLog(LOG_INFO, L"InstallMgr.cpp", __LINE__, L"CInstallMgr::AfterInstall",
//              L"%s step=%d", L"CInstallMgr::AfterInstall", 3);
// or, the same through the macro:
//     KELO_LOG(LOG_INFO, L"CInstallMgr::AfterInstall", L"step=%d", 3);
//
// Start-up: CLog::GetInstance().Init(folder, "install.log") for a file; or
// SetDebugOutput(true) then Start() for the debugger output only.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>
#include <cstdio>

#include <windows.h>

#include "ThreadHelper.h"

enum {
    LOG_DEBUG = 0,
    LOG_INFO = 1,
    LOG_WARN = 2,
    LOG_ERROR = 3,
};

// Buffer sizes in wide characters: message, time stamp, whole line.
constexpr size_t kLogMessageChars = 4000;
constexpr size_t kLogTimeChars = 64;
constexpr size_t kLogLineChars = 4096;
// Stop waits for the writer while it gets on with the queue: it gives up when
// no line was written for kLogStallMs, and after kLogStopMaxWaitMs in all.
constexpr unsigned long kLogStallMs = 3000;
constexpr unsigned long kLogStopMaxWaitMs = 60000;
// The log stream's buffer.
constexpr size_t kLogStreamBufferBytes = 64 * 1024;

void WriteLog(int level, const wchar_t* sourceFile, int line, const wchar_t* function,
              const wchar_t* format, ...);

#define KELO_WIDEN2(x) L##x
#define KELO_WIDEN(x) KELO_WIDEN2(x)
// func must be a wide string literal; fmt is the text after "%s ".
#define KELO_LOG(level, func, fmt, ...) \
    WriteLog((level), KELO_WIDEN(__FILE__), __LINE__, func, L"%s " fmt, func, ##__VA_ARGS__)

// Owns one runtime-library stream.
class LocalFileHandler {
public:
    LocalFileHandler() = default;
    ~LocalFileHandler() { Close(); }
    LocalFileHandler(const LocalFileHandler&) = delete;
    LocalFileHandler& operator=(const LocalFileHandler&) = delete;

    // Closes any open stream first; true when a stream is now open.
    bool Open(const std::string& path, const char* mode);
    bool IsOpen() const { return m_pFile != nullptr; }
    // Writes all bytes; a short write closes the stream. True when all were written.
    bool Write(const char* data, size_t size);
    void Close();

private:
    FILE* m_pFile = nullptr;
};

class CLog : public ThreadHelper {
public:
    // The one instance, created on first use, stopped at process exit.
    static CLog& GetInstance();

    // Creates the folder, opens folder\fileName (or the day's "yyyy-mm-dd.log"
    // after removing all but the 7 newest logs when fileName is null) and
    // starts the writer thread. Both texts are in the ANSI code page.
    void Init(const char* folder, const char* fileName);

    // Queues a finished line (without line end).
    void Push(const std::string& line);

    // Writes the lines still queued, ends the writer thread and closes the
    // file. False when no writer was started or it was already stopped, and
    // when the writer is given up (see kLogStallMs): the program's exit never
    // waits without end for a writer that is stuck (a lost file, a lock whose
    // owner is gone).
    bool Stop();

    // Debug-output mode: lines go to OutputDebugStringA, never to disk.
    // Set before the writer thread starts.
    void SetDebugOutput(bool bOn) { m_bDebugOutput = bOn ? 1 : 0; }
    bool IsDebugOutput() const { return m_bDebugOutput != 0; }

    int GetMinLevel() const { return m_nMinLevel; }
    const std::string& GetPath() const { return m_strPath; }
    bool IsRunning() const { return m_bRunning; }

    // "%d-%02d-%02d.log" of the local date.
    static std::string MakeDailyFileName();
    // Keeps the `keep` newest names containing ".log" in the folder (and its
    // subfolders) and deletes the others from the folder.
    void CleanOldLogs(int keep);
    static void CollectLogFiles(const std::string& folder, std::vector<std::string>& files);
    // Newest-first order of log names by the "%d-%d-%d-%d" prefix.
    static bool IsNewerLogName(const std::string& a, const std::string& b);

    ~CLog() override;

protected:
    void Run() override;

private:
    CLog();
    // Takes every queued line and writes them, oldest first, in one opening of
    // the file; false when the queue was empty. Only the writer thread calls it,
    // and it writes without the lock, so that no caller of WriteLog waits for the disk.
    bool TakeAndWriteAll();

    std::shared_ptr<LocalFileHandler> m_pFileHandler;
    std::list<std::string> m_queue;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bStopRequested{false};
    // Set by Stop, so that an idle writer ends its pause at once.
    HANDLE m_hWake = nullptr;
    // Lines written so far; Stop reads it without the lock to see progress.
    std::atomic<unsigned long> m_nWritten{0};
    std::string m_strFolder;
    std::string m_strPath;
    int m_nMinLevel = LOG_INFO;
    int m_bDebugOutput = 0;
};
