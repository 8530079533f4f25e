#include "UpdateStage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "FileWalk.h"
#include "Log.h"
#include "Owners.h"
#include "PathUtils.h"
#include "Product.h"
#include "ZipManager.h"
#include "ZipNames.h"

using namespace zipnames;

const wchar_t CUpdateStage::kStagingFolder[] = L"~staging";
const wchar_t CUpdateStage::kBackupFolder[] = L"~backup";
const wchar_t CUpdateStage::kJournalFile[] = L"update.journal";

namespace {

const wchar_t kLogSource[] = L"UpdateStage";

#define STAGE_LOG(level, func, fmt, ...) \
    WriteLog((level), kLogSource, __LINE__, func, L"%s " fmt, func, ##__VA_ARGS__)

const char kJournalHeader[] = "KeloPdfReader update journal 1";
const char kJournalBegin[] = "begin";
const char kJournalDone[] = "done";

// Slack per file for the cluster it ends in, and for the journal and folders.
constexpr unsigned long long kPerFileSlack = 4096;
constexpr unsigned long long kFixedSlack = 1024 * 1024;

DWORD AttributesOf(const std::wstring& path) { return GetEntryAttributes(path); }
bool Exists(const std::wstring& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }
bool IsFolder(const std::wstring& path) { return EntryKindOf(AttributesOf(path)) == EntryKind::Folder; }

// Deletes an entry and everything below it, read-only files included. A link
// is removed as a link: the walk never goes where it points.
void DeleteEntry(const std::wstring& path, DWORD attributes) {
    switch (EntryKindOf(attributes)) {
    case EntryKind::Missing:
        return;
    case EntryKind::Link:
        RemoveLink(path, attributes);
        return;
    case EntryKind::Folder: {
        std::vector<FolderEntry> entries;
        if (ListFolder(path, entries))
            for (const FolderEntry& entry : entries) DeleteEntry(path + L"\\" + entry.name, entry.attributes);
        RemoveDirectoryW(path.c_str());
        return;
    }
    case EntryKind::File:
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        DeleteFileW(path.c_str());
        return;
    }
}

void DeleteTree(const std::wstring& path) { DeleteEntry(path, AttributesOf(path)); }

// Creates the folder and its missing parents below an existing base.
void MakeParents(const std::wstring& base, const std::wstring& rel) {
    size_t pos = 0;
    while ((pos = rel.find(L'\\', pos)) != std::wstring::npos) {
        CreateDirectoryW((base + L"\\" + rel.substr(0, pos)).c_str(), nullptr);
        ++pos;
    }
}

// A rename that makes the target's missing parents (below base) only when
// the plain rename finds none: the common case costs one call.
bool MoveWithParents(const std::wstring& from, const std::wstring& base, const std::wstring& rel) {
    const std::wstring to = base + L"\\" + rel;
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND) return false;
    MakeParents(base, rel);
    return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

std::string ToUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n);
    return out;
}

bool WriteAndFlush(HANDLE h, const std::string& data) {
    DWORD written = 0;
    return WriteFile(h, data.data(), (DWORD)data.size(), &written, nullptr) && written == data.size() &&
           FlushFileBuffers(h);
}

// Every parent folder of a relative name ("a\b\c" gives "a" and "a\b").
std::vector<std::wstring> ParentsOf(const std::wstring& rel) {
    std::vector<std::wstring> parents;
    size_t pos = 0;
    while ((pos = rel.find(L'\\', pos)) != std::wstring::npos) parents.push_back(rel.substr(0, pos++));
    return parents;
}

size_t Depth(const std::wstring& rel) { return (size_t)std::count(rel.begin(), rel.end(), L'\\'); }

}  // namespace

CUpdateStage::CUpdateStage(const std::wstring& installDir, HANDLE hStop)
    : m_strInstallDir(installDir),
      m_strUpdateDir(PathJoin(installDir, Product::kUpdateFolder)),
      m_strStagingDir(PathJoin(m_strUpdateDir, kStagingFolder)),
      m_strBackupDir(PathJoin(m_strUpdateDir, kBackupFolder)),
      m_strJournal(PathJoin(m_strUpdateDir, kJournalFile)),
      m_hStop(hStop) {}

