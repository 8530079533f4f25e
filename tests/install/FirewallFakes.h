// Test doubles of the firewall policy object: a policy, its rule collection
// and rule objects that record every call in one shared journal, keep rules
// by name, count their references and fail on request.
#pragma once

#include <windows.h>
#include <netfw.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace firewalltest {

struct Journal {
    std::vector<std::wstring> calls;
    std::set<std::wstring> failing;  // names of calls that return E_FAIL

    HRESULT Note(const std::wstring& call, const std::wstring& arg = L"") {
        calls.push_back(arg.empty() ? call : call + L" " + arg);
        return failing.count(call) ? E_FAIL : S_OK;
    }
};

inline std::wstring Str(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(L"<null>"); }

// Reference counting shared by the three doubles; objects live on the test's
// stack, so the count only tells whether the class under test balanced them.
template <class Base>
class Counted : public Base {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    long refs = 1;  // the test's own reference
};

class FakeRule : public Counted<INetFwRule2> {
public:
    FakeRule(Journal& journal, bool offersRule2) : m_journal(journal), m_offersRule2(offersRule2) {}
    virtual ~FakeRule() = default;

    std::wstring name, description, application;
    LONG protocol = 0, profiles = 0, edgeOptions = -1;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIRECTION(0);
    NET_FW_ACTION action = NET_FW_ACTION(0);
    VARIANT_BOOL enabled = VARIANT_FALSE, edgeTraversal = VARIANT_FALSE;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == __uuidof(INetFwRule2)) {
            m_journal.Note(L"QueryInterface", L"INetFwRule2");
            if (!m_offersRule2) {
                *out = nullptr;
                return E_NOINTERFACE;
            }
        } else if (riid != IID_IUnknown && riid != IID_IDispatch && riid != __uuidof(INetFwRule)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<INetFwRule2*>(this);
        AddRef();
        return S_OK;
    }

    // Journaled setters.
    HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return Set(L"put_Name", Str(v), name, Str(v)); }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR v) override {
        return Set(L"put_Description", Str(v), description, Str(v));
    }
    HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR v) override {
        return Set(L"put_ApplicationName", Str(v), application, Str(v));
    }
    HRESULT STDMETHODCALLTYPE put_Protocol(LONG v) override {
        return Set(L"put_Protocol", std::to_wstring(v), protocol, v);
    }
    HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION v) override {
        return Set(L"put_Direction", std::to_wstring(v), direction, v);
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL v) override {
        return Set(L"put_Enabled", std::to_wstring(v), enabled, v);
    }
    HRESULT STDMETHODCALLTYPE put_Profiles(LONG v) override {
        return Set(L"put_Profiles", std::to_wstring(v), profiles, v);
    }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL v) override {
        return Set(L"put_EdgeTraversal", std::to_wstring(v), edgeTraversal, v);
    }
    HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION v) override {
        return Set(L"put_Action", std::to_wstring(v), action, v);
    }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversalOptions(LONG v) override {
        return Set(L"put_EdgeTraversalOptions", std::to_wstring(v), edgeOptions, v);
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* v) override {
        *v = enabled;
        return m_journal.Note(L"get_Enabled");
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* v) override {
        *v = SysAllocString(name.c_str());
        return m_journal.Note(L"get_Name");
    }

    // Everything else is a journaled call the class is not expected to make.
    HRESULT STDMETHODCALLTYPE get_Description(BSTR*) override { return Other(L"get_Description"); }
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR*) override { return Other(L"get_ApplicationName"); }
    HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR*) override { return Other(L"get_ServiceName"); }
    HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR) override { return Other(L"put_ServiceName"); }
    HRESULT STDMETHODCALLTYPE get_Protocol(LONG*) override { return Other(L"get_Protocol"); }
    HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR*) override { return Other(L"get_LocalPorts"); }
    HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR) override { return Other(L"put_LocalPorts"); }
    HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR*) override { return Other(L"get_RemotePorts"); }
    HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR) override { return Other(L"put_RemotePorts"); }
    HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR*) override { return Other(L"get_LocalAddresses"); }
    HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR) override { return Other(L"put_LocalAddresses"); }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return Other(L"get_RemoteAddresses"); }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return Other(L"put_RemoteAddresses"); }
    HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR*) override { return Other(L"get_IcmpTypesAndCodes"); }
    HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR) override { return Other(L"put_IcmpTypesAndCodes"); }
    HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION*) override { return Other(L"get_Direction"); }
    HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT*) override { return Other(L"get_Interfaces"); }
    HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT) override { return Other(L"put_Interfaces"); }
    HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR*) override { return Other(L"get_InterfaceTypes"); }
    HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR) override { return Other(L"put_InterfaceTypes"); }
    HRESULT STDMETHODCALLTYPE get_Grouping(BSTR*) override { return Other(L"get_Grouping"); }
    HRESULT STDMETHODCALLTYPE put_Grouping(BSTR) override { return Other(L"put_Grouping"); }
    HRESULT STDMETHODCALLTYPE get_Profiles(LONG*) override { return Other(L"get_Profiles"); }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL*) override { return Other(L"get_EdgeTraversal"); }
    HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION*) override { return Other(L"get_Action"); }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversalOptions(LONG*) override { return Other(L"get_EdgeTraversalOptions"); }

private:
    template <class T, class V>
    HRESULT Set(const wchar_t* call, const std::wstring& text, T& field, V value) {
        const HRESULT hr = m_journal.Note(call, text);
        if (SUCCEEDED(hr)) field = static_cast<T>(value);
        return hr;
    }
    HRESULT Other(const wchar_t* call) { return m_journal.Note(call), E_NOTIMPL; }

    Journal& m_journal;
    bool m_offersRule2;
};

