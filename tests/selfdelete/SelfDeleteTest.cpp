// Deferred self-deletion: the script's bytes, where it is written, who may
// touch it there, and a real run by the command interpreter.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "PathUtils.h"
#include "Product.h"
#include "SelfDelete.h"

namespace {

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring TempDir()
{
    wchar_t sz[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, sz);
    std::wstring dir(sz);
    if (!dir.empty() && dir.back() == L'\\')
        dir.pop_back();
    return dir;
}

std::set<std::wstring> PrivateFolders(const std::wstring& dir)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\" + Product::kSelfDeleteFolderPrefix + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            names.insert(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

// A folder of its own under the temporary folder for each test.
class SelfDeleteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir = TempDir() + L"\\kelo sd " + std::to_wstring(GetCurrentProcessId()) + L" " + ToWide(name);
        RemoveDirTree(dir);
        ASSERT_TRUE(CreateDirTree(dir));
    }
    void TearDown() override { RemoveDirTree(dir); }

    std::wstring dir;
};

TEST(SelfDeleteScript, IsFiveCrLfLinesWithTheBlankAfterTheFolder)
{
    const std::string text = FormatSelfDeleteScript(L"C:\\Program Files\\Kelo PDF\\Uninst.exe",
                                                    L"C:\\Program Files\\Kelo PDF",
                                                    L"C:\\Temp\\KeloSelfDelete-X\\_uninstall_acc.bat");
    EXPECT_EQ(text,
              ":Repeat\r\n"
              "del \"C:\\Program Files\\Kelo PDF\\Uninst.exe\"\r\n"
              "if exist \"C:\\Program Files\\Kelo PDF\\Uninst.exe\" goto Repeat\r\n"
              "rd /q /s \"C:\\Program Files\\Kelo PDF\" \r\n"
              "del \"C:\\Temp\\KeloSelfDelete-X\\_uninstall_acc.bat\"");
}

TEST(SelfDeleteScript, PathsAreWrittenInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 936u) << "the tests run with the Chinese code page";
    // 阅读器 is D4 C4 B6 C1 C6 F7 in code page 936.
    const std::string text = FormatSelfDeleteScript(L"D:\\阅读器\\Update.exe", L"D:\\阅读器", L"D:\\t\\s.bat");
    EXPECT_EQ(text,
              ":Repeat\r\n"
              "del \"D:\\\xD4\xC4\xB6\xC1\xC6\xF7\\Update.exe\"\r\n"
              "if exist \"D:\\\xD4\xC4\xB6\xC1\xC6\xF7\\Update.exe\" goto Repeat\r\n"
              "rd /q /s \"D:\\\xD4\xC4\xB6\xC1\xC6\xF7\" \r\n"
              "del \"D:\\t\\s.bat\"");
}

TEST(SelfDeleteScript, LongPathsAreNotCutShort)
{
    // Four paths near the 260-character limit: more than the 1024 characters
    // that wsprintfW would stop at.
    const std::wstring folder = L"C:\\" + std::wstring(240, L'a');
    const std::wstring program = folder + L"\\Uninst.exe";
    const std::wstring script = L"C:\\" + std::wstring(250, L'b') + L"\\_uninstall_acc.bat";
    const std::string text = FormatSelfDeleteScript(program, folder, script);
    EXPECT_EQ(text.size(), 62 + 2 * program.size() + folder.size() + script.size());
    EXPECT_EQ(text.substr(text.size() - script.size() - 1), ToNarrow(script) + "\"");
}

TEST_F(SelfDeleteTest, ScriptGoesIntoANewFolderOfItsOwn)
{
    const std::wstring program = dir + L"\\app\\Uninst.exe";
    const std::wstring first = WriteSelfDeleteScript(dir, program, dir + L"\\app");
    const std::wstring second = WriteSelfDeleteScript(dir + L"\\", program, dir + L"\\app");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());

    for (const std::wstring& script : {first, second}) {
        const std::wstring folder = script.substr(0, script.rfind(L'\\'));
        EXPECT_EQ(folder.substr(0, folder.rfind(L'\\')), dir);
        EXPECT_EQ(folder.substr(folder.rfind(L'\\') + 1, wcslen(Product::kSelfDeleteFolderPrefix)),
                  Product::kSelfDeleteFolderPrefix);
        EXPECT_EQ(script.substr(script.rfind(L'\\') + 1), Product::kSelfDeleteScript);
        EXPECT_EQ(ReadBytes(script), FormatSelfDeleteScript(program, dir + L"\\app", script));
    }
    // Unpredictable: every call makes another folder.
    EXPECT_NE(first.substr(0, first.rfind(L'\\')), second.substr(0, second.rfind(L'\\')));
    EXPECT_FALSE(Exists(dir + L"\\" + Product::kSelfDeleteScript));
}

