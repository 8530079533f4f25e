// Helpers of the HTTP and report tests: the loopback server's ports, a
// message-only window that collects posted messages, and a capture of the
// debugger output.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace httptest {

struct LoopbackPorts {
    int http = 0;
    int https = 0;
};

// The ctest fixture starts the server and names its port file (a Linux path,
// seen by Wine under Z:) in KELO_LOOPBACK_PORTS.
inline LoopbackPorts ReadLoopbackPorts()
{
    LoopbackPorts ports;
    const char* file = std::getenv("KELO_LOOPBACK_PORTS");
    if (!file || !*file) {
        ADD_FAILURE() << "KELO_LOOPBACK_PORTS is not set: the loopback server fixture did not run";
        return ports;
    }
    std::string path = file;
    if (path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path)
            if (c == '/') c = '\\';
    }
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        ADD_FAILURE() << "cannot read the loopback port file " << path;
        return ports;
    }
    if (std::fscanf(f, "%d %d", &ports.http, &ports.https) != 2)
        ADD_FAILURE() << "malformed loopback port file " << path;
    std::fclose(f);
    return ports;
}

inline std::string HttpBase(const LoopbackPorts& p) { return "http://127.0.0.1:" + std::to_string(p.http); }
inline std::string HttpsBase(const LoopbackPorts& p) { return "https://127.0.0.1:" + std::to_string(p.https); }

// A loopback port that nothing listens on: bound once here, then released.
inline int ClosedPort()
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    int len = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    closesocket(s);
    return ntohs(addr.sin_port);
}

inline std::string ClosedPortUrl(const char* path)
{
    return "http://127.0.0.1:" + std::to_string(ClosedPort()) + path;
}

// A message-only window on the creating thread; every message from WM_USER up
// that reaches it is kept, in arrival order, with the tick of its arrival.
class MessageSink {
public:
    struct Posted {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        DWORD tick;
    };

    MessageSink()
    {
        static const wchar_t kClass[] = L"KeloHttpTestSink";
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &MessageSink::WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);  // already registered by an earlier sink is fine
        m_hWnd = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~MessageSink()
    {
        if (m_hWnd) DestroyWindow(m_hWnd);
    }
    MessageSink(const MessageSink&) = delete;
    MessageSink& operator=(const MessageSink&) = delete;

    HWND hwnd() const { return m_hWnd; }

    // Dispatches this thread's messages until done() holds or the time is up.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
    {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > timeoutMs) return done();
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return true;
    }
    // Dispatches whatever arrives during the given time.
    void PumpFor(DWORD ms)
    {
        PumpUntil([] { return false; }, ms);
    }

    std::vector<Posted> messages;

private:
    static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<MessageSink*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && msg >= WM_USER) {
            self->messages.push_back({msg, wParam, lParam, GetTickCount()});
            return 0;
        }
        return DefWindowProcW(h, msg, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
};

// Collects what the process writes to the debugger output while it lives.
// OutputDebugString raises a continuable exception that a vectored handler
// sees first; the handler copies the text and lets the normal handling go on.
class DebugOutputCapture {
public:
    DebugOutputCapture()
    {
        InitializeCriticalSection(&m_cs);
        Instance() = this;
        m_hHandler = AddVectoredExceptionHandler(1, &DebugOutputCapture::Handler);
    }
    ~DebugOutputCapture()
    {
        RemoveVectoredExceptionHandler(m_hHandler);
        Instance() = nullptr;
        DeleteCriticalSection(&m_cs);
    }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    // Narrow lines (OutputDebugStringA, and the narrow copy Windows makes of a
    // wide line) and wide lines (OutputDebugStringW).
    std::vector<std::string> Narrow()
    {
        Lock lock(&m_cs);
        return m_narrow;
    }
    std::vector<std::wstring> Wide()
    {
        Lock lock(&m_cs);
        return m_wide;
    }
    bool HasNarrow(const std::string& text)
    {
        for (const auto& line : Narrow())
            if (line == text) return true;
        return false;
    }

private:
    // std::mutex is missing with the win32 thread model of the toolchain.
    struct Lock {
        explicit Lock(CRITICAL_SECTION* cs) : m_p(cs) { EnterCriticalSection(m_p); }
        ~Lock() { LeaveCriticalSection(m_p); }
        CRITICAL_SECTION* m_p;
    };
    static DebugOutputCapture*& Instance()
    {
        static DebugOutputCapture* instance = nullptr;
        return instance;
    }
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info)
    {
        constexpr DWORD kPrintA = 0x40010006;     // DBG_PRINTEXCEPTION_C
        constexpr DWORD kPrintW = 0x4001000A;     // DBG_PRINTEXCEPTION_WIDE_C
        DebugOutputCapture* self = Instance();
        const EXCEPTION_RECORD* rec = info->ExceptionRecord;
        if (!self || rec->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
        if (rec->ExceptionCode == kPrintA) {
            const char* text = reinterpret_cast<const char*>(rec->ExceptionInformation[1]);
            size_t len = static_cast<size_t>(rec->ExceptionInformation[0]);
            if (text && len) {
                Lock lock(&self->m_cs);
                self->m_narrow.emplace_back(text, len - 1);
            }
        } else if (rec->ExceptionCode == kPrintW) {
            const wchar_t* text = reinterpret_cast<const wchar_t*>(rec->ExceptionInformation[1]);
            size_t len = static_cast<size_t>(rec->ExceptionInformation[0]);
            if (text && len) {
                Lock lock(&self->m_cs);
                self->m_wide.emplace_back(text, len - 1);
            }
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    PVOID m_hHandler = nullptr;
    CRITICAL_SECTION m_cs;
    std::vector<std::string> m_narrow;
    std::vector<std::wstring> m_wide;
};

}  // namespace httptest
