// CZipManager: name rules, attributes, times, folders, encryption, lookups,
// roots and path limits, on archives made by make_fixtures.py.
#include <gtest/gtest.h>

#include "FakeLinks.h"
#include "ZipManager.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

class ZipExtract : public ::testing::Test {
protected:
    ZipExtract() : m_temp(L"kelo_zipmgr"), m_root(m_temp / L"root") {}

    // Opens a fixture and points the root at m_root.
    void OpenFixture(const std::wstring& name, const char* password = nullptr) {
        ASSERT_TRUE(m_zip.Open(Fixture(name).c_str(), password)) << Narrow(name);
        ASSERT_TRUE(m_zip.SetExtractRoot(m_root.c_str()));
    }
    std::wstring At(const std::wstring& rel) const { return m_root + L"\\" + rel; }

    TempFolder m_temp;
    std::wstring m_root;
    CZipManager m_zip;
};

FILETIME DosToUtc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

FILETIME FromUnix(long long t) {
    ULONGLONG v = (ULONGLONG)(t * 10000000LL + 116444736000000000LL);
    return FILETIME{(DWORD)v, (DWORD)(v >> 32)};
}

ULONGLONG Ticks(const FILETIME& ft) { return ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime; }

struct Times {
    FILETIME creation, access, write;
};

Times TimesOf(const std::wstring& path) {
    Times t = {};
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        GetFileTime(h, &t.creation, &t.access, &t.write);
        CloseHandle(h);
    }
    return t;
}

// ------------------------------------------------------------ name rules

struct NameCase {
    const wchar_t* stored;
    const wchar_t* safe;  // as GetItemName reports it
    const wchar_t* file;  // where it lands below the root
};

const NameCase kNameCases[] = {
    {L"C:\\Windows\\x.dll", L"Windows\\x.dll", L"Windows\\x.dll"},
    {L"\\a\\b.txt", L"a\\b.txt", L"a\\b.txt"},
    {L"a\\..\\b.txt", L"b.txt", L"b.txt"},
    {L"x/../y/../z.txt", L"z.txt", L"z.txt"},
    {L"/abs/unix.txt", L"abs/unix.txt", L"abs\\unix.txt"},
    {L"D:/drive/slash.txt", L"drive/slash.txt", L"drive\\slash.txt"},
    {L"p/..\\q.txt", L"q.txt", L"q.txt"},
    {L"deep\\..\\..\\dots\\..\\n.txt", L"n.txt", L"n.txt"},
    {L"sub/dir/file.txt", L"sub/dir/file.txt", L"sub\\dir\\file.txt"},
    {L"中文目录/说明.txt", L"中文目录/说明.txt", L"中文目录\\说明.txt"},
    {L"./dot/here.txt", L"./dot/here.txt", L"dot\\here.txt"},
    {L"a/b/../../../up.txt", L"up.txt", L"up.txt"},
};

TEST_F(ZipExtract, StoredNamesBecomeRelativeNamesBelowTheRoot) {
    OpenFixture(L"names.zip");
    int count = -1;
    ASSERT_TRUE(m_zip.GetItemCount(&count));
    ASSERT_EQ(count, (int)(sizeof(kNameCases) / sizeof(kNameCases[0])));
    for (int i = 0; i < count; ++i) {
        wchar_t name[MAX_PATH] = {};
        ASSERT_TRUE(m_zip.GetItemName(i, name));
        EXPECT_STREQ(name, kNameCases[i].safe) << "stored as " << Narrow(kNameCases[i].stored);
    }
    ASSERT_TRUE(m_zip.ExtractAll());
    EXPECT_EQ(GetZipLastResult(), UZ_OK);
    std::set<std::wstring> expected;
    for (const NameCase& c : kNameCases) {
        std::wstring file = c.file;
        expected.insert(file);
        for (size_t p = file.find(L'\\'); p != std::wstring::npos; p = file.find(L'\\', p + 1))
            expected.insert(file.substr(0, p + 1));
    }
    std::vector<std::wstring> tree = ListTree(m_root);
    EXPECT_EQ(std::set<std::wstring>(tree.begin(), tree.end()), expected);
}

