#include "UIRender.h"

#include "UIInternal.h"
#include "UIManager.h"
#include "StartupTrace.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cwchar>

namespace DuiLib {

namespace {

const GUID kClsidWICImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kPixelFormat32bppPBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

template <class T>
class ComPtr {
public:
    ComPtr() : p(NULL) {}
    ~ComPtr() {
        if (p) p->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    T* p;
};

// The WIC factory of the UI thread. COM is started here because the
// library is the one that uses it; a thread that already runs COM in
// another mode keeps it (RPC_E_CHANGED_MODE).
IWICImagingFactory* GetWicFactory() {
    static IWICImagingFactory* s_pFactory = NULL;
    if (s_pFactory == NULL) {
        ::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        ::CoCreateInstance(kClsidWICImagingFactory, NULL, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                           reinterpret_cast<void**>(&s_pFactory));
    }
    return s_pFactory;
}

struct Canvas {
    BYTE* bits;
    int w;
    int h;
    int stride;
    bool topDown;
    DWORD* Row(int y) const {
        return reinterpret_cast<DWORD*>(bits + static_cast<size_t>(topDown ? y : h - 1 - y) * stride);
    }
};

bool GetCanvas(HDC hDC, Canvas& c) {
    HGDIOBJ hbm = ::GetCurrentObject(hDC, OBJ_BITMAP);
    DIBSECTION ds = {};
    if (hbm == NULL || ::GetObjectW(hbm, sizeof(ds), &ds) != sizeof(ds)) return false;
    if (ds.dsBm.bmBitsPixel != 32 || ds.dsBm.bmBits == NULL) return false;
    c.bits = static_cast<BYTE*>(ds.dsBm.bmBits);
    c.w = ds.dsBm.bmWidth;
    c.h = ds.dsBm.bmHeight < 0 ? -ds.dsBm.bmHeight : ds.dsBm.bmHeight;
    c.stride = ds.dsBm.bmWidthBytes;
    // Every canvas of the library is created top-down; the sign of
    // dsBmih.biHeight is not reliable (Wine reports it positive).
    c.topDown = true;
    return true;
}

inline DWORD Div255(DWORD x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// Source-over of a premultiplied pixel.
inline void Blend(DWORD* d, DWORD s) {
    DWORD a = s >> 24;
    if (a == 255) {
        *d = s;
        return;
    }
    if (a == 0 && (s & 0xFFFFFF) == 0) return;
    DWORD inv = 255 - a;
    DWORD dv = *d;
    DWORD b = (s & 0xFF) + Div255((dv & 0xFF) * inv);
    DWORD g = ((s >> 8) & 0xFF) + Div255(((dv >> 8) & 0xFF) * inv);
    DWORD r = ((s >> 16) & 0xFF) + Div255(((dv >> 16) & 0xFF) * inv);
    DWORD da = a + Div255((dv >> 24) * inv);
    *d = (std::min<DWORD>(da, 255) << 24) | (std::min<DWORD>(r, 255) << 16) | (std::min<DWORD>(g, 255) << 8) |
         std::min<DWORD>(b, 255);
}

inline DWORD Premultiply(DWORD argb) {
    DWORD a = argb >> 24;
    if (a == 255) return argb;
    DWORD r = Div255(((argb >> 16) & 0xFF) * a);
    DWORD g = Div255(((argb >> 8) & 0xFF) * a);
    DWORD b = Div255((argb & 0xFF) * a);
    return (a << 24) | (r << 16) | (g << 8) | b;
}

inline DWORD ScalePixel(DWORD s, DWORD f) {
    if (f >= 255) return s;
    return (Div255((s >> 24) * f) << 24) | (Div255(((s >> 16) & 0xFF) * f) << 16) |
           (Div255(((s >> 8) & 0xFF) * f) << 8) | Div255((s & 0xFF) * f);
}

bool ClipTo(const Canvas& c, const RECT& rc, const RECT& rcClip, RECT& out) {
    RECT rcCanvas = {0, 0, c.w, c.h};
    RECT tmp;
    return ::IntersectRect(&tmp, &rc, &rcClip) && ::IntersectRect(&out, &tmp, &rcCanvas);
}

void FillRectPremul(const Canvas& c, const RECT& rc, const RECT& rcClip, DWORD premul) {
    RECT r;
    if (!ClipTo(c, rc, rcClip, r)) return;
    for (int y = r.top; y < r.bottom; ++y) {
        DWORD* row = c.Row(y);
        for (int x = r.left; x < r.right; ++x) Blend(row + x, premul);
    }
}

// One piece of a 9-grid: rcSrc of the image scaled to rcDst (bilinear when sizes differ).
void StretchPiece(const Canvas& c, const RECT& rcDst, const RECT& rcClip, const TImageInfo* img, const RECT& rcSrc,
                  BYTE uFade) {
    int dw = rcDst.right - rcDst.left, dh = rcDst.bottom - rcDst.top;
    int sw = rcSrc.right - rcSrc.left, sh = rcSrc.bottom - rcSrc.top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    RECT r;
    if (!ClipTo(c, rcDst, rcClip, r)) return;
    const DWORD* src = reinterpret_cast<const DWORD*>(img->pBits);
    const int iw = img->nX;
    if (dw == sw && dh == sh) {
        for (int y = r.top; y < r.bottom; ++y) {
            DWORD* row = c.Row(y);
            const DWORD* srow = src + static_cast<size_t>(rcSrc.top + y - rcDst.top) * iw + rcSrc.left - rcDst.left;
            for (int x = r.left; x < r.right; ++x) Blend(row + x, ScalePixel(srow[x], uFade));
        }
        return;
    }
    // 16.16 fixed point source coordinates of pixel centres.
    const long long fx = (static_cast<long long>(sw) << 16) / dw;
    const long long fy = (static_cast<long long>(sh) << 16) / dh;
    for (int y = r.top; y < r.bottom; ++y) {
        long long syf = ((y - rcDst.top) * fy) + (fy >> 1) - 32768;
        if (syf < 0) syf = 0;
        int sy0 = static_cast<int>(syf >> 16);
        DWORD wy = static_cast<DWORD>((syf >> 8) & 0xFF);
        if (sy0 >= sh - 1) {
            sy0 = sh - 1;
            wy = 0;
        }
        int sy1 = std::min(sy0 + 1, sh - 1);
        const DWORD* row0 = src + static_cast<size_t>(rcSrc.top + sy0) * iw + rcSrc.left;
        const DWORD* row1 = src + static_cast<size_t>(rcSrc.top + sy1) * iw + rcSrc.left;
        DWORD* drow = c.Row(y);
        for (int x = r.left; x < r.right; ++x) {
            long long sxf = ((x - rcDst.left) * fx) + (fx >> 1) - 32768;
            if (sxf < 0) sxf = 0;
            int sx0 = static_cast<int>(sxf >> 16);
            DWORD wx = static_cast<DWORD>((sxf >> 8) & 0xFF);
            if (sx0 >= sw - 1) {
                sx0 = sw - 1;
                wx = 0;
            }
            int sx1 = std::min(sx0 + 1, sw - 1);
            DWORD p00 = row0[sx0], p01 = row0[sx1], p10 = row1[sx0], p11 = row1[sx1];
            DWORD out = 0;
            for (int sh8 = 0; sh8 < 32; sh8 += 8) {
                DWORD c00 = (p00 >> sh8) & 0xFF, c01 = (p01 >> sh8) & 0xFF;
                DWORD c10 = (p10 >> sh8) & 0xFF, c11 = (p11 >> sh8) & 0xFF;
                DWORD top = c00 * (256 - wx) + c01 * wx;
                DWORD bot = c10 * (256 - wx) + c11 * wx;
                DWORD v = (top * (256 - wy) + bot * wy + 32768) >> 16;
                out |= std::min<DWORD>(v, 255) << sh8;
            }
            Blend(drow + x, ScalePixel(out, uFade));
        }
    }
}

struct TDrawInfo {
    CDuiString sFile;
    RECT rcSource;
    RECT rcDest;
    RECT rcCorner;
    BYTE uFade;
    bool bHole;
    bool bDest;
    bool bSource;
};

void ParseDrawInfo(LPCTSTR pstr, TDrawInfo& info) {
    if (pstr == NULL || *pstr == 0) return;
    if (wcschr(pstr, L'=') == NULL) {
        info.sFile = pstr;
        return;
    }
    while (*pstr) {
        while (*pstr == L' ' || *pstr == L'\t' || *pstr == L',') ++pstr;
        LPCTSTR pKey = pstr;
        while (*pstr && *pstr != L'=') ++pstr;
        if (*pstr != L'=') break;
        CDuiString sKey(pKey, static_cast<int>(pstr - pKey));
        while (sKey.GetLength() > 0 && sKey[sKey.GetLength() - 1] == L' ') sKey = sKey.Left(sKey.GetLength() - 1);
        ++pstr;
        while (*pstr == L' ') ++pstr;
        if (*pstr != L'\'' && *pstr != L'"') break;
        TCHAR q = *pstr++;
        LPCTSTR pValue = pstr;
        while (*pstr && *pstr != q) ++pstr;
        CDuiString sValue(pValue, static_cast<int>(pstr - pValue));
        if (*pstr == q) ++pstr;
        if (sKey.CompareNoCase(L"file") == 0 || sKey.CompareNoCase(L"res") == 0) {
            info.sFile = sValue;
        } else if (sKey.CompareNoCase(L"source") == 0) {
            info.rcSource = ParseRect(sValue);
            info.bSource = true;
        } else if (sKey.CompareNoCase(L"dest") == 0) {
            info.rcDest = ParseRect(sValue);
            info.bDest = true;
        } else if (sKey.CompareNoCase(L"corner") == 0) {
            info.rcCorner = ParseRect(sValue);
        } else if (sKey.CompareNoCase(L"fade") == 0) {
            info.uFade = static_cast<BYTE>(_wtoi(sValue));
        } else if (sKey.CompareNoCase(L"hole") == 0) {
            info.bHole = ParseBool(sValue);
        }
    }
}

HFONT FontOf(CPaintManagerUI* pManager, int iFont) {
    HFONT h = pManager ? pManager->GetFont(iFont) : NULL;
    return h ? h : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace

// ---------------------------------------------------------------- files and images

LPBYTE CRenderEngine::LoadBuffer(LPCTSTR pstrFile, DWORD& dwSize) {
    dwSize = 0;
    std::vector<BYTE> data;
    if (!ReadSkinFile(pstrFile, data)) return NULL;
    LPBYTE p = new BYTE[data.size() + 1];
    if (!data.empty()) memcpy(p, data.data(), data.size());
    p[data.size()] = 0;
    dwSize = static_cast<DWORD>(data.size());
    return p;
}

void CRenderEngine::FreeBuffer(LPBYTE pData) { delete[] pData; }

TImageInfo* CRenderEngine::LoadImage(LPCTSTR pstrFile) {
    std::vector<BYTE> data;
    if (!ReadSkinFile(pstrFile, data) || data.empty()) return NULL;
    return LoadImageFromMemory(data.data(), static_cast<DWORD>(data.size()));
}

TImageInfo* CRenderEngine::LoadImageFromMemory(const BYTE* pData, DWORD dwSize) {
    CStartupSpan span(STARTUP_IMAGES);
    IWICImagingFactory* pFactory = GetWicFactory();
    if (pFactory == NULL || pData == NULL || dwSize == 0) return NULL;
    ComPtr<IWICStream> stream;
    if (FAILED(pFactory->CreateStream(&stream))) return NULL;
    if (FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(pData), dwSize))) return NULL;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(pFactory->CreateDecoderFromStream(stream.p, NULL, WICDecodeMetadataCacheOnLoad, &decoder))) return NULL;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, &frame))) return NULL;
    ComPtr<IWICFormatConverter> conv;
    if (FAILED(pFactory->CreateFormatConverter(&conv))) return NULL;
    if (FAILED(conv->Initialize(frame.p, kPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, NULL, 0.0,
                                WICBitmapPaletteTypeCustom)))
        return NULL;
    UINT w = 0, h = 0;
    if (FAILED(conv->GetSize(&w, &h)) || w == 0 || h == 0 || w > 8192 || h > 8192) return NULL;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = static_cast<LONG>(w);
    bmi.bmiHeader.biHeight = -static_cast<LONG>(h);
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HBITMAP hBitmap = ::CreateDIBSection(NULL, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (hBitmap == NULL) return NULL;
    if (FAILED(conv->CopyPixels(NULL, w * 4, w * h * 4, static_cast<BYTE*>(pBits)))) {
        ::DeleteObject(hBitmap);
        return NULL;
    }
    TImageInfo* pInfo = new TImageInfo;
    pInfo->hBitmap = hBitmap;
    pInfo->pBits = static_cast<LPBYTE>(pBits);
    pInfo->nX = static_cast<int>(w);
    pInfo->nY = static_cast<int>(h);
    pInfo->bAlpha = false;
    const DWORD* px = static_cast<const DWORD*>(pBits);
    for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
        if ((px[i] >> 24) != 255) {
            pInfo->bAlpha = true;
            break;
        }
    }
    return pInfo;
}

