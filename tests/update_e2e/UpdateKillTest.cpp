// The updater ended at many points of its run, as a crash or a reset would
// end it: over and over during the unpacking into the staging folder, as the
// journal appears, and at spread-out files of the switch. Each time the next
// start, before its strip shows, leaves the installation wholly old or wholly
// new; the last run finishes it wholly new, with nothing left of staging,
// backups or journal. The moments are chosen by what the run has reached on
// disk, never by time.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "E2eSupport.h"
#include "Product.h"

using namespace e2e;

namespace {

constexpr int kFiles = 2000;  // make_packages.py, package "many"
constexpr int kKills = 24;
const wchar_t kInstallDir[] = L"C:\\KeloUpdateKill\\KeloPdfReader";

std::wstring PackageDir() { return ModuleDir() + L"\\update_packages\\many"; }
std::wstring UpdateDir() { return std::wstring(kInstallDir) + L"\\" + Product::kUpdateFolder; }
std::wstring FileRel(int i) {
    wchar_t rel[64];
    swprintf_s(rel, L"files\\d%02d\\f%04d.txt", i / 100, i);
    return rel;
}
std::string Content(const char* age, int i) {
    char text[32];
    sprintf_s(text, "%s %04d", age, i);
    return text;
}

// A file's bytes, read while sharing deletion: the updater may rename it away
// meanwhile, and a reader that forbade that would make its checks or its
// switch fail on the test's account.
std::string ReadShared(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) bytes.append(buf, n);
    CloseHandle(h);
    return bytes;
}

// The folder the package adds, and its files (make_packages.py).
const wchar_t* const kAddedFiles[] = {L"added\\a.txt", L"added\\sub\\b.txt", L"added\\sub\\c.txt"};

// "old", "new" or "mixed": what the installation's files hold; the folder
// the package adds belongs to the new state only.
std::string InstallationState() {
    int added = 0;
    for (const wchar_t* rel : kAddedFiles) {
        std::string expected = "added ";
        for (const wchar_t* c = rel; *c; ++c) expected += *c == L'\\' ? '/' : static_cast<char>(*c);
        if (ReadShared(std::wstring(kInstallDir) + L"\\" + rel) == expected) ++added;
    }
    const bool addedFolder = FileExists(std::wstring(kInstallDir) + L"\\added");
    int olds = 0, news = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string bytes = ReadShared(std::wstring(kInstallDir) + L"\\" + FileRel(i));
        if (bytes == Content("old", i)) ++olds;
        else if (bytes == Content("new", i)) ++news;
    }
    if (olds == kFiles && !addedFolder) return "old";
    if (news == kFiles && added == 3) return "new";
    return "mixed (" + std::to_string(olds) + " old, " + std::to_string(news) + " new, " + std::to_string(added) +
           " of 3 added files" + (addedFolder ? "" : ", no added folder") + ")";
}

void LayOutOldInstallation() {
    RemoveTree(kInstallDir);
    CreateDirectoryW(L"C:\\KeloUpdateKill", nullptr);
    CreateDirectoryW(kInstallDir, nullptr);
    CreateDirectoryW((std::wstring(kInstallDir) + L"\\files").c_str(), nullptr);
    for (int i = 0; i < kFiles; ++i) {
        if (i % 100 == 0) {
            wchar_t folder[32];
            swprintf_s(folder, L"\\files\\d%02d", i / 100);
            CreateDirectoryW((std::wstring(kInstallDir) + folder).c_str(), nullptr);
        }
        ASSERT_TRUE(WriteFileBytes(std::wstring(kInstallDir) + L"\\" + FileRel(i), Content("old", i)));
    }
}

void PlacePackage() {
    CreateDirectoryW(UpdateDir().c_str(), nullptr);
    for (const wchar_t* name : {Product::kUpdateZip, Product::kUpdateIni})
        ASSERT_TRUE(CopyFileW((PackageDir() + L"\\" + name).c_str(), (UpdateDir() + L"\\" + name).c_str(), FALSE));
}

// The updater from a folder of its own (it removes that folder after a
// successful run), elevated as the application starts it.
Process StartUpdater() {
    const std::wstring dir = NewTempDir(L"KeloUpdate_kill");
    for (const wchar_t* file : {Product::kUpdateExe, L"DuiLib.dll"})
        EXPECT_TRUE(CopyFileW((ModuleDir() + L"\\" + file).c_str(), (dir + L"\\" + file).c_str(), FALSE));
    return StartElevated(dir + L"\\" + Product::kUpdateExe, L"\"" + std::wstring(kInstallDir) + L"\"", dir);
}

