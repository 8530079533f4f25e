#include "UIManager.h"

#include "UIControl.h"
#include "UIInternal.h"
#include "UIRender.h"
#include "UIZip.h"
#include "StartupTrace.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace DuiLib {

namespace {

struct Globals {
    HINSTANCE hInstance = NULL;
    HINSTANCE hResourceInstance = NULL;
    CDuiString resourcePath;
    CDuiString resourceZipName;
    bool bCachedZip = false;
    CZipArchive zip;
    const void* pZipSource = NULL;  // the memory the archive was read from
    size_t nZipSource = 0;
    std::map<std::wstring, TImageInfo*> images;
    std::map<std::wstring, CDuiString> fontFaces;
    std::vector<CPaintManagerUI*> managers;
    UINT msgAsyncNotify = 0;
    UINT msgLayeredPaint = 0;
};

Globals& G() {
    static Globals g;
    if (g.msgAsyncNotify == 0) {
        g.msgAsyncNotify = ::RegisterWindowMessageW(L"DuiLib.AsyncNotify");
        g.msgLayeredPaint = ::RegisterWindowMessageW(L"DuiLib.LayeredPaint");
    }
    return g;
}

std::wstring Lower(LPCTSTR p) {
    std::wstring s(p ? p : L"");
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

bool ReadWholeFile(LPCWSTR pstrPath, std::vector<BYTE>& out) {
    out.clear();
    HANDLE h = ::CreateFileW(pstrPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = ::GetFileSizeEx(h, &size) && size.QuadPart < 64LL * 1024 * 1024;
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD nRead = 0;
        ok = out.empty() || (::ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &nRead, NULL) &&
                             nRead == out.size());
    }
    ::CloseHandle(h);
    if (!ok) out.clear();
    return ok;
}

int CALLBACK FontExistsProc(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lParam) {
    *reinterpret_cast<bool*>(lParam) = true;
    return 0;
}

bool FontFaceInstalled(HDC hdc, LPCWSTR pstrFace) {
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, pstrFace, LF_FACESIZE - 1);
    bool bFound = false;
    ::EnumFontFamiliesExW(hdc, &lf, FontExistsProc, reinterpret_cast<LPARAM>(&bFound), 0);
    return bFound;
}

int CALLBACK ChineseFontProc(const LOGFONTW* plf, const TEXTMETRICW*, DWORD type, LPARAM lParam) {
    if (plf->lfFaceName[0] == L'@' || !(type & TRUETYPE_FONTTYPE)) return 1;
    *reinterpret_cast<std::wstring*>(lParam) = plf->lfFaceName;
    return 0;
}

CControlUI* CALLBACK FindControlFromName(CControlUI* pThis, LPVOID pData) {
    LPCTSTR pstrName = static_cast<LPCTSTR>(pData);
    return pThis->GetName() == pstrName ? pThis : NULL;
}

CControlUI* CALLBACK FindControlFromPoint(CControlUI* pThis, LPVOID pData) {
    return ::PtInRect(&pThis->GetPos(), *static_cast<LPPOINT>(pData)) ? pThis : NULL;
}

}  // namespace

// ---------------------------------------------------------------- skin files

bool ReadSkinFile(LPCTSTR pstrFile, std::vector<BYTE>& out) {
    out.clear();
    if (pstrFile == NULL || *pstrFile == 0) return false;
    Globals& g = G();
    if (g.zip.IsOpen()) {
        CStartupSpan span(STARTUP_SKIN_ARCHIVE);
        return g.zip.Read(pstrFile, out);
    }
    CDuiString sPath;
    if (wcschr(pstrFile, L':') != NULL || (pstrFile[0] == L'\\' && pstrFile[1] == L'\\'))
        sPath = pstrFile;
    else
        sPath = g.resourcePath + pstrFile;
    return ReadWholeFile(sPath, out);
}

const TImageInfo* GetSkinImage(LPCTSTR pstrFile) {
    if (pstrFile == NULL || *pstrFile == 0) return NULL;
    Globals& g = G();
    std::wstring key = Lower(pstrFile);
    auto it = g.images.find(key);
    if (it != g.images.end()) return it->second;
    TImageInfo* pImage = CRenderEngine::LoadImage(pstrFile);
    g.images[key] = pImage;  // a missing image is remembered as NULL
    return pImage;
}

// ---------------------------------------------------------------- data

struct CPaintManagerUI::Data {
    HWND hWnd = NULL;
    HDC hDcPaint = NULL;
    HDC hDcOffscreen = NULL;
    HBITMAP hbmpOffscreen = NULL;
    HGDIOBJ hOldOffscreen = NULL;
    int offW = 0;
    int offH = 0;

    CControlUI* pRoot = NULL;
    CControlUI* pFocus = NULL;
    CControlUI* pEventHover = NULL;
    CControlUI* pEventClick = NULL;

    bool bUpdateNeeded = true;
    bool bFirstLayout = true;
    bool bMouseTracking = false;
    bool bMouseCapture = false;
    bool bLayered = false;
    bool bLayeredPending = false;
    BYTE layeredOpacity = 255;
    CDuiString layeredImage;

