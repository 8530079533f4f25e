// CZipManager over minizip's reader with its Win32 (wide path) file layer.
//
// Entry names pass through the updater's stripping rules and then through a
// refusal check: whatever is left must be a plain relative path whose
// components stay below the extraction root after Windows has canonicalised
// it. ExtractAll looks at every entry before it writes the first byte, so an
// archive holding any entry that could escape changes nothing on disk.
#include "ZipManager.h"

#include <zlib.h>
// unzip.h first: iowin32.h relies on the declarations it brings in.
#include <minizip/unzip.h>
#include <minizip/iowin32.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "FileWalk.h"

namespace {

ZipFileTimeSetter g_pfnSetFileTime = SetFileTime;

DWORD g_dwZipLastResult = UZ_OK;

DWORD Store(DWORD code) {
    g_dwZipLastResult = code;
    return code;
}

constexpr size_t kMaxPathChars = MAX_PATH - 1;  // 259: longest path we ever hand to the system
constexpr unsigned kReadBufferSize = 16384;
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

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// Absolute as the extraction steps see it: a leading separator or a drive colon.
bool LooksAbsolute(const std::wstring& path) {
    return (!path.empty() && IsSep(path[0])) || (path.size() >= 2 && path[1] == L':');
}

// The stripping rules applied to every stored name, repeated until none
// applies. uncForm is set when at some step the name began with two
// separators (UNC, "\\?\" and "\\.\" forms), which is refused later even
// though the rules would turn it into a relative name.
std::wstring ApplyNameRules(std::wstring name, bool* uncForm) {
    static const wchar_t* const kUpLevel[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        if (name.size() >= 2 && IsSep(name[0]) && IsSep(name[1])) *uncForm = true;
        if (name.size() >= 2 && name[1] == L':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && name[0] == L'\\') {
            name.erase(0, 1);
            continue;
        }
        if (!name.empty() && name[0] == L'/') {
            name.erase(0, 1);
            continue;
        }
        bool applied = false;
        for (const wchar_t* up : kUpLevel) {
            size_t pos = name.find(up);
            if (pos != std::wstring::npos) {
                name.erase(0, pos + 4);
                applied = true;
                break;
            }
        }
        if (!applied) break;
    }
    if (name.size() > kMaxPathChars) name.resize(kMaxPathChars);
    return name;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

// Reserved device names, with or without an extension; Windows opens the
// device instead of a file for them in any folder.
bool IsDeviceName(const std::wstring& component) {
    static const wchar_t* const kDevices[] = {
        L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$",
        L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9",
        L"COM\u00B9", L"COM\u00B2", L"COM\u00B3",
        L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9",
        L"LPT\u00B9", L"LPT\u00B2", L"LPT\u00B3"};
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (const wchar_t* device : kDevices)
        if (EqualNoCase(base, device)) return true;
    return false;
}

// One path component that may name a plain file or folder below its parent.
bool IsPlainComponent(const std::wstring& c) {
    if (c == L".") return true;
    if (c.find_first_not_of(L'.') == std::wstring::npos) return false;  // "..", "..."
    if (c.back() == L'.' || c.back() == L' ') return false;  // Windows drops these: aliases
    for (wchar_t ch : c) {
        if (ch < 0x20 || wcschr(L":*?\"<>|", ch)) return false;  // streams, wildcards, devices
    }
    return !IsDeviceName(c);
}

// Checks every component of a relative path (either separator). A file needs
// a non-empty last component that is not ".".
bool IsPlainRelativePath(const std::wstring& rel, bool folder) {
    if (rel.empty() || LooksAbsolute(rel)) return false;
    size_t start = 0;
    std::wstring last;
    for (;;) {
        size_t end = rel.find_first_of(L"\\/", start);
        std::wstring c = rel.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!c.empty() && !IsPlainComponent(c)) return false;
        last = c;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (!folder && (last.empty() || last == L".")) return false;
    return true;
}

// The same for a path the caller gave as absolute: a drive prefix and
// leading separators are the caller's, every named component must be plain.
bool IsPlainAbsolutePath(const std::wstring& path, bool folder) {
    std::wstring rest = path;
    if (rest.size() >= 2 && rest[1] == L':') {
        if (!iswalpha(rest[0])) return false;
        rest.erase(0, 2);
    }
    size_t first = rest.find_first_not_of(L"\\/");
    if (first == std::wstring::npos) return folder;
    return IsPlainRelativePath(rest.substr(first), folder);
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

FILETIME UnixTimeToFileTime(int32_t t) {
    ULONGLONG value = (ULONGLONG)((LONGLONG)t * 10000000LL + 116444736000000000LL);
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)value;
    ft.dwHighDateTime = (DWORD)(value >> 32);
    return ft;
}

// MS-DOS date and time (local) to a UTC FILETIME; zero when the fields are impossible.
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

// The first "UT" block of a local extra field overrides the times its flag names.
void ApplyExtendedTimestamp(const std::vector<unsigned char>& extra, ZipEntry* entry) {
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
        FILETIME* targets[3] = {&entry->ftWrite, &entry->ftAccess, &entry->ftCreation};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1 << bit))) continue;
            if (pos + 4 > end) return;
            *targets[bit] = UnixTimeToFileTime(ReadLE32(&extra[pos]));
            pos += 4;
        }
        return;
    }
}

