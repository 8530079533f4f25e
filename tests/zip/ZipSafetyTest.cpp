// Nothing an archive holds gets written outside the extraction root, and no
// damaged archive crashes or hangs the extraction: a hostile corpus, a
// malformed corpus, truncations and a seeded mutation loop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "ZipManager.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

const DWORD kKnownCodes[] = {UZ_OK,      UZ_NOFILE, UZ_WRITE, UZ_NOTFOUND, UZ_CORRUPT,  UZ_READ,
                             UZ_PASSWORD, UZ_ARGS,  UZ_MODE,  UZ_NOTINITED, UZ_FLATE};

bool IsKnownCode(DWORD code) {
    for (DWORD c : kKnownCodes)
        if (c == code) return true;
    return false;
}

std::string Hex(DWORD code) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%08lx", (unsigned long)code);
    return buf;
}

std::string LoadFixture(const std::wstring& name) {
    std::string data = ReadAll(Fixture(name));
    EXPECT_NE(data, "<missing>") << Narrow(name);
    return data;
}

// Folders whose listing must not change: the sandbox around the root, the
// drive's top level and the Windows folder, where absolute names would land.
class Sandbox {
public:
    Sandbox() : m_temp(L"kelo_zipsafe") {
        m_root = m_temp / L"root";
        m_sentinel = m_temp / L"sentinel";
        m_archive = m_temp / L"pkg.zip";
        CreateDirectoryW(m_sentinel.c_str(), nullptr);
        WriteAll(m_archive, std::string());
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        m_watched = {L"C:\\", windows, std::wstring(windows) + L"\\system32"};
        for (const std::wstring& w : m_watched) m_before.push_back(ListNames(w));
    }

    const std::wstring& Root() const { return m_root; }
    const std::wstring& Archive() const { return m_archive; }

    // Cheap check after each run: the sandbox holds only root, sentinel and
    // the archive, and the sentinel stays empty.
    bool SandboxIntact(std::string* why) const {
        std::vector<std::wstring> names = ListNames(m_temp.Path());
        for (const std::wstring& n : names) {
            if (n != L"root" && n != L"sentinel" && n != L"pkg.zip") {
                *why = "new entry beside the root: " + Narrow(n);
                return false;
            }
        }
        if (!ListNames(m_sentinel).empty()) {
            *why = "sentinel folder written";
            return false;
        }
        return true;
    }

    void ExpectDriveUnchanged() const {
        for (size_t i = 0; i < m_watched.size(); ++i)
            EXPECT_EQ(ListNames(m_watched[i]), m_before[i]) << Narrow(m_watched[i]);
    }

    void ClearRoot() const { RemoveTree(m_root); }

private:
    TempFolder m_temp;
    std::wstring m_root, m_sentinel, m_archive;
    std::vector<std::wstring> m_watched;
    std::vector<std::vector<std::wstring>> m_before;
};

struct RunResult {
    BOOL opened = FALSE;
    BOOL extracted = FALSE;
    DWORD code = UZ_OK;
};

RunResult ExtractArchive(const std::wstring& archive, const std::wstring& root, const char* password = nullptr) {
    RunResult r;
    CZipManager zip;
    r.opened = zip.Open(archive.c_str(), password);
    if (r.opened && zip.SetExtractRoot(root.c_str())) r.extracted = zip.ExtractAll();
    r.code = GetZipLastResult();
    return r;
}

// ------------------------------------------------------------ hostile names

TEST(HostileArchives, AreRefusedBeforeAnythingIsWritten) {
    Sandbox box;
    std::vector<std::wstring> files = ListNames(Fixture(L"hostile"));
    ASSERT_GE(files.size(), 40u);
    files.push_back(L"..\\many_hostile.zip");
    for (const std::wstring& f : files) {
        SCOPED_TRACE(Narrow(f));
        RunResult r = ExtractArchive(Fixture(L"hostile\\" + f), box.Root());
        ASSERT_TRUE(r.opened);
        EXPECT_FALSE(r.extracted);
        EXPECT_EQ(Hex(r.code), Hex(UZ_NOFILE));
        // Not even the harmless entries ahead of the hostile one.
        EXPECT_TRUE(ListTree(box.Root()).empty());
        std::string why;
        EXPECT_TRUE(box.SandboxIntact(&why)) << why;
        box.ClearRoot();
    }
    box.ExpectDriveUnchanged();
    for (const wchar_t* p : {L"C:\\evil.txt", L"C:\\Windows\\evil.txt", L"C:\\users\\evil.txt"})
        EXPECT_FALSE(Exists(p)) << Narrow(p);
}