bool CUpdateStage::StopRequested() const {
    return m_hStop != nullptr && WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0;
}

std::wstring CUpdateStage::At(const std::wstring& rel) const { return PathJoin(m_strInstallDir, rel); }
std::wstring CUpdateStage::Staged(const std::wstring& rel) const { return PathJoin(m_strStagingDir, rel); }
std::wstring CUpdateStage::BackedUp(const std::wstring& rel) const { return PathJoin(m_strBackupDir, rel); }

bool CUpdateStage::HasJournal() const { return Exists(m_strJournal); }

void CUpdateStage::RemoveLeftovers() {
    DeleteTree(m_strBackupDir);
    DeleteTree(m_strStagingDir);
}

// ------------------------------------------------------------------ checks and staging

bool CUpdateStage::PlanChecks(const std::wstring& zipFile, unsigned long long* needBytes) {
    const wchar_t* const func = L"CUpdateStage::Stage";
    CZipManager zip;
    int count = 0;
    if (!zip.Open(zipFile.c_str()) || !zip.GetItemCount(&count)) {
        STAGE_LOG(LOG_ERROR, func, L"升级包无法打开 strZipFile=[%s] code=[0x%08x]", zipFile.c_str(),
                  (unsigned)GetZipLastResult());
        return false;
    }
    // Our own working names inside "Update" are not for the package.
    std::vector<std::wstring> reserved;
    for (const wchar_t* name : {kStagingFolder, kBackupFolder, kJournalFile, Product::kUpdateZip})
        reserved.push_back(TargetKey(PathJoin(Product::kUpdateFolder, name)));

    std::map<std::wstring, std::wstring> files, folders;  // key -> relative name
    unsigned long long need = kFixedSlack;
    for (int i = 0; i < count; ++i) {
        ZipEntry entry;
        if (!zip.GetItemInfo(i, &entry)) {
            STAGE_LOG(LOG_ERROR, func, L"升级包条目无法读取 index=[%d] code=[0x%08x]", i,
                      (unsigned)GetZipLastResult());
            return false;
        }
        const std::wstring rel = NormalizeRelative(entry.szName);
        if (rel.empty() && entry.bFolder) continue;
        if (entry.bRefused || !IsPlainRelativePath(rel, entry.bFolder)) {
            STAGE_LOG(LOG_ERROR, func, L"升级包条目名称不可用 entry=[%s]", entry.szName);
            return false;
        }
        const std::wstring key = TargetKey(rel);
        for (const std::wstring& r : reserved) {
            if (key == r || key.compare(0, r.size() + 1, r + L"\\") == 0) {
                STAGE_LOG(LOG_ERROR, func, L"升级包条目占用升级目录的工作文件 entry=[%s]", entry.szName);
                return false;
            }
        }
        for (const std::wstring& parent : ParentsOf(rel)) folders.emplace(TargetKey(parent), parent);
        if (entry.bFolder) {
            folders.emplace(key, rel);
            continue;
        }
        if (!files.emplace(key, rel).second) {
            STAGE_LOG(LOG_ERROR, func, L"升级包两个条目写同一文件 entry=[%s]", entry.szName);
            return false;
        }
        need += entry.ullUncompressedSize + kPerFileSlack + (rel.size() + 8) * 6;
    }
    for (const auto& file : files) {
        if (folders.count(file.first)) {
            STAGE_LOG(LOG_ERROR, func, L"升级包条目既是文件又是目录 entry=[%s]", file.second.c_str());
            return false;
        }
    }

    // The installation: a file where a folder must go or the reverse, links,
    // and files that cannot be replaced.
    for (const auto& folder : folders) {
        DWORD a = AttributesOf(At(folder.second));
        if (a == INVALID_FILE_ATTRIBUTES) continue;
        if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            STAGE_LOG(LOG_ERROR, func, L"安装目录中已有同名文件或链接 folder=[%s]", folder.second.c_str());
            return false;
        }
    }
    for (const auto& file : files) {
        const std::wstring path = At(file.second);
        DWORD a = AttributesOf(path);
        if (a == INVALID_FILE_ATTRIBUTES) continue;
        if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
            STAGE_LOG(LOG_ERROR, func, L"安装目录中已有同名目录或链接 file=[%s]", file.second.c_str());
            return false;
        }
        if (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
            STAGE_LOG(LOG_ERROR, func, L"安装目录中的文件为只读、隐藏或系统文件 file=[%s] attributes=[0x%x]",
                      file.second.c_str(), (unsigned)a);
            return false;
        }
        // The switch renames the file away: that needs delete access, which
        // any program holding it open without sharing deletion denies.
        const AutoCloseHandle probe(CreateFileW(path.c_str(), DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            STAGE_LOG(LOG_ERROR, func, L"安装目录中的文件无法打开替换 file=[%s] error=[%u]", file.second.c_str(),
                      (unsigned)GetLastError());
            return false;
        }
    }

    m_files.clear();
    m_folders.clear();
    for (const auto& file : files) m_files.push_back(file.second);
    for (const auto& folder : folders) m_folders.push_back(folder.second);
    // Parents before their children.
    std::stable_sort(m_folders.begin(), m_folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return Depth(a) < Depth(b); });
    *needBytes = need;
    return true;
}

