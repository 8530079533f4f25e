// UninstallService against the stand-in service "KeloPdfReaderSvr" in each
// state it can be found in. Runs in a prefix of its own (the product's
// service name). The routine's messages go to standard output, which the
// tests catch in a file.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "InstallTestSupport.h"
#include "Product.h"
#include "ServiceRemoval.h"

using namespace installtest;

namespace {

// Catches what is written to standard output while it lives.
class StdoutCapture {
public:
    StdoutCapture()
    {
        fflush(stdout);
        m_path = ToNarrow(TempRoot()) + "\\kelo_svc_stdout_" + std::to_string(GetCurrentProcessId()) + ".txt";
        m_saved = _dup(_fileno(stdout));
        FILE* f = fopen(m_path.c_str(), "wb");
        _dup2(_fileno(f), _fileno(stdout));
        fclose(f);
    }
    ~StdoutCapture() { Restore(); }

    std::string Text()
    {
        Restore();
        FILE* f = fopen(m_path.c_str(), "rb");
        std::string text;
        if (f) {
            char buf[1024];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
                text.append(buf, n);
            fclose(f);
        }
        remove(m_path.c_str());
        return text;
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        fflush(stdout);
        _dup2(m_saved, _fileno(stdout));
        _close(m_saved);
        m_saved = -1;
    }

    std::string m_path;
    int m_saved = -1;
};

// Whether the service manager still knows the service (a service that is
// marked for deletion still counts until it is gone).
bool ServiceExists()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, Product::kServiceName, SERVICE_QUERY_STATUS);
    const DWORD error = GetLastError();
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

TEST(UninstallService, NotInstalledGivesFalseWithoutAMessage)
{
    ASSERT_FALSE(ServiceExists());
    StdoutCapture out;
    EXPECT_FALSE(UninstallService(Product::kServiceName));
    EXPECT_EQ(out.Text(), "");
}

TEST(UninstallService, StoppedServiceIsDeletedWithoutAStopRequest)
{
    {
        StandinService service;
        ASSERT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
        StdoutCapture out;
        EXPECT_TRUE(UninstallService(Product::kServiceName));
        EXPECT_EQ(out.Text(), "Uninstall Service Success!\n");
    }
    EXPECT_TRUE(WaitFor([] { return !ServiceExists(); }, 10000));
}

TEST(UninstallService, RunningServiceThatRefusesToStopStaysInstalled)
{
    StandinService service;
    ASSERT_TRUE(service.Start(L"stop=refuse"));
    StdoutCapture out;
    EXPECT_FALSE(UninstallService(Product::kServiceName));
    const std::string text = out.Text();

    int code = 0;
    char tail[8] = {};
    ASSERT_EQ(sscanf(text.c_str(), "Stop Service failed:%d%7s", &code, tail), 2) << text;
    EXPECT_EQ(std::string(tail), "!");
    EXPECT_EQ(text, "Stop Service failed:" + std::to_string(code) + "!\n");
    EXPECT_EQ(code, ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(ServiceExists());
}

TEST(UninstallService, RunningServiceIsStoppedAndDeletedWithoutWaitingForIt)
{
    {
        StandinService service;
        // Answers the stop with stop-pending and reaches stopped 1.2 s later.
        ASSERT_TRUE(service.Start(L"stop=hint"));
        StdoutCapture out;
        EXPECT_TRUE(UninstallService(Product::kServiceName));
        // Returned while the service was still on its way down.
        EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOP_PENDING));
        EXPECT_EQ(out.Text(), "Uninstall Service Success!\n");
        EXPECT_TRUE(WaitFor([&] { return service.State() == SERVICE_STOPPED; }, 10000));
    }
    // Windows removes it once it has stopped and the last handle is closed.
    EXPECT_TRUE(WaitFor([] { return !ServiceExists(); }, 10000));
}

}  // namespace