TEST(HostileArchives, SingleEntriesAreRefusedThroughEveryOperation) {
    Sandbox box;
    CZipManager zip;
    ASSERT_TRUE(zip.Open(Fixture(L"hostile\\dotdot_after_rule.zip").c_str()));
    ASSERT_TRUE(zip.SetExtractRoot(box.Root().c_str()));
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(zip.GetItemName(1, name));
    EXPECT_STREQ(name, L"..\\evil.txt");  // what the stripping rules leave
    EXPECT_FALSE(zip.ExtractItem(1, name));
    EXPECT_EQ(GetZipLastResult(), UZ_NOFILE);
    for (const wchar_t* target : {L"..\\x.txt", L"a/../../x.txt", L"NUL", L"x.txt:s", L"dir\\COM3.log", L"x. ",
                                  L"", L"sub\\"}) {
        EXPECT_FALSE(zip.ExtractItem(0, target)) << Narrow(target);
    }
    wchar_t bare[MAX_PATH] = {};
    EXPECT_FALSE(zip.ExtractItemByName(L"..\\evil.txt", bare));  // stored name: not found
    std::string why;
    EXPECT_TRUE(box.SandboxIntact(&why)) << why;
    EXPECT_TRUE(ListTree(box.Root()).empty());
    // A harmless target for a harmless entry still works.
    EXPECT_TRUE(zip.ExtractItem(0, L"ok\\good.txt"));
    EXPECT_EQ(ReadAll(box.Root() + L"\\ok\\good.txt"), "harmless");
}

// ------------------------------------------------------------ malformed archives

struct MalformedCase {
    const wchar_t* file;
    bool opens;
    DWORD code;          // last result after ExtractAll (or Open)
    bool writesNothing;  // refused in the first pass
};

const MalformedCase kMalformed[] = {
    {L"bad_crc.zip", true, UZ_FLATE, false},
    {L"local_method_differs.zip", true, UZ_CORRUPT, true},
    {L"local_size_differs.zip", true, UZ_CORRUPT, true},
    {L"local_name_length_differs.zip", true, UZ_CORRUPT, true},
    {L"usize_too_big.zip", true, UZ_FLATE, false},
    {L"usize_too_small.zip", true, UZ_FLATE, false},
    {L"csize_past_end.zip", true, UZ_FLATE, false},
    {L"stored_usize_too_big.zip", true, UZ_FLATE, false},
    {L"unsupported_method.zip", true, UZ_CORRUPT, true},
    {L"bzip2_method.zip", true, UZ_FLATE, true},
    {L"damaged_deflate.zip", true, UZ_FLATE, false},
    {L"bad_block_type.zip", true, UZ_FLATE, false},
    {L"encrypted_no_password.zip", true, UZ_PASSWORD, true},
    {L"count_lies.zip", true, UZ_CORRUPT, true},
    {L"count_differs.zip", false, UZ_NOFILE, true},
    {L"end_record_cut.zip", false, UZ_NOFILE, true},
    {L"cd_offset_past_end.zip", false, UZ_NOFILE, true},
    {L"not_a_zip.zip", false, UZ_NOFILE, true},
    {L"inflates_past_size.zip", true, UZ_FLATE, false},
    {L"zip64_claims_4gib.zip", true, UZ_FLATE, false},
    {L"empty_file.zip", false, UZ_NOFILE, true},
};

TEST(MalformedArchives, FailWithTheirCode) {
    Sandbox box;
    EXPECT_EQ(ListNames(Fixture(L"malformed")).size(), sizeof(kMalformed) / sizeof(kMalformed[0]));
    for (const MalformedCase& c : kMalformed) {
        SCOPED_TRACE(Narrow(c.file));
        RunResult r = ExtractArchive(Fixture(L"malformed\\") + c.file, box.Root());
        EXPECT_EQ(r.opened != FALSE, c.opens);
        EXPECT_FALSE(r.extracted);
        EXPECT_EQ(Hex(r.code), Hex(c.code));
        if (c.writesNothing) {
            EXPECT_TRUE(ListTree(box.Root()).empty());
        }
        std::string why;
        EXPECT_TRUE(box.SandboxIntact(&why)) << why;
        box.ClearRoot();
    }
    box.ExpectDriveUnchanged();
}

// ------------------------------------------------------------ truncations

// Offset of the central directory from the end record (no comment).
size_t CentralOffset(const std::string& zip) {
    const unsigned char* eocd = (const unsigned char*)zip.data() + zip.size() - 22;
    return eocd[16] | (eocd[17] << 8) | (eocd[18] << 16) | ((size_t)eocd[19] << 24);
}

