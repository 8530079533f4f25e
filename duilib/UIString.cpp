#include "UIString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace DuiLib {

CDuiString::CDuiString() : m_pstr(m_szBuffer), m_nLength(0), m_nCapacity(MAX_LOCAL_STRING_LEN) {
    m_szBuffer[0] = 0;
}

CDuiString::CDuiString(TCHAR ch) : CDuiString() {
    TCHAR sz[2] = {ch, 0};
    Assign(sz);
}

CDuiString::CDuiString(LPCTSTR lpsz, int nLen) : CDuiString() { Assign(lpsz, nLen); }

CDuiString::CDuiString(const CDuiString& src) : CDuiString() { Assign(src.m_pstr, src.m_nLength); }

CDuiString::~CDuiString() {
    if (m_pstr != m_szBuffer) free(m_pstr);
}

void CDuiString::Reserve(int nLength) {
    if (nLength <= m_nCapacity) return;
    int nCap = m_nCapacity * 2;
    if (nCap < nLength) nCap = nLength;
    LPTSTR p = static_cast<LPTSTR>(malloc((nCap + 1) * sizeof(TCHAR)));
    if (p == NULL) abort();
    memcpy(p, m_pstr, (m_nLength + 1) * sizeof(TCHAR));
    if (m_pstr != m_szBuffer) free(m_pstr);
    m_pstr = p;
    m_nCapacity = nCap;
}

void CDuiString::Empty() {
    m_nLength = 0;
    m_pstr[0] = 0;
}

int CDuiString::GetLength() const { return m_nLength; }
bool CDuiString::IsEmpty() const { return m_nLength == 0; }
LPCTSTR CDuiString::GetData() const { return m_pstr; }
CDuiString::operator LPCTSTR() const { return m_pstr; }

TCHAR CDuiString::GetAt(int nIndex) const {
    return (nIndex >= 0 && nIndex < m_nLength) ? m_pstr[nIndex] : 0;
}

TCHAR CDuiString::operator[](int nIndex) const { return GetAt(nIndex); }

void CDuiString::SetAt(int nIndex, TCHAR ch) {
    if (nIndex >= 0 && nIndex < m_nLength) m_pstr[nIndex] = ch;
}

void CDuiString::Assign(LPCTSTR pstr, int nLength) {
    if (pstr == NULL) pstr = _T("");
    int nLen = static_cast<int>(wcslen(pstr));
    if (nLength >= 0 && nLength < nLen) nLen = nLength;
    if (pstr >= m_pstr && pstr <= m_pstr + m_nLength) {
        // Assigning a piece of ourselves: copy first.
        CDuiString tmp(*this);
        Assign(tmp.m_pstr + (pstr - m_pstr), nLen);
        return;
    }
    Reserve(nLen);
    memcpy(m_pstr, pstr, nLen * sizeof(TCHAR));
    m_pstr[nLen] = 0;
    m_nLength = nLen;
}

void CDuiString::Append(LPCTSTR pstr) {
    if (pstr == NULL || *pstr == 0) return;
    CDuiString tmp;
    if (pstr >= m_pstr && pstr <= m_pstr + m_nLength) {
        tmp.Assign(pstr);
        pstr = tmp.m_pstr;
    }
    int nAdd = static_cast<int>(wcslen(pstr));
    Reserve(m_nLength + nAdd);
    memcpy(m_pstr + m_nLength, pstr, (nAdd + 1) * sizeof(TCHAR));
    m_nLength += nAdd;
}

const CDuiString& CDuiString::operator=(const CDuiString& src) {
    if (this != &src) Assign(src.m_pstr, src.m_nLength);
    return *this;
}

const CDuiString& CDuiString::operator=(LPCTSTR pstr) {
    Assign(pstr);
    return *this;
}

const CDuiString& CDuiString::operator=(TCHAR ch) {
    TCHAR sz[2] = {ch, 0};
    Assign(sz);
    return *this;
}

CDuiString CDuiString::operator+(const CDuiString& src) const {
    CDuiString s(*this);
    s.Append(src);
    return s;
}

CDuiString CDuiString::operator+(LPCTSTR pstr) const {
    CDuiString s(*this);
    s.Append(pstr);
    return s;
}

