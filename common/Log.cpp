#include "Log.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <io.h>
#include <share.h>

#include "LockHelper.h"
#include "PathUtils.h"

namespace {

// The log's one lock. Reached through a function so that a WriteLog from any
// other static initialiser finds it constructed.
LockHelper& LogLock()
{
    static LockHelper s_lock;
    return s_lock;
}

// Built during static initialisation, before the entry function runs.
[[maybe_unused]] LockHelper& g_LogLock = LogLock();

const wchar_t* LineFormatOf(int level)
{
    switch (level) {
    case LOG_INFO:
        return L"[%d][%s][INFO]%s";
    case LOG_WARN:
        return L"[%d][%s][WARN]%s";
    case LOG_ERROR:
        return L"[%d][%s][ERROR]%s";
    default:
        return L"[%d][%s][DEBUG]%s";
    }
}

// One entry is one line: each line break inside the text (CR LF, LF or CR)
// becomes a single space.
void KeepOnOneLine(wchar_t* text)
{
    wchar_t* out = text;
    for (const wchar_t* in = text; *in != L'\0'; ++in) {
        if (*in == L'\r' && in[1] == L'\n') {
            continue;
        }
        *out++ = (*in == L'\r' || *in == L'\n') ? L' ' : *in;
    }
    *out = L'\0';
}

// A worker that would not stop is about to end the program: its line and
// every line queued before it go to the file first.
void LogBeforeExit(const wchar_t* message)
{
    WriteLog(LOG_ERROR, L"Log.cpp", __LINE__, L"StopWorker", L"%s", message);
    CLog::GetInstance().Stop();
}

}  // namespace

void WriteLog(int level, const wchar_t* /*sourceFile*/, int /*line*/, const wchar_t* /*function*/,
              const wchar_t* format, ...)
{
    CLog& log = CLog::GetInstance();
    if (level < log.GetMinLevel()) {
        return;
    }

    // _vsnwprintf keeps the Windows meaning of "%s" (a wide string); a longer
    // text is cut to the first kLogMessageChars - 1 characters.
    wchar_t szMessage[kLogMessageChars];
    va_list args;
    va_start(args, format);
    _vsnwprintf(szMessage, kLogMessageChars - 1, format, args);
    va_end(args);
    szMessage[kLogMessageChars - 1] = L'\0';
    KeepOnOneLine(szMessage);

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szTime[kLogTimeChars];
    _snwprintf(szTime, kLogTimeChars - 1, L"%d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay,
               st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    szTime[kLogTimeChars - 1] = L'\0';

    wchar_t szLine[kLogLineChars];
    _snwprintf(szLine, kLogLineChars - 1, LineFormatOf(level), static_cast<int>(GetCurrentThreadId()), szTime,
               szMessage);
    szLine[kLogLineChars - 1] = L'\0';

    log.Push(ToNarrow(szLine));
}

bool LocalFileHandler::Open(const std::string& path, const char* mode)
{
    Close();
    // fopen_s's sharing (others may read, not write) through _fsopen: the
    // secure-CRT names are missing from the system runtime of Windows XP.
    m_pFile = _fsopen(path.c_str(), mode, _SH_DENYWR);
    if (m_pFile != nullptr) {
        // A turn's lines reach the file in a few large writes.
        setvbuf(m_pFile, nullptr, _IOFBF, kLogStreamBufferBytes);
    }
    return m_pFile != nullptr;
}

bool LocalFileHandler::Write(const char* data, size_t size)
{
    if (m_pFile == nullptr) {
        return false;
    }
    if (fwrite(data, 1, size, m_pFile) < size) {
        Close();
        return false;
    }
    return true;
}

void LocalFileHandler::Close()
{
    if (m_pFile != nullptr) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
}

CLog& CLog::GetInstance()
{
    static CLog s_log;
    return s_log;
}

CLog::CLog() : m_hWake(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    // The lock must outlive the instance, so it is finished first.
    LogLock();
    SetLastResortHandler(&LogBeforeExit);
}

CLog::~CLog()
{
    Stop();
    // A writer given up by Stop may still wait on the event; it then stays to the process's end.
    if (m_hWake != nullptr && (GetThreadHandle() == nullptr || Wait(0))) {
        CloseHandle(m_hWake);
    }
}

void CLog::Init(const char* folder, const char* fileName)
{
    CreateDirTree(std::string(folder != nullptr ? folder : ""));

    LockHelperGuard guard(&LogLock());
    m_strFolder = folder != nullptr ? folder : "";
    std::string name;
    if (fileName != nullptr) {
        name = fileName;
    } else {
        name = MakeDailyFileName();
        CleanOldLogs(7);
    }
    m_strPath = m_strFolder + "\\" + name;
    m_pFileHandler = std::make_shared<LocalFileHandler>();
    if (!m_pFileHandler->Open(m_strPath, "a+")) {
        printf("open file=%s error=%d", m_strPath.c_str(), static_cast<int>(GetLastError()));
    }
    // One writer per process, also if Init is called again.
    if (GetThreadHandle() == nullptr) {
        Start();
    }
}

void CLog::Push(const std::string& line)
{
    LockHelperGuard guard(&LogLock());
    m_queue.push_back(line);
}

bool CLog::TakeAndWriteAll()
{
    std::list<std::string> lines;
    std::shared_ptr<LocalFileHandler> pFile;
    std::string path;
    {
        LockHelperGuard guard(&LogLock());
        if (m_queue.empty()) {
            return false;
        }
        lines.swap(m_queue);
        pFile = m_pFileHandler;
        path = m_strPath;
    }
    for (std::string& line : lines) {
        line += '\n';
        if (m_bDebugOutput) {
            OutputDebugStringA(line.c_str());
        } else if (pFile && (pFile->IsOpen() || pFile->Open(path, "a+"))) {
            // A short write closes the stream and loses that line; the next opens it again.
            pFile->Write(line.data(), line.size());
        }
        ++m_nWritten;
    }
    if (pFile) {
        pFile->Close();
    }
    return true;
}

void CLog::Run()
{
    m_bRunning = true;
    while (!m_bStopRequested) {
        bool bIdle = !TakeAndWriteAll();
        if (bIdle && !m_bStopRequested) {
            if (m_hWake != nullptr) {
                WaitForSingleObject(m_hWake, 100);
            } else {
                Sleep(100);
            }
        }
    }
    // A normal stop still writes every line queued before it.
    while (TakeAndWriteAll()) {
    }
    m_bRunning = false;
}

bool CLog::Stop()
{
    if (GetThreadHandle() == nullptr || m_bStopRequested) {
        return false;
    }
    m_bStopRequested = true;
    if (m_hWake != nullptr) {
        SetEvent(m_hWake);
    }
    const DWORD start = GetTickCount();
    unsigned long seen = m_nWritten;
    while (!Wait(kLogStallMs)) {
        const unsigned long written = m_nWritten;
        if (written == seen || GetTickCount() - start >= kLogStopMaxWaitMs) {
            // The writer still uses the file handler; it is left to the process's end.
            return false;
        }
        seen = written;
    }
    LockHelperGuard guard(&LogLock());
    m_pFileHandler.reset();
    return true;
}

std::string CLog::MakeDailyFileName()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char szName[64];
    snprintf(szName, sizeof(szName), "%d-%02d-%02d.log", st.wYear, st.wMonth, st.wDay);
    return szName;
}

