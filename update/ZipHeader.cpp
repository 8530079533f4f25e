#include "ZipHeader.h"

#include <zlib.h>

namespace zipheader {

FILETIME UnixTimeToFileTime(int32_t t) {
    ULONGLONG value = (ULONGLONG)((LONGLONG)t * 10000000LL + 116444736000000000LL);
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)value;
    ft.dwHighDateTime = (DWORD)(value >> 32);
    return ft;
}

FILETIME DosTimeToFileTime(unsigned long dosDate) {
    WORD date = (WORD)(dosDate >> 16), time = (WORD)dosDate;
    SYSTEMTIME st = {};
    st.wYear = (WORD)((date >> 9) + 1980);
    st.wMonth = (WORD)((date >> 5) & 15);
    st.wDay = (WORD)(date & 31);
    st.wHour = (WORD)(time >> 11);
    st.wMinute = (WORD)((time >> 5) & 63);
    st.wSecond = (WORD)((time & 31) * 2);
    FILETIME local = {}, utc = {};
    if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return FILETIME{};
    return utc;
}

unsigned ReadLE16(const unsigned char* p) { return p[0] | (p[1] << 8); }
int32_t ReadLE32(const unsigned char* p) {
    return (int32_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
}

void ApplyExtendedTimestamp(const std::vector<unsigned char>& extra, FILETIME* write, FILETIME* access,
                            FILETIME* creation) {
    size_t len = extra.size();
    if (len <= 4) return;
    for (size_t off = 0; off + 4 < len;) {
        unsigned size = ReadLE16(&extra[off + 2]);
        if (extra[off] != 'U' || extra[off + 1] != 'T') {
            off += 4 + size;
            continue;
        }
        size_t end = off + 4 + size;
        if (end > len) end = len;
        size_t pos = off + 4;
        if (pos >= end) return;
        unsigned char flags = extra[pos++];
        FILETIME* targets[3] = {write, access, creation};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1 << bit))) continue;
            if (pos + 4 > end) return;
            *targets[bit] = UnixTimeToFileTime(ReadLE32(&extra[pos]));
            pos += 4;
        }
        return;
    }
}

DWORD AttributesOf(unsigned long versionMadeBy, unsigned long ext) {
    unsigned host = (unsigned)(versionMadeBy >> 8) & 0xFF;
    bool folder, readOnly, hidden = false, system = false, archive = true;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        readOnly = (ext & 0x01) != 0;
        hidden = (ext & 0x02) != 0;
        system = (ext & 0x04) != 0;
        folder = (ext & 0x10) != 0;
        archive = (ext & 0x20) != 0;
    } else {
        folder = (ext & 0x40000000UL) != 0;
        readOnly = (ext & 0x00800000UL) == 0;
    }
    DWORD attributes = 0;
    if (folder) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (archive) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if (hidden) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
    if (system) attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

PkwareKeys::PkwareKeys(const std::string& password) {
    for (unsigned char c : password) Update(c);
}

unsigned char PkwareKeys::Decode(unsigned char c) {
    unsigned temp = (m_k[2] & 0xFFFF) | 2;
    unsigned char plain = c ^ (unsigned char)(((temp * (temp ^ 1)) >> 8) & 0xFF);
    Update(plain);
    return plain;
}

void PkwareKeys::Update(unsigned char c) {
    const z_crc_t* table = get_crc_table();
    auto crc = [table](uint32_t value, unsigned char b) { return (uint32_t)table[(value ^ b) & 0xFF] ^ (value >> 8); };
    m_k[0] = crc(m_k[0], c);
    m_k[1] = (m_k[1] + (m_k[0] & 0xFF)) * 134775813u + 1;
    m_k[2] = crc(m_k[2], (unsigned char)(m_k[1] >> 24));
}

}  // namespace zipheader
