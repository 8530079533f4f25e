#include "UIZip.h"

#include <zlib.h>

#include <cwctype>

namespace DuiLib {

namespace {

DWORD Get16(const BYTE* p) { return p[0] | (p[1] << 8); }
DWORD Get32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }

const DWORD kEndSig = 0x06054b50;
const DWORD kCentralSig = 0x02014b50;
const DWORD kLocalSig = 0x04034b50;
// Skin files are small; a bigger entry is treated as damage.
const DWORD kMaxEntrySize = 64u * 1024u * 1024u;

}  // namespace

bool CZipArchive::OpenMemory(const void* pData, size_t nSize) {
    Close();
    if (pData == NULL || nSize < 22) return false;
    const BYTE* p = static_cast<const BYTE*>(pData);
    m_data.assign(p, p + nSize);
    if (!ParseDirectory()) {
        Close();
        return false;
    }
    return true;
}

bool CZipArchive::OpenFile(LPCWSTR pstrPath) {
    Close();
    HANDLE h = ::CreateFileW(pstrPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = ::GetFileSizeEx(h, &size) && size.QuadPart >= 22 && size.QuadPart < 256LL * 1024 * 1024;
    std::vector<BYTE> data;
    if (ok) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD nRead = 0;
        ok = ::ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &nRead, NULL) && nRead == data.size();
    }
    ::CloseHandle(h);
    return ok && OpenMemory(data.data(), data.size());
}

void CZipArchive::Close() {
    m_data.clear();
    m_entries.clear();
}

std::wstring CZipArchive::Normalise(LPCWSTR pstrName) {
    std::wstring s;
    for (; pstrName && *pstrName; ++pstrName) {
        wchar_t c = *pstrName;
        if (c == L'\\') c = L'/';
        s += static_cast<wchar_t>(towlower(c));
    }
    while (!s.empty() && s[0] == L'/') s.erase(0, 1);
    if (s.compare(0, 2, L"./") == 0) s.erase(0, 2);
    return s;
}

bool CZipArchive::ParseDirectory() {
    const BYTE* base = m_data.data();
    size_t n = m_data.size();
    // The end record sits in the last 22 + 65535 bytes.
    size_t minPos = n > 22 + 65535 ? n - 22 - 65535 : 0;
    size_t pos = n - 22;
    for (;;) {
        if (Get32(base + pos) == kEndSig) break;
        if (pos == minPos) return false;
        --pos;
    }
    DWORD count = Get16(base + pos + 10);
    DWORD dirSize = Get32(base + pos + 12);
    DWORD dirOffset = Get32(base + pos + 16);
    if (static_cast<size_t>(dirOffset) + dirSize > pos) return false;
    size_t p = dirOffset;
    for (DWORD i = 0; i < count; ++i) {
        if (p + 46 > pos || Get32(base + p) != kCentralSig) return false;
        Entry e;
        DWORD flags = Get16(base + p + 8);
        e.method = Get16(base + p + 10);
        e.crc = Get32(base + p + 16);
        e.compSize = Get32(base + p + 20);
        e.size = Get32(base + p + 24);
        DWORD nameLen = Get16(base + p + 28);
        DWORD extraLen = Get16(base + p + 30);
        DWORD commentLen = Get16(base + p + 32);
        e.localOffset = Get32(base + p + 42);
        if (p + 46 + nameLen > pos) return false;
        // Names are UTF-8 when flag bit 11 is set, otherwise the OEM code page.
        UINT cp = (flags & 0x800) ? CP_UTF8 : CP_OEMCP;
        const char* pName = reinterpret_cast<const char*>(base + p + 46);
        int wlen = ::MultiByteToWideChar(cp, 0, pName, static_cast<int>(nameLen), NULL, 0);
        std::wstring wname(wlen > 0 ? wlen : 0, L'\0');
        if (wlen > 0) ::MultiByteToWideChar(cp, 0, pName, static_cast<int>(nameLen), &wname[0], wlen);
        e.name = Normalise(wname.c_str());
        if (!e.name.empty() && e.name.back() != L'/') m_entries.push_back(e);
        p += 46 + nameLen + extraLen + commentLen;
    }
    return true;
}

bool CZipArchive::Read(LPCWSTR pstrName, std::vector<BYTE>& out) const {
    out.clear();
    std::wstring name = Normalise(pstrName);
    const Entry* pEntry = NULL;
    for (const Entry& e : m_entries) {
        if (e.name == name) {
            pEntry = &e;
            break;
        }
    }
    if (pEntry == NULL || pEntry->size > kMaxEntrySize || pEntry->compSize > kMaxEntrySize) return false;
    const BYTE* base = m_data.data();
    size_t lp = pEntry->localOffset;
    if (lp + 30 > m_data.size() || Get32(base + lp) != kLocalSig) return false;
    size_t dataPos = lp + 30 + Get16(base + lp + 26) + Get16(base + lp + 28);
    if (dataPos + pEntry->compSize > m_data.size()) return false;
    const BYTE* src = base + dataPos;
    out.resize(pEntry->size);
    if (pEntry->method == 0) {
        if (pEntry->compSize != pEntry->size) return false;
        std::copy(src, src + pEntry->size, out.begin());
    } else if (pEntry->method == 8) {
        z_stream zs = {};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
        zs.next_in = const_cast<Bytef*>(src);
        zs.avail_in = pEntry->compSize;
        BYTE dummy = 0;
        zs.next_out = out.empty() ? &dummy : out.data();
        zs.avail_out = pEntry->size;
        int rc = inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        if (rc != Z_STREAM_END || zs.total_out != pEntry->size) {
            out.clear();
            return false;
        }
    } else {
        out.clear();
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.empty() ? Z_NULL : out.data(), static_cast<uInt>(out.size()));
    if (crc != pEntry->crc) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace DuiLib
