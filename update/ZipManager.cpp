// CZipManager: the archive over minizip's reader (file layer in ZipFile,
// header decoding in ZipHeader, name rules in ZipNames).
//
// Entry names pass through the stripping rules and then through a refusal
// check: whatever is left must be a plain relative path whose components stay
// below the extraction root after Windows has canonicalised it. ExtractAll
// looks at every entry before it writes the first byte, so an archive holding
// any entry that could escape changes nothing on disk.
#include "ZipManager.h"

#include <zlib.h>
#include <minizip/unzip.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "FileWalk.h"
#include "Owners.h"
#include "ZipFile.h"
#include "ZipHeader.h"
#include "ZipNames.h"

using namespace zipnames;

namespace {

ZipFileTimeSetter g_pfnSetFileTime = SetFileTime;

DWORD g_dwZipLastResult = UZ_OK;

DWORD Store(DWORD code) {
    g_dwZipLastResult = code;
    return code;
}

// Entry data is read, inflated and written in pieces of this size: a
// quarter of the calls that 16 KB pieces take.
constexpr unsigned kReadBufferSize = 65536;
constexpr int kCentralNameBytes = 260;

// "<message> 错误代码：0x%08x" in the ANSI code page, at most 260 bytes, to the debugger.
void DebugLine(const wchar_t* message, DWORD code) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text = message;
    text += L" 错误代码：0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(code >> shift) & 0xF];
    char narrow[MAX_PATH] = {};
    if (!WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, MAX_PATH - 1, nullptr, nullptr))
        narrow[0] = '\0';
    narrow[MAX_PATH - 1] = '\0';
    OutputDebugStringA(narrow);
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring> SplitComponents(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// GetFullPathNameW into a bounded result; false when it fails or is too long.
bool FullPath(const std::wstring& path, std::wstring* full) {
    wchar_t buffer[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    full->assign(buffer, n);
    return true;
}

std::wstring WithBackslashes(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Composes root + rel and accepts it only when, canonicalised, its leading
// components are exactly those of the canonical root and it names something
// below the root (or the root itself, for folders). The canonical form is
// what gets created, so the checked path is the written path.
DWORD ComposeBelowRoot(const std::wstring& root, const std::wstring& rel, bool folder, std::wstring* out) {
    if (!IsPlainRelativePath(rel, folder)) return UZ_NOFILE;
    std::wstring composed = WithBackslashes(root + rel);
    if (composed.size() > kMaxPathChars) return UZ_NOFILE;
    std::wstring canonicalRoot, canonical;
    if (!FullPath(WithBackslashes(root), &canonicalRoot) || !FullPath(composed, &canonical)) return UZ_NOFILE;
    if (canonical.size() > kMaxPathChars) return UZ_NOFILE;
    std::vector<std::wstring> rootParts = SplitComponents(canonicalRoot);
    std::vector<std::wstring> parts = SplitComponents(canonical);
    if (rootParts.empty() || parts.size() < rootParts.size()) return UZ_NOFILE;
    if (parts.size() == rootParts.size() && !folder) return UZ_NOFILE;
    for (size_t i = 0; i < rootParts.size(); ++i)
        if (!EqualNoCase(parts[i], rootParts[i])) return UZ_NOFILE;
    // The leading form ("C:\", "\\server\", "\\?\") must be the root's too.
    if (canonical.compare(0, 2, canonicalRoot, 0, 2) != 0) return UZ_NOFILE;
    *out = canonical;
    return UZ_OK;
}

bool FolderExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates root (one level) and root + every leading part of path; failures
// are left to the file creation that follows.
void EnsureFolderPath(const wchar_t* root, const std::wstring& path) {
    std::wstring base;
    if (root) {
        base = root;
        if (base.size() > kMaxPathChars) base.resize(kMaxPathChars);
    }
    // Everything above an existing entry exists too: for every entry after
    // the first of its folder one look is enough.
    if (!path.empty() && base.size() + path.size() <= kMaxPathChars && FolderExists(base + path)) return;
    if (root) {
        std::wstring top = base;
        if (!top.empty() && IsSep(top.back())) top.pop_back();
        if (!top.empty() && !FolderExists(top)) CreateDirectoryW(top.c_str(), nullptr);
    }
    if (path.empty()) return;
    size_t last = path.find_last_of(L"\\/");
    if (last != std::wstring::npos && last != 0) EnsureFolderPath(root, path.substr(0, last));
    std::wstring full = base + path;
    if (full.size() > kMaxPathChars) return;
    if (!FolderExists(full)) CreateDirectoryW(full.c_str(), nullptr);
}

}  // namespace

DWORD GetZipLastResult() { return g_dwZipLastResult; }

// The reading state of one open archive.
struct ZipArchive {
    unzFile reader = nullptr;
    int nEntries = 0;
    int nCurrentItem = -1;  // entry open for reading
    int nPosition = -1;     // minizip's current entry; -1 when unknown
    std::wstring strRoot;   // always ends in a separator
    ZipEntry cache;
    int nCacheIndex = -1;
    bool bHasPassword = false;
    std::string strPassword;
    std::vector<char> buffer;
    std::vector<char> output;  // inflated data
    bool bEmpty = false;  // a valid archive without entries, which minizip cannot open
    zlib_filefunc64_def innerFiles = {};
    zlib_filefunc64_def files = {};

    ~ZipArchive() { Close(); }

    DWORD Open(const wchar_t* path, const char* password);
    void Close();
    void CloseItem();
    DWORD PositionOn(int index);
    DWORD Lookup(int index, ZipEntry* out);
    DWORD LookupByName(const wchar_t* name, int* index, ZipEntry* out);
    DWORD CheckEntry(const ZipEntry& entry, const std::wstring& target, std::wstring* outPath,
                     std::wstring* folderPart) const;
    DWORD CheckPassword(const ZipEntry& entry);
    DWORD CopyData(int index, const ZipEntry& entry, HANDLE file);
    DWORD Extract(int index, const std::wstring& target);
};

DWORD ZipArchive::Open(const wchar_t* path, const char* password) {
    if (reader || bEmpty) return UZ_NOTINITED;
    wchar_t current[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    if (n == 0 || n >= MAX_PATH) current[0] = L'\0';
    current[kMaxPathChars] = L'\0';
    strRoot = current;
    strRoot += L'/';

    zipfile::FillBufferedFileFuncs(&innerFiles, &files);
    reader = unzOpen2_64(path, &files);
    if (!reader) {
        if (!zipfile::IsEmptyArchive(path)) return UZ_NOFILE;
        bEmpty = true;
        nEntries = 0;
        nPosition = -1;
        bHasPassword = password != nullptr;
        strPassword = password ? password : "";
        return UZ_OK;
    }
    unz_global_info64 info;
    if (unzGetGlobalInfo64(reader, &info) != UNZ_OK) {
        Close();
        return UZ_NOFILE;
    }
    nEntries = info.number_entry > (ZPOS64_T)INT_MAX ? INT_MAX : (int)info.number_entry;
    nPosition = (nEntries > 0 && unzGoToFirstFile(reader) == UNZ_OK) ? 0 : -1;
    bHasPassword = password != nullptr;
    strPassword = password ? password : "";
    return UZ_OK;
}

void ZipArchive::CloseItem() {
    if (nCurrentItem != -1 && reader) unzCloseCurrentFile(reader);
    nCurrentItem = -1;
}

void ZipArchive::Close() {
    CloseItem();
    if (reader) unzClose(reader);
    reader = nullptr;
    bEmpty = false;
    nEntries = 0;
    nPosition = -1;
    nCacheIndex = -1;
    std::vector<char>().swap(buffer);
    std::vector<char>().swap(output);
}

DWORD ZipArchive::PositionOn(int index) {
    if (nPosition < 0 || index < nPosition) {
        nPosition = -1;
        if (unzGoToFirstFile(reader) != UNZ_OK) return UZ_CORRUPT;
        nPosition = 0;
    }
    while (nPosition < index) {
        if (unzGoToNextFile(reader) != UNZ_OK) {
            nPosition = -1;
            return UZ_CORRUPT;
        }
        ++nPosition;
    }
    return UZ_OK;
}

DWORD ZipArchive::Lookup(int index, ZipEntry* out) {
    if (index < -1 || index >= nEntries) return UZ_ARGS;
    CloseItem();
    if (index == -1) {
        *out = ZipEntry();
        out->nIndex = nEntries;
        return UZ_OK;
    }
    if (index == nCacheIndex) {
        DWORD code = PositionOn(index);
        if (code != UZ_OK) return code;
        *out = cache;
        return UZ_OK;
    }
    DWORD code = PositionOn(index);
    if (code != UZ_OK) return code;

    unz_file_info64 info;
    char rawName[kCentralNameBytes + 1] = {};
    if (unzGetCurrentFileInfo64(reader, &info, rawName, kCentralNameBytes, nullptr, 0, nullptr, 0) != UNZ_OK)
        return UZ_CORRUPT;
    rawName[kCentralNameBytes] = '\0';
    // A name that does not fit, or that hides bytes behind a NUL, would be
    // extracted under a different name than the one stored.
    bool nameIntact = info.size_filename < (uLong)kCentralNameBytes && strlen(rawName) == info.size_filename;

    // Opening raw makes minizip compare the local header with the central one.
    if (unzOpenCurrentFile2(reader, nullptr, nullptr, 1) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return UZ_CORRUPT;
    }
    std::vector<unsigned char> extra;
    int extraSize = unzGetLocalExtrafield(reader, nullptr, 0);
    if (extraSize > 0) {
        extra.resize((size_t)extraSize);
        int got = unzGetLocalExtrafield(reader, extra.data(), (unsigned)extraSize);
        if (got != extraSize) {
            unzCloseCurrentFile(reader);
            return UZ_READ;
        }
    }
    unzCloseCurrentFile(reader);

    ZipEntry entry;
    entry.nIndex = index;
    wchar_t wideName[MAX_PATH] = {};
    if (rawName[0] && !MultiByteToWideChar(CP_ACP, 0, rawName, -1, wideName, MAX_PATH)) nameIntact = false;
    wideName[kMaxPathChars] = L'\0';
    bool uncForm = false;
    std::wstring safe = ApplyNameRules(wideName, &uncForm);
    wcsncpy(entry.szName, safe.c_str(), kMaxPathChars);
    entry.dwAttributes = zipheader::AttributesOf(info.version, info.external_fa);
    entry.bFolder = (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                    (wcslen(wideName) > 0 && IsSep(wideName[wcslen(wideName) - 1]));
    entry.bRefused = !nameIntact || uncForm;
    entry.nCompressedSize = (int)info.compressed_size;
    entry.nUncompressedSize = (int)info.uncompressed_size;
    entry.ullCompressedSize = info.compressed_size;
    entry.ullUncompressedSize = info.uncompressed_size;
    entry.wFlags = (unsigned short)info.flag;
    entry.wMethod = (unsigned short)info.compression_method;
    entry.dwCrc = info.crc;
    entry.dwDosDate = info.dosDate;
    entry.ftAccess = entry.ftCreation = entry.ftWrite = zipheader::DosTimeToFileTime(info.dosDate);
    zipheader::ApplyExtendedTimestamp(extra, &entry.ftWrite, &entry.ftAccess, &entry.ftCreation);

    cache = entry;
    nCacheIndex = index;
    *out = entry;
    return UZ_OK;
}

DWORD ZipArchive::LookupByName(const wchar_t* name, int* index, ZipEntry* out) {
    CloseItem();
    *index = -1;
    *out = ZipEntry();
    if (!reader) return UZ_NOTFOUND;
    // Names are stored in the ANSI code page, or in UTF-8 by tools that flag it.
    std::string forms[2];
    const UINT pages[2] = {CP_ACP, CP_UTF8};
    bool found = false;
    for (int i = 0; i < 2 && !found; ++i) {
        int n = WideCharToMultiByte(pages[i], 0, name, -1, nullptr, 0, nullptr, nullptr);
        if (n <= 0) continue;
        forms[i].resize((size_t)n);
        WideCharToMultiByte(pages[i], 0, name, -1, &forms[i][0], n, nullptr, nullptr);
        forms[i].resize(strlen(forms[i].c_str()));
        if (i == 1 && forms[1] == forms[0]) break;
        found = unzLocateFile(reader, forms[i].c_str(), 2) == UNZ_OK;
    }
    if (!found) {
        // A failed search leaves minizip where it was.
        return UZ_NOTFOUND;
    }
    unz_file_pos pos;
    if (unzGetFilePos(reader, &pos) != UNZ_OK || pos.num_of_file >= (uLong)nEntries) {
        nPosition = -1;
        return UZ_CORRUPT;
    }
    nPosition = (int)pos.num_of_file;
    DWORD code = Lookup(nPosition, out);
    if (code == UZ_OK) *index = out->nIndex;
    return code;
}

// Decides where an entry may be written under target, before anything is
// created: the output path and the folder part to create below the root.
// Targets are always relative to the root; an absolute or drive-relative
// one ("C:x.dll" lands in drive C's current folder) is refused.
DWORD ZipArchive::CheckEntry(const ZipEntry& entry, const std::wstring& target, std::wstring* outPath,
                             std::wstring* folderPart) const {
    if (LooksAbsolute(target)) return UZ_NOFILE;
    if (entry.bFolder) {
        *folderPart = target;
        DWORD code = ComposeBelowRoot(strRoot, target, true, outPath);
        if (code != UZ_OK) return code;
        return PathCrossesLink(*outPath) ? UZ_NOFILE : UZ_OK;
    }
    std::wstring bare;
    SplitTarget(target, folderPart, &bare);
    DWORD code = ComposeBelowRoot(strRoot, target, false, outPath);
    if (code != UZ_OK) return code;
    // The updater runs elevated over a folder a user may write to: a link on
    // the way (the root and the folders above it included) would carry the
    // file wherever it points.
    if (PathCrossesLink(*outPath)) return UZ_NOFILE;
    // Windows refuses to replace a read-only file; so do we, on every system,
    // and before the first byte of the archive is written.
    DWORD existing = GetFileAttributesW(outPath->c_str());
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return UZ_NOFILE;
    if (entry.wMethod != 0 && entry.wMethod != Z_DEFLATED) return UZ_FLATE;
    if (entry.wFlags & 0x40) return UZ_FLATE;  // strong encryption: not readable here
    if ((entry.wFlags & 1) && !bHasPassword) return UZ_PASSWORD;
    return UZ_OK;
}

// Decrypts the 12-byte encryption header and compares its last byte with the
// high byte of the CRC, or of the DOS time when a data descriptor follows.
DWORD ZipArchive::CheckPassword(const ZipEntry& entry) {
    if (unzOpenCurrentFile2(reader, nullptr, nullptr, 1) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return UZ_CORRUPT;
    }
    unsigned char header[12];
    int got = unzReadCurrentFile(reader, header, sizeof(header));
    unzCloseCurrentFile(reader);
    if (got != (int)sizeof(header)) return UZ_FLATE;
    zipheader::PkwareKeys keys(strPassword);
    unsigned char last = 0;
    for (unsigned char b : header) last = keys.Decode(b);
    unsigned char check = (entry.wFlags & 8) ? (unsigned char)(entry.dwDosDate >> 8)
                                             : (unsigned char)(entry.dwCrc >> 24);
    return last == check ? UZ_OK : UZ_PASSWORD;
}

// Owns an inflate stream.
class Inflater {
public:
    Inflater() { m_bReady = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (m_bReady) inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool IsReady() const { return m_bReady; }
    z_stream& Stream() { return m_stream; }

private:
    z_stream m_stream = {};
    bool m_bReady = false;
};

// Reads the entry's stored bytes through minizip (raw, decrypted) and
// inflates them here, so that the declared size and the CRC are enforced on
// 64-bit counts: data past the declared size is refused before it is
// written, data ending before it and a CRC mismatch fail the entry.
DWORD ZipArchive::CopyData(int index, const ZipEntry& entry, HANDLE file) {
    const bool encrypted = (entry.wFlags & 1) != 0;
    const bool deflated = entry.wMethod == Z_DEFLATED;
    unsigned long long remaining = entry.ullCompressedSize;
    // minizip counts the encryption header, already consumed, in the size.
    if (encrypted) {
        if (remaining < 12) return UZ_FLATE;
        remaining -= 12;
    }
    int method = 0, level = 0;
    if (unzOpenCurrentFile3(reader, &method, &level, 1, encrypted ? strPassword.c_str() : nullptr) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return UZ_CORRUPT;
    }
    nCurrentItem = index;
    if (buffer.empty()) buffer.resize(kReadBufferSize);
    if (deflated && output.empty()) output.resize(kReadBufferSize);
    Inflater inflater;
    if (deflated && !inflater.IsReady()) return UZ_FLATE;
    z_stream& zs = inflater.Stream();

    unsigned long long produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool ended = false;
    DWORD code = UZ_OK;
    while (code == UZ_OK && !ended) {
        if (zs.avail_in == 0) {
            if (remaining == 0) {
                if (!deflated) ended = true;
                else code = UZ_FLATE;  // the stream ends before its end marker
                break;
            }
            unsigned want = remaining < kReadBufferSize ? (unsigned)remaining : kReadBufferSize;
            int n = unzReadCurrentFile(reader, buffer.data(), want);
            if (n <= 0) {
                code = UZ_FLATE;
                break;
            }
            remaining -= (unsigned)n;
            zs.next_in = reinterpret_cast<Bytef*>(buffer.data());
            zs.avail_in = (uInt)n;
        }
        const char* chunk = buffer.data();
        uInt chunkSize = 0;
        if (deflated) {
            zs.next_out = reinterpret_cast<Bytef*>(output.data());
            zs.avail_out = kReadBufferSize;
            int r = inflate(&zs, Z_NO_FLUSH);
            if (r == Z_STREAM_END) ended = true;
            else if (r != Z_OK && !(r == Z_BUF_ERROR && zs.avail_in == 0)) code = UZ_FLATE;
            chunk = output.data();
            chunkSize = kReadBufferSize - zs.avail_out;
        } else {
            chunkSize = zs.avail_in;
            zs.avail_in = 0;
        }
        if (code != UZ_OK) break;
        if (chunkSize > entry.ullUncompressedSize - produced) {
            code = UZ_FLATE;  // more data than the entry declares
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk), chunkSize);
        produced += chunkSize;
        DWORD written = 0;
        if (chunkSize && (!WriteFile(file, chunk, chunkSize, &written, nullptr) || written != chunkSize))
            code = UZ_WRITE;
    }
    unzCloseCurrentFile(reader);
    nCurrentItem = -1;
    if (code == UZ_OK && (produced != entry.ullUncompressedSize || crc != entry.dwCrc)) code = UZ_FLATE;
    return code;
}

DWORD ZipArchive::Extract(int index, const std::wstring& target) {
    CloseItem();
    if (index < 0 || index >= nEntries) return UZ_ARGS;
    ZipEntry entry;
    DWORD code = Lookup(index, &entry);
    if (code != UZ_OK) return code;

    std::wstring outPath, folderPart;
    code = CheckEntry(entry, target, &outPath, &folderPart);
    if (code != UZ_OK) return code;
    if (entry.bFolder) {
        EnsureFolderPath(strRoot.c_str(), folderPart);
        return UZ_OK;
    }
    bool encrypted = (entry.wFlags & 1) != 0;
    if (encrypted && entry.ullUncompressedSize != 0) {
        code = CheckPassword(entry);
        if (code != UZ_OK) return code;
    }
    EnsureFolderPath(strRoot.c_str(), folderPart);

    DWORD createAttributes = entry.dwAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!createAttributes) createAttributes = FILE_ATTRIBUTE_NORMAL;
    AutoCloseHandle file(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, createAttributes, nullptr));
    if (!file.IsValid()) return UZ_NOFILE;
    // An empty entry keeps the times of its creation.
    if (entry.ullUncompressedSize == 0 && entry.ullCompressedSize == 0) return UZ_OK;
    code = CopyData(index, entry, file.Get());
    if (code == UZ_OK && entry.ullUncompressedSize != 0)
        g_pfnSetFileTime(file.Get(), &entry.ftCreation, &entry.ftAccess, &entry.ftWrite);
    return code;
}

// ------------------------------------------------------------------ CZipManager

struct CZipManager::Handle {
    int nKind = 1;  // 1: reading handle
    ZipArchive archive;
};

CZipManager::CZipManager() = default;

CZipManager::~CZipManager() { Close(); }

void CZipManager::Close() {
    delete m_pHandle;
    m_pHandle = nullptr;
    Store(UZ_OK);
}

DWORD CZipManager::CheckHandle() const {
    if (!m_pHandle) return UZ_ARGS;
    if (m_pHandle->nKind != 1) return UZ_MODE;
    return UZ_OK;
}

BOOL CZipManager::Open(const wchar_t* path, const char* password) {
    if (!path) {
        Store(UZ_ARGS);
        DebugLine(L"qnzt: 压缩文件名为NULL.", 0);
        return FALSE;
    }
    // Default root: the archive path without its extension.
    wcsncpy(m_szDefaultRoot, path, kMaxPathChars);
    m_szDefaultRoot[kMaxPathChars] = L'\0';
    wchar_t* dot = wcsrchr(m_szDefaultRoot, L'.');
    wchar_t* sep = nullptr;
    for (wchar_t* p = m_szDefaultRoot; *p; ++p)
        if (IsSep(*p)) sep = p;
    if (dot && (!sep || dot > sep)) *dot = L'\0';

    if (m_pHandle) Close();
    Handle* handle = new Handle;
    DWORD code = handle->archive.Open(path, password);
    if (code != UZ_OK) {
        delete handle;
        Store(code);
        DebugLine(L"qnzt: 加载压缩文件失败.", 0);
        return FALSE;
    }
    m_pHandle = handle;
    Store(UZ_OK);
    return TRUE;
}

BOOL CZipManager::SetExtractRoot(const wchar_t* folder) {
    DWORD code = CheckHandle();
    if (code == UZ_OK) {
        const wchar_t* source = folder ? folder : m_szDefaultRoot;
        size_t len = wcslen(source);
        // A root that does not fit is refused rather than cut: a cut root is another folder.
        if (len == 0 || len > kMaxPathChars) {
            code = UZ_ARGS;
        } else {
            std::wstring root = source;
            if (!IsSep(root.back())) root += L'/';
            m_pHandle->archive.strRoot = root;
        }
    }
    Store(code);
    if (code != UZ_OK) {
        DebugLine(L"qnzt: 设置压缩路径失败.", code);
        return FALSE;
    }
    return TRUE;
}

BOOL CZipManager::GetItemCount(int* count) {
    DWORD code = CheckHandle();
    ZipEntry summary;
    if (code == UZ_OK) code = m_pHandle->archive.Lookup(-1, &summary);
    if (code == UZ_OK && count) *count = summary.nIndex;
    return Store(code) == UZ_OK;
}

BOOL CZipManager::GetItemName(int index, wchar_t* buffer) {
    DWORD code = CheckHandle();
    ZipEntry entry;
    if (code == UZ_OK) code = m_pHandle->archive.Lookup(index, &entry);
    if (code == UZ_OK && buffer) {
        wcsncpy(buffer, entry.szName, kMaxPathChars);
        buffer[kMaxPathChars] = L'\0';
    }
    return Store(code) == UZ_OK;
}

BOOL CZipManager::GetItemInfo(int index, ZipEntry* entry) {
    DWORD code = CheckHandle();
    ZipEntry found;
    if (code == UZ_OK) code = index < 0 ? UZ_ARGS : m_pHandle->archive.Lookup(index, &found);
    if (code == UZ_OK && entry) *entry = found;
    return Store(code) == UZ_OK;
}

BOOL CZipManager::ExtractItemByName(const wchar_t* name, wchar_t* bareName) {
    if (!name) {
        Store(UZ_ARGS);
        DebugLine(L"qnzt: 待解压的子项名为NULL.", 0);
        return FALSE;
    }
    DWORD code = CheckHandle();
    int index = -1;
    ZipEntry entry;
    if (code == UZ_OK) code = m_pHandle->archive.LookupByName(name, &index, &entry);
    if (code != UZ_OK) {
        Store(code);
        DebugLine(L"qnzt: 查找待解压的子项失败.", code);
        return FALSE;
    }
    std::wstring given = name;
    size_t sep = given.find_last_of(L"\\/");
    std::wstring bare = sep == std::wstring::npos ? given : given.substr(sep + 1);
    if (bareName) {
        wcsncpy(bareName, bare.c_str(), kMaxPathChars);
        bareName[kMaxPathChars] = L'\0';
    }
    code = m_pHandle->archive.Extract(index, bare);
    Store(code);
    if (code != UZ_OK) {
        DebugLine(L"qnzt: 解压子项失败.", code);
        return FALSE;
    }
    return TRUE;
}

BOOL CZipManager::ExtractItem(int index, const wchar_t* target) {
    DWORD code = CheckHandle();
    if (code == UZ_OK) code = target ? m_pHandle->archive.Extract(index, target) : UZ_ARGS;
    return Store(code) == UZ_OK;
}

BOOL CZipManager::ExtractAll() {
    DWORD code = CheckHandle();
    if (code != UZ_OK) return Store(code) == UZ_OK;
    ZipArchive& archive = m_pHandle->archive;
    ZipEntry entry;
    code = archive.Lookup(-1, &entry);
    if (code != UZ_OK) return Store(code) == UZ_OK;
    int count = entry.nIndex;

    // First pass: every entry must be readable and land below the root.
    for (int i = 0; i < count; ++i) {
        entry = ZipEntry();
        code = archive.Lookup(i, &entry);
        if (code == UZ_OK && entry.bRefused) code = UZ_NOFILE;
        if (code == UZ_OK) {
            std::wstring outPath, folderPart;
            code = archive.CheckEntry(entry, entry.szName, &outPath, &folderPart);
        }
        if (code != UZ_OK) return Store(code) == UZ_OK;
    }
    for (int i = 0; i < count; ++i) {
        if (m_hStop != nullptr && WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0) return Store(UZ_ABORT) == UZ_OK;
        entry = ZipEntry();
        code = archive.Lookup(i, &entry);
        if (code == UZ_OK) code = archive.Extract(i, entry.szName);
        if (code != UZ_OK) return Store(code) == UZ_OK;
    }
    return Store(UZ_OK) == UZ_OK;
}

ZipFileTimeSetter SetZipFileTimeSetter(ZipFileTimeSetter setter) {
    ZipFileTimeSetter previous = g_pfnSetFileTime;
    g_pfnSetFileTime = setter ? setter : SetFileTime;
    return previous;
}
