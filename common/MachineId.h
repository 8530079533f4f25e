// Machine identifier (MD5 of a network adapter address or of a fresh GUID),
// Windows version and bitness tests, and the short system description that
// the setup program writes into its log.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// RFC 1321 message digest.
class MD5 {
public:
    MD5();
    // Starts the digest and feeds every byte of text (without terminator).
    explicit MD5(const std::string& text);

    void Update(const void* data, size_t size);
    void Update(const std::string& text);
    // Finishes on the first call; later calls return the same 16 bytes.
    const unsigned char* Digest();
    // Hexadecimal digest, most significant nibble of each byte first.
    std::string ToString(bool lowercase);

private:
    void Transform(const unsigned char block[64]);

    uint32_t m_state[4];
    uint64_t m_bitCount;
    unsigned char m_buffer[64];
    unsigned char m_digest[16];
    bool m_finished;
};

// "{XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX}" from CoCreateGuid, 34 characters;
// the random form when no GUID can be made.
std::wstring NewGuidString();
// GUID-shaped 34-character text from the runtime library's generator, seeded
// with the current time in seconds.
std::wstring RandomGuidString();

// The two renderings of a six-byte adapter address.
std::string FormatNetbiosMac(const unsigned char address[6]);  // "AA:BB:CC:DD:EE:FF"
std::string FormatAdapterMac(const unsigned char address[6]);  // "aa-bb-cc-dd-ee-ff"

bool GetNetbiosMac(std::string& mac);
bool GetAdapterMac(std::string& mac);

// Where an adapter address comes from; lets tests stand in for the machine.
typedef bool (*MacSource)(std::string& mac);

// First source that answers, else false with "unknowuser00".
bool GetMacAddressFrom(MacSource first, MacSource second, std::string& mac);
// GetNetbiosMac, else GetAdapterMac.
bool GetMacAddress(std::string& mac);

// 32 lowercase hexadecimal digits: MD5 of the adapter address text, or of a
// new GUID text when no source answers (so then every call gives a new id).
std::wstring MakeMachineId(MacSource first = GetNetbiosMac, MacSource second = GetAdapterMac);

// Compares (major, minor, service-pack major) of the running Windows, as
// RtlGetVersion reports it, in this order; false when it cannot be read.
bool IsOsAtLeast(DWORD major, DWORD minor, WORD servicePackMajor);
// The processor architecture is x64 or Itanium (ARM64 counts as 32-bit).
bool IsNative64();
// The own process runs under WOW64.
bool IsWow64();

// OS identifier for a given version and bitness: 12/13 Windows 10 and later,
// 10/11 Windows 8.1, 8/9 Windows 8, 6/7 Windows 7, 4/5 Vista, 2 XP SP3,
// 1/3 XP, 0 unknown (the second number of a pair is the 64-bit system).
int OsVersionIdFor(DWORD major, DWORD minor, WORD servicePackMajor, bool native64);
// Description of an id in code page 936; "未知系统" for any other id.
std::string OsNameForId(int id);

// The same for the running system.
int GetOsVersionId();
std::string GetOsName();