TEST_F(SelfDeleteTest, PlantedFolderOrScriptIsNeverUsed)
{
    // Someone guessed the next folder name and put a script into it, and put
    // one under the well-known name beside it.
    const std::string planted = "echo planted> \"%TEMP%\\planted.txt\"";
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\guessed").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(dir + L"\\guessed\\" + Product::kSelfDeleteScript, planted));
    ASSERT_TRUE(WriteBytes(dir + L"\\" + Product::kSelfDeleteScript, planted));

    std::vector<std::wstring> names = {L"guessed", L"fresh"};
    size_t next = 0;
    const std::wstring script = WriteSelfDeleteScript(dir, L"C:\\x\\a.exe", L"C:\\x", [&] {
        return next < names.size() ? names[next++] : std::wstring();
    });

    EXPECT_EQ(script, dir + L"\\fresh\\" + Product::kSelfDeleteScript);
    EXPECT_EQ(ReadBytes(script), FormatSelfDeleteScript(L"C:\\x\\a.exe", L"C:\\x", script));
    EXPECT_EQ(ReadBytes(dir + L"\\guessed\\" + Product::kSelfDeleteScript), planted);
    EXPECT_EQ(ReadBytes(dir + L"\\" + Product::kSelfDeleteScript), planted);
}

TEST_F(SelfDeleteTest, NothingIsWrittenWhenEveryNameIsTaken)
{
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\taken").c_str(), nullptr));
    int calls = 0;
    const std::wstring script = WriteSelfDeleteScript(dir, L"C:\\x\\a.exe", L"C:\\x", [&] {
        ++calls;
        return std::wstring(L"taken");
    });
    EXPECT_TRUE(script.empty());
    EXPECT_GT(calls, 1);
    EXPECT_LT(calls, 100);
    EXPECT_FALSE(Exists(dir + L"\\taken\\" + Product::kSelfDeleteScript));
}

TEST_F(SelfDeleteTest, NoScriptNamesAFolderOtherThanTheProgramsOwn)
{
    struct Case {
        const wchar_t* program;
        const wchar_t* folder;
        bool written;
    } cases[] = {
        {L"C:\\x\\a.exe", L"C:\\x", true},
        {L"C:\\X\\a.exe", L"c:\\x", true},
        {L"C:\\x\\..\\y\\a.exe", L"C:\\y", true},
        {L"C:\\x\\y\\a.exe", L"C:\\x", false},  // a parent folder
        {L"C:\\x\\a.exe", L"C:\\x\\y", false},
        {L"C:\\x\\a.exe", L"D:\\x", false},
        {L"C:\\a.exe", L"C:", false},  // the drive's root
        {L"C:\\a.exe", L"C:\\", false},
        {L"C:\\x\\a.exe", L"", false},
        {L"", L"C:\\x", false},
        {L"a.exe", L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToNarrow(std::wstring(c.program) + L" in " + c.folder));
        const std::set<std::wstring> before = PrivateFolders(dir);
        const std::wstring script = WriteSelfDeleteScript(dir, c.program, c.folder);
        EXPECT_EQ(!script.empty(), c.written);
        if (!c.written) {
            EXPECT_EQ(PrivateFolders(dir), before) << "nothing is made for a refused script";
        }
    }
}

// Whether a token of this user gets `desired` to an object with this
// security descriptor. elevated false: as in a program of the same user
// that is not elevated, the Administrators membership only denies and the
// administrator's privileges are gone.
bool MayAccess(PSECURITY_DESCRIPTOR sd, DWORD desired, bool elevated)
{
    HANDLE process = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins);
    SID_AND_ATTRIBUTES disable = {admins, 0};
    HANDLE token = nullptr;
    if (elevated) {
        EXPECT_TRUE(DuplicateToken(process, SecurityImpersonation, &token));
    } else {
        HANDLE restricted = nullptr;
        EXPECT_TRUE(
            CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, nullptr, 0, nullptr, &restricted));
        EXPECT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &token));
        CloseHandle(restricted);
    }

    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(AccessCheck(sd, token, desired, &mapping, &privileges, &privilegesSize, &granted, &allowed));

    CloseHandle(token);
    CloseHandle(process);
    FreeSid(admins);
    return allowed != FALSE;
}

// The security descriptor the last private folder was made with, in its
// self-relative string form.
std::wstring g_madeWithSddl;

