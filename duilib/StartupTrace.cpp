#include "StartupTrace.h"

#include <cstdio>
#include <string>
#include <vector>

namespace DuiLib {

namespace {

struct Trace {
    bool bOn = false;
    bool bWritten = false;
    std::wstring strFile;
    LARGE_INTEGER freq = {};
    // The counter's value at the process's creation, so that marks read as times since then.
    LONGLONG llCreated = 0;
    DWORD dwThread = 0;
    LONGLONG phases[STARTUP_PHASE_COUNT] = {};
    std::vector<std::pair<std::wstring, LONGLONG>> marks;
    CStartupSpan* pInner = nullptr;
};

LONGLONG Now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

Trace& TheTrace() {
    static Trace s_trace;
    return s_trace;
}

// Set up when the library is loaded: its load time is the first mark.
struct TraceStart {
    TraceStart() {
        Trace& t = TheTrace();
        wchar_t szFile[MAX_PATH] = L"";
        const DWORD n = ::GetEnvironmentVariableW(L"KELO_STARTUP_TRACE", szFile, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        const LONGLONG llNow = Now();
        FILETIME ftCreated, ftExit, ftKernel, ftUser, ftNow;
        if (!::GetProcessTimes(::GetCurrentProcess(), &ftCreated, &ftExit, &ftKernel, &ftUser)) return;
        ::GetSystemTimeAsFileTime(&ftNow);
        ::QueryPerformanceFrequency(&t.freq);
        const auto ticks100ns = [](const FILETIME& ft) {
            return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
        };
        const LONGLONG sinceCreated = ticks100ns(ftNow) - ticks100ns(ftCreated);
        t.llCreated = llNow - sinceCreated * t.freq.QuadPart / 10000000;
        t.strFile = szFile;
        t.dwThread = ::GetCurrentThreadId();
        t.bOn = true;
        t.marks.emplace_back(L"dll", llNow);
    }
} g_traceStart;

double Ms(LONGLONG ticks) {
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(TheTrace().freq.QuadPart);
}

const wchar_t* const kPhaseNames[STARTUP_PHASE_COUNT] = {L"archive", L"xml", L"images", L"shadow", L"paint"};

}  // namespace

CStartupSpan::CStartupSpan(StartupPhase phase) : m_nPhase(-1), m_llStart(0), m_llNested(0), m_pOuter(nullptr) {
    Trace& t = TheTrace();
    // Start-up runs on the thread that loaded the library.
    if (!t.bOn || t.bWritten || ::GetCurrentThreadId() != t.dwThread) return;
    m_nPhase = phase;
    m_pOuter = t.pInner;
    t.pInner = this;
    m_llStart = Now();
}

CStartupSpan::~CStartupSpan() {
    if (m_nPhase < 0) return;
    Trace& t = TheTrace();
    const LONGLONG llAll = Now() - m_llStart;
    t.phases[m_nPhase] += llAll - m_llNested;
    t.pInner = m_pOuter;
    if (m_pOuter != nullptr) m_pOuter->m_llNested += llAll;
}

void StartupMark(LPCWSTR pstrName) {
    Trace& t = TheTrace();
    if (!t.bOn || t.bWritten || pstrName == nullptr) return;
    t.marks.emplace_back(pstrName, Now());
}

void StartupPainted() {
    Trace& t = TheTrace();
    if (!t.bOn || t.bWritten) return;
    StartupMark(L"painted");
    t.bWritten = true;
    FILE* f = _wfopen(t.strFile.c_str(), L"w");
    if (f == nullptr) return;
    for (const auto& m : t.marks) fwprintf(f, L"mark %ls %.1f\n", m.first.c_str(), Ms(m.second - t.llCreated));
    for (int i = 0; i < STARTUP_PHASE_COUNT; ++i) fwprintf(f, L"phase %ls %.1f\n", kPhaseNames[i], Ms(t.phases[i]));
    fclose(f);
}

}  // namespace DuiLib
