#include "UiTestUtil.h"

#include <objbase.h>
#include <wincodec.h>

using namespace DuiLib;

namespace uitest {

namespace {

const GUID kClsidWICImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kContainerFormatPng = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
const GUID kPixelFormat32bppBGR = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0e}};

template <class T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() { return p; }
};

}  // namespace

void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            if (!CPaintManagerUI::TranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return done();
        Pump(20);
    }
    return true;
}

void PostClick(HWND hWnd, POINT pt) {
    LPARAM lp = MAKELPARAM(pt.x, pt.y);
    PostMessageW(hWnd, WM_MOUSEMOVE, 0, lp);
    PostMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    PostMessageW(hWnd, WM_LBUTTONUP, 0, lp);
}

void Click(HWND hWnd, POINT pt) {
    PostClick(hWnd, pt);
    Pump(150);
}

POINT CenterOf(CControlUI* pControl) {
    RECT rc = pControl->GetPos();
    POINT pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    return pt;
}

std::wstring ArtifactsDir() {
    char unixPath[1024] = {};
    if (GetEnvironmentVariableA("KELO_ARTIFACTS", unixPath, sizeof(unixPath)) == 0) return std::wstring();
    typedef LPWSTR(CDECL * PFN_DosName)(LPCSTR);
    PFN_DosName pfn = reinterpret_cast<PFN_DosName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (pfn != NULL && unixPath[0] == '/') {
        LPWSTR p = pfn(unixPath);
        if (p != NULL) {
            std::wstring s(p);
            HeapFree(GetProcessHeap(), 0, p);
            return s;
        }
    }
    std::wstring s;
    for (const char* p = unixPath; *p; ++p) s += static_cast<wchar_t>(*p == '/' ? '\\' : *p);
    if (!s.empty() && s[0] == L'\\') s = L"Z:" + s;
    return s;
}

DWORD Shot::At(int sx, int sy) const {
    int lx = sx - x, ly = sy - y;
    if (lx < 0 || ly < 0 || lx >= w || ly >= h) return 0xFFFFFFFF;
    return px[static_cast<size_t>(ly) * w + lx] & 0xFFFFFF;
}

Shot CaptureRect(const RECT& rc) {
    Shot shot;
    shot.x = rc.left;
    shot.y = rc.top;
    shot.w = rc.right - rc.left;
    shot.h = rc.bottom - rc.top;
    if (shot.w <= 0 || shot.h <= 0) return shot;
    HDC hScreen = GetDC(NULL);
    HDC hMem = CreateCompatibleDC(hScreen);
    HBITMAP hbm = CreateCompatibleBitmap(hScreen, shot.w, shot.h);
    HGDIOBJ hOld = SelectObject(hMem, hbm);
    BitBlt(hMem, 0, 0, shot.w, shot.h, hScreen, shot.x, shot.y, SRCCOPY);
    SelectObject(hMem, hOld);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = shot.w;
    bmi.bmiHeader.biHeight = -shot.h;  // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    shot.px.resize(static_cast<size_t>(shot.w) * shot.h);
    GetDIBits(hMem, hbm, 0, shot.h, shot.px.data(), &bmi, DIB_RGB_COLORS);
    DeleteObject(hbm);
    DeleteDC(hMem);
    ReleaseDC(NULL, hScreen);
    return shot;
}

Shot Capture(HWND hWnd, int margin) {
    SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Pump(400);
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    InflateRect(&rc, margin, margin);
    Shot shot = CaptureRect(rc);
    SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return shot;
}

bool SavePng(const Shot& shot, const std::wstring& name) {
    std::wstring dir = ArtifactsDir();
    if (dir.empty() || shot.w <= 0 || shot.h <= 0) return false;
    std::wstring path = dir + L"\\" + name + L".png";
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    Com<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(kClsidWICImagingFactory, NULL, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                reinterpret_cast<void**>(&factory))))
        return false;
    Com<IWICStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    if (FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
        return false;
    if (FAILED(factory->CreateEncoder(kContainerFormatPng, NULL, &encoder)) ||
        FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)))
        return false;
    if (FAILED(encoder->CreateNewFrame(&frame, NULL)) || FAILED(frame->Initialize(NULL))) return false;
    frame->SetSize(shot.w, shot.h);
    WICPixelFormatGUID fmt = kPixelFormat32bppBGR;
    frame->SetPixelFormat(&fmt);
    std::vector<DWORD> px = shot.px;
    if (FAILED(frame->WritePixels(shot.h, shot.w * 4, static_cast<UINT>(px.size() * 4),
                                  reinterpret_cast<BYTE*>(px.data()))))
        return false;
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

