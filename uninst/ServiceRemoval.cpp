#include "ServiceRemoval.h"

#include <windows.h>

#include <cstdio>

#include "Owners.h"

bool UninstallService(const wchar_t* serviceName)
{
    AutoCloseServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    AutoCloseServiceHandle service(OpenServiceW(manager.Get(), serviceName, SERVICE_ALL_ACCESS));
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