void CRenderEngine::FreeImage(TImageInfo* pImage) {
    if (pImage == NULL) return;
    if (pImage->hBitmap) ::DeleteObject(pImage->hBitmap);
    delete pImage;
}

// ---------------------------------------------------------------- drawing

void CRenderEngine::DrawColor(HDC hDC, const RECT& rc, const RECT& rcClip, DWORD dwColor) {
    if ((dwColor >> 24) == 0) return;
    Canvas c;
    if (!GetCanvas(hDC, c)) return;
    FillRectPremul(c, rc, rcClip, Premultiply(dwColor));
}

void CRenderEngine::DrawBorder(HDC hDC, const RECT& rc, const RECT& rcClip, int nSize, DWORD dwColor) {
    if (nSize <= 0 || (dwColor >> 24) == 0) return;
    Canvas c;
    if (!GetCanvas(hDC, c)) return;
    DWORD p = Premultiply(dwColor);
    RECT t = {rc.left, rc.top, rc.right, rc.top + nSize};
    RECT b = {rc.left, rc.bottom - nSize, rc.right, rc.bottom};
    RECT l = {rc.left, rc.top + nSize, rc.left + nSize, rc.bottom - nSize};
    RECT r = {rc.right - nSize, rc.top + nSize, rc.right, rc.bottom - nSize};
    FillRectPremul(c, t, rcClip, p);
    FillRectPremul(c, b, rcClip, p);
    FillRectPremul(c, l, rcClip, p);
    FillRectPremul(c, r, rcClip, p);
}

