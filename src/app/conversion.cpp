#include "app/conversion.h"

#include "app/pictureconfig.h"
#include "app/pictureindex.h"
#include "base/failure.h"
#include "runtime/linelist.h"
#include "winsys/platform.h"
#include "winsys/registry.h"

namespace pm {

// The index is looked for by a search; the save asks of its names another
// way, on purpose (FileThere, in filesave.cpp, says why). The entry's time
// plays no part: a file dated before 1980 or after 2107 is still there.
bool FileExists(const std::string& path) {
    std::uint32_t attributes = 0;
    return plat::FindFirst(path, attributes) && !(attributes & plat::AttributeDirectory);
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
    // One patience for the whole run: files held a moment by a scanner.
    Patience patience;
    bool saved = false;
    {
        // The file is the run's alone from its loading to its saving; the
        // outcome box is shown after another run may have it.
        ConfigurationFile file(configurationPath, patience);
        file.Load(configuration);
        index.ReadLines(indexPath, patience);

        IndexReader reader(pictureFolder);
        PairMerger merge(configuration);
        const std::int32_t indexLines = index.LineCount();
        // Most index lines give one pair or more: room for one a line is
        // made at once.
        configuration.ExpectMerges(static_cast<std::size_t>(indexLines));
        for (std::int32_t i = 0; i < indexLines; ++i) reader.ForEachPair(index.LineView(i), merge);
        configuration.FinishMerges();

        saved = configuration.LineCount() >= 1;
        if (saved) file.Save(configuration);
    }
    if (!saved) {
        plat::MessageBox(TextNothingFound, CaptionError, plat::MbOk | plat::MbIconError);
        return;
    }
    plat::MessageBox(TextConverted, CaptionInformation, plat::MbOk | plat::MbIconInformation);
}

}  // namespace pm
