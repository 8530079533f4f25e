// Links for the walks' attribute filter. Wine cannot create reparse points
// (and shows a Unix symbolic link as a plain folder), so the tests make an
// ordinary file or folder read as a link where the walks read an entry's
// attributes; the walks then must treat it as they would a junction or a
// symbolic link on Windows. Installs the filter for the object's life.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class FakeLinks {
public:
    FakeLinks();
    ~FakeLinks();
    FakeLinks(const FakeLinks&) = delete;
    FakeLinks& operator=(const FakeLinks&) = delete;

    // The entry at path (plain or "\\?\" form, any case) reads as a link.
    void Mark(const std::wstring& path);
    // Plays Windows' limit: a plain path of 260 characters or more has no
    // attributes (Wine answers for it anyway); the "\\?\" form still does.
    void LimitPlainPaths(bool bOn);
    // Every path the walks asked about, in the form they asked.
    std::vector<std::wstring> Queries() const;
};