bool CUpdateStage::Stage(const std::wstring& zipFile) {
    const wchar_t* const func = L"CUpdateStage::Stage";
    if (HasJournal()) {
        STAGE_LOG(LOG_ERROR, func, L"上次升级的日志仍在，安装目录未恢复 journal=[%s]", m_strJournal.c_str());
        return false;
    }
    RemoveLeftovers();
    unsigned long long need = 0;
    if (!PlanChecks(zipFile, &need)) return false;

    ULARGE_INTEGER freeBytes = {};
    if (!GetDiskFreeSpaceExW(m_strUpdateDir.c_str(), &freeBytes, nullptr, nullptr) || freeBytes.QuadPart < need) {
        STAGE_LOG(LOG_ERROR, func, L"磁盘空间不足 free=[%s] need=[%s]", std::to_wstring(freeBytes.QuadPart).c_str(),
                  std::to_wstring(need).c_str());
        return false;
    }

    CreateDirectoryW(m_strStagingDir.c_str(), nullptr);
    CZipManager zip;
    int count = 0;
    bool ok = zip.Open(zipFile.c_str()) && zip.SetExtractRoot(m_strStagingDir.c_str()) && zip.GetItemCount(&count);
    for (int i = 0; ok && i < count; ++i) {
        if (StopRequested()) {
            // The next start removes what was staged; the program ends now.
            STAGE_LOG(LOG_INFO, func, L"解压时收到停止请求 index=[%d]", i);
            return false;
        }
        ZipEntry entry;
        ok = zip.GetItemInfo(i, &entry);
        const std::wstring rel = ok ? NormalizeRelative(entry.szName) : std::wstring();
        if (ok && !rel.empty()) ok = zip.ExtractItem(i, rel.c_str()) != FALSE;
        if (!ok) {
            STAGE_LOG(LOG_ERROR, func, L"解压条目失败 entry=[%s] code=[0x%08x]", entry.szName,
                      (unsigned)GetZipLastResult());
        }
    }
    if (!ok) DeleteTree(m_strStagingDir);
    return ok;
}

// ------------------------------------------------------------------ journal

