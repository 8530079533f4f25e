#include "UIMarkup.h"

#include "SysLib.h"

#include <objbase.h>
#include <xmllite.h>

namespace DuiLib {

namespace {

typedef HRESULT(WINAPI* PFN_CreateXmlReader)(REFIID riid, void** ppvObject, IMalloc* pMalloc);

PFN_CreateXmlReader GetCreateXmlReader() {
    static PFN_CreateXmlReader s_pfn = NULL;
    static bool s_bTried = false;
    if (!s_bTried) {
        s_bTried = true;
        HMODULE h = LoadSystemLibrary(L"xmllite.dll");
        if (h) s_pfn = reinterpret_cast<PFN_CreateXmlReader>(::GetProcAddress(h, "CreateXmlReader"));
    }
    return s_pfn;
}

template <class T>
class ComPtr {
public:
    ComPtr() : p(NULL) {}
    ~ComPtr() {
        if (p) p->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    T* p;
};

}  // namespace

LPCTSTR CMarkupNode::GetAttributeValue(LPCTSTR pstrName) const {
    for (const auto& a : m_attrs) {
        if (a.first.CompareNoCase(pstrName) == 0) return a.second;
    }
    return NULL;
}

std::unique_ptr<CMarkupNode> ParseMarkup(const BYTE* pData, DWORD dwSize) {
    PFN_CreateXmlReader pfnCreate = GetCreateXmlReader();
    if (pfnCreate == NULL || pData == NULL || dwSize == 0) return nullptr;

    HGLOBAL hMem = ::GlobalAlloc(GMEM_MOVEABLE, dwSize);
    if (hMem == NULL) return nullptr;
    void* pMem = ::GlobalLock(hMem);
    memcpy(pMem, pData, dwSize);
    ::GlobalUnlock(hMem);
    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(hMem, TRUE, &stream))) {
        ::GlobalFree(hMem);
        return nullptr;
    }
    ComPtr<IXmlReader> reader;
    if (FAILED(pfnCreate(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader), NULL))) return nullptr;
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    if (FAILED(reader->SetInput(stream.p))) return nullptr;

    std::unique_ptr<CMarkupNode> root;
    std::vector<CMarkupNode*> stack;
    XmlNodeType type;
    HRESULT hr;
    while ((hr = reader->Read(&type)) == S_OK) {
        if (type == XmlNodeType_Element) {
            std::unique_ptr<CMarkupNode> node(new CMarkupNode);
            LPCWSTR pName = NULL;
            reader->GetLocalName(&pName, NULL);
            node->m_sName = pName;
            BOOL bEmpty = reader->IsEmptyElement();
            for (HRESULT ha = reader->MoveToFirstAttribute(); ha == S_OK; ha = reader->MoveToNextAttribute()) {
                LPCWSTR pAttr = NULL;
                LPCWSTR pValue = NULL;
                reader->GetLocalName(&pAttr, NULL);
                reader->GetValue(&pValue, NULL);
                node->m_attrs.emplace_back(CDuiString(pAttr), CDuiString(pValue));
            }
            CMarkupNode* pRaw = node.get();
            if (stack.empty()) {
                if (root) return nullptr;  // a second root element
                root = std::move(node);
            } else {
                stack.back()->m_children.push_back(std::move(node));
            }
            if (!bEmpty) stack.push_back(pRaw);
        } else if (type == XmlNodeType_EndElement) {
            if (stack.empty()) return nullptr;
            stack.pop_back();
        }
    }
    if (FAILED(hr) || !stack.empty()) return nullptr;
    return root;
}

}  // namespace DuiLib
