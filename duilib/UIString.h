// CDuiString: the library's wide string, safe to pass between the DLL and
// the programs (its memory is always allocated and freed inside DuiLib).
#pragma once

#include "UIDefine.h"

namespace DuiLib {

class UILIB_API CDuiString {
public:
    enum { MAX_LOCAL_STRING_LEN = 63 };

    CDuiString();
    CDuiString(TCHAR ch);
    CDuiString(LPCTSTR lpsz, int nLen = -1);
    CDuiString(const CDuiString& src);
    ~CDuiString();

    void Empty();
    int GetLength() const;
    bool IsEmpty() const;
    TCHAR GetAt(int nIndex) const;
    void Append(LPCTSTR pstr);
    void Assign(LPCTSTR pstr, int nLength = -1);
    LPCTSTR GetData() const;

    void SetAt(int nIndex, TCHAR ch);
    operator LPCTSTR() const;

    TCHAR operator[](int nIndex) const;
    const CDuiString& operator=(const CDuiString& src);
    const CDuiString& operator=(LPCTSTR pstr);
    const CDuiString& operator=(TCHAR ch);
    CDuiString operator+(const CDuiString& src) const;
    CDuiString operator+(LPCTSTR pstr) const;
    const CDuiString& operator+=(const CDuiString& src);
    const CDuiString& operator+=(LPCTSTR pstr);
    const CDuiString& operator+=(TCHAR ch);

    bool operator==(LPCTSTR str) const;
    bool operator!=(LPCTSTR str) const;
    bool operator<(LPCTSTR str) const;

    int Compare(LPCTSTR pstr) const;
    int CompareNoCase(LPCTSTR pstr) const;

    void MakeUpper();
    void MakeLower();

    CDuiString Left(int nLength) const;
    CDuiString Mid(int iPos, int nLength = -1) const;
    CDuiString Right(int nLength) const;

    int Find(TCHAR ch, int iPos = 0) const;
    int Find(LPCTSTR pstr, int iPos = 0) const;
    int ReverseFind(TCHAR ch) const;
    int Replace(LPCTSTR pstrFrom, LPCTSTR pstrTo);

    int __cdecl Format(LPCTSTR pstrFormat, ...);

private:
    void Reserve(int nLength);

    LPTSTR m_pstr;
    int m_nLength;
    int m_nCapacity;
    TCHAR m_szBuffer[MAX_LOCAL_STRING_LEN + 1];
};

}  // namespace DuiLib
