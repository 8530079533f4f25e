#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>

#include "CommonTestUtil.h"
#include "IniSettings.h"
#include "PathUtils.h"
#include "Product.h"
#include "RegSettings.h"

namespace {

// Every test works below a key of its own under HKLM\SOFTWARE.
class RegFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = ct::UniqueName(L"KeloTest");
        m_key = std::wstring(L"SOFTWARE\\") + m_name;
    }
    void TearDown() override
    {
        CRegSettings software(HKEY_LOCAL_MACHINE, L"SOFTWARE", false, false);
        software.DeleteKeyTree(m_name.c_str());
    }
    // Opens the key the way a 32-bit program's view places it, seen from the native view.
    static bool ExistsNative(const std::wstring& path)
    {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
    std::wstring m_name;
    std::wstring m_key;
};

TEST_F(RegFixture, OpenCreatesTheKeyInTheProgramsView)
{
    {
        CRegSettings reg(HKEY_LOCAL_MACHINE, m_key.c_str());
        ASSERT_TRUE(reg.IsOpen());
        EXPECT_EQ(reg.GetAccess(), static_cast<REGSAM>(0xF003F));
        EXPECT_TRUE(reg.WriteString(L"probe", L"1"));
    }
#ifdef _WIN64
    // A 64-bit build sees the native view.
    EXPECT_TRUE(ExistsNative(m_key));
    EXPECT_FALSE(ExistsNative(L"SOFTWARE\\WOW6432Node\\" + m_name));
#else
    // The 32-bit programs land in the redirected branch on 64-bit Windows.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (wow64) {
        EXPECT_TRUE(ExistsNative(L"SOFTWARE\\WOW6432Node\\" + m_name));
        EXPECT_FALSE(ExistsNative(m_key));
    } else {
        EXPECT_TRUE(ExistsNative(m_key));
    }
#endif
    CRegSettings view64(HKEY_LOCAL_MACHINE, m_key.c_str(), true, false);
    EXPECT_EQ(view64.GetAccess(), static_cast<REGSAM>(0xF013F));
}

TEST_F(RegFixture, WithoutCreateAMissingKeyStaysClosed)
{
    CRegSettings reg(HKEY_LOCAL_MACHINE, m_key.c_str(), false, false);
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_FALSE(reg.WriteString(L"v", L"x"));
    wchar_t buf[16] = {0};
    EXPECT_FALSE(reg.ReadString(L"v", buf, 16));
    EXPECT_STREQ(buf, L"");
    reg.ReadString(L"v", buf, 16, L"dflt");
    EXPECT_STREQ(buf, L"dflt");
    EXPECT_EQ(reg.DeleteKeyTree(L"x"), static_cast<LONG>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ExistsNative(m_key));
}

