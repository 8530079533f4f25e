// The update lands whole or not at all. The package is unpacked and checked
// in a staging folder inside the "Update" folder (same volume) while the
// installation stays untouched; then the switch moves each replaced file
// aside into a backup folder and the new file into place, by renames, after a
// journal of every step has been flushed to disk. A failed step undoes the
// steps done, in reverse; a run that was killed is brought back to one whole
// state by Recover at the next start, from the journal.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CUpdateStage {
public:
    // installDir: the installation folder without trailing backslash.
    // hStop: an event that asks the unpacking and the switch to stop between
    // entries and steps (a switch stopped part-way is undone); may be null.
    explicit CUpdateStage(const std::wstring& installDir, HANDLE hStop = nullptr);
    CUpdateStage(const CUpdateStage&) = delete;
    CUpdateStage& operator=(const CUpdateStage&) = delete;

    // Brings an installation left by a killed run back to one whole state:
    // rolled back, or finished when the journal shows every file in place;
    // then removes a stale staging or backup folder. Logs what it did.
    // False when a journal remains that could not be carried out.
    bool Recover();

    // Checks the package against itself, the installation and the free
    // space, then unpacks it into the staging folder. Nothing in the
    // installation changes. Logs the entry or file that stopped it.
    bool Stage(const std::wstring& zipFile);

    // Moves the staged files into the installation; on a failed step the
    // installation is put back as it was. Stage must have succeeded.
    bool Switch();

    // After a switch: removes the backups, the staging folder and the journal.
    // After a failure: removes what staging left (never a journal still needed).
    void Finish();
    void Discard();

    // True while a journal says the installation may be between two states.
    bool HasJournal() const;

    // Names inside the "Update" folder.
    static const wchar_t kStagingFolder[];
    static const wchar_t kBackupFolder[];
    static const wchar_t kJournalFile[];

private:
    // kPlaceFolder moves a staged folder that the installation lacks into
    // place whole: one rename for everything below it. kBackup moves an
    // installed file aside, kPlace a staged file into place.
    enum StepKind { kPlaceFolder, kBackup, kPlace };
    struct Step {
        StepKind kind;
        std::wstring rel;  // relative to the installation, backslashes
    };

    bool PlanChecks(const std::wstring& zipFile, unsigned long long* needBytes);
    bool WriteJournal(const std::vector<Step>& steps);
    bool AppendJournalLine(const std::string& line);
    bool ReadJournal(std::vector<Step>* steps, bool* begun, bool* done) const;
    bool DoStep(const Step& step);
    // Undoes steps in reverse. Unless allDone (this run did each of them),
    // each undo looks at the files first, so steps that were journalled but
    // never done, or already undone, are skipped.
    bool Undo(const std::vector<Step>& steps, bool allDone);
    void RemoveLeftovers();
    bool StopRequested() const;

    std::wstring At(const std::wstring& rel) const;
    std::wstring Staged(const std::wstring& rel) const;
    std::wstring BackedUp(const std::wstring& rel) const;

    std::wstring m_strInstallDir;
    std::wstring m_strUpdateDir;
    std::wstring m_strStagingDir;
    std::wstring m_strBackupDir;
    std::wstring m_strJournal;
    HANDLE m_hStop;

    // Staged files (relative names) and the folders the package needs.
    std::vector<std::wstring> m_files;
    std::vector<std::wstring> m_folders;
};
