#include "UninstDlg.h"

#include "HttpClient.h"
#include "IniSettings.h"
#include "PathUtils.h"
#include "RegSettings.h"
#include "SelfDelete.h"
#include "UninstMgr.h"

using namespace DuiLib;

namespace {

const wchar_t kWaitingText[] = L"等待卸载...";

// The window can be neither resized nor maximised.
constexpr LONG_PTR kNoResizeMask = WS_THICKFRAME | WS_MAXIMIZEBOX;

}  // namespace

std::wstring UninstWindowTitle() {
    return ReadProductValue(Product::kValAppName) + Product::kUninstTitleSuffix;
}

CUninstDlg::CUninstDlg(const wchar_t* reportBase)
    : m_pMainTab(NULL),
      m_pProgress(NULL),
      m_pStatus(NULL),
      m_pEditContact(NULL),
      m_pEditSuggestion(NULL),
      m_pCkFunction(NULL),
      m_pCkAlwaysClose(NULL),
      m_pCkDirectUninstall(NULL),
      m_pUninstMgr(new CUninstMgr),
      m_strReportBase(reportBase ? reportBase : Product::kReportHost),
      m_bFinished(false) {}

CUninstDlg::~CUninstDlg() {
    delete m_pUninstMgr;
    m_pUninstMgr = NULL;
    ::PostQuitMessage(0);
}

LPCTSTR CUninstDlg::GetWindowClassName() const { return L"UninstDlg"; }

CDuiString CUninstDlg::GetSkinFile() { return CDuiString(L"UninstDlg.xml"); }

void CUninstDlg::InitWindow() {
    SetIcon(WinBaseSkin::kIconId);
    LONG_PTR style = ::GetWindowLongPtrW(GetHWND(), GWL_STYLE);
    ::SetWindowLongPtrW(GetHWND(), GWL_STYLE, style & ~kNoResizeMask);
    InitShadow();

    m_pMainTab = static_cast<CTabLayoutUI*>(m_pm.FindControl(L"mainTab"));
    m_pProgress = static_cast<CProgressUI*>(m_pm.FindControl(L"uninstProgress"));
    m_pStatus = static_cast<CLabelUI*>(m_pm.FindControl(L"txtStatus"));
    m_pEditContact = static_cast<CRichEditUI*>(m_pm.FindControl(L"edit_contact"));
    m_pEditSuggestion = static_cast<CRichEditUI*>(m_pm.FindControl(L"edit_suggestion"));
    m_pCkFunction = static_cast<CCheckBoxUI*>(m_pm.FindControl(L"ck_function"));
    m_pCkAlwaysClose = static_cast<CCheckBoxUI*>(m_pm.FindControl(L"ck_aways_close"));
    m_pCkDirectUninstall = static_cast<CCheckBoxUI*>(m_pm.FindControl(L"ck_direct_uninstall"));

    if (m_pEditContact) m_pEditContact->SetLimitText(kContactMaxChars);
    if (m_pEditSuggestion) m_pEditSuggestion->SetLimitText(kSuggestionMaxChars);
    if (m_pProgress) m_pProgress->SetValue(0);
    if (m_pStatus) m_pStatus->SetText(kWaitingText);

    // The engine posts its progress here; published before any worker exists.
    g_hUninstWnd = GetHWND();

    ReadIdentity();
    m_pUninstMgr->installDir = GetModuleDir();

    if (m_pMainTab) m_pMainTab->SelectItem(UNINST_PAGE_FORM);
}

void CUninstDlg::ReadIdentity() {
    m_strVersion = ReadProductValue(Product::kValVersionStr);
    m_strChannel = ReadProductValue(Product::kValChannel);
    m_strMachineId = ReadProductValue(Product::kValMachineId);
    if (m_strMachineId.empty() && !GetModuleDir().empty()) {
        const std::wstring configIni = PathJoin(GetModuleDir(), Product::kConfigIni);
        m_strMachineId = ReadIniString(configIni, Product::kSecMachine, Product::kKeyMachineId, L"",
                                       kIniMachineIdChars);
    }
}

void CUninstDlg::OnClick(TNotifyUI& msg) {
    if (msg.pSender == NULL) return;
    const CDuiString sName = msg.pSender->GetName();
    if (sName == L"btnUnInstall") {
        m_report.functionNotGood = m_pCkFunction != NULL && m_pCkFunction->GetCheck();
        m_report.alwaysClose = m_pCkAlwaysClose != NULL && m_pCkAlwaysClose->GetCheck();
        m_report.directUninstall = m_pCkDirectUninstall != NULL && m_pCkDirectUninstall->GetCheck();
        m_report.phoneOrEmail = m_pEditContact ? std::wstring(m_pEditContact->GetText()) : std::wstring();
        m_report.feedback = m_pEditSuggestion ? std::wstring(m_pEditSuggestion->GetText()) : std::wstring();
        if (m_pMainTab) m_pMainTab->SelectItem(UNINST_PAGE_PROGRESS);
        m_pUninstMgr->BeginUnInstallThread();
    } else if (sName == L"btnCancel") {
        Close(1);
    } else if (sName == L"closeBtn" || sName == L"btnOver") {
        // Only a finished uninstall removes the installation folder; closing
        // earlier leaves everything where it is.
        if (m_bFinished) ScheduleSelfDelete();
        Close(1);
    }
}

LRESULT CUninstDlg::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    switch (uMsg) {
    case WM_UNINST_PROGRESS:
        return OnUninstProgress(wParam, bHandled);
    case WM_COPYDATA:
        return OnCopyData(wParam, lParam, bHandled);
    case WM_HTTP_RESULT:
        // The report's answer changes nothing for the user.
        bHandled = TRUE;
        delete reinterpret_cast<HttpTaskResult*>(wParam);
        return 0;
    default:
        bHandled = FALSE;
        return 0;
    }
}

LRESULT CUninstDlg::OnUninstProgress(WPARAM wParam, BOOL& bHandled) {
    bHandled = TRUE;
    UninstProgress* pProgress = reinterpret_cast<UninstProgress*>(wParam);
    if (pProgress == NULL) return 0;
    if (m_pProgress) m_pProgress->SetValue(pProgress->percent);
    if (m_pStatus) m_pStatus->SetText(pProgress->text.c_str());
    if (pProgress->status != 0 || pProgress->percent != 100) {
        delete pProgress;
        return 0;
    }

    m_report.version = m_strVersion;
    m_report.channel = m_strChannel;
    m_report.machineId = m_strMachineId;
    SendUninstallFeedback(GetHWND(), m_report, m_strReportBase.c_str());
    // Gives the report its moment before the last page invites closing.
    ::Sleep(1000);
    delete pProgress;
    m_bFinished = true;
    if (m_pMainTab) m_pMainTab->SelectItem(UNINST_PAGE_FINISHED);
    return 0;
}

LRESULT CUninstDlg::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    // The system close (Alt+F4, the taskbar) never starts the self-deletion.
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        bHandled = TRUE;
        Close(1);
        return 0;
    }
    return CWinBaseEx::OnSysCommand(uMsg, wParam, lParam, bHandled);
}

void CUninstDlg::OnFinalMessage(HWND hWnd) {
    CWinBaseEx::OnFinalMessage(hWnd);
    delete this;
}