bool CLog::IsNewerLogName(const std::string& a, const std::string& b)
{
    int va[4] = {0, 0, 0, 0};
    int vb[4] = {0, 0, 0, 0};
    sscanf(a.c_str(), "%d-%d-%d-%d", &va[0], &va[1], &va[2], &va[3]);
    sscanf(b.c_str(), "%d-%d-%d-%d", &vb[0], &vb[1], &vb[2], &vb[3]);
    for (int i = 0; i < 4; ++i) {
        if (va[i] != vb[i]) {
            return va[i] > vb[i];
        }
    }
    return false;
}

void CLog::CollectLogFiles(const std::string& folder, std::vector<std::string>& files)
{
    std::string pattern = folder + "\\*";
    struct _finddata_t data;
    intptr_t hFind = _findfirst(pattern.c_str(), &data);
    if (hFind == -1) {
        return;
    }
    do {
        if (data.attrib & _A_SUBDIR) {
            if (strcmp(data.name, "..") != 0 && strcmp(data.name, ".") != 0) {
                CollectLogFiles(folder + "\\" + data.name, files);
            }
        } else if (strstr(data.name, ".log") != nullptr) {
            files.push_back(data.name);
        }
    } while (_findnext(hFind, &data) == 0);
    _findclose(hFind);
}

void CLog::CleanOldLogs(int keep)
{
    if (_access(m_strFolder.c_str(), 0) != 0) {
        return;
    }
    std::vector<std::string> files;
    CollectLogFiles(m_strFolder, files);
    if (keep < 0 || files.size() <= static_cast<size_t>(keep)) {
        return;
    }
    std::sort(files.begin(), files.end(), &CLog::IsNewerLogName);
    for (size_t i = static_cast<size_t>(keep); i < files.size(); ++i) {
        std::string path = m_strFolder + "\\" + files[i];
        if (_access(path.c_str(), 0) == 0) {
            remove(path.c_str());
        }
    }
}