// Starts the next updater and waits for its strip: its recovery has run by then.
Process StartAndWaitForStrip() {
    Process p = StartUpdater();
    EXPECT_TRUE(p.handle);
    EXPECT_TRUE(WaitForTopWindow(UpdateTitle().c_str(), 60000) != nullptr) << "no strip";
    return p;
}

// The end of the updater's log, for a run that did not get where it should.
std::string UpdateLogTail() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string log = ReadFileBytes(std::wstring(temp) + L"KeloPdfReader\\" + Product::kUpdateLog);
    return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
}

struct Moment {
    std::string what;
    std::function<bool()> reached;
};

// Spread-out moments of a run: during the unpacking, as the journal appears,
// at files along the switch, after the switch.
Moment MomentFor(int k) {
    const std::wstring staging = UpdateDir() + L"\\~staging\\";
    const std::wstring backup = UpdateDir() + L"\\~backup\\";
    const std::wstring journal = UpdateDir() + L"\\update.journal";
    if (k % 6 == 0) {
        const int i = (k * 331) % kFiles;
        return {"unpacking, file " + std::to_string(i), [=] { return FileExists(staging + FileRel(i)); }};
    }
    if (k % 6 == 1) return {"journal written", [=] { return FileExists(journal); }};
    if (k % 6 == 5) {
        return {"switch done", [=] {
                    return ReadShared(std::wstring(kInstallDir) + L"\\" + FileRel(kFiles - 1)) ==
                           Content("new", kFiles - 1);
                }};
    }
    const int i = (k * 389 + 17) % kFiles;
    return {"switch, file " + std::to_string(i), [=] { return FileExists(backup + FileRel(i)); }};
}

TEST(UpdateKill, EndedAnywhereTheNextStartLeavesItWholeAndTheLastFinishesIt) {
    ASSERT_TRUE(FileExists(PackageDir() + L"\\" + Product::kUpdateZip));
    LayOutOldInstallation();
    PlacePackage();
    Process p = StartAndWaitForStrip();
    int kills = 0;
    for (int k = 0; k < kKills; ++k) {
        const Moment moment = MomentFor(k);
        SCOPED_TRACE("kill " + std::to_string(k) + " at " + moment.what);
        ASSERT_TRUE(WaitFor(moment.reached, 120000, 2)) << "the run never reached the moment; update.log ends:\n"
                                                        << UpdateLogTail();
        ASSERT_TRUE(TerminateProcess(p.handle, 1));
        WaitForSingleObject(p.handle, 15000);
        CloseProcess(p);
        ++kills;
        Step("kill %d at %s: %s before the next start", k, moment.what.c_str(), InstallationState().c_str());

        // A run ended after it removed its package cannot go on: start over.
        if (!FileExists(UpdateDir() + L"\\" + Product::kUpdateZip)) {
            EXPECT_EQ(InstallationState(), "new");
            LayOutOldInstallation();
            PlacePackage();
        }
        p = StartAndWaitForStrip();
        const std::string state = InstallationState();
        EXPECT_TRUE(state == "old" || state == "new") << state;
        EXPECT_FALSE(FileExists(UpdateDir() + L"\\update.journal"));
        EXPECT_FALSE(DirExists(UpdateDir() + L"\\~backup"));
        EXPECT_FALSE(DirExists(UpdateDir() + L"\\~staging"));

        // Over an installation that is already new, a rolled-back and a
        // finished switch look alike: the next kills meet an old one again.
        // This run is ended while it still waits, before it touches a file.
        if (state == "new" && k + 1 < kKills) {
            ASSERT_TRUE(TerminateProcess(p.handle, 1));
            WaitForSingleObject(p.handle, 15000);
            CloseProcess(p);
            LayOutOldInstallation();
            PlacePackage();
            p = StartAndWaitForStrip();
        }
    }
    EXPECT_GE(kills, 20);

    // The last start is left to finish.
    EXPECT_NE(WaitExit(p, 180000), STILL_ACTIVE) << "the last run did not finish";
    CloseProcess(p);
    EXPECT_EQ(InstallationState(), "new");
    EXPECT_FALSE(DirExists(UpdateDir()));
    EXPECT_EQ(ReadHklmString(Product::kRegProductKey, Product::kValVersion), L"1002");
    RemoveTree(L"C:\\KeloUpdateKill");
}

}  // namespace