const CDuiString& CDuiString::operator+=(const CDuiString& src) {
    Append(src);
    return *this;
}

const CDuiString& CDuiString::operator+=(LPCTSTR pstr) {
    Append(pstr);
    return *this;
}

const CDuiString& CDuiString::operator+=(TCHAR ch) {
    TCHAR sz[2] = {ch, 0};
    Append(sz);
    return *this;
}

bool CDuiString::operator==(LPCTSTR str) const { return Compare(str) == 0; }
bool CDuiString::operator!=(LPCTSTR str) const { return Compare(str) != 0; }
bool CDuiString::operator<(LPCTSTR str) const { return Compare(str) < 0; }

int CDuiString::Compare(LPCTSTR pstr) const { return wcscmp(m_pstr, pstr ? pstr : _T("")); }
int CDuiString::CompareNoCase(LPCTSTR pstr) const { return _wcsicmp(m_pstr, pstr ? pstr : _T("")); }

void CDuiString::MakeUpper() { CharUpperBuffW(m_pstr, m_nLength); }
void CDuiString::MakeLower() { CharLowerBuffW(m_pstr, m_nLength); }

CDuiString CDuiString::Left(int nLength) const {
    if (nLength < 0) nLength = 0;
    if (nLength > m_nLength) nLength = m_nLength;
    return CDuiString(m_pstr, nLength);
}

CDuiString CDuiString::Mid(int iPos, int nLength) const {
    if (iPos < 0) iPos = 0;
    if (iPos > m_nLength) iPos = m_nLength;
    if (nLength < 0 || iPos + nLength > m_nLength) nLength = m_nLength - iPos;
    return CDuiString(m_pstr + iPos, nLength);
}

CDuiString CDuiString::Right(int nLength) const {
    if (nLength < 0) nLength = 0;
    if (nLength > m_nLength) nLength = m_nLength;
    return CDuiString(m_pstr + m_nLength - nLength, nLength);
}

int CDuiString::Find(TCHAR ch, int iPos) const {
    if (iPos < 0 || iPos > m_nLength) return -1;
    LPCTSTR p = wcschr(m_pstr + iPos, ch);
    return p ? static_cast<int>(p - m_pstr) : -1;
}

int CDuiString::Find(LPCTSTR pstr, int iPos) const {
    if (pstr == NULL || iPos < 0 || iPos > m_nLength) return -1;
    LPCTSTR p = wcsstr(m_pstr + iPos, pstr);
    return p ? static_cast<int>(p - m_pstr) : -1;
}

int CDuiString::ReverseFind(TCHAR ch) const {
    LPCTSTR p = wcsrchr(m_pstr, ch);
    return p ? static_cast<int>(p - m_pstr) : -1;
}

int CDuiString::Replace(LPCTSTR pstrFrom, LPCTSTR pstrTo) {
    if (pstrFrom == NULL || *pstrFrom == 0) return 0;
    if (pstrTo == NULL) pstrTo = _T("");
    int nFrom = static_cast<int>(wcslen(pstrFrom));
    CDuiString out;
    int nCount = 0, iPos = 0, iFound;
    while ((iFound = Find(pstrFrom, iPos)) >= 0) {
        out.Append(Mid(iPos, iFound - iPos));
        out.Append(pstrTo);
        iPos = iFound + nFrom;
        ++nCount;
    }
    if (nCount > 0) {
        out.Append(m_pstr + iPos);
        Assign(out);
    }
    return nCount;
}

int CDuiString::Format(LPCTSTR pstrFormat, ...) {
    va_list args;
    for (int nCap = 256; nCap <= (1 << 20); nCap *= 4) {
        LPTSTR buf = static_cast<LPTSTR>(malloc(nCap * sizeof(TCHAR)));
        if (buf == NULL) break;
        va_start(args, pstrFormat);
        int n = _vsnwprintf(buf, nCap, pstrFormat, args);
        va_end(args);
        if (n >= 0 && n < nCap) {
            buf[n] = 0;
            Assign(buf, n);
            free(buf);
            return n;
        }
        free(buf);
    }
    Empty();
    return 0;
}

}  // namespace DuiLib
