#include "SetupDlg.h"

#include <io.h>
#include <objbase.h>
#include <richedit.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "InstallMgr.h"
#include "Log.h"
#include "MachineId.h"
#include "MsgBoxDlg.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Process.h"
#include "Product.h"
#include "RegSettings.h"

using namespace DuiLib;

namespace {

const wchar_t kLogSource[] = L"SetupDlg";

#define SETUP_LOG(level, func, fmt, ...) \
    WriteLog((level), kLogSource, __LINE__, func, L"%s " fmt, func, ##__VA_ARGS__)

// Pages of "mainTab".
enum SetupPage {
    PAGE_FOLDER = 0,
    PAGE_LICENSE = 1,
    PAGE_PROGRESS = 2,
    PAGE_FINISH = 3,
};

// Fires once the first paint is done (timers come after paints): the
// shadow and the licence text are made then, so that the window shows first.
const UINT_PTR kAfterFirstPaintTimer = 1;

// Every page is shown at this size (the layout asks for a little more).
const int kPageWidth = 640;
const int kPageHeight = 400;

// What "closeBtn", the system close command and the end of the wizard close with.
const UINT kCloseCode = 1;

// Controls of "SetupDlg.xml".
const wchar_t kMainTab[] = L"mainTab";
const wchar_t kCloseBtn[] = L"closeBtn";
const wchar_t kMinBtn[] = L"minBtn";
const wchar_t kEditPath[] = L"editPath";
const wchar_t kCkOk[] = L"ckOk";
const wchar_t kInstProgress[] = L"instProgress";
const wchar_t kEditProtocal[] = L"editProtocal";
const wchar_t kBtnBack[] = L"btnBack";
const wchar_t kBtnProtocal[] = L"btnProtocal";
const wchar_t kBtnInstall[] = L"btnInstall";
const wchar_t kBtnStartExe[] = L"btnStartExe";
const wchar_t kBtnSelPath[] = L"btnSelPath";

const wchar_t kSkinFile[] = L"SetupDlg.xml";
const wchar_t kWindowClass[] = L"SetupDlg";
const wchar_t kLicenseFile[] = L"protocol.rtf";

// Texts shown to the user.
const wchar_t kMsgTitle[] = L"提示";
const wchar_t kMsgInvalidFolder[] = L"安装目录无效，请重新指定!";
const wchar_t kMsgOverwrite[] = L"您计算机已经安装过\n确定要覆盖安装吗?";
const wchar_t kMsgContinue[] = L"您计算机已经安装过，确定要继续安装吗?";
const wchar_t kBrowseTitle[] = L"从下面选文件夹目录:";
// BIF_RETURNFSANCESTORS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE
const UINT kBrowseFlags = 0x58;

// Command lines of started programs.
const size_t kCmdLineChars = 1024;

// The "installDir" of the product key (at most 260 characters).
std::wstring RegisteredInstallDir() { return ReadProductValue(Product::kValInstallDir); }

// A folder typed by the user, without the backslashes that may end it
// ("D:\Apps\" -> "D:\Apps", "D:\" -> "D:"), so that the product folder's
// name is joined with exactly one.
std::wstring WithoutTrailingBackslashes(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// The text typed into the edit, completed to the product folder:
// "D:\Apps" -> "D:\Apps\KeloPdfReader"; a text that already ends with that
// name (same letter case) stays as it is.
std::wstring CompleteInstallFolder(const std::wstring& typed) {
    const std::wstring folder = WithoutTrailingBackslashes(typed);
    if (EndsWith(folder, Product::kInstallFolderName)) return folder;
    return folder + L"\\" + Product::kInstallFolderName;
}

// The licence bytes handed to the rich edit in pieces of at most the size it asks for.
struct MemoryStream {
    const BYTE* pData;
    DWORD dwSize;
    DWORD dwPos;
};

DWORD CALLBACK StreamFromMemory(DWORD_PTR dwCookie, LPBYTE pbBuff, LONG cb, LONG* pcb) {
    MemoryStream* pStream = reinterpret_cast<MemoryStream*>(dwCookie);
    LONG nLeft = static_cast<LONG>(pStream->dwSize - pStream->dwPos);
    LONG n = cb < nLeft ? cb : nLeft;
    if (n > 0) {
        memcpy(pbBuff, pStream->pData + pStream->dwPos, static_cast<size_t>(n));
        pStream->dwPos += static_cast<DWORD>(n);
    }
    *pcb = n > 0 ? n : 0;
    return 0;
}

DWORD CALLBACK StreamFromFile(DWORD_PTR dwCookie, LPBYTE pbBuff, LONG cb, LONG* pcb) {
    HANDLE hFile = reinterpret_cast<HANDLE>(dwCookie);
    DWORD dwRead = 0;
    if (!::ReadFile(hFile, pbBuff, static_cast<DWORD>(cb), &dwRead, NULL)) {
        *pcb = 0;
        return 1;
    }
    *pcb = static_cast<LONG>(dwRead);
    return 0;
}

// The rich edit refuses text past its limit (32767 characters by default).
void RaiseTextLimit(CRichEditUI* pEdit, DWORD dwBytes) {
    const DWORD kDefaultLimit = 32767;
    if (dwBytes > kDefaultLimit) pEdit->SetLimitText(static_cast<int>(dwBytes + 1));
}

// Streaming leaves the caret, and the view, at the end of the text; the
// reader starts at its beginning.
void ShowFromTop(CRichEditUI* pEdit) {
    pEdit->SetSel(0, 0);
    HWND hNative = pEdit->GetNativeWindow();
    if (hNative != NULL) ::SendMessageW(hNative, WM_VSCROLL, SB_TOP, 0);
}

}  // namespace

DUI_BEGIN_MESSAGE_MAP(CSetupDlg, CWinBaseEx)
DUI_ON_MSGTYPE(DUI_MSGTYPE_CLICK, CSetupDlg::OnClick)
DUI_END_MESSAGE_MAP()

CSetupDlg::CSetupDlg()
    : m_pMainTab(NULL),
      m_pEditPath(NULL),
      m_pCkOk(NULL),
      m_pProgress(NULL),
      m_pInstallMgr(new CInstallMgr),
      m_bBrowsing(false),
      m_bAfterFirstPaintDone(false) {}

CSetupDlg::~CSetupDlg() {
    // Ends a worker that still runs; the files copied so far stay.
    delete m_pInstallMgr;
    m_pInstallMgr = NULL;
    ::PostQuitMessage(0);
    m_strInstallPath.clear();
}

LPCTSTR CSetupDlg::GetWindowClassName() const { return kWindowClass; }

LRESULT CSetupDlg::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    // The browser disables the wizard, but posted input and close requests
    // still arrive through its loop; acted on, they would start the
    // installation or free this dialog under the browser's call.
    if (m_bBrowsing) {
        const bool bInput = (uMsg >= WM_MOUSEFIRST && uMsg <= WM_MOUSELAST) ||
                            (uMsg >= WM_KEYFIRST && uMsg <= WM_KEYLAST) ||
                            (uMsg >= WM_NCLBUTTONDOWN && uMsg <= WM_NCMBUTTONDBLCLK);
        const bool bClose = uMsg == WM_CLOSE || (uMsg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE);
        if (bInput || bClose) return 0;
    }
    return CWinBaseEx::HandleMessage(uMsg, wParam, lParam);
}

CDuiString CSetupDlg::GetSkinFile() { return CDuiString(kSkinFile); }

void CSetupDlg::OnFinalMessage(HWND hWnd) {
    CWinBaseEx::OnFinalMessage(hWnd);
    delete this;
}

void CSetupDlg::InitWindow() {
    SetIcon(Product::kSetupIconId);
    LONG_PTR style = ::GetWindowLongPtrW(GetHWND(), GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX | WS_THICKFRAME);
    ::SetWindowLongPtrW(GetHWND(), GWL_STYLE, style);

    m_pMainTab = static_cast<CTabLayoutUI*>(m_pm.FindControl(kMainTab));
    m_pEditPath = static_cast<CEditUI*>(m_pm.FindControl(kEditPath));
    m_pCkOk = static_cast<CCheckBoxUI*>(m_pm.FindControl(kCkOk));
    m_pProgress = static_cast<CProgressUI*>(m_pm.FindControl(kInstProgress));

    if (m_pCkOk != NULL) m_pCkOk->Selected(true);

    g_hSetupWnd = GetHWND();

    const std::wstring strRegistered = RegisteredInstallDir();
    if (!strRegistered.empty() && _waccess(strRegistered.c_str(), 0) == 0) m_strInstallPath = strRegistered;

    if (m_pEditPath != NULL) m_pEditPath->SetText(GetInstallPath().c_str());

    ShowPage(PAGE_FOLDER);
    ::SetTimer(GetHWND(), kAfterFirstPaintTimer, 0, NULL);
}

void CSetupDlg::AfterFirstPaint() {
    if (m_bAfterFirstPaintDone) return;
    m_bAfterFirstPaintDone = true;
    ::KillTimer(GetHWND(), kAfterFirstPaintTimer);
    InitShadow();
    LoadLicenseText();
}

void CSetupDlg::ShowPage(int nPage) {
    // The licence is there whenever its page shows, even before the timer.
    if (nPage == PAGE_LICENSE) AfterFirstPaint();
    if (m_pMainTab != NULL) m_pMainTab->SelectItem(nPage);
    ::SetWindowPos(GetHWND(), NULL, 0, 0, kPageWidth, kPageHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (nPage == PAGE_PROGRESS && m_pProgress != NULL) m_pProgress->SetValue(0);
}

std::wstring CSetupDlg::GetInstallPath() {
    if (m_strInstallPath.empty()) {
        wchar_t szFolder[MAX_PATH] = {0};
        const int csidl = IsWow64() ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES;
        ::SHGetSpecialFolderPathW(NULL, szFolder, csidl, TRUE);
        m_strInstallPath = FormatW(L"%s\\%s", szFolder, Product::kInstallFolderName);
    }
    return m_strInstallPath;
}

void CSetupDlg::OnClick(TNotifyUI& msg) {
    if (msg.pSender == NULL) return;
    const CDuiString sName = msg.pSender->GetName();
    if (sName == kCloseBtn) {
        Close(kCloseCode);
    } else if (sName == kMinBtn) {
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (sName == kBtnBack) {
        ShowPage(PAGE_FOLDER);
    } else if (sName == kBtnProtocal) {
        ShowPage(PAGE_LICENSE);
    } else if (sName == kBtnInstall) {
        StartInstall();
    } else if (sName == kBtnStartExe) {
        RunInstalledApp();
    } else if (sName == kBtnSelPath) {
        SelectInstallPath();
    } else if (sName == kCkOk) {
        OnAgreementClick();
    }
}

void CSetupDlg::OnAgreementClick() {
    CControlUI* pInstall = m_pm.FindControl(kBtnInstall);
    if (pInstall == NULL || m_pCkOk == NULL) return;
    // The click arrives before the box changes: a ticked box is being cleared.
    pInstall->SetEnabled(!m_pCkOk->GetCheck());
}

LRESULT CSetupDlg::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    switch (uMsg) {
    case WM_COPYDATA:
        return OnCopyData(wParam, lParam, bHandled);
    case WM_TIMER:
        return OnTimer(wParam, lParam, bHandled);
    case WM_INSTALL_PROGRESS:
        return OnInstallProgress(wParam, lParam, bHandled);
    default:
        bHandled = FALSE;
        return 0;
    }
}

LRESULT CSetupDlg::OnTimer(WPARAM wParam, LPARAM /*lParam*/, BOOL& bHandled) {
    if (wParam == kAfterFirstPaintTimer) {
        AfterFirstPaint();
        bHandled = TRUE;
        return 0;
    }
    bHandled = FALSE;
    return 0;
}

LRESULT CSetupDlg::OnInstallProgress(WPARAM wParam, LPARAM /*lParam*/, BOOL& bHandled) {
    bHandled = TRUE;
    InstallProgress* pRecord = reinterpret_cast<InstallProgress*>(wParam);
    if (pRecord == NULL) return 0;
    if (pRecord->status == 0 && m_pProgress != NULL) {
        m_pProgress->SetValue(pRecord->percent);
        if (pRecord->percent >= 100) ShowPage(PAGE_FINISH);
    }
    // A failed step leaves the page and the bar as they are.
    delete pRecord;
    return 0;
}

LRESULT CSetupDlg::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (wParam == SC_CLOSE) {
        Close(kCloseCode);
        bHandled = TRUE;
        return 0;
    }
    bHandled = TRUE;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

LRESULT CSetupDlg::OnChar(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, BOOL& bHandled) {
    if (wParam == VK_BACK) {
        bHandled = TRUE;
        return 0;
    }
    bHandled = FALSE;
    return 0;
}

void CSetupDlg::LoadLicenseText() {
    CRichEditUI* pEdit = static_cast<CRichEditUI*>(m_pm.FindControl(kEditProtocal));
    if (pEdit == NULL) return;

    if (!CPaintManagerUI::GetResourceZip().IsEmpty()) {
        DWORD dwSize = 0;
        LPBYTE pData = CRenderEngine::LoadBuffer(kLicenseFile, dwSize);
        if (pData == NULL) return;
        RaiseTextLimit(pEdit, dwSize);
        MemoryStream stream = {pData, dwSize, 0};
        EDITSTREAM es = {};
        es.dwCookie = reinterpret_cast<DWORD_PTR>(&stream);
        es.pfnCallback = StreamFromMemory;
        pEdit->StreamIn(SF_RTF | SFF_SELECTION, es);
        CRenderEngine::FreeBuffer(pData);
        ShowFromTop(pEdit);
        return;
    }

    // No archive loaded: the file of that name under the resource path.
    const std::wstring strFile = std::wstring(CPaintManagerUI::GetResourcePath()) + kLicenseFile;
    AutoCloseHandle file(::CreateFileW(strFile.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsValid()) return;
    RaiseTextLimit(pEdit, ::GetFileSize(file.Get(), NULL));
    const long nEnd = pEdit->GetTextLength();
    pEdit->SetSel(nEnd, nEnd);
    EDITSTREAM es = {};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(file.Get());
    es.pfnCallback = StreamFromFile;
    const bool bText = EndsWith(strFile, L".txt");
    pEdit->StreamIn((bText ? SF_TEXT : SF_RTF) | SFF_SELECTION, es);
    ShowFromTop(pEdit);
}

void CSetupDlg::SelectInstallPath() {
    const ScopedCoInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    BROWSEINFOW bi = {};
    // Owned by the wizard and modal to it.
    bi.hwndOwner = GetHWND();
    bi.lpszTitle = kBrowseTitle;
    bi.ulFlags = kBrowseFlags;
    m_bBrowsing = true;
    LPITEMIDLIST pidl = ::SHBrowseForFolderW(&bi);
    m_bBrowsing = false;
    if (pidl == NULL) return;
    wchar_t szPath[MAX_PATH] = {0};
    const BOOL bGot = ::SHGetPathFromIDListW(pidl, szPath);
    ::CoTaskMemFree(pidl);
    if (!bGot || !IsDirectory(szPath)) return;

    std::wstring strPath = szPath;
    if (!strPath.empty() && strPath.back() == L'\\')
        strPath += Product::kInstallFolderName;
    else
        strPath = FormatW(L"%s\\%s", strPath.c_str(), Product::kInstallFolderName);
    m_strInstallPath = strPath;
    if (m_pEditPath != NULL) m_pEditPath->SetText(m_strInstallPath.c_str());
}

void CSetupDlg::StartInstall() {
    ShowPage(PAGE_FOLDER);
    if (m_pEditPath == NULL || m_pInstallMgr == NULL) return;

    const std::wstring strFolder = CompleteInstallFolder(std::wstring(m_pEditPath->GetText()));

    // An existing file of that name is no folder to install into.
    bool bUsable = LongPathExists(strFolder) == 0 ? IsDirectory(strFolder) : CreateDirTree(strFolder);
    if (!bUsable) {
        SETUP_LOG(LOG_WARN, L"CSetupDlg::StartInstall", L"invalid folder=[%s]", strFolder.c_str());
        ShowMsgBox(GetHWND(), kMsgTitle, kMsgInvalidFolder, MSGBOX_PAGE_OK);
        m_pEditPath->SetText(GetInstallPath().c_str());
        return;
    }
    m_strInstallPath = strFolder;

    const std::wstring strRegistered = RegisteredInstallDir();
    if (!strRegistered.empty() && LongPathExists(PathJoin(strRegistered, Product::kMainExe)) == 0) {
        const wchar_t* pText = (strRegistered == m_strInstallPath) ? kMsgOverwrite : kMsgContinue;
        const UINT nAnswer = ShowMsgBox(GetHWND(), kMsgTitle, pText, MSGBOX_PAGE_YESNO);
        SETUP_LOG(LOG_INFO, L"CSetupDlg::StartInstall", L"installed before in [%s], asked [%s], answer=%u",
                  strRegistered.c_str(), pText, nAnswer);
        if (nAnswer != MSGBOX_CODE_YES) {
            Close(kCloseCode);
            return;
        }
    }

    SETUP_LOG(LOG_INFO, L"CSetupDlg::StartInstall", L"installDir=[%s]", m_strInstallPath.c_str());
    m_pInstallMgr->SetShortcutOptions(true, true);
    m_pInstallMgr->m_strInstallDir = GetInstallPath();
    ShowPage(PAGE_PROGRESS);
    m_pInstallMgr->BeginInstallThread();
}

void CSetupDlg::RunInstalledApp() {
    ShowWindow(false);
    wchar_t szCmdLine[kCmdLineChars] = {0};
    const std::wstring strExe = FormatW(L"%s\\%s", m_strInstallPath.c_str(), Product::kMainExe);
    _snwprintf(szCmdLine, kCmdLineChars - 1, L"\"%s\"", strExe.c_str());
    LaunchProcess(NULL, szCmdLine, true);
    Close(kCloseCode);
}
