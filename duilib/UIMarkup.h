// Layout documents: parsed with XmlLite into a small element tree.
#pragma once

#include "UIString.h"

#include <memory>
#include <utility>
#include <vector>

namespace DuiLib {

class CMarkupNode {
public:
    CDuiString m_sName;
    std::vector<std::pair<CDuiString, CDuiString> > m_attrs;
    std::vector<std::unique_ptr<CMarkupNode> > m_children;

    LPCTSTR GetName() const { return m_sName; }
    // NULL when the attribute is absent.
    LPCTSTR GetAttributeValue(LPCTSTR pstrName) const;
};

// Parses a UTF-8 (or BOM-marked) XML document. DTDs are refused.
std::unique_ptr<CMarkupNode> ParseMarkup(const BYTE* pData, DWORD dwSize);

}  // namespace DuiLib