void CRenderEngine::DrawBitmap(HDC hDC, const RECT& rcDest, const RECT& rcClip, const TImageInfo* pImage,
                               const RECT& rcSource, const RECT& rcCorner, BYTE uFade, bool bHole) {
    if (pImage == NULL || uFade == 0) return;
    Canvas c;
    if (!GetCanvas(hDC, c)) return;
    RECT src = rcSource;
    if (src.right <= src.left || src.bottom <= src.top) src = RECT{0, 0, pImage->nX, pImage->nY};
    src.left = std::max<LONG>(src.left, 0);
    src.top = std::max<LONG>(src.top, 0);
    src.right = std::min<LONG>(src.right, pImage->nX);
    src.bottom = std::min<LONG>(src.bottom, pImage->nY);
    if (src.right <= src.left || src.bottom <= src.top) return;

    RECT k = rcCorner;
    int sw = src.right - src.left, sh = src.bottom - src.top;
    int dw = rcDest.right - rcDest.left, dh = rcDest.bottom - rcDest.top;
    if (dw <= 0 || dh <= 0) return;
    if (k.left + k.right > sw || k.top + k.bottom > sh) k = RECT{0, 0, 0, 0};
    // Corners larger than the destination shrink proportionally.
    int kl = k.left, kr = k.right, kt = k.top, kb = k.bottom;
    if (kl + kr > dw) {
        kl = dw * kl / (kl + kr);
        kr = dw - kl;
    }
    if (kt + kb > dh) {
        kt = dh * kt / (kt + kb);
        kb = dh - kt;
    }
    const int sx[4] = {static_cast<int>(src.left), static_cast<int>(src.left + k.left),
                       static_cast<int>(src.right - k.right), static_cast<int>(src.right)};
    const int sy[4] = {static_cast<int>(src.top), static_cast<int>(src.top + k.top),
                       static_cast<int>(src.bottom - k.bottom), static_cast<int>(src.bottom)};
    const int dx[4] = {static_cast<int>(rcDest.left), static_cast<int>(rcDest.left + kl),
                       static_cast<int>(rcDest.right - kr), static_cast<int>(rcDest.right)};
    const int dy[4] = {static_cast<int>(rcDest.top), static_cast<int>(rcDest.top + kt),
                       static_cast<int>(rcDest.bottom - kb), static_cast<int>(rcDest.bottom)};
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            if (bHole && i == 1 && j == 1) continue;
            RECT rs = {sx[i], sy[j], sx[i + 1], sy[j + 1]};
            RECT rd = {dx[i], dy[j], dx[i + 1], dy[j + 1]};
            StretchPiece(c, rd, rcClip, pImage, rs, uFade);
        }
    }
}