bool CUpdateStage::WriteJournal(const std::vector<Step>& steps) {
    std::string text = std::string(kJournalHeader) + "\n";
    for (const Step& step : steps) {
        const char tag = step.kind == kPlaceFolder ? 'D' : step.kind == kBackup ? 'B' : 'P';
        text += tag;
        text += ' ';
        text += ToUtf8(step.rel);
        text += '\n';
    }
    text += std::string(kJournalBegin) + "\n";
    bool ok = false;
    {
        const AutoCloseHandle journal(CreateFileW(m_strJournal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!journal) return false;
        ok = WriteAndFlush(journal.Get(), text);
    }
    if (!ok) DeleteFileW(m_strJournal.c_str());
    return ok;
}

bool CUpdateStage::AppendJournalLine(const std::string& line) {
    const AutoCloseHandle journal(CreateFileW(m_strJournal.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    return journal && WriteAndFlush(journal.Get(), line + "\n");
}

bool CUpdateStage::ReadJournal(std::vector<Step>* steps, bool* begun, bool* done) const {
    steps->clear();
    *begun = *done = false;
    std::string text;
    {
        const AutoCloseHandle journal(
            CreateFileW(m_strJournal.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!journal) return false;
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(journal.Get(), buf, sizeof(buf), &n, nullptr) && n > 0) text.append(buf, n);
    }

    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line cut short was never acted on
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != kJournalHeader) return false;
            first = false;
        } else if (line == kJournalBegin) {
            *begun = true;
        } else if (line == kJournalDone) {
            *done = true;
        } else if (!*begun && line.size() > 2 && line[1] == ' ' && strchr("DBP", line[0]) != nullptr) {
            const StepKind kind = line[0] == 'D' ? kPlaceFolder : line[0] == 'B' ? kBackup : kPlace;
            const std::wstring rel = FromUtf8(line.substr(2));
            // Only names below the installation are acted on.
            if (!IsPlainRelativePath(rel, kind == kPlaceFolder)) return false;
            steps->push_back(Step{kind, rel});
        } else {
            return false;
        }
    }
    // Cut short before its header line (a run ended as it created the file):
    // nothing was moved on its account either.
    return true;
}

// ------------------------------------------------------------------ switch

bool CUpdateStage::DoStep(const Step& step) {
    switch (step.kind) {
    case kPlaceFolder:
        return MoveFileExW(Staged(step.rel).c_str(), At(step.rel).c_str(), 0) != FALSE;
    case kBackup:
        return MoveWithParents(At(step.rel), m_strBackupDir, step.rel);
    case kPlace:
        return MoveFileExW(Staged(step.rel).c_str(), At(step.rel).c_str(), 0) != FALSE;
    }
    return false;
}

bool CUpdateStage::Undo(const std::vector<Step>& steps, bool allDone) {
    const wchar_t* const func = L"CUpdateStage::Undo";
    bool ok = true;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        const Step& step = *it;
        const std::wstring path = At(step.rel);
        bool undone = true;
        switch (step.kind) {
        case kPlace:
            // Done when the staged file has gone into place.
            if (allDone || (!Exists(Staged(step.rel)) && Exists(path)))
                undone = MoveWithParents(path, m_strStagingDir, step.rel);
            break;
        case kBackup:
            if (allDone || Exists(BackedUp(step.rel)))
                undone = MoveFileExW(BackedUp(step.rel).c_str(), path.c_str(), 0) != FALSE;
            break;
        case kPlaceFolder:
            if (allDone || (!Exists(Staged(step.rel)) && IsFolder(path)))
                undone = MoveWithParents(path, m_strStagingDir, step.rel);
            break;
        }
        if (!undone) {
            STAGE_LOG(LOG_ERROR, func, L"回滚失败 file=[%s] error=[%u]", step.rel.c_str(), (unsigned)GetLastError());
            ok = false;
        }
    }
    return ok;
}

