// Helpers shared between the library's own files (not exported).
#pragma once

#include "UIString.h"

#include <vector>

namespace DuiLib {

struct TImageInfo;

// Reads a skin file from the resource archive or the resource path.
bool ReadSkinFile(LPCTSTR pstrFile, std::vector<BYTE>& out);
// Decoded images by file name, loaded once per process.
const TImageInfo* GetSkinImage(LPCTSTR pstrFile);

// "l,t,r,b" / "x,y" / "#AARRGGBB" parsing used by the attribute setters.
RECT ParseRect(LPCTSTR pstrValue);
SIZE ParseSize(LPCTSTR pstrValue);
DWORD ParseColor(LPCTSTR pstrValue);
bool ParseBool(LPCTSTR pstrValue);

}  // namespace DuiLib
