#include "FakeLinks.h"

#include "FileWalk.h"

namespace {

std::vector<std::wstring> g_links;
std::vector<std::wstring> g_queries;
bool g_bLimitPlainPaths = false;
EntryAttributesFilter g_pfnPrevious = nullptr;

std::wstring Comparable(std::wstring path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        path.erase(0, 4);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    return path;
}

DWORD FakeAttributes(const std::wstring& path, DWORD attributes)
{
    g_queries.push_back(path);
    if (g_bLimitPlainPaths && path.size() >= MAX_PATH && path.compare(0, 4, L"\\\\?\\") != 0)
        return INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return attributes;
    const std::wstring key = Comparable(path);
    for (const std::wstring& link : g_links) {
        if (link == key)
            return attributes | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes;
}

}  // namespace

FakeLinks::FakeLinks()
{
    g_links.clear();
    g_queries.clear();
    g_bLimitPlainPaths = false;
    g_pfnPrevious = SetEntryAttributesFilter(&FakeAttributes);
}

FakeLinks::~FakeLinks()
{
    SetEntryAttributesFilter(g_pfnPrevious);
    g_links.clear();
    g_queries.clear();
    g_bLimitPlainPaths = false;
}

void FakeLinks::Mark(const std::wstring& path) { g_links.push_back(Comparable(path)); }

void FakeLinks::LimitPlainPaths(bool bOn) { g_bLimitPlainPaths = bOn; }

std::vector<std::wstring> FakeLinks::Queries() const { return g_queries; }
