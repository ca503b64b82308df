#include "app/pictureconfig.h"

#include "base/failure.h"
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
    Raise<EFOpenError>(FormatText("Cannot open file %s", path));
}

}  // namespace

void ConfigurationFile::Load(LineList& configuration) {
    RecoverInterruptedSave(path_, patience_);
    if (ConfigurationExists(path_)) configuration.ReadLines(path_);
    PrepareConfiguration(configuration);
}

void ConfigurationFile::Save(LineList& configuration) { configuration.WriteLines(path_, patience_); }

void PrepareConfiguration(LineList& configuration) {
    configuration.SortLines();
    configuration.SetSortedMode(true);
}

void PairMerger::operator()(std::string_view address, std::string_view picturePath) {
    line_.assign(address).append(1, '=').append(picturePath);
    configuration_.MergeLine(line_);
}

}  // namespace pm
