// Entry of the setup program: one running copy, the skin and the log set up,
// the parent program's name kept for the channel, then the wizard window and
// the message loop until the wizard is closed.
#include <windows.h>

#include <string>

#include "CrashGuard.h"
#include "DllGuard.h"
#include "InstallMgr.h"
#include "IniSettings.h"
#include "Log.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Product.h"
#include "SetupDlg.h"
#include "SingleInstance.h"

// A setup program is usually started from a download folder, where anybody
// may have put a DLL named like a system one. Before any other static
// initialisation.
static DllSearchGuardInstaller g_DllSearchGuard __attribute__((init_priority(101)));
// An unhandled exception becomes "<program>.dmp" beside the program.
static CrashGuardInstaller g_CrashGuard;

namespace {

const wchar_t kLogSource[] = L"Main";

// The first members of the kernel's PROCESS_BASIC_INFORMATION (pointer-sized
// fields: 24 bytes for a 32-bit process, 48 for a 64-bit one).
struct ProcessBasicInfo {
    LONG_PTR ExitStatus;
    PVOID PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG_PTR BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
};

struct UnicodeText {
    USHORT Length;  // bytes, without the terminating zero
    USHORT MaximumLength;
    PWSTR Buffer;
};

const ULONG kProcessBasicInformation = 0;
const ULONG kProcessImageFileName = 27;
const size_t kImageNameBytes = 512;

typedef LONG(WINAPI* NtQueryInformationProcessFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// NtQueryInformationProcess looked up for this one query; -1 when ntdll or
// the function cannot be had.
LONG QueryProcess(HANDLE hProcess, ULONG infoClass, PVOID pInfo, ULONG cbInfo) {
    const ScopedModule ntdll(::LoadLibraryW(L"ntdll.dll"));
    if (!ntdll) return -1;
    NtQueryInformationProcessFn pfn = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll.Get(), "NtQueryInformationProcess")));
    return pfn != NULL ? pfn(hProcess, infoClass, pInfo, cbInfo, NULL) : -1;
}

// The parent's process id and its image file name in the kernel's device
// form ("\Device\HarddiskVolume2\...\name.exe"); each is left as it was
// when it cannot be read.
void GetParentPIDAndName(DWORD& dwParentId, std::wstring& strName) {
    AutoCloseHandle self(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (self.Get() == NULL) return;
    ProcessBasicInfo pbi = {};
    if (QueryProcess(self.Get(), kProcessBasicInformation, &pbi, sizeof(pbi)) < 0) return;
    dwParentId = static_cast<DWORD>(pbi.InheritedFromUniqueProcessId);

    AutoCloseHandle parent(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwParentId));
    if (parent.Get() == NULL) return;
    // The text follows the UNICODE_STRING inside the buffer; the extra
    // character keeps it terminated whatever the kernel wrote.
    union {
        UnicodeText text;
        BYTE bytes[kImageNameBytes + sizeof(wchar_t)];
    } buffer;
    ZeroMemory(&buffer, sizeof(buffer));
    if (QueryProcess(parent.Get(), kProcessImageFileName, &buffer, kImageNameBytes) < 0) return;
    const BYTE* pBegin = buffer.bytes;
    const BYTE* pEnd = buffer.bytes + kImageNameBytes;
    const BYTE* pText = reinterpret_cast<const BYTE*>(buffer.text.Buffer);
    if (pText < pBegin + sizeof(UnicodeText) || pText >= pEnd) return;
    const size_t nMaxChars = static_cast<size_t>(pEnd - pText) / sizeof(wchar_t);
    const wchar_t* pChars = reinterpret_cast<const wchar_t*>(pText);
    size_t n = 0;
    while (n < nMaxChars && n * sizeof(wchar_t) < buffer.text.Length && pChars[n] != 0) ++n;
    strName.assign(pChars, n);
}

// The parent's file name without folder and without its last four
// characters (".exe"); a name without a backslash (or with its only one at
// the start) is kept whole.
std::wstring ParentNameForChannel(const std::wstring& strImage) {
    const size_t pos = strImage.rfind(L'\\');
    if (pos == std::wstring::npos || pos == 0) return strImage;
    std::wstring strFile = strImage.substr(pos + 1);
    if (strFile.size() >= 4) strFile.erase(strFile.size() - 4);
    else strFile.clear();
    return strFile;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/, int /*nCmdShow*/) {
    DuiLib::StartupMark(L"entry");
    const std::wstring strTitle = ReadInstallIni(Product::kKeyAppName) + Product::kSetupTitleSuffix;
    if (IsAnotherInstanceRunning(Product::kSetupMutex, strTitle.c_str())) return 0;

    // The install engine takes the current directory for the setup folder.
    ::SetCurrentDirectoryW(GetModuleDir().c_str());

    DuiLib::CPaintManagerUI::SetInstance(hInstance);
    const std::wstring strSkinPath =
        std::wstring(DuiLib::CPaintManagerUI::GetInstancePath()) + L"SetupSkin";
    DuiLib::CPaintManagerUI::SetResourcePath(strSkinPath.c_str());

    CWndShadow::Initialize(hInstance);

    wchar_t szTemp[kPathChars] = {0};
    ::GetTempPathW(kPathChars, szTemp);
    const std::wstring strLogFolder = FormatW(L"%s%s", szTemp, Product::kLogFolderName);
    if (LongPathExists(strLogFolder) != 0) LongPathMkdir(strLogFolder);
    CLog::GetInstance().Init(ToNarrow(strLogFolder).c_str(), ToNarrow(Product::kInstallLog).c_str());

    DWORD dwParentId = 0;
    std::wstring strParentImage;
    GetParentPIDAndName(dwParentId, strParentImage);
    if (dwParentId == 0) {
        WriteLog(LOG_ERROR, kLogSource, __LINE__, L"WinMain", L"%s GetParentPIDAndName--> err code: %d",
                 L"WinMain", static_cast<int>(::GetLastError()));
    } else {
        g_strParentName = ParentNameForChannel(strParentImage);
    }

    CSetupDlg* pDlg = new CSetupDlg;
    // WS_VISIBLE | WS_OVERLAPPEDWINDOW; WS_EX_APPWINDOW | WS_EX_STATICEDGE.
    if (pDlg->Create(NULL, strTitle.c_str(), 0x10CF0000, 0x00060000, 0, 0, 710, 470, NULL) == NULL) {
        WriteLog(LOG_ERROR, kLogSource, __LINE__, L"WinMain", L"%s create window err code: %d",
                 L"WinMain", static_cast<int>(::GetLastError()));
        return 0;
    }
    DuiLib::StartupMark(L"created");
    pDlg->CenterWindow();
    ::ShowWindow(pDlg->GetHWND(), SW_SHOW);
    DuiLib::StartupMark(L"shown");
    DuiLib::CPaintManagerUI::MessageLoop();
    return 0;
}
