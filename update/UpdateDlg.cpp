#include "UpdateDlg.h"

#include <vector>

#include "Log.h"
#include "PathUtils.h"
#include "Process.h"
#include "Product.h"
#include "RegSettings.h"
#include "SelfDelete.h"
#include "UpdateMgr.h"

using namespace DuiLib;

namespace {

const wchar_t kLogSource[] = L"UpdateDlg";
const wchar_t kFinishedText[] = L"升级完成";

// Capacity of the restart command line, in characters.
constexpr size_t kCommandChars = 1024;

// The strip can be neither resized nor maximised.
constexpr LONG_PTR kNoResizeMask = WS_THICKFRAME | WS_MAXIMIZEBOX;

// Kind of the engine's final report.
constexpr int kStatusFinished = 4;

}  // namespace

std::wstring UpdateWindowTitle() {
    return ReadProductValue(Product::kValAppName) + Product::kUpdateTitleSuffix;
}

std::wstring FormatRestartCommand(const std::wstring& installDir) {
    // Not quoted: the application reads its arguments from this exact text.
    std::wstring cmd = FormatW(L"%s\\%s %s", installDir.c_str(), Product::kMainExe, Product::kRunUpdateArgs);
    if (cmd.size() >= kCommandChars) cmd.resize(kCommandChars - 1);
    return cmd;
}

CUpdateDlg::CUpdateDlg() : m_bStarted(false), m_pStatus(NULL), m_pUpdateMgr(new CUpdateMgr) {}

CUpdateDlg::~CUpdateDlg() {
    delete m_pUpdateMgr;
    m_pUpdateMgr = NULL;
    ::PostQuitMessage(0);
}

LPCTSTR CUpdateDlg::GetWindowClassName() const { return L"UpdateDlg"; }

CDuiString CUpdateDlg::GetSkinFile() { return CDuiString(L"UpdateDlg.xml"); }

void CUpdateDlg::InitWindow() {
    SetIcon(WinBaseSkin::kIconId);
    LONG_PTR style = ::GetWindowLongPtrW(GetHWND(), GWL_STYLE);
    ::SetWindowLongPtrW(GetHWND(), GWL_STYLE, style & ~kNoResizeMask);
    InitShadow();

    m_pStatus = static_cast<CLabelUI*>(m_pm.FindControl(L"txtStatus"));

    // The worker reads both; they are set before it exists.
    CUpdateMgr::m_strMainExePath = m_strMainExePath;
    g_hUpdateWnd = GetHWND();
    m_pUpdateMgr->StartUpdateThread();
    m_bStarted = true;
}

LRESULT CUpdateDlg::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (uMsg == WM_COPYDATA) return OnCopyData(wParam, lParam, bHandled);
    if (uMsg == WM_UPDATE_STATUS) {
        bHandled = TRUE;
        UpdateStatus* pStatus = reinterpret_cast<UpdateStatus*>(wParam);
        if (pStatus == NULL) return 0;
        const bool bFinished = pStatus->kind == kStatusFinished;
        // Steps and failures leave the strip's text as the layout has it.
        delete pStatus;
        if (bFinished) {
            if (m_pStatus) m_pStatus->SetText(kFinishedText);
            StartMainExe();
        }
        return 0;
    }
    bHandled = FALSE;
    return 0;
}

void CUpdateDlg::StartMainExe() {
    ShowWindow(false);

    const std::wstring cmd = FormatRestartCommand(m_strMainExePath);
    WriteLog(LOG_INFO, kLogSource, __LINE__, L"CUpdateDlg::StartMainExe", L"%s 解压升级包成功启动主进程 reason=[%s]",
             L"CUpdateDlg::StartMainExe", cmd.c_str());

    // The command line stays unquoted as the application expects it, but the
    // program is named explicitly: with a blank in the folder an unquoted
    // path alone would let CreateProcessW try "C:\Program.exe" and the like
    // first, and this program runs elevated.
    const std::wstring exe = PathJoin(m_strMainExePath, Product::kMainExe);
    // The application starts in its own folder rather than in the updater's:
    // a process's current folder cannot be removed, and the self-deletion
    // below removes the updater's folder.
    ::SetCurrentDirectoryW(m_strMainExePath.c_str());
    std::vector<wchar_t> cmdLine(cmd.begin(), cmd.end());
    cmdLine.push_back(L'\0');
    LaunchProcess(exe.c_str(), cmdLine.data(), true);

    ScheduleSelfDelete();
    Close(1);
}

LRESULT CUpdateDlg::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        bHandled = TRUE;
        Close(1);
        return 0;
    }
    return CWinBaseEx::OnSysCommand(uMsg, wParam, lParam, bHandled);
}

LRESULT CUpdateDlg::OnChar(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    bHandled = wParam == VK_BACK ? TRUE : FALSE;
    return 0;
}

void CUpdateDlg::OnFinalMessage(HWND hWnd) {
    CWinBaseEx::OnFinalMessage(hWnd);
    delete this;
}