BOOL WINAPI RecordingFolderMaker(LPCWSTR path, LPSECURITY_ATTRIBUTES sa)
{
    g_madeWithSddl.clear();
    LPWSTR text = nullptr;
    if (sa && sa->lpSecurityDescriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sa->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        g_madeWithSddl = text;
        LocalFree(text);
    }
    return CreateDirectoryW(path, sa);
}

TEST_F(SelfDeleteTest, OnlyAdministratorsMayAddReplaceOrDeleteInTheFolderMade)
{
    // Wine keeps no access list on files and enforces none, so the folder's
    // list is taken where the program makes the folder, and the access is
    // judged by AccessCheck against it; Windows applies it to the folder
    // and, inherited, to the script.
    const SelfDeleteFolderMaker previous = SetSelfDeleteFolderMaker(RecordingFolderMaker);
    const std::wstring script = WriteSelfDeleteScript(dir, dir + L"\\app\\Uninst.exe", dir + L"\\app");
    SetSelfDeleteFolderMaker(previous);
    ASSERT_FALSE(script.empty());
    ASSERT_FALSE(g_madeWithSddl.empty()) << "the folder was made without an access list";

    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(g_madeWithSddl.c_str(), SDDL_REVISION_1, &sd,
                                                                     nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder would inherit its parent's access list";

    const DWORD rights[] = {FILE_ADD_FILE, FILE_DELETE_CHILD, FILE_WRITE_DATA, FILE_APPEND_DATA,
                            DELETE,        WRITE_DAC,         WRITE_OWNER};
    for (DWORD right : rights) {
        EXPECT_FALSE(MayAccess(sd, right, false)) << std::hex << right;
        EXPECT_TRUE(MayAccess(sd, right, true)) << std::hex << right;
    }
    // The elevated program itself reads and runs the script.
    EXPECT_TRUE(MayAccess(sd, FILE_READ_DATA | FILE_EXECUTE, true));
    LocalFree(sd);
}

// Starts the probe program from `folder` and waits for it to exit.
void RunProbe(const std::wstring& folder)
{
    const std::wstring probe = folder + L"\\probe.exe";
    ASSERT_TRUE(CopyFileW((GetModuleDir() + L"\\selfdelete_probe.exe").c_str(), probe.c_str(), FALSE));
    std::wstring cmd = L"\"" + probe + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(probe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

bool WaitGone(const std::vector<std::wstring>& paths, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        bool any = false;
        for (const auto& p : paths)
            any = any || Exists(p);
        if (!any)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
}

class SelfDeleteRunTest : public SelfDeleteTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(SelfDeleteRunTest, ProgramItsFolderAndTheScriptAreGoneAfterItExits)
{
    const std::wstring temp = TempDir();
    const std::wstring app = dir + L"\\" + GetParam();
    ASSERT_TRUE(CreateDirTree(app + L"\\sub folder"));
    ASSERT_TRUE(WriteBytes(app + L"\\sub folder\\data.bin", "data"));
    ASSERT_TRUE(WriteBytes(app + L"\\config.ini", "[MACHINE]\r\n"));
    // A script planted under the old well-known name must not be what runs.
    const std::wstring planted = temp + L"\\" + Product::kSelfDeleteScript;
    const std::wstring marker = dir + L"\\planted ran.txt";
    const std::string plantedText = "echo planted> \"" + ToNarrow(marker) + "\"\r\n";
    ASSERT_TRUE(WriteBytes(planted, plantedText));

    const std::set<std::wstring> before = PrivateFolders(temp);
    RunProbe(app);
    const std::set<std::wstring> after = PrivateFolders(temp);
    std::vector<std::wstring> made;
    for (const auto& name : after)
        if (!before.count(name))
            made.push_back(temp + L"\\" + name);
    ASSERT_EQ(made.size(), 1u) << "the probe made one private folder";
    const std::wstring script = made[0] + L"\\" + Product::kSelfDeleteScript;

    EXPECT_TRUE(WaitGone({app + L"\\probe.exe", app, script}, 30000))
        << "still there: " << Exists(app + L"\\probe.exe") << Exists(app) << Exists(script);
    EXPECT_FALSE(Exists(dir + L"\\" + GetParam()));
    EXPECT_TRUE(Exists(dir));  // only the program's own folder goes
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(ReadBytes(planted), plantedText);
    DeleteFileW(planted.c_str());
    RemoveDirectoryW(made[0].c_str());
}

INSTANTIATE_TEST_SUITE_P(Folders, SelfDeleteRunTest,
                         ::testing::Values(L"Program Files\\Kelo PDF", L"阅读器 安装"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return info.index == 0 ? std::string("WithBlanks") : std::string("WithChinese");
                         });

}  // namespace
