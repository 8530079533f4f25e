// The file layer under minizip's reader: iowin32's wide-path functions with a
// read buffer in front, and the recognition of an archive without entries.
#pragma once

#include <minizip/unzip.h>

namespace zipfile {

// Fills outer with buffered functions over iowin32's, which go into inner;
// both must outlive the reader opened with outer.
void FillBufferedFileFuncs(zlib_filefunc64_def* inner, zlib_filefunc64_def* outer);

// A valid archive without entries (an end record at offset 0), which minizip cannot open.
bool IsEmptyArchive(const wchar_t* path);

}  // namespace zipfile
