// Helper program of the crash-guard tests: installs the guard from static
// initialisation, like the setup program and the updater, then fails as asked:
//   purecall | fault | throw
#include <windows.h>
#include <shellapi.h>

#include <stdexcept>
#include <string>

#include "CrashGuard.h"

static CrashGuardInstaller g_CrashGuard;

// Outside an anonymous namespace and built with -fno-devirtualize, so that the
// compiler cannot see the whole hierarchy and call Derived::Pure directly.
struct Base {
    Base() { CallPure(); }
    virtual ~Base() = default;
    virtual void Pure() = 0;
    // Out of line so that the call goes through the table while only Base's part exists.
    __attribute__((noinline)) void CallPure()
    {
        Base* volatile self = this;
        self->Pure();
    }
};

struct Derived : Base {
    void Pure() override {}
};

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring mode = argc >= 2 ? argv[1] : L"";
    LocalFree(argv);
    if (mode == L"purecall") {
        Derived d;
    } else if (mode == L"fault") {
        *static_cast<volatile int*>(nullptr) = 1;
    } else if (mode == L"throw") {
        throw std::runtime_error("not caught");
    }
    return 0;
}