TEST(TruncatedArchives, NeverSucceedAndStayInside) {
    Sandbox box;
    for (const wchar_t* name : {L"mutation_base.zip", L"names.zip", L"enc_own.zip"}) {
        SCOPED_TRACE(Narrow(name));
        std::string base = LoadFixture(name);
        ASSERT_GT(base.size(), 100u);
        TempFolder reference(L"kelo_zipref");
        ASSERT_TRUE(ExtractArchive(Fixture(name), reference.Path(), "secret").extracted);
        size_t cd = CentralOffset(base);
        std::string directory = base.substr(cd);
        for (size_t len = 0; len < base.size(); ++len) {
            // Cut anywhere.
            ASSERT_TRUE(WriteAll(box.Archive(), base.data(), len));
            RunResult r = ExtractArchive(box.Archive(), box.Root(), "secret");
            EXPECT_FALSE(r.extracted) << "cut at " << len;
            ASSERT_TRUE(IsKnownCode(r.code)) << Hex(r.code);
            // Entries cut short while the directory stays intact.
            if (len < cd) {
                std::string shortened = base.substr(0, len) + directory;
                size_t eocd = shortened.size() - 22;
                shortened[eocd + 16] = (char)(len & 0xFF);
                shortened[eocd + 17] = (char)((len >> 8) & 0xFF);
                shortened[eocd + 18] = (char)((len >> 16) & 0xFF);
                shortened[eocd + 19] = (char)((len >> 24) & 0xFF);
                ASSERT_TRUE(WriteAll(box.Archive(), shortened));
                r = ExtractArchive(box.Archive(), box.Root(), "secret");
                ASSERT_TRUE(IsKnownCode(r.code)) << Hex(r.code);
                // Success only where the cut took nothing the data needed
                // (the unused bits of a deflate stream's last byte): then
                // every file is exactly the original.
                if (r.extracted) {
                    for (const std::wstring& f : ListTree(reference.Path())) {
                        if (f.back() == L'\\') continue;
                        EXPECT_EQ(ReadAll(box.Root() + L"\\" + f), ReadAll(reference / f))
                            << "data cut at " << len << ": " << Narrow(f);
                    }
                }
            }
            std::string why;
            ASSERT_TRUE(box.SandboxIntact(&why)) << why << " at " << len;
        }
        box.ClearRoot();
    }
    box.ExpectDriveUnchanged();
}

// ------------------------------------------------------------ mutation loop

class SplitMix {
public:
    explicit SplitMix(unsigned long long seed) : m_state(seed) {}
    unsigned long long Next() {
        unsigned long long z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? (size_t)(Next() % n) : 0; }

private:
    unsigned long long m_state;
};

// Offsets of the zip signatures, where header fields are worth hitting.
std::vector<size_t> HeaderOffsets(const std::string& zip) {
    std::vector<size_t> out;
    for (size_t i = 0; i + 4 <= zip.size(); ++i)
        if (zip[i] == 'P' && zip[i + 1] == 'K' && (zip[i + 2] == 1 || zip[i + 2] == 3 || zip[i + 2] == 5))
            out.push_back(i);
    return out;
}

void Mutate(std::string& data, const std::vector<size_t>& headers, SplitMix& rng) {
    static const unsigned char kBytes[] = {0x00, 0xFF, 0x7F, 0x80, '.', '/', '\\', ':', 0x01, 'C'};
    static const unsigned kShorts[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x0100, 255, 256};
    static const unsigned long kLongs[] = {0, 1, 0x7FFFFFFFUL, 0x80000000UL, 0xFFFFFFFFUL, 0x04034B50UL, 16, 400};
    static const char* const kSplices[] = {"../", "..\\", "C:", "CON", ":", "\\\\?\\", "/", "..", "AUX.txt"};
    if (data.empty()) data.push_back('\0');
    size_t pos = (rng.Below(2) && !headers.empty()) ? headers[rng.Below(headers.size())] + rng.Below(46)
                                                    : rng.Below(data.size());
    if (pos >= data.size()) pos = data.size() - 1;
    switch (rng.Below(10)) {
    case 0:
        data[pos] ^= (char)(1 << rng.Below(8));
        break;
    case 1:
        data[pos] = (char)rng.Below(256);
        break;
    case 2:
        data[pos] = (char)kBytes[rng.Below(sizeof(kBytes))];
        break;
    case 3: {
        unsigned v = rng.Below(3) ? kShorts[rng.Below(8)] : (unsigned)rng.Below(65536);
        for (int i = 0; i < 2 && pos + i < data.size(); ++i) data[pos + i] = (char)(v >> (8 * i));
        break;
    }
    case 4: {
        unsigned long v = rng.Below(3) ? kLongs[rng.Below(8)] : (unsigned long)rng.Next();
        for (int i = 0; i < 4 && pos + i < data.size(); ++i) data[pos + i] = (char)(v >> (8 * i));
        break;
    }
    case 5:
        data.resize(rng.Below(data.size() + 1));
        break;
    case 6: {
        std::string chunk(1 + rng.Below(16), '\0');
        for (char& c : chunk) c = (char)rng.Below(256);
        data.insert(pos, chunk);
        break;
    }
    case 7:
        data.erase(pos, 1 + rng.Below(16));
        break;
    case 8: {
        const char* s = kSplices[rng.Below(sizeof(kSplices) / sizeof(kSplices[0]))];
        for (size_t i = 0; s[i] && pos + i < data.size(); ++i) data[pos + i] = s[i];
        break;
    }
    default: {
        size_t from = rng.Below(data.size()), len = 1 + rng.Below(32);
        std::string chunk = data.substr(from, len);
        data.replace(pos, std::min(chunk.size(), data.size() - pos), chunk);
        break;
    }
    }
}