class FakeRules : public Counted<INetFwRules> {
public:
    explicit FakeRules(Journal& journal) : m_journal(journal) {}

    std::vector<INetFwRule*> rules;  // each holds one reference

    ~FakeRules() {
        for (INetFwRule* r : rules) r->Release();
    }

    size_t CountNamed(const std::wstring& name) const {
        size_t n = 0;
        for (INetFwRule* r : rules) n += static_cast<FakeRule*>(static_cast<INetFwRule2*>(r))->name == name;
        return n;
    }
    FakeRule* Named(const std::wstring& name) const {
        for (INetFwRule* r : rules) {
            FakeRule* f = static_cast<FakeRule*>(static_cast<INetFwRule2*>(r));
            if (f->name == name) return f;
        }
        return nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != __uuidof(INetFwRules)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<INetFwRules*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = static_cast<LONG>(rules.size());
        return m_journal.Note(L"Rules.get_Count");
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
        const HRESULT hr = m_journal.Note(L"Rules.Add");
        if (SUCCEEDED(hr)) {
            rule->AddRef();
            rules.push_back(rule);
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
        const HRESULT hr = m_journal.Note(L"Rules.Remove", Str(name));
        if (FAILED(hr)) return hr;
        // Like Windows: one rule of that name goes, a missing one is no error.
        for (size_t i = 0; i < rules.size(); ++i) {
            if (static_cast<FakeRule*>(static_cast<INetFwRule2*>(rules[i]))->name == Str(name)) {
                rules[i]->Release();
                rules.erase(rules.begin() + static_cast<long>(i));
                break;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) override {
        *rule = nullptr;
        const HRESULT hr = m_journal.Note(L"Rules.Item", Str(name));
        if (FAILED(hr)) return hr;
        FakeRule* found = Named(Str(name));
        if (!found) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        found->AddRef();
        *rule = static_cast<INetFwRule2*>(found);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return m_journal.Note(L"Rules.get__NewEnum"), E_NOTIMPL; }

private:
    Journal& m_journal;
};

class FakePolicy : public Counted<INetFwPolicy2> {
public:
    FakePolicy(Journal& journal, FakeRules& rules) : m_journal(journal), m_rules(rules) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != __uuidof(INetFwPolicy2)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<INetFwPolicy2*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) override {
        *rules = nullptr;
        const HRESULT hr = m_journal.Note(L"Policy.get_Rules");
        if (FAILED(hr)) return hr;
        m_rules.AddRef();
        *rules = &m_rules;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG*) override { return Other(L"get_CurrentProfileTypes"); }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return Other(L"get_FirewallEnabled");
    }
    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return Other(L"put_FirewallEnabled");
    }
    HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override {
        return Other(L"get_ExcludedInterfaces");
    }
    HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override {
        return Other(L"put_ExcludedInterfaces");
    }
    HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return Other(L"get_BlockAllInboundTraffic");
    }
    HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return Other(L"put_BlockAllInboundTraffic");
    }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return Other(L"get_NotificationsDisabled");
    }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return Other(L"put_NotificationsDisabled");
    }
    HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                               VARIANT_BOOL*) override {
        return Other(L"get_UnicastResponsesToMulticastBroadcastDisabled");
    }
    HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                               VARIANT_BOOL) override {
        return Other(L"put_UnicastResponsesToMulticastBroadcastDisabled");
    }
    HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) override {
        return Other(L"get_ServiceRestriction");
    }
    HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override { return Other(L"EnableRuleGroup"); }
    HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override {
        return Other(L"IsRuleGroupEnabled");
    }
    HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override { return Other(L"RestoreLocalFirewallDefaults"); }
    HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
        return Other(L"get_DefaultInboundAction");
    }
    HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
        return Other(L"put_DefaultInboundAction");
    }
    HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
        return Other(L"get_DefaultOutboundAction");
    }
    HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
        return Other(L"put_DefaultOutboundAction");
    }
    HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override {
        return Other(L"get_IsRuleGroupCurrentlyEnabled");
    }
    HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) override {
        return Other(L"get_LocalPolicyModifyState");
    }

private:
    HRESULT Other(const wchar_t* call) { return m_journal.Note(std::wstring(L"Policy.") + call), E_NOTIMPL; }

    Journal& m_journal;
    FakeRules& m_rules;
};

// A policy with its rule collection and a supply of fresh rule objects.
struct FakeFirewall {
    Journal journal;
    FakeRules rules{journal};
    FakePolicy policy{journal, rules};
    bool offersRule2 = true;
    std::vector<FakeRule*> made;  // every rule handed out, owned here

    ~FakeFirewall() {
        rules.rules.clear();  // references into `made`, which is deleted below
        for (FakeRule* r : made) delete r;
    }

    // The rule factory for CFirewallSettings.
    HRESULT MakeRule(INetFwRule** out) {
        journal.Note(L"CreateRule");
        if (journal.failing.count(L"CreateRule")) {
            *out = nullptr;
            return E_FAIL;
        }
        FakeRule* r = new FakeRule(journal, offersRule2);
        made.push_back(r);
        *out = static_cast<INetFwRule2*>(r);  // the caller takes the initial reference
        return S_OK;
    }

    // A rule that is already there, as another program left it.
    FakeRule* Existing(const std::wstring& name, VARIANT_BOOL enabled) {
        FakeRule* r = new FakeRule(journal, true);
        made.push_back(r);
        r->name = name;
        r->enabled = enabled;
        rules.rules.push_back(static_cast<INetFwRule2*>(r));  // the collection holds the initial reference
        return r;
    }
};

}  // namespace firewalltest