bool CRenderEngine::DrawImageString(HDC hDC, CPaintManagerUI* /*pManager*/, const RECT& rcItem, const RECT& rcClip,
                                    LPCTSTR pStrImage, LPCTSTR pStrModify) {
    if (pStrImage == NULL || *pStrImage == 0) return false;
    TDrawInfo info;
    info.rcSource = RECT{0, 0, 0, 0};
    info.rcDest = RECT{0, 0, 0, 0};
    info.rcCorner = RECT{0, 0, 0, 0};
    info.uFade = 255;
    info.bHole = false;
    info.bDest = false;
    info.bSource = false;
    ParseDrawInfo(pStrImage, info);
    if (pStrModify) ParseDrawInfo(pStrModify, info);
    const TImageInfo* pImage = GetSkinImage(info.sFile);
    if (pImage == NULL) return false;
    RECT rcDest = rcItem;
    if (info.bDest) {
        rcDest.left = rcItem.left + info.rcDest.left;
        rcDest.top = rcItem.top + info.rcDest.top;
        rcDest.right = rcItem.left + info.rcDest.right;
        rcDest.bottom = rcItem.top + info.rcDest.bottom;
    }
    RECT rcSrc = info.bSource ? info.rcSource : RECT{0, 0, pImage->nX, pImage->nY};
    DrawBitmap(hDC, rcDest, rcClip, pImage, rcSrc, info.rcCorner, info.uFade, info.bHole);
    return true;
}