TEST_F(RegFixture, WriteStringStoresSzWithTerminatorAndReadsBack)
{
    CRegSettings reg(HKEY_LOCAL_MACHINE, m_key.c_str());
    const wchar_t* texts[] = {L"", L"abc", L"KeloPDF阅读器", L"C:\\Program Files (x86)\\KeloPdfReader"};
    for (const wchar_t* text : texts) {
        ASSERT_TRUE(reg.WriteString(L"value", text));
        DWORD type = 0, cb = 0;
        ASSERT_EQ(RegQueryValueExW(reg.GetKey(), L"value", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(cb, (wcslen(text) + 1) * 2) << ToNarrow(text);
        wchar_t buf[kRegFolderChars] = {0};
        EXPECT_TRUE(reg.ReadString(L"value", buf, kRegFolderChars));
        EXPECT_STREQ(buf, text);
    }
}

TEST_F(RegFixture, ReadStringFillsAtMostTheBufferAndAlwaysTerminates)
{
    CRegSettings reg(HKEY_LOCAL_MACHINE, m_key.c_str());
    struct Case {
        size_t length;
        bool withTerminator;
        const wchar_t* expected;  // null: the whole value
    } cases[] = {
        {255, true, nullptr},   // a 255-character "version_str" fits the 256-character buffer
        {256, false, nullptr},  // no terminator stored, exactly the buffer: cut to 255, terminated
        {256, true, L""},       // too long: nothing
        {300, true, L""},
    };
    for (const Case& c : cases) {
        std::wstring value(c.length, L'7');
        DWORD cb = static_cast<DWORD>((c.length + (c.withTerminator ? 1 : 0)) * 2);
        ASSERT_EQ(RegSetValueExW(reg.GetKey(), Product::kValVersionStr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()), cb),
                  ERROR_SUCCESS);
        // A guard area after the buffer shows any overrun.
        wchar_t area[kRegValueChars + 8];
        wmemset(area, 0, kRegValueChars);
        wmemset(area + kRegValueChars, L'#', 8);
        reg.ReadString(Product::kValVersionStr, area, kRegValueChars);
        EXPECT_EQ(std::wstring(area + kRegValueChars, 8), std::wstring(8, L'#')) << "overrun, length " << c.length;
        ASSERT_LT(wcsnlen(area, kRegValueChars), static_cast<size_t>(kRegValueChars)) << "unterminated";
        std::wstring got = area;
        if (c.expected == nullptr && c.withTerminator) {
            EXPECT_EQ(got, value);
        } else if (c.expected == nullptr) {
            // Windows hands over the unterminated data (then cut), Wine refuses it.
            EXPECT_TRUE(got == value.substr(0, kRegValueChars - 1) || got.empty()) << ToNarrow(got);
        } else {
            EXPECT_EQ(got, c.expected) << "length " << c.length;
        }
    }
    // A missing value leaves the buffer empty; the defaulting read fills the default.
    wchar_t buf[kRegAppNameChars] = {0};
    EXPECT_FALSE(reg.ReadString(L"missing", buf, kRegAppNameChars));
    EXPECT_STREQ(buf, L"");
    reg.ReadString(L"missing", buf, kRegAppNameChars, Product::kDefaultAppName);
    EXPECT_STREQ(buf, L"KeloPDF阅读器");
    ASSERT_TRUE(reg.WriteString(L"empty", L""));
    reg.ReadString(L"empty", buf, kRegAppNameChars, Product::kDefaultVersion);
    EXPECT_STREQ(buf, L"1.0.0.0");
}

TEST_F(RegFixture, DeleteKeyTreeRemovesAllLevels)
{
    CRegSettings reg(HKEY_LOCAL_MACHINE, m_key.c_str());
    const wchar_t* keys[] = {L"A", L"A\\B1", L"A\\B1\\C", L"A\\B2", L"Sibling"};
    for (const wchar_t* k : keys) {
        CRegSettings sub(HKEY_LOCAL_MACHINE, (m_key + L"\\" + k).c_str());
        ASSERT_TRUE(sub.WriteString(L"v", k));
    }
    EXPECT_EQ(reg.DeleteKeyTree(reg.GetKey(), L"A"), 0);
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExW(reg.GetKey(), L"A", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(reg.GetKey(), L"Sibling", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);

    // A missing key: ERROR_FILE_NOT_FOUND, and nothing else changes.
    EXPECT_EQ(reg.DeleteKeyTree(reg.GetKey(), L"Missing"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegOpenKeyExW(reg.GetKey(), L"Sibling", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(reg.DeleteKeyTree(nullptr, L"Sibling"), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

class IniFixture : public ::testing::Test {
protected:
    ct::TempDir dir{L"kelo_ini"};
};

TEST_F(IniFixture, ReadsWithBufferSizesAndDefaults)
{
    std::wstring ini = PathJoin(dir.Path(), Product::kConfigIni);
    EXPECT_EQ(ReadIniString(ini, Product::kSecMachine, Product::kKeyMachineId, L"", kIniMachineIdChars), L"");
    EXPECT_EQ(ReadIniString(ini, Product::kSecConfig, L"x", L"dflt"), L"dflt");

    ASSERT_TRUE(WriteIniString(ini, Product::kSecMachine, Product::kKeyMachineId, std::wstring(255, L'm').c_str()));
    ASSERT_TRUE(WriteIniString(ini, Product::kSecConfig, Product::kKeyAppName, std::wstring(200, L'a').c_str()));
    ASSERT_TRUE(WriteIniString(ini, Product::kSecConfig, Product::kKeyVersion, L"2.3.4.5"));
    ASSERT_TRUE(WriteIniString(ini, Product::kSecConfig, L"cn", L"阅读器"));
    EXPECT_TRUE(ct::FileExists(ini));

    EXPECT_EQ(ReadIniString(ini, Product::kSecMachine, Product::kKeyMachineId, L"", kIniMachineIdChars),
              std::wstring(255, L'm'));
    // 128-character buffer: 127 characters of a longer value.
    EXPECT_EQ(ReadIniString(ini, Product::kSecConfig, Product::kKeyAppName, L""), std::wstring(127, L'a'));
    EXPECT_EQ(ReadIniString(ini, Product::kSecConfig, Product::kKeyVersion, L""), L"2.3.4.5");
    EXPECT_EQ(ReadIniString(ini, Product::kSecConfig, L"cn", L""), L"阅读器");
    EXPECT_EQ(ReadIniString(ini, Product::kSecConfig, L"missing", L"dflt"), L"dflt");
}

TEST_F(IniFixture, InstallIniBesideTheProgramWithDefaults)
{
    ASSERT_TRUE(CopyFileW(ct::BinPath(L"common_probe.exe").c_str(), (dir / L"setup.exe").c_str(), FALSE));
    std::wstring out = dir / L"out.txt";
    auto run = [&] {
        std::wstring exe = dir / L"setup.exe";
        EXPECT_EQ(ct::Run(exe, ct::Quote(exe) + L" installini " + ct::Quote(out)), 0u);
        return ct::ReadFileWide(out);
    };
    EXPECT_EQ(run(), L"KeloPDF阅读器\n1.0.0.0\n");
    std::wstring ini = dir / Product::kInstallIni;
    WriteIniString(ini, Product::kSecConfig, Product::kKeyAppName, L"");
    WriteIniString(ini, Product::kSecConfig, Product::kKeyChannel, L"3001");
    EXPECT_EQ(run(), L"KeloPDF阅读器\n1.0.0.0\n3001");
    WriteIniString(ini, Product::kSecConfig, Product::kKeyAppName, L"可乐PDF");
    WriteIniString(ini, Product::kSecConfig, Product::kKeyVersionStr, L"3.1.0.7");
    EXPECT_EQ(run(), L"可乐PDF\n3.1.0.7\n3001");
}

TEST(ChannelRule, IniThenParentSuffixThenTen)
{
    struct Case {
        const wchar_t* ini;
        const wchar_t* parent;
        const wchar_t* channel;
    } cases[] = {
        {L"", L"KeloPdfReaderSetup_2035", L"2035"},
        {L"", L"explorer", L"10"},
        {L"", L"dl_", L"10"},
        {L"", L"a_b_c", L"b_c"},
        {L"", L"_x", L"x"},
        {L"", L"", L"10"},
        {L"77", L"down_5", L"77"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolveChannel(c.ini, c.parent), c.channel) << ToNarrow(c.ini) << " / " << ToNarrow(c.parent);
    }
}

}  // namespace