// Ends the process with a report when one run takes far too long.
class HangWatch {
public:
    explicit HangWatch(const std::wstring& archive) : m_archive(archive) {
        m_thread = CreateThread(nullptr, 0, &HangWatch::Run, this, 0, nullptr);
    }
    ~HangWatch() {
        m_stop = true;
        if (m_thread) {
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
        }
    }
    void Started(int iteration) {
        m_iteration = iteration;
        m_tick = GetTickCount64();
    }

private:
    static DWORD WINAPI Run(LPVOID self) {
        static_cast<HangWatch*>(self)->Loop();
        return 0;
    }
    void Loop() {
        while (!m_stop) {
            Sleep(200);
            if (GetTickCount64() - m_tick > 60000) {
                fprintf(stderr, "mutation %d runs for more than 60 s: hang\n", m_iteration.load());
                const char* artifacts = getenv("KELO_ARTIFACTS");
                if (artifacts) {
                    std::string data = ReadAll(m_archive);
                    std::string path = std::string(artifacts) + "/zip_hang.zip";
                    FILE* f = fopen(path.c_str(), "wb");
                    if (f) {
                        fwrite(data.data(), 1, data.size(), f);
                        fclose(f);
                    }
                }
                fflush(stderr);
                ExitProcess(3);
            }
        }
    }
    std::wstring m_archive;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_iteration{0};
    std::atomic<ULONGLONG> m_tick{GetTickCount64()};
    HANDLE m_thread = nullptr;
};

TEST(MutatedArchives, SeededLoopNeverEscapesCrashesOrHangs) {
    const unsigned long long kSeed = 0x4B656C6F5A697031ULL;
    int iterations = 10000;
    if (const char* n = getenv("KELO_ZIP_MUTATIONS")) iterations = atoi(n);
    Sandbox box;
    const std::string base = LoadFixture(L"mutation_base.zip");
    ASSERT_FALSE(base.empty());
    const std::vector<size_t> headers = HeaderOffsets(base);
    ASSERT_EQ(headers.size(), 7u);  // 3 local, 3 central, 1 end record

    SplitMix rng(kSeed);
    std::map<DWORD, int> histogram;
    int extracted = 0;
    HangWatch watch(box.Archive());
    for (int i = 0; i < iterations; ++i) {
        watch.Started(i);
        std::string data = base;
        for (size_t m = 1 + rng.Below(4); m > 0; --m) Mutate(data, headers, rng);
        ASSERT_TRUE(WriteAll(box.Archive(), data));
        const std::vector<std::wstring> before = ListNames(box.Root());
        RunResult r = ExtractArchive(box.Archive(), box.Root(), (i % 7 == 0) ? "secret" : nullptr);
        // An archive refused at opening never reaches the extraction root.
        if (!r.opened) ASSERT_EQ(ListNames(box.Root()), before) << "mutation " << i;
        ASSERT_TRUE(IsKnownCode(r.code)) << "mutation " << i << ": " << Hex(r.code);
        ASSERT_EQ(r.extracted == TRUE, r.code == UZ_OK) << "mutation " << i;
        histogram[r.code]++;
        extracted += r.extracted ? 1 : 0;
        std::string why;
        ASSERT_TRUE(box.SandboxIntact(&why)) << "mutation " << i << ": " << why;
        if (i % 250 == 249) box.ClearRoot();
        if (i % 2000 == 1999) printf("%d mutations\n", i + 1);
    }
    box.ExpectDriveUnchanged();
    printf("seed 0x%llx, %d mutations:", kSeed, iterations);
    for (const auto& kv : histogram) printf(" %s=%d", Hex(kv.first).c_str(), kv.second);
    printf("\n");
    // The loop must reach the extraction, not just fail to open.
    EXPECT_GT(extracted, iterations / 20);
    EXPECT_GT(histogram[UZ_FLATE] + histogram[UZ_CORRUPT], iterations / 20);
}

}  // namespace
