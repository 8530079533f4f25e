// Unpacking of the update package: a thin layer over minizip's reader that
// adds the updater's rules for entry names, folders, attributes and times.
// Nothing an archive holds can make it write outside the extraction root.
#pragma once

#include <windows.h>

// Result codes of CZipManager's operations (also kept as the last result).
constexpr DWORD UZ_OK        = 0x00000000;
constexpr DWORD UZ_NOFILE    = 0x00000200;  // archive not opened, output not created, name refused
constexpr DWORD UZ_WRITE     = 0x00000400;
constexpr DWORD UZ_NOTFOUND  = 0x00000500;
constexpr DWORD UZ_CORRUPT   = 0x00000700;  // local header differs from the central directory
constexpr DWORD UZ_READ      = 0x00000800;  // local extra field incomplete
constexpr DWORD UZ_PASSWORD  = 0x00001000;
constexpr DWORD UZ_ABORT     = 0x00050000;  // the extraction was asked to stop
constexpr DWORD UZ_ARGS      = 0x00010000;
constexpr DWORD UZ_MODE      = 0x00080000;
constexpr DWORD UZ_NOTINITED = 0x01000000;
constexpr DWORD UZ_FLATE     = 0x05000000;

// Result code of the last CZipManager operation in this process.
DWORD GetZipLastResult();

// One entry of the archive as the extraction sees it.
struct ZipEntry {
    int nIndex = -1;             // for the summary lookup (-1): the number of entries
    wchar_t szName[MAX_PATH] = {};  // safe relative name
    DWORD dwAttributes = 0;      // FILE_ATTRIBUTE_* bits
    FILETIME ftAccess = {};      // UTC
    FILETIME ftCreation = {};
    FILETIME ftWrite = {};
    int nCompressedSize = 0;
    int nUncompressedSize = 0;
    // The same sizes in full: zip64 entries go past 32 bits.
    unsigned long long ullCompressedSize = 0;
    unsigned long long ullUncompressedSize = 0;

    // Reader details kept for the extraction and the refusal rules.
    bool bFolder = false;        // folder attribute, or a name ending in a separator
    bool bRefused = false;       // the stored name can never be extracted safely
    unsigned short wFlags = 0;   // general purpose bits of the central directory
    unsigned short wMethod = 0;
    unsigned long dwCrc = 0;
    unsigned long dwDosDate = 0;  // date << 16 | time
};

// Gives an extracted file its entry's times (SetFileTime). Tests put a
// function of their own here: Wine keeps no creation time. Returns the
// previous one.
typedef BOOL(WINAPI* ZipFileTimeSetter)(HANDLE file, const FILETIME* creation, const FILETIME* access,
                                         const FILETIME* write);
ZipFileTimeSetter SetZipFileTimeSetter(ZipFileTimeSetter setter);

struct ZipArchive;

class CZipManager {
public:
    CZipManager();
    virtual ~CZipManager();

    // Opens the archive at path; password (ANSI) for encrypted entries, or null.
    virtual BOOL Open(const wchar_t* path, const char* password = nullptr);
    // Folder below which entries are written; null picks the archive path
    // without its extension.
    virtual BOOL SetExtractRoot(const wchar_t* folder);
    virtual BOOL GetItemCount(int* count);
    // buffer: MAX_PATH characters.
    virtual BOOL GetItemName(int index, wchar_t* buffer);
    // Extracts the entry stored as name under its bare file name in the root;
    // bareName (MAX_PATH characters) receives that bare name.
    virtual BOOL ExtractItemByName(const wchar_t* name, wchar_t* bareName);
    // target: relative to the root; anything that would leave it is refused.
    virtual BOOL ExtractItem(int index, const wchar_t* target);
    // All entries under their safe names; an archive holding any entry that
    // could leave the root is refused before anything is written.
    virtual BOOL ExtractAll();
    // An event that, once set, ends ExtractAll before its next entry (UZ_ABORT).
    void SetStopEvent(HANDLE hStop) { m_hStop = hStop; }

    // The entry as the extraction sees it (name after the stripping rules,
    // full sizes); for the update's checks before anything is unpacked.
    BOOL GetItemInfo(int index, ZipEntry* entry);

    CZipManager(const CZipManager&) = delete;
    CZipManager& operator=(const CZipManager&) = delete;

private:
    struct Handle;
    DWORD CheckHandle() const;
    void Close();

    Handle* m_pHandle = nullptr;
    HANDLE m_hStop = nullptr;
    wchar_t m_szDefaultRoot[MAX_PATH] = {};
};