void CRenderEngine::DrawText(HDC hDC, CPaintManagerUI* pManager, RECT& rc, const RECT& rcClip, LPCTSTR pstrText,
                             DWORD dwTextColor, int iFont, UINT uStyle) {
    if (pstrText == NULL) return;
    HFONT hFont = FontOf(pManager, iFont);
    if (uStyle & DT_CALCRECT) {
        HGDIOBJ hOld = ::SelectObject(hDC, hFont);
        ::DrawTextW(hDC, pstrText, -1, &rc, uStyle | DT_NOPREFIX);
        ::SelectObject(hDC, hOld);
        return;
    }
    if (*pstrText == 0 || (dwTextColor >> 24) == 0) return;
    Canvas c;
    if (!GetCanvas(hDC, c)) return;
    RECT rcVisible;
    if (!ClipTo(c, rc, rcClip, rcVisible)) return;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return;

    // The text is drawn white on black into a scratch bitmap; its grey
    // levels are the coverage with which the colour goes onto the canvas.
    // GDI would otherwise wipe the alpha of a layered window's canvas.
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HDC hScratch = ::CreateCompatibleDC(hDC);
    HBITMAP hbm = ::CreateDIBSection(hScratch, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (hbm == NULL) {
        ::DeleteDC(hScratch);
        return;
    }
    HGDIOBJ hOldBmp = ::SelectObject(hScratch, hbm);
    HGDIOBJ hOldFont = ::SelectObject(hScratch, hFont);
    ::SetBkMode(hScratch, TRANSPARENT);
    ::SetTextColor(hScratch, RGB(255, 255, 255));
    RECT rcLocal = {0, 0, w, h};
    ::DrawTextW(hScratch, pstrText, -1, &rcLocal, (uStyle & ~DT_CALCRECT) | DT_NOPREFIX);
    ::GdiFlush();
    const DWORD a = dwTextColor >> 24;
    const DWORD cr = (dwTextColor >> 16) & 0xFF, cg = (dwTextColor >> 8) & 0xFF, cb = dwTextColor & 0xFF;
    const DWORD* scratch = static_cast<const DWORD*>(pBits);
    for (int y = rcVisible.top; y < rcVisible.bottom; ++y) {
        DWORD* row = c.Row(y);
        const DWORD* srow = scratch + static_cast<size_t>(y - rc.top) * w - rc.left;
        for (int x = rcVisible.left; x < rcVisible.right; ++x) {
            DWORD s = srow[x];
            DWORD cov = std::max(std::max(s & 0xFF, (s >> 8) & 0xFF), (s >> 16) & 0xFF);
            if (cov == 0) continue;
            DWORD pa = Div255(cov * a);
            DWORD px = (pa << 24) | (Div255(cr * pa) << 16) | (Div255(cg * pa) << 8) | Div255(cb * pa);
            Blend(row + x, px);
        }
    }
    ::SelectObject(hScratch, hOldFont);
    ::SelectObject(hScratch, hOldBmp);
    ::DeleteObject(hbm);
    ::DeleteDC(hScratch);
}

}  // namespace DuiLib
