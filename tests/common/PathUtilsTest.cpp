#include <gtest/gtest.h>

#include <windows.h>

#include "CommonTestUtil.h"
#include "FakeLinks.h"
#include "PathUtils.h"

namespace {

TEST(ReplaceAll, ReplacesEveryOccurrenceAndEndsWhenReplacementContainsSearch)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* search;
        const wchar_t* replacement;
        const wchar_t* expected;
    } cases[] = {
        {L"a/b/c", L"/", L"\\", L"a\\b\\c"},
        {L"aa", L"a", L"aa", L"aaaa"},
        {L"xabab", L"ab", L"bab", L"xbabbab"},
        {L"abc", L"x", L"y", L"abc"},
        {L"abc", L"abc", L"", L""},
        {L"", L"a", L"b", L""},
        {L"abc", L"", L"z", L"abc"},
    };
    for (const Case& c : cases) {
        std::wstring s = c.text;
        ReplaceAll(s, c.search, c.replacement);
        EXPECT_EQ(s, c.expected) << "text=" << ToNarrow(c.text) << " search=" << ToNarrow(c.search);
    }
}

TEST(NormalizeToSlash, TurnsBackslashesAndEndsWithOneSlash)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L""},
        {L"C:\\A\\", L"C:/A/"},
        {L"C:\\A", L"C:/A/"},
        {L"a/b", L"a/b/"},
        {L"\\", L"/"},
    };
    for (const Case& c : cases) {
        std::wstring s = c.in;
        NormalizeToSlash(s);
        EXPECT_EQ(s, c.out) << ToNarrow(c.in);
    }
}

TEST(EndsWith, IsCaseSensitiveAndHandlesShortTexts)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* suffix;
        bool expected;
    } cases[] = {
        {L"x.EXE", L".exe", false},
        {L"x.exe", L".exe", true},
        {L"exe", L".exe", false},
        {L".exe", L".exe", true},
        {L"abc", L"", true},
        {L"", L"a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EndsWith(c.text, c.suffix), c.expected) << ToNarrow(c.text) << " / " << ToNarrow(c.suffix);
    }
}

TEST(AnsiConversion, UsesCodePage936)
{
    ASSERT_EQ(GetACP(), 936u) << "the harness runs Wine with LC_ALL=zh_CN.UTF-8";
    EXPECT_EQ(ToNarrow(L"中文ab"), std::string("\xD6\xD0\xCE\xC4" "ab"));
    EXPECT_EQ(ToWide("\xD6\xD0\xCE\xC4" "ab"), L"中文ab");
    EXPECT_EQ(ToNarrow(L""), "");
    EXPECT_EQ(ToWide(""), L"");
    // A character the code page lacks becomes its default character.
    EXPECT_EQ(ToNarrow(L"a\u0E01b"), "a?b");
    // Embedded text survives a round trip.
    std::wstring text = L"KeloPDF阅读器 安装程序";
    EXPECT_EQ(ToWide(ToNarrow(text)), text);
}

class PathFs : public ::testing::Test {
protected:
    ct::TempDir dir{L"kelo_paths"};
};

TEST_F(PathFs, GetModuleDirIsTheCanonicalFolderOfTheProgram)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring expected = self;
    expected.resize(expected.rfind(L'\\'));
    EXPECT_EQ(GetModuleDir(), expected);

    // A program started as <dir>\X\..\Y\probe.exe reports <dir>\Y.
    ASSERT_TRUE(CreateDirectoryW((dir / L"X").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir / L"Y").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(ct::BinPath(L"common_probe.exe").c_str(), (dir / L"Y\\probe.exe").c_str(), FALSE));
    std::wstring started = dir / L"X\\..\\Y\\probe.exe";
    std::wstring out = dir / L"moduledir.txt";
    ASSERT_EQ(ct::Run(started, ct::Quote(started) + L" moduledir " + ct::Quote(out)), 0u);
    EXPECT_EQ(ct::ReadFileWide(out), dir / L"Y");
}

TEST_F(PathFs, AProgramPathThatDoesNotFitIsNoPathAtAll)
{
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_GT(n, 10u);
    EXPECT_EQ(GetModulePath(), std::wstring(self, n));
    EXPECT_EQ(GetModulePath(n + 1), std::wstring(self, n));
    // Cut short, the path would name a parent folder or another file.
    EXPECT_EQ(GetModulePath(n), L"");
    EXPECT_EQ(GetModulePath(10), L"");
    // GetModuleDir and the self-deletion take their path from here. (Wine
    // starts no program from a path of 260 characters or more, so no real
    // program is run from one.)
}

