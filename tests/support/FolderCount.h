// How far a run has got, read from the folder it fills or empties: the
// closing tests wait on these to pick their moments.
#pragma once

#include <cstddef>
#include <string>

// Entries directly in a folder (0 when it does not exist).
size_t CountEntries(const std::wstring& dir);
// Files anywhere below a folder (0 when it does not exist).
size_t CountFiles(const std::wstring& dir);
