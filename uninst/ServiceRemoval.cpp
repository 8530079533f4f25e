#include "ServiceRemoval.h"

#include <windows.h>

#include <cstdio>

namespace {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE h) : m_h(h) {}
    ~ServiceHandle()
    {
        if (m_h)
            CloseServiceHandle(m_h);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    SC_HANDLE m_h;
};

}  // namespace

bool UninstallService(const wchar_t* serviceName)
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    ServiceHandle service(OpenServiceW(manager.Get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service)
        return false;

    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status))
        return false;
    if (status.dwCurrentState != SERVICE_STOPPED) {
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            printf("Stop Service failed:%d!\n", static_cast<int>(GetLastError()));
            fflush(stdout);
            return false;
        }
    }

    if (DeleteService(service.Get()))
        printf("Uninstall Service Success!\n");
    else
        printf("Uninstall Service failed:%d!\n", static_cast<int>(GetLastError()));
    fflush(stdout);
    return true;
}