bool CUpdateStage::Switch() {
    const wchar_t* const func = L"CUpdateStage::Switch";
    std::vector<Step> steps;
    // A folder the installation lacks goes into place whole, with all that
    // the package puts below it (m_folders: parents before children).
    std::set<std::wstring> placedWhole;
    auto insidePlaced = [&placedWhole](const std::wstring& rel) {
        for (const std::wstring& parent : ParentsOf(rel))
            if (placedWhole.count(TargetKey(parent))) return true;
        return false;
    };
    for (const std::wstring& folder : m_folders) {
        if (insidePlaced(folder) || IsFolder(At(folder))) continue;
        steps.push_back(Step{kPlaceFolder, folder});
        placedWhole.insert(TargetKey(folder));
    }
    for (const std::wstring& file : m_files) {
        if (insidePlaced(file)) continue;
        if (Exists(At(file))) steps.push_back(Step{kBackup, file});
        steps.push_back(Step{kPlace, file});
    }
    CreateDirectoryW(m_strBackupDir.c_str(), nullptr);
    if (!WriteJournal(steps)) {
        STAGE_LOG(LOG_ERROR, func, L"升级日志无法写入 journal=[%s] error=[%u]", m_strJournal.c_str(),
                  (unsigned)GetLastError());
        return false;
    }
    size_t done = 0;
    bool stopped = false;
    for (; done < steps.size(); ++done) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        if (!DoStep(steps[done])) break;
    }
    if (done == steps.size() && AppendJournalLine(kJournalDone)) return true;

    if (stopped) {
        // Undone at once, so that the installation is whole when the program
        // ends; the next start removes the staging and backup folders.
        STAGE_LOG(LOG_INFO, func, L"替换文件时收到停止请求，回滚 steps=[%d/%d]", (int)done, (int)steps.size());
        if (Undo(std::vector<Step>(steps.begin(), steps.begin() + done), true)) DeleteFileW(m_strJournal.c_str());
        return false;
    }

    const std::wstring failed = done < steps.size() ? steps[done].rel : m_strJournal;
    STAGE_LOG(LOG_ERROR, func, L"替换文件失败，回滚 file=[%s] error=[%u]", failed.c_str(), (unsigned)GetLastError());
    // A rename that failed changed nothing: the steps before it are the ones done.
    if (Undo(std::vector<Step>(steps.begin(), steps.begin() + done), true)) {
        // The journal goes first: with every step undone it must not be
        // replayed against a staging folder that is being removed.
        DeleteFileW(m_strJournal.c_str());
        RemoveLeftovers();
    }
    return false;
}

void CUpdateStage::Finish() {
    RemoveLeftovers();
    DeleteFileW(m_strJournal.c_str());
}

void CUpdateStage::Discard() {
    if (!HasJournal()) RemoveLeftovers();
}

// ------------------------------------------------------------------ recovery

bool CUpdateStage::Recover() {
    const wchar_t* const func = L"CUpdateStage::Recover";
    if (!HasJournal()) {
        if (Exists(m_strStagingDir) || Exists(m_strBackupDir)) {
            STAGE_LOG(LOG_INFO, func, L"删除上次升级残留的暂存目录 folder=[%s]", m_strUpdateDir.c_str());
            RemoveLeftovers();
        }
        return true;
    }
    std::vector<Step> steps;
    bool begun = false, done = false;
    if (!ReadJournal(&steps, &begun, &done)) {
        // Not a journal this program wrote whole; nothing was moved on its account.
        STAGE_LOG(LOG_ERROR, func, L"升级日志无法读取 journal=[%s]", m_strJournal.c_str());
        if (begun) return false;
        DeleteFileW(m_strJournal.c_str());
        RemoveLeftovers();
        return true;
    }
    if (!begun) {
        STAGE_LOG(LOG_INFO, func, L"上次升级在替换文件前中断，安装未改变 journal=[%s]", m_strJournal.c_str());
        DeleteFileW(m_strJournal.c_str());
        RemoveLeftovers();
        return true;
    }
    if (done) {
        STAGE_LOG(LOG_INFO, func, L"上次升级的文件已全部替换，完成清理 journal=[%s] steps=[%d]", m_strJournal.c_str(),
                  (int)steps.size());
        Finish();
        return true;
    }
    STAGE_LOG(LOG_INFO, func, L"上次升级在替换文件时中断，回滚 journal=[%s] steps=[%d]", m_strJournal.c_str(),
              (int)steps.size());
    if (!Undo(steps, false)) {
        STAGE_LOG(LOG_ERROR, func, L"回滚未完成，保留升级日志 journal=[%s]", m_strJournal.c_str());
        return false;
    }
    DeleteFileW(m_strJournal.c_str());
    RemoveLeftovers();
    STAGE_LOG(LOG_INFO, func, L"回滚完成，安装恢复为升级前 folder=[%s]", m_strInstallDir.c_str());
    return true;
}
