// Reads stored and deflated entries of a zip archive held in memory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace DuiLib {

class CZipArchive {
public:
    bool OpenMemory(const void* pData, size_t nSize);
    bool OpenFile(LPCWSTR pstrPath);
    void Close();
    bool IsOpen() const { return !m_data.empty(); }
    // Name lookup ignores letter case and treats '\\' like '/'.
    bool Read(LPCWSTR pstrName, std::vector<BYTE>& out) const;

private:
    struct Entry {
        std::wstring name;  // normalised: lower case, '/' separators
        DWORD method;
        DWORD crc;
        DWORD compSize;
        DWORD size;
        DWORD localOffset;
    };
    bool ParseDirectory();
    static std::wstring Normalise(LPCWSTR pstrName);

    std::vector<BYTE> m_data;
    std::vector<Entry> m_entries;
};

}  // namespace DuiLib
