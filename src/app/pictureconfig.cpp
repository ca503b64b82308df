#include "app/pictureconfig.h"

#include "base/failure.h"
#include "winsys/platform.h"

namespace pm {
namespace {

// What a backup beside the file holds for the configuration.
enum class BackupLines { AllInTheFile, Added, Unreadable };

// Adds to the prepared configuration the lines of `backup` it lacks. A
// backup that cannot be read (no rights, held beyond the patience, too
// large) is left for a later run; the save goes on without its lines.
BackupLines AddBackupLines(LineList& configuration, const std::string& backup, Patience& patience) {
    LineList saved;
    try {
        saved.ReadLines(backup, patience);
    } catch (const EStreamError&) {
        return BackupLines::Unreadable;
    }
    return configuration.SortAndAddMissingLinesOf(saved) > 0 ? BackupLines::Added : BackupLines::AllInTheFile;
}

}  // namespace

void ConfigurationFile::Load(LineList& configuration) {
    lock_.Take(path_);
    Recovery recovery = RecoverInterruptedSave(path_, patience_);
    if (recovery.fileThere) configuration.ReadLines(path_, patience_);
    // Prepared before any backup is weighed, so that the file's own lines
    // stand exactly as a run without a backup leaves them; a backup's lines
    // are then only added. A leftover goes at once, so that the save has
    // its backup name.
    PrepareConfiguration(configuration);
    for (std::string& backup : recovery.backups) {
        switch (AddBackupLines(configuration, backup, patience_)) {
        case BackupLines::AllInTheFile: DiscardBackup(backup, patience_); break;
        case BackupLines::Added: backups_.push_back(std::move(backup)); break;
        case BackupLines::Unreadable: break;
        }
    }
}

void ConfigurationFile::Save(const LineList& configuration) {
    const std::string text = configuration.ComposeText();
    SaveTextFile(path_, text.data(), text.size(), patience_);
    for (const std::string& backup : backups_) DiscardBackup(backup, patience_);
    lock_.Release();
}

void PrepareConfiguration(LineList& configuration) {
    configuration.SortLines();
    configuration.SetSortedMode(true);
}

void PairMerger::operator()(std::string_view address, std::string_view picturePath) {
    line_.assign(address).append(1, '=').append(picturePath);
    configuration_.MergeLine(line_);
}

}  // namespace pm
