// The setup wizard's pages, folder choice and questions, driven through its
// window from a private copy of the delivered folder.
#include <gtest/gtest.h>
#include <richedit.h>

#include "Product.h"
#include "SetupE2e.h"

using namespace setup_e2e;

namespace {

const DWORD kPageTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 20000;

std::wstring DefaultFolder() { return ExpectedProgramFiles() + L"\\KeloPdfReader"; }

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        m_folder = CopyDelivery(L"wizard");
        ASSERT_FALSE(m_folder.empty()) << "no copy of the delivered folder " << DeliveryDir().c_str();
    }
    void TearDown() override {
        KillAll(Product::kMainExe);
        RemoveTree(m_folder);
        ForgetInstallation();
    }
    std::wstring m_folder;
};

TEST_F(WizardTest, LicencePageAndAgreementBox) {
    SetupRun run(m_folder);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));
    EXPECT_EQ(run.PathText(), DefaultFolder());
    run.Screenshot(L"setup-page0-folder");

    const double enabledTeal = run.TealShareOf(L"btnInstall");
    EXPECT_GT(enabledTeal, 0.5) << "the install button is not drawn enabled";

    run.Click(L"btnProtocal");
    ASSERT_TRUE(run.WaitPage(Page::License, kPageTimeoutMs));
    HWND hRich = FindChild(run.Window(), L"RichEdit");
    ASSERT_NE(hRich, nullptr);
    const std::wstring licence = WindowText(hRich);
    EXPECT_TRUE(Contains(licence, L"KeloPDF阅读器 软件许可协议")) << "licence text not loaded";
    EXPECT_EQ(SendMessageW(hRich, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "the licence does not start at its top";
    run.Screenshot(L"setup-page1-licence");

    run.Click(L"btnBack");
    ASSERT_TRUE(run.WaitPage(Page::Folder, kPageTimeoutMs));

    run.Click(L"ckOk");
    EXPECT_TRUE(WaitFor([&] { return run.TealShareOf(L"btnInstall") < 0.1; }, 5000)) << "not greyed out";
    run.Screenshot(L"setup-page0-agreement-cleared");

    run.Click(L"ckOk");
    EXPECT_TRUE(WaitFor([&] { return run.TealShareOf(L"btnInstall") > 0.5; }, 5000)) << "not enabled again";

    run.Click(L"closeBtn");
    DWORD code = 1234;
    EXPECT_TRUE(run.WaitExit(kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
