// Decoding of the fields of a zip entry's headers into what the extraction
// gives a file: attributes, times, and the check of the traditional PKWARE
// encryption header. Pure functions over the header values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zipheader {

// Windows attribute bits from version-made-by and the external attributes.
DWORD AttributesOf(unsigned long versionMadeBy, unsigned long externalAttributes);

FILETIME UnixTimeToFileTime(int32_t t);
// MS-DOS date << 16 | time (local) to a UTC FILETIME; zero when the fields are impossible.
FILETIME DosTimeToFileTime(unsigned long dosDate);

// The first "UT" block of a local extra field overrides the times its flags name.
void ApplyExtendedTimestamp(const std::vector<unsigned char>& extra, FILETIME* write, FILETIME* access,
                            FILETIME* creation);

unsigned ReadLE16(const unsigned char* p);
int32_t ReadLE32(const unsigned char* p);

// Traditional PKWARE decryption keys, only to test the header's check byte:
// minizip decrypts but never compares it.
class PkwareKeys {
public:
    explicit PkwareKeys(const std::string& password);
    unsigned char Decode(unsigned char c);

private:
    void Update(unsigned char c);
    uint32_t m_k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

}  // namespace zipheader