TEST_F(PathFs, CreateDirTreeCreatesMissingParentsOnly)
{
    std::wstring deep = dir / L"a\\b\\c";
    EXPECT_TRUE(CreateDirTree(deep));
    EXPECT_TRUE(ct::DirExists(deep));

    // An existing folder: nothing to create, and what it holds stays.
    ASSERT_TRUE(ct::WriteFileBytes(deep + L"\\keep.txt", "x"));
    EXPECT_TRUE(CreateDirTree(deep));
    EXPECT_TRUE(ct::FileExists(deep + L"\\keep.txt"));

    // A trailing backslash and the ANSI form with Chinese names.
    EXPECT_TRUE(CreateDirTree(dir / L"t\\u\\"));
    EXPECT_TRUE(ct::DirExists(dir / L"t\\u"));
    EXPECT_TRUE(CreateDirTree(ToNarrow(dir / L"中文\\子目录")));
    EXPECT_TRUE(ct::DirExists(dir / L"中文\\子目录"));

    // The updater's form (plain folder creation).
    EXPECT_TRUE(CreateDirTree(dir / L"p\\q", false));
    EXPECT_TRUE(ct::DirExists(dir / L"p\\q"));

    EXPECT_FALSE(CreateDirTree(std::wstring()));
}

TEST_F(PathFs, CreateDirTreeBelowAFileFails)
{
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"file", "x"));
    EXPECT_FALSE(CreateDirTree(dir / L"file\\sub\\deeper"));
    EXPECT_TRUE(ct::FileExists(dir / L"file"));
    EXPECT_FALSE(ct::DirExists(dir / L"file\\sub"));
}

TEST_F(PathFs, RemoveDirTreeDeletesEverything)
{
    ASSERT_TRUE(CreateDirTree(dir / L"r\\s\\t"));
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"r\\a.txt", "a"));
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"r\\s\\b.txt", "b"));
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"r\\s\\t\\中文.txt", "c"));
    ASSERT_TRUE(CreateDirTree(dir / L"r\\empty"));
    EXPECT_TRUE(RemoveDirTree(dir / L"r"));
    EXPECT_FALSE(ct::DirExists(dir / L"r"));
}

TEST_F(PathFs, RemoveDirTreeOfAMissingFolderFailsAndChangesNothing)
{
    ASSERT_TRUE(ct::WriteFileBytes(dir / L"sibling.txt", "x"));
    EXPECT_FALSE(RemoveDirTree(dir / L"missing"));
    EXPECT_TRUE(ct::FileExists(dir / L"sibling.txt"));
    EXPECT_TRUE(ct::DirExists(dir.Path()));
}

