// Stands in for the uninstaller in the engine tests: copied into the
// installation folder as "Uninst.exe" and started from there, it runs
// CUninstMgr on that folder as the uninstall dialog does, with a message-only
// window that collects the progress records, and writes what happened to a
// file (UTF-8 lines):
//   start <tick>
//   record <tick> <percent> <status> <text>
//   firewall <call>            (the policy double's journal)
//   rule-left <name>           (rules still there afterwards)
//   end <tick>
//
//   Uninst.exe <result file> window|nowindow
// "window" publishes the window in g_hUninstWnd; "nowindow" leaves it null.
// The firewall double starts with rules named after the display name,
// "Trevalo" and "Other rule".
#include <windows.h>

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Firewall.h"
#include "FirewallFakes.h"
#include "PathUtils.h"
#include "Product.h"
#include "RegSettings.h"
#include "UninstMgr.h"

namespace {

struct Arrival {
    DWORD tick;
    int percent;
    int status;
    std::wstring text;
};

std::vector<Arrival> g_arrivals;

LRESULT CALLBACK SinkProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_UNINST_PROGRESS) {
        std::unique_ptr<UninstProgress> record(reinterpret_cast<UninstProgress*>(wParam));
        g_arrivals.push_back({GetTickCount(), record->percent, record->status, record->text});
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring resultFile = argv[1];
    const bool publish = std::wstring(argv[2]) == L"window";

    // Like the real uninstaller, this program has the HTTP library loaded
    // from its own folder while the files are deleted.
    if (!curl_version())
        return 3;

    firewalltest::FakeFirewall fw;
    fw.Existing(ReadProductValue(Product::kValAppName), VARIANT_TRUE);
    fw.Existing(Product::kOldFirewallRule, VARIANT_TRUE);
    fw.Existing(L"Other rule", VARIANT_TRUE);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KeloUninstHostSink";
    RegisterClassW(&wc);
    HWND sink = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (publish)
        g_hUninstWnd = sink;

    const DWORD start = GetTickCount();
    {
        CUninstMgr mgr;
        mgr.installDir = GetModuleDir();
        mgr.firewallFactory = [&fw] {
            return std::unique_ptr<CFirewallSettings>(new CFirewallSettings(&fw.policy));
        };
        mgr.BeginUnInstallThread();
        if (mgr.threadHandle == INVALID_HANDLE_VALUE)
            return 4;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            if (MsgWaitForMultipleObjects(1, &mgr.threadHandle, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0)
                break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    const DWORD end = GetTickCount();
    DestroyWindow(sink);

    FILE* out = _wfopen(resultFile.c_str(), L"wb");
    if (!out)
        return 5;
    fprintf(out, "start %lu\n", static_cast<unsigned long>(start));
    for (const Arrival& a : g_arrivals)
        fprintf(out, "record %lu %d %d %s\n", static_cast<unsigned long>(a.tick), a.percent, a.status,
                Utf8(a.text).c_str());
    for (const std::wstring& call : fw.journal.calls)
        fprintf(out, "firewall %s\n", Utf8(call).c_str());
    for (INetFwRule* rule : fw.rules.rules)
        fprintf(out, "rule-left %s\n",
                Utf8(static_cast<firewalltest::FakeRule*>(static_cast<INetFwRule2*>(rule))->name).c_str());
    fprintf(out, "end %lu\n", static_cast<unsigned long>(end));
    fclose(out);
    return 0;
}
