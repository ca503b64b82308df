#include "app/pictureconfig.h"

#include "base/failure.h"
#include "runtime/textset.h"
#include "winsys/platform.h"

namespace pm {
namespace {

// Where the folder cannot be searched (it may not be listed), the file
// itself is asked. Where even that cannot tell, the file might be there:
// taking it as missing would rewrite it from the index alone.
bool ConfigurationExists(const std::string& path) {
    std::uint32_t attributes = 0;
    if (plat::FindFirst(path, attributes)) return !(attributes & plat::AttributeDirectory);
    if (plat::NoSuchFile(plat::LastError())) return false;
    if (plat::GetFileAttributes(path, attributes)) return !(attributes & plat::AttributeDirectory);
    if (plat::NoSuchFile(plat::LastError())) return false;
    RaiseCannotOpen(path);
}

// Adds to the (unsorted) configuration the lines of `backup` that it does
// not hold byte for byte, each once; false where there were none.
bool KeepBackupLines(LineList& configuration, const std::string& backup, Patience& patience) {
    LineList saved;
    saved.ReadLines(backup, patience);
    TextSet present;
    const std::int32_t count = configuration.LineCount();
    present.Expect(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) present.Insert(configuration.LineView(i));
    bool added = false;
    for (std::int32_t i = 0; i < saved.LineCount(); ++i) {
        const std::string_view line = saved.LineView(i);
        if (present.Contains(line)) continue;
        present.Insert(configuration.LineView(configuration.AddLine(line)));
        added = true;
    }
    return added;
}

}  // namespace

void ConfigurationFile::Load(LineList& configuration) {
    std::vector<std::string> backups = RecoverInterruptedSave(path_, patience_);
    if (ConfigurationExists(path_)) configuration.ReadLines(path_, patience_);
    // A leftover goes at once, so that the save has its backup name.
    for (std::string& backup : backups) {
        if (KeepBackupLines(configuration, backup, patience_)) backups_.push_back(std::move(backup));
        else RemoveBackup(backup, patience_);
    }
    PrepareConfiguration(configuration);
}

void ConfigurationFile::Save(LineList& configuration) {
    const std::string text = configuration.ComposeText();
    SaveTextFile(path_, text.data(), text.size(), patience_);
    for (const std::string& backup : backups_) RemoveBackup(backup, patience_);
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
