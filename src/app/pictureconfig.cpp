#include "app/pictureconfig.h"

namespace pm {

void LoadConfiguration(LineList& configuration, const std::string& path) { configuration.ReadLines(path); }

void PrepareConfiguration(LineList& configuration) {
    configuration.SetDuplicatePolicy(DuplicatePolicy::Ignore);
    configuration.SortLines();
    configuration.SetSortedMode(true);
}

void PairMerger::operator()(std::string_view address, std::string_view picturePath) {
    line_.assign(address).append(1, '=').append(picturePath);
    configuration_.MergeLine(line_);
}

void SaveConfiguration(LineList& configuration, const std::string& path, Patience& patience) {
    configuration.WriteLines(path, patience);
}

}  // namespace pm
