#include "MachineId.h"

#include <iphlpapi.h>
#include <nb30.h>
#include <objbase.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <vector>

#include "Owners.h"

// ---------------------------------------------------------------------------
// MD5

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t ReadLe32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void WriteLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Per-step shift amounts and sine-derived constants of RFC 1321.
const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

}  // namespace

MD5::MD5() : m_bitCount(0), m_finished(false) {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    memset(m_buffer, 0, sizeof(m_buffer));
    memset(m_digest, 0, sizeof(m_digest));
}

MD5::MD5(const std::string& text) : MD5() { Update(text); }

void MD5::Update(const std::string& text) { Update(text.data(), text.size()); }

void MD5::Update(const void* data, size_t size) {
    if (m_finished) return;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    size_t used = static_cast<size_t>((m_bitCount / 8) % 64);
    m_bitCount += static_cast<uint64_t>(size) * 8;
    while (size > 0) {
        size_t take = 64 - used;
        if (take > size) take = size;
        memcpy(m_buffer + used, in, take);
        used += take;
        in += take;
        size -= take;
        if (used == 64) {
            Transform(m_buffer);
            used = 0;
        }
    }
}

const unsigned char* MD5::Digest() {
    if (!m_finished) {
        const uint64_t bits = m_bitCount;
        unsigned char lengthLe[8];
        for (int i = 0; i < 8; ++i) lengthLe[i] = static_cast<unsigned char>(bits >> (8 * i));
        // One 0x80 byte, zeros up to 56 modulo 64, then the bit length.
        static const unsigned char kPadding[64] = {0x80};
        const size_t used = static_cast<size_t>((bits / 8) % 64);
        const size_t padLen = used < 56 ? 56 - used : 120 - used;
        Update(kPadding, padLen);
        Update(lengthLe, 8);
        for (int i = 0; i < 4; ++i) WriteLe32(m_digest + 4 * i, m_state[i]);
        m_finished = true;
    }
    return m_digest;
}