    SIZE initSize = {0, 0};
    SIZE minInfo = {0, 0};
    SIZE maxInfo = {0, 0};
    SIZE roundCorner = {0, 0};
    RECT sizeBox = {0, 0, 0, 0};
    RECT caption = {0, 0, 0, 0};
    POINT ptLastMouse = {-1, -1};
    RECT rcPaintWindow = {0, 0, 0, 0};  // the area being painted, for floating controls

    std::map<int, TFontInfo*> fonts;
    TFontInfo* pDefaultFont = NULL;
    DWORD defaultFontColor = 0xFF000000;
    DWORD disabledColor = 0xFFA7A6AA;

    std::vector<INotifyUI*> notifiers;
    std::vector<IMessageFilterUI*> preFilters;
    std::vector<IMessageFilterUI*> filters;
    std::vector<TNotifyUI> asyncNotify;
    bool bAsyncPosted = false;

    struct Timer {
        CControlUI* pSender;
        UINT nLocalID;
        UINT_PTR uWinTimer;
    };
    std::vector<Timer> timers;
    UINT_PTR nextTimer = 0x4000;

    std::map<std::wstring, CDuiString> defaultAttrs;
};

static TFontInfo* MakeFont(HDC hdc, LPCTSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic) {
    LOGFONTW lf = {};
    CDuiString sFace = CPaintManagerUI::ResolveFontFace(pStrFontName);
    wcsncpy(lf.lfFaceName, sFace, LF_FACESIZE - 1);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = -nSize;
    lf.lfWeight = bBold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = bUnderline ? TRUE : FALSE;
    lf.lfItalic = bItalic ? TRUE : FALSE;
    lf.lfQuality = ANTIALIASED_QUALITY;
    HFONT hFont = ::CreateFontIndirectW(&lf);
    if (hFont == NULL) return NULL;
    TFontInfo* p = new TFontInfo;
    p->hFont = hFont;
    p->sFontName = sFace;
    p->iSize = nSize;
    p->bBold = bBold;
    p->bUnderline = bUnderline;
    p->bItalic = bItalic;
    memset(&p->tm, 0, sizeof(p->tm));
    HGDIOBJ hOld = ::SelectObject(hdc, hFont);
    ::GetTextMetricsW(hdc, &p->tm);
    ::SelectObject(hdc, hOld);
    return p;
}

static void FreeFont(TFontInfo* p) {
    if (p == NULL) return;
    ::DeleteObject(p->hFont);
    delete p;
}

CPaintManagerUI::CPaintManagerUI() : m_p(new Data) {
    m_p->hDcPaint = ::CreateCompatibleDC(NULL);
    m_p->pDefaultFont = MakeFont(m_p->hDcPaint, L"Microsoft YaHei", 12, false, false, false);
}

CPaintManagerUI::~CPaintManagerUI() {
    Globals& g = G();
    g.managers.erase(std::remove(g.managers.begin(), g.managers.end(), this), g.managers.end());
    for (auto& t : m_p->timers) {
        if (m_p->hWnd) ::KillTimer(m_p->hWnd, t.uWinTimer);
    }
    m_p->timers.clear();
    m_p->asyncNotify.clear();
    delete m_p->pRoot;
    m_p->pRoot = NULL;
    for (auto& f : m_p->fonts) FreeFont(f.second);
    FreeFont(m_p->pDefaultFont);
    if (m_p->hDcOffscreen) {
        ::SelectObject(m_p->hDcOffscreen, m_p->hOldOffscreen);
        ::DeleteDC(m_p->hDcOffscreen);
    }
    if (m_p->hbmpOffscreen) ::DeleteObject(m_p->hbmpOffscreen);
    ::DeleteDC(m_p->hDcPaint);
    delete m_p;
}

void CPaintManagerUI::Init(HWND hWnd) {
    m_p->hWnd = hWnd;
    Globals& g = G();
    auto it = std::find(g.managers.begin(), g.managers.end(), this);
    if (hWnd == NULL) {
        // The window is gone: its handle may be reused by another window.
        if (it != g.managers.end()) g.managers.erase(it);
        m_p->pEventHover = m_p->pEventClick = m_p->pFocus = NULL;
        m_p->bMouseCapture = false;
        return;
    }
    if (it == g.managers.end()) g.managers.push_back(this);
}

HWND CPaintManagerUI::GetPaintWindow() const { return m_p->hWnd; }
HDC CPaintManagerUI::GetPaintDC() const { return m_p->hDcPaint; }
const RECT& CPaintManagerUI::GetPaintRect() const { return m_p->rcPaintWindow; }
POINT CPaintManagerUI::GetMousePos() const { return m_p->ptLastMouse; }

SIZE CPaintManagerUI::GetClientSize() const {
    RECT rc = {};
    ::GetClientRect(m_p->hWnd, &rc);
    SIZE sz = {rc.right - rc.left, rc.bottom - rc.top};
    return sz;
}

// ---------------------------------------------------------------- window attributes

SIZE CPaintManagerUI::GetInitSize() { return m_p->initSize; }

