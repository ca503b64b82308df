#include "app/conversion.h"

#include "app/pictureconfig.h"
#include "app/pictureindex.h"
#include "base/failure.h"
#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "winsys/platform.h"
#include "winsys/registry.h"

namespace pm {

// The entry's time plays no part: a file dated before 1980 or after 2107
// is still there, and its lines must not be lost.
bool FileExists(const std::string& path) {
    std::uint32_t attributes = 0;
    return plat::FindFirst(path, attributes) && !(attributes & plat::AttributeDirectory);
}

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

void RunConversion() {
    const std::string home = GetRegistryString(HomeKey, HomeValue);
    const std::string configurationPath = home + ConfigurationFileName;
    const std::string pictureFolder = home + "BMP\\";
    const std::string indexPath = pictureFolder + IndexFileName;

    if (!FileExists(indexPath)) {
        plat::MessageBox(TextIndexMissing, CaptionError, plat::MbOk | plat::MbIconError);
        return;
    }

    // Declared in this order so that the configuration list is freed first.
    LineList index;
    LineList configuration;
    // What the run may wait in all for files held a moment by another
    // program.
    Patience patience;
    RecoverInterruptedSave(configurationPath, patience);
    if (ConfigurationExists(configurationPath)) LoadConfiguration(configuration, configurationPath);
    PrepareConfiguration(configuration);
    index.ReadLines(indexPath);

    IndexReader reader(pictureFolder);
    PairMerger merge(configuration);
    const std::int32_t indexLines = index.LineCount();
    // Most index lines give one pair or more: room for one a line is made
    // at once.
    configuration.ExpectMerges(static_cast<std::size_t>(indexLines));
    for (std::int32_t i = 0; i < indexLines; ++i) reader.ForEachPair(index.LineView(i), merge);

    if (configuration.LineCount() < 1) {
        plat::MessageBox(TextNothingFound, CaptionError, plat::MbOk | plat::MbIconError);
        return;
    }
    SaveConfiguration(configuration, configurationPath, patience);
    plat::MessageBox(TextConverted, CaptionInformation, plat::MbOk | plat::MbIconInformation);
}

}  // namespace pm
