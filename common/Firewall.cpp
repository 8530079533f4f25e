#include "Firewall.h"

namespace {

// {E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}
const CLSID kClsidNetFwPolicy2 = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
// {98325047-C671-4174-8D81-DEFCD3F03186}
const IID kIidINetFwPolicy2 = {0x98325047, 0xc671, 0x4174, {0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31, 0x86}};
// {2C5BC43E-3369-4C33-AB0C-BE9469677AF4}
const CLSID kClsidNetFwRule = {0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};
// {AF230D27-BABA-4E42-ACED-F524F22CFCE2}
const IID kIidINetFwRule = {0xaf230d27, 0xbaba, 0x4e42, {0xac, 0xed, 0xf5, 0x24, 0xf2, 0x2c, 0xfc, 0xe2}};
// {9C27C8DA-189B-4DDE-89F7-8B39A316782C}
const IID kIidINetFwRule2 = {0x9c27c8da, 0x189b, 0x4dde, {0x89, 0xf7, 0x8b, 0x39, 0xa3, 0x16, 0x78, 0x2c}};

const long kProtocolTcp = 6;
// NET_FW_EDGE_TRAVERSAL_TYPE_DEFER_TO_APP; missing from the MinGW headers.
const long kEdgeTraversalDeferToApp = 2;

}  // namespace

CFirewallSettings::CFirewallSettings() {
    if (FAILED(CoCreateInstance(kClsidNetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, kIidINetFwPolicy2,
                                m_pPolicy.ReceiveVoid())))
        m_pPolicy.Reset();
}

CFirewallSettings::CFirewallSettings(INetFwPolicy2* policy, RuleFactory ruleFactory)
    : m_pPolicy(policy), m_ruleFactory(std::move(ruleFactory)) {
    if (policy) policy->AddRef();
}

CFirewallSettings::~CFirewallSettings() = default;

HRESULT CFirewallSettings::CreateRule(INetFwRule** rule) {
    if (m_ruleFactory) return m_ruleFactory(rule);
    return CoCreateInstance(kClsidNetFwRule, nullptr, CLSCTX_INPROC_SERVER, kIidINetFwRule,
                            reinterpret_cast<void**>(rule));
}

bool CFirewallSettings::AddAppRule(const wchar_t* appPath, const wchar_t* ruleName, const wchar_t* description) {
    if (!m_pPolicy) return false;
    if (!appPath || !*appPath || !ruleName || !*ruleName) return false;
    ScopedBstr name(ruleName);
    ScopedBstr desc(description ? description : L"");
    ScopedBstr path(appPath);
    if (!name.Get() || !desc.Get() || !path.Get()) return false;

    ComPtr<INetFwRules> rules;
    if (FAILED(m_pPolicy->get_Rules(rules.Receive())) || !rules) return false;

    // A rule of that name that is still there stays as it is.
    ComPtr<INetFwRule> existing;
    if (SUCCEEDED(rules->Item(name.Get(), existing.Receive())) && existing) {
        VARIANT_BOOL enabled = VARIANT_FALSE;
        existing->get_Enabled(&enabled);
        return true;
    }

    ComPtr<INetFwRule> rule;
    HRESULT hr = CreateRule(rule.Receive());
    if (SUCCEEDED(hr) && !rule) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = rule->put_Name(name.Get());
    if (SUCCEEDED(hr)) hr = rule->put_Description(desc.Get());
    if (SUCCEEDED(hr)) hr = rule->put_Direction(NET_FW_RULE_DIR_IN);
    if (SUCCEEDED(hr)) hr = rule->put_Action(NET_FW_ACTION_ALLOW);
    if (SUCCEEDED(hr)) hr = rule->put_ApplicationName(path.Get());
    if (SUCCEEDED(hr)) hr = rule->put_Protocol(kProtocolTcp);
    if (SUCCEEDED(hr)) hr = rule->put_Profiles(NET_FW_PROFILE2_ALL);
    if (SUCCEEDED(hr)) hr = rule->put_Enabled(VARIANT_TRUE);
    if (SUCCEEDED(hr)) {
        ComPtr<INetFwRule2> rule2;
        if (SUCCEEDED(rule->QueryInterface(kIidINetFwRule2, rule2.ReceiveVoid())) && rule2)
            hr = rule2->put_EdgeTraversalOptions(kEdgeTraversalDeferToApp);
        else
            hr = rule->put_EdgeTraversal(VARIANT_TRUE);
    }
    if (SUCCEEDED(hr)) hr = rules->Add(rule.Get());
    return SUCCEEDED(hr);
}

bool CFirewallSettings::RemoveRule(const wchar_t* ruleName) {
    if (!m_pPolicy || !ruleName || !*ruleName) return false;
    ScopedBstr name(ruleName);
    if (!name.Get()) return false;
    ComPtr<INetFwRules> rules;
    if (FAILED(m_pPolicy->get_Rules(rules.Receive())) || !rules) return false;
    return SUCCEEDED(rules->Remove(name.Get()));
}
