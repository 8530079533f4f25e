#include "UIDlgBuilder.h"

#include "UIContainer.h"
#include "UIEdit.h"
#include "UIInternal.h"
#include "UILabel.h"
#include "UIManager.h"
#include "UIMarkup.h"
#include "StartupTrace.h"

#include <cwchar>
#include <vector>

namespace DuiLib {

struct CDialogBuilder::Data {
    CDuiString sError;
};

CDialogBuilder::CDialogBuilder() : m_p(new Data) {}
CDialogBuilder::~CDialogBuilder() { delete m_p; }
LPCTSTR CDialogBuilder::GetLastErrorMessage() const { return m_p->sError; }

CControlUI* CDialogBuilder::CreateBuiltinControl(LPCTSTR c) {
    if (c == NULL) return NULL;
    if (_wcsicmp(c, DUI_CTR_CONTROL) == 0) return new CControlUI;
    if (_wcsicmp(c, DUI_CTR_CONTAINER) == 0) return new CContainerUI;
    if (_wcsicmp(c, DUI_CTR_VERTICALLAYOUT) == 0) return new CVerticalLayoutUI;
    if (_wcsicmp(c, DUI_CTR_HORIZONTALLAYOUT) == 0) return new CHorizontalLayoutUI;
    if (_wcsicmp(c, DUI_CTR_TABLAYOUT) == 0) return new CTabLayoutUI;
    if (_wcsicmp(c, DUI_CTR_LABEL) == 0) return new CLabelUI;
    if (_wcsicmp(c, DUI_CTR_TEXT) == 0) return new CTextUI;
    if (_wcsicmp(c, DUI_CTR_BUTTON) == 0) return new CButtonUI;
    if (_wcsicmp(c, DUI_CTR_OPTION) == 0) return new COptionUI;
    if (_wcsicmp(c, DUI_CTR_CHECKBOX) == 0) return new CCheckBoxUI;
    if (_wcsicmp(c, DUI_CTR_PROGRESS) == 0) return new CProgressUI;
    if (_wcsicmp(c, DUI_CTR_EDIT) == 0) return new CEditUI;
    if (_wcsicmp(c, DUI_CTR_RICHEDIT) == 0) return new CRichEditUI;
    return NULL;
}

namespace {

void ApplyWindowAttributes(const CMarkupNode& node, CPaintManagerUI* pm) {
    for (const auto& a : node.m_attrs) {
        LPCTSTR n = a.first;
        LPCTSTR v = a.second;
        if (wcscmp(n, L"size") == 0) {
            SIZE sz = ParseSize(v);
            pm->SetInitSize(sz.cx, sz.cy);
        } else if (wcscmp(n, L"sizebox") == 0) {
            RECT rc = ParseRect(v);
            pm->SetSizeBox(rc);
        } else if (wcscmp(n, L"caption") == 0) {
            RECT rc = ParseRect(v);
            pm->SetCaptionRect(rc);
        } else if (wcscmp(n, L"roundcorner") == 0) {
            SIZE sz = ParseSize(v);
            pm->SetRoundCorner(sz.cx, sz.cy);
        } else if (wcscmp(n, L"mininfo") == 0) {
            SIZE sz = ParseSize(v);
            pm->SetMinInfo(sz.cx, sz.cy);
        } else if (wcscmp(n, L"maxinfo") == 0) {
            SIZE sz = ParseSize(v);
            pm->SetMaxInfo(sz.cx, sz.cy);
        } else if (wcscmp(n, L"layered") == 0) {
            pm->SetLayered(ParseBool(v));
        } else if (wcscmp(n, L"layeredimage") == 0) {
            pm->SetLayeredImage(v);
        } else if (wcscmp(n, L"alpha") == 0 || wcscmp(n, L"layeredopacity") == 0) {
            int a = _wtoi(v);
            pm->SetLayeredOpacity(static_cast<BYTE>(a < 0 ? 0 : (a > 255 ? 255 : a)));
        } else if (wcscmp(n, L"defaultfontcolor") == 0) {
            pm->SetDefaultFontColor(ParseColor(v));
        } else if (wcscmp(n, L"disabledfontcolor") == 0) {
            pm->SetDefaultDisabledColor(ParseColor(v));
        }
    }
}

void AddFont(const CMarkupNode& node, CPaintManagerUI* pm) {
    LPCTSTR pId = node.GetAttributeValue(L"id");
    LPCTSTR pName = node.GetAttributeValue(L"name");
    LPCTSTR pSize = node.GetAttributeValue(L"size");
    int id = pId ? _wtoi(pId) : -1;
    int size = pSize ? _wtoi(pSize) : 12;
    bool bold = ParseBool(node.GetAttributeValue(L"bold"));
    bool underline = ParseBool(node.GetAttributeValue(L"underline"));
    bool italic = ParseBool(node.GetAttributeValue(L"italic"));
    if (pName == NULL) pName = L"Microsoft YaHei";
    if (id >= 0) pm->AddFont(id, pName, size, bold, underline, italic);
    if (ParseBool(node.GetAttributeValue(L"default"))) pm->SetDefaultFont(pName, size, bold, underline, italic);
}

CControlUI* BuildControl(const CMarkupNode& node, IDialogBuilderCallback* pCallback, CPaintManagerUI* pm) {
    CControlUI* pControl = CDialogBuilder::CreateBuiltinControl(node.GetName());
    if (pControl == NULL && pCallback != NULL) pControl = pCallback->CreateControl(node.GetName());
    if (pControl == NULL) return NULL;
    if (pm != NULL) {
        LPCTSTR pDefault = pm->GetDefaultAttributeList(node.GetName());
        if (pDefault) pControl->ApplyAttributeList(pDefault);
    }
    for (const auto& a : node.m_attrs) pControl->SetAttribute(a.first, a.second);
    CContainerUI* pContainer = static_cast<CContainerUI*>(pControl->GetInterface(DUI_CTR_CONTAINER));
    if (pContainer != NULL) {
        for (const auto& child : node.m_children) {
            CControlUI* pChild = BuildControl(*child, pCallback, pm);
            if (pChild != NULL) pContainer->Add(pChild);
        }
    }
    return pControl;
}

}  // namespace

CControlUI* CDialogBuilder::Create(LPCTSTR pstrXmlFile, LPCTSTR /*pstrType*/, IDialogBuilderCallback* pCallback,
                                   CPaintManagerUI* pManager, CControlUI* pParent) {
    CStartupSpan span(STARTUP_XML);
    std::vector<BYTE> data;
    if (!ReadSkinFile(pstrXmlFile, data) || data.empty()) {
        m_p->sError.Format(L"layout %s cannot be read", pstrXmlFile ? pstrXmlFile : L"");
        return NULL;
    }
    return CreateFromBuffer(data.data(), static_cast<DWORD>(data.size()), pCallback, pManager, pParent);
}

CControlUI* CDialogBuilder::CreateFromBuffer(const BYTE* pData, DWORD dwSize, IDialogBuilderCallback* pCallback,
                                             CPaintManagerUI* pManager, CControlUI* pParent) {
    m_p->sError.Empty();
    std::unique_ptr<CMarkupNode> root = ParseMarkup(pData, dwSize);
    if (!root) {
        m_p->sError = L"layout is not well-formed XML (or XmlLite is missing)";
        return NULL;
    }
    const CMarkupNode* pBody = root.get();
    if (_wcsicmp(root->GetName(), L"Window") == 0) {
        if (pManager != NULL) ApplyWindowAttributes(*root, pManager);
        pBody = NULL;
        for (const auto& child : root->m_children) {
            LPCTSTR n = child->GetName();
            if (_wcsicmp(n, L"Font") == 0) {
                if (pManager) AddFont(*child, pManager);
            } else if (_wcsicmp(n, L"Default") == 0) {
                LPCTSTR pName = child->GetAttributeValue(L"name");
                LPCTSTR pValue = child->GetAttributeValue(L"value");
                if (pManager && pName && pValue) pManager->AddDefaultAttributeList(pName, pValue);
            } else if (pBody == NULL) {
                pBody = child.get();
            }
        }
        if (pBody == NULL) {
            m_p->sError = L"layout has no control";
            return NULL;
        }
    }
    CControlUI* pControl = BuildControl(*pBody, pCallback, pManager);
    if (pControl == NULL) {
        m_p->sError.Format(L"unknown control class %s", pBody->GetName());
        return NULL;
    }
    if (pParent != NULL) {
        CContainerUI* pContainer = static_cast<CContainerUI*>(pParent->GetInterface(DUI_CTR_CONTAINER));
        if (pContainer == NULL || !pContainer->Add(pControl)) {
            delete pControl;
            return NULL;
        }
    }
    return pControl;
}

}  // namespace DuiLib
