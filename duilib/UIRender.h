// Drawing on the paint manager's 32-bit canvas (premultiplied BGRA DIB
// sections), image decoding through WIC and reading files of the skin.
#pragma once

#include "UIString.h"

namespace DuiLib {

// A decoded image: a top-down 32-bit DIB section with premultiplied alpha.
struct TImageInfo {
    HBITMAP hBitmap;
    LPBYTE pBits;
    int nX;
    int nY;
    bool bAlpha;
};

class UILIB_API CRenderEngine {
public:
    // Reads a file of the skin: from the loaded skin archive when there is
    // one, otherwise from the resource path. Returns NULL when it cannot be
    // read; the buffer (allocated with new[]) is freed with FreeBuffer.
    static LPBYTE LoadBuffer(LPCTSTR pstrFile, DWORD& dwSize);
    static void FreeBuffer(LPBYTE pData);

    static TImageInfo* LoadImage(LPCTSTR pstrFile);
    static TImageInfo* LoadImageFromMemory(const BYTE* pData, DWORD dwSize);
    static void FreeImage(TImageInfo* pImage);

    // All drawing clips to rcClip. Colours are 0xAARRGGBB.
    static void DrawColor(HDC hDC, const RECT& rc, const RECT& rcClip, DWORD dwColor);
    static void DrawBorder(HDC hDC, const RECT& rc, const RECT& rcClip, int nSize, DWORD dwColor);
    // Scales rcSource of the image into rcDest keeping the corners of
    // rcCorner unscaled (9-grid); bHole leaves the middle out.
    static void DrawBitmap(HDC hDC, const RECT& rcDest, const RECT& rcClip, const TImageInfo* pImage,
                           const RECT& rcSource, const RECT& rcCorner, BYTE uFade, bool bHole);
    // pStrImage: a file name, or "file='x.png' corner='l,t,r,b' source='l,t,r,b'
    // dest='l,t,r,b' fade='0..255' hole='true'"; pStrModify adds to it.
    static bool DrawImageString(HDC hDC, CPaintManagerUI* pManager, const RECT& rcItem, const RECT& rcClip,
                                LPCTSTR pStrImage, LPCTSTR pStrModify = NULL);
    // DrawTextW styles; with DT_CALCRECT only rc is updated.
    static void DrawText(HDC hDC, CPaintManagerUI* pManager, RECT& rc, const RECT& rcClip, LPCTSTR pstrText,
                         DWORD dwTextColor, int iFont, UINT uStyle);
};

}  // namespace DuiLib
