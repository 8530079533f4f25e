#include "SelfDelete.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "Owners.h"
#include "PathUtils.h"
#include "Product.h"

namespace {

constexpr wchar_t kScriptTemplate[] =
    L":Repeat\r\ndel \"%ls\"\r\nif exist \"%ls\" goto Repeat\r\nrd /q /s \"%ls\" \r\ndel \"%ls\"";
constexpr size_t kScriptChars = 4096;

// Tries before giving up when every generated name already exists.
constexpr int kFolderAttempts = 8;

// Fallbacks: the same list without owner, for a token that may not make
// Administrators the owner; and each without the OWNER RIGHTS entry, for
// systems that lack that alias (XP).
constexpr wchar_t kSddlNoOwnerRights[] = L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kSddlUnowned[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)";
constexpr wchar_t kSddlUnownedNoOwnerRights[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

SelfDeleteFolderMaker g_pfnMakeFolder = CreateDirectoryW;

// The first of two access lists that this system understands.
class LocalSecurityDescriptor {
public:
    LocalSecurityDescriptor(const wchar_t* sddl, const wchar_t* fallback)
    {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &m_pSd, nullptr))
            ConvertStringSecurityDescriptorToSecurityDescriptorW(fallback, SDDL_REVISION_1, &m_pSd, nullptr);
        m_sa.nLength = sizeof(m_sa);
        m_sa.lpSecurityDescriptor = m_pSd;
        m_sa.bInheritHandle = FALSE;
    }
    ~LocalSecurityDescriptor()
    {
        if (m_pSd)
            LocalFree(m_pSd);
    }
    LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
    LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return m_pSd ? &m_sa : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_pSd = nullptr;
    SECURITY_ATTRIBUTES m_sa = {};
};

// An elevated program's folder is locked down; for anyone else the other
// processes of the same user have the same rights anyway.
bool IsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, admins, &member))
        member = FALSE;
    FreeSid(admins);
    return member != FALSE;
}

std::wstring RandomFolderName()
{
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid)))
        return std::wstring();
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    std::wstring name(text);
    if (name.size() > 2 && name.front() == L'{' && name.back() == L'}')
        name = name.substr(1, name.size() - 2);
    return Product::kSelfDeleteFolderPrefix + name;
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 1 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// The script removes programDir with everything in it, so that must be the
// very folder that holds the program, and never a drive's root.
bool IsProgramsOwnFolder(const std::wstring& programPath, const std::wstring& programDir)
{
    const std::wstring::size_type slash = programPath.rfind(L'\\');
    if (slash == std::wstring::npos || programDir.empty())
        return false;
    const std::wstring holder = FullPath(programPath.substr(0, slash + 1));
    const std::wstring folder = FullPath(programDir + L"\\");
    if (holder.empty() || folder.empty())
        return false;
    if (holder.size() < kPathChars && PathIsRootW(holder.c_str()))
        return false;
    return _wcsicmp(holder.c_str(), folder.c_str()) == 0;
}

}  // namespace

std::string FormatSelfDeleteScript(const std::wstring& programPath, const std::wstring& programDir,
                                   const std::wstring& scriptPath)
{
    // _snwprintf rather than wsprintfW, whose output stops at 1024 characters.
    wchar_t szScript[kScriptChars] = {};
    _snwprintf(szScript, kScriptChars - 1, kScriptTemplate, programPath.c_str(), programPath.c_str(),
               programDir.c_str(), scriptPath.c_str());
    return ToNarrow(szScript);
}

SelfDeleteFolderMaker SetSelfDeleteFolderMaker(SelfDeleteFolderMaker maker)
{
    SelfDeleteFolderMaker previous = g_pfnMakeFolder;
    g_pfnMakeFolder = maker ? maker : CreateDirectoryW;
    return previous;
}

std::wstring WriteSelfDeleteScript(const std::wstring& tempDir, const std::wstring& programPath,
                                   const std::wstring& programDir,
                                   const std::function<std::wstring()>& nameSource)
{
    if (!IsProgramsOwnFolder(programPath, programDir))
        return std::wstring();
    const std::wstring base = WithoutTrailingBackslash(tempDir);
    const bool bLockDown = IsAdministrator();
    LocalSecurityDescriptor owned(kSelfDeleteFolderSddl, kSddlNoOwnerRights);
    LocalSecurityDescriptor unowned(kSddlUnowned, kSddlUnownedNoOwnerRights);
    if (bLockDown && !owned.Attributes() && !unowned.Attributes())
        return std::wstring();

    std::wstring folder;
    for (int attempt = 0; attempt < kFolderAttempts && folder.empty(); ++attempt) {
        const std::wstring name = nameSource ? nameSource() : RandomFolderName();
        if (name.empty())
            return std::wstring();
        const std::wstring candidate = PathJoin(base, name);
        BOOL made = FALSE;
        if (!bLockDown) {
            made = g_pfnMakeFolder(candidate.c_str(), nullptr);
        } else {
            made = owned.Attributes() && g_pfnMakeFolder(candidate.c_str(), owned.Attributes());
            if (!made && (!owned.Attributes() || GetLastError() == ERROR_INVALID_OWNER) && unowned.Attributes())
                made = g_pfnMakeFolder(candidate.c_str(), unowned.Attributes());
        }
        if (made)
            folder = candidate;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
    if (folder.empty())
        return std::wstring();

    const std::wstring scriptPath = PathJoin(folder, Product::kSelfDeleteScript);
    const std::string text = FormatSelfDeleteScript(programPath, programDir, scriptPath);
    bool written = false;
    {
        AutoCloseHandle file(CreateFileW(scriptPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid()) {
            DWORD done = 0;
            written = WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                      done == text.size();
        }
    }
    if (!written) {
        DeleteFileW(scriptPath.c_str());
        RemoveDirectoryW(folder.c_str());
        return std::wstring();
    }
    // The script deletes itself but not its folder; the empty folder goes at
    // the next restart.
    MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return scriptPath;
}

void ScheduleSelfDelete()
{
    wchar_t szTemp[kPathChars] = {};
    DWORD n = GetTempPathW(kPathChars, szTemp);
    if (n == 0 || n >= kPathChars)
        return;

    // A program path cut short would leave a parent folder to remove.
    const std::wstring program = GetModulePath();
    const std::wstring programDir = GetModuleDir();
    if (program.empty() || programDir.empty())
        return;
    const std::wstring scriptPath = WriteSelfDeleteScript(szTemp, program, programDir);
    if (scriptPath.empty())
        return;

    // The script is started without a working folder and inherits this one,
    // which must not be the folder that it removes.
    SetCurrentDirectoryW(szTemp);
    ShellExecuteW(nullptr, L"open", scriptPath.c_str(), nullptr, nullptr, SW_HIDE);
}