namespace {

struct ShadowSearch {
    HWND hParent;
    HWND hFound;
};

BOOL CALLBACK FindShadowProc(HWND hWnd, LPARAM lParam) {
    ShadowSearch* s = reinterpret_cast<ShadowSearch*>(lParam);
    wchar_t cls[64] = {};
    GetClassNameW(hWnd, cls, 64);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (wcscmp(cls, L"DuiLibWndShadow") != 0 || pid != GetCurrentProcessId()) return TRUE;
    // The shadow sits right below its window in the Z order.
    if (GetWindow(hWnd, GW_HWNDPREV) == s->hParent) {
        s->hFound = hWnd;
        return FALSE;
    }
    RECT rcShadow = {}, rcParent = {};
    GetWindowRect(hWnd, &rcShadow);
    GetWindowRect(s->hParent, &rcParent);
    InflateRect(&rcParent, 16, 16);
    if (EqualRect(&rcShadow, &rcParent)) s->hFound = hWnd;
    return TRUE;
}

}  // namespace

HWND FindShadowOf(HWND hWnd) {
    ShadowSearch s = {hWnd, NULL};
    EnumWindows(FindShadowProc, reinterpret_cast<LPARAM>(&s));
    return s.hFound;
}

void CNotifyRecorder::Notify(TNotifyUI& msg) {
    Note n;
    n.type = msg.sType.GetData();
    n.name = msg.pSender ? msg.pSender->GetName().GetData() : L"";
    n.wParam = msg.wParam;
    n.lParam = msg.lParam;
    n.checked = -1;
    if (msg.pSender) {
        CCheckBoxUI* pBox = static_cast<CCheckBoxUI*>(msg.pSender->GetInterface(DUI_CTR_CHECKBOX));
        if (pBox) n.checked = pBox->GetCheck() ? 1 : 0;
    }
    notes.push_back(n);
}

CTestWnd::CTestWnd(const wchar_t* pClass, const wchar_t* pLayout, UINT nZipId, const wchar_t* pZipName)
    : m_class(pClass), m_layout(pLayout), m_nZipId(nZipId), m_zipName(pZipName) {}

HWND CTestWnd::CreateLikeProgram(int x, int y) {
    HWND h = Create(NULL, m_class.c_str(), 0x10CF0000, 0x00060000, x, y, 710, 470, NULL);
    Pump(100);
    return h;
}

LPCTSTR CTestWnd::GetWindowClassName() const { return m_class.c_str(); }
CDuiString CTestWnd::GetSkinFile() { return CDuiString(m_layout.c_str()); }
LPCTSTR CTestWnd::GetResourceID() const { return MAKEINTRESOURCE(m_nZipId); }
CDuiString CTestWnd::GetZIPFileName() const { return CDuiString(m_zipName.c_str()); }

void CTestWnd::InitWindow() {
    ++initCount;
    LONG_PTR style = GetWindowLongPtrW(GetHWND(), GWL_STYLE);
    SetWindowLongPtrW(GetHWND(), GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX | WS_THICKFRAME));
    if (withShadow) InitShadow();
}

void CTestWnd::OnClick(TNotifyUI& msg) { clicks.push_back(msg.pSender ? msg.pSender->GetName().GetData() : L""); }

LRESULT CTestWnd::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (uMsg == 2025 || uMsg == 2026 || uMsg == WM_COPYDATA || uMsg == WM_TIMER) {
        custom.push_back(CustomMsg{uMsg, wParam, lParam});
        if (uMsg != WM_TIMER) {
            bHandled = TRUE;
            return 0;
        }
    }
    bHandled = FALSE;
    return 0;
}

BOOL CALLBACK CountChild(HWND, LPARAM lParam) {
    ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

void CTestWnd::OnFinalMessage(HWND hWnd) {
    CWinBaseEx::OnFinalMessage(hWnd);
    finalRan = true;
    hwndAtFinal = GetHWND();
    childrenAtFinal = 0;
    EnumChildWindows(hWnd, CountChild, reinterpret_cast<LPARAM>(&childrenAtFinal));
}

void InitLibrary() {
    HINSTANCE hInst = GetModuleHandleW(NULL);
    CPaintManagerUI::SetInstance(hInst);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"SetupSkin");
    CWndShadow::Initialize(hInst);
}

}  // namespace uitest
