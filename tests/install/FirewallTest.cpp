// CFirewallSettings. Wine's firewall policy object accepts rules but keeps
// none, so what the class asks of the firewall is checked against test doubles
// of INetFwPolicy2 / INetFwRules / INetFwRule / INetFwRule2 handed to it; the
// real object is then created and used once to show that this works too.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Firewall.h"
#include "FirewallFakes.h"
#include "PathUtils.h"

using namespace firewalltest;

namespace {

const wchar_t kApp[] = L"C:\\Program Files\\KeloPdfReader\\KeloPdfReader.exe";
const wchar_t kRule[] = L"KeloPDF阅读器";

CFirewallSettings::RuleFactory FactoryOf(FakeFirewall& fw) {
    return [&fw](INetFwRule** out) { return fw.MakeRule(out); };
}

std::vector<std::wstring> NewRuleSequence(bool withRule2) {
    const std::wstring app = kApp;
    const std::wstring name = kRule;
    std::vector<std::wstring> calls = {
        L"Policy.get_Rules",
        L"Rules.Item " + name,
        L"CreateRule",
        L"put_Name " + name,
        L"put_Description " + app,
        L"put_Direction 1",            // NET_FW_RULE_DIR_IN
        L"put_Action 1",               // NET_FW_ACTION_ALLOW
        L"put_ApplicationName " + app,
        L"put_Protocol 6",             // TCP
        L"put_Profiles 2147483647",    // NET_FW_PROFILE2_ALL
        L"put_Enabled -1",             // VARIANT_TRUE
        L"QueryInterface INetFwRule2",
    };
    calls.push_back(withRule2 ? L"put_EdgeTraversalOptions 2" : L"put_EdgeTraversal -1");
    calls.push_back(L"Rules.Add");
    return calls;
}

std::string Dump(const std::vector<std::wstring>& calls) {
    std::string text;
    for (const auto& c : calls) text += ToNarrow(c) + "\n";
    return text;
}

TEST(FirewallRule, NewRuleGetsTheExactPropertySequence) {
    for (bool withRule2 : {true, false}) {
        SCOPED_TRACE(withRule2 ? "rule offers INetFwRule2" : "rule without INetFwRule2");
        FakeFirewall fw;
        fw.offersRule2 = withRule2;
        {
            CFirewallSettings settings(&fw.policy, FactoryOf(fw));
            ASSERT_TRUE(settings.HasPolicy());
            EXPECT_TRUE(settings.AddAppRule(kApp, kRule, kApp));
        }
        EXPECT_EQ(fw.journal.calls, NewRuleSequence(withRule2)) << Dump(fw.journal.calls);
        ASSERT_EQ(fw.rules.CountNamed(kRule), 1u);
        const FakeRule* rule = fw.rules.Named(kRule);
        EXPECT_EQ(rule->edgeOptions, withRule2 ? 2 : -1);
        EXPECT_EQ(rule->edgeTraversal, withRule2 ? VARIANT_FALSE : VARIANT_TRUE);
        // Every reference the class took is given back: only the collection holds the rule.
        EXPECT_EQ(fw.policy.refs, 1);
        EXPECT_EQ(fw.rules.refs, 1);
        EXPECT_EQ(rule->refs, 1);
    }
}

TEST(FirewallRule, AnExistingRuleOfThatNameIsLeftAsItIs) {
    for (VARIANT_BOOL enabled : {VARIANT_TRUE, VARIANT_FALSE}) {
        FakeFirewall fw;
        FakeRule* existing = fw.Existing(kRule, enabled);
        existing->application = L"C:\\elsewhere\\old.exe";
        {
            CFirewallSettings settings(&fw.policy, FactoryOf(fw));
            EXPECT_TRUE(settings.AddAppRule(kApp, kRule, kApp));
        }
        const std::vector<std::wstring> expected = {L"Policy.get_Rules", std::wstring(L"Rules.Item ") + kRule,
                                                    L"get_Enabled"};
        EXPECT_EQ(fw.journal.calls, expected) << Dump(fw.journal.calls);
        EXPECT_EQ(existing->enabled, enabled);
        EXPECT_EQ(existing->application, L"C:\\elsewhere\\old.exe");
        EXPECT_EQ(fw.rules.CountNamed(kRule), 1u);
        EXPECT_EQ(existing->refs, 1);
    }
}

TEST(FirewallRule, RemoveThenAddTwiceLeavesOneRule) {
    FakeFirewall fw;
    CFirewallSettings settings(&fw.policy, FactoryOf(fw));
    for (int i = 0; i < 2; ++i) {
        settings.RemoveRule(kRule);
        EXPECT_TRUE(settings.AddAppRule(kApp, kRule, kApp));
    }
    EXPECT_EQ(fw.rules.CountNamed(kRule), 1u);
    EXPECT_EQ(fw.rules.rules.size(), 1u);
    EXPECT_EQ(fw.made.size(), 2u) << "the second add made a new rule";
}

TEST(FirewallRule, AFailingStepStopsTheRestAndReportsFalse) {
    const wchar_t* steps[] = {L"Policy.get_Rules", L"CreateRule", L"put_Name", L"put_Description",
                              L"put_Direction", L"put_Action", L"put_ApplicationName", L"put_Protocol",
                              L"put_Profiles", L"put_Enabled", L"put_EdgeTraversalOptions", L"Rules.Add"};
    for (const wchar_t* step : steps) {
        SCOPED_TRACE(ToNarrow(step));
        FakeFirewall fw;
        fw.journal.failing.insert(step);
        {
            CFirewallSettings settings(&fw.policy, FactoryOf(fw));
            EXPECT_FALSE(settings.AddAppRule(kApp, kRule, kApp));
        }
        // The failing call is the last one made.
        ASSERT_FALSE(fw.journal.calls.empty());
        EXPECT_EQ(fw.journal.calls.back().compare(0, wcslen(step), step), 0) << Dump(fw.journal.calls);
        EXPECT_EQ(fw.rules.rules.size(), 0u);
        EXPECT_EQ(fw.policy.refs, 1);
        EXPECT_EQ(fw.rules.refs, 1);
        for (FakeRule* r : fw.made) EXPECT_EQ(r->refs, 0) << "a rule that was not added is released";
    }
}

TEST(FirewallRule, EmptyNameOrPathChangesNothing) {
    FakeFirewall fw;
    CFirewallSettings settings(&fw.policy, FactoryOf(fw));
    EXPECT_FALSE(settings.AddAppRule(L"", kRule, kApp));
    EXPECT_FALSE(settings.AddAppRule(kApp, L"", kApp));
    EXPECT_FALSE(settings.AddAppRule(nullptr, kRule, kApp));
    EXPECT_FALSE(settings.AddAppRule(kApp, nullptr, kApp));
    EXPECT_FALSE(settings.RemoveRule(L""));
    EXPECT_FALSE(settings.RemoveRule(nullptr));
    EXPECT_TRUE(fw.journal.calls.empty()) << Dump(fw.journal.calls);
}

TEST(FirewallRule, RemoveAsksTheCollection) {
    FakeFirewall fw;
    fw.Existing(L"Trevalo", VARIANT_TRUE);
    CFirewallSettings settings(&fw.policy, FactoryOf(fw));
    EXPECT_TRUE(settings.RemoveRule(L"Trevalo"));
    EXPECT_TRUE(settings.RemoveRule(kRule)) << "a missing rule is no error";
    const std::vector<std::wstring> expected = {L"Policy.get_Rules", L"Rules.Remove Trevalo", L"Policy.get_Rules",
                                                std::wstring(L"Rules.Remove ") + kRule};
    EXPECT_EQ(fw.journal.calls, expected) << Dump(fw.journal.calls);
    EXPECT_EQ(fw.rules.rules.size(), 0u);
}

TEST(FirewallRule, WithoutAPolicyNothingHappens) {
    CFirewallSettings settings(nullptr);
    EXPECT_FALSE(settings.HasPolicy());
    EXPECT_FALSE(settings.AddAppRule(kApp, kRule, kApp));
    EXPECT_FALSE(settings.RemoveRule(kRule));
}

// COM is initialised by the object on its thread and balanced by its destructor.
DWORD WINAPI ComBalanceThread(LPVOID param) {
    HRESULT* result = static_cast<HRESULT*>(param);
    {
        CFirewallSettings settings;
        settings.RemoveRule(kRule);
    }
    // Still apartment-threaded here would make this fail with RPC_E_CHANGED_MODE.
    result[0] = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result[0])) CoUninitialize();
    return 0;
}

TEST(FirewallRule, ComInitialisationIsBalancedOnItsThread) {
    HRESULT result[1] = {E_UNEXPECTED};
    HANDLE t = CreateThread(nullptr, 0, ComBalanceThread, result, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
    CloseHandle(t);
    EXPECT_EQ(result[0], S_OK);
}

TEST(FirewallRule, TheSystemPolicyObjectIsCreatedAndUsed) {
    // Wine's firewall keeps no rules, so only creation and the calls' success are visible.
    CFirewallSettings settings;
    ASSERT_TRUE(settings.HasPolicy()) << "the firewall policy object could not be created";
    settings.RemoveRule(L"Kelo firewall test rule");
    EXPECT_TRUE(settings.AddAppRule(kApp, L"Kelo firewall test rule", kApp));
    settings.RemoveRule(L"Kelo firewall test rule");
}

}  // namespace