TEST_F(PathFs, RemoveDirTreeLeavesAnOpenFileAndItsFolderChain)
{
    ASSERT_TRUE(CreateDirTree(dir / L"r\\held\\deep"));
    ASSERT_TRUE(CreateDirTree(dir / L"r\\other"));
    const wchar_t* files[] = {L"r\\a.txt", L"r\\held\\b.txt", L"r\\held\\deep\\locked.txt", L"r\\other\\c.txt"};
    for (const wchar_t* f : files) {
        ASSERT_TRUE(ct::WriteFileBytes(dir / f, "data"));
    }
    // Open elsewhere without delete sharing, as a running program holds its files.
    HANDLE hLocked = CreateFileW((dir / L"r\\held\\deep\\locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hLocked, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(RemoveDirTree(dir / L"r"));
    EXPECT_TRUE(ct::FileExists(dir / L"r\\held\\deep\\locked.txt"));
    EXPECT_FALSE(ct::FileExists(dir / L"r\\a.txt"));
    EXPECT_FALSE(ct::FileExists(dir / L"r\\held\\b.txt"));
    EXPECT_FALSE(ct::DirExists(dir / L"r\\other"));
    CloseHandle(hLocked);

    EXPECT_TRUE(RemoveDirTree(dir / L"r"));
    EXPECT_FALSE(ct::DirExists(dir / L"r"));
}

// A junction or symbolic link inside a tree never leads the removal to its
// target. Wine cannot make one, so plain entries are marked as links where
// the walk reads their attributes; a marked folder's contents stand for the
// target seen through the link.
TEST_F(PathFs, RemoveDirTreeRemovesLinksAsLinksAndLeavesTheirTargets)
{
    const wchar_t* files[] = {L"r\\a.txt", L"r\\sub\\b.txt", L"r\\sub\\dirlink\\target.txt", L"r\\filelink.txt",
                              L"rootlink\\target.txt"};
    ASSERT_TRUE(CreateDirTree(dir / L"r\\sub\\dirlink"));
    ASSERT_TRUE(CreateDirTree(dir / L"r\\emptylink"));
    ASSERT_TRUE(CreateDirTree(dir / L"rootlink"));
    for (const wchar_t* f : files) {
        ASSERT_TRUE(ct::WriteFileBytes(dir / f, "data"));
    }
    FakeLinks links;
    for (const wchar_t* link : {L"r\\sub\\dirlink", L"r\\emptylink", L"r\\filelink.txt", L"rootlink"}) {
        links.Mark(dir / link);
    }

    EXPECT_TRUE(RemoveDirTree(dir / L"r"));
    EXPECT_EQ(ct::ReadFileBytes(dir / L"r\\sub\\dirlink\\target.txt"), "data") << "the walk went through a link";
    // The links themselves are removed (a folder link that is not empty here
    // only because Wine's stand-in holds its target's files).
    EXPECT_FALSE(ct::DirExists(dir / L"r\\emptylink"));
    EXPECT_FALSE(ct::FileExists(dir / L"r\\filelink.txt"));
    EXPECT_FALSE(ct::FileExists(dir / L"r\\a.txt"));
    EXPECT_FALSE(ct::FileExists(dir / L"r\\sub\\b.txt"));

    // The tree's root itself a link: only the link may go.
    EXPECT_TRUE(RemoveDirTree(dir / L"rootlink"));
    EXPECT_EQ(ct::ReadFileBytes(dir / L"rootlink\\target.txt"), "data");
}

TEST_F(PathFs, CreateDirTreeFindsExistingFoldersBeyond260Characters)
{
    std::wstring path = dir.Path();
    const std::wstring part(60, L'e');
    while (path.size() <= 300) {
        path += L"\\" + part;
        ASSERT_EQ(LongPathMkdir(path), 0);
    }
    const std::wstring deeper = path + L"\\" + part;

    // Windows finds no folder behind a plain path that long; the filter plays
    // that, since Wine does not.
    FakeLinks links;
    links.LimitPlainPaths(true);
    EXPECT_TRUE(CreateDirTree(deeper));
    EXPECT_EQ(LongPathExists(deeper), 0);
    size_t longQueries = 0;
    for (const std::wstring& q : links.Queries()) {
        if (q.size() >= MAX_PATH) {
            ++longQueries;
            EXPECT_EQ(q.compare(0, 4, L"\\\\?\\"), 0) << ToNarrow(q);
        }
    }
    EXPECT_GE(longQueries, 2u) << "the existing long prefixes were looked up";
    RemoveDirectoryW(LongPathForm(deeper).c_str());
    for (std::wstring p = path; p.size() > dir.Path().size(); p.resize(p.rfind(L'\\'))) {
        RemoveDirectoryW(LongPathForm(p).c_str());
    }
}

TEST_F(PathFs, LongPathsBeyond260CharactersWorkAndRelativePathsFail)
{
    std::wstring path = dir.Path();
    const std::wstring part(60, L'd');
    while (path.size() <= 300) {
        path += L"\\" + part;
        ASSERT_EQ(LongPathMkdir(path), 0) << path.size();
    }
    EXPECT_EQ(LongPathExists(path), 0);
    EXPECT_EQ(LongPathExists(path, 2), 0);  // writable
    EXPECT_EQ(LongPathExists(path + L"\\missing"), -1);
    EXPECT_EQ(LongPathMkdir(path), -1);      // exists already

    // CreateDirTree uses the same long-path form.
    std::wstring deeper = path + L"\\" + part + L"\\" + part;
    EXPECT_TRUE(CreateDirTree(deeper));
    EXPECT_EQ(LongPathExists(deeper), 0);

    // Relative paths fail even where they would resolve against the current folder.
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
    ASSERT_TRUE(CreateDirectoryW(L"rel", nullptr));
    EXPECT_EQ(LongPathExists(L"rel"), -1);
    EXPECT_EQ(LongPathExists(L"."), -1);
    EXPECT_EQ(LongPathMkdir(L"rel2"), -1);
    EXPECT_FALSE(ct::DirExists(dir / L"rel2"));
    SetCurrentDirectoryW(cwd);

    // RemoveDirTree does not use the long-path form; clear with long-path calls.
    for (std::wstring p = deeper; p.size() > dir.Path().size(); p.resize(p.rfind(L'\\'))) {
        RemoveDirectoryW((L"\\\\?\\" + p).c_str());
    }
}

}  // namespace