DWORD AttributesOf(const unz_file_info64& info) {
    unsigned host = (unsigned)(info.version >> 8) & 0xFF;
    unsigned long ext = info.external_fa;
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

// Traditional PKWARE decryption keys, only to test the header's check byte:
// minizip decrypts but never compares it.
class PkwareKeys {
public:
    explicit PkwareKeys(const std::string& password) : m_table(get_crc_table()) {
        for (unsigned char c : password) Update(c);
    }
    unsigned char Decode(unsigned char c) {
        unsigned temp = (m_k[2] & 0xFFFF) | 2;
        unsigned char plain = c ^ (unsigned char)(((temp * (temp ^ 1)) >> 8) & 0xFF);
        Update(plain);
        return plain;
    }

private:
    uint32_t Crc(uint32_t crc, unsigned char b) const { return (uint32_t)m_table[(crc ^ b) & 0xFF] ^ (crc >> 8); }
    void Update(unsigned char c) {
        m_k[0] = Crc(m_k[0], c);
        m_k[1] = (m_k[1] + (m_k[0] & 0xFF)) * 134775813u + 1;
        m_k[2] = Crc(m_k[2], (unsigned char)(m_k[1] >> 24));
    }
    const z_crc_t* m_table;
    uint32_t m_k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

// Owns an output file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() {
        if (IsValid()) CloseHandle(m_h);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// A read buffer over iowin32's wide-path functions. minizip reads headers a
// few bytes at a time and seeks before every read; without the buffer each
// of those is a system call.
class BufferedFile {
public:
    static void Fill(zlib_filefunc64_def* inner, zlib_filefunc64_def* outer) {
        fill_win32_filefunc64W(inner);
        outer->zopen64_file = &BufferedFile::OpenCb;
        outer->zread_file = &BufferedFile::ReadCb;
        outer->zwrite_file = &BufferedFile::WriteCb;
        outer->ztell64_file = &BufferedFile::TellCb;
        outer->zseek64_file = &BufferedFile::SeekCb;
        outer->zclose_file = &BufferedFile::CloseCb;
        outer->zerror_file = &BufferedFile::ErrorCb;
        outer->opaque = inner;
    }

private:
    static constexpr uLong kSize = 65536;

    static voidpf ZCALLBACK OpenCb(voidpf opaque, const void* name, int mode) {
        zlib_filefunc64_def* inner = static_cast<zlib_filefunc64_def*>(opaque);
        voidpf stream = inner->zopen64_file(inner->opaque, name, mode);
        if (!stream) return nullptr;
        BufferedFile* file = new BufferedFile;
        file->m_inner = inner;
        file->m_stream = stream;
        if (inner->zseek64_file(inner->opaque, stream, 0, ZLIB_FILEFUNC_SEEK_END) == 0)
            file->m_size = inner->ztell64_file(inner->opaque, stream);
        return file;
    }
    static uLong ZCALLBACK ReadCb(voidpf, voidpf stream, void* buf, uLong size) {
        return static_cast<BufferedFile*>(stream)->Read(static_cast<char*>(buf), size);
    }
    static uLong ZCALLBACK WriteCb(voidpf, voidpf, const void*, uLong) { return 0; }
    static ZPOS64_T ZCALLBACK TellCb(voidpf, voidpf stream) { return static_cast<BufferedFile*>(stream)->m_pos; }
    static long ZCALLBACK SeekCb(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
        BufferedFile* file = static_cast<BufferedFile*>(stream);
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: file->m_pos = offset; break;
        case ZLIB_FILEFUNC_SEEK_CUR: file->m_pos += offset; break;
        case ZLIB_FILEFUNC_SEEK_END: file->m_pos = file->m_size + offset; break;
        default: return -1;
        }
        return 0;
    }
    static int ZCALLBACK CloseCb(voidpf, voidpf stream) {
        BufferedFile* file = static_cast<BufferedFile*>(stream);
        int result = file->m_inner->zclose_file(file->m_inner->opaque, file->m_stream);
        delete file;
        return result;
    }
    static int ZCALLBACK ErrorCb(voidpf, voidpf stream) {
        BufferedFile* file = static_cast<BufferedFile*>(stream);
        return file->m_error ? file->m_error : file->m_inner->zerror_file(file->m_inner->opaque, file->m_stream);
    }

    // Reads at the logical position; at the end of the file fewer bytes come back.
    uLong ReadAt(char* out, uLong size) {
        if (m_inner->zseek64_file(m_inner->opaque, m_stream, m_pos, ZLIB_FILEFUNC_SEEK_SET) != 0) {
            m_error = -1;
            return 0;
        }
        return m_inner->zread_file(m_inner->opaque, m_stream, out, size);
    }
    uLong Read(char* out, uLong size) {
        uLong done = 0;
        while (done < size) {
            if (m_pos >= m_bufferStart && m_pos < m_bufferStart + m_bufferLength) {
                uLong offset = (uLong)(m_pos - m_bufferStart);
                uLong n = m_bufferLength - offset;
                if (n > size - done) n = size - done;
                memcpy(out + done, m_buffer.data() + offset, n);
                m_pos += n;
                done += n;
                continue;
            }
            if (size - done >= kSize) {
                uLong n = ReadAt(out + done, size - done);
                m_pos += n;
                done += n;
                break;
            }
            if (m_buffer.empty()) m_buffer.resize(kSize);
            m_bufferStart = m_pos;
            m_bufferLength = ReadAt(m_buffer.data(), kSize);
            if (m_bufferLength == 0) break;
        }
        // minizip takes a header field cut short by the end of the file for
        // zero unless the file layer reports an error: a truncated end record
        // would otherwise open as a valid archive without entries.
        if (done < size) m_error = -1;
        return done;
    }

    zlib_filefunc64_def* m_inner = nullptr;
    voidpf m_stream = nullptr;
    ZPOS64_T m_size = 0;
    ZPOS64_T m_pos = 0;
    ZPOS64_T m_bufferStart = 0;
    uLong m_bufferLength = 0;
    int m_error = 0;
    std::vector<char> m_buffer;
};

// minizip cannot open an archive whose end record sits at offset 0, which is
// exactly what an archive without entries is. Such a file is recognised here.
bool IsEmptyArchive(const wchar_t* path) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    unsigned char record[22];
    DWORD got = 0;
    LARGE_INTEGER size = {};
    bool empty = GetFileSizeEx(h, &size) && ::ReadFile(h, record, sizeof(record), &got, nullptr) &&
                 got == sizeof(record);
    CloseHandle(h);
    if (!empty) return false;
    static const unsigned char kEmpty[20] = {'P', 'K', 5, 6};
    return memcmp(record, kEmpty, 20) == 0 && size.QuadPart == 22 + (LONGLONG)ReadLE16(&record[20]);
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
                     std::wstring* folderPart, bool* absolute) const;
    DWORD CheckPassword(const ZipEntry& entry);
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

    BufferedFile::Fill(&innerFiles, &files);
    reader = unzOpen2_64(path, &files);
    if (!reader) {
        if (!IsEmptyArchive(path)) return UZ_NOFILE;
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
    entry.dwAttributes = AttributesOf(info);
    entry.bFolder = (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                    (wcslen(wideName) > 0 && IsSep(wideName[wcslen(wideName) - 1]));
    entry.bRefused = !nameIntact || uncForm;
    entry.nCompressedSize = (int)info.compressed_size;
    entry.nUncompressedSize = (int)info.uncompressed_size;
    entry.wFlags = (unsigned short)info.flag;
    entry.wMethod = (unsigned short)info.compression_method;
    entry.dwCrc = info.crc;
    entry.dwDosDate = info.dosDate;
    entry.ftAccess = entry.ftCreation = entry.ftWrite = DosTimeToFileTime(info.dosDate);
    ApplyExtendedTimestamp(extra, &entry);

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
// created: the output path, the folder part to create, and whether the
// caller gave an absolute target.
DWORD ZipArchive::CheckEntry(const ZipEntry& entry, const std::wstring& target, std::wstring* outPath,
                             std::wstring* folderPart, bool* absolute) const {
    *absolute = LooksAbsolute(target);
    if (entry.bFolder) {
        if (*absolute) {
            if (!IsPlainAbsolutePath(target, true) || target.size() > kMaxPathChars) return UZ_NOFILE;
            *outPath = target;
            *folderPart = target;
        } else {
            DWORD code = ComposeBelowRoot(strRoot, target, true, outPath);
            *folderPart = target;
            if (code != UZ_OK) return code;
        }
        return PathCrossesLink(*outPath) ? UZ_NOFILE : UZ_OK;
    }
    size_t sep = target.find_last_of(L"\\/");
    *folderPart = sep == std::wstring::npos ? std::wstring() : target.substr(0, sep + 1);
    if (*absolute) {
        if (!IsPlainAbsolutePath(target, false) || target.size() > kMaxPathChars) return UZ_NOFILE;
        *outPath = target;
    } else {
        DWORD code = ComposeBelowRoot(strRoot, target, false, outPath);
        if (code != UZ_OK) return code;
    }
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
    PkwareKeys keys(strPassword);
    unsigned char last = 0;
    for (unsigned char b : header) last = keys.Decode(b);
    unsigned char check = (entry.wFlags & 8) ? (unsigned char)(entry.dwDosDate >> 8)
                                             : (unsigned char)(entry.dwCrc >> 24);
    return last == check ? UZ_OK : UZ_PASSWORD;
}

DWORD ZipArchive::Extract(int index, const std::wstring& target) {
    CloseItem();
    if (index < 0 || index >= nEntries) return UZ_ARGS;
    ZipEntry entry;
    DWORD code = Lookup(index, &entry);
    if (code != UZ_OK) return code;

    std::wstring outPath, folderPart;
    bool absolute = false;
    code = CheckEntry(entry, target, &outPath, &folderPart, &absolute);
    if (code != UZ_OK) return code;
    if (entry.bFolder) {
        EnsureFolderPath(absolute ? nullptr : strRoot.c_str(), folderPart);
        return UZ_OK;
    }
    bool encrypted = (entry.wFlags & 1) != 0;
    if (encrypted && entry.nUncompressedSize != 0) {
        code = CheckPassword(entry);
        if (code != UZ_OK) return code;
    }
    EnsureFolderPath(absolute ? nullptr : strRoot.c_str(), folderPart);

    DWORD createAttributes = entry.dwAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!createAttributes) createAttributes = FILE_ATTRIBUTE_NORMAL;
    FileHandle file(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, createAttributes, nullptr));
    if (!file.IsValid()) return UZ_NOFILE;
    if (entry.nUncompressedSize == 0) return UZ_OK;

    if (unzOpenCurrentFilePassword(reader, encrypted ? strPassword.c_str() : nullptr) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return UZ_CORRUPT;
    }
    nCurrentItem = index;
    if (buffer.empty()) buffer.resize(kReadBufferSize);
    code = UZ_OK;
    for (;;) {
        int n = unzReadCurrentFile(reader, buffer.data(), kReadBufferSize);
        if (n < 0) {
            code = UZ_FLATE;
            break;
        }
        if (n == 0) {
            if (unzeof(reader) != 1) code = UZ_FLATE;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(file.Get(), buffer.data(), (DWORD)n, &written, nullptr) || written != (DWORD)n) {
            code = UZ_WRITE;
            break;
        }
    }
    // minizip reports a CRC mismatch only here, once the whole entry was read.
    int closed = unzCloseCurrentFile(reader);
    nCurrentItem = -1;
    if (code == UZ_OK && closed != UNZ_OK) code = UZ_FLATE;
    if (code == UZ_OK) g_pfnSetFileTime(file.Get(), &entry.ftCreation, &entry.ftAccess, &entry.ftWrite);
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
            bool absolute = false;
            code = archive.CheckEntry(entry, entry.szName, &outPath, &folderPart, &absolute);
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
