// The product's inbound application rule in the Windows firewall, through the
// firewall policy object (INetFwPolicy2 and its rule interfaces).
#pragma once

#include <windows.h>
#include <netfw.h>

#include <functional>

#include "Owners.h"

class CFirewallSettings {
public:
    // Makes a new, empty rule object.
    typedef std::function<HRESULT(INetFwRule** rule)> RuleFactory;

    // Initialises COM (single-threaded apartment) on the calling thread and
    // creates the policy object; without it every operation does nothing.
    CFirewallSettings();
    // Works on the given policy (a reference is taken) and makes rule objects
    // with ruleFactory, or with the system's rule class when it is empty; for
    // callers that bring their own policy, such as tests.
    explicit CFirewallSettings(INetFwPolicy2* policy, RuleFactory ruleFactory = RuleFactory());
    // Releases the policy, then balances the COM initialisation.
    virtual ~CFirewallSettings();
    CFirewallSettings(const CFirewallSettings&) = delete;
    CFirewallSettings& operator=(const CFirewallSettings&) = delete;

    bool HasPolicy() const { return static_cast<bool>(m_pPolicy); }

    // Adds an enabled inbound TCP allow rule for the program in all profiles,
    // deferring edge traversal to the application. When a rule of that name
    // already exists it is left as it is and the result is true.
    bool AddAppRule(const wchar_t* appPath, const wchar_t* ruleName, const wchar_t* description);
    // Asks the firewall to remove the rule of that name; true when it agreed.
    bool RemoveRule(const wchar_t* ruleName);

private:
    HRESULT CreateRule(INetFwRule** rule);

    ScopedCoInit m_coInit;  // declared first: outlives the policy
    ComPtr<INetFwPolicy2> m_pPolicy;
    RuleFactory m_ruleFactory;
};
