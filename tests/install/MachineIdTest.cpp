// Machine identifier, MD5, GUID texts, adapter address forms, version and
// bitness tests and the OS table.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "MachineId.h"
#include "PathUtils.h"

namespace {

bool IsHex(const std::wstring& s, bool upper) {
    for (wchar_t c : s) {
        const bool digit = c >= L'0' && c <= L'9';
        const bool letter = upper ? (c >= L'A' && c <= L'F') : (c >= L'a' && c <= L'f');
        if (!digit && !letter) return false;
    }
    return true;
}

bool IsMachineIdShape(const std::wstring& id) { return id.size() == 32 && IsHex(id, false); }

std::wstring Md5Wide(const std::string& text) {
    const std::string hex = MD5(text).ToString(true);
    return std::wstring(hex.begin(), hex.end());
}

// ---------------------------------------------------------------- MD5

struct Md5Case {
    const char* input;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Md5Case kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321SuiteInLowercase) {
    for (const Md5Case& c : kRfc1321) {
        EXPECT_EQ(MD5(std::string(c.input)).ToString(true), c.digest) << "input \"" << c.input << "\"";
    }
}

TEST(Md5, UppercaseRenderingAndRepeatedFinish) {
    MD5 md5(std::string("abc"));
    EXPECT_EQ(md5.ToString(false), "900150983CD24FB0D6963F7D28E17F72");
    // Finishing happens once; later requests reuse the same digest.
    EXPECT_EQ(md5.ToString(true), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5.ToString(true), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, FeedingInPiecesAcrossBlockAndPaddingBoundaries) {
    // Lengths around the 56-byte padding limit and the 64-byte block.
    for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
        std::string text;
        for (size_t i = 0; i < len; ++i) text += static_cast<char>('a' + i % 26);
        const std::string whole = MD5(text).ToString(true);
        for (size_t cut : {size_t(1), size_t(7), len / 2, len - 1}) {
            MD5 pieces;
            pieces.Update(text.data(), cut);
            pieces.Update(text.data() + cut, len - cut);
            EXPECT_EQ(pieces.ToString(true), whole) << "length " << len << " cut at " << cut;
        }
    }
}

TEST(Md5, MillionTimesA) {
    MD5 md5;
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) md5.Update(chunk);
    EXPECT_EQ(md5.ToString(true), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, BytesAboveAsciiAreHashedAsBytes) {
    // "中" in code page 936 is D6 D0; a signed char would change both digests.
    EXPECT_EQ(MD5(std::string("\xD6\xD0")).ToString(true), "5301da37e5ffca1823a5cef67488d4bf");
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
    EXPECT_EQ(MD5(high).ToString(true), "16f404156c0500ac48efa2d3abc5fbcf");
}

// ---------------------------------------------------------------- GUID texts

TEST(GuidText, NewGuidStringIsBracedUppercaseHexWithoutHyphens) {
    const std::wstring a = NewGuidString();
    const std::wstring b = NewGuidString();
    ASSERT_EQ(a.size(), 34u) << ToNarrow(a);
    EXPECT_EQ(a.front(), L'{');
    EXPECT_EQ(a.back(), L'}');
    EXPECT_TRUE(IsHex(a.substr(1, 32), true)) << ToNarrow(a);
    EXPECT_NE(a, b);
}

TEST(GuidText, RandomGuidStringShape) {
    const std::wstring r = RandomGuidString();
    ASSERT_EQ(r.size(), 34u) << ToNarrow(r);
    EXPECT_EQ(r.front(), L'{');
    EXPECT_EQ(r.back(), L'}');
    EXPECT_TRUE(IsHex(r.substr(1, 32), true)) << ToNarrow(r);
    // The runtime generator yields at most 32767, so the first group starts with four zeros.
    EXPECT_EQ(r.substr(0, 5), L"{0000");
    // Each of the six later groups also holds a 15-bit number: its first digit is at most 7.
    for (size_t g = 0; g < 6; ++g) EXPECT_LE(r[9 + g * 4], L'7') << ToNarrow(r);
}

// ---------------------------------------------------------------- adapter addresses

const unsigned char kAddress[6] = {0x0A, 0x1B, 0xC2, 0xD3, 0xE4, 0xF5};

TEST(MacAddress, TheTwoForms) {
    EXPECT_EQ(FormatNetbiosMac(kAddress), "0A:1B:C2:D3:E4:F5");
    EXPECT_EQ(FormatAdapterMac(kAddress), "0a-1b-c2-d3-e4-f5");
}

bool FakeNetbios(std::string& mac) {
    mac = FormatNetbiosMac(kAddress);
    return true;
}
bool FakeAdapter(std::string& mac) {
    mac = FormatAdapterMac(kAddress);
    return true;
}
bool NoSource(std::string& mac) {
    mac = "garbage";
    return false;
}

TEST(MacAddress, SourcesAreTriedInOrder) {
    struct Case {
        MacSource first, second;
        bool result;
        const char* text;
    } cases[] = {
        {FakeNetbios, FakeAdapter, true, "0A:1B:C2:D3:E4:F5"},
        {NoSource, FakeAdapter, true, "0a-1b-c2-d3-e4-f5"},
        {NoSource, NoSource, false, "unknowuser00"},
    };
    for (const Case& c : cases) {
        std::string mac;
        EXPECT_EQ(GetMacAddressFrom(c.first, c.second, mac), c.result);
        EXPECT_EQ(mac, c.text);
    }
}

TEST(MacAddress, RealSourcesAnswerInTheirForm) {
    // Which sources answer depends on the machine; what answers must use its form.
    std::string netbios, adapter, chosen;
    const bool hasNetbios = GetNetbiosMac(netbios);
    const bool hasAdapter = GetAdapterMac(adapter);
    RecordProperty("netbios", hasNetbios ? netbios : "none");
    RecordProperty("adapter", hasAdapter ? adapter : "none");
    if (hasNetbios) {
        ASSERT_EQ(netbios.size(), 17u);
        for (size_t i = 0; i < 17; ++i) {
            if (i % 3 == 2) {
                EXPECT_EQ(netbios[i], ':');
            } else {
                EXPECT_TRUE(isxdigit(static_cast<unsigned char>(netbios[i])) && !islower(netbios[i])) << netbios;
            }
        }
    }
    if (hasAdapter) {
        ASSERT_EQ(adapter.size(), 17u);
        for (size_t i = 0; i < 17; ++i) {
            if (i % 3 == 2) {
                EXPECT_EQ(adapter[i], '-');
            } else {
                EXPECT_TRUE(isxdigit(static_cast<unsigned char>(adapter[i])) && !isupper(adapter[i])) << adapter;
            }
        }
    }
    const bool any = GetMacAddress(chosen);
    EXPECT_EQ(any, hasNetbios || hasAdapter);
    EXPECT_EQ(chosen, hasNetbios ? netbios : hasAdapter ? adapter : std::string("unknowuser00"));
}

// ---------------------------------------------------------------- machine identifier

TEST(MachineIdentifier, NetbiosAndAdapterFormsGiveDifferentIds) {
    const std::wstring viaNetbios = MakeMachineId(FakeNetbios, FakeAdapter);
    const std::wstring viaAdapter = MakeMachineId(NoSource, FakeAdapter);
    EXPECT_EQ(viaNetbios, Md5Wide("0A:1B:C2:D3:E4:F5"));
    EXPECT_EQ(viaAdapter, Md5Wide("0a-1b-c2-d3-e4-f5"));
    EXPECT_NE(viaNetbios, viaAdapter);
    // Stable for the same machine.
    EXPECT_EQ(MakeMachineId(FakeNetbios, FakeAdapter), viaNetbios);
}

TEST(MachineIdentifier, WithoutAnySourceEveryCallGivesANewId) {
    const std::wstring a = MakeMachineId(NoSource, NoSource);
    const std::wstring b = MakeMachineId(NoSource, NoSource);
    EXPECT_TRUE(IsMachineIdShape(a)) << ToNarrow(a);
    EXPECT_TRUE(IsMachineIdShape(b)) << ToNarrow(b);
    EXPECT_NE(a, b);
    // The placeholder text is never what is hashed.
    EXPECT_NE(a, Md5Wide("unknowuser00"));
}

TEST(MachineIdentifier, ThisMachine) {
    const std::wstring id = MakeMachineId();
    EXPECT_TRUE(IsMachineIdShape(id)) << ToNarrow(id);
    std::string mac;
    if (GetMacAddress(mac)) {
        EXPECT_EQ(id, Md5Wide(mac)) << mac;
    } else {
        EXPECT_NE(id, MakeMachineId());
    }
}

// ---------------------------------------------------------------- OS table

struct OsCase {
    DWORD major, minor;
    WORD sp;
    bool native64;
    int id;
    const wchar_t* name;
};

const OsCase kOsCases[] = {
    {10, 0, 0, false, 12, L"win10 32位系统"},
    {10, 0, 0, true, 13, L"win10 64位系统"},  // Windows 11 reports 10.0 as well
    {11, 0, 0, true, 13, L"win10 64位系统"},
    {6, 3, 0, false, 10, L"win8.1 32位系统"},
    {6, 3, 0, true, 11, L"win8.1 64位系统"},
    {6, 2, 0, false, 8, L"win8 32位系统"},
    {6, 2, 0, true, 9, L"win8 64位系统"},
    {6, 1, 1, false, 6, L"win7 32位系统"},
    {6, 1, 0, true, 7, L"win7 64位系统"},
    {6, 0, 2, false, 4, L"vista 32位系统"},
    {6, 0, 0, true, 5, L"vista 64系统"},  // no "位" in this one
    {5, 1, 3, false, 2, L"xp_sp3系统"},
    {5, 1, 3, true, 2, L"xp_sp3系统"},
    {5, 2, 2, true, 2, L"xp_sp3系统"},  // 5.2 is past 5.1 SP3
    {5, 1, 2, false, 1, L"xp系统"},
    {5, 1, 0, true, 3, L"xp 64位系统"},
    {5, 0, 4, false, 0, L"未知系统"},
    {4, 0, 6, true, 0, L"未知系统"},
};

TEST(OsTable, VersionAndBitnessToIdAndDescription) {
    ASSERT_EQ(GetACP(), 936u) << "the tests run with the Chinese ANSI code page";
    for (const OsCase& c : kOsCases) {
        const int id = OsVersionIdFor(c.major, c.minor, c.sp, c.native64);
        EXPECT_EQ(id, c.id) << c.major << "." << c.minor << " sp" << c.sp << (c.native64 ? " 64-bit" : " 32-bit");
        EXPECT_EQ(ToWide(OsNameForId(id)), c.name) << "id " << id;
    }
}

TEST(OsTable, DescriptionsAreCodePage936Bytes) {
    EXPECT_EQ(OsNameForId(13), "win10 64\xCE\xBB\xCF\xB5\xCD\xB3");
    EXPECT_EQ(OsNameForId(5), "vista 64\xCF\xB5\xCD\xB3");
    EXPECT_EQ(OsNameForId(0), "\xCE\xB4\xD6\xAA\xCF\xB5\xCD\xB3");
    EXPECT_EQ(OsNameForId(14), OsNameForId(0));
    EXPECT_EQ(OsNameForId(-1), OsNameForId(0));
}

// ---------------------------------------------------------------- the running system

OSVERSIONINFOEXW RealVersion() {
    typedef LONG(WINAPI * Fn)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    Fn fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    EXPECT_NE(fn, nullptr);
    if (fn) {
        EXPECT_EQ(fn(&info), 0);
    }
    return info;
}

TEST(RunningSystem, IsOsAtLeastComparesMajorMinorServicePack) {
    const OSVERSIONINFOEXW v = RealVersion();
    const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion;
    const WORD sp = v.wServicePackMajor;
    RecordProperty("version", std::to_string(major) + "." + std::to_string(minor) + " sp" + std::to_string(sp));
    EXPECT_TRUE(IsOsAtLeast(major, minor, sp));
    EXPECT_TRUE(IsOsAtLeast(major, 0, 0));
    EXPECT_TRUE(IsOsAtLeast(major - 1, 99, 99));
    EXPECT_FALSE(IsOsAtLeast(major, minor, static_cast<WORD>(sp + 1)));
    EXPECT_FALSE(IsOsAtLeast(major, minor + 1, 0));
    EXPECT_FALSE(IsOsAtLeast(major + 1, 0, 0));
}

TEST(RunningSystem, IdAndNameFollowTheTable) {
    const OSVERSIONINFOEXW v = RealVersion();
    const int expected = OsVersionIdFor(v.dwMajorVersion, v.dwMinorVersion, v.wServicePackMajor, IsNative64());
    EXPECT_EQ(GetOsVersionId(), expected);
    EXPECT_EQ(GetOsName(), OsNameForId(expected));
    EXPECT_NE(expected, 0) << "the test system is at least Windows XP";
}

TEST(RunningSystem, Bitness) {
    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);
    const bool x64 = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                     si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
    EXPECT_EQ(IsNative64(), x64);
#ifdef _WIN64
    // A 64-bit process: the system is 64-bit and there is no WOW64 layer.
    EXPECT_TRUE(IsNative64());
    EXPECT_FALSE(IsWow64());
#else
    // A 32-bit process runs under WOW64 exactly on a 64-bit system.
    EXPECT_EQ(IsWow64(), IsNative64());
#endif
}

}  // namespace
