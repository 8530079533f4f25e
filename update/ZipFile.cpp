#include "ZipFile.h"

#include <windows.h>
// unzip.h first: iowin32.h relies on the declarations it brings in.
#include <minizip/iowin32.h>

#include <cstring>
#include <vector>

#include "ZipHeader.h"

namespace zipfile {

namespace {

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
    // A read away from the last one (a local header, in the check pass over
    // all entries) fills only this much: most such reads want a few dozen bytes.
    static constexpr uLong kJumpSize = 4096;

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
            const bool sequential = m_bufferLength != 0 && m_pos == m_bufferStart + m_bufferLength;
            m_bufferStart = m_pos;
            m_bufferLength = ReadAt(m_buffer.data(), sequential ? kSize : kJumpSize);
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

}  // namespace

void FillBufferedFileFuncs(zlib_filefunc64_def* inner, zlib_filefunc64_def* outer) { BufferedFile::Fill(inner, outer); }

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
    return memcmp(record, kEmpty, 20) == 0 && size.QuadPart == 22 + (LONGLONG)zipheader::ReadLE16(&record[20]);
}

}  // namespace zipfile
