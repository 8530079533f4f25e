// The name rules on their own: what the stripping rules leave of a stored
// name, which relative paths may be written below a root, and when two
// targets are the same file. No archive is built.
#include <gtest/gtest.h>

#include "ZipNames.h"
#include "ZipTestUtil.h"

using namespace zipnames;
using ziptest::Narrow;

namespace {

struct StripCase {
    const wchar_t* stored;
    const wchar_t* stripped;
    bool unc;
};

TEST(ZipNames, StrippingRulesRepeatUntilNoneApplies) {
    const StripCase cases[] = {
        {L"C:\\Windows\\x.dll", L"Windows\\x.dll", false},
        {L"C:evil.dll", L"evil.dll", false},
        {L"\\a\\b.txt", L"a\\b.txt", false},
        {L"a\\..\\b.txt", L"b.txt", false},
        {L"x/../y/../z.txt", L"z.txt", false},
        {L"a\\..\\..\\x", L"..\\x", false},  // left for the refusal check
        {L"\\\\server\\share\\x", L"server\\share\\x", true},
        {L"//?/C:/x", L"?/C:/x", true},
        {L"", L"", false},
    };
    for (const StripCase& c : cases) {
        bool unc = false;
        EXPECT_EQ(Narrow(ApplyNameRules(c.stored, &unc)), Narrow(c.stripped)) << Narrow(c.stored);
        EXPECT_EQ(unc, c.unc) << Narrow(c.stored);
    }
}

struct PathCase {
    const wchar_t* rel;
    bool folder;
    bool plain;
};

TEST(ZipNames, OnlyPlainRelativePathsMayBeWritten) {
    const PathCase cases[] = {
        {L"a\\b.txt", false, true},       {L"sub/dir/file.txt", false, true},
        {L"./dot/here.txt", false, true}, {L"dir/", true, true},
        {L"dir/", false, false},          {L".", false, false},
        {L"C:evil.dll", false, false},    {L"C:\\evil.dll", false, false},
        {L"\\evil.dll", false, false},    {L"/evil.dll", false, false},
        {L"..\\x", false, false},         {L"a/../../x", false, false},
        {L"...\\x", false, false},        {L"x.txt:stream", false, false},
        {L"NUL", false, false},           {L"dir\\com1.log", false, false},
        {L"CON .txt", false, false},      {L"x.", false, false},
        {L"x ", false, false},            {L"a*b", false, false},
        {L"a\x01" L"b", false, false},    {L"", false, false},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(IsPlainRelativePath(c.rel, c.folder), c.plain) << Narrow(c.rel) << " folder=" << c.folder;
}

TEST(ZipNames, AbsoluteAndDriveRelativeFormsAreTold) {
    EXPECT_TRUE(LooksAbsolute(L"C:evil.dll"));
    EXPECT_TRUE(LooksAbsolute(L"\\x"));
    EXPECT_FALSE(LooksAbsolute(L"x\\C:"));
    EXPECT_TRUE(IsFullyAbsolute(L"C:\\x"));
    EXPECT_TRUE(IsFullyAbsolute(L"d:/x"));
    EXPECT_FALSE(IsFullyAbsolute(L"C:x"));
    EXPECT_FALSE(IsFullyAbsolute(L"\\\\server\\share"));
}

TEST(ZipNames, TargetsAreComparedWithoutCaseAfterNormalising) {
    EXPECT_EQ(Narrow(NormalizeRelative(L"./a//b/./c.txt")), "a\\b\\c.txt");
    EXPECT_EQ(Narrow(NormalizeRelative(L"dir/")), "dir");
    EXPECT_EQ(TargetKey(NormalizeRelative(L"Plugins/Render.DLL")), TargetKey(NormalizeRelative(L"plugins\\render.dll")));
    EXPECT_EQ(TargetKey(L"\u00e9t\u00e9.txt"), TargetKey(L"\u00c9T\u00c9.TXT"));
    EXPECT_NE(TargetKey(L"a\\b"), TargetKey(L"a\\c"));
    std::wstring folder, bare;
    SplitTarget(L"a/b\\c.txt", &folder, &bare);
    EXPECT_EQ(Narrow(folder), "a/b\\");
    EXPECT_EQ(Narrow(bare), "c.txt");
    SplitTarget(L"c.txt", &folder, &bare);
    EXPECT_EQ(folder, L"");
    EXPECT_EQ(Narrow(bare), "c.txt");
}

}  // namespace