void CPaintManagerUI::SetInitSize(int cx, int cy) {
    m_p->initSize.cx = cx;
    m_p->initSize.cy = cy;
    if (m_p->pRoot == NULL && m_p->hWnd != NULL) {
        ::SetWindowPos(m_p->hWnd, NULL, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    }
}

RECT& CPaintManagerUI::GetSizeBox() { return m_p->sizeBox; }
void CPaintManagerUI::SetSizeBox(RECT& rcSizeBox) { m_p->sizeBox = rcSizeBox; }
RECT& CPaintManagerUI::GetCaptionRect() { return m_p->caption; }
void CPaintManagerUI::SetCaptionRect(RECT& rcCaption) { m_p->caption = rcCaption; }
SIZE CPaintManagerUI::GetRoundCorner() const { return m_p->roundCorner; }

void CPaintManagerUI::SetRoundCorner(int cx, int cy) {
    m_p->roundCorner.cx = cx;
    m_p->roundCorner.cy = cy;
}

SIZE CPaintManagerUI::GetMinInfo() const { return m_p->minInfo; }

void CPaintManagerUI::SetMinInfo(int cx, int cy) {
    m_p->minInfo.cx = cx;
    m_p->minInfo.cy = cy;
}

SIZE CPaintManagerUI::GetMaxInfo() const { return m_p->maxInfo; }

void CPaintManagerUI::SetMaxInfo(int cx, int cy) {
    m_p->maxInfo.cx = cx;
    m_p->maxInfo.cy = cy;
}

bool CPaintManagerUI::IsLayered() const { return m_p->bLayered; }

void CPaintManagerUI::SetLayered(bool bLayered) {
    if (m_p->bLayered == bLayered) return;
    m_p->bLayered = bLayered;
    if (m_p->hWnd) {
        LONG_PTR ex = ::GetWindowLongPtrW(m_p->hWnd, GWL_EXSTYLE);
        ex = bLayered ? (ex | WS_EX_LAYERED) : (ex & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
        ::SetWindowLongPtrW(m_p->hWnd, GWL_EXSTYLE, ex);
    }
    Invalidate();
}

BYTE CPaintManagerUI::GetLayeredOpacity() const { return m_p->layeredOpacity; }

void CPaintManagerUI::SetLayeredOpacity(BYTE nOpacity) {
    m_p->layeredOpacity = nOpacity;
    Invalidate();
}

LPCTSTR CPaintManagerUI::GetLayeredImage() const { return m_p->layeredImage; }

void CPaintManagerUI::SetLayeredImage(LPCTSTR pstrImage) {
    m_p->layeredImage = pstrImage;
    Invalidate();
}

// ---------------------------------------------------------------- process-wide

HINSTANCE CPaintManagerUI::GetInstance() { return G().hInstance; }

CDuiString CPaintManagerUI::GetInstancePath() {
    Globals& g = G();
    wchar_t szPath[MAX_PATH + 1] = {};
    // A path cut short names a folder above the program's own: no skins from there.
    const DWORD n = ::GetModuleFileNameW(g.hInstance, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return CDuiString();
    wchar_t* p = wcsrchr(szPath, L'\\');
    if (p) p[1] = 0;
    return CDuiString(szPath);
}

CDuiString CPaintManagerUI::GetCurrentPath() {
    wchar_t szPath[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szPath);
    return CDuiString(szPath);
}

HINSTANCE CPaintManagerUI::GetResourceDll() {
    Globals& g = G();
    return g.hResourceInstance ? g.hResourceInstance : g.hInstance;
}

const CDuiString& CPaintManagerUI::GetResourcePath() { return G().resourcePath; }
const CDuiString& CPaintManagerUI::GetResourceZip() { return G().resourceZipName; }
bool CPaintManagerUI::IsCachedResourceZip() { return G().bCachedZip; }
void CPaintManagerUI::SetInstance(HINSTANCE hInst) { G().hInstance = hInst; }
void CPaintManagerUI::SetCurrentPath(LPCTSTR pStrPath) { ::SetCurrentDirectoryW(pStrPath); }
void CPaintManagerUI::SetResourceDll(HINSTANCE hInst) { G().hResourceInstance = hInst; }

void CPaintManagerUI::SetResourcePath(LPCTSTR pStrPath) {
    CDuiString& s = G().resourcePath;
    s = pStrPath;
    if (s.IsEmpty()) return;
    TCHAR c = s[s.GetLength() - 1];
    if (c != L'\\' && c != L'/') s += L'\\';
}

static void ForgetImages() {
    Globals& g = G();
    for (auto& it : g.images) CRenderEngine::FreeImage(it.second);
    g.images.clear();
}

void CPaintManagerUI::SetResourceZip(LPVOID pVoid, unsigned int len, LPCTSTR pstrName) {
    Globals& g = G();
    // Every window of a program names the same resource: read it once.
    if (pVoid != NULL && g.zip.IsOpen() && pVoid == g.pZipSource && len == g.nZipSource) return;
    CStartupSpan span(STARTUP_SKIN_ARCHIVE);
    ForgetImages();
    g.pZipSource = pVoid;
    g.nZipSource = len;
    if (pVoid != NULL && g.zip.OpenMemory(pVoid, len)) {
        g.resourceZipName = (pstrName && *pstrName) ? pstrName : L"membuffer";
        g.bCachedZip = true;
    } else {
        g.zip.Close();
        g.pZipSource = NULL;
        g.nZipSource = 0;
        g.resourceZipName.Empty();
        g.bCachedZip = false;
    }
}

void CPaintManagerUI::SetResourceZip(LPCTSTR pstrZip, bool bCachedResourceZip) {
    Globals& g = G();
    ForgetImages();
    g.zip.Close();
    g.pZipSource = NULL;
    g.nZipSource = 0;
    CDuiString sPath = g.resourcePath + pstrZip;
    if (pstrZip && g.zip.OpenFile(sPath)) {
        g.resourceZipName = pstrZip;
        g.bCachedZip = bCachedResourceZip;
    } else {
        g.resourceZipName.Empty();
        g.bCachedZip = false;
    }
}

// ---------------------------------------------------------------- fonts

CDuiString CPaintManagerUI::ResolveFontFace(LPCTSTR pStrFontName) {
    Globals& g = G();
    std::wstring key = Lower(pStrFontName);
    auto it = g.fontFaces.find(key);
    if (it != g.fontFaces.end()) return it->second;
    HDC hdc = ::CreateCompatibleDC(NULL);
    CDuiString sFace;
    if (pStrFontName && *pStrFontName && FontFaceInstalled(hdc, pStrFontName)) {
        sFace = pStrFontName;
    } else {
        // Faces with Chinese glyphs, the closest to the requested look first.
        static const wchar_t* const kFallbacks[] = {
            L"Microsoft YaHei", L"微软雅黑", L"WenQuanYi Micro Hei", L"文泉驿微米黑", L"Noto Sans CJK SC",
            L"Source Han Sans SC", L"WenQuanYi Zen Hei", L"SimHei", L"黑体", L"SimSun", L"宋体", L"NSimSun",
            L"Droid Sans Fallback", L"AR PL UMing CN",
        };
        for (const wchar_t* f : kFallbacks) {
            if (FontFaceInstalled(hdc, f)) {
                sFace = f;
                break;
            }
        }
        if (sFace.IsEmpty()) {
            LOGFONTW lf = {};
            lf.lfCharSet = GB2312_CHARSET;
            std::wstring found;
            ::EnumFontFamiliesExW(hdc, &lf, ChineseFontProc, reinterpret_cast<LPARAM>(&found), 0);
            sFace = found.empty() ? (pStrFontName ? pStrFontName : L"") : found.c_str();
        }
    }
    ::DeleteDC(hdc);
    g.fontFaces[key] = sFace;
    return sFace;
}

HFONT CPaintManagerUI::AddFont(int id, LPCTSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic) {
    TFontInfo* p = MakeFont(m_p->hDcPaint, pStrFontName, nSize, bBold, bUnderline, bItalic);
    if (p == NULL) return NULL;
    auto it = m_p->fonts.find(id);
    if (it != m_p->fonts.end()) FreeFont(it->second);
    m_p->fonts[id] = p;
    return p->hFont;
}

void CPaintManagerUI::SetDefaultFont(LPCTSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic) {
    TFontInfo* p = MakeFont(m_p->hDcPaint, pStrFontName, nSize, bBold, bUnderline, bItalic);
    if (p == NULL) return;
    FreeFont(m_p->pDefaultFont);
    m_p->pDefaultFont = p;
}

TFontInfo* CPaintManagerUI::GetFontInfo(int id) {
    auto it = m_p->fonts.find(id);
    if (id < 0 || it == m_p->fonts.end()) return m_p->pDefaultFont;
    return it->second;
}

HFONT CPaintManagerUI::GetFont(int id) {
    TFontInfo* p = GetFontInfo(id);
    return p ? p->hFont : NULL;
}

TFontInfo* CPaintManagerUI::GetFontInfo(HFONT hFont) {
    for (auto& f : m_p->fonts) {
        if (f.second->hFont == hFont) return f.second;
    }
    return m_p->pDefaultFont;
}

TFontInfo* CPaintManagerUI::GetDefaultFontInfo() { return m_p->pDefaultFont; }
DWORD CPaintManagerUI::GetDefaultFontColor() const { return m_p->defaultFontColor; }
void CPaintManagerUI::SetDefaultFontColor(DWORD dwColor) { m_p->defaultFontColor = dwColor; }
DWORD CPaintManagerUI::GetDefaultDisabledColor() const { return m_p->disabledColor; }
void CPaintManagerUI::SetDefaultDisabledColor(DWORD dwColor) { m_p->disabledColor = dwColor; }

const TImageInfo* CPaintManagerUI::GetImage(LPCTSTR bitmap) { return GetSkinImage(bitmap); }

void CPaintManagerUI::AddDefaultAttributeList(LPCTSTR pStrControlName, LPCTSTR pStrControlAttrList) {
    m_p->defaultAttrs[Lower(pStrControlName)] = pStrControlAttrList;
}

LPCTSTR CPaintManagerUI::GetDefaultAttributeList(LPCTSTR pStrControlName) const {
    auto it = m_p->defaultAttrs.find(Lower(pStrControlName));
    return it == m_p->defaultAttrs.end() ? NULL : static_cast<LPCTSTR>(it->second);
}

// ---------------------------------------------------------------- tree

bool CPaintManagerUI::AttachDialog(CControlUI* pControl) {
    if (pControl == NULL) return false;
    if (m_p->pRoot != NULL && m_p->pRoot != pControl) {
        CControlUI* pOld = m_p->pRoot;
        m_p->pRoot = NULL;
        m_p->pFocus = m_p->pEventHover = m_p->pEventClick = NULL;
        delete pOld;
    }
    m_p->pRoot = pControl;
    m_p->bUpdateNeeded = true;
    m_p->bFirstLayout = true;
    return InitControls(pControl);
}

bool CPaintManagerUI::InitControls(CControlUI* pControl, CControlUI* pParent) {
    if (pControl == NULL) return false;
    pControl->SetManager(this, pParent != NULL ? pParent : pControl->GetParent(), true);
    return true;
}

void CPaintManagerUI::ReapObjects(CControlUI* pControl) {
    if (pControl == m_p->pEventHover) m_p->pEventHover = NULL;
    if (pControl == m_p->pEventClick) m_p->pEventClick = NULL;
    if (pControl == m_p->pFocus) m_p->pFocus = NULL;
    KillTimer(pControl);
    auto& q = m_p->asyncNotify;
    q.erase(std::remove_if(q.begin(), q.end(), [pControl](const TNotifyUI& n) { return n.pSender == pControl; }),
            q.end());
}

CControlUI* CPaintManagerUI::GetRoot() const { return m_p->pRoot; }

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
    if (m_p->pRoot == NULL) return NULL;
    const_cast<CPaintManagerUI*>(this)->UpdateLayout();
    return m_p->pRoot->FindControl(FindControlFromPoint, &pt,
                                   UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST | UIFIND_ENABLED);
}

CControlUI* CPaintManagerUI::FindControl(LPCTSTR pstrName) const {
    if (m_p->pRoot == NULL || pstrName == NULL) return NULL;
    return m_p->pRoot->FindControl(FindControlFromName, const_cast<LPTSTR>(pstrName), UIFIND_ALL);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* pParent, LPCTSTR pstrName) const {
    if (pParent == NULL) pParent = m_p->pRoot;
    if (pParent == NULL || pstrName == NULL) return NULL;
    return pParent->FindControl(FindControlFromName, const_cast<LPTSTR>(pstrName), UIFIND_ALL);
}

// ---------------------------------------------------------------- focus, timers, capture

CControlUI* CPaintManagerUI::GetFocus() const { return m_p->pFocus; }

void CPaintManagerUI::SetFocus(CControlUI* pControl) {
    if (pControl == m_p->pFocus) return;
    if (m_p->pFocus != NULL) {
        TEventUI event = {};
        event.Type = UIEVENT_KILLFOCUS;
        event.pSender = pControl;
        event.dwTimestamp = ::GetTickCount();
        CControlUI* pOld = m_p->pFocus;
        m_p->pFocus = NULL;
        pOld->Event(event);
    }
    if (pControl != NULL && pControl->GetManager() == this && pControl->IsVisible() && pControl->IsEnabled()) {
        m_p->pFocus = pControl;
        TEventUI event = {};
        event.Type = UIEVENT_SETFOCUS;
        event.pSender = pControl;
        event.dwTimestamp = ::GetTickCount();
        pControl->Event(event);
    }
}

bool CPaintManagerUI::SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse) {
    if (pControl == NULL || m_p->hWnd == NULL) return false;
    for (auto& t : m_p->timers) {
        if (t.pSender == pControl && t.nLocalID == nTimerID) {
            return ::SetTimer(m_p->hWnd, t.uWinTimer, uElapse, NULL) != 0;
        }
    }
    UINT_PTR id = m_p->nextTimer++;
    if (::SetTimer(m_p->hWnd, id, uElapse, NULL) == 0) return false;
    m_p->timers.push_back(Data::Timer{pControl, nTimerID, id});
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* pControl, UINT nTimerID) {
    auto& v = m_p->timers;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it->pSender == pControl && it->nLocalID == nTimerID) {
            if (m_p->hWnd) ::KillTimer(m_p->hWnd, it->uWinTimer);
            v.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillTimer(CControlUI* pControl) {
    auto& v = m_p->timers;
    for (auto it = v.begin(); it != v.end();) {
        if (it->pSender == pControl) {
            if (m_p->hWnd) ::KillTimer(m_p->hWnd, it->uWinTimer);
            it = v.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::SetCapture() {
    ::SetCapture(m_p->hWnd);
    m_p->bMouseCapture = true;
}

void CPaintManagerUI::ReleaseCapture() {
    if (m_p->bMouseCapture) ::ReleaseCapture();
    m_p->bMouseCapture = false;
}

bool CPaintManagerUI::IsCaptured() { return m_p->bMouseCapture; }

// ---------------------------------------------------------------- notifications and filters

bool CPaintManagerUI::AddNotifier(INotifyUI* pNotifier) {
    auto& v = m_p->notifiers;
    if (pNotifier == NULL || std::find(v.begin(), v.end(), pNotifier) != v.end()) return false;
    v.push_back(pNotifier);
    return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* pNotifier) {
    auto& v = m_p->notifiers;
    auto it = std::find(v.begin(), v.end(), pNotifier);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

void CPaintManagerUI::SendNotify(TNotifyUI& Msg, bool bAsync) {
    Msg.ptMouse = m_p->ptLastMouse;
    Msg.dwTimestamp = ::GetTickCount();
    if (bAsync) {
        m_p->asyncNotify.push_back(Msg);
        if (!m_p->bAsyncPosted && m_p->hWnd) {
            m_p->bAsyncPosted = true;
            ::PostMessageW(m_p->hWnd, G().msgAsyncNotify, 0, 0);
        }
        return;
    }
    // A copy: a listener may add or remove listeners while it runs.
    std::vector<INotifyUI*> v = m_p->notifiers;
    for (INotifyUI* p : v) p->Notify(Msg);
}

void CPaintManagerUI::SendNotify(CControlUI* pControl, LPCTSTR pstrMessage, WPARAM wParam, LPARAM lParam,
                                 bool bAsync) {
    TNotifyUI Msg;
    Msg.pSender = pControl;
    Msg.sType = pstrMessage;
    Msg.wParam = wParam;
    Msg.lParam = lParam;
    Msg.ptMouse = POINT{0, 0};
    Msg.dwTimestamp = 0;
    SendNotify(Msg, bAsync);
}

void CPaintManagerUI::DeliverAsyncNotifications() {
    m_p->bAsyncPosted = false;
    while (!m_p->asyncNotify.empty()) {
        TNotifyUI Msg = m_p->asyncNotify.front();
        m_p->asyncNotify.erase(m_p->asyncNotify.begin());
        std::vector<INotifyUI*> v = m_p->notifiers;
        for (INotifyUI* p : v) p->Notify(Msg);
    }
}

bool CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* pFilter) {
    auto& v = m_p->preFilters;
    if (pFilter == NULL || std::find(v.begin(), v.end(), pFilter) != v.end()) return false;
    v.push_back(pFilter);
    return true;
}

bool CPaintManagerUI::RemovePreMessageFilter(IMessageFilterUI* pFilter) {
    auto& v = m_p->preFilters;
    auto it = std::find(v.begin(), v.end(), pFilter);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* pFilter) {
    auto& v = m_p->filters;
    if (pFilter == NULL || std::find(v.begin(), v.end(), pFilter) != v.end()) return false;
    v.push_back(pFilter);
    return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* pFilter) {
    auto& v = m_p->filters;
    auto it = std::find(v.begin(), v.end(), pFilter);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

// ---------------------------------------------------------------- message loop

void CPaintManagerUI::MessageLoop() {
    MSG msg = {};
    while (::GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (msg.message == WM_QUIT) {
        // Leave the quit code where an outer loop (if any) finds it.
    }
}

bool CPaintManagerUI::TranslateMessage(const LPMSG pMsg) {
    if (pMsg == NULL || pMsg->hwnd == NULL) return false;
    std::vector<CPaintManagerUI*> managers = G().managers;
    for (CPaintManagerUI* pm : managers) {
        HWND hPaint = pm->GetPaintWindow();
        if (hPaint == NULL) continue;
        // The window itself or one of its child windows (edits).
        for (HWND h = pMsg->hwnd; h != NULL; h = ::GetParent(h)) {
            if (h == hPaint) {
                LRESULT lRes = 0;
                if (pm->PreMessageHandler(pMsg->message, pMsg->wParam, pMsg->lParam, lRes)) return true;
                return false;
            }
            if ((::GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD) == 0) break;
        }
    }
    return false;
}

void CPaintManagerUI::Term() {
    ForgetImages();
    G().zip.Close();
    G().pZipSource = NULL;
    G().nZipSource = 0;
    G().resourceZipName.Empty();
}

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    std::vector<IMessageFilterUI*> v = m_p->preFilters;
    for (IMessageFilterUI* f : v) {
        bool bHandled = false;
        LRESULT lResult = f->MessageHandler(uMsg, wParam, lParam, bHandled);
        if (bHandled) {
            lRes = lResult;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- layout and painting

void CPaintManagerUI::NeedUpdate() {
    m_p->bUpdateNeeded = true;
    Invalidate();
}

void CPaintManagerUI::Invalidate() {
    if (m_p->hWnd == NULL) return;
    if (m_p->bLayered) {
        if (!m_p->bLayeredPending) {
            m_p->bLayeredPending = true;
            ::PostMessageW(m_p->hWnd, G().msgLayeredPaint, 0, 0);
        }
        return;
    }
    ::InvalidateRect(m_p->hWnd, NULL, FALSE);
}

void CPaintManagerUI::Invalidate(RECT& rcItem) {
    if (m_p->hWnd == NULL) return;
    if (m_p->bLayered) {
        Invalidate();
        return;
    }
    ::InvalidateRect(m_p->hWnd, &rcItem, FALSE);
}

void CPaintManagerUI::UpdateLayout() {
    if (m_p->pRoot == NULL || m_p->hWnd == NULL) return;
    if (!m_p->bUpdateNeeded && !m_p->pRoot->IsUpdateNeeded()) return;
    m_p->bUpdateNeeded = false;
    RECT rcClient = {};
    ::GetClientRect(m_p->hWnd, &rcClient);
    if (::IsRectEmpty(&rcClient) || ::IsIconic(m_p->hWnd)) return;
    m_p->pRoot->SetPos(rcClient, false);
    if (m_p->bFirstLayout) {
        m_p->bFirstLayout = false;
        SendNotify(m_p->pRoot, DUI_MSGTYPE_WINDOWINIT, 0, 0, true);
    }
}

bool CPaintManagerUI::EnsureOffscreen(int cx, int cy) {
    if (cx <= 0 || cy <= 0) return false;
    if (m_p->hbmpOffscreen && m_p->offW == cx && m_p->offH == cy) return true;
    if (m_p->hDcOffscreen == NULL) m_p->hDcOffscreen = ::CreateCompatibleDC(NULL);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HBITMAP hbm = ::CreateDIBSection(m_p->hDcOffscreen, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (hbm == NULL) return false;
    HGDIOBJ hOld = ::SelectObject(m_p->hDcOffscreen, hbm);
    if (m_p->hbmpOffscreen) {
        ::DeleteObject(m_p->hbmpOffscreen);
    } else {
        m_p->hOldOffscreen = hOld;
    }
    m_p->hbmpOffscreen = hbm;
    m_p->offW = cx;
    m_p->offH = cy;
    return true;
}

void CPaintManagerUI::Paint() {
    PaintWindow();
    // After the paint's own time is counted.
    if (m_p->pRoot != NULL) StartupPainted();
}

void CPaintManagerUI::PaintWindow() {
    CStartupSpan span(STARTUP_PAINT);
    PAINTSTRUCT ps = {};
    HDC hdc = ::BeginPaint(m_p->hWnd, &ps);
    UpdateLayout();
    SIZE sz = GetClientSize();
    if (m_p->pRoot != NULL && EnsureOffscreen(sz.cx, sz.cy)) {
        RECT rcPaint = ps.rcPaint;
        RECT rcClient = {0, 0, sz.cx, sz.cy};
        ::IntersectRect(&rcPaint, &rcPaint, &rcClient);
        CRenderEngine::DrawColor(m_p->hDcOffscreen, rcPaint, rcPaint, 0xFFFFFFFF);
        m_p->rcPaintWindow = rcPaint;
        m_p->pRoot->DoPaint(m_p->hDcOffscreen, rcPaint);
        ::BitBlt(hdc, rcPaint.left, rcPaint.top, rcPaint.right - rcPaint.left, rcPaint.bottom - rcPaint.top,
                 m_p->hDcOffscreen, rcPaint.left, rcPaint.top, SRCCOPY);
    }
    ::EndPaint(m_p->hWnd, &ps);
}

void CPaintManagerUI::PaintLayered() {
    CStartupSpan span(STARTUP_PAINT);
    m_p->bLayeredPending = false;
    if (m_p->hWnd == NULL || m_p->pRoot == NULL) return;
    UpdateLayout();
    SIZE sz = GetClientSize();
    if (!EnsureOffscreen(sz.cx, sz.cy)) return;
    RECT rcClient = {0, 0, sz.cx, sz.cy};
    // Start fully transparent: only what is drawn shows.
    {
        DIBSECTION ds = {};
        ::GetObjectW(m_p->hbmpOffscreen, sizeof(ds), &ds);
        memset(ds.dsBm.bmBits, 0, static_cast<size_t>(ds.dsBm.bmWidthBytes) * sz.cy);
    }
    if (!m_p->layeredImage.IsEmpty()) {
        CRenderEngine::DrawImageString(m_p->hDcOffscreen, this, rcClient, rcClient, m_p->layeredImage);
    }
    m_p->rcPaintWindow = rcClient;
    m_p->pRoot->DoPaint(m_p->hDcOffscreen, rcClient);
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, m_p->layeredOpacity, AC_SRC_ALPHA};
    POINT ptSrc = {0, 0};
    ::UpdateLayeredWindow(m_p->hWnd, NULL, NULL, &sz, m_p->hDcOffscreen, &ptSrc, 0, &bf, ULW_ALPHA);
}

// ---------------------------------------------------------------- messages

static TEventUI MakeEvent(int type, CControlUI* pSender, POINT pt, WPARAM wParam, LPARAM lParam) {
    TEventUI e = {};
    e.Type = type;
    e.pSender = pSender;
    e.dwTimestamp = ::GetTickCount();
    e.ptMouse = pt;
    e.wKeyState = static_cast<WORD>(wParam);
    e.wParam = wParam;
    e.lParam = lParam;
    return e;
}

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    if (m_p->hWnd == NULL) return false;
    {
        std::vector<IMessageFilterUI*> v = m_p->filters;
        for (IMessageFilterUI* f : v) {
            bool bHandled = false;
            LRESULT lResult = f->MessageHandler(uMsg, wParam, lParam, bHandled);
            if (bHandled) {
                lRes = lResult;
                return true;
            }
        }
    }
    Globals& g = G();
    if (uMsg == g.msgAsyncNotify) {
        DeliverAsyncNotifications();
        lRes = 0;
        return true;
    }
    if (uMsg == g.msgLayeredPaint) {
        if (m_p->bLayered) PaintLayered();
        lRes = 0;
        return true;
    }

    switch (uMsg) {
    case WM_ERASEBKGND:
        lRes = 1;
        return true;
    case WM_PAINT:
        if (m_p->bLayered) {
            ::ValidateRect(m_p->hWnd, NULL);
            PaintLayered();
        } else {
            Paint();
        }
        lRes = 0;
        return true;
    case WM_SIZE:
        m_p->bUpdateNeeded = true;
        Invalidate();
        return false;
    case WM_SHOWWINDOW:
        if (wParam && m_p->bLayered) Invalidate();
        return false;
    case WM_TIMER:
        for (auto& t : m_p->timers) {
            if (t.uWinTimer == wParam) {
                TEventUI e = MakeEvent(UIEVENT_TIMER, t.pSender, m_p->ptLastMouse, t.nLocalID, lParam);
                t.pSender->Event(e);
                lRes = 0;
                return true;
            }
        }
        return false;
    case WM_MOUSEMOVE: {
        if (!m_p->bMouseTracking) {
            TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_p->hWnd, 0};
            ::TrackMouseEvent(&tme);
            m_p->bMouseTracking = true;
        }
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        m_p->ptLastMouse = pt;
        CControlUI* pNew = FindControl(pt);
        if (pNew != m_p->pEventHover) {
            if (m_p->pEventHover != NULL) {
                TEventUI e = MakeEvent(UIEVENT_MOUSELEAVE, m_p->pEventHover, pt, wParam, lParam);
                CControlUI* pOld = m_p->pEventHover;
                m_p->pEventHover = NULL;
                pOld->Event(e);
            }
            if (pNew != NULL) {
                m_p->pEventHover = pNew;
                TEventUI e = MakeEvent(UIEVENT_MOUSEENTER, pNew, pt, wParam, lParam);
                pNew->Event(e);
            }
        }
        CControlUI* pTarget = m_p->pEventClick != NULL ? m_p->pEventClick : pNew;
        if (pTarget != NULL) {
            TEventUI e = MakeEvent(UIEVENT_MOUSEMOVE, pTarget, pt, wParam, lParam);
            pTarget->Event(e);
        }
        return false;
    }
    case WM_MOUSELEAVE: {
        m_p->bMouseTracking = false;
        if (m_p->pEventHover != NULL && m_p->pEventClick == NULL) {
            TEventUI e = MakeEvent(UIEVENT_MOUSELEAVE, m_p->pEventHover, m_p->ptLastMouse, wParam, lParam);
            CControlUI* pOld = m_p->pEventHover;
            m_p->pEventHover = NULL;
            pOld->Event(e);
        }
        return false;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // Clicking the skinned surface takes the focus from a native edit.
        if (::GetFocus() != m_p->hWnd) ::SetFocus(m_p->hWnd);
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        m_p->ptLastMouse = pt;
        CControlUI* pControl = FindControl(pt);
        if (pControl == NULL) return false;
        m_p->pEventClick = pControl;
        SetCapture();
        TEventUI e = MakeEvent(uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK, pControl, pt, wParam,
                               lParam);
        pControl->Event(e);
        return false;
    }
    case WM_LBUTTONUP: {
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        m_p->ptLastMouse = pt;
        ReleaseCapture();
        CControlUI* pControl = m_p->pEventClick;
        m_p->pEventClick = NULL;
        if (pControl == NULL) return false;
        TEventUI e = MakeEvent(UIEVENT_BUTTONUP, pControl, pt, wParam, lParam);
        pControl->Event(e);
        return false;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != m_p->hWnd) m_p->bMouseCapture = false;
        return false;
    case WM_SETCURSOR: {
        if (LOWORD(lParam) != HTCLIENT) return false;
        POINT pt = {};
        ::GetCursorPos(&pt);
        ::ScreenToClient(m_p->hWnd, &pt);
        CControlUI* pControl = FindControl(pt);
        if (pControl == NULL || (pControl->GetControlFlags() & 0x02) == 0) return false;
        TEventUI e = MakeEvent(UIEVENT_SETCURSOR, pControl, pt, wParam, lParam);
        pControl->Event(e);
        lRes = TRUE;
        return true;
    }
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        HWND hChild = reinterpret_cast<HWND>(lParam);
        if (hChild == NULL) return false;
        CControlUI* pControl = static_cast<CControlUI*>(::GetPropW(hChild, L"DuiLib.Control"));
        if (pControl == NULL) return false;
        return pControl->HandleNativeMessage(uMsg, wParam, lParam, lRes);
    }
    case WM_NOTIFY: {
        LPNMHDR pHdr = reinterpret_cast<LPNMHDR>(lParam);
        if (pHdr == NULL || pHdr->hwndFrom == NULL) return false;
        CControlUI* pControl = static_cast<CControlUI*>(::GetPropW(pHdr->hwndFrom, L"DuiLib.Control"));
        if (pControl == NULL) return false;
        return pControl->HandleNativeMessage(uMsg, wParam, lParam, lRes);
    }
    case WM_DESTROY:
        for (auto& t : m_p->timers) ::KillTimer(m_p->hWnd, t.uWinTimer);
        m_p->timers.clear();
        m_p->asyncNotify.clear();
        m_p->pEventHover = m_p->pEventClick = m_p->pFocus = NULL;
        return false;
    default:
        break;
    }
    return false;
}

}  // namespace DuiLib