std::string MD5::ToString(bool lowercase) {
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned char* d = Digest();
    std::string text;
    text.reserve(32);
    for (int i = 0; i < 16; ++i) {
        text += kHex[d[i] >> 4];
        text += kHex[d[i] & 0x0F];
    }
    if (lowercase) {
        for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

void MD5::Transform(const unsigned char block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = ReadLe32(block + 4 * i);
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

// ---------------------------------------------------------------------------
// GUID texts

std::wstring NewGuidString() {
    wchar_t text[128] = L"";
    {
        const ScopedCoInit com;
        GUID guid;
        if (SUCCEEDED(CoCreateGuid(&guid))) {
            swprintf(text, 128, L"{%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(guid.Data1),
                     guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                     guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
        }
    }
    if (text[0] == L'\0') return RandomGuidString();
    return text;
}

std::wstring RandomGuidString() {
    srand(static_cast<unsigned>(time(nullptr)));
    unsigned r[8];
    for (int i = 1; i <= 7; ++i) r[i] = static_cast<unsigned>(rand());
    wchar_t text[128];
    swprintf(text, 128, L"{%08X%04X%04X%04X%04X%04X%04X}", r[7], r[6] & 0xFFFF, r[5] & 0xFFFF, r[4] & 0xFFFF,
             r[3] & 0xFFFF, r[2] & 0xFFFF, r[1] & 0xFFFF);
    return text;
}

// ---------------------------------------------------------------------------
// Adapter addresses

std::string FormatNetbiosMac(const unsigned char a[6]) {
    char text[32];
    snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

std::string FormatAdapterMac(const unsigned char a[6]) {
    char text[32];
    snprintf(text, sizeof(text), "%02x-%02x-%02x-%02x-%02x-%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

bool GetNetbiosMac(std::string& mac) {
    LANA_ENUM lanas;
    memset(&lanas, 0, sizeof(lanas));
    NCB ncb;
    memset(&ncb, 0, sizeof(ncb));
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof(lanas);
    if (Netbios(&ncb) != NRC_GOODRET) return false;
    if (lanas.length == 0) return false;

    UCHAR reset = NRC_GOODRET;
    for (UCHAR i = 0; i < lanas.length; ++i) {
        memset(&ncb, 0, sizeof(ncb));
        ncb.ncb_command = NCBRESET;
        ncb.ncb_lana_num = lanas.lana[i];
        reset = Netbios(&ncb);
        if (reset == NRC_GOODRET) break;
    }
    if (reset != NRC_GOODRET) return false;

    struct {
        ADAPTER_STATUS status;
        NAME_BUFFER names[30];
    } adapter;
    memset(&adapter, 0, sizeof(adapter));
    memset(&ncb, 0, sizeof(ncb));
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lanas.lana[0];
    memset(ncb.ncb_callname, ' ', sizeof(ncb.ncb_callname));
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&adapter);
    ncb.ncb_length = sizeof(adapter);
    if (Netbios(&ncb) != NRC_GOODRET) return false;

    mac = FormatNetbiosMac(adapter.status.adapter_address);
    return true;
}

bool GetAdapterMac(std::string& mac) {
    ULONG size = 648;
    std::vector<unsigned char> buffer;
    buffer.resize(size);
    DWORD rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); a; a = a->Next) {
        if (a->Type == MIB_IF_TYPE_ETHERNET && a->AddressLength == 6) {
            mac = FormatAdapterMac(a->Address);
            return true;
        }
    }
    return false;
}

bool GetMacAddressFrom(MacSource first, MacSource second, std::string& mac) {
    if (first && first(mac)) return true;
    if (second && second(mac)) return true;
    mac = "unknowuser00";
    return false;
}

bool GetMacAddress(std::string& mac) { return GetMacAddressFrom(GetNetbiosMac, GetAdapterMac, mac); }

std::wstring MakeMachineId(MacSource first, MacSource second) {
    std::string source;
    if (!GetMacAddressFrom(first, second, source)) {
        // A GUID text is ASCII: its ANSI form is the same characters.
        const std::wstring guid = NewGuidString();
        source.assign(guid.begin(), guid.end());
    }
    const std::string hex = MD5(source).ToString(true);
    return std::wstring(hex.begin(), hex.end());
}

// ---------------------------------------------------------------------------
// Version and bitness

namespace {

struct OsRow {
    DWORD major;
    DWORD minor;
    WORD servicePack;
    int id32;
    int id64;
};

// Checked from the top; the first row the system reaches wins.
const OsRow kOsRows[] = {
    {10, 0, 0, 12, 13}, {6, 3, 0, 10, 11}, {6, 2, 0, 8, 9}, {6, 1, 0, 6, 7},
    {6, 0, 0, 4, 5},    {5, 1, 3, 2, 2},   {5, 1, 0, 1, 3},
};

bool VersionAtLeast(DWORD major, DWORD minor, WORD sp, const OsRow& row) {
    if (major != row.major) return major > row.major;
    if (minor != row.minor) return minor > row.minor;
    return sp >= row.servicePack;
}

typedef LONG(WINAPI* RtlGetVersionFn)(OSVERSIONINFOEXW*);

// Looked up once per process; the module is part of every process.
RtlGetVersionFn RtlGetVersionProc() {
    static const RtlGetVersionFn proc = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    return proc;
}

}  // namespace

bool IsOsAtLeast(DWORD major, DWORD minor, WORD servicePackMajor) {
    RtlGetVersionFn rtlGetVersion = RtlGetVersionProc();
    if (!rtlGetVersion) return false;
    OSVERSIONINFOEXW info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) return false;
    const OsRow wanted = {major, minor, servicePackMajor, 0, 0};
    return VersionAtLeast(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor, wanted);
}

bool IsNative64() {
    typedef void(WINAPI * GetNativeSystemInfoFn)(SYSTEM_INFO*);
    GetNativeSystemInfoFn getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo")));
    SYSTEM_INFO info;
    memset(&info, 0, sizeof(info));
    if (getNative)
        getNative(&info);
    else
        GetSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool IsWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    if (!isWow64) return false;
    BOOL wow64 = FALSE;
    if (!isWow64(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

int OsVersionIdFor(DWORD major, DWORD minor, WORD servicePackMajor, bool native64) {
    for (const OsRow& row : kOsRows) {
        if (VersionAtLeast(major, minor, servicePackMajor, row)) return native64 ? row.id64 : row.id32;
    }
    return 0;
}

std::string OsNameForId(int id) {
    // Code page 936 bytes: "位" CE BB, "系统" CF B5 CD B3, "未知" CE B4 D6 AA.
    switch (id) {
        case 12: return "win10 32\xCE\xBB\xCF\xB5\xCD\xB3";
        case 13: return "win10 64\xCE\xBB\xCF\xB5\xCD\xB3";
        case 10: return "win8.1 32\xCE\xBB\xCF\xB5\xCD\xB3";
        case 11: return "win8.1 64\xCE\xBB\xCF\xB5\xCD\xB3";
        case 8: return "win8 32\xCE\xBB\xCF\xB5\xCD\xB3";
        case 9: return "win8 64\xCE\xBB\xCF\xB5\xCD\xB3";
        case 6: return "win7 32\xCE\xBB\xCF\xB5\xCD\xB3";
        case 7: return "win7 64\xCE\xBB\xCF\xB5\xCD\xB3";
        case 4: return "vista 32\xCE\xBB\xCF\xB5\xCD\xB3";
        case 5: return "vista 64\xCF\xB5\xCD\xB3";
        case 2: return "xp_sp3\xCF\xB5\xCD\xB3";
        case 1: return "xp\xCF\xB5\xCD\xB3";
        case 3: return "xp 64\xCE\xBB\xCF\xB5\xCD\xB3";
        default: return "\xCE\xB4\xD6\xAA\xCF\xB5\xCD\xB3";
    }
}

int GetOsVersionId() {
    const bool native64 = IsNative64();
    for (const OsRow& row : kOsRows) {
        if (IsOsAtLeast(row.major, row.minor, row.servicePack)) return native64 ? row.id64 : row.id32;
    }
    return 0;
}

std::string GetOsName() { return OsNameForId(GetOsVersionId()); }
