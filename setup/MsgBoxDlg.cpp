#include "MsgBoxDlg.h"

#include <cwchar>

using namespace DuiLib;

namespace {

// Sizing constants of FitToText.
const float kRatio = 2.0f / 3.0f;  // height to width that long messages approach
const int kMinWidth = 320;
const int kMaxWidth = 480;
const int kMarginX = 60;
const int kMarginY = 130;
const int kMinHeight = static_cast<int>(kRatio * kMinWidth);  // 213
const int kShortWidth = 320;
const int kShortHeight = 180;

struct CloseCode {
    const wchar_t* pName;
    UINT nCode;
};

const CloseCode kCloseCodes[] = {
    {L"closeBtn", MSGBOX_CODE_CLOSE},     {L"btnYes", MSGBOX_CODE_YES}, {L"btnSingleYes", MSGBOX_CODE_YES},
    {L"btnNo", MSGBOX_CODE_NO},           {L"btnOk", MSGBOX_CODE_OK},   {L"btnSingleOk", MSGBOX_CODE_OK},
    {L"btnCancel", MSGBOX_CODE_CANCEL},
};

// DrawTextW with DT_CALCRECT | DT_WORDBREAK into (0, 0, right, 9999).
RECT Measure(HDC hdc, LPCTSTR pstrText, int nRight) {
    RECT rc = {0, 0, nRight, 9999};
    ::DrawTextW(hdc, pstrText, -1, &rc, DT_CALCRECT | DT_WORDBREAK);
    return rc;
}

}  // namespace

CMsgBoxDlg::CMsgBoxDlg() : m_pCloseBtn(NULL), m_pMainTab(NULL) {}

CMsgBoxDlg::~CMsgBoxDlg() {}

LPCTSTR CMsgBoxDlg::GetWindowClassName() const { return L"MsgBoxDlg"; }

CDuiString CMsgBoxDlg::GetSkinFile() { return CDuiString(L"MsgBoxDlg.xml"); }

void CMsgBoxDlg::InitWindow() {
    LONG_PTR style = ::GetWindowLongPtrW(GetHWND(), GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX | WS_THICKFRAME);
    ::SetWindowLongPtrW(GetHWND(), GWL_STYLE, style);
    m_pCloseBtn = static_cast<CButtonUI*>(m_pm.FindControl(L"closeBtn"));
    m_pMainTab = static_cast<CTabLayoutUI*>(m_pm.FindControl(L"mainTab"));
    InitShadow();
}

void CMsgBoxDlg::OnClick(TNotifyUI& msg) {
    if (msg.pSender == NULL) return;
    CDuiString sName = msg.pSender->GetName();
    for (const CloseCode& c : kCloseCodes) {
        if (sName == c.pName) {
            Close(c.nCode);
            return;
        }
    }
}

void CMsgBoxDlg::FitToText(LPCTSTR pstrTitle, LPCTSTR pstrMessage, int nPage) {
    if (pstrMessage == NULL) pstrMessage = L"";
    CLabelUI* pTitle = static_cast<CLabelUI*>(m_pm.FindControl(L"msgTitleLabel"));
    CLabelUI* pText = static_cast<CLabelUI*>(m_pm.FindControl(L"msgLabel"));
    if (pTitle) pTitle->SetText(pstrTitle);
    if (pText) pText->SetText(pstrMessage);

    HDC hdc = m_pm.GetPaintDC();
    HFONT hFont = m_pm.GetFont(pText ? pText->GetFont() : -1);
    HGDIOBJ hOldFont = ::SelectObject(hdc, hFont);

    int W = 0, H = 0;
    const int A = Measure(hdc, pstrMessage, 9999).right;
    if (A < kMinWidth - kMarginX) {
        // Centred on one line. A message with line breaks keeps them,
        // centred as a block: on a single line they would show as boxes.
        const bool bBreaks = wcspbrk(pstrMessage, L"\r\n") != NULL;
        if (pText) pText->SetTextStyle(bBreaks ? (DT_CENTER | DT_VCENTER | DT_WORDBREAK)
                                               : (DT_CENTER | DT_VCENTER | DT_SINGLELINE));
        W = kShortWidth;
        H = kShortHeight;
    } else {
        // The widest piece that cannot be broken (one character for Chinese).
        int u = Measure(hdc, pstrMessage, 1).right;
        if (u < 1) u = 1;
        int k = kMarginY / u;
        float p = 0.01f;
        float r = 0.0f;
        do {
            RECT rc = Measure(hdc, pstrMessage, u * k);
            W = rc.right + kMarginX;
            H = rc.bottom + kMarginY;
            r = static_cast<float>(static_cast<double>(H) / static_cast<double>(W));
            if (r == p) break;
            p = r;
            ++k;
        } while (r > kRatio);
        W = W + 2 * u;
        H = static_cast<int>(W * kRatio);
        if (W < kMinWidth) {
            W = kMinWidth;
            H = kMarginY + Measure(hdc, pstrMessage, kMinWidth - kMarginX).bottom;
        } else if (W > kMaxWidth) {
            W = kMaxWidth;
            H = kMarginY + Measure(hdc, pstrMessage, kMaxWidth - kMarginX).bottom;
        }
        if (H < kMinHeight) H = kMinHeight;
    }
    ::SelectObject(hdc, hOldFont);

    ::SetWindowPos(GetHWND(), NULL, 0, 0, W, H, SWP_NOMOVE);
    if (m_pMainTab) m_pMainTab->SelectItem(nPage);
    RECT rcCaption = {0, 0, 0, H};
    m_pm.SetCaptionRect(rcCaption);
}

UINT ShowMsgBox(HWND hWndOwner, LPCTSTR pstrTitle, LPCTSTR pstrMessage, int nPage) {
    CMsgBoxDlg dlg;
    // WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU, WS_EX_APPWINDOW
    dlg.Create(hWndOwner, pstrTitle, 0x96C80000, 0x00040000, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
               CW_USEDEFAULT, NULL);
    dlg.FitToText(pstrTitle, pstrMessage, nPage);
    dlg.CenterWindow();
    return dlg.ShowModal();
}