TEST_F(ZipExtract, ExtractedContentMatchesTheStoredName) {
    // The content of each entry is "content of " + its stored name, in GBK.
    OpenFixture(L"names.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    for (const NameCase& c : kNameCases) {
        std::wstring expected = std::wstring(L"content of ") + c.stored;
        char gbk[MAX_PATH * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, expected.c_str(), -1, gbk, sizeof(gbk), nullptr, nullptr);
        EXPECT_EQ(ReadAll(At(c.file)), std::string(gbk)) << Narrow(c.file);
    }
}

// ------------------------------------------------------------ attributes and folders

TEST_F(ZipExtract, AttributesFollowTheHostSystem) {
    OpenFixture(L"attributes.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    // The archive bit is left out: Windows sets it on every file it creates.
    const DWORD kMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_DIRECTORY;
    struct {
        const wchar_t* file;
        DWORD attributes;
    } cases[] = {
        {L"dos_ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"dos_hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {L"dos_system.txt", FILE_ATTRIBUTE_SYSTEM},
        {L"unix_ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"unix_rw.txt", 0},
        {L"vfat_plain.txt", 0},
        {L"unix_dir", FILE_ATTRIBUTE_DIRECTORY},
        {L"dos_dir", FILE_ATTRIBUTE_DIRECTORY},
        {L"bare_dir", FILE_ATTRIBUTE_DIRECTORY},
    };
    for (const auto& c : cases) {
        DWORD a = GetFileAttributesW(At(c.file).c_str());
        ASSERT_NE(a, INVALID_FILE_ATTRIBUTES) << Narrow(c.file);
        EXPECT_EQ(a & kMask, c.attributes) << Narrow(c.file);
    }
}

TEST_F(ZipExtract, FolderOnlyArchiveYieldsOnlyFolders) {
    OpenFixture(L"folders.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    std::vector<std::wstring> expected = {L"other\\", L"top\\", L"top\\inner\\", L"top\\inner\\deepest\\"};
    EXPECT_EQ(ListTree(m_root), expected);
}

TEST_F(ZipExtract, ZeroEntriesIsASuccess) {
    for (const wchar_t* archive : {L"zero.zip", L"zero_comment.zip"}) {
        SCOPED_TRACE(Narrow(archive));
        OpenFixture(archive);
        int count = -1;
        ASSERT_TRUE(m_zip.GetItemCount(&count));
        EXPECT_EQ(count, 0);
        EXPECT_TRUE(m_zip.ExtractAll());
        EXPECT_EQ(GetZipLastResult(), UZ_OK);
        EXPECT_FALSE(m_zip.GetItemName(0, nullptr));
        EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
        wchar_t bare[MAX_PATH] = {};
        EXPECT_FALSE(m_zip.ExtractItemByName(L"x", bare));
        EXPECT_EQ(GetZipLastResult(), UZ_NOTFOUND);
    }
}

TEST_F(ZipExtract, UnixSymbolicLinkIsExtractedAsAPlainFile) {
    OpenFixture(L"symlink.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    DWORD a = GetFileAttributesW(At(L"link_to_windows").c_str());
    ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY), 0u);
    EXPECT_EQ(ReadAll(At(L"link_to_windows")), "C:/Windows");
}

// ------------------------------------------------------------ times

TEST_F(ZipExtract, DosTimeIsLocalAndUtTimesOverrideOnlyTheirFields) {
    OpenFixture(L"times.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    ULONGLONG dos = Ticks(DosToUtc(2020, 5, 17, 10, 20, 30));
    ULONGLONG w = Ticks(FromUnix(1262304000)), a = Ticks(FromUnix(1293840000));

    Times t = TimesOf(At(L"dos_only.txt"));
    EXPECT_EQ(Ticks(t.write), dos);
    EXPECT_EQ(Ticks(t.access), dos);

    t = TimesOf(At(L"ut_write.txt"));  // bit 0 alone: only the write time
    EXPECT_EQ(Ticks(t.write), w);
    EXPECT_EQ(Ticks(t.access), dos);

    t = TimesOf(At(L"ut_all.txt"));  // after an unknown block: all three
    EXPECT_EQ(Ticks(t.write), w);
    EXPECT_EQ(Ticks(t.access), a);

    t = TimesOf(At(L"ut_short.txt"));  // flags promise three, the block holds one
    EXPECT_EQ(Ticks(t.write), w);
    EXPECT_EQ(Ticks(t.access), dos);
}

// Creation times handed to the file system, in extraction order.
std::vector<ULONGLONG> g_creationTimesSet;

BOOL WINAPI RecordingTimeSetter(HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
    g_creationTimesSet.push_back(creation ? Ticks(*creation) : 0);
    return SetFileTime(file, creation, access, write);
}

TEST_F(ZipExtract, CreationTimeComesFromTheThirdUtField) {
    // Wine keeps no creation time on files, so the time is taken where the
    // extraction hands it to the file system.
    g_creationTimesSet.clear();
    const ZipFileTimeSetter previous = SetZipFileTimeSetter(RecordingTimeSetter);
    OpenFixture(L"times.zip");
    const BOOL extracted = m_zip.ExtractAll();
    SetZipFileTimeSetter(previous);
    ASSERT_TRUE(extracted);
    const ULONGLONG dos = Ticks(DosToUtc(2020, 5, 17, 10, 20, 30)), c = Ticks(FromUnix(1325376000));
    // dos_only, ut_write (bit 0 alone), ut_all (all three), ut_short (one time held).
    ASSERT_GE(g_creationTimesSet.size(), 4u);
    EXPECT_EQ(std::vector<ULONGLONG>(g_creationTimesSet.begin(), g_creationTimesSet.begin() + 4),
              (std::vector<ULONGLONG>{dos, dos, c, dos}));
}

TEST_F(ZipExtract, EmptyFileKeepsTheTimeOfExtraction) {
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    OpenFixture(L"times.zip");
    ASSERT_TRUE(m_zip.ExtractAll());
    std::wstring empty = At(L"empty.txt");
    ASSERT_TRUE(Exists(empty));
    EXPECT_EQ(ReadAll(empty), "");
    // Stored as 2001; the file shows the moment it was made (file systems round to 2 s at most).
    EXPECT_GE(Ticks(TimesOf(empty).write) + 20000000ULL, Ticks(before));
}

// ------------------------------------------------------------ encryption

struct PasswordCase {
    const wchar_t* archive;
    std::vector<const wchar_t*> files;
};

TEST_F(ZipExtract, EncryptedEntriesNeedTheRightPassword) {
    const PasswordCase cases[] = {
        {L"enc_infozip.zip", {L"plain.txt", L"random.bin"}},  // Info-ZIP: check byte from the time
        {L"enc_own.zip", {L"crc_check.txt", L"time_check.txt", L"clear.txt"}},
    };
    std::string text;
    for (int i = 0; i < 40; ++i) text += "KeloPdfReader update payload line\n";
    for (const PasswordCase& c : cases) {
        SCOPED_TRACE(Narrow(c.archive));
        RemoveTree(m_root);
        OpenFixture(c.archive, "secret");
        ASSERT_TRUE(m_zip.ExtractAll()) << std::hex << GetZipLastResult();
        for (const wchar_t* f : c.files) EXPECT_TRUE(Exists(At(f))) << Narrow(f);
        EXPECT_EQ(ReadAll(At(c.files[0])), text);

        for (const char* wrong : {"wrong", static_cast<const char*>(nullptr)}) {
            RemoveTree(m_root);
            OpenFixture(c.archive, wrong);
            EXPECT_FALSE(m_zip.ExtractAll());
            EXPECT_EQ(GetZipLastResult(), UZ_PASSWORD) << (wrong ? wrong : "no password");
            // Refused before its output file was created.
            EXPECT_FALSE(Exists(At(c.files[0])));
        }
    }
}

TEST_F(ZipExtract, RandomBinaryIsIntactAfterDecryption) {
    OpenFixture(L"enc_infozip.zip", "secret");
    ASSERT_TRUE(m_zip.ExtractAll());
    std::string data = ReadAll(At(L"random.bin"));
    ASSERT_EQ(data.size(), 3000u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ((unsigned char)data[i], (i * 7919 + 13) % 251) << i;
}

// ------------------------------------------------------------ lookups

TEST_F(ZipExtract, LookupsByIndexInAnyOrder) {
    OpenFixture(L"names.zip");
    const int order[] = {5, 2, 2, 11, 0, 10, 3};
    for (int i : order) {
        wchar_t name[MAX_PATH] = {};
        ASSERT_TRUE(m_zip.GetItemName(i, name)) << i;
        EXPECT_STREQ(name, kNameCases[i].safe) << i;
    }
    for (int bad : {-2, 12, 1000}) {
        wchar_t name[MAX_PATH] = {};
        EXPECT_FALSE(m_zip.GetItemName(bad, name)) << bad;
        EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
    }
    // Extraction after backward lookups still finds the right data.
    ASSERT_TRUE(m_zip.ExtractItem(8, L"out/f.txt"));
    EXPECT_EQ(ReadAll(At(L"out\\f.txt")), "content of sub/dir/file.txt");
    EXPECT_FALSE(m_zip.ExtractItem(-1, L"x.txt"));
    EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
}

TEST_F(ZipExtract, ExtractItemByNameIgnoresCaseAndUsesTheBareName) {
    OpenFixture(L"names.zip");
    wchar_t bare[MAX_PATH] = {};
    ASSERT_TRUE(m_zip.ExtractItemByName(L"SUB/Dir/FILE.txt", bare));
    EXPECT_STREQ(bare, L"FILE.txt");
    EXPECT_EQ(ReadAll(At(L"FILE.txt")), "content of sub/dir/file.txt");
    EXPECT_FALSE(Exists(At(L"sub")));

    ASSERT_TRUE(m_zip.ExtractItemByName(L"中文目录/说明.txt", bare));
    EXPECT_STREQ(bare, L"说明.txt");
    EXPECT_TRUE(Exists(At(L"说明.txt")));

    EXPECT_FALSE(m_zip.ExtractItemByName(L"no/such/entry.txt", bare));
    EXPECT_EQ(GetZipLastResult(), UZ_NOTFOUND);
    EXPECT_FALSE(m_zip.ExtractItemByName(nullptr, bare));
    // After a failed search the reader still works from where it was.
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(m_zip.GetItemName(0, name));
    EXPECT_STREQ(name, L"Windows\\x.dll");
}

TEST_F(ZipExtract, ManyEntriesAreCountedFromTheZip64Record) {
    OpenFixture(L"many.zip");
    int count = 0;
    ASSERT_TRUE(m_zip.GetItemCount(&count));
    EXPECT_EQ(count, 65538);
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(m_zip.GetItemName(65537, name));
    EXPECT_STREQ(name, L"m/last.txt");
    ASSERT_TRUE(m_zip.ExtractItem(65537, L"last.txt"));
    EXPECT_EQ(ReadAll(At(L"last.txt")), "the last entry");
    ASSERT_TRUE(m_zip.GetItemName(65536, name));
    EXPECT_STREQ(name, L"m/65536");
}

// ------------------------------------------------------------ open, roots, targets

TEST(ZipOpen, MissingArchiveLeavesNoHandle) {
    CZipManager zip;
    EXPECT_FALSE(zip.Open(L"C:\\no\\such\\archive.zip"));
    EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
    EXPECT_FALSE(zip.SetExtractRoot(nullptr));
    EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
    int count = 0;
    EXPECT_FALSE(zip.GetItemCount(&count));
    EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
    EXPECT_FALSE(zip.ExtractAll());
    EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
    EXPECT_FALSE(zip.Open(nullptr));
}

TEST(ZipOpen, ReopeningReplacesTheArchive) {
    CZipManager zip;
    ASSERT_TRUE(zip.Open(Fixture(L"names.zip").c_str()));
    ASSERT_TRUE(zip.Open(Fixture(L"folders.zip").c_str()));
    int count = 0;
    ASSERT_TRUE(zip.GetItemCount(&count));
    EXPECT_EQ(count, 4);
    EXPECT_FALSE(zip.Open(L"C:\\no\\such\\archive.zip"));
    EXPECT_FALSE(zip.GetItemCount(&count));  // the failed open closed the previous archive
}

TEST(ZipRoot, DefaultRootIsTheArchivePathWithoutExtension) {
    TempFolder temp(L"kelo_ziproot");
    std::wstring archive = temp / L"pkg.v2.zip";
    ASSERT_TRUE(CopyFileW(Fixture(L"folders.zip").c_str(), archive.c_str(), FALSE));
    CZipManager zip;
    ASSERT_TRUE(zip.Open(archive.c_str()));
    ASSERT_TRUE(zip.SetExtractRoot(nullptr));
    ASSERT_TRUE(zip.ExtractAll());
    EXPECT_TRUE(IsFolder(temp / L"pkg.v2\\top\\inner"));
}

TEST(ZipRoot, SeparatorIsAddedOnlyWhenMissing) {
    TempFolder temp(L"kelo_zipsep");
    for (const wchar_t* suffix : {L"", L"\\", L"/"}) {
        std::wstring root = temp / L"r" + suffix;
        CZipManager zip;
        ASSERT_TRUE(zip.Open(Fixture(L"names.zip").c_str()));
        ASSERT_TRUE(zip.SetExtractRoot(root.c_str()));
        ASSERT_TRUE(zip.ExtractItem(2, L"b.txt")) << Narrow(suffix);
        EXPECT_TRUE(Exists(temp / L"r\\b.txt")) << Narrow(suffix);
        EXPECT_FALSE(Exists(temp / L"rb.txt"));
        RemoveTree(temp / L"r");
    }
    CZipManager zip;
    ASSERT_TRUE(zip.Open(Fixture(L"names.zip").c_str()));
    EXPECT_FALSE(zip.SetExtractRoot(L""));
    EXPECT_EQ(GetZipLastResult(), UZ_ARGS);
}

TEST(ZipRoot, WithoutSetExtractRootTheCurrentFolderIsTheRoot) {
    TempFolder temp(L"kelo_zipcwd");
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.Path().c_str()));
    {
        CZipManager zip;
        ASSERT_TRUE(zip.Open(Fixture(L"names.zip").c_str()));
        EXPECT_TRUE(zip.ExtractItem(3, L"z.txt"));
    }
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(Exists(temp / L"z.txt"));
}

// Targets are relative to the root whatever the caller gives: an absolute
// target, and a drive-relative one ("C:x" is x in drive C's current folder),
// are refused, by index and by name.
TEST_F(ZipExtract, TargetsOutsideTheRootAreRefused) {
    OpenFixture(L"names.zip");
    const std::wstring elsewhere = m_temp / L"elsewhere";
    for (const std::wstring& target : {elsewhere + L"\\out.txt", std::wstring(L"C:evil.dll"),
                                       std::wstring(L"\\evil.dll"), std::wstring(L"C:..\\evil.dll")}) {
        EXPECT_FALSE(m_zip.ExtractItem(3, target.c_str())) << Narrow(target);
        EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
    }
    EXPECT_FALSE(Exists(elsewhere));

    // The current folder of drive C is this test's temporary folder.
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(m_temp.Path().c_str()));
    CZipManager zip;
    ASSERT_TRUE(zip.Open(Fixture(L"drive_relative.zip").c_str()));
    ASSERT_TRUE(zip.SetExtractRoot(m_root.c_str()));
    wchar_t bare[MAX_PATH] = {};
    EXPECT_FALSE(zip.ExtractItemByName(L"C:evil.dll", bare));
    EXPECT_FALSE(zip.ExtractItem(0, L"C:evil.dll"));
    SetCurrentDirectoryW(saved);
    EXPECT_FALSE(Exists(m_temp / L"evil.dll"));
    EXPECT_FALSE(Exists(L"C:\\evil.dll"));
    // Under its stripped name the entry lands below the root.
    EXPECT_TRUE(zip.ExtractAll());
    EXPECT_EQ(ReadAll(At(L"evil.dll")), "escaped!");
}

// Sizes kept in zip64 extra fields: the data is unpacked whole.
TEST_F(ZipExtract, Zip64EntriesAreUnpackedWhole) {
    OpenFixture(L"zip64.zip");
    ASSERT_TRUE(m_zip.ExtractAll()) << std::hex << GetZipLastResult();
    std::string text;
    for (int i = 0; i < 3 * 40; ++i) text += "KeloPdfReader update payload line\n";
    EXPECT_EQ(ReadAll(At(L"z64_deflated.txt")), text);
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b) bytes += (char)b;
    EXPECT_EQ(ReadAll(At(L"z64_stored.bin")), bytes);
}

TEST_F(ZipExtract, ReadOnlyFileIsNotReplaced) {
    OpenFixture(L"names.zip");
    CreateDirectoryW(m_root.c_str(), nullptr);
    ASSERT_TRUE(WriteAll(At(L"z.txt"), std::string("old")));
    ASSERT_TRUE(SetFileAttributesW(At(L"z.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(m_zip.ExtractItem(3, L"z.txt"));
    EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
    EXPECT_EQ(ReadAll(At(L"z.txt")), "old");
    // The whole archive is refused before its first file is written.
    EXPECT_FALSE(m_zip.ExtractAll());
    EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
    EXPECT_EQ(ListTree(m_root), std::vector<std::wstring>{L"z.txt"});
}

// The updater runs elevated over a folder a user may write to: a junction or
// symbolic link there would carry the package's files wherever it points.
// Wine cannot make one, so entries are marked as links where the extraction
// reads their attributes.
TEST_F(ZipExtract, ALinkOnTheWayOfTheExtractionRefusesItBeforeAnyChange) {
    OpenFixture(L"names.zip");
    const std::wstring cases[] = {L"", L"..", L"sub", L"sub\\dir", L"b.txt"};
    for (const std::wstring& rel : cases) {
        SCOPED_TRACE(Narrow(rel.empty() ? L"the root" : rel));
        RemoveTree(m_root);
        CreateDirectoryW(m_root.c_str(), nullptr);
        CreateDirectoryW(At(L"sub").c_str(), nullptr);
        CreateDirectoryW(At(L"sub\\dir").c_str(), nullptr);
        ASSERT_TRUE(WriteAll(At(L"b.txt"), std::string("old")));
        const std::vector<std::wstring> before = ListTree(m_root);
        FakeLinks links;
        links.Mark(rel.empty() ? m_root : rel == L".." ? m_temp.Path() : At(rel));

        EXPECT_FALSE(m_zip.ExtractAll());
        EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
        EXPECT_EQ(ListTree(m_root), before);
        EXPECT_EQ(ReadAll(At(L"b.txt")), "old");
    }
}

TEST_F(ZipExtract, ComposedPathsPastTheLimitAreRefused) {
    std::wstring name = L"sub/dir/file.txt";  // entry 8
    for (size_t extra : {0, 1}) {
        std::wstring root = m_temp.Path() + L"\\L" + std::to_wstring(extra);
        CreateDirectoryW(root.c_str(), nullptr);
        // Grow the root until root + "\" + name is 259 + extra characters.
        while (root.size() + 1 + name.size() < 259 + extra) {
            size_t missing = 259 + extra - (root.size() + 1 + name.size());
            size_t add = std::min<size_t>(60, missing);
            if (add == 1) {
                root += L"x";
                CreateDirectoryW(root.c_str(), nullptr);
                break;
            }
            root += L"\\" + std::wstring(add - 1, L'd');
            CreateDirectoryW(root.c_str(), nullptr);
        }
        ASSERT_EQ(root.size() + 1 + name.size(), 259 + extra);
        ASSERT_TRUE(IsFolder(root));
        CZipManager zip;
        ASSERT_TRUE(zip.Open(Fixture(L"names.zip").c_str()));
        ASSERT_TRUE(zip.SetExtractRoot(root.c_str()));
        if (extra == 0) {
            EXPECT_TRUE(zip.ExtractItem(8, name.c_str()));
            EXPECT_EQ(ReadAll(root + L"\\sub\\dir\\file.txt"), "content of sub/dir/file.txt");
        } else {
            EXPECT_FALSE(zip.ExtractItem(8, name.c_str()));
            EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
            EXPECT_TRUE(ListTree(root).empty());
        }
    }
}

}  // namespace
