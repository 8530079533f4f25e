// The setup program always ends: closed at any moment of its copy it is gone
// within 10 s and the next start shows its window; a second start whose first
// copy's window no longer answers still ends with 0.
#include <gtest/gtest.h>

#include "FolderCount.h"
#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

const DWORD kPageTimeoutMs = 20000;
// The bound for a closed program to be gone.
const DWORD kGoneMs = 10000;

class SetupClosing : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        m_folder = CopyDelivery(L"closing");
        ASSERT_FALSE(m_folder.empty()) << "no copy of the delivered folder";
        m_scratch = NewTempDir(L"kelo_setup_closing");
        ASSERT_FALSE(m_scratch.empty());
    }
    void TearDown() override {
        KillAll(Product::kSetupExe);
        KillAll(Product::kMainExe);
        RemoveTree(m_folder);
        RemoveTree(m_scratch);
        ForgetInstallation();
    }
    std::wstring m_folder;
    std::wstring m_scratch;
};

TEST_F(SetupClosing, ClosingDuringTheCopyEndsTheProgramEveryTime) {
    // A payload whose copy takes several seconds.
    const std::wstring bulk = m_folder + L"\\" + Product::kPayloadFolder + L"\\bulk";
    ASSERT_TRUE(MakeDirs(bulk));
    const size_t kFiles = 3000;
    for (size_t i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteFileBytes(bulk + L"\\f" + std::to_wstring(i) + L".dat", std::string(2048, 'k')));

    const int kCloses = 10;
    for (int i = 0; i <= kCloses; ++i) {
        SCOPED_TRACE(testing::Message() << "start " << i);
        ForgetInstallation();
        SetupRun run(m_folder);
        ASSERT_TRUE(run.Start()) << "no window after the earlier close";
        ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
        if (i < kCloses) {
            const std::wstring target = m_scratch + L"\\run" + std::to_wstring(i);
            run.TypePath(target);
            run.Click(L"btnInstall");
            const std::wstring copied = target + L"\\KeloPdfReader\\bulk";
            ASSERT_TRUE(WaitFor([&] { return CountFiles(copied) > 0; }, 30000, 20)) << "the copy did not start";
            Sleep(static_cast<DWORD>(i) * 250);
            // The close button, WM_CLOSE and Alt+F4 in turn.
            HWND hWnd = run.Window();
            if (i % 3 == 0)
                run.Click(L"closeBtn");
            else if (i % 3 == 1)
                PostMessageW(hWnd, WM_CLOSE, 0, 0);
            else
                PostAltF4(hWnd);
        } else {
            run.Click(L"closeBtn");
        }
        DWORD code = 1234;
        EXPECT_TRUE(run.WaitExit(kGoneMs, &code)) << "still running 10 s after the close";
        EXPECT_EQ(code, 0u);
        KillAll(Product::kSetupExe);
    }
}

// A window of the setup program's class and title on a thread that never
// handles its messages, as a hung first copy leaves it.
class HungFirstCopy {
public:
    HungFirstCopy() {
        m_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hThread = CreateThread(nullptr, 0, &HungFirstCopy::ThreadProc, this, 0, nullptr);
        WaitForSingleObject(m_hReady, 10000);
    }
    ~HungFirstCopy() {
        SetEvent(m_hRelease);
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
        CloseHandle(m_hReady);
        CloseHandle(m_hRelease);
    }
    HWND Window() const { return m_hWnd; }

private:
    static DWORD WINAPI ThreadProc(LPVOID param) {
        HungFirstCopy* self = static_cast<HungFirstCopy*>(param);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kSetupClass;
        RegisterClassW(&wc);
        self->m_hWnd = CreateWindowExW(0, kSetupClass, kSetupTitle, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                       wc.hInstance, nullptr);
        SetEvent(self->m_hReady);
        // Hangs: no message of this thread is handled until the test ends.
        WaitForSingleObject(self->m_hRelease, INFINITE);
        DestroyWindow(self->m_hWnd);
        return 0;
    }
    HANDLE m_hRelease = nullptr;
    HANDLE m_hReady = nullptr;
    HANDLE m_hThread = nullptr;
    HWND m_hWnd = nullptr;
};

TEST_F(SetupClosing, SecondStartWithAHungFirstCopyStillEndsWithZero) {
    // The first copy's mutex and its window that does not answer.
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, Product::kSetupMutex);
    ASSERT_NE(hMutex, nullptr);
    HungFirstCopy first;
    ASSERT_NE(first.Window(), nullptr);

    Process second;
    ASSERT_TRUE(second.Start(m_folder + L"\\" + Product::kSetupExe, L"", m_folder));
    EXPECT_EQ(second.WaitExit(15000), 0u) << "the second start hung on the first copy's window";
    EXPECT_EQ(FindTopWindow(kSetupClass, kSetupTitle, second.Pid()), nullptr);
    second.Kill();
    CloseHandle(hMutex);
}

}  // namespace
